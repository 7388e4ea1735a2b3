#pragma once
// Strict reads of one field of a stored record: the value only when the key
// is there with the expected JSON type, so a damaged record is refused
// rather than read with made-up defaults.
#include <QJsonObject>
#include <QJsonValue>
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

} // namespace JsonFields
