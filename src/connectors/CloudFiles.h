#pragma once
// The cloud-drive folders that the vendors' sync apps keep in the home
// folder, and the three tools the engine finds a client's documents in them
// with and copies one into the client's folder. Nothing in a cloud folder is
// ever written, moved or deleted, and nothing signs in to a cloud service.
#include "core/Tool.h"

#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

struct CloudFiles {
    // The synced folders the Linux sync apps make in the home folder, in this
    // order (those that are folders): "Google Drive", Insync's
    // "Insync/<account>/Google Drive" and "Insync/<account>/OneDrive",
    // "OneDrive", the organisations' "OneDrive - Org", "Dropbox", the team
    // folders "Dropbox (Team)", "Nextcloud", "pCloudDrive"; several of a kind
    // sorted by name.
    static QStringList defaultRoots();
    static inline std::function<QStringList()> roots = &CloudFiles::defaultRoots;

    // The clients folder; the ERP tools' current root by default.
    static QString defaultWorkspace();
    static inline std::function<QString()> workspace = &CloudFiles::defaultWorkspace;

    // The home folder the roots are looked for in: HOME by default.
    static QString defaultHomePath();
    static inline std::function<QString()> homePath = &CloudFiles::defaultHomePath;

    // What a search returns when the engine names no extension.
    static const QSet<QString> interesting;

    struct Label {
        QString service;
        QString account;  // empty when the folder name carries none
    };
    // A root named by its service: "Dropbox (Asha & Co)" is Dropbox of that
    // team, "OneDrive - Asha & Co" OneDrive of that organisation,
    // "Insync/ca@firm.in/Google Drive" Google Drive of that account,
    // "pCloudDrive" pCloud; any other folder is named by its own name.
    static Label label(const QString &root);

    static QSet<QString> names();
    static QJsonArray definitions(Tool::Obj obj);
    static void call(const QString &name, const QJsonObject &args, Tool::Done done);
    static ToolFamily family();
};
