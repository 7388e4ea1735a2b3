// Signing in to the books services with the refresh-token grant and the one
// authorised request each tool makes. Every failure becomes one sentence for
// the engine, and no credential ever travels back in one.
#include "connectors/BooksTools.h"
#include "connectors/ConnectorText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <memory>

namespace {

constexpr double kTokenTimeout = 30;
constexpr double kApiTimeout = 45;
// Far above two hundred rows of any list; a reply beyond it is not read.
constexpr qint64 kMaxReply = 32 * 1024 * 1024;

// The services' public hosts; each can be pointed elsewhere (a sandbox, a
// test server) by an environment variable holding a scheme and host.
QString origin(const char *variable, const QString &builtIn)
{
    const QString set = qEnvironmentVariable(variable);
    return set.isEmpty() ? builtIn : set;
}

// Every character but an ASCII letter or digit as %XX of its UTF-8 bytes.
QByteArray formValue(const QString &text)
{
    return QUrl::toPercentEncoding(text, QByteArray(), QByteArrayLiteral("-._~"));
}

std::optional<QJsonObject> jsonObject(const QByteArray &body)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

QString status(const Http::Response &r)
{
    return QString::number(r.status);
}

QByteArray authorization(const BooksConnection &c, const QString &token)
{
    return (c.isZoho() ? QByteArrayLiteral("Zoho-oauthtoken ") : QByteArrayLiteral("Bearer ")) + token.toUtf8();
}

QString badRegion(const BooksConnection &c)
{
    return QStringLiteral("The Zoho region of ") + c.client + QStringLiteral(" (") + c.region +
           QStringLiteral(") is not one of Zoho's data centres: in, com, eu or au. Connect the books again with "
                          "books_connect.");
}

// A fresh access token and every credential this call has seen, so that its
// answer can be cleaned of them.
struct SignIn {
    std::optional<QString> token;
    QString error;
    QStringList secrets;
};

// A request that got no answer, in the CA's words.
QString failureText(const QString &vendor, const Http::Response &r)
{
    switch (r.failure) {
    case Http::Failure::NotSent:
    case Http::Failure::None:
        return QStringLiteral("Could not reach ") + vendor + QStringLiteral(": ") + r.error;
    case Http::Failure::TooLarge:
        return QStringLiteral("The answer from ") + vendor + QStringLiteral(" was cut off: ") + r.error + QLatin1Char('.');
    case Http::Failure::Lost:
        return QStringLiteral("The connection to ") + vendor + QStringLiteral(" failed before its whole answer arrived: ") +
               r.error + QLatin1Char('.');
    default:
        return vendor + QStringLiteral(": ") + r.error + QLatin1Char('.');
    }
}

void signIn(const BooksConnection &c, std::function<void(const SignIn &)> done)
{
    const QString url = BooksTools::tokenHost(c);
    if (url.isEmpty()) {
        done(SignIn{std::nullopt, badRegion(c), {}});
        return;
    }
    const QString refreshAccount = c.id + QStringLiteral(".refresh");
    const std::optional<QString> refresh = BooksTools::store.get(refreshAccount);
    if (!refresh) {
        done(SignIn{std::nullopt,
                    QStringLiteral("The refresh token for ") + c.client +
                        QStringLiteral(" is not in the system keyring any more. Connect the books again with books_connect."),
                    {}});
        return;
    }
    const QString secret = BooksTools::store.get(c.id + QStringLiteral(".secret")).value_or(QString());

    Http::Request req;
    req.method = "POST";
    req.url = QUrl(url);
    req.timeout = kTokenTimeout;
    req.maxBody = kMaxReply;
    req.credential = true; // the refresh token and the client secret ride in the body
    req.headers.append(Http::Header{"Content-Type", "application/x-www-form-urlencoded"});
    req.body = "grant_type=refresh_token&refresh_token=" + formValue(*refresh);
    if (c.isZoho()) {
        req.body += "&client_id=" + formValue(c.clientId) + "&client_secret=" + formValue(secret);
    } else {
        req.headers.append(Http::Header{"Authorization", "Basic " + (c.clientId + QLatin1Char(':') + secret).toUtf8().toBase64()});
    }

    BooksTools::request(req, [c, refreshAccount, stored = *refresh, secret,
                              done = std::move(done)](const Http::Response &r) {
        SignIn out;
        out.secrets = {stored, secret};
        const QString vendor = c.vendorName();
        if (!r.error.isEmpty()) {
            out.error = failureText(vendor, r);
        } else if (const std::optional<QJsonObject> o = jsonObject(r.body)) {
            const QJsonValue token = o->value(QLatin1String("access_token"));
            if (token.isString() && !token.toString().isEmpty()) {
                out.token = token.toString();
                out.secrets << *out.token;
                // A service that rotates refresh tokens retires the old one;
                // keep the new one or the connection dies.
                const QJsonValue fresh = o->value(QLatin1String("refresh_token"));
                if (fresh.isString() && !fresh.toString().isEmpty()) {
                    out.secrets << fresh.toString();
                    if (fresh.toString() != stored)
                        BooksTools::store.set(fresh.toString(), refreshAccount);
                }
            } else {
                QString reason;
                if (o->value(QLatin1String("error")).isString())
                    reason = o->value(QLatin1String("error")).toString();
                else if (o->value(QLatin1String("message")).isString())
                    reason = o->value(QLatin1String("message")).toString();
                else
                    reason = QStringLiteral("HTTP ") + status(r);
                out.error = vendor + QStringLiteral(" refused the refresh token (") + reason +
                            QStringLiteral("). The CA has to connect the books again.");
            }
        } else {
            out.error = vendor + QStringLiteral(" sent something Velto could not read (HTTP ") + status(r) +
                        QStringLiteral(").");
        }
        out.error = ConnectorText::scrub(out.error, out.secrets);
        done(out);
    });
}

// The API reply as an object, or the sentence for it.
void readReply(const BooksConnection &c, const Http::Response &r, bool invoice, const QStringList &secrets,
               const BooksTools::JsonDone &done)
{
    const QString vendor = c.vendorName();
    QString error;
    const std::optional<QJsonObject> o = r.error.isEmpty() ? jsonObject(r.body) : std::nullopt;
    if (!r.error.isEmpty()) {
        error = failureText(vendor, r);
        if (invoice && r.mayHaveArrived())
            error += QStringLiteral(" The invoice was sent and may have been created in ") + vendor +
                     QStringLiteral(": check there before trying again.");
    } else if (!o) {
        error = vendor + QStringLiteral(" answered HTTP ") + status(r) +
                QStringLiteral(" with something Velto could not read.");
    } else if (r.status >= 400) {
        QString reason;
        if (o->value(QLatin1String("message")).isString()) {
            reason = o->value(QLatin1String("message")).toString();
        } else if (!invoice) {
            const QJsonValue first = o->value(QLatin1String("Fault")).toObject().value(QLatin1String("Error")).toArray().at(0);
            const QJsonValue message = first.toObject().value(QLatin1String("Message"));
            if (message.isString())
                reason = message.toString();
        }
        if (reason.isNull())
            reason = QStringLiteral("HTTP ") + status(r);
        error = invoice ? vendor + QStringLiteral(" refused the invoice: ") + reason + QStringLiteral(". Nothing was created.")
                        : vendor + QStringLiteral(" refused the request: ") + reason;
    } else {
        done(ConnectorText::scrub(*o, secrets).toObject(), QString());
        return;
    }
    done(std::nullopt, ConnectorText::scrub(error, secrets));
}

void send(const BooksConnection &c, Http::Request req, bool invoice, BooksTools::JsonDone done)
{
    signIn(c, [c, req = std::move(req), invoice, done = std::move(done)](const SignIn &in) mutable {
        if (!in.token) {
            done(std::nullopt, in.error);
            return;
        }
        req.timeout = kApiTimeout;
        req.maxBody = kMaxReply;
        req.headers.append(Http::Header{"Authorization", authorization(c, *in.token)});
        BooksTools::request(req, [c, invoice, secrets = in.secrets, done = std::move(done)](const Http::Response &r) {
            readReply(c, r, invoice, secrets, done);
        });
    });
}

} // namespace

std::optional<QString> BooksTools::zohoDomain(const QString &region)
{
    static const QMap<QString, QString> domains{
        {QStringLiteral("in"), QStringLiteral("in")},
        {QStringLiteral("com"), QStringLiteral("com")},
        {QStringLiteral("eu"), QStringLiteral("eu")},
        {QStringLiteral("au"), QStringLiteral("com.au")},
    };
    const auto it = domains.constFind(region);
    if (it == domains.cend())
        return std::nullopt;
    return *it;
}

QString BooksTools::tokenHost(const BooksConnection &c)
{
    if (!c.isZoho())
        return origin("VELTO_QUICKBOOKS_OAUTH", QStringLiteral("https://oauth.platform.intuit.com")) +
               QStringLiteral("/oauth2/v1/tokens/bearer");
    const std::optional<QString> domain = zohoDomain(c.region);
    if (!domain)
        return {};
    return origin("VELTO_ZOHO_ACCOUNTS", QStringLiteral("https://accounts.zoho.") + *domain) +
           QStringLiteral("/oauth/v2/token");
}

QString BooksTools::apiBase(const BooksConnection &c)
{
    if (!c.isZoho())
        return origin("VELTO_QUICKBOOKS_API", QStringLiteral("https://quickbooks.api.intuit.com")) +
               QStringLiteral("/v3/company/") + QString::fromLatin1(QUrl::toPercentEncoding(c.organisation));
    const std::optional<QString> domain = zohoDomain(c.region);
    if (!domain)
        return {};
    return origin("VELTO_ZOHO_API", QStringLiteral("https://www.zohoapis.") + *domain) + QStringLiteral("/books/v3");
}

void BooksTools::accessToken(const BooksConnection &c, TokenDone done)
{
    signIn(c, [done = std::move(done)](const SignIn &in) { done(in.token, in.error); });
}

void BooksTools::get(const BooksConnection &c, const QString &path, const QMap<QString, QString> &query, JsonDone done)
{
    const QString base = apiBase(c);
    if (base.isEmpty()) {
        done(std::nullopt, badRegion(c));
        return;
    }
    QMap<QString, QString> items = query; // sorted by name
    if (c.isZoho())
        items.insert(QStringLiteral("organization_id"), c.organisation);
    QByteArray encoded;
    for (auto it = items.cbegin(); it != items.cend(); ++it) {
        if (!encoded.isEmpty())
            encoded += '&';
        encoded += QUrl::toPercentEncoding(it.key()) + '=' + QUrl::toPercentEncoding(it.value());
    }
    Http::Request req;
    req.method = "GET";
    req.url = QUrl::fromEncoded((base + path).toUtf8() + (encoded.isEmpty() ? QByteArray() : '?' + encoded));
    req.headers.append(Http::Header{"Accept", "application/json"});
    send(c, std::move(req), false, std::move(done));
}

void BooksTools::post(const BooksConnection &c, const QString &path, const QJsonObject &body, JsonDone done)
{
    const QString base = apiBase(c);
    if (base.isEmpty()) {
        done(std::nullopt, badRegion(c));
        return;
    }
    QByteArray url = (base + path).toUtf8();
    if (c.isZoho())
        url += "?organization_id=" + QUrl::toPercentEncoding(c.organisation);
    Http::Request req;
    req.method = "POST";
    req.url = QUrl::fromEncoded(url);
    req.headers.append(Http::Header{"Content-Type", "application/json"});
    req.headers.append(Http::Header{"Accept", "application/json"});
    req.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    send(c, std::move(req), true, std::move(done));
}
