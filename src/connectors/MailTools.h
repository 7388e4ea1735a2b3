#pragma once
// The firm's own mail app on this computer: its loopback bridge (read-only
// mail, contacts and calendar) and the seven tools the engine reads it with.
// Drafts open in the desktop's mail handler; nothing is ever sent from here.
#include "core/Tool.h"
#include "platform/Desktop.h"

#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

struct MailBridge {
    // Where the bridge listens, as the mail app wrote it.
    struct Door {
        QString base;  // "http://127.0.0.1:" + port, no trailing "/"
        QString token;
    };

    // The mail app's state file: "hallix-mail/bridge.json" in the desktop's
    // user data folder. Worked out on first use; tests set it.
    static QString defaultStatePath();
    static inline std::optional<QString> statePath;
    static QString stateFile();

    // The door the state file describes: a whole-number "port" of 1 or more
    // and a non-empty text "token" without control characters; nothing otherwise. Read afresh each time,
    // so a fresh token from the mail app counts at the next call.
    static std::optional<Door> readDoor();
    static inline std::function<std::optional<Door>()> doorFor = &MailBridge::readDoor;

    static const QString notConnected;

    // Exactly one of the two is present.
    using Done = std::function<void(const std::optional<QJsonObject> &reply, const QString &error)>;

    // GET base + path with the query (keys in ascending order; none: no "?")
    // and the bearer token; 12 s to answer. Every outcome that is not a JSON
    // object is one sentence for the engine.
    static void get(const QString &path, const QMap<QString, QString> &query, Done done);
};

struct MailTools {
    static QSet<QString> names();
    static QJsonArray definitions(Tool::Obj obj);
    static void call(const QString &name, const QJsonObject &args, Tool::Done done);
    static ToolFamily family();

    // Hands a "mailto" address to the desktop's mail handler; answers whether
    // it was taken. Tests record the address instead.
    static inline std::function<bool(const QUrl &)> openDraft = [](const QUrl &url) { return Desktop::openUrl(url); };

    // Milliseconds since 1970 of local midnight at the start of a YYYY-MM-DD
    // day; nothing when the text is not such a date.
    static std::optional<qint64> msSince(const QString &date);
};
