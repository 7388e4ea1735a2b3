#include "erp/ErpClient.h"
#include "platform/Dispatch.h"
#include "platform/Http.h"

#include <QJsonDocument>

std::optional<QString> ErpClient::normalisedBase(const QString &raw)
{
    QString text = raw.trimmed();
    if (!text.contains(QLatin1String("://")))
        text.prepend(QStringLiteral("https://"));
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    if (text.endsWith(QLatin1String("/api/cli/v1")))
        text.chop(11);
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty()
        || !text.startsWith(QLatin1String("https://")))
        return std::nullopt;
    return text;
}

QByteArray ErpClient::formBody(const Form &form)
{
    QList<QByteArray> pairs;
    for (auto it = form.cbegin(); it != form.cend(); ++it)
        // Beyond the unreserved characters these stay as they are in a query;
        // "&=+?/" never do.
        pairs.append(it.key().toUtf8() + '=' + QUrl::toPercentEncoding(it.value(), "!$'()*,:;@"));
    return pairs.join('&');
}

namespace {

// One request with the headers every ERP-side call carries, and its answer
// read the one way: a JSON object, or a sentence.
void send(const QUrl &url, const std::optional<QString> &token, const QString &method, const QByteArray &contentType,
          const QByteArray &body, ErpClient::Done done)
{
    using Answer = ErpClient::Answer;
    Http::Request req;
    req.method = method.toUtf8();
    req.url = url;
    req.timeout = ErpClient::timeout;
    req.maxBody = ErpClient::maxAnswer;
    req.headers = {{"Accept", "application/json"}, {"X-Client", "Velto"}};
    // Tokens, pairing codes and a client's books go only where they were sent.
    req.credential = true;
    if (token)
        req.headers.append(Http::Header("Authorization", "Bearer " + token->toUtf8()));
    if (!contentType.isEmpty()) {
        req.body = body;
        req.headers.append(Http::Header("Content-Type", contentType));
    }
    const QString host = url.host().isEmpty() ? QStringLiteral("the server") : url.host();
    Http::request(req, [host, done = std::move(done)](const Http::Response &r) {
        Answer a;
        a.status = r.status;
        a.mayHaveArrived = r.mayHaveArrived();
        std::optional<QJsonObject> json;
        if (!r.body.isEmpty()) {
            const QJsonDocument doc = QJsonDocument::fromJson(r.body);
            if (doc.isObject())
                json = doc.object();
        }
        const QString status = QString::number(r.status);
        bool failed = false;
        if (!r.answered()) {
            switch (r.failure) {
            case Http::Failure::TooLarge:
                a.error = QStringLiteral("The answer from ") + host + QStringLiteral(" was cut off: ") + r.error +
                          QLatin1Char('.');
                break;
            case Http::Failure::TimedOut:
            case Http::Failure::Redirected:
                a.error = r.error + QLatin1Char('.');
                break;
            default:
                a.error = QStringLiteral("Could not reach ") + host + QStringLiteral(": ") + r.error;
            }
        } else if (r.status >= 200 && r.status <= 299) {
            const QJsonValue success = json ? json->value(QLatin1String("success")) : QJsonValue();
            if (json && success.isBool() && !success.toBool())
                failed = true;
            else if (json)
                a.json = json;
            else
                a.error = QStringLiteral("The answer from ") + host + QStringLiteral(" was not JSON (HTTP ") + status
                          + QStringLiteral(").");
        } else {
            failed = true;
        }
        if (failed) {
            const QJsonValue message = json ? json->value(QLatin1String("message")) : QJsonValue();
            const QJsonValue error = json ? json->value(QLatin1String("error")) : QJsonValue();
            const QJsonValue inner = error.isObject() ? error.toObject().value(QLatin1String("message")) : QJsonValue();
            if (message.isString())
                a.error = message.toString();
            else if (inner.isString())
                a.error = inner.toString();
            else
                a.error = QStringLiteral("HTTP ") + status + QStringLiteral(" from ") + host + QLatin1Char('.');
        }
        // Always later, on the main thread, whatever the transport did.
        Dispatch::onMain([done, a] { done(a); });
    });
}

} // namespace

void ErpClient::request(const QUrl &url, const std::optional<QString> &token, const QString &method,
                        const std::optional<Form> &form, const std::optional<QJsonObject> &json, Done done)
{
    if (form)
        send(url, token, method, "application/x-www-form-urlencoded", formBody(*form), std::move(done));
    else if (json)
        send(url, token, method, "application/json", QJsonDocument(*json).toJson(QJsonDocument::Compact),
             std::move(done));
    else
        send(url, token, method, {}, {}, std::move(done));
}

void ErpClient::requestJson(const QUrl &url, const std::optional<QString> &token, const QString &method,
                            const QByteArray &jsonBody, Done done)
{
    send(url, token, method, "application/json", jsonBody, std::move(done));
}

void ErpClient::call(const QString &base, const QString &token, const QString &method, const QString &path,
                     const QMap<QString, QString> &query, const std::optional<Form> &form, Done done)
{
    QUrl url(base + QStringLiteral("/api/cli/v1/") + path, QUrl::StrictMode);
    if (!query.isEmpty()) {
        QList<QByteArray> items;
        for (auto it = query.cbegin(); it != query.cend(); ++it) // a QMap walks in name order
            items.append(QUrl::toPercentEncoding(it.key()) + '=' + QUrl::toPercentEncoding(it.value()));
        url.setQuery(QString::fromLatin1(items.join('&')), QUrl::StrictMode);
    }
    if (!url.isValid() || url.scheme().isEmpty()) {
        done(Answer{std::nullopt, QStringLiteral("Bad ERP address."), 0});
        return;
    }
    request(url, token, method, form, std::nullopt, [done = std::move(done)](const Answer &a) {
        Answer out = a;
        const auto replace = [&](const QString &sentence) {
            out.json.reset();
            out.error = sentence;
        };
        if (a.status == 429)
            replace(QStringLiteral("The ERP is rate-limiting (60 requests a minute). Wait a minute, and fetch larger "
                                   "pages rather than many small ones."));
        else if (a.status == 404 && a.error.value_or(QString()).startsWith(QLatin1String("HTTP 404")))
            replace(QStringLiteral("This ERP address does not have the Velto API (HTTP 404)."));
        else if (a.status == 401)
            replace(QStringLiteral("The client's approval has been removed or has expired. Nothing can be read until "
                                   "they approve again \u2014 the CA reconnects from Velto \u2192 Ledgora ERP\u2026."));
        done(out);
    });
}
