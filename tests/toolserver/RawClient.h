#pragma once
// A plain TCP client for driving the tool server byte by byte. Reads keep the
// Qt event loop running, so tool calls (which run on the main thread) finish
// while the test waits for their reply.
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace McpTest {

struct Reply {
    bool closed = false;        // the server closed the connection
    QByteArray raw;             // everything received
    QByteArray status;          // "200 OK", ...; empty when nothing came
    QList<QByteArray> headerLines;
    QByteArray body;
    QJsonObject json() const;
};

class RawClient {
public:
    // Connects to host:port; connected() tells whether that worked.
    explicit RawClient(quint16 port, const char *host = "127.0.0.1");
    ~RawClient();
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool connected() const { return fd_ >= 0; }
    void send(const QByteArray &bytes);
    // Sends as much of bytes as the server takes within ms, never blocking;
    // stops early when the connection breaks. Answers the bytes taken.
    qint64 sendFor(const QByteArray &bytes, int ms);
    // Tells the server nothing more will come.
    void finishSending();
    // Reads until the server closes the connection or ms pass.
    Reply read(int ms = 5000);

private:
    int fd_ = -1;
};

// "POST /mcp HTTP/1.1" with the given headers and a JSON body.
QByteArray post(const QByteArray &body, const QString &token, const QByteArray &extraHeaders = {});
QByteArray rpc(const char *method, const QJsonObject &params = {}, const QJsonValue &id = 1);

// Sends one whole request on a fresh connection and reads the reply.
Reply exchange(quint16 port, const QByteArray &request, int ms = 5000);

} // namespace McpTest
