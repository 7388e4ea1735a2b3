#pragma once
// What the account panels share when they talk to the maker's cloud: the seat
// token read afresh for every request, one JSON request with its own
// time-out, and the readers of the replies' values, where a missing or
// mistyped key takes the caller's default. Main thread only.
#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <functional>
#include <optional>

namespace PanelCloud {

// PAVI_SEAT_TOKEN from the seat env file as it is now; none when missing or empty.
std::optional<QString> seatToken();

// The reply body read as a JSON object, or none.
std::optional<QJsonObject> object(const QByteArray &body);

struct Reply {
    int status = 0;                     // 0 when no HTTP answer arrived
    std::optional<QJsonObject> json;    // the body when it is a JSON object
};
using Done = std::function<void(const Reply &)>;

// Sends method API + path with "Authorization: Bearer <token>" and, when a
// body is given, that JSON object with "Content-Type: application/json".
// Answers false and sends nothing without a seat token. `done` runs once, on
// the main thread, whatever the status.
bool send(const QByteArray &method, const QString &path, double timeout, const std::optional<QJsonObject> &body,
          Done done);

// A JSON number with an exact integer value; anything else is none.
std::optional<qint64> integer(const QJsonValue &value);
qint64 integer(const QJsonValue &value, qint64 fallback);
// A JSON string, else the fallback.
QString string(const QJsonValue &value, const QString &fallback = QString());
// A JSON object, else none.
std::optional<QJsonObject> objectOf(const QJsonValue &value);

// A count or an amount in rupees with the digit grouping of the user's locale.
QString grouped(qint64 number);

} // namespace PanelCloud
