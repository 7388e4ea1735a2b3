#pragma once
// The gallery's catalogue: "catalog.json" in the catalogue folder among the
// skills (it arrives with the harness sync and is only read here), turned into
// categories, input fields and task cards, keeping only the cards whose skill
// is installed; the default values of the input fields, which follow the
// Indian financial year (April to March); and the request text a started card
// sends. Nothing is kept between calls. Main thread.
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <functional>
#include <utility>

// One input field that cards can ask for.
struct CatalogField {
    QString id;          // its key in the file and in the values of a request
    QString label;       // the caption above the input
    QString placeholder; // the hint inside an empty input
    QString defaultRule; // a default-value rule, or empty
    bool operator==(const CatalogField &) const = default;
};

// One task card.
struct CatalogCard {
    QString category; // a category id; may be empty or unlisted
    QString skill;    // the skill it runs: an entry of the skills folder
    QString title;
    QString blurb;
    QString ask;      // the request; "{id}" stands for a field's value
    QStringList fields; // the ids of the fields it asks for, in order
    bool operator==(const CatalogCard &) const = default;
};

namespace Catalog {

using Category = std::pair<QString, QString>; // id, title

struct Contents {
    QList<Category> categories;
    QHash<QString, CatalogField> fields;
    QList<CatalogCard> cards;
};

// OC_DIR/skills/hallix-catalog/catalog.json
QString file();

// The catalogue as it stands on disk; empty when the file is missing,
// unreadable, not JSON or not an object. Malformed entries are dropped.
Contents load();

// The time zone the default values are worked out in: the computer's own.
inline std::function<QTimeZone()> timeZone = [] { return QTimeZone::systemTimeZone(); };

// The default of a field by its rule ("last_month", "last_quarter",
// "last_fy"); empty for any other rule.
QString defaultValue(const QString &rule, const QDateTime &now = QDateTime::currentDateTime());

// The request a started card sends: its ask with the values put in, the
// unfilled placeholders and a dangling separator taken out, and the line
// that names the skill.
QString message(const CatalogCard &card, const QMap<QString, QString> &values);

// The text with the first letter of every word (between spaces, tabs and
// line breaks) upper case and the rest lower case.
QString capitalised(const QString &text);

} // namespace Catalog
