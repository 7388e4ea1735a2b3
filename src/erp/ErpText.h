#pragma once
// Small text rules shared by the ERP store, pairing and folder lookups.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLocale>
#include <QString>
#include <cmath>

namespace ErpText {

// Upper case, letters and numbers only: a GSTIN or a pairing code as typed
// with spaces or dashes ("abcd-efgh") becomes its bare form ("ABCDEFGH").
inline QString bare(const QString &text)
{
    QString out;
    for (const QChar c : text.toUpper())
        if (c.isLetterOrNumber())
            out.append(c);
    return out;
}

// A value as plain text: a text as it stands, a number in its shortest
// decimal form (whole numbers without a fraction), true/false, null, a list
// or object as compact JSON; nothing for no value.
inline QString plain(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String: return value.toString();
    case QJsonValue::Double: {
        const double d = value.toDouble();
        if (d == std::trunc(d) && std::fabs(d) < 9007199254740992.0)
            return QString::number(qint64(d));
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
    case QJsonValue::Bool: return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Null: return QStringLiteral("null");
    case QJsonValue::Array: return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object: return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    case QJsonValue::Undefined: break;
    }
    return QString();
}

// A list or object as JSON text with sorted keys, indented (or on one line
// when compact), without a final line feed; any other value as plain text.
inline QString json(const QJsonValue &value, bool compact = false)
{
    const auto format = compact ? QJsonDocument::Compact : QJsonDocument::Indented;
    QByteArray bytes;
    if (value.isObject())
        bytes = QJsonDocument(value.toObject()).toJson(format);
    else if (value.isArray())
        bytes = QJsonDocument(value.toArray()).toJson(format);
    else
        return plain(value);
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    return QString::fromUtf8(bytes);
}

} // namespace ErpText
