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
    qint64 maxBody = 0;  // bytes; a longer reply is cut off as an error. 0: no bound
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
void request(const Request &req, Done done);

// The transport. Tests point it at a fake or answer in-process.
struct Hooks {
    static void defaultSend(const Request &req, Done done);
    static inline std::function<void(const Request &, Done)> send = &Hooks::defaultSend;
};

} // namespace Http
