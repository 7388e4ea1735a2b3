#include "toolserver/McpRpc.h"

#include <QJsonDocument>

namespace McpRpc {

QByteArray listResult(const QJsonArray &tools)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("tools"), tools}}).toJson(QJsonDocument::Compact);
}

QByteArray response(const QJsonValue &id, const QByteArray &result)
{
    // Any JSON value serialises as it would inside the object: as the one
    // element of an array, without the brackets.
    const QByteArray wrapped = QJsonDocument(QJsonArray{id}).toJson(QJsonDocument::Compact);
    const QByteArrayView idText = QByteArrayView(wrapped).sliced(1, wrapped.size() - 2);
    // The members in the order the serialiser writes an object's: sorted.
    QByteArray out;
    out.reserve(result.size() + idText.size() + 40);
    out.append("{\"id\":");
    out.append(idText);
    out.append(",\"jsonrpc\":\"2.0\",\"result\":");
    out.append(result);
    out.append('}');
    return out;
}

QJsonObject initializeResult(const QJsonObject &params)
{
    const QJsonValue asked = params.value(QStringLiteral("protocolVersion"));
    return QJsonObject{
        {QStringLiteral("protocolVersion"), asked.isString() ? asked : QJsonValue(QStringLiteral("2025-06-18"))},
        {QStringLiteral("capabilities"),
         QJsonObject{{QStringLiteral("tools"), QJsonObject{{QStringLiteral("listChanged"), false}}}}},
        {QStringLiteral("serverInfo"),
         QJsonObject{{QStringLiteral("name"), QStringLiteral("velto-browser")},
                     {QStringLiteral("version"), QStringLiteral("1.0.0")}}},
        {QStringLiteral("instructions"),
         QStringLiteral("The Velto browser window on this computer. Read, download and pre-fill on Indian government "
                        "portals. Never submit, pay, or enter an OTP — hand back to the CA at the review screen.")},
    };
}

void answer(const QJsonObject &message, const Tools &tools, const Reply &reply)
{
    // A notification (no "id"; a null id counts as one) is only acknowledged.
    if (!message.contains(QStringLiteral("id"))) {
        reply(McpHttp::Body());
        return;
    }
    const QJsonValue id = message.value(QStringLiteral("id"));
    const QJsonValue methodValue = message.value(QStringLiteral("method"));
    const QString method = methodValue.isString() ? methodValue.toString() : QString();
    const QJsonObject params = message.value(QStringLiteral("params")).toObject();

    auto respond = [id](const QString &key, const QJsonValue &value) {
        return QJsonObject{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")}, {QStringLiteral("id"), id}, {key, value}};
    };
    const QString result = QStringLiteral("result");

    if (method == QLatin1String("initialize")) {
        reply(respond(result, initializeResult(params)));
    } else if (method == QLatin1String("ping")) {
        reply(respond(result, QJsonObject()));
    } else if (method == QLatin1String("tools/list")) {
        // The list is long and never changes: only the id is new.
        reply(McpHttp::Body::serialised(response(id, tools.list())));
    } else if (method == QLatin1String("tools/call")) {
        const QJsonValue name = params.value(QStringLiteral("name"));
        // The reply waits for the tool, however long it takes.
        tools.call(name.isString() ? name.toString() : QString(), params.value(QStringLiteral("arguments")).toObject(),
                   [reply, respond, result](const QJsonObject &toolResult) { reply(respond(result, toolResult)); });
    } else {
        reply(respond(QStringLiteral("error"),
                      QJsonObject{{QStringLiteral("code"), -32601},
                                  {QStringLiteral("message"), QStringLiteral("Method not found: ") + method}}));
    }
}

} // namespace McpRpc
