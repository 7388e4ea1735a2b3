#pragma once
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

// One paired client ERP. Its access token is not part of it: the token lives
// in the secret store under the connection's id.
struct ErpConnection {
    QString id;            // fresh upper-case UUID made at pairing; the token's account
    qint64 companyId = 0;  // the client's company on the cloud service; 0 when unknown
    QString company;       // the client company as the CA knows it
    QString gstin;         // a client has at most one connection per GSTIN
    QString base;          // the ERP's https address, no trailing "/"
    QString business;      // the business the ERP reported
    QString businessGstin; // its GSTIN as the ERP reported it, upper case
    QString approvedBy;    // who approved the connection inside the ERP
    QStringList scopes;    // what the client approved; "write:sells" also raises invoices
    double expires = 0;    // token expiry, seconds since 1970; 0 when the ERP gave none
    double updated = 0;    // seconds since 1970 of the last save

    bool canInvoice() const { return scopes.contains(QStringLiteral("write:sells")); }
    QString allowed() const
    {
        return canInvoice() ? QStringLiteral("read, raise invoices") : QStringLiteral("read only");
    }

    QJsonObject toJson() const;
    // Every one of the eleven keys is required, each with its JSON type.
    static std::optional<ErpConnection> fromJson(const QJsonObject &object);

    bool operator==(const ErpConnection &) const = default;
};

// The paired ERPs: "erp.json" in the product's home folder for the records,
// the secret store for the tokens. Nothing is cached; every call reads the
// file afresh. Main thread only.
struct ErpVault {
    static inline const QString service = QStringLiteral("in.hallix.velto.erp");

    // Where the tokens go. The default is the platform secret store under the
    // service above; tests and other stores may replace it.
    struct Store {
        std::function<bool(const QString &token, const QString &account)> set;
        std::function<std::optional<QString>(const QString &account)> get;
        std::function<void(const QString &account)> remove;
    };
    static Store keychain();
    static inline Store store = keychain();

    // Every connection, sorted by company name (case ignored, stable). A file
    // that cannot be read or decoded is moved aside, its tokens kept, and the
    // list starts empty.
    static std::vector<ErpConnection> all();

    // Stores the token, then the record stamped with the current time, in
    // place of any earlier connection of the same GSTIN (whose token goes).
    // False, with nothing changed, when the token could not be stored.
    static bool upsert(const ErpConnection &connection, const QString &token);

    // Forgets the connection and its token.
    static void remove(const QString &id);

    static std::optional<QString> token(const QString &id);

    // The one connection a tool's `client` text names (empty: the only one;
    // else company id, GSTIN, exact company name, then part of a name), or
    // none and the sentence for the engine.
    static std::pair<std::optional<ErpConnection>, QString> pick(const QString &client);

    // VELTO_HOME/erp.json
    static QString file();

private:
    static void save(const std::vector<ErpConnection> &list);
    static void moveAside();
};
