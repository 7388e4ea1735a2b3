// Feeds arbitrary bytes to the tool server's request reader, in pieces of
// arbitrary sizes, and takes every request it accepts through the token
// check, the JSON-RPC answer and the reply writer, as a connection does.
// Beyond crashes and undefined behaviour it checks what must always hold:
// the reader never holds more than its bounds, and every reply is well
// framed with the request's id.
#include "toolserver/McpHttp.h"
#include "toolserver/McpRpc.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdint>
#include <cstdlib>

namespace {

const QByteArray kToken = QByteArrayLiteral("0123456789ABCDEF0123456789ABCDEF");
const QByteArray kAuthorization = "Bearer " + kToken;

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// A reply is the status line, the fixed headers, a Content-Length that
// matches the body, and the body.
void checkFraming(const QByteArray &out)
{
    check(out.startsWith("HTTP/1.1 "));
    const qsizetype end = out.indexOf("\r\n\r\n");
    check(end > 0);
    const qsizetype at = out.indexOf("Content-Length: ");
    check(at > 0 && at < end);
    const qsizetype eol = out.indexOf("\r\n", at);
    bool ok = false;
    const qint64 length = out.mid(at + 16, eol - at - 16).toLongLong(&ok);
    check(ok && length == out.size() - end - 4);
}

McpRpc::Tools fakeTools()
{
    return McpRpc::Tools{
        [] {
            return McpRpc::listResult(QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("echo")},
                                                             {QStringLiteral("inputSchema"), QJsonObject()}}});
        },
        [](const QString &name, const QJsonObject &args, McpRpc::ToolDone done) {
            // Echoes what it was given, so odd names and arguments are serialised too.
            done(QJsonObject{{QStringLiteral("content"),
                              QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("text")},
                                                     {QStringLiteral("text"), name}}}},
                             {QStringLiteral("args"), args},
                             {QStringLiteral("isError"), false}});
        }};
}

void serve(const McpHttp::Request &request)
{
    if (request.requestLine.startsWith(QLatin1String("OPTIONS"))) {
        checkFraming(McpHttp::reply("204 No Content", std::nullopt));
        return;
    }
    if (!McpHttp::authorized(request.authorization, kAuthorization)) {
        checkFraming(McpHttp::reply("401 Unauthorized", QJsonObject{{QStringLiteral("error"), QJsonObject()}}));
        return;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(request.body);
    const QJsonObject message = doc.isObject() ? doc.object() : QJsonObject();
    int replies = 0;
    McpRpc::answer(message, fakeTools(), [&](const McpHttp::Body &body) {
        ++replies;
        const std::optional<QJsonObject> json = body.object();
        check(body.isEmpty() == !json);
        if (json) {
            check(json->value(QStringLiteral("jsonrpc")) == QJsonValue(QStringLiteral("2.0")));
            check(json->value(QStringLiteral("id")) == message.value(QStringLiteral("id")));
        } else {
            check(!message.contains(QStringLiteral("id")));
        }
        checkFraming(McpHttp::reply(json ? "200 OK" : "202 Accepted", body));
    });
    check(replies == 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes pick how the bytes are cut into pieces, as the
    // network might deliver them.
    const size_t pieceBase = 1 + data[0];
    const size_t pieceSpread = 1 + data[1];
    QByteArray input(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    // Lets the fuzzer reach past the token check.
    input.replace("@T@", kToken);

    McpHttp::RequestReader reader;
    qsizetype at = 0;
    size_t round = 0;
    McpHttp::RequestReader::State state = McpHttp::RequestReader::State::NeedMore;
    while (at < input.size() && state == McpHttp::RequestReader::State::NeedMore) {
        const qsizetype n = std::min<qsizetype>(input.size() - at, qsizetype(pieceBase + (round++ * 7919) % pieceSpread));
        state = reader.feed(QByteArrayView(input).sliced(at, n));
        at += n;
        if (reader.headersComplete())
            check(reader.request().contentLength <= McpHttp::kBodyCap ||
                  state == McpHttp::RequestReader::State::TooLarge);
    }
    if (state != McpHttp::RequestReader::State::Complete)
        return 0;
    const McpHttp::Request &request = reader.request();
    check(request.body.size() >= request.contentLength);
    serve(request);
    return 0;
}
