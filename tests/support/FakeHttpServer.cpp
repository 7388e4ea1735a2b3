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

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return {};
}

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
    QTcpServer *server = nullptr;
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

    void serve(QTcpSocket *sock)
    {
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(sock, &QTcpSocket::disconnected, sock, &QObject::deleteLater);
        QObject::connect(sock, &QTcpSocket::readyRead, sock, [this, sock, buffer] {
            buffer->append(sock->readAll());
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> lines = buffer->left(end).split('\n');
            RecordedRequest req;
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            req.method = first.value(0);
            const QByteArray target = first.value(1);
            const qsizetype q = target.indexOf('?');
            req.path = QString::fromUtf8(q < 0 ? target : target.left(q));
            req.query = q < 0 ? QString() : QString::fromUtf8(target.mid(q + 1));
            qsizetype length = 0;
            for (int i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines[i].trimmed();
                const qsizetype colon = line.indexOf(':');
                if (colon <= 0)
                    continue;
                Header h{line.left(colon).trimmed(), line.mid(colon + 1).trimmed()};
                if (h.first.compare("Content-Length", Qt::CaseInsensitive) == 0)
                    length = h.second.toLongLong();
                req.headers.append(h);
            }
            if (buffer->size() - (end + 4) < length)
                return; // body not complete yet
            req.body = buffer->mid(end + 4, length);
            QObject::disconnect(sock, &QTcpSocket::readyRead, nullptr, nullptr);
            {
                QMutexLocker l(&lock);
                recorded.append(req);
            }
            Handler h = route(req.method, req.path);
            FakeReply reply = h ? h(req) : FakeReply::text("not found", 404);
            QPointer<QTcpSocket> guard(sock);
            auto answer = [guard, reply] {
                if (!guard)
                    return;
                if (reply.hang)
                    return;
                if (reply.drop) {
                    guard->abort();
                    guard->deleteLater();
                    return;
                }
                QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " Fake\r\n";
                bool hasLength = false;
                for (const auto &hd : reply.headers) {
                    out += hd.first + ": " + hd.second + "\r\n";
                    hasLength |= hd.first.compare("Content-Length", Qt::CaseInsensitive) == 0;
                }
                // A reply may claim a longer body than it sends (a cut transfer).
                if (!hasLength)
                    out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
                out += "Connection: close\r\n\r\n";
                out += reply.body;
                guard->write(out);
                guard->disconnectFromHost();
            };
            if (reply.delayMs > 0)
                QTimer::singleShot(reply.delayMs, sock, answer);
            else
                answer();
        });
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
        if (mode_ == Mode::Https) {
            auto *ssl = new QSslServer(d->context);
            QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
            conf.setLocalCertificate(TestCa::get().serverCert);
            conf.setPrivateKey(TestCa::get().serverKey);
            conf.setPeerVerifyMode(QSslSocket::VerifyNone);
            ssl->setSslConfiguration(conf);
            d->server = ssl;
        } else {
            d->server = new QTcpServer(d->context);
        }
        QObject::connect(d->server, &QTcpServer::pendingConnectionAvailable, d->server, [d] {
            while (QTcpSocket *s = d->server->nextPendingConnection())
                d->serve(s);
        });
        d->server->listen(QHostAddress::LocalHost, 0);
        port_ = d->server->serverPort();
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
