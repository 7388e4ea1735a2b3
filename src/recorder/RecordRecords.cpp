// The recording's records, their JSON form, and the recorder's error texts.
#include "recorder/PaneRecorder.h"
#include "core/JsonFields.h"

#include <QJsonValue>

// Every field is always written and required when read: a missing key or a
// value of another type spoils the whole record.
namespace {

using JsonFields::integer;
using JsonFields::number;
using JsonFields::text;

QJsonObject counts(const QMap<QString, qint64> &m)
{
    QJsonObject o;
    for (auto it = m.begin(); it != m.end(); ++it)
        o.insert(it.key(), it.value());
    return o;
}

std::optional<QMap<QString, qint64>> countsFrom(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isObject())
        return std::nullopt;
    QMap<QString, qint64> out;
    const QJsonObject m = v.toObject();
    for (auto it = m.begin(); it != m.end(); ++it) {
        if (!it.value().isDouble() || it.value().toDouble() != double(it.value().toInteger()))
            return std::nullopt;
        out.insert(it.key(), it.value().toInteger());
    }
    return out;
}

template <class T>
std::optional<QVector<T>> listFrom(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isArray())
        return std::nullopt;
    QVector<T> out;
    for (const QJsonValue &e : v.toArray()) {
        if (!e.isObject())
            return std::nullopt;
        auto item = T::fromJson(e.toObject());
        if (!item)
            return std::nullopt;
        out.append(*item);
    }
    return out;
}

} // namespace

QJsonObject PaneRecorder::Step::toJson() const
{
    return {{"n", n}, {"at", at}, {"kind", kind}, {"title", title}};
}

std::optional<PaneRecorder::Step> PaneRecorder::Step::fromJson(const QJsonObject &o)
{
    const auto n = integer(o, "n");
    const auto at = number(o, "at");
    const auto kind = text(o, "kind");
    const auto title = text(o, "title");
    if (!n || !at || !kind || !title)
        return std::nullopt;
    return Step{*n, *at, *kind, *title};
}

QJsonObject PaneRecorder::Click::toJson() const
{
    return {{"at", at}, {"x", x}, {"y", y}, {"vw", vw}, {"vh", vh}};
}

std::optional<PaneRecorder::Click> PaneRecorder::Click::fromJson(const QJsonObject &o)
{
    const auto at = number(o, "at"), x = number(o, "x"), y = number(o, "y");
    const auto vw = number(o, "vw"), vh = number(o, "vh");
    if (!at || !x || !y || !vw || !vh)
        return std::nullopt;
    return Click{*at, *x, *y, *vw, *vh};
}

QJsonObject PaneRecorder::Summary::toJson() const
{
    QJsonArray stepList, clickList;
    for (const Step &s : steps)
        stepList.append(s.toJson());
    for (const Click &c : clicks)
        clickList.append(c.toJson());
    return {{"name", name},
            {"folder", folder},
            {"seconds", seconds},
            {"width", width},
            {"height", height},
            {"steps", stepList},
            {"clicks", clickList},
            {"hiddenByPage", counts(hiddenByPage)},
            {"hiddenByOCR", counts(hiddenByOCR)},
            {"framesWritten", framesWritten},
            {"framesDropped", framesDropped}};
}

std::optional<PaneRecorder::Summary> PaneRecorder::Summary::fromJson(const QJsonObject &o)
{
    const auto name = text(o, "name"), folder = text(o, "folder");
    const auto seconds = number(o, "seconds");
    const auto width = integer(o, "width"), height = integer(o, "height");
    const auto steps = listFrom<Step>(o, "steps");
    const auto clicks = listFrom<Click>(o, "clicks");
    const auto byPage = countsFrom(o, "hiddenByPage"), byOcr = countsFrom(o, "hiddenByOCR");
    const auto written = integer(o, "framesWritten"), dropped = integer(o, "framesDropped");
    if (!name || !folder || !seconds || !width || !height || !steps || !clicks || !byPage || !byOcr || !written ||
        !dropped)
        return std::nullopt;
    return Summary{*name, *folder, *seconds, *width, *height, *steps, *clicks, *byPage, *byOcr, *written, *dropped};
}

QString PaneRecorder::RecordError::description() const
{
    switch (kind_) {
    case Kind::Writer:
        return QStringLiteral("The recording failed: ") + detail_;
    case Kind::Busy:
        return QStringLiteral("A recording is already running. Stop it first.");
    case Kind::NoBrowser:
        return QStringLiteral("Open the Browser pane on the page to record first.");
    case Kind::NoScript:
        return QStringLiteral("The privacy script is missing from this build, so recording is off.");
    case Kind::NotRecording:
        return QStringLiteral("Nothing is being recorded.");
    case Kind::Platform:
        return detail_;
    }
    return detail_;
}
