#include "core/Workspace.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QFile>
#include <QFileInfo>

QString workspaceReadme()
{
    const QStringList lines{
        QStringLiteral("# Velto workspace"),
        QString(),
        QStringLiteral("00 Firm/       letterheads, templates, engagement letters, staff, SOPs"),
        QStringLiteral("01 Inbox/      drop unsorted client files here; ask Velto to file them"),
        QStringLiteral("02 Clients/    one folder per client -> FY yyyy-yy/ -> ") + AREAS.join(QLatin1Char(' ')),
        QStringLiteral("               Permanent/ holds PAN, COI, MOA-AOA, GST certificate, KYC"),
        QStringLiteral("03 Calendar/   weekly plans and deadline digests"),
        QStringLiteral("04 Research/   research notes with citations"),
        QStringLiteral("05 Archive/    closed years"),
        QString(),
        QStringLiteral("Velto writes its own output into a `_velto/` sub-folder with a date prefix."),
        QStringLiteral("Raw client files are never renamed or deleted."),
    };
    return lines.join(QLatin1Char('\n'));
}

namespace {

// Which text Velto last wrote as each clients folder's "AGENTS.md": the
// folder's path to the text's SHA-256, in hex.
QString rulesRecord()
{
    return joinPath(VELTO_HOME, QStringLiteral("workspace-rules.json"));
}

QString digest(const QByteArray &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
}

} // namespace

FirmRules placeFirmRules(const QString &root, const std::optional<QByteArray> &before)
{
    // Called from the main thread (a folder chosen) and from the sync's
    // background work: one at a time, so no update of the record is lost.
    static QMutex placing;
    const QMutexLocker hold(&placing);
    const std::optional<QByteArray> rules = Files::readAll(joinPath(VELTO_HOME, QStringLiteral("AGENTS.md")));
    if (!rules)
        return FirmRules::None;
    const QString folder = QDir::cleanPath(root);
    const QString target = joinPath(folder, QStringLiteral("AGENTS.md"));
    QJsonObject record = QJsonDocument::fromJson(Files::readAll(rulesRecord()).value_or(QByteArray())).object();
    const QString lastWritten = record.value(folder).toString();
    const auto remember = [&] {
        record.insert(folder, digest(*rules));
        Files::writeAtomic(rulesRecord(), QJsonDocument(record).toJson(QJsonDocument::Indented), 0644);
    };
    const QFileInfo there(target);
    if (there.exists() || there.isSymLink()) {
        // A link, a folder or anything else in its place is the CA's.
        const std::optional<QByteArray> current =
            there.isFile() && !there.isSymLink() ? Files::readAll(target) : std::nullopt;
        if (!current)
            return FirmRules::KeptEdited;
        if (*current == *rules) {
            if (lastWritten != digest(*rules))
                remember();
            return FirmRules::Current;
        }
        const bool ours = lastWritten.isEmpty() ? before && *current == *before : digest(*current) == lastWritten;
        if (!ours)
            return FirmRules::KeptEdited;
    }
    if (!Files::writeAtomic(target, *rules, 0644))
        return FirmRules::Failed;
    remember();
    return FirmRules::Written;
}

void buildStructure(const QString &root)
{
    for (const QString &dir : ROOT_DIRS)
        QDir().mkpath(joinPath(root, dir)); // a failure is ignored; the loop goes on

    placeFirmRules(root);

    const QString readme = joinPath(root, QStringLiteral("README-Velto.md"));
    if (!QFileInfo::exists(readme))
        Files::writeAtomic(readme, workspaceReadme().toUtf8(), 0644);
}

std::optional<QString> chooseWorkspace()
{
    const int answer = Dialogs::ask(Dialogs::Alert{
        QStringLiteral("Choose your clients folder"),
        QStringLiteral("Velto works inside one folder. It gets full access there and asks you first "
                       "before touching anything outside it.\n\nPick an existing folder, or let Velto "
                       "create \u201CVelto Clients\u201D in your home folder."),
        Dialogs::Style::Informational,
        {QStringLiteral("Choose Folder\u2026"), QStringLiteral("Create \u201CVelto Clients\u201D")},
    });

    QString folder;
    if (answer == 0) {
        auto picked = Dialogs::openFolder(Dialogs::FolderPanel{
            QStringLiteral("Use This Folder"),
            QStringLiteral("Velto will keep all client work inside this folder."),
            HOME,
            true,
        });
        if (!picked || picked->isEmpty())
            return std::nullopt;
        folder = QDir::cleanPath(*picked);
    } else {
        folder = joinPath(HOME, QStringLiteral("Velto Clients"));
    }

    QDir().mkpath(folder);
    buildStructure(folder);
    writeSecret(WORK_ENV, QStringLiteral("VELTO_WORK=\"") + folder + QStringLiteral("\"\n"));
    return folder;
}
