#include "erp/ErpConnect.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "erp/ErpClient.h"
#include "erp/ErpText.h"
#include "platform/Dispatch.h"

#include <QDateTime>
#include <QJsonArray>
#include <QRegularExpression>
#include <QUuid>

namespace {

const QString kNotSignedIn = QStringLiteral("Not signed in to Hallix.");
const QString kNoConnectApi = QStringLiteral("This ERP does not support Velto connect yet (HTTP 404).");

// A cloud address, or none when the configured one is not usable.
std::optional<QUrl> cloud(const QString &path)
{
    return ErpConnect::cloudUrl(path);
}

std::optional<QUrl> erp(const QString &base, const QString &path)
{
    const QUrl url(base + QStringLiteral("/api/cli/v1/") + path, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

// Answers later on the main thread, like every answer that needed a request.
template <typename Fn>
void later(Fn fn)
{
    Dispatch::onMain(std::move(fn));
}

QString textOf(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isString() ? v.toString() : QString();
}

bool hasText(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).isString();
}

double numberOf(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isDouble() ? v.toDouble() : 0;
}

QStringList scopesOf(const QJsonObject &o)
{
    QStringList scopes;
    const QJsonValue v = o.value(QLatin1String("scopes"));
    if (!v.isArray())
        return scopes;
    for (const QJsonValue &s : v.toArray()) {
        if (!s.isString())
            return {};
        scopes.append(s.toString());
    }
    return scopes;
}

std::optional<qint64> integerOf(const QJsonValue &v)
{
    if (!v.isDouble() || v.toDouble() != double(v.toInteger()))
        return std::nullopt;
    return v.toInteger();
}

QString freshId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

double now()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

} // namespace

QString ErpConnect::hallix()
{
    return API;
}

std::optional<QUrl> ErpConnect::cloudUrl(const QString &path)
{
    const QUrl url(hallix() + path, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

std::optional<QString> ErpConnect::defaultSeatToken()
{
    const QString token = readEnvFile(SEAT_ENV).value(QStringLiteral("PAVI_SEAT_TOKEN"));
    if (token.isEmpty())
        return std::nullopt;
    return token;
}

void ErpConnect::clients(std::function<void(const QList<QJsonObject> &, const std::optional<QString> &)> done)
{
    const auto seat = seatToken();
    const auto url = cloud(QStringLiteral("/cli/clients"));
    if (!seat || !url) {
        later([done] { done({}, kNotSignedIn); });
        return;
    }
    ErpClient::request(*url, seat, QStringLiteral("GET"), std::nullopt, std::nullopt,
                       [done](const ErpClient::Answer &a) {
                           QList<QJsonObject> list;
                           if (a.json)
                               for (const QJsonValue &v : a.json->value(QLatin1String("clients")).toArray())
                                   if (v.isObject())
                                       list.append(v.toObject());
                           done(list, a.error);
                       });
}

void ErpConnect::start(qint64 companyId, const QString &rawBase, bool wantInvoices,
                       std::function<void(const std::optional<Started> &, const std::optional<QString> &)> done)
{
    const auto fail = [done](const QString &why) { done(std::nullopt, why); };
    const auto base = ErpClient::normalisedBase(rawBase);
    if (!base)
        return later([fail] { fail(QStringLiteral("The ERP address must be an https:// address.")); });
    const auto seat = seatToken();
    const auto ticketUrl = cloud(QStringLiteral("/cli/erp_ticket"));
    if (!seat || !ticketUrl)
        return later([fail] { fail(kNotSignedIn); });

    ErpClient::request(
        *ticketUrl, seat, QStringLiteral("POST"), std::nullopt, QJsonObject{{QStringLiteral("company_id"), companyId}},
        [=](const ErpClient::Answer &ticket) {
            const QJsonObject t = ticket.json.value_or(QJsonObject());
            if (!hasText(t, "ticket") || !t.value(QLatin1String("company")).isObject())
                return fail(QStringLiteral("Hallix would not issue the request: ")
                            + ticket.error.value_or(QStringLiteral("no ticket")));
            const QJsonObject company = t.value(QLatin1String("company")).toObject();
            const auto startUrl = erp(*base, QStringLiteral("connect/start"));
            if (!startUrl)
                return fail(QStringLiteral("Bad ERP address."));

            Started s;
            s.base = *base;
            s.companyId = integerOf(company.value(QLatin1String("id"))).value_or(companyId);
            s.company = textOf(company, "name");
            s.gstin = textOf(company, "gstin");
            const ErpClient::Form form{{QStringLiteral("ticket"), textOf(t, "ticket")},
                                       {QStringLiteral("want_write"), wantInvoices ? QStringLiteral("1")
                                                                                   : QStringLiteral("0")}};
            ErpClient::request(
                *startUrl, std::nullopt, QStringLiteral("POST"), form, std::nullopt,
                [=](const ErpClient::Answer &reply) mutable {
                    const QJsonObject r = reply.json.value_or(QJsonObject());
                    if (!hasText(r, "request_id") || !hasText(r, "poll_secret") || !hasText(r, "code")
                        || !hasText(r, "approve_url"))
                        return fail(reply.status == 404 ? kNoConnectApi
                                                        : QStringLiteral("The ERP would not start the request: ")
                                                              + reply.error.value_or(QStringLiteral("unknown error")));
                    s.url = textOf(r, "approve_url");
                    if (!s.url.startsWith(s.base + QStringLiteral("/connect/")))
                        return fail(QStringLiteral(
                            "The ERP returned an approval link for a different address. Not using it."));
                    s.requestId = textOf(r, "request_id");
                    s.secret = textOf(r, "poll_secret");
                    s.code = textOf(r, "code");
                    s.expires = numberOf(r, "expires_at");
                    done(s, std::nullopt);
                });
        });
}

void ErpConnect::poll(const Started &s, std::function<void(const PollResult &)> done)
{
    using Kind = PollResult::Kind;
    const auto url = erp(s.base, QStringLiteral("connect/poll"));
    if (!url)
        return later([done] { done({Kind::Failed, QStringLiteral("Bad ERP address."), std::nullopt}); });
    const ErpClient::Form form{{QStringLiteral("request_id"), s.requestId}, {QStringLiteral("poll_secret"), s.secret}};
    ErpClient::request(*url, std::nullopt, QStringLiteral("POST"), form, std::nullopt, [s, done](const ErpClient::Answer &a) {
        if (!a.json)
            return done({Kind::Waiting, a.error.value_or(QStringLiteral("No answer yet.")), std::nullopt});
        const QJsonObject r = *a.json;
        const QString status = textOf(r, "status");
        if (status == QLatin1String("denied"))
            return done({Kind::Failed, QStringLiteral("The client declined. Nothing was shared."), std::nullopt});
        if (status == QLatin1String("expired"))
            return done({Kind::Failed, QStringLiteral("The link expired before the client approved. Send a new one."),
                         std::nullopt});
        if (status == QLatin1String("collected"))
            return done({Kind::Failed,
                         QStringLiteral("This approval was already collected somewhere else. Remove it in the ERP "
                                        "(Connected CAs) and send a new request."),
                         std::nullopt});
        if (status != QLatin1String("approved"))
            return done({Kind::Waiting, QStringLiteral("pending"), std::nullopt});

        if (!hasText(r, "token"))
            return done({Kind::Failed, QStringLiteral("The ERP approved but sent no token."), std::nullopt});
        const QString g = textOf(r, "business_gstin").toUpper();
        if (s.gstin.isEmpty() || g != s.gstin)
            return done({Kind::Failed,
                         QStringLiteral("The approval came from a business with GSTIN ")
                             + (g.isEmpty() ? QStringLiteral("none") : g) + QStringLiteral(", not ") + s.company
                             + QStringLiteral("'s ") + s.gstin + QStringLiteral(". Not saved."),
                         std::nullopt});
        const ErpConnection c{freshId(),       s.companyId, s.company,         s.gstin,
                              s.base,          textOf(r, "business"),          g,
                              textOf(r, "approved_by"), scopesOf(r), numberOf(r, "token_expires_at"), now()};
        if (!ErpVault::upsert(c, textOf(r, "token")))
            return done({Kind::Failed,
                         QStringLiteral("Approved, but the system keyring would not store the connection. Nothing "
                                        "was saved."),
                         std::nullopt});
        done({Kind::Connected, QString(), c});
    });
}

void ErpConnect::redeem(const QString &rawBase, const QString &code,
                        std::function<void(const std::optional<ErpConnection> &, const std::optional<QString> &)> done)
{
    const auto fail = [done](const QString &why) { done(std::nullopt, why); };
    const auto base = ErpClient::normalisedBase(rawBase);
    if (!base)
        return later([fail] { fail(QStringLiteral("The ERP address must be an https:// address.")); });
    const QString compact = ErpText::bare(code);
    if (compact.size() != 8)
        return later([fail] { fail(QStringLiteral("The code is 8 letters and numbers, like ABCD-EFGH.")); });
    const auto seat = seatToken();
    const auto ticketUrl = cloud(QStringLiteral("/cli/erp_ticket"));
    if (!seat || !ticketUrl)
        return later([fail] { fail(kNotSignedIn); });

    ErpClient::request(
        *ticketUrl, seat, QStringLiteral("POST"), std::nullopt,
        QJsonObject{{QStringLiteral("purpose"), QStringLiteral("identity")}}, [=](const ErpClient::Answer &ticket) {
            const QJsonObject t = ticket.json.value_or(QJsonObject());
            if (!hasText(t, "ticket"))
                return fail(QStringLiteral("Hallix would not confirm who you are: ")
                            + ticket.error.value_or(QStringLiteral("no ticket")));
            const auto redeemUrl = erp(*base, QStringLiteral("connect/redeem"));
            if (!redeemUrl)
                return fail(QStringLiteral("Bad ERP address."));
            const ErpClient::Form form{{QStringLiteral("code"), compact}, {QStringLiteral("ticket"), textOf(t, "ticket")}};
            ErpClient::request(*redeemUrl, std::nullopt, QStringLiteral("POST"), form, std::nullopt,
                               [=](const ErpClient::Answer &reply) {
                const QJsonObject r = reply.json.value_or(QJsonObject());
                if (!hasText(r, "token")) {
                    if (reply.status == 404 && reply.error.value_or(QString()).startsWith(QLatin1String("HTTP 404")))
                        return fail(kNoConnectApi);
                    return fail(reply.error.value_or(QStringLiteral("The ERP would not accept the code.")));
                }
                static const QRegularExpression gstinForm(QRegularExpression::anchoredPattern(
                    QStringLiteral("[0-9]{2}[A-Z]{5}[0-9]{4}[A-Z][A-Z0-9]Z[A-Z0-9]")));
                const QString g = textOf(r, "business_gstin").toUpper();
                if (!gstinForm.match(g).hasMatch())
                    return fail(QStringLiteral("The ERP business has no valid GSTIN, so Velto cannot tell whose "
                                               "books these are. Not saved."));
                clients([=](const QList<QJsonObject> &list, const std::optional<QString> &) {
                    std::optional<QJsonObject> match;
                    for (const QJsonObject &client : list)
                        if (textOf(client, "gstin").toUpper() == g) {
                            match = client;
                            break;
                        }
                    const QString business = textOf(r, "business");
                    QString company = match ? textOf(*match, "company_name") : QString();
                    if (company.isEmpty())
                        company = business.isEmpty() ? g : business;
                    const qint64 companyId =
                        match ? integerOf(match->value(QLatin1String("id"))).value_or(0) : 0;
                    const ErpConnection c{freshId(), companyId, company, g, *base, business, g,
                                          textOf(r, "approved_by"), scopesOf(r), numberOf(r, "token_expires_at"), now()};
                    if (!ErpVault::upsert(c, textOf(r, "token")))
                        return fail(QStringLiteral(
                            "Connected, but the system keyring would not store it. Nothing was saved."));
                    done(c, std::nullopt);
                });
            });
        });
}
