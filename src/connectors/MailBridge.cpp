// The client side of the mail app's loopback bridge.
#include "connectors/MailTools.h"
#include "connectors/ConnectorText.h"
#include "core/JsonFields.h"
#include "platform/Files.h"
#include "platform/Http.h"

#include <QDir>
#include <QJsonDocument>
#include <QStandardPaths>

namespace {

constexpr double kTimeout = 12;
// A mailbox answer larger than this is not one the engine could use.
constexpr qint64 kMaxReply = 16 * 1024 * 1024;

QString withoutFinalStop(const QString &s)
{
    return s.endsWith(QLatin1Char('.')) ? s.chopped(1) : s;
}

} // namespace

const QString MailBridge::notConnected = QStringLiteral(
    "Hallix Mail is not answering on this computer. Ask the CA to open Hallix Mail, add their mailbox, turn on "
    "Settings \u2192 General \u2192 Velto bridge and restart Hallix Mail. The mail stays on their machine; Velto only "
    "reads it while that is on.");

QString MailBridge::defaultStatePath()
{
    QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/hallix-mail/bridge.json");
}

QString MailBridge::stateFile()
{
    if (!statePath)
        statePath = defaultStatePath();
    return *statePath;
}

std::optional<MailBridge::Door> MailBridge::readDoor()
{
    const std::optional<QByteArray> bytes = Files::readAll(stateFile());
    if (!bytes)
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes);
    if (!doc.isObject())
        return std::nullopt;
    const std::optional<qint64> port = JsonFields::integer(doc.object(), "port");
    const std::optional<QString> token = JsonFields::text(doc.object(), "token");
    if (!port || !token || *port < 1 || token->isEmpty())
        return std::nullopt;
    // The token travels in a header, where a line break would start another.
    for (const QChar c : *token)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return std::nullopt;
    return Door{QStringLiteral("http://127.0.0.1:") + QString::number(*port), *token};
}

void MailBridge::get(const QString &path, const QMap<QString, QString> &query, Done done)
{
    const std::optional<Door> door = doorFor();
    if (!door) {
        done(std::nullopt, notConnected);
        return;
    }
    QUrl url(door->base + path, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty()) {
        done(std::nullopt, QStringLiteral("Bad bridge address."));
        return;
    }
    if (!query.isEmpty()) {
        QList<QPair<QString, QString>> items;
        for (auto it = query.begin(); it != query.end(); ++it)
            items.append({it.key(), it.value()});
        url.setQuery(ConnectorText::encodedQuery(items), QUrl::StrictMode);
    }

    Http::Request req;
    req.url = url;
    req.timeout = kTimeout;
    req.maxBody = kMaxReply;
    req.headers.append(Http::Header{"Authorization", "Bearer " + door->token.toUtf8()});
    // The token is the bridge's own; whatever the bridge says, it never
    // reaches the engine, however short the bridge made it.
    const QStringList secrets{door->token};
    Http::request(req, [secrets, done = std::move(done)](const Http::Response &r) {
        if (!r.error.isEmpty()) {
            done(std::nullopt, QStringLiteral("Hallix Mail did not answer: ") +
                                   ConnectorText::scrub(withoutFinalStop(r.error), {}, secrets) + QStringLiteral(". ") +
                                   notConnected);
            return;
        }
        const QString status = QString::number(r.status);
        QJsonParseError parsed;
        const QJsonDocument doc = QJsonDocument::fromJson(r.body, &parsed);
        if (parsed.error != QJsonParseError::NoError || !doc.isObject()) {
            done(std::nullopt, QStringLiteral("Hallix Mail answered something Velto could not read (HTTP ") + status +
                                   QStringLiteral(")."));
            return;
        }
        const QJsonObject reply = ConnectorText::scrub(doc.object(), {}, secrets).toObject();
        if (r.status == 401) {
            done(std::nullopt, QStringLiteral("Hallix Mail refused the token. Switch the Velto bridge off and on in "
                                              "Hallix Mail to write a fresh one."));
            return;
        }
        if (r.status >= 400) {
            const QJsonValue error = reply.value(QLatin1String("error"));
            done(std::nullopt, error.isString() ? error.toString()
                                                : QStringLiteral("Hallix Mail returned HTTP ") + status +
                                                      QLatin1Char('.'));
            return;
        }
        done(reply, QString());
    });
}
