#pragma once
#include <QJsonObject>
#include <functional>
#include <optional>

// The one writer of the engine configuration file OC_JSON. Every part of the
// program that changes the file goes through update(): the whole file is read
// and parsed as an object, the caller changes only its own entries, and the
// whole object is written back pretty-printed with sorted keys, atomically and
// with mode 0600 (the file carries the tool server's bearer token). Writers
// are serialised.
namespace OcConfig {

// Answers false and writes nothing when the file is missing, unreadable, not
// JSON or not a JSON object, or when the write fails. `change` runs only when
// the file was read; it answers false to leave the file untouched.
bool update(const std::function<bool(QJsonObject &)> &change);

// The current object, or absent on the same conditions as above.
std::optional<QJsonObject> read();

// Serialises an object as the engine reads it: indented, keys sorted.
QByteArray serialise(const QJsonObject &obj);

} // namespace OcConfig
