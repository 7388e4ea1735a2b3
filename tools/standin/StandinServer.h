#pragma once
// The small HTTP/1.1 server and request log shared by the stand-in programs.
// One request per connection; every reply closes the connection.
#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <functional>

class QTcpServer;
class QTcpSocket;

namespace Standin {

using Header = QPair<QByteArray, QByteArray>;

struct Request {
    QByteArray method;
    QString path;   // without the query
    QString query;  // raw query text
    QList<Header> headers;
    QByteArray body;
    QByteArray header(const QByteArray &name) const;
    // The request as one log object.
    QJsonObject toJson() const;
};

struct Reply {
    int status = 200;
    QList<Header> headers;  // Content-Type among them; a Content-Length here replaces the real one
    QByteArray body;
    int delayMs = 0;        // answer this much later
    bool hang = false;      // never answer; the connection stays open
    bool drop = false;      // close the connection without answering
    bool chunked = false;   // the body goes in chunks, without a length
    int trickleMs = 0;      // the body goes one byte at a time, this many ms apart
    bool endless = false;   // the body is sent again and again until the client leaves
    static Reply json(const QJsonValue &value, int status = 200);
    static Reply html(const QByteArray &page);
    static Reply empty(int status = 204);
};

class Server : public QObject {
public:
    using Handler = std::function<Reply(const Request &)>;
    explicit Server(Handler handler, QObject *parent = nullptr);
    // Serves through the given listener (a TLS one, say), which it takes over.
    Server(Handler handler, QTcpServer *listener, QObject *parent = nullptr);
    // Listens on host:port (0 for any free port); false on failure.
    bool listen(const QString &host, quint16 port);
    quint16 port() const;

private:
    void serve(QTcpSocket *sock);
    void answer(QTcpSocket *sock, const Reply &reply);
    void stream(QTcpSocket *sock, const Reply &reply);
    Handler handler_;
    QTcpServer *server_;
};

// Appends one compact JSON object per line to a file, flushed at once so
// tests can read it while the program runs. Without a path nothing is logged.
class Log {
public:
    explicit Log(const QString &path);
    void write(const QJsonObject &event);

private:
    QFile file_;
};

// Milliseconds since 1970.
double nowMs();

// Listens on 127.0.0.1:port (0 for any free port); once listening, prints the
// address on standard output and writes the port to portFile when one is
// given. False, with a message on standard error, when it cannot listen.
bool listenAndAnnounce(Server &server, const char *program, quint16 port, const QString &portFile);

} // namespace Standin
