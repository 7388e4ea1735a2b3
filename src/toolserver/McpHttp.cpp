#include "toolserver/McpHttp.h"

#include <QJsonDocument>
#include <QStringDecoder>
#include <openssl/crypto.h>

namespace McpHttp {

namespace {

const QByteArray kTerminator = QByteArrayLiteral("\r\n\r\n");

QStringView trimBlanks(QStringView s)
{
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (!s.isEmpty() && blank(s.front()))
        s = s.sliced(1);
    while (!s.isEmpty() && blank(s.back()))
        s.chop(1);
    return s;
}

} // namespace

qint64 parseContentLength(QStringView text)
{
    QStringView s = trimBlanks(text);
    bool negative = false;
    if (!s.isEmpty() && (s.front() == u'+' || s.front() == u'-')) {
        negative = s.front() == u'-';
        s = s.sliced(1);
    }
    if (s.isEmpty())
        return 0;
    qint64 value = 0;
    for (QChar c : s) {
        if (c < u'0' || c > u'9')
            return 0;
        const int digit = c.unicode() - u'0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return 0;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

void parseHeaders(const QByteArray &block, Request &out)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(block);
    if (decoder.hasError())
        text.clear();
    const QStringList lines = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return;
    out.requestLine = lines.first();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString &line = lines[i];
        if (line.startsWith(QLatin1String("content-length:"), Qt::CaseInsensitive))
            out.contentLength = parseContentLength(QStringView(line).sliced(15));
        else if (line.startsWith(QLatin1String("authorization:"), Qt::CaseInsensitive))
            out.authorization = trimBlanks(QStringView(line).sliced(14)).toString();
    }
}

RequestReader::State RequestReader::feed(QByteArrayView bytes)
{
    const qsizetype before = buffer_.size();
    buffer_.append(bytes);
    if (headerEnd_ < 0) {
        headerEnd_ = buffer_.indexOf(kTerminator, std::max<qsizetype>(0, before - 3));
        if (headerEnd_ < 0)
            return buffer_.size() >= kHeaderCap + kTerminator.size() ? State::TooLarge : State::NeedMore;
        if (headerEnd_ > kHeaderCap)
            return State::TooLarge;
        parseHeaders(buffer_.left(headerEnd_), request_);
        if (request_.contentLength > kBodyCap)
            return State::TooLarge;
    }
    const qsizetype bodyStart = headerEnd_ + kTerminator.size();
    if (buffer_.size() - bodyStart < request_.contentLength)
        return State::NeedMore;
    request_.body = buffer_.sliced(bodyStart);
    return State::Complete;
}

bool authorized(const QString &authorization, const QByteArray &expected)
{
    const QByteArray given = authorization.toUtf8();
    // Only the length can show through, and every token has the same length.
    if (given.size() != expected.size())
        return false;
    return CRYPTO_memcmp(given.constData(), expected.constData(), size_t(expected.size())) == 0;
}

bool asksForStream(const Request &request)
{
    return request.requestLine.startsWith(QLatin1String("GET "));
}

QByteArray Body::bytes() const
{
    if (serialised_)
        return bytes_;
    return json_ ? QJsonDocument(*json_).toJson(QJsonDocument::Compact) : QByteArray();
}

std::optional<QJsonObject> Body::object() const
{
    if (!serialised_)
        return json_;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes_);
    if (!doc.isObject())
        return std::nullopt;
    return doc.object();
}

QByteArray reply(const QByteArray &status, const Body &content)
{
    const QByteArray body = content.bytes();
    QByteArray out;
    out.reserve(360 + body.size());
    out += "HTTP/1.1 " + status + "\r\n"
           "Access-Control-Allow-Origin: *\r\n"
           "Access-Control-Allow-Headers: Content-Type, Authorization, Mcp-Session-Id, Mcp-Protocol-Version\r\n"
           "Access-Control-Allow-Methods: POST, OPTIONS, DELETE\r\n"
           "Mcp-Session-Id: velto-browser\r\n";
    if (status.startsWith("405"))
        out += "Allow: POST, OPTIONS, DELETE\r\n";
    out += "Content-Type: application/json\r\n"
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n"
           "Connection: close\r\n"
           "\r\n";
    out += body;
    return out;
}

} // namespace McpHttp
