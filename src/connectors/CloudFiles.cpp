// The three cloud file tools. Walks and copies run off the main thread; the
// answer comes back on it.
#include "connectors/CloudFiles.h"
#include "core/Characters.h"
#include "connectors/ConnectorText.h"
#include "core/JsonFields.h"
#include "erp/ErpTools.h"
#include "erp/WorkPaths.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <filesystem>
#include <system_error>

using ConnectorText::descriptor;
using ConnectorText::pretty;
using ConnectorText::property;

namespace {

const QString kDrives = QStringLiteral("cloud_drives");
const QString kSearch = QStringLiteral("cloud_search");
const QString kFetch = QStringLiteral("cloud_fetch");

const QString kNoCloud = QStringLiteral(
    "No cloud folder is set up on this computer. Velto looks in the home folder for the folders the Linux sync apps "
    "make: Dropbox (and team folders such as \"Dropbox (Team)\"), OneDrive (and \"OneDrive - Organisation\"), Google "
    "Drive and OneDrive through Insync, Nextcloud and pCloud. Velto reads them as folders \u2014 it does not sign in "
    "to anything itself.");

// Runs the work off the main thread and answers on it.
void inBackground(std::function<QPair<QString, bool>()> work, Tool::Done done)
{
    Dispatch::runInBackground([work = std::move(work), done = std::move(done)] {
        const QPair<QString, bool> answer = work();
        Dispatch::onMain([answer, done] { done(answer.first, answer.second); });
    });
}

void drives(const Tool::Done &done)
{
    const QStringList roots = CloudFiles::roots();
    if (roots.isEmpty()) {
        done(kNoCloud, true);
        return;
    }
    QJsonArray out;
    for (const QString &root : roots) {
        const CloudFiles::Label label = CloudFiles::label(root);
        QJsonObject drive{{QStringLiteral("drive"), label.service}, {QStringLiteral("path"), root}};
        if (!label.account.isEmpty())
            drive.insert(QStringLiteral("account"), label.account);
        out.append(drive);
    }
    done(pretty(QJsonObject{{QStringLiteral("drives"), out}, {QStringLiteral("count"), out.size()}}), false);
}

struct Search {
    QString query;                     // trimmed, lower case
    QStringList words;                 // the query's words, composed
    std::optional<QString> drive;      // lower case
    std::optional<QString> extension;  // lower case, without dots and spaces at the ends
    qint64 limit = 40;
};

QString stripDotsAndSpaces(const QString &s)
{
    qsizetype from = 0, to = s.size();
    auto strip = [](QChar c) { return c == QLatin1Char('.') || c == QLatin1Char(' '); };
    while (from < to && strip(s[from]))
        ++from;
    while (to > from && strip(s[to - 1]))
        --to;
    return s.mid(from, to - from);
}

bool matches(const QFileInfo &entry, const QString &root, const Search &s)
{
    const QString suffix = entry.suffix().toLower();
    if (s.extension) {
        if (!s.extension->isEmpty() && suffix != *s.extension)
            return false;
    } else if (!CloudFiles::interesting.contains(suffix)) {
        return false;
    }
    // Words match anywhere below the root, folder names on the way included;
    // composed and decomposed accents count as the same letter.
    const QString below = entry.filePath().mid(root.size()).toLower().normalized(QString::NormalizationForm_C);
    return std::all_of(s.words.begin(), s.words.end(), [&](const QString &w) { return below.contains(w); });
}

QPair<QString, bool> runSearch(const Search &s, const QStringList &roots)
{
    QJsonArray found;
    for (const QString &root : roots) {
        const CloudFiles::Label label = CloudFiles::label(root);
        if (s.drive && !label.service.toLower().contains(*s.drive) && !label.account.toLower().contains(*s.drive))
            continue;
        // Hidden entries are neither listed nor entered; links are listed, never followed.
        QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            if (found.size() >= s.limit)
                break;
            it.next();
            const QFileInfo entry = it.fileInfo();
            if (entry.isDir() || !matches(entry, root, s))
                continue;
            QJsonObject file{{QStringLiteral("path"), entry.filePath()},
                             {QStringLiteral("name"), entry.fileName()},
                             {QStringLiteral("drive"), label.service}};
            if (entry.exists()) {
                file.insert(QStringLiteral("bytes"), entry.size());
                const QDateTime modified = entry.lastModified();
                if (modified.isValid())
                    file.insert(QStringLiteral("modified"), modified.toUTC().toString(Qt::ISODate));
            }
            found.append(file);
        }
        if (found.size() >= s.limit)
            break;
    }
    if (found.isEmpty())
        return {QStringLiteral("Nothing in the cloud folders matches \"") + s.query +
                    QStringLiteral("\". Try fewer words, or cloud_drives to see what is synced."),
                false};
    return {pretty(QJsonObject{{QStringLiteral("files"), found}, {QStringLiteral("count"), found.size()}}), false};
}

void search(const QJsonObject &args, const Tool::Done &done)
{
    Search s;
    s.query = Characters::trimSpacesTabs(JsonFields::text(args, "query").value_or(QString())).toLower();
    if (s.query.isEmpty()) {
        done(QStringLiteral("query is required."), true);
        return;
    }
    const QStringList roots = CloudFiles::roots();
    if (roots.isEmpty()) {
        done(kNoCloud, true);
        return;
    }
    if (const std::optional<QString> drive = JsonFields::text(args, "drive"))
        s.drive = drive->toLower();
    if (const std::optional<QString> extension = JsonFields::text(args, "extension"))
        s.extension = stripDotsAndSpaces(extension->toLower());
    if (const std::optional<qint64> limit = JsonFields::integer(args, "limit"))
        s.limit = std::clamp<qint64>(*limit, 1, 200);
    for (const QString &word : s.query.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        s.words.append(word.normalized(QString::NormalizationForm_C));
    inBackground([s, roots] { return runSearch(s, roots); }, done);
}

// Copies a file, or a folder whole, never over anything. Links inside a
// copied folder are left behind: they could lead anywhere on this computer;
// so are pipes, sockets and devices, whose reading could wait for ever.
QString copyInto(const QString &source, const QString &target)
{
    if (!QFileInfo(source).isDir()) {
        QFile file(source);
        return file.copy(target) ? QString() : file.errorString();
    }
    std::error_code error;
    if (!std::filesystem::create_directory(target.toStdString(), error) || error)
        return error ? QString::fromStdString(error.message()) : QStringLiteral("Destination file exists");
    QDirIterator it(source, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        if (entry.isSymLink())
            continue;
        const QString to = target + entry.filePath().mid(source.size());
        if (entry.isDir()) {
            if (!QDir().mkdir(to))
                return QStringLiteral("could not make ") + to;
        } else if (entry.isFile()) {
            QFile file(entry.filePath());
            if (!file.copy(to))
                return file.errorString();
        }
    }
    return QString();
}

void fetch(const QJsonObject &args, const Tool::Done &done)
{
    const QString path = Characters::trimSpacesTabs(JsonFields::text(args, "path").value_or(QString()));
    if (path.isEmpty()) {
        done(QStringLiteral("path is required."), true);
        return;
    }
    const QString client = Characters::trimSpacesTabs(JsonFields::text(args, "client").value_or(QString()));
    if (client.isEmpty()) {
        done(QStringLiteral("client is required: say whose folder the file belongs in."), true);
        return;
    }
    const QString source = WorkPaths::resolved(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    const QStringList roots = CloudFiles::roots();
    const bool inCloud = std::any_of(roots.begin(), roots.end(), [&](const QString &root) {
        return WorkPaths::inside(source, WorkPaths::rootOf(root));
    });
    if (!inCloud) {
        done(QStringLiteral("That path is not inside a synced cloud folder. cloud_search returns paths this tool will "
                            "take."),
             true);
        return;
    }
    if (!QFileInfo::exists(source)) {
        done(QStringLiteral("There is no file at ") + source + QStringLiteral(" any more."), true);
        return;
    }
    if (const QFileInfo kind(source); !kind.isFile() && !kind.isDir()) {
        done(QStringLiteral("That is not a file or a folder (a pipe, a socket or a device), so nothing was copied."),
             true);
        return;
    }
    // The clients folder is read once: the client's folder is found in it and
    // the copy must stay inside it.
    const QString workRoot = WorkPaths::rootOf(CloudFiles::workspace());
    const ErpTools::ClientFolder named = ErpTools::clientFolderIn(workRoot, client);
    if (!named.refusal.isEmpty()) {
        done(named.refusal + QStringLiteral(" Nothing was copied."), true);
        return;
    }
    const std::optional<QString> folder = named.path;
    if (!folder) {
        done(QStringLiteral("No folder for ") + client +
                 QStringLiteral(" in the workspace. Use the client's folder name as it is on disk."),
             true);
        return;
    }
    QString destination = *folder;
    const QString subfolder = Characters::trimSpacesTabs(JsonFields::text(args, "subfolder").value_or(QString()));
    if (!subfolder.isEmpty()) {
        if (subfolder.contains(QLatin1String(".."))) {
            done(QStringLiteral("subfolder cannot climb out of the client folder."), true);
            return;
        }
        destination = QDir::cleanPath(destination + QLatin1Char('/') + subfolder);
    }
    // The copy lands in the clients folder only: a client folder or a
    // subfolder that is a link leading elsewhere is refused.
    auto leavesWork = [&] { return !WorkPaths::inside(WorkPaths::resolved(destination), workRoot); };
    const QString leaves = QStringLiteral("The folder for ") + client +
                           QStringLiteral(" leads outside the clients folder, so nothing was copied.");
    if (leavesWork()) {
        done(leaves, true);
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(destination.toStdString(), error);
    if (error || !QFileInfo(destination).isDir()) {
        done(QStringLiteral("Could not make ") + destination + QStringLiteral(": ") +
                 (error ? QString::fromStdString(error.message()) : QStringLiteral("it is not a folder")),
             true);
        return;
    }
    if (leavesWork()) {
        done(leaves, true);
        return;
    }
    destination = WorkPaths::resolved(destination);
    const QString target = Files::freeName(destination, QFileInfo(source).fileName());
    inBackground(
        [source, target]() -> QPair<QString, bool> {
            const QString failure = copyInto(source, target);
            if (!failure.isEmpty())
                return {QStringLiteral("Could not copy it: ") + failure + QLatin1Char('.'), true};
            const QFileInfo copy(target);
            return {pretty(QJsonObject{
                        {QStringLiteral("copied_to"), target},
                        {QStringLiteral("bytes"), copy.exists() ? copy.size() : qint64(0)},
                        {QStringLiteral("note"),
                         QStringLiteral("Copied, not moved \u2014 the cloud folder still has the original.")}}),
                    false};
        },
        done);
}

} // namespace

QSet<QString> CloudFiles::names()
{
    return {kDrives, kSearch, kFetch};
}

QJsonArray CloudFiles::definitions(Tool::Obj obj)
{
    const QString str = QStringLiteral("string");
    return QJsonArray{
        descriptor(kDrives,
             QStringLiteral("The cloud folders synced to this computer \u2014 Dropbox, OneDrive, Google Drive through "
                            "Insync, Nextcloud, pCloud \u2014 with the team, organisation or account each belongs to. "
                            "Call this before cloud_search so you know what the CA actually has."),
             obj({}, {})),
        descriptor(kSearch,
             QStringLiteral("Find a client's documents in those cloud folders by name: 2B, Form 16, a GSTIN, an invoice "
                            "number. Returns the path, size and when it changed. Use it before asking a client for a "
                            "document they may already have shared."),
             obj(QJsonObject{
                     {QStringLiteral("query"),
                      property(str, QStringLiteral("part of a file or folder name, e.g. GSTR2B 24AAQFK or 'Form 16'"))},
                     {QStringLiteral("drive"), property(str, QStringLiteral("narrow to one drive as cloud_drives names it"))},
                     {QStringLiteral("extension"), property(str, QStringLiteral("e.g. pdf, csv, xlsx"))},
                     {QStringLiteral("limit"), property(QStringLiteral("integer"), QStringLiteral("default 40, up to 200"))},
                 },
                 {QStringLiteral("query")})),
        descriptor(kFetch,
             QStringLiteral("Copy one file from a cloud folder into the client's folder in the Velto workspace, so the "
                            "rest of the job can work on it. Never overwrites: an existing file of the same name gets a "
                            "numbered copy."),
             obj(QJsonObject{
                     {QStringLiteral("path"), property(str, QStringLiteral("the path cloud_search returned"))},
                     {QStringLiteral("client"), property(str, QStringLiteral("the client folder to put it in"))},
                     {QStringLiteral("subfolder"),
                      property(str, QStringLiteral("e.g. 'FY 2026-27/gst' \u2014 created if missing"))},
                 },
                 {QStringLiteral("path"), QStringLiteral("client")})),
    };
}

void CloudFiles::call(const QString &name, const QJsonObject &args, Tool::Done done)
{
    if (name == kDrives)
        drives(done);
    else if (name == kSearch)
        search(args, done);
    else if (name == kFetch)
        fetch(args, done);
    else
        done(QStringLiteral("Unknown cloud tool: ") + name, true);
}

ToolFamily CloudFiles::family()
{
    return ToolFamily{&CloudFiles::names, &CloudFiles::definitions, &CloudFiles::call};
}
