#pragma once
// The HTTP side of the tool server: reading one request off a connection and
// writing the one reply. Each connection carries exactly one request.
#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QString>
#include <optional>

namespace McpHttp {

// Bounds on what one connection may send. A peer over a bound, or whose
// request is not whole within the request time of its accept (however it
// trickles), is closed without a reply; every request the engine sends
// stays far below them.
inline constexpr qsizetype kHeaderCap = 64 * 1024;        // bytes before the blank line
inline constexpr qint64 kBodyCap = 32LL * 1024 * 1024;    // Content-Length
inline constexpr double kRequestSeconds = 30.0;           // accept to whole request; also to reply taken

// Bounds on what all connections together may hold: connections open at once
// (a connection beyond it is closed at once), and announced body bytes of
// requests that passed the token check and are not answered yet.
inline constexpr int kMaxConnections = 256;
inline constexpr qint64 kBodyBytesInFlight = 2 * kBodyCap;

struct Request {
    QString requestLine;      // the first header line
    qint64 contentLength = 0; // 0 when absent or unreadable
    QString authorization;    // trimmed, case kept; empty when absent
    QByteArray body;          // every byte after the blank line
};

// Collects the bytes of one request as they arrive.
class RequestReader {
public:
    enum class State { NeedMore, Complete, TooLarge };

    // Adds received bytes; says whether the request is whole yet.
    State feed(QByteArrayView bytes);
    // True once the blank line after the headers has been seen: the request
    // line, Content-Length and authorization are known, the body may not be.
    bool headersComplete() const { return headerEnd_ >= 0; }
    const Request &request() const { return request_; }

private:
    QByteArray buffer_;
    qsizetype headerEnd_ = -1; // index of the CR LF CR LF, once seen
    Request request_;
};

// Content-Length as sent: blanks and tabs trimmed, an optional sign, then
// decimal digits only; anything else (an overflow included) reads as 0.
qint64 parseContentLength(QStringView text);

// Fills the request line, Content-Length and authorization from the header
// block (the bytes before the blank line). Bytes that are not UTF-8 count as
// no headers at all.
void parseHeaders(const QByteArray &block, Request &out);

// True when the authorization value is exactly "Bearer " and the token; the
// comparison takes the same time wherever the first difference lies.
bool authorized(const QString &authorization, const QByteArray &expected);

// A GET asks for a stream of messages from the server. The tool server
// keeps none, and answers it "405 Method Not Allowed", as the protocol's
// HTTP transport says; a client then stops asking.
bool asksForStream(const Request &request);

// The body of a reply: none, a JSON object (serialised compact when the reply
// is written, on the thread that writes it), or JSON text serialised before.
class Body {
public:
    Body() = default;
    Body(std::nullopt_t) {}
    Body(std::optional<QJsonObject> json) : json_(std::move(json)) {}
    Body(QJsonObject json) : json_(std::move(json)) {}
    static Body serialised(QByteArray json)
    {
        Body b;
        b.bytes_ = std::move(json);
        b.serialised_ = true;
        return b;
    }

    bool isEmpty() const { return !json_ && !serialised_; }
    // The compact JSON text; empty when there is no body.
    QByteArray bytes() const;
    // The body as an object (parsed when it came serialised); none when empty
    // or not an object.
    std::optional<QJsonObject> object() const;

private:
    std::optional<QJsonObject> json_;
    QByteArray bytes_;
    bool serialised_ = false;
};

// The whole reply: status line, the fixed headers (the same on every reply,
// with the allowed methods on a 405), and the compact JSON body, or no body
// at all.
QByteArray reply(const QByteArray &status, const Body &body);

} // namespace McpHttp
