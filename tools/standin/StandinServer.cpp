#include "StandinServer.h"

#include <QSaveFile>
#include <cstdio>

#include <QDateTime>
#include <QHostAddress>
#include <QJsonArray>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <memory>

namespace Standin {

namespace {
constexpr qsizetype kMaxHead = 64 * 1024;
constexpr qsizetype kMaxBody = 32 * 1024 * 1024;

QByteArray reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}
} // namespace

QByteArray Request::header(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return {};
}

QJsonObject Request::toJson() const
{
    QJsonObject hs;
    for (const auto &h : headers)
        hs.insert(QString::fromLatin1(h.first).toLower(), QString::fromUtf8(h.second));
    return {{QStringLiteral("event"), QStringLiteral("request")},
            {QStringLiteral("method"), QString::fromLatin1(method)},
            {QStringLiteral("path"), path},
            {QStringLiteral("query"), query},
            {QStringLiteral("headers"), hs},
            {QStringLiteral("body"), QString::fromUtf8(body)}};
}

Reply Reply::json(const QJsonValue &value, int status)
{
    Reply r;
    r.status = status;
    r.headers = {{"Content-Type", "application/json"}};
    if (value.isObject())
        r.body = QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    else if (value.isArray())
        r.body = QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    else // a scalar: wrap it in an array and take the element's text
        r.body = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
    return r;
}

Reply Reply::html(const QByteArray &page)
{
    Reply r;
    r.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    r.body = page;
    return r;
}

Reply Reply::empty(int status)
{
    Reply r;
    r.status = status;
    return r;
}

Server::Server(Handler handler, QObject *parent) : Server(std::move(handler), new QTcpServer, parent) {}

Server::Server(Handler handler, QTcpServer *listener, QObject *parent)
    : QObject(parent), handler_(std::move(handler)), server_(listener)
{
    server_->setParent(this);
    // A TLS listener offers a connection only once its handshake is done.
    connect(server_, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *sock = server_->nextPendingConnection())
            serve(sock);
    });
}

bool Server::listen(const QString &host, quint16 port)
{
    return server_->listen(QHostAddress(host), port);
}

quint16 Server::port() const
{
    return server_->serverPort();
}

void Server::serve(QTcpSocket *sock)
{
    auto buffer = std::make_shared<QByteArray>();
    auto done = std::make_shared<bool>(false);
    connect(sock, &QTcpSocket::disconnected, sock, &QObject::deleteLater);
    connect(sock, &QTcpSocket::readyRead, sock, [this, sock, buffer, done] {
        if (*done) {
            sock->readAll();
            return;
        }
        buffer->append(sock->readAll());
        const qsizetype end = buffer->indexOf("\r\n\r\n");
        if (end < 0) {
            if (buffer->size() > kMaxHead)
                sock->abort();
            return;
        }
        Request req;
        qsizetype length = 0;
        const QList<QByteArray> lines = buffer->left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        req.method = first.value(0);
        const QByteArray target = first.value(1);
        const qsizetype q = target.indexOf('?');
        req.path = QString::fromUtf8(q < 0 ? target : target.left(q));
        req.query = q < 0 ? QString() : QString::fromUtf8(target.mid(q + 1));
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed();
            const QByteArray value = line.mid(colon + 1).trimmed();
            req.headers.append({name, value});
            if (name.compare("content-length", Qt::CaseInsensitive) == 0)
                length = value.toLongLong();
        }
        if (length < 0 || length > kMaxBody) {
            sock->abort();
            return;
        }
        if (buffer->size() - (end + 4) < length)
            return; // the rest of the body is still on its way
        req.body = buffer->mid(end + 4, length);
        *done = true;
        const Reply reply = handler_(req);
        if (reply.hang)
            return;
        if (reply.delayMs > 0) {
            QPointer<QTcpSocket> guard(sock);
            QTimer::singleShot(reply.delayMs, this, [this, guard, reply] {
                if (guard)
                    answer(guard, reply);
            });
        } else {
            answer(sock, reply);
        }
    });
}

void Server::answer(QTcpSocket *sock, const Reply &reply)
{
    if (reply.drop) {
        sock->abort();
        return;
    }
    if (reply.chunked || reply.trickleMs > 0 || reply.endless) {
        stream(sock, reply);
        return;
    }
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reason(reply.status) + "\r\n";
    bool hasLength = false;
    for (const auto &h : reply.headers) {
        out += h.first + ": " + h.second + "\r\n";
        hasLength |= h.first.compare("Content-Length", Qt::CaseInsensitive) == 0;
    }
    // A reply may claim a longer body than it sends (a cut transfer).
    if (!hasLength)
        out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    out += reply.body;
    sock->write(out);
    sock->disconnectFromHost();
}

// A body sent in pieces: chunked, slowly, or without end. Each piece waits
// until the client has taken the last, so an endless body never piles up here.
void Server::stream(QTcpSocket *sock, const Reply &reply)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reason(reply.status) + "\r\n";
    for (const auto &h : reply.headers)
        head += h.first + ": " + h.second + "\r\n";
    if (reply.chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else if (!reply.endless)
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    sock->write(head);

    const QByteArray body = reply.body.isEmpty() ? QByteArray("x") : reply.body;
    auto at = std::make_shared<qsizetype>(0);
    auto *timer = new QTimer(sock);
    timer->setInterval(std::max(1, reply.trickleMs));
    QPointer<QTcpSocket> guard(sock);
    QObject::connect(timer, &QTimer::timeout, sock, [guard, timer, body, at, reply] {
        if (!guard || guard->state() != QAbstractSocket::ConnectedState) {
            timer->stop();
            return;
        }
        if (guard->bytesToWrite() > 256 * 1024)
            return;
        const QByteArray piece = reply.trickleMs > 0 ? body.mid(*at, 1) : body.mid(*at);
        *at += piece.size();
        guard->write(reply.chunked ? QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n" : piece);
        if (*at >= body.size()) {
            if (reply.endless) {
                *at = 0;
                return;
            }
            timer->stop();
            if (reply.chunked)
                guard->write("0\r\n\r\n");
            guard->disconnectFromHost();
        }
    });
    timer->start();
}

Log::Log(const QString &path) : file_(path)
{
    if (!path.isEmpty())
        file_.open(QIODevice::WriteOnly | QIODevice::Append, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void Log::write(const QJsonObject &event)
{
    if (!file_.isOpen())
        return;
    QJsonObject e = event;
    e.insert(QStringLiteral("at"), nowMs());
    file_.write(QJsonDocument(e).toJson(QJsonDocument::Compact) + '\n');
    file_.flush();
}

double nowMs()
{
    return double(QDateTime::currentMSecsSinceEpoch());
}

bool listenAndAnnounce(Server &server, const char *program, quint16 port, const QString &portFile)
{
    if (!server.listen(QStringLiteral("127.0.0.1"), port)) {
        std::fprintf(stderr, "%s: cannot listen\n", program);
        return false;
    }
    if (!portFile.isEmpty()) {
        QSaveFile pf(portFile);
        if (pf.open(QIODevice::WriteOnly)) {
            pf.write(QByteArray::number(server.port()) + '\n');
            pf.commit();
        }
    }
    std::printf("http://127.0.0.1:%u\n", unsigned(server.port()));
    std::fflush(stdout);
    return true;
}

} // namespace Standin
