#include "toolserver/FileTools.h"
#include "browser/Downloads.h"
#include "core/Globals.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "toolserver/WorkPaths.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace FileTools {

namespace {

constexpr int kListed = 10;
constexpr double kWaitSeconds = 90.0;
constexpr double kRecheckSeconds = 1.0;

QString refusedOutside(const QString &path)
{
    return QStringLiteral("Refused: ") + path + QStringLiteral(" is outside the clients folder.");
}

QString errorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// A name beside the file that nothing else uses.
QString temporaryBeside(const QString &path)
{
    const QFileInfo info(path);
    return joinPath(info.absolutePath(), QStringLiteral(".") + info.fileName() + QStringLiteral(".part-") +
                                             QUuid::createUuid().toString(QUuid::Id128).left(8));
}

// Moves a file to `to` only when nothing is there: a filed download never
// replaces a client's file. Across file systems the file is first copied
// beside the destination. Answers an error text, or nothing; errno EEXIST
// tells a name taken meanwhile.
std::optional<QString> moveFile(const QString &from, const QString &to)
{
    if (Files::renameNoReplace(from, to))
        return std::nullopt;
    if (errno != EXDEV)
        return errorText(errno);
    const QString temporary = temporaryBeside(to);
    if (!QFile::copy(from, temporary)) {
        QFile::remove(temporary);
        return QStringLiteral("it could not be copied to ") + QFileInfo(to).absolutePath();
    }
    if (!Files::renameNoReplace(temporary, to)) {
        const int code = errno;
        QFile::remove(temporary);
        errno = code;
        return errorText(code);
    }
    QFile::remove(from);
    return std::nullopt;
}

struct Filing {
    QString moveTo;
    QString target; // resolved
    QString root;
    std::optional<int> id;
    QDeadlineTimer deadline;
    BrowserMCP::Done done;
};

void attempt(const std::shared_ptr<Filing> &job);

} // namespace

QString downloadList()
{
    const auto &items = Downloads::shared().items();
    if (items.empty())
        return QStringLiteral("Nothing downloaded in this session yet.");
    QStringList lines;
    for (auto it = items.rbegin(); it != items.rend() && lines.size() < kListed; ++it) {
        lines.append(QStringLiteral("#%1 ").arg(it->id) +
                     (it->name.isEmpty() ? QStringLiteral("(starting)") : it->name) + QStringLiteral(" — ") +
                     it->state + QStringLiteral(", %1 bytes, ").arg(it->bytes) +
                     it->started.toLocalTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(", from ") +
                     it->source);
    }
    return lines.join(QLatin1Char('\n'));
}

namespace {

void fail(const std::shared_ptr<Filing> &job, const QString &text)
{
    job->done(BrowserMCP::text(text, true));
}

void attempt(const std::shared_ptr<Filing> &job)
{
    const auto &items = Downloads::shared().items();
    if (items.empty()) {
        fail(job, QStringLiteral("Nothing has been downloaded yet. Click the portal's download link first."));
        return;
    }
    const Downloads::Item *item = &items.back();
    if (job->id) {
        item = nullptr;
        for (const auto &i : items)
            if (i.id == *job->id)
                item = &i;
        if (!item) {
            fail(job, QStringLiteral("There is no download #%1.\n").arg(*job->id) + downloadList());
            return;
        }
    }
    if (item->state == QLatin1String("downloading") && !job->deadline.hasExpired()) {
        Dispatch::after(kRecheckSeconds, [job] { attempt(job); });
        return;
    }
    if (item->state != QLatin1String("done") || !item->url) {
        fail(job, QStringLiteral("Download #%1 is ").arg(item->id) + item->state + QStringLiteral(".\n") +
                      downloadList());
        return;
    }

    const int id = item->id;
    const qint64 bytes = item->bytes;
    const QString source = *item->url;
    const QString sourceName = QFileInfo(source).fileName();
    // A folder: named so, without an extension, or one that exists already.
    const bool intoFolder = job->moveTo.endsWith(QLatin1Char('/')) || QFileInfo(job->target).suffix().isEmpty() ||
                            QFileInfo(job->target).isDir();
    QString destination =
        WorkPaths::resolved(intoFolder ? joinPath(job->target, sourceName) : job->target);
    if (!WorkPaths::inside(destination, job->root)) {
        fail(job, refusedOutside(destination));
        return;
    }

    QString keptName;
    if (destination != WorkPaths::resolved(source)) {
        const QString folder = QFileInfo(destination).absolutePath();
        const QString wantedName = QFileInfo(destination).fileName();
        errno = 0;
        if (!QDir().mkpath(folder)) {
            fail(job, QStringLiteral("Could not move ") + sourceName + QStringLiteral(": ") +
                          (errno ? errorText(errno) : QStringLiteral("the folder ") + folder + " could not be made"));
            return;
        }
        // The next free " (n)" name; another writer may take it between the
        // look and the move, so a taken name is looked past again.
        std::optional<QString> error;
        for (int tries = 0; tries < 5; ++tries) {
            destination = Files::freeName(folder, wantedName);
            error = moveFile(source, destination);
            if (!error || errno != EEXIST)
                break;
        }
        if (error) {
            fail(job, QStringLiteral("Could not move ") + sourceName + QStringLiteral(": ") + *error +
                          QStringLiteral(". Nothing was replaced."));
            return;
        }
        if (QFileInfo(destination).fileName() != wantedName)
            keptName = wantedName;
    }
    Downloads::shared().moveItem(id, destination);
    const QString kept = keptName.isEmpty() ? QString()
                                            : QStringLiteral(" ") + keptName +
                                                  QStringLiteral(" was there already and is kept as it was.");
    job->done(BrowserMCP::text(QStringLiteral("Filed download #%1 as ").arg(id) + BrowserMCP::relative(destination) +
                                   QStringLiteral(" (%1 bytes).").arg(bytes) + kept,
                               false));
}

} // namespace

void browserDownloads(QObject &, const QJsonObject &args, const BrowserMCP::Done &done)
{
    const QJsonValue moveTo = args.value(QStringLiteral("move_to"));
    if (!moveTo.isString() || moveTo.toString().isEmpty()) {
        done(BrowserMCP::text(downloadList(), false));
        return;
    }
    auto job = std::make_shared<Filing>();
    job->moveTo = moveTo.toString();
    job->root = WorkPaths::root();
    job->target = WorkPaths::resolved(WorkPaths::standard(job->moveTo, job->root));
    job->done = done;
    const QJsonValue id = args.value(QStringLiteral("id"));
    if (id.isDouble() && std::isfinite(id.toDouble()))
        job->id = int(std::clamp(std::trunc(id.toDouble()), -2147483648.0, 2147483647.0));
    if (!WorkPaths::inside(job->target, job->root)) {
        fail(job, refusedOutside(job->target));
        return;
    }
    job->deadline = QDeadlineTimer(Dispatch::scaledMs(kWaitSeconds));
    attempt(job);
}

} // namespace FileTools
