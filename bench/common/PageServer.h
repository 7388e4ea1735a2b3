#pragma once
// The benchmarks' fixture server (one page on 127.0.0.1, on the main thread)
// and the wait for the pane to load it.
#include "browser/BrowserPane.h"
#include "platform/WebView.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <unistd.h>

// Before the application object exists: no display needed, and the web
// engine's sandbox off when running as root (it refuses to start otherwise).
inline void headlessWebEnvironment()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

// Serves the one page on 127.0.0.1.
class PageServer : public QTcpServer {
public:
    explicit PageServer(QByteArray page) : page_(std::move(page))
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    if (!s->peek(1 << 16).contains("\r\n\r\n"))
                        return;
                    s->readAll();
                    s->write("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n"
                             "Content-Length: " + QByteArray::number(page_.size()) + "\r\n\r\n" + page_);
                    s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }

private:
    QByteArray page_;
};

// Opens url in the pane's shown tab and waits (30 s at most) for it to load.
inline bool loadPage(BrowserPane &pane, const QUrl &url)
{
    bool loaded = false;
    QEventLoop wait;
    QObject::connect(pane.web(), &QWebEngineView::loadFinished, &wait, [&](bool ok) {
        loaded = ok;
        wait.quit();
    });
    QTimer::singleShot(30000, &wait, &QEventLoop::quit);
    pane.load(url);
    wait.exec();
    return loaded;
}
