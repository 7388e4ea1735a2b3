#pragma once
// Small text helpers the connector families share.
#include "core/Tool.h"
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QList>
#include <QPair>
#include <QStringList>

namespace ConnectorText {

// Pretty JSON with sorted keys and "/" as it is; "{}" when there is nothing to write.
QString pretty(const QJsonValue &value);

// Every secret of at least a few characters replaced, wherever it appears
// (in keys and in texts, at any depth). `always` are replaced whatever
// their length: a token someone else chose may be short.
QString scrub(QString text, const QStringList &secrets, const QStringList &always = {});
QJsonValue scrub(const QJsonValue &value, const QStringList &secrets, const QStringList &always = {});

// A property of a tool's input schema, and a tool as tools/list gives it.
using Tool::descriptor;
using Tool::property;

// The encoded query of the items in the given order, each "key=value" (an
// empty value keeps its "="); every text stands for itself.
QString encodedQuery(const QList<QPair<QString, QString>> &items);

} // namespace ConnectorText
