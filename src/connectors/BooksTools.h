#pragma once
// The online books family: the CA's Zoho Books and QuickBooks Online
// connections, the sign-in and requests to those services, and the six tools
// the engine reaches them with. Every write is shown to the CA first.
#include "core/Tool.h"
#include "platform/Http.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// One client's books at one service. Holds no secret: the refresh token and
// the client secret live in the secret store under `id` + ".refresh" and
// `id` + ".secret".
struct BooksConnection {
    QString id;            // vendor + "-" + organisation
    QString vendor;        // "zoho" or "quickbooks"
    QString client;
    QString organisation;  // Zoho organization_id, or the QuickBooks realm id
    QString clientId;
    QString region;        // Zoho data centre, kept as given (also for QuickBooks)
    double updated = 0;    // seconds since 1970

    // "Zoho Books" or "QuickBooks Online".
    QString vendorName() const;
    bool isZoho() const { return vendor == QLatin1String("zoho"); }

    QJsonObject toJson() const;
    // Every key is required, each with its own type.
    static std::optional<BooksConnection> fromJson(const QJsonValue &value);
};

struct BooksTools {
    static inline const QString SERVICE = QStringLiteral("in.hallix.velto.books");

    // ---- Connection store ------------------------------------------------

    // "books.json" in VELTO_HOME.
    static QString defaultIndexURL();
    static inline std::function<QString()> indexURL = &defaultIndexURL;

    // Where the two secrets of each connection are kept.
    struct Store {
        std::function<bool(const QString &value, const QString &account)> set;
        std::function<std::optional<QString>(const QString &account)> get;
        std::function<void(const QString &account)> remove;
    };
    // The desktop's secret store under SERVICE.
    static Store secretStore();
    static inline Store store = secretStore();

    // Every saved connection, sorted by lower-cased client (stable). A missing,
    // unreadable or undecodable index gives an empty list.
    static QList<BooksConnection> all();

    // The connection a call is about, or why there is none.
    struct Choice {
        std::optional<BooksConnection> found;
        QString why;
    };
    static Choice connection(const std::optional<QString> &client);

    enum class Saved { Yes, SecretsFailed, IndexUnreadable, IndexNotWritten };
    // Keeps a connection and its two secrets. Refuses before touching anything
    // when an index exists that cannot be read whole; when a later step fails
    // the secrets are put back as they were.
    static Saved save(BooksConnection c, const QString &refreshToken, const QString &clientSecret);

    // ---- Sign-in and requests ---------------------------------------------

    // The host suffix of a Zoho data centre ("in", "com", "eu", "au"), or
    // nothing for any other region.
    static std::optional<QString> zohoDomain(const QString &region);
    // The token address and the API base; empty when the connection's region
    // names no Zoho data centre.
    static QString tokenHost(const BooksConnection &c);
    static QString apiBase(const BooksConnection &c);

    // Sends one request; defaults to the platform's HTTP client.
    static inline std::function<void(const Http::Request &, Http::Done)> request = &Http::request;

    // Exactly one of the two is present.
    using TokenDone = std::function<void(const std::optional<QString> &token, const QString &error)>;
    using JsonDone = std::function<void(const std::optional<QJsonObject> &reply, const QString &error)>;

    static void accessToken(const BooksConnection &c, TokenDone done);
    static void get(const BooksConnection &c, const QString &path, const QMap<QString, QString> &query, JsonDone done);
    static void post(const BooksConnection &c, const QString &path, const QJsonObject &body, JsonDone done);

    // ---- Tools -------------------------------------------------------------

    static QSet<QString> names();
    static QJsonArray definitions(Tool::Obj obj);
    static void call(const QString &name, const QJsonObject &args, Tool::Done done);
    static ToolFamily family();

    // Asks the CA: the title and the exact text that will be sent.
    static bool confirmDialog(const QString &title, const QString &text);
    static inline std::function<bool(const QString &title, const QString &text)> confirm = &confirmDialog;

    // A number from a JSON number or a decimal text; nothing otherwise.
    static std::optional<double> number(const QJsonValue &value);
    // The pairs whose value is present, as an object (a JSON null stays).
    static QJsonObject trimmed(const QList<QPair<QString, std::optional<QJsonValue>>> &pairs);
    // A money amount rounded to paise, half away from zero on its decimal value.
    static double paise(double amount);
};
