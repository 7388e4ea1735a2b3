#include "platform/Desktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>

bool Desktop::defaultOpenUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

bool Desktop::defaultReveal(const QString &path)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return openUrl(folder);
    // Asked without waiting, so the window never stops for the file manager.
    // The folder opens only when the file manager refuses or is missing; one
    // that is merely slow to answer is left to show the item itself.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [folder](QDBusPendingCallWatcher *w) {
        const QDBusError error = w->error();
        if (w->isError() && error.type() != QDBusError::NoReply && error.type() != QDBusError::Timeout)
            openUrl(folder);
        w->deleteLater();
    });
    return true;
}
