#include "platform/Http.h"
#include "platform/Dispatch.h"

#include <atomic>
#include <QBuffer>
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
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

QNetworkAccessManager &manager()
{
    // Lives on the GUI thread for the life of the process.
    static auto *nam = [] {
        auto *m = new QNetworkAccessManager(QCoreApplication::instance());
        m->setAutoDeleteReplies(false);
        return m;
    }();
    return *nam;
}

void sendOnMain(const Request &req, Done done)
{
    QNetworkRequest nr(req.url);
    for (const auto &h : req.headers)
        nr.setRawHeader(h.first, h.second);
    nr.setTransferTimeout(std::max(1, Dispatch::scaledMs(req.timeout)));
    nr.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                    QNetworkRequest::NoLessSafeRedirectPolicy);

    auto *buffer = new QBuffer;
    buffer->setData(req.body);
    buffer->open(QIODevice::ReadOnly);
    QNetworkReply *reply = manager().sendCustomRequest(nr, req.method, buffer);
    buffer->setParent(reply);

    auto tooLarge = std::make_shared<bool>(false);
    if (req.maxBody > 0) {
        const qint64 cap = req.maxBody;
        QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply, cap, tooLarge](qint64 received, qint64) {
            if (received > cap && !*tooLarge) {
                *tooLarge = true;
                reply->abort();
            }
        });
    }
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, tooLarge, done = std::move(done)] {
        Response r;
        if (*tooLarge) {
            r.error = QStringLiteral("The reply is too large.");
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
            r.error = reply->error() == QNetworkReply::OperationCanceledError
                          ? QStringLiteral("The request timed out.")
                          : reply->errorString();
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
