#pragma once
#include <QString>
#include <optional>
#include <utility>
#include <vector>

// One saved portal login of a client. Its password is not part of it: it
// lives in the secret store under the login's id.
struct PortalLogin {
    QString id;       // stable key; also the secret store account of the password
    QString client;   // as the CA typed it
    QString portal;   // normally a catalogue name
    QString username; // the user id on the portal
    QString url;      // the login page; empty means the catalogue's
    QString note;
    double updated = 0; // seconds since 1970 of the last save

    bool operator==(const PortalLogin &) const = default;
};

// The known portals and their login pages, in the order the CA picks from.
struct PortalCatalogue {
    static const std::vector<std::pair<QString, QString>> &list();
    // The login page of a portal name (case ignored); empty when unknown.
    static QString url(const QString &portal);
};

// The store of portal logins: "portals.json" in the product's home folder for
// the records, the secret store for the passwords. Nothing is cached; every
// call reads the file afresh. Main thread only.
struct PortalVault {
    static inline const QString service = QStringLiteral("in.hallix.velto.portal");

    // What a write did. A file that exists but cannot be read is never
    // replaced: the write refuses, and the file and every password stay.
    struct Saved {
        bool saved = false;          // the records were written
        bool passwordStored = true;  // false when a given password could not be stored
        QString problem;             // a sentence for the CA when something failed
        bool ok() const { return saved && passwordStored; }
    };

    // Every login, sorted by client then portal (case-sensitive, stable);
    // none when the file is missing or unreadable.
    static std::vector<PortalLogin> all();

    // The logins that a client and portal text name (case ignored; an empty
    // text names none). A client named exactly wins over clients whose names
    // merely contain the text; the same holds for the portal.
    static std::vector<PortalLogin> matches(const QString &client, const QString &portal);

    // The one login the texts name, or none when they name none or several.
    static std::optional<PortalLogin> find(const QString &client, const QString &portal);

    // Saves the login under its id, stamped with the current time. An empty
    // or absent password keeps the stored one.
    static Saved upsert(const PortalLogin &login, const std::optional<QString> &password = std::nullopt);

    // Replaces the login's password; true when it was stored.
    static bool setPassword(const QString &password, const QString &id);

    // Drops the login and its password.
    static Saved remove(const QString &id);

    static std::optional<QString> password(const QString &id);
    static bool hasPassword(const QString &id);

    // VELTO_HOME/portals.json
    static QString file();
};
