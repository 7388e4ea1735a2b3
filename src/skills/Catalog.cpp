#include "skills/Catalog.h"
#include "core/Characters.h"
#include "core/Globals.h"
#include "core/JsonFields.h"
#include "platform/Files.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

namespace Catalog {

namespace {

// A member whose every element is an object, or nothing.
std::optional<QJsonArray> objects(const QJsonValue &v)
{
    if (!v.isArray())
        return std::nullopt;
    for (const QJsonValue &e : v.toArray())
        if (!e.isObject())
            return std::nullopt;
    return v.toArray();
}

bool isWordBreak(QChar c)
{
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

} // namespace

QString file()
{
    return OC_DIR + QStringLiteral("/skills/hallix-catalog/catalog.json");
}

QString capitalised(const QString &text)
{
    QString out;
    bool start = true;
    for (const char32_t c : text.toUcs4()) {
        const QString one = QString::fromUcs4(&c, 1);
        out += start ? one.toUpper() : one.toLower();
        start = c < 0x10000 && isWordBreak(QChar(char16_t(c)));
    }
    return out;
}

Contents load()
{
    Contents c;
    const auto bytes = Files::readAll(file());
    if (!bytes)
        return c;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return c;
    const QJsonObject root = doc.object();

    const QSet<QString> installed = [] {
        const QStringList names = QDir(OC_DIR + QStringLiteral("/skills"))
                                      .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        return QSet<QString>(names.cbegin(), names.cend());
    }();

    if (const auto list = objects(root.value(QLatin1String("categories"))))
        for (const QJsonValue &v : *list) {
            const QJsonObject o = v.toObject();
            if (o.value(QLatin1String("id")).isString() && o.value(QLatin1String("title")).isString())
                c.categories.append({o.value(QLatin1String("id")).toString(), o.value(QLatin1String("title")).toString()});
        }

    const QJsonValue fields = root.value(QLatin1String("fields"));
    bool fieldsOk = fields.isObject();
    if (fieldsOk)
        for (const QJsonValue &v : fields.toObject())
            fieldsOk = fieldsOk && v.isObject();
    if (fieldsOk) {
        const QJsonObject all = fields.toObject();
        for (auto it = all.begin(); it != all.end(); ++it) {
            const QJsonObject o = it.value().toObject();
            c.fields.insert(it.key(), CatalogField{it.key(),
                                                   JsonFields::text(o, "label").value_or(capitalised(it.key())),
                                                   JsonFields::text(o, "placeholder").value_or(QString()),
                                                   JsonFields::text(o, "default").value_or(QString())});
        }
    }

    if (const auto list = objects(root.value(QLatin1String("items"))))
        for (const QJsonValue &v : *list) {
            const QJsonObject o = v.toObject();
            const QJsonValue skill = o.value(QLatin1String("skill"));
            if (!skill.isString() || !installed.contains(skill.toString()))
                continue;
            if (!o.value(QLatin1String("title")).isString() || !o.value(QLatin1String("ask")).isString())
                continue;
            CatalogCard card;
            card.skill = skill.toString();
            card.title = JsonFields::text(o, "title").value_or(QString());
            card.ask = JsonFields::text(o, "ask").value_or(QString());
            card.category = JsonFields::text(o, "category").value_or(QString());
            card.blurb = JsonFields::text(o, "blurb").value_or(QString());
            const QJsonValue ids = o.value(QLatin1String("fields"));
            if (ids.isArray()) {
                for (const QJsonValue &id : ids.toArray()) {
                    if (!id.isString()) {
                        card.fields.clear();
                        break;
                    }
                    card.fields.append(id.toString());
                }
            }
            c.cards.append(card);
        }
    return c;
}

QString defaultValue(const QString &rule, const QDateTime &now)
{
    const QDate date = now.toTimeZone(timeZone()).date();
    const int y = date.year();
    const int m = date.month();
    const int f = m <= 3 ? y - 1 : y; // the first year of the financial year
    auto twoDigits = [](int year) { return QStringLiteral("%1").arg(year % 100, 2, 10, QLatin1Char('0')); };
    if (rule == QStringLiteral("last_month")) {
        const int month = m == 1 ? 12 : m - 1;
        const int year = m == 1 ? y - 1 : y;
        return QStringLiteral("%1-%2").arg(year, 4, 10, QLatin1Char('0')).arg(month, 2, 10, QLatin1Char('0'));
    }
    if (rule == QStringLiteral("last_quarter")) {
        const int k = (m + 8) % 12; // months since April
        const int n = k <= 2 ? 4 : k / 3;
        const int start = k <= 2 ? f - 1 : f;
        return QStringLiteral("Q%1 FY %2-%3").arg(n).arg(start).arg(twoDigits(start + 1));
    }
    if (rule == QStringLiteral("last_fy"))
        return QStringLiteral("FY %1-%2").arg(f - 1).arg(twoDigits(f));
    return QString();
}

QString message(const CatalogCard &card, const QMap<QString, QString> &values)
{
    QString text = card.ask;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        text.replace(QLatin1Char('{') + it.key() + QLatin1Char('}'), it.value().trimmed());
    static const QRegularExpression placeholder(QStringLiteral("\\{[a-z_]+\\}"));
    static const QRegularExpression dangling(QStringLiteral("\\s*[:\u2014-]\\s*$"),
                                             QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression spaces(QStringLiteral("\\s{2,}"), QRegularExpression::UseUnicodePropertiesOption);
    text.remove(placeholder);
    text.remove(dangling);
    text.replace(spaces, QStringLiteral(" "));
    return Characters::trimSpacesTabs(text) + QStringLiteral("\n\n(Skill: ") + card.skill +
           QStringLiteral(". Start now and take it to the end \u2014 use the client folder, Hallix, the ERP and the "
                          "portal for what they hold, and ask me only for what is really missing, all at once.)");
}

} // namespace Catalog
