#pragma once
// An HTTP (or HTTPS) server on 127.0.0.1 for tests, running on its own
// thread so that code under test may block the main thread while it answers.
#include "StandinServer.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QSslCertificate>
#include <QString>
#include <QUrlQuery>
#include <functional>
#include <memory>

class QThread;

namespace TestKit {

using Header = Standin::Header;

// A request as the server read it (method, path, raw query, headers, body).
struct RecordedRequest : Standin::Request {
    RecordedRequest() = default;
    RecordedRequest(const Standin::Request &r) : Standin::Request(r) {}
    QUrlQuery queryItems() const { return QUrlQuery(query); }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// A reply: status, headers (a Content-Length here replaces the real one),
// body, and delayMs / drop / hang to misbehave.
struct FakeReply : Standin::Reply {
    FakeReply() = default;
    FakeReply(const Standin::Reply &r) : Standin::Reply(r) {}
    static FakeReply json(const QJsonObject &obj, int status = 200);
    static FakeReply json(const QJsonDocument &doc, int status = 200);
    static FakeReply text(const QByteArray &body, int status = 200);
};

using Handler = std::function<FakeReply(const RecordedRequest &)>;

class FakeHttpServer {
public:
    enum class Mode { Http, Https };
    explicit FakeHttpServer(Mode mode = Mode::Http);
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer &) = delete;
    FakeHttpServer &operator=(const FakeHttpServer &) = delete;

    quint16 port() const { return port_; }
    // "http://127.0.0.1:PORT" (or https)
    QString baseUrl() const;

    // Routes by method ("*" for any) and exact path. Handlers run on the
    // server's thread. Unrouted requests get 404.
    void on(const QByteArray &method, const QString &path, Handler handler);
    void on(const QByteArray &method, const QString &path, const FakeReply &reply);
    void setFallback(Handler handler);

    QList<RecordedRequest> requests() const;
    QList<RecordedRequest> requestsTo(const QString &path) const;
    void clearRequests();
    // Spins the main event loop until n requests arrived or ms pass.
    bool waitForRequests(int n, int ms = 5000) const;

    // The test CA that signs the HTTPS server's certificate; made once per process.
    static QSslCertificate testCa();
    // Adds the test CA to the default TLS configuration so clients trust it.
    static void trustTestCa();

    struct Impl;

private:
    std::unique_ptr<Impl> d_;
    quint16 port_ = 0;
    Mode mode_;
};

} // namespace TestKit
