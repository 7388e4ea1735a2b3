#include "core/OcConfig.h"
#include "core/Globals.h"
#include "platform/Files.h"

#include <QJsonDocument>
#include <QMutex>

namespace OcConfig {

namespace {
QMutex &writerLock()
{
    static QMutex lock;
    return lock;
}

std::optional<QJsonObject> readLocked()
{
    const auto bytes = Files::readAll(OC_JSON);
    if (!bytes)
        return std::nullopt;
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}
} // namespace

QByteArray serialise(const QJsonObject &obj)
{
    return QJsonDocument(obj).toJson(QJsonDocument::Indented);
}

std::optional<QJsonObject> read()
{
    QMutexLocker l(&writerLock());
    return readLocked();
}

bool update(const std::function<bool(QJsonObject &)> &change)
{
    QMutexLocker l(&writerLock());
    auto obj = readLocked();
    if (!obj)
        return false;
    if (!change(*obj))
        return false;
    return Files::writeAtomic(OC_JSON, serialise(*obj), 0600);
}

} // namespace OcConfig
