#include "RawClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace McpTest {

QJsonObject Reply::json() const
{
    return QJsonDocument::fromJson(body).object();
}

RawClient::RawClient(quint16 port, const char *host)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    ::inet_pton(AF_INET, host, &addr.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
}

RawClient::~RawClient()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void RawClient::send(const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += n;
    }
}

qint64 RawClient::sendFor(const QByteArray &bytes, int ms)
{
    qint64 sent = 0;
    QDeadlineTimer deadline(ms);
    while (fd_ >= 0 && sent < bytes.size() && !deadline.hasExpired()) {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 5) <= 0)
            continue;
        const ssize_t n =
            ::send(fd_, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (n <= 0)
            break;
        sent += n;
    }
    return sent;
}

void RawClient::finishSending()
{
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_WR);
}

Reply RawClient::read(int ms)
{
    Reply reply;
    QDeadlineTimer deadline(ms);
    while (fd_ >= 0 && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 2) <= 0)
            continue;
        char chunk[65536];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            reply.closed = true;
            break;
        }
        reply.raw.append(chunk, n);
    }
    const qsizetype end = reply.raw.indexOf("\r\n\r\n");
    if (end >= 0) {
        const QList<QByteArray> lines = reply.raw.left(end).split('\n');
        for (const QByteArray &line : lines)
            reply.headerLines.append(line.endsWith('\r') ? line.chopped(1) : line);
        if (!reply.headerLines.isEmpty() && reply.headerLines.first().startsWith("HTTP/1.1 "))
            reply.status = reply.headerLines.takeFirst().mid(9);
        reply.body = reply.raw.mid(end + 4);
    }
    return reply;
}

QByteArray post(const QByteArray &body, const QString &token, const QByteArray &extraHeaders)
{
    QByteArray r = "POST /mcp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n";
    if (!token.isEmpty())
        r += "Authorization: Bearer " + token.toUtf8() + "\r\n";
    r += extraHeaders;
    r += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    return r;
}

QByteArray rpc(const char *method, const QJsonObject &params, const QJsonValue &id)
{
    QJsonObject msg{{"jsonrpc", "2.0"}, {"method", method}, {"id", id}};
    if (!params.isEmpty())
        msg.insert("params", params);
    return QJsonDocument(msg).toJson(QJsonDocument::Compact);
}

Reply exchange(quint16 port, const QByteArray &request, int ms)
{
    RawClient client(port);
    client.send(request);
    return client.read(ms);
}

} // namespace McpTest
