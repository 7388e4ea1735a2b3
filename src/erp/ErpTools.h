#pragma once
#include <QJsonValue>
#include <QString>
#include <functional>
#include <optional>

// The ERP and GST tool family: where the clients folder is, how a client's
// folder and input files are found in it, and how a return period and an
// amount are read and written.
struct ErpTools {
    // The clients folder as the CA chose it: VELTO_WORK of the work env file,
    // read afresh at every call so a new choice counts at once; the home
    // folder when none is set. The path is given as written, neither made
    // standard nor resolved.
    static QString defaultWorkRoot();

    // Tests point the tools at a folder of their own.
    static inline std::function<QString()> workRoot = &defaultWorkRoot;

    // A file found for the engine, or none, and a note the calling tool adds
    // to its answer (possibly empty).
    struct Found {
        std::optional<QString> url;
        QString note;
    };

    // The client's folder: a direct, visible sub-folder of the clients folder
    // whose name equals the trimmed name (case ignored), else the first whose
    // name and the wanted name begin one with the other. None for an empty
    // name or an unreadable root.
    static std::optional<QString> clientFolder(const QString &name);
    // The same lookup under another root, given in WorkPaths::rootOf form.
    static std::optional<QString> clientFolderIn(const QString &root, const QString &name);

    // A path the engine gave (absolute, or relative to the clients folder),
    // made standard with its symbolic links resolved; none when that leaves
    // the clients folder.
    static std::optional<QString> inWork(const QString &path);

    // The file the engine named; when it is not there, the one file of that
    // name anywhere in the clients folder, or a note listing the candidates.
    static Found locate(const QString &path);

    // The newest GSTR-2B download for a return: in the return folder, else in
    // the clients folder's "01 Inbox" when its name holds the GSTIN or the
    // period (MMYYYY).
    static std::optional<QString> find2b(const QString &folder, const QString &gstin, const QString &fp);

    // One spreadsheet or CSV file in the client's folder whose path holds one
    // of the words (a regular-expression alternation); the notes are for the
    // engine, "%@" standing for the client folder's name.
    static Found fileIn(const QString &client, const QString &words, const QString &found, const QString &none,
                        const QString &several, const QString &pick);
    static Found registerIn(const QString &client);
    static Found statementIn(const QString &client);

    // A return period named by the engine: "YYYY-M", "YYYY-MM" or "MMYYYY",
    // 2017 to 2100.
    struct Period {
        QString ym;   // YYYY-MM
        QString fp;   // MMYYYY
        QString from; // YYYY-MM-01
        QString to;   // YYYY-MM-DD, the month's last day
    };
    static std::optional<Period> period(const QString &text);

    // An amount in rupees with Indian digit grouping and two decimals; a text
    // that is not a number comes back as it stands, and no value as "".
    static QString money(const std::optional<QJsonValue> &value);
};
