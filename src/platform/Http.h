#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <functional>

// One request function for every HTTP call of the program.
namespace Http {

using Header = QPair<QByteArray, QByteArray>;

// The most of an answer a request holds unless it says otherwise.
inline constexpr qint64 kDefaultMaxBody = 64LL * 1024 * 1024;

struct Request {
    QByteArray method = "GET";
    QUrl url;
    QList<Header> headers;
    QByteArray body;
    // Seconds the whole answer may take, from sending to its last byte
    // (scaled by Dispatch::timeScale); past it the request is aborted.
    double timeout = 120;
    // Bytes of answer body the caller will hold, counted as the answer
    // arrives; an answer that grows past it is cut off and the request ends
    // with an error and no answer. 0 or less takes kDefaultMaxBody.
    qint64 maxBody = kDefaultMaxBody;
    // The request carries a secret the headers do not show (a token in the
    // body, say). Authorization, cookie and token-like headers and a user
    // in the address count without it.
    bool credential = false;
};

// Why a request has no answer.
enum class Failure {
    None,
    NotSent,    // it never left: no connection, a bad address
    Lost,       // the connection failed once the request had left
    TooLarge,   // the answer grew past the request's bound
    TimedOut,   // the answer did not finish within the request's time
    Redirected, // sent on to another address with a credential; not followed
};

struct Response {
    int status = 0;            // 0 when no HTTP answer arrived
    QList<Header> headers;
    QByteArray body;
    QString error;             // transport error text; empty when an answer arrived
    Failure failure = Failure::None;
    // The request left this computer, in whole or in part.
    bool sent = false;
    bool answered() const { return status > 0; }
    // A write that failed this way may still have reached the service and
    // been carried out there.
    bool mayHaveArrived() const
    {
        return !error.isEmpty() && sent && failure != Failure::NotSent && failure != Failure::Redirected;
    }
    QByteArray header(const QByteArray &name) const;
};

using Done = std::function<void(const Response &)>;

// Sends the request; `done` is called exactly once, on the main thread.
// A request with a body, or with a method other than GET and HEAD, reaches
// the server at most once: it is never sent again by the transport, nor
// after a redirect (the caller gets the redirect's status). When its
// connection closes before a reply the error is "the connection closed
// before a reply", and the caller cannot know whether the server acted.
// A request carrying a credential never follows a redirect to another
// scheme, host or port: it ends with an error naming that host.
void request(const Request &req, Done done);

// True when the request carries a credential (see Request::credential).
bool carriesCredential(const Request &req);

// "64 MB", "512 KB", "1000 bytes": a size as the error texts give it.
QString sizeText(qint64 bytes);

// The error texts of the transport, for callers that frame them.
QString tooLargeText(qint64 maxBody);
QString timedOutText(const QUrl &url, double seconds);
QString redirectedText(const QUrl &from, const QUrl &to);

// The transport. Tests point it at a fake or answer in-process.
struct Hooks {
    static void defaultSend(const Request &req, Done done);
    static inline std::function<void(const Request &, Done)> send = &Hooks::defaultSend;
};

} // namespace Http
