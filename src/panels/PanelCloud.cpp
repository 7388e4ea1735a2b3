#include "panels/PanelCloud.h"

#include "core/EnvFile.h"
#include "core/Globals.h"
#include "platform/Http.h"

#include <QJsonDocument>
#include <QLocale>
#include <QUrl>
#include <cmath>

namespace PanelCloud {

std::optional<QString> seatToken()
{
    const QString token = readEnvFile(SEAT_ENV).value(QStringLiteral("PAVI_SEAT_TOKEN"));
    if (token.isEmpty())
        return std::nullopt;
    return token;
}

std::optional<QJsonObject> object(const QByteArray &body)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject())
        return std::nullopt;
    return doc.object();
}

bool send(const QByteArray &method, const QString &path, double timeout, const std::optional<QJsonObject> &body,
          Done done)
{
    const std::optional<QString> token = seatToken();
    if (!token)
        return false;
    Http::Request req;
    req.method = method;
    req.url = QUrl(API + path);
    req.timeout = timeout;
    // Account replies are small; a peer that sends more is cut off.
    req.maxBody = 4 * 1024 * 1024;
    req.headers << Http::Header("Authorization", "Bearer " + token->toUtf8());
    if (body) {
        req.headers << Http::Header("Content-Type", "application/json");
        req.body = QJsonDocument(*body).toJson(QJsonDocument::Compact);
    }
    Http::request(req, [done = std::move(done)](const Http::Response &r) {
        Reply reply;
        reply.status = r.status;
        reply.json = object(r.body);
        done(reply);
    });
    return true;
}

std::optional<qint64> integer(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    // Exact integers only, and only those a 64-bit count can hold.
    if (!std::isfinite(d) || std::floor(d) != d || std::fabs(d) > 9.0e15)
        return std::nullopt;
    return qint64(d);
}

qint64 integer(const QJsonValue &value, qint64 fallback)
{
    return integer(value).value_or(fallback);
}

QString string(const QJsonValue &value, const QString &fallback)
{
    return value.isString() ? value.toString() : fallback;
}

std::optional<QJsonObject> objectOf(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    return value.toObject();
}

QString grouped(qint64 number)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(number);
}

} // namespace PanelCloud
