#pragma once
// The benchmarks' fixture server: one page on 127.0.0.1, on the main thread.
#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>

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
