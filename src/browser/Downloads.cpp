#include "browser/Downloads.h"
#include "core/EnvFile.h"
#include "core/Globals.h"

#include <QDir>
#include <QFileInfo>
#include <QWebEngineDownloadRequest>

Downloads &Downloads::shared()
{
    static Downloads *instance = new Downloads;
    return *instance;
}

QString Downloads::inbox()
{
    const QString work = readEnvFile(WORK_ENV).value(QStringLiteral("VELTO_WORK"), HOME);
    const QString dir = joinPath(work, QStringLiteral("01 Inbox"));
    QDir().mkpath(dir);
    return dir;
}

QString Downloads::destinationFor(const QString &suggestedName) const
{
    QString name = suggestedName;
    for (QChar bad : {QLatin1Char('/'), QLatin1Char('\\'), QLatin1Char(':')})
        name.replace(bad, QLatin1Char('_'));
    if (name.isEmpty())
        name = QStringLiteral("download");

    const QString dir = inbox();
    // "report.pdf" -> "report" + "pdf"; a leading dot is no extension.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot + 1) : QString();

    QString candidate = joinPath(dir, name);
    for (int n = 2; QFileInfo::exists(candidate) || reserved_.contains(candidate); ++n)
        candidate = joinPath(dir, base + QStringLiteral(" (%1)").arg(n) + (ext.isEmpty() ? QString() : "." + ext));
    return candidate;
}

Downloads::Item *Downloads::find(int id)
{
    for (Item &i : items_)
        if (i.id == id)
            return &i;
    return nullptr;
}

void Downloads::track(QWebEngineDownloadRequest *download)
{
    const int id = nextId_++;
    Item item;
    item.id = id;
    item.state = QStringLiteral("downloading");
    item.started = QDateTime::currentDateTime();
    item.source = download->url().host();
    items_.push_back(item);
    if (items_.size() > size_t(MAX_ITEMS))
        items_.erase(items_.begin(), items_.begin() + (items_.size() - MAX_ITEMS));

    const QString path = destinationFor(download->suggestedFileName());
    reserved_.insert(path);
    if (Item *i = find(id)) {
        i->name = QFileInfo(path).fileName();
        i->url = path;
    }
    download->setDownloadDirectory(QFileInfo(path).absolutePath());
    download->setDownloadFileName(QFileInfo(path).fileName());
    connect(download, &QWebEngineDownloadRequest::isFinishedChanged, this, [this, id, download, path] {
        reserved_.remove(path);
        finished(id, download);
    });
    download->accept();
}

void Downloads::finished(int id, QWebEngineDownloadRequest *download)
{
    Item *item = find(id);
    if (!item)
        return;
    if (download->state() == QWebEngineDownloadRequest::DownloadCompleted) {
        item->state = QStringLiteral("done");
        if (item->url)
            item->bytes = QFileInfo(*item->url).exists() ? QFileInfo(*item->url).size() : 0;
    } else {
        const QString why = download->state() == QWebEngineDownloadRequest::DownloadCancelled
                                ? QStringLiteral("The download was cancelled.")
                                : download->interruptReasonString();
        item->state = QStringLiteral("failed: ") + why;
    }
}

void Downloads::moveItem(int id, const QString &path)
{
    Item *item = find(id);
    if (!item)
        return;
    item->url = path;
    item->name = QFileInfo(path).fileName();
    item->state = QStringLiteral("filed");
}

void Downloads::reset()
{
    items_.clear();
    reserved_.clear();
    nextId_ = 1;
}
