#include "connectors/ConnectorText.h"
#include "erp/ErpText.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QUrl>

namespace ConnectorText {

QString pretty(const QJsonValue &value)
{
    if (value.isObject() || value.isArray())
        return ErpText::json(value);
    return QStringLiteral("{}");
}

namespace {
// Shorter texts are not real credentials, and hiding them would garble
// ordinary figures in an answer.
constexpr qsizetype kShortest = 8;
const QString kHidden = QStringLiteral("[hidden]");
} // namespace

QString scrub(QString text, const QStringList &secrets, const QStringList &always)
{
    for (const QString &s : secrets)
        if (s.size() >= kShortest)
            text.replace(s, kHidden);
    for (const QString &s : always)
        if (!s.isEmpty())
            text.replace(s, kHidden);
    return text;
}

QJsonValue scrub(const QJsonValue &value, const QStringList &secrets, const QStringList &always)
{
    if (value.isString())
        return scrub(value.toString(), secrets, always);
    if (value.isArray()) {
        QJsonArray out;
        for (const QJsonValue &v : value.toArray())
            out.append(scrub(v, secrets, always));
        return out;
    }
    if (value.isObject()) {
        const QJsonObject in = value.toObject();
        QJsonObject out;
        for (auto it = in.begin(); it != in.end(); ++it)
            out.insert(scrub(it.key(), secrets, always), scrub(it.value(), secrets, always));
        return out;
    }
    return value;
}

QString encodedQuery(const QList<QPair<QString, QString>> &items)
{
    // Besides letters, digits and "-._~", these stay as they are in a query;
    // everything else, "&", "=", "#" and "%" among it, is escaped.
    static const QByteArray plain = "!$'()*+,/:;?@";
    QStringList pairs;
    for (const auto &[key, value] : items)
        pairs << QString::fromLatin1(QUrl::toPercentEncoding(key, plain) + '=' + QUrl::toPercentEncoding(value, plain));
    return pairs.join(QLatin1Char('&'));
}

} // namespace ConnectorText
