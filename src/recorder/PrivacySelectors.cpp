// The CA's always-hidden page selectors, per host, in "record-privacy.json".
#include "core/Globals.h"
#include "platform/Files.h"
#include "recorder/PaneRecorder.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

namespace {

// The file as an object whose every value is an array of strings; nothing
// when it is of any other shape. Missing: an empty object.
enum class Read { Missing, Good, Bad };

Read readStore(QJsonObject &out)
{
    const QString path = PaneRecorder::privacyFile();
    if (!QFileInfo::exists(path))
        return Read::Missing;
    const auto bytes = Files::readAll(path);
    if (!bytes)
        return Read::Bad;
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return Read::Bad;
    const QJsonObject o = doc.object();
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (!it.value().isArray())
            return Read::Bad;
        for (const QJsonValue &s : it.value().toArray())
            if (!s.isString())
                return Read::Bad;
    }
    out = o;
    return Read::Good;
}

} // namespace

QString PaneRecorder::privacyFile()
{
    return joinPath(VELTO_HOME, QStringLiteral("record-privacy.json"));
}

QStringList PaneRecorder::markedSelectors(const QString &host)
{
    QJsonObject store;
    if (readStore(store) != Read::Good)
        return {};
    QStringList out;
    for (const QJsonValue &s : store.value(host).toArray())
        out.append(s.toString());
    return out;
}

void PaneRecorder::addMarked(const QString &host, const QString &selector)
{
    QJsonObject store;
    const QString path = privacyFile();
    if (readStore(store) == Read::Bad) {
        // The CA's earlier selectors may still be in there: keep the file
        // beside the new one instead of writing over it.
        const QString aside = path + QStringLiteral(".unreadable-") +
                              QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
        if (!QFile::rename(path, aside))
            return;
        store = QJsonObject();
    }
    QJsonArray list = store.value(host).toArray();
    if (!list.contains(selector))
        list.append(selector);
    store.insert(host, list);
    Files::writeAtomicMakingFolder(path, QJsonDocument(store).toJson(QJsonDocument::Indented));
}
