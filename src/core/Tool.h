#pragma once
// What every tool family shares with the tool server: the schema builder the
// families describe their arguments with, the way a tool answers, and the
// shape of a family as the server lists and routes it.
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

namespace Tool {

// A tool's input schema: {"type":"object","properties":...}, with "required"
// (in the given order) only when some argument is required.
inline QJsonObject obj(const QJsonObject &properties, const QStringList &required = {})
{
    QJsonObject schema{{QStringLiteral("type"), QStringLiteral("object")},
                       {QStringLiteral("properties"), properties}};
    if (!required.isEmpty())
        schema.insert(QStringLiteral("required"), QJsonArray::fromStringList(required));
    return schema;
}

// A property of a tool's input schema: its JSON type, and its description
// when there is one.
inline QJsonObject property(const QString &type, const QString &description = {})
{
    QJsonObject o{{QStringLiteral("type"), type}};
    if (!description.isEmpty())
        o.insert(QStringLiteral("description"), description);
    return o;
}

// A tool as tools/list gives it: name, description and input schema.
inline QJsonObject descriptor(const QString &name, const QString &description, const QJsonObject &inputSchema)
{
    return QJsonObject{{QStringLiteral("name"), name},
                       {QStringLiteral("description"), description},
                       {QStringLiteral("inputSchema"), inputSchema}};
}

// The schema builder as the families receive it.
using Obj = QJsonObject (*)(const QJsonObject &properties, const QStringList &required);

// A tool's answer: its text for the engine and whether it is an error.
// Called exactly once, possibly later and from any thread.
using Done = std::function<void(const QString &text, bool isError)>;

} // namespace Tool

// One family of tools that lives in another folder (ERP, mail, Tally, ...),
// as the tool server sees it: a fixed set of names, a pure builder of the
// family's tool definitions ({name, description, inputSchema}, built with the
// schema builder it is given), and the entry that runs one of its tools. The
// server calls `call` on the main thread; the family answers through `done`.
struct ToolFamily {
    std::function<QSet<QString>()> names;
    std::function<QJsonArray(Tool::Obj obj)> definitions;
    std::function<void(const QString &name, const QJsonObject &args, Tool::Done done)> call;
};
