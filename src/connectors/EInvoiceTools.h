#pragma once
// The e-invoice family: the firm's one connection to the GST e-invoice
// system (the IRP), signed in afresh for every call, and the five tools the
// engine uses to check, connect, fetch, report and cancel e-invoices. The CA
// approves every report and every cancellation in a dialog first.
#include "core/Tool.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

// The one connection kept on disk, in "einvoice.json". It holds no secret:
// the password, the client secret and NIC's public key live in the secret
// store under the family's service.
struct EInvoiceConnection {
    QString gstin;       // trimmed, upper-cased, 15 characters
    QString username;    // the API user name, trimmed
    QString clientId;    // trimmed
    QString environment; // "sandbox" or "production"
    double updated = 0;  // seconds since 1970 at connect time

    // Only the exact text "production" is live; anything else is the sandbox.
    bool isLive() const { return environment == QLatin1String("production"); }
    // The address every IRP path is appended to, without a trailing slash.
    QString base() const;

    QByteArray encode() const;
    // All five keys with their JSON types, or nothing.
    static std::optional<EInvoiceConnection> decode(const QByteArray &json);
};

struct EInvoiceTools {
    // The secret store's service and the items kept in it.
    static inline const QString SERVICE = QStringLiteral("in.hallix.velto.einvoice");

    // The IRP's hosts. VELTO_IRP_SANDBOX and VELTO_IRP_PRODUCTION, when set to
    // an https address, take their place (tests and other sandboxes).
    static inline const QString SANDBOX_BASE = QStringLiteral("https://einv-apisandbox.nic.in");
    static inline const QString PRODUCTION_BASE = QStringLiteral("https://api.einvoice1.gst.gov.in");

    // ---- the connection and the cryptography

    static QString defaultIndexPath();
    // Where the record lives; VELTO_HOME/einvoice.json unless a test says.
    static inline std::function<QString()> indexPath = &defaultIndexPath;
    // The stored record, or nothing when it is missing or unreadable.
    static std::optional<EInvoiceConnection> connection();

    // 32 fresh random bytes, or nothing when the generator fails.
    static std::optional<QByteArray> randomKey();
    // The app key of one sign-in. Tests make it fixed, or failing.
    static inline std::function<std::optional<QByteArray>()> appKeyBytes = &randomKey;

    // AES-256-ECB with PKCS#7, in either direction; nothing on failure.
    static std::optional<QByteArray> aes(const QByteArray &input, const QByteArray &key, bool encrypt);
    // RSA PKCS#1 v1.5 with NIC's key given as PEM text (a public key or a
    // certificate), exactly as the CA pasted it; nothing on failure.
    static std::optional<QByteArray> rsa(const QByteArray &input, const QString &publicKeyPem);

    // ---- sign-in and signed calls

    // A signed call's outcome: the IRP's decrypted reply object, or one
    // sentence for the engine.
    using CallDone = std::function<void(const std::optional<QJsonObject> &reply, const QString &error)>;
    using SignInDone =
        std::function<void(const QString &token, const QByteArray &sek, const QString &error, const QStringList &secrets)>;

    // Signs in, then sends one request to base + path, its payload (if any)
    // sealed with the session key. `path` must already be a valid address
    // path: callers percent-encode what they put in it. Secrets of the
    // exchange never reach `done`, whatever the IRP answers.
    static void call(const EInvoiceConnection &c, const QString &path, const QByteArray &method,
                     const std::optional<QJsonValue> &payload, const QMap<QString, QString> &query, CallDone done);
    // The sign-in alone: the auth token and the decrypted session key, or an
    // error sentence; `secrets` lists every secret value the exchange used.
    static void authenticate(const EInvoiceConnection &c, SignInDone done);
    // The IRP's reason for a refusal, as one fragment.
    static QString irpError(const QJsonObject &reply);

    // ---- the tools

    static QSet<QString> names();
    static QJsonArray definitions(Tool::Obj obj);
    static void call(const QString &name, const QJsonObject &args, Tool::Done done);
    static ToolFamily family();

    // The dialog the CA approves a write in: the headline is the title up
    // to its first line feed, the rest of the title and the message below
    // it, and the exact data to be sent in the scrolling box under them.
    // True only when the approve button ends it.
    static bool confirm(const QString &title, const QString &message, const QString &approve, const QString &detail);
};
