#pragma once
// The JSON-RPC side of the tool server: one MCP message in, its answer out.
// It holds nothing between messages; the tool table and the tool calls come
// from the server that uses it.
#include "toolserver/McpHttp.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <functional>
#include <optional>

namespace McpRpc {

// No body: "202 Accepted"; a body: "200 OK" with it.
using Reply = std::function<void(const McpHttp::Body &body)>;
// A tool's result object, handed over once, from any thread.
using ToolDone = std::function<void(const QJsonObject &result)>;

struct Tools {
    // The tools/list result ({"tools": [...]}) as compact JSON text. It is the
    // same for every request, so a server serialises it once and keeps it.
    std::function<QByteArray()> list;
    std::function<void(const QString &name, const QJsonObject &args, ToolDone done)> call;
};

// The initialize result: the client's protocol version echoed when it names
// one, the server's name and the standing instructions.
QJsonObject initializeResult(const QJsonObject &params);

// The tools/list result object for a list of tool definitions, serialised.
QByteArray listResult(const QJsonArray &tools);

// A response with a result given as JSON text, the request's id spliced in:
// the same text the object {jsonrpc, id, result} serialises to.
QByteArray response(const QJsonValue &id, const QByteArray &result);

// Answers one message (an object; an empty one when the body was none). A
// notification is only acknowledged; tools/call answers when the tool does.
void answer(const QJsonObject &message, const Tools &tools, const Reply &reply);

} // namespace McpRpc
