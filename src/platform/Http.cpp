#include "platform/Http.h"
#include "platform/Dispatch.h"

#include <atomic>
#include <QIODevice>
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <cstring>
#include <memory>

namespace Http {

QByteArray Response::header(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return {};
}

namespace {

QNetworkAccessManager *nam = nullptr;

// The manager goes while the application still exists: its HTTP thread, when
// it ends, closes its TLS connections, and that needs the application (gone
// by the time the application's children are deleted).
void endManager()
{
    delete nam;
    nam = nullptr;
}

QNetworkAccessManager &manager()
{
    // Lives on the GUI thread for the life of the application.
    if (!nam) {
        nam = new QNetworkAccessManager;
        nam->setAutoDeleteReplies(false);
        qAddPostRoutine(endManager);
    }
    return *nam;
}

// The body of a request that must reach the server at most once. Qt's HTTP
// layer sends a request again by itself when its connection closes before a
// reply, rewinding the body first; this body cannot be rewound, so such a
// loss ends the request with an error instead of a second write.
class OnceBody : public QIODevice {
public:
    explicit OnceBody(QByteArray data) : data_(std::move(data)) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return false; }
    qint64 size() const override { return data_.size(); }
    bool reset() override { return false; }
    bool seek(qint64 pos) override { return pos == this->pos() && QIODevice::seek(pos); }

protected:
    qint64 readData(char *out, qint64 max) override
    {
        const qint64 n = std::min<qint64>(max, data_.size() - pos());
        if (n <= 0)
            return 0;
        memcpy(out, data_.constData() + pos(), size_t(n));
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray data_;
};

// GET and HEAD without a body change nothing at the server and may be tried
// again; every other request is sent once.
bool sentOnce(const Request &req)
{
    return !req.body.isEmpty() || (req.method != "GET" && req.method != "HEAD");
}

void sendOnMain(const Request &req, Done done)
{
    QNetworkRequest nr(req.url);
    for (const auto &h : req.headers)
        nr.setRawHeader(h.first, h.second);
    nr.setTransferTimeout(std::max(1, Dispatch::scaledMs(req.timeout)));
    const bool once = sentOnce(req);
    // A redirect would send a write a second time, to another address: the
    // caller gets the redirect's status instead.
    nr.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                    once ? QNetworkRequest::ManualRedirectPolicy : QNetworkRequest::NoLessSafeRedirectPolicy);

    QIODevice *body = nullptr;
    if (once) {
        body = new OnceBody(req.body);
        nr.setHeader(QNetworkRequest::ContentLengthHeader, req.body.size());
    }
    QNetworkReply *reply = manager().sendCustomRequest(nr, req.method, body);
    if (body)
        body->setParent(reply);

    auto tooLarge = std::make_shared<bool>(false);
    if (req.maxBody > 0)
        QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                         [reply, tooLarge, max = req.maxBody](qint64 received, qint64 total) {
                             if (!*tooLarge && (received > max || total > max)) {
                                 *tooLarge = true;
                                 reply->abort();
                             }
                         });

    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, once, tooLarge, max = req.maxBody,
                                                              done = std::move(done)] {
        Response r;
        if (*tooLarge) {
            r.error = QStringLiteral("the answer was larger than %1 bytes").arg(max);
            reply->deleteLater();
            done(r);
            return;
        }
        r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        for (const auto &p : reply->rawHeaderPairs())
            r.headers.append(p);
        r.body = reply->readAll();
        if (r.status <= 0) {
            r.status = 0;
            const auto error = reply->error();
            if (error == QNetworkReply::OperationCanceledError)
                r.error = QStringLiteral("The request timed out.");
            else if (once && (error == QNetworkReply::RemoteHostClosedError
                              || error == QNetworkReply::ContentReSendError))
                r.error = QStringLiteral("the connection closed before a reply");
            else
                r.error = reply->errorString();
        }
        reply->deleteLater();
        done(r);
    });
}

} // namespace

void Hooks::defaultSend(const Request &req, Done done)
{
    if (Dispatch::isMainThread())
        sendOnMain(req, std::move(done));
    else
        Dispatch::onMain([req, done = std::move(done)]() mutable { sendOnMain(req, std::move(done)); });
}

void request(const Request &req, Done done)
{
    // Whatever the transport does, the caller hears once, on the main thread.
    struct Once {
        std::atomic<bool> used{false};
        Done done;
    };
    auto once = std::make_shared<Once>();
    once->done = std::move(done);
    Hooks::send(req, [once](const Response &r) {
        if (once->used.exchange(true))
            return;
        if (Dispatch::isMainThread())
            once->done(r);
        else
            Dispatch::onMain([once, r] { once->done(r); });
    });
}

} // namespace Http
