// The IRP's protocol: a sign-in sealed with NIC's public key and a fresh app
// key, answered with a token and a session key sealed with the app key; then
// one business call whose payload and reply are sealed with the session key.
// Nothing is kept between calls: every call signs in afresh.
#include "connectors/EInvoiceTools.h"
#include "platform/Http.h"
#include "platform/SecretStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <memory>

namespace {

const QString kNoCredentials = QStringLiteral(
    "The e-invoicing credentials are not in the system keyring any more. Connect again with einvoice_connect.");
const QString kNoAppKey = QStringLiteral("Could not make a fresh key for the IRP sign-in, so nothing was sent.");
const QString kSignInNotSealed = QStringLiteral(
    "Could not encrypt the sign-in for the IRP. Check that NIC's public key is the one they publish, in PEM form.");
const QString kNoClientSecret = QStringLiteral("The client secret is not in the system keyring any more.");
const QString kRequestNotSealed = QStringLiteral("Could not encrypt the request for the IRP.");
const QString kBadAddress = QStringLiteral("The IRP address for this call is not valid, so nothing was sent.");

constexpr double kSignInTimeout = 45;
constexpr double kCallTimeout = 60;

// Secrets shorter than this are not searched for in answers: replacing every
// "1" of an answer would wreck it, and no real secret is that short.
constexpr qsizetype kShortestScrubbed = 4;
const QString kHidden = QStringLiteral("(hidden)");

QString scrub(QString text, const QStringList &secrets)
{
    for (const QString &s : secrets)
        if (s.size() >= kShortestScrubbed)
            text.replace(s, kHidden);
    return text;
}

QJsonValue scrub(const QJsonValue &v, const QStringList &secrets)
{
    if (v.isString())
        return scrub(v.toString(), secrets);
    if (v.isArray()) {
        QJsonArray out;
        for (const QJsonValue &item : v.toArray())
            out.append(scrub(item, secrets));
        return out;
    }
    if (v.isObject()) {
        QJsonObject out;
        const QJsonObject o = v.toObject();
        for (auto it = o.begin(); it != o.end(); ++it)
            out.insert(scrub(it.key(), secrets), scrub(it.value(), secrets));
        return out;
    }
    return v;
}

std::optional<QByteArray> strictBase64(const QString &text)
{
    const auto r = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::Base64Encoding
                                                                    | QByteArray::AbortOnBase64DecodingErrors);
    // toLatin1 turns what is not Latin-1 into "?", which the decoder refuses.
    if (!r)
        return std::nullopt;
    return r.decoded;
}

std::optional<QJsonObject> jsonObject(const QByteArray &body)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

QString unreadable(int status)
{
    return QStringLiteral("The IRP answered HTTP ") + QString::number(status)
           + QStringLiteral(" with something Velto could not read.");
}

QString unreachable(const Http::Response &r)
{
    switch (r.failure) {
    case Http::Failure::TooLarge:
        return QStringLiteral("The IRP's answer was cut off: ") + r.error + QLatin1Char('.');
    case Http::Failure::Lost:
        return QStringLiteral("The connection to the IRP failed before its whole answer arrived: ") + r.error +
               QLatin1Char('.');
    case Http::Failure::TimedOut:
    case Http::Failure::Redirected:
        return QStringLiteral("The IRP: ") + r.error + QLatin1Char('.');
    default:
        return QStringLiteral("Could not reach the IRP: ") + r.error;
    }
}

Http::Header header(const char *name, const QString &value)
{
    return {QByteArray(name), value.toUtf8()};
}

} // namespace

QString EInvoiceTools::irpError(const QJsonObject &reply)
{
    const QJsonValue details = reply.value(QLatin1String("ErrorDetails"));
    if (details.isArray()) {
        QStringList pieces;
        bool objects = true;
        for (const QJsonValue &entry : details.toArray()) {
            if (!entry.isObject()) {
                objects = false;
                break;
            }
            const QJsonObject e = entry.toObject();
            const QString code = e.value(QLatin1String("ErrorCode")).toString();
            QString message = e.value(QLatin1String("ErrorMessage")).toString();
            if (!e.value(QLatin1String("ErrorMessage")).isString())
                message = e.value(QLatin1String("error_message")).toString();
            QStringList parts;
            if (!code.isEmpty())
                parts << code;
            if (!message.isEmpty())
                parts << message;
            pieces << parts.join(QLatin1Char(' '));
        }
        if (objects && !pieces.isEmpty())
            return pieces.join(QStringLiteral("; "));
    }
    if (details.isString() && !details.toString().isEmpty())
        return details.toString();
    const QJsonValue status = reply.value(QLatin1String("Status"));
    if (status.isString())
        return QStringLiteral("status ") + status.toString();
    return QStringLiteral("no reason given");
}

void EInvoiceTools::authenticate(const EInvoiceConnection &c, SignInDone done)
{
    const std::optional<QString> password = SecretStore::get(SERVICE, QStringLiteral("password"));
    const std::optional<QString> clientSecret = SecretStore::get(SERVICE, QStringLiteral("client_secret"));
    const std::optional<QString> publicKey = SecretStore::get(SERVICE, QStringLiteral("nic_public_key"));
    if (!password || !clientSecret || !publicKey) {
        done({}, {}, kNoCredentials, {});
        return;
    }
    // The sign-in must never go out under a key that is not fresh and random.
    const std::optional<QByteArray> appKey = appKeyBytes();
    if (!appKey) {
        done({}, {}, kNoAppKey, {});
        return;
    }
    const QString appKeyText = QString::fromLatin1(appKey->toBase64());
    QStringList secrets{*password, *clientSecret, appKeyText};

    const QJsonObject signIn{{QStringLiteral("UserName"), c.username},
                             {QStringLiteral("Password"), *password},
                             {QStringLiteral("AppKey"), appKeyText},
                             {QStringLiteral("ForceRefreshAccessToken"), false}};
    const std::optional<QByteArray> sealed = rsa(QJsonDocument(signIn).toJson(QJsonDocument::Compact), *publicKey);
    if (!sealed) {
        done({}, {}, kSignInNotSealed, secrets);
        return;
    }
    Http::Request req;
    req.method = "POST";
    req.url = QUrl(c.base() + QStringLiteral("/eivital/v1.04/auth"), QUrl::StrictMode);
    if (!req.url.isValid()) {
        done({}, {}, kBadAddress, secrets);
        return;
    }
    req.timeout = kSignInTimeout;
    req.headers = {{"Content-Type", "application/json"},
                   header("client_id", c.clientId),
                   header("client_secret", *clientSecret),
                   header("gstin", c.gstin)};
    req.body = QJsonDocument(QJsonObject{{QStringLiteral("Data"), QString::fromLatin1(sealed->toBase64())}})
                   .toJson(QJsonDocument::Compact);

    Http::request(req, [appKey = *appKey, secrets, done = std::move(done)](const Http::Response &r) mutable {
        if (!r.answered()) {
            done({}, {}, unreachable(r), secrets);
            return;
        }
        const std::optional<QJsonObject> reply = jsonObject(r.body);
        if (!reply) {
            done({}, {}, unreadable(r.status), secrets);
            return;
        }
        const QJsonObject data = reply->value(QLatin1String("Data")).toObject();
        const QJsonValue token = data.value(QLatin1String("AuthToken"));
        const QJsonValue sekText = data.value(QLatin1String("Sek"));
        if (token.isString() && sekText.isString()) {
            secrets << token.toString() << sekText.toString();
            if (const auto sealedSek = strictBase64(sekText.toString()))
                if (const auto sek = aes(*sealedSek, appKey, false)) {
                    secrets << QString::fromLatin1(sek->toBase64());
                    done(token.toString(), *sek, {}, secrets);
                    return;
                }
        }
        done({}, {}, QStringLiteral("The IRP refused the sign-in: ") + irpError(*reply), secrets);
    });
}

void EInvoiceTools::call(const EInvoiceConnection &c, const QString &path, const QByteArray &method,
                         const std::optional<QJsonValue> &payload, const QMap<QString, QString> &query, CallDone done)
{
    // Whatever the IRP puts in its answers, no secret of this exchange goes on.
    auto finish = [done = std::move(done)](const std::optional<QJsonObject> &reply, const QString &error,
                                           const QStringList &secrets) {
        if (reply)
            done(scrub(QJsonValue(*reply), secrets).toObject(), {});
        else
            done(std::nullopt, scrub(error, secrets));
    };
    authenticate(c, [c, path, method, payload, query, finish](const QString &token, const QByteArray &sek,
                                                              const QString &error, QStringList secrets) {
        if (!error.isEmpty()) {
            finish(std::nullopt, error, secrets);
            return;
        }
        const std::optional<QString> clientSecret = SecretStore::get(SERVICE, QStringLiteral("client_secret"));
        if (!clientSecret) {
            finish(std::nullopt, kNoClientSecret, secrets);
            return;
        }
        secrets << *clientSecret;

        QString address = c.base() + path;
        if (!query.isEmpty()) {
            // QMap keeps the names sorted.
            QStringList items;
            for (auto it = query.begin(); it != query.end(); ++it)
                items << QString::fromLatin1(QUrl::toPercentEncoding(it.key()) + '=' + QUrl::toPercentEncoding(it.value()));
            address += QLatin1Char('?') + items.join(QLatin1Char('&'));
        }
        Http::Request req;
        req.method = method;
        req.url = QUrl(address, QUrl::StrictMode);
        if (!req.url.isValid()) {
            finish(std::nullopt, kBadAddress, secrets);
            return;
        }
        req.timeout = kCallTimeout;
        req.headers = {{"Content-Type", "application/json"},
                       header("client_id", c.clientId),
                       header("client_secret", *clientSecret),
                       header("Gstin", c.gstin),
                       header("user_name", c.username),
                       header("AuthToken", token)};
        if (payload) {
            std::optional<QByteArray> sealed;
            if (payload->isObject())
                sealed = aes(QJsonDocument(payload->toObject()).toJson(QJsonDocument::Compact), sek, true);
            else if (payload->isArray())
                sealed = aes(QJsonDocument(payload->toArray()).toJson(QJsonDocument::Compact), sek, true);
            if (!sealed) {
                finish(std::nullopt, kRequestNotSealed, secrets);
                return;
            }
            req.body = QJsonDocument(QJsonObject{{QStringLiteral("Data"), QString::fromLatin1(sealed->toBase64())}})
                           .toJson(QJsonDocument::Compact);
        }
        const bool write = method != "GET";
        Http::request(req, [sek, secrets, finish, write](const Http::Response &r) {
            if (!r.answered()) {
                QString error = unreachable(r);
                if (write && r.mayHaveArrived())
                    error += QStringLiteral(" The request was sent and the IRP may have carried it out: check on the "
                                            "IRP portal before trying again.");
                finish(std::nullopt, error, secrets);
                return;
            }
            const std::optional<QJsonObject> reply = jsonObject(r.body);
            if (!reply) {
                finish(std::nullopt, unreadable(r.status), secrets);
                return;
            }
            const QJsonValue data = reply->value(QLatin1String("Data"));
            if (data.isString())
                if (const auto sealed = strictBase64(data.toString()))
                    if (const auto plain = aes(*sealed, sek, false))
                        if (const auto object = jsonObject(*plain)) {
                            finish(*object, {}, secrets);
                            return;
                        }
            finish(std::nullopt, QStringLiteral("The IRP refused it: ") + irpError(*reply), secrets);
        });
    });
}
