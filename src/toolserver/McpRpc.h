#pragma once
// The JSON-RPC side of the tool server: one MCP message in, its answer out.
// It holds nothing between messages; the tool table and the tool calls come
// from the server that uses it.
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <functional>
#include <optional>

namespace McpRpc {

// Nothing: "202 Accepted" without a body; an object: "200 OK" with it.
using Reply = std::function<void(const std::optional<QJsonObject> &json)>;
// A tool's result object, handed over once, from any thread.
using ToolDone = std::function<void(const QJsonObject &result)>;

struct Tools {
    std::function<QJsonArray()> list;
    std::function<void(const QString &name, const QJsonObject &args, ToolDone done)> call;
};

// The initialize result: the client's protocol version echoed when it names
// one, the server's name and the standing instructions.
QJsonObject initializeResult(const QJsonObject &params);

// Answers one message (an object; an empty one when the body was none). A
// notification is only acknowledged; tools/call answers when the tool does.
void answer(const QJsonObject &message, const Tools &tools, const Reply &reply);

} // namespace McpRpc
