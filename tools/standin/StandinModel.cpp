// velto-standin-model: a language model stand-in on loopback, speaking the
// OpenAI-compatible chat completions interface, for the whole-loop test.
//   velto-standin-model [--open-url URL] [--tool NAME] [--port N] [--port-file FILE] [--log FILE]
//
// POST /v1/chat/completions, in plain JSON or as an event stream when the
// request asks for "stream":
//   - with an URL, a conversation that offers the tool NAME (default
//     "browser_open") and holds no tool result yet is answered with one call
//     of that tool with {"url": URL};
//   - a conversation that holds a tool result is answered with a final text
//     that quotes the start of the last result;
//   - a title request gets a short title;
//   - any other conversation gets a short text that says it comes from the
//     stand-in (the demo runs the real engine on it).
// GET /v1/models lists the one model. Every request is logged, one JSON object
// a line, with its body parsed, to --log (or VELTO_STANDIN_LOG).
#include "StandinServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QProcessEnvironment>

using namespace Standin;

namespace {

const QString MODEL = QStringLiteral("standin-model");

struct Answer {
    QString text;         // a final text, or
    QString toolName;     // one tool call
    QString toolArgs;     // its arguments as JSON text
};

// The name under which the conversation offers the tool, empty when it does not.
QString offeredTool(const QJsonObject &request, const QString &tool)
{
    for (const QJsonValue &t : request.value(QStringLiteral("tools")).toArray()) {
        const QString name = t.toObject().value(QStringLiteral("function")).toObject().value(QStringLiteral("name")).toString();
        if (name == tool)
            return name;
    }
    return {};
}

// The text of the last tool result in the conversation; absent when there is none.
std::optional<QString> lastToolResult(const QJsonObject &request)
{
    std::optional<QString> result;
    for (const QJsonValue &m : request.value(QStringLiteral("messages")).toArray()) {
        const QJsonObject msg = m.toObject();
        if (msg.value(QStringLiteral("role")).toString() != QLatin1String("tool"))
            continue;
        const QJsonValue content = msg.value(QStringLiteral("content"));
        if (content.isString()) {
            result = content.toString();
        } else {
            QString text;
            for (const QJsonValue &part : content.toArray())
                text += part.toObject().value(QStringLiteral("text")).toString();
            result = text;
        }
    }
    return result;
}

// Whether the engine asks for a session title (its title prompt).
bool asksForTitle(const QJsonObject &request)
{
    for (const QJsonValue &m : request.value(QStringLiteral("messages")).toArray()) {
        const QJsonValue content = m.toObject().value(QStringLiteral("content"));
        const QString text = content.isString() ? content.toString()
                                                : QString::fromUtf8(QJsonDocument(content.toArray()).toJson());
        if (text.contains(QLatin1String("title generator"), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

Answer answerFor(const QJsonObject &request, const QString &tool, const QString &openUrl)
{
    if (asksForTitle(request))
        return {QStringLiteral("Chat with the model stand-in"), {}, {}};
    if (const std::optional<QString> result = lastToolResult(request))
        return {QStringLiteral("The page says: ") + result->left(200), {}, {}};
    const QString name = openUrl.isEmpty() ? QString() : offeredTool(request, tool);
    if (!name.isEmpty())
        return {{}, name,
                QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("url"), openUrl}}).toJson(QJsonDocument::Compact))};
    return {QStringLiteral("Stand-in reply: this answer comes from Velto's offline model stand-in, not from a real "
                           "model. Name a model in the engine's configuration for real answers."),
            {},
            {}};
}

QJsonObject usage()
{
    return {{QStringLiteral("prompt_tokens"), 10}, {QStringLiteral("completion_tokens"), 5}, {QStringLiteral("total_tokens"), 15}};
}

QJsonArray toolCalls(const Answer &a, bool streamed)
{
    QJsonObject call{{QStringLiteral("id"), QStringLiteral("call_standin_1")},
                     {QStringLiteral("type"), QStringLiteral("function")},
                     {QStringLiteral("function"), QJsonObject{{QStringLiteral("name"), a.toolName},
                                                              {QStringLiteral("arguments"), a.toolArgs}}}};
    if (streamed)
        call.insert(QStringLiteral("index"), 0);
    return {call};
}

Reply plainReply(const Answer &a, qint64 created)
{
    QJsonObject message{{QStringLiteral("role"), QStringLiteral("assistant")}};
    if (a.toolName.isEmpty())
        message.insert(QStringLiteral("content"), a.text);
    else {
        message.insert(QStringLiteral("content"), QJsonValue::Null);
        message.insert(QStringLiteral("tool_calls"), toolCalls(a, false));
    }
    return Reply::json(QJsonObject{
        {QStringLiteral("id"), QStringLiteral("chatcmpl-standin")},
        {QStringLiteral("object"), QStringLiteral("chat.completion")},
        {QStringLiteral("created"), created},
        {QStringLiteral("model"), MODEL},
        {QStringLiteral("choices"),
         QJsonArray{QJsonObject{{QStringLiteral("index"), 0},
                                {QStringLiteral("message"), message},
                                {QStringLiteral("finish_reason"), a.toolName.isEmpty() ? QStringLiteral("stop")
                                                                                       : QStringLiteral("tool_calls")}}}},
        {QStringLiteral("usage"), usage()}});
}

// The whole answer as one event stream: the delta, then the finish with usage.
Reply streamedReply(const Answer &a, qint64 created)
{
    auto chunk = [&](const QJsonObject &delta, const QJsonValue &finish, bool withUsage) {
        QJsonObject c{{QStringLiteral("id"), QStringLiteral("chatcmpl-standin")},
                      {QStringLiteral("object"), QStringLiteral("chat.completion.chunk")},
                      {QStringLiteral("created"), created},
                      {QStringLiteral("model"), MODEL},
                      {QStringLiteral("choices"),
                       QJsonArray{QJsonObject{{QStringLiteral("index"), 0},
                                              {QStringLiteral("delta"), delta},
                                              {QStringLiteral("finish_reason"), finish}}}}};
        if (withUsage)
            c.insert(QStringLiteral("usage"), usage());
        return QByteArray("data: ") + QJsonDocument(c).toJson(QJsonDocument::Compact) + "\n\n";
    };
    QJsonObject delta{{QStringLiteral("role"), QStringLiteral("assistant")}};
    if (a.toolName.isEmpty())
        delta.insert(QStringLiteral("content"), a.text);
    else
        delta.insert(QStringLiteral("tool_calls"), toolCalls(a, true));
    Reply r;
    r.headers = {{"Content-Type", "text/event-stream"}, {"Cache-Control", "no-cache"}};
    r.body = chunk(delta, QJsonValue::Null, false)
             + chunk(QJsonObject{}, a.toolName.isEmpty() ? QStringLiteral("stop") : QStringLiteral("tool_calls"), true)
             + "data: [DONE]\n\n";
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stand-in language model for Velto's whole-loop test"));
    parser.addHelpOption();
    const QCommandLineOption urlOpt(QStringLiteral("open-url"), QStringLiteral("address the tool call opens"),
                                    QStringLiteral("url"));
    const QCommandLineOption toolOpt(QStringLiteral("tool"), QStringLiteral("name of the tool to call"),
                                     QStringLiteral("name"), QStringLiteral("browser_open"));
    const QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("port (0: any free)"),
                                     QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption portFileOpt(QStringLiteral("port-file"), QStringLiteral("file to write the port to"),
                                         QStringLiteral("file"));
    const QCommandLineOption logOpt(QStringLiteral("log"), QStringLiteral("request log"), QStringLiteral("file"));
    parser.addOptions({urlOpt, toolOpt, portOpt, portFileOpt, logOpt});
    parser.process(app);

    const QString openUrl = parser.value(urlOpt);
    const QString tool = parser.value(toolOpt);
    Log log(parser.isSet(logOpt) ? parser.value(logOpt)
                                 : QProcessEnvironment::systemEnvironment().value(QStringLiteral("VELTO_STANDIN_LOG")));

    Server server([&](const Request &req) {
        const QJsonObject body = QJsonDocument::fromJson(req.body).object();
        QJsonObject entry = req.toJson();
        entry.insert(QStringLiteral("json"), body);
        log.write(entry);
        if (req.method == "GET" && req.path.endsWith(QLatin1String("/models")))
            return Reply::json(QJsonObject{
                {QStringLiteral("object"), QStringLiteral("list")},
                {QStringLiteral("data"), QJsonArray{QJsonObject{{QStringLiteral("id"), MODEL},
                                                                 {QStringLiteral("object"), QStringLiteral("model")}}}}});
        if (req.method != "POST" || !req.path.endsWith(QLatin1String("/chat/completions")))
            return Reply::json(QJsonObject{{QStringLiteral("error"),
                                            QJsonObject{{QStringLiteral("message"), QStringLiteral("Not found")}}}},
                               404);
        if (body.isEmpty())
            return Reply::json(QJsonObject{{QStringLiteral("error"),
                                            QJsonObject{{QStringLiteral("message"), QStringLiteral("Body is not a JSON object")}}}},
                               400);
        const Answer answer = answerFor(body, tool, openUrl);
        const qint64 created = qint64(nowMs() / 1000);
        return body.value(QStringLiteral("stream")).toBool() ? streamedReply(answer, created) : plainReply(answer, created);
    });
    if (!listenAndAnnounce(server, "velto-standin-model", quint16(parser.value(portOpt).toUInt()), parser.value(portFileOpt)))
        return 1;
    return QCoreApplication::exec();
}
