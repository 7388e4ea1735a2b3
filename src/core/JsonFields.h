#pragma once
// Strict reads of one field of a stored record: the value only when the key
// is there with the expected JSON type, so a damaged record is refused
// rather than read with made-up defaults.
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QString>
#include <cmath>
#include <optional>

namespace JsonFields {

inline std::optional<QString> text(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

inline std::optional<double> number(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble())
        return std::nullopt;
    return v.toDouble();
}

// A whole number that fits a 64-bit integer.
inline std::optional<qint64> integer(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (d != std::trunc(d) || std::fabs(d) > 9.2e18)
        return std::nullopt;
    return v.toInteger();
}

// A tool argument read as a whole number: a JSON number (a fraction goes
// toward zero) or a text of decimal digits; absent when it is neither or does
// not fit a 64-bit integer.
inline std::optional<qint64> wholeNumber(const QJsonValue &value)
{
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (!std::isfinite(d) || d >= 9223372036854775808.0 || d < -9223372036854775808.0)
            return std::nullopt;
        const double whole = std::trunc(d);
        // An integer keeps every digit; a fraction goes toward zero.
        return whole == d ? value.toInteger(qint64(whole)) : qint64(whole);
    }
    if (value.isString()) {
        static const QRegularExpression decimal(QRegularExpression::anchoredPattern(QStringLiteral("[+-]?[0-9]+")));
        const QString s = value.toString();
        if (!decimal.match(s).hasMatch())
            return std::nullopt;
        bool ok = false;
        const qint64 n = s.toLongLong(&ok);
        if (!ok)
            return std::nullopt;
        return n;
    }
    return std::nullopt;
}

} // namespace JsonFields
