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
    // The synced folders under the home folder, in a fixed order: the iCloud
    // Drive folder, "Google Drive", "OneDrive", "Dropbox" (those that exist).
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
    // A root named by its last path component: "GoogleDrive-ca@firm.in" is
    // Google Drive of that account; a name without a hyphen is its own service.
    static Label label(const QString &root);

    static QSet<QString> names();
    static QJsonArray definitions(Tool::Obj obj);
    static void call(const QString &name, const QJsonObject &args, Tool::Done done);
    static ToolFamily family();
};
