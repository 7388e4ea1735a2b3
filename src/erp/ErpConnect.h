#pragma once
#include "erp/ErpVault.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

// Pairing a client's ERP, without the CA ever seeing the client's password:
// by approval link (a cloud ticket for the client, a connect request at the
// ERP, polls until the client decides) or by a code the client made in their
// ERP (an identity ticket exchanged with the code at once). Either road ends
// in one connection in the vault. Every answer comes later, on the main
// thread, failures found before any request included.
struct ErpConnect {
    // The cloud service's address; cloud paths are appended to it.
    static QString hallix();
    // hallix() + path as an address, or none when the configured one is not
    // usable.
    static std::optional<QUrl> cloudUrl(const QString &path);

    // The CA's cloud session token, read afresh at every call; none when the
    // CA is not signed in.
    static std::optional<QString> defaultSeatToken();
    static inline std::function<std::optional<QString>()> seatToken = &defaultSeatToken;

    // The ERP address offered when the CA names none.
    static inline const QString defaultBase = QStringLiteral("https://erp.hallix.in/erpdev");

    // A link pairing waiting for the client.
    struct Started {
        QString base;       // the normalised ERP address
        QString requestId;
        QString secret;     // the poll secret
        QString code;       // shown to the CA
        QString url;        // the approval link
        double expires = 0; // seconds since 1970; 0 when the ERP gave none
        qint64 companyId = 0;
        QString company;
        QString gstin;      // as the cloud holds it for the client
    };

    // One poll's outcome: still waiting (the text says why), connected, or
    // over without a connection (the text says why).
    struct PollResult {
        enum class Kind { Waiting, Connected, Failed };
        Kind kind = Kind::Waiting;
        QString text;
        std::optional<ErpConnection> connection;
    };

    // The CA's clients on the cloud service, and the request's error.
    static void clients(std::function<void(const QList<QJsonObject> &, const std::optional<QString> &)> done);

    // Opens a link pairing: exactly one of a Started value and an error text.
    static void start(qint64 companyId, const QString &base, bool wantInvoices,
                      std::function<void(const std::optional<Started> &, const std::optional<QString> &)> done);

    // Asks the ERP about a link pairing; saves the connection on approval.
    static void poll(const Started &started, std::function<void(const PollResult &)> done);

    // Redeems a client's code: exactly one of the new connection and an error text.
    static void redeem(const QString &base, const QString &code,
                       std::function<void(const std::optional<ErpConnection> &, const std::optional<QString> &)> done);
};
