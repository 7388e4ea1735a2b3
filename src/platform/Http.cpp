#include "platform/Http.h"
#include "platform/Dispatch.h"

#include <atomic>
#include <QIODevice>
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
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

QString hostText(const QUrl &url)
{
    if (url.host().isEmpty())
        return QStringLiteral("the server");
    return url.port() < 0 ? url.host() : url.host() + QLatin1Char(':') + QString::number(url.port());
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    const int defaultPort = a.scheme() == QLatin1String("https") ? 443 : 80;
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0
           && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
           && a.port(defaultPort) == b.port(b.scheme() == QLatin1String("https") ? 443 : 80);
}

// Qt's error codes below 200 (connection and proxy) and a protocol failure
// mean the transfer itself failed; most of the others stand for HTTP
// statuses of a whole answer.
bool transportError(QNetworkReply::NetworkError e)
{
    const int code = int(e);
    return (code >= 1 && code <= 199) || e == QNetworkReply::ProtocolFailure;
}

// What one request has seen so far.
struct State {
    QByteArray body;
    Failure failure = Failure::None;
    QUrl refusedRedirect;
    bool sent = false;
    bool finished = false;
};

void sendOnMain(const Request &req, Done done)
{
    QNetworkRequest nr(req.url);
    for (const auto &h : req.headers)
        nr.setRawHeader(h.first, h.second);
    nr.setTransferTimeout(std::max(1, Dispatch::scaledMs(req.timeout)));
    const bool once = sentOnce(req);
    const bool credential = carriesCredential(req);
    // A redirect would send a write a second time, to another address: the
    // caller gets the redirect's status instead. A read's redirect is looked
    // at before it is followed.
    nr.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                    once ? QNetworkRequest::ManualRedirectPolicy : QNetworkRequest::UserVerifiedRedirectPolicy);

    QIODevice *body = nullptr;
    if (once) {
        body = new OnceBody(req.body);
        nr.setHeader(QNetworkRequest::ContentLengthHeader, req.body.size());
    }
    QNetworkReply *reply = manager().sendCustomRequest(nr, req.method, body);
    if (body)
        body->setParent(reply);
    // The transport reads from the connection only as fast as the answer is
    // taken below, so a long answer never piles up in memory.
    reply->setReadBufferSize(256 * 1024);

    const qint64 max = req.maxBody > 0 ? req.maxBody : kDefaultMaxBody;
    auto state = std::make_shared<State>();
    const auto fail = [reply, state](Failure f) {
        if (state->failure != Failure::None || state->finished)
            return;
        state->failure = f;
        reply->abort();
    };

    QObject::connect(reply, &QNetworkReply::requestSent, reply, [state] { state->sent = true; });
    QObject::connect(reply, &QNetworkReply::uploadProgress, reply, [state](qint64 sentBytes, qint64) {
        if (sentBytes > 0)
            state->sent = true;
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, state, max, fail] {
        state->sent = true;
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        // Aborting from inside this signal upsets Qt's reply; a moment later
        // is as good, as the read bound holds meanwhile.
        if (length.isValid() && length.toLongLong() > max && state->failure == Failure::None) {
            state->failure = Failure::TooLarge;
            QTimer::singleShot(0, reply, [reply, state] {
                if (!state->finished)
                    reply->abort();
            });
        }
    });
    QObject::connect(reply, &QIODevice::readyRead, reply, [reply, state, max, fail] {
        state->sent = true;
        if (state->failure != Failure::None)
            return;
        state->body += reply->read(max + 1 - state->body.size());
        if (state->body.size() > max) {
            state->body.clear();
            fail(Failure::TooLarge);
        }
    });
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, state, fail, credential, from = req.url](const QUrl &url) {
        const QUrl to = reply->url().resolved(url);
        const bool downgrade = from.scheme() == QLatin1String("https") && to.scheme() != QLatin1String("https");
        if (downgrade || (credential && !sameOrigin(from, to))) {
            state->refusedRedirect = to;
            fail(Failure::Redirected);
            return;
        }
        emit reply->redirectAllowed();
    });
    // The whole answer has a deadline; the transfer time-out above only
    // catches a connection that falls silent.
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [fail] { fail(Failure::TimedOut); });
    deadline->start(std::max(1, Dispatch::scaledMs(req.timeout)));

    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, state, once, credential, max, url = req.url,
                                                              seconds = req.timeout, done = std::move(done)] {
        state->finished = true;
        Response r;
        r.sent = state->sent;
        r.failure = state->failure;
        const auto error = reply->error();
        if (r.failure == Failure::None && error == QNetworkReply::OperationCanceledError)
            r.failure = Failure::TimedOut; // the transfer time-out
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (r.failure == Failure::None && status > 0 && transportError(error)) {
            // An answer cut short is no answer: never read as a whole one.
            r.failure = Failure::Lost;
            r.sent = true;
        }
        if (r.failure == Failure::None && status >= 300 && status <= 399 && credential) {
            const QByteArray location = reply->rawHeader("Location");
            const QUrl to = url.resolved(QUrl::fromEncoded(location));
            if (!location.isEmpty() && !sameOrigin(url, to)) {
                r.failure = Failure::Redirected;
                state->refusedRedirect = to;
            }
        }
        if (r.failure == Failure::None && status > 0) {
            r.status = status;
            for (const auto &p : reply->rawHeaderPairs())
                r.headers.append(p);
            r.body = state->body + reply->readAll();
            reply->deleteLater();
            done(r);
            return;
        }
        switch (r.failure) {
        case Failure::TooLarge:
            r.error = tooLargeText(max);
            break;
        case Failure::TimedOut:
            r.error = timedOutText(url, seconds);
            break;
        case Failure::Redirected:
            r.error = redirectedText(url, state->refusedRedirect);
            break;
        case Failure::Lost:
            r.error = QStringLiteral("the connection closed before the whole answer arrived");
            break;
        case Failure::None:
        case Failure::NotSent:
            if (once && (error == QNetworkReply::RemoteHostClosedError || error == QNetworkReply::ContentReSendError)) {
                // The connection was there and closed: the write may have been read.
                r.sent = true;
                r.error = QStringLiteral("the connection closed before a reply");
            } else {
                r.error = reply->errorString();
            }
            r.failure = r.sent ? Failure::Lost : Failure::NotSent;
            break;
        }
        reply->deleteLater();
        done(r);
    });
}

} // namespace

bool carriesCredential(const Request &req)
{
    if (req.credential || !req.url.userInfo().isEmpty())
        return true;
    for (const auto &h : req.headers) {
        const QByteArray name = h.first.toLower();
        if (name == "authorization" || name == "proxy-authorization" || name == "cookie" || name.contains("token")
            || name.contains("secret") || name.contains("password") || name.contains("key") || name.contains("auth"))
            return true;
    }
    return false;
}

QString sizeText(qint64 bytes)
{
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
        return QString::number(bytes / (1024 * 1024)) + QStringLiteral(" MB");
    if (bytes >= 1024 && bytes % 1024 == 0)
        return QString::number(bytes / 1024) + QStringLiteral(" KB");
    return QString::number(bytes) + QStringLiteral(" bytes");
}

QString tooLargeText(qint64 maxBody)
{
    return QStringLiteral("the answer was larger than %1, the most Velto takes from it; it was cut off")
        .arg(sizeText(maxBody > 0 ? maxBody : kDefaultMaxBody));
}

QString timedOutText(const QUrl &url, double seconds)
{
    return QStringLiteral("%1 did not finish answering in time (%2 s)").arg(hostText(url), QString::number(seconds));
}

QString redirectedText(const QUrl &from, const QUrl &to)
{
    return QStringLiteral("%1 sent the request on to %2; Velto does not send it there")
        .arg(hostText(from), hostText(to));
}

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
