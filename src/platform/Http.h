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

struct Request {
    QByteArray method = "GET";
    QUrl url;
    QList<Header> headers;
    QByteArray body;
    double timeout = 30; // seconds, scaled by Dispatch::timeScale
    // Bytes of answer body the caller will hold; an answer that grows past it
    // ends the request with an error and no answer. 0 sets no bound.
    qint64 maxBody = 0;
};

struct Response {
    int status = 0;            // 0 when no HTTP answer arrived
    QList<Header> headers;
    QByteArray body;
    QString error;             // transport error text; empty when an answer arrived
    bool answered() const { return status > 0; }
    QByteArray header(const QByteArray &name) const;
};

using Done = std::function<void(const Response &)>;

// Sends the request; `done` is called exactly once, on the main thread.
// A request with a body, or with a method other than GET and HEAD, reaches
// the server at most once: it is never sent again by the transport, nor
// after a redirect (the caller gets the redirect's status). When its
// connection closes before a reply the error is "the connection closed
// before a reply", and the caller cannot know whether the server acted.
void request(const Request &req, Done done);

// The transport. Tests point it at a fake or answer in-process.
struct Hooks {
    static void defaultSend(const Request &req, Done done);
    static inline std::function<void(const Request &, Done)> send = &Hooks::defaultSend;
};

} // namespace Http
