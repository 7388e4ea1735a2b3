#include "erp/ErpTools.h"
#include "core/Characters.h"
#include "erp/WorkPaths.h"
#include "core/Globals.h"
#include "erp/ErpText.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

// A walk of the clients folder looks at no more than this many entries, so a
// huge folder cannot stall a tool call.
constexpr int kWalkLimit = 20000;

bool inRoot(const QString &path, const QString &root)
{
    return path == root || WorkPaths::inside(path, root);
}

QString relativeTo(const QString &path, const QString &root)
{
    return path.mid(root.endsWith(QLatin1Char('/')) ? root.size() : root.size() + 1);
}

// Visits the visible entries below `folder` (symbolic links are listed, never
// followed) until `visit` answers false or the limit is reached.
void walk(const QString &folder, const std::function<bool(const QFileInfo &)> &visit)
{
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    int count = 0;
    while (it.hasNext()) {
        it.next();
        if (++count > kWalkLimit)
            return;
        if (!visit(it.fileInfo()))
            return;
    }
}

// The entry's path with its links resolved, when that stays in the clients
// folder: a link that leads out is never offered as a client's file.
std::optional<QString> resolvedInRoot(const QFileInfo &entry, const QString &root)
{
    const QString path = WorkPaths::resolved(QDir::cleanPath(entry.absoluteFilePath()));
    if (!inRoot(path, root))
        return std::nullopt;
    return path;
}

// The newest of the entries that `keep` accepts; an entry replaces the choice
// only when strictly newer, so of equal dates the first listed wins.
std::optional<QString> newest(const QString &folder, const QString &root,
                              const std::function<bool(const QFileInfo &)> &keep)
{
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
    std::optional<QString> best;
    QDateTime bestTime;
    for (const QFileInfo &entry : entries) {
        static const QStringList kinds{QStringLiteral("json"), QStringLiteral("zip"), QStringLiteral("xlsx")};
        if (!kinds.contains(entry.suffix().toLower()) || !entry.fileName().toUpper().contains(QLatin1String("2B")))
            continue;
        if (!keep(entry))
            continue;
        const auto path = resolvedInRoot(entry, root);
        if (!path)
            continue;
        const QDateTime time = entry.lastModified();
        if (!best || (time.isValid() && (!bestTime.isValid() || time > bestTime))) {
            best = path;
            bestTime = time;
        }
    }
    return best;
}

} // namespace

ErpTools::ClientFolder ErpTools::clientFolder(const QString &name)
{
    return clientFolderIn(WorkPaths::root(), name);
}

ErpTools::ClientFolder ErpTools::clientFolderIn(const QString &root, const QString &name)
{
    const QString given = Characters::trimSpacesTabs(name);
    const QString wanted = given.toLower();
    if (wanted.isEmpty())
        return {};
    const QFileInfoList folders = QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &folder : folders)
        if (folder.fileName().toLower() == wanted)
            return {folder.absoluteFilePath(), QString()};
    QList<QFileInfo> fits;
    for (const QFileInfo &folder : folders) {
        const QString have = folder.fileName().toLower();
        if (wanted.startsWith(have) || have.startsWith(wanted))
            fits.append(folder);
    }
    if (fits.size() == 1)
        return {fits.first().absoluteFilePath(), QString()};
    if (fits.isEmpty())
        return {};
    // The listing order is the disk's, not the CA's: never let it choose.
    QStringList names;
    for (const QFileInfo &folder : fits)
        names.append(folder.fileName());
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    const QString last = names.takeLast();
    return {std::nullopt, QLatin1Char('\'') + given + QStringLiteral("' could be ") + names.join(QStringLiteral(", "))
                              + QStringLiteral(" or ") + last + QStringLiteral(" \u2014 say which.")};
}

std::optional<QString> ErpTools::clientHolding(const QString &path)
{
    const QString root = WorkPaths::root();
    const QString resolved = WorkPaths::resolved(WorkPaths::standard(path, root));
    if (!WorkPaths::inside(resolved, root))
        return std::nullopt;
    const QString first = relativeTo(resolved, root).section(QLatin1Char('/'), 0, 0);
    // A file lying directly in the clients folder belongs to no client.
    if (first.isEmpty() || first == relativeTo(resolved, root) || first.startsWith(QLatin1Char('.')))
        return std::nullopt;
    for (const QString &standard : ROOT_DIRS)
        if (standard.section(QLatin1Char('/'), 0, 0).compare(first, Qt::CaseInsensitive) == 0)
            return std::nullopt;
    return first;
}

std::optional<QString> ErpTools::inWork(const QString &path)
{
    const QString root = WorkPaths::root();
    const QString resolved = WorkPaths::resolved(WorkPaths::standard(path, root));
    if (!inRoot(resolved, root))
        return std::nullopt;
    return resolved;
}

ErpTools::Found ErpTools::locate(const QString &path)
{
    if (const auto there = inWork(path); there && QFileInfo::exists(*there))
        return {there, QString()};
    const QString name = QFileInfo(QDir::cleanPath(path)).fileName().toLower();
    if (name.isEmpty())
        return {};
    const QString root = WorkPaths::root();
    QList<QString> matches;
    walk(root, [&](const QFileInfo &entry) {
        if (entry.fileName().toLower() != name)
            return true;
        if (const auto resolved = resolvedInRoot(entry, root))
            matches.append(*resolved);
        return matches.size() < 6;
    });
    if (matches.size() == 1)
        return {matches.first(), QStringLiteral("(") + path + QStringLiteral(" was not there \u2014 used ")
                                     + relativeTo(matches.first(), root)
                                     + QStringLiteral(", the only file of that name in the clients folder.)\n")};
    if (matches.isEmpty())
        return {};
    QStringList relative;
    for (const QString &m : matches)
        relative.append(relativeTo(m, root));
    return {std::nullopt, QStringLiteral(" Files of that name: ") + relative.join(QStringLiteral("; "))
                              + QStringLiteral(" \u2014 call again with the right one.")};
}

std::optional<QString> ErpTools::find2b(const QString &folder, const QString &gstin, const QString &fp)
{
    const QString root = WorkPaths::root();
    if (auto own = newest(folder, root, [](const QFileInfo &entry) {
            return !entry.fileName().startsWith(QLatin1String("GSTR2B_recon_"));
        }))
        return own;
    // An empty GSTIN or period would let any 2B download of any client through.
    return newest(joinPath(root, QStringLiteral("01 Inbox")), root, [&](const QFileInfo &entry) {
        const QString name = entry.fileName();
        return (!gstin.isEmpty() && name.toUpper().contains(gstin)) || (!fp.isEmpty() && name.contains(fp));
    });
}

ErpTools::Found ErpTools::fileIn(const QString &client, const QString &words, const QString &found,
                                 const QString &none, const QString &several, const QString &pick)
{
    const QString root = WorkPaths::root();
    if (Characters::trimSpacesTabs(client).isEmpty())
        return {std::nullopt, QStringLiteral(" Name the client or the file.")};
    const ClientFolder named = clientFolder(client);
    if (!named.refusal.isEmpty())
        return {std::nullopt, QStringLiteral(" ") + named.refusal};
    const std::optional<QString> folder = named.path;
    if (!folder)
        return {std::nullopt, QStringLiteral(" No folder named ") + client + QStringLiteral(" in the clients folder.")};

    const QRegularExpression word(QStringLiteral("(^|[^a-z])(") + words + QStringLiteral(")([^a-z]|$)"),
                                  QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression ours(QStringLiteral("_(books|summary|register|recon_.*|tally)\\.[a-z]+$|^GSTR"),
                                         QRegularExpression::CaseInsensitiveOption);
    static const QStringList kinds{QStringLiteral("csv"), QStringLiteral("xlsx"), QStringLiteral("xls")};
    QStringList kept;
    walk(*folder, [&](const QFileInfo &entry) {
        if (entry.isDir() || !kinds.contains(entry.suffix().toLower()))
            return true;
        if (ours.match(entry.fileName()).hasMatch())
            return true;
        if (!word.match(relativeTo(entry.absoluteFilePath(), *folder)).hasMatch())
            return true;
        if (const auto resolved = resolvedInRoot(entry, root))
            kept.append(*resolved);
        return kept.size() < 9;
    });

    const QString label = QFileInfo(*folder).fileName();
    if (kept.size() == 1)
        return {kept.first(), QStringLiteral("(") + found + QStringLiteral(": ") + relativeTo(kept.first(), root)
                                  + QStringLiteral(".)\n")};
    if (kept.isEmpty()) {
        QString text = none;
        return {std::nullopt, QStringLiteral(" ") + text.replace(QLatin1String("%@"), label)};
    }
    QStringList relative;
    for (const QString &k : kept)
        relative.append(relativeTo(k, root));
    QString text = several;
    return {std::nullopt, QStringLiteral(" ") + text.replace(QLatin1String("%@"), label) + QStringLiteral(": ")
                              + relative.join(QStringLiteral("; ")) + QStringLiteral(" \u2014 call again with ") + pick
                              + QStringLiteral(" set to the one to use.")};
}

ErpTools::Found ErpTools::registerIn(const QString &client)
{
    return fileIn(client, QStringLiteral("purchase|purchases|register|pr|inward|expenses"),
                  QStringLiteral("Purchase register found in the client's folder"),
                  QStringLiteral("No purchase register (.csv/.xlsx) in %@/ \u2014 ask the CA for the purchase register export."),
                  QStringLiteral("Purchase registers in %@/"), QStringLiteral("books_file"));
}

ErpTools::Found ErpTools::statementIn(const QString &client)
{
    return fileIn(client,
                  QStringLiteral("bank|statement|stmt|acct|hdfc|icici|sbi|axis|kotak|pnb|bob|canara|union|idbi|"
                                 "indusind|yes|idfc|federal|rbl|au"),
                  QStringLiteral("Statement found in the client's folder"),
                  QStringLiteral("No bank statement (.csv/.xlsx/.xls) in %@/ \u2014 ask the CA for the net-banking download."),
                  QStringLiteral("Statements in %@/"), QStringLiteral("file"));
}
