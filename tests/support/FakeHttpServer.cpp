#include "support/FakeHttpServer.h"
#include "support/TestCa.h"
#include "support/TestKit.h"

#include <QHash>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

namespace TestKit {

FakeReply FakeReply::json(const QJsonObject &obj, int status)
{
    return json(QJsonDocument(obj), status);
}

FakeReply FakeReply::json(const QJsonDocument &doc, int status)
{
    FakeReply r;
    r.status = status;
    r.headers = {{"Content-Type", "application/json"}};
    r.body = doc.toJson(QJsonDocument::Compact);
    return r;
}

FakeReply FakeReply::text(const QByteArray &body, int status)
{
    FakeReply r;
    r.status = status;
    r.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
    r.body = body;
    return r;
}

struct FakeHttpServer::Impl {
    QThread thread;
    QObject *context = nullptr;      // lives on the server thread
    Standin::Server *server = nullptr;
    mutable QMutex lock;
    QHash<QPair<QByteArray, QString>, Handler> routes;
    Handler fallback;
    QList<RecordedRequest> recorded;

    Handler route(const QByteArray &method, const QString &path)
    {
        QMutexLocker l(&lock);
        if (auto it = routes.constFind({method, path}); it != routes.cend())
            return *it;
        if (auto it = routes.constFind({QByteArray("*"), path}); it != routes.cend())
            return *it;
        return fallback;
    }

    Standin::Reply answer(const Standin::Request &request)
    {
        const RecordedRequest req(request);
        {
            QMutexLocker l(&lock);
            recorded.append(req);
        }
        Handler h = route(req.method, req.path);
        return h ? h(req) : FakeReply::text("not found", 404);
    }
};

FakeHttpServer::FakeHttpServer(Mode mode) : d_(std::make_unique<Impl>()), mode_(mode)
{
    d_->thread.setObjectName(QStringLiteral("fake-http"));
    d_->thread.start();
    d_->context = new QObject;
    d_->context->moveToThread(&d_->thread);
    QMetaObject::invokeMethod(d_->context, [this] {
        Impl *d = d_.get();
        QTcpServer *listener = nullptr;
        if (mode_ == Mode::Https) {
            auto *ssl = new QSslServer;
            QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
            conf.setLocalCertificate(TestCa::get().serverCert);
            conf.setPrivateKey(TestCa::get().serverKey);
            conf.setPeerVerifyMode(QSslSocket::VerifyNone);
            ssl->setSslConfiguration(conf);
            listener = ssl;
        } else {
            listener = new QTcpServer;
        }
        d->server = new Standin::Server([d](const Standin::Request &r) { return d->answer(r); }, listener, d->context);
        d->server->listen(QStringLiteral("127.0.0.1"), 0);
        port_ = d->server->port();
    }, Qt::BlockingQueuedConnection);
}

FakeHttpServer::~FakeHttpServer()
{
    QMetaObject::invokeMethod(d_->context, [this] { delete d_->context; }, Qt::BlockingQueuedConnection);
    d_->thread.quit();
    d_->thread.wait();
}

QString FakeHttpServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(mode_ == Mode::Https ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(port_);
}

void FakeHttpServer::on(const QByteArray &method, const QString &path, Handler handler)
{
    QMutexLocker l(&d_->lock);
    d_->routes.insert({method, path}, std::move(handler));
}

void FakeHttpServer::on(const QByteArray &method, const QString &path, const FakeReply &reply)
{
    on(method, path, [reply](const RecordedRequest &) { return reply; });
}

void FakeHttpServer::setFallback(Handler handler)
{
    QMutexLocker l(&d_->lock);
    d_->fallback = std::move(handler);
}

QList<RecordedRequest> FakeHttpServer::requests() const
{
    QMutexLocker l(&d_->lock);
    return d_->recorded;
}

QList<RecordedRequest> FakeHttpServer::requestsTo(const QString &path) const
{
    QList<RecordedRequest> out;
    for (const auto &r : requests())
        if (r.path == path)
            out.append(r);
    return out;
}

void FakeHttpServer::clearRequests()
{
    QMutexLocker l(&d_->lock);
    d_->recorded.clear();
}

bool FakeHttpServer::waitForRequests(int n, int ms) const
{
    return waitFor([&] { return requests().size() >= n; }, ms);
}

QSslCertificate FakeHttpServer::testCa()
{
    return TestCa::get().caCert;
}

void FakeHttpServer::trustTestCa()
{
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    auto cas = conf.caCertificates();
    if (!cas.contains(testCa())) {
        cas.append(testCa());
        conf.setCaCertificates(cas);
        QSslConfiguration::setDefaultConfiguration(conf);
    }
}

} // namespace TestKit
