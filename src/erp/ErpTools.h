#pragma once
#include "core/Tool.h"
#include "erp/ErpVault.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

// A write the ERP has dry-run and the engine may commit once the CA approves.
struct ErpPending {
    ErpConnection connection; // where the write goes
    QString resource;         // e.g. "sells"
    QString action;           // "create" or "update"
    QString data;             // the JSON object text, sent exactly as prepared
    QJsonValue preview;       // the ERP's own preview of the write
    double created = 0;       // seconds since 1970
};

// The ERP and GST tool family: the tools the engine reads and writes a
// client's ERP with, where the clients folder is, how a client's folder and
// input files are found in it, and how a return period and an amount are read
// and written.
struct ErpTools {
    // ---- The tools ---------------------------------------------------------

    static QSet<QString> names();
    static QJsonArray definitions(Tool::Obj obj);
    // Runs one tool; answers exactly once, on the main thread.
    static void call(const QString &name, const QJsonObject &args, Tool::Done done);
    static ToolFamily family();

    // A connection's token, or none.
    static inline std::function<std::optional<QString>(const QString &id)> tokenFor = &ErpVault::token;
    // Asks the CA to approve a prepared write, showing the preview text; blocks
    // until they answer. The default is a modal dialog.
    static bool approveDialog(const ErpPending &pending, const QString &preview);
    static inline std::function<bool(const ErpPending &, const QString &)> approve = &approveDialog;

    // Prepared writes by pending id: in memory only, single use, gone after
    // 1200 seconds. Main thread only.
    static inline QHash<QString, ErpPending> pending;
    // When each connection (by id) last proved, through whoami, that its token
    // still opens that client's books; trusted for 600 seconds.
    static inline QHash<QString, double> verified;
    static constexpr double pendingLife = 1200;
    static constexpr double verifiedLife = 600;
    // Drops the prepared writes that are 1200 seconds old or older.
    static void sweep();
    // Seconds since the epoch, with milliseconds: the clock pending writes and
    // proved connections are timed by.
    static double now();

    // "[" company " · " GSTIN "]" and a line feed: how every answer about one
    // client's ERP begins.
    static QString header(const ErpConnection &c);
    // Checks that the token still opens the books of the connection's GSTIN;
    // `done` gets none when it does, else the sentence for the engine.
    static void verify(const ErpConnection &c, const QString &token,
                       std::function<void(const std::optional<QString> &message)> done);
    // The answer to one ERP read: the header and the ERP's JSON (sorted keys,
    // without its "success" flag; on one line when compact), cut at 60000
    // characters with a hint; or the header and the failure, as an error.
    static void reply(const QString &header, const std::optional<QJsonObject> &json,
                      const std::optional<QString> &error, const Tool::Done &done, bool compact);
    // The plain text the CA reads in the approval dialog.
    static QString summary(const ErpPending &pending);

    // Name/value pairs from an object, or from a list of objects with the
    // two fields named; text values trimmed and not empty (numbers as their
    // decimal text when `numbers`).
    static QMap<QString, QString> pairs(const QJsonValue &value, const QString &key, const QString &valueKey,
                                        bool numbers = false);

    // The GST return tools the family routes to; their bodies live in
    // ErpGst.cpp. GSTR-1 runs on a connection already chosen and verified.
    static void gstr1(const QJsonObject &args, const ErpConnection &c, const QString &token, const QString &header,
                      const Tool::Done &done);
    static void gstr2b(const QJsonObject &args, const Tool::Done &done);
    static void bankStatement(const QJsonObject &args, const Tool::Done &done);

    // ---- The clients folder and its files ---------------------------------

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
    // whose name equals the trimmed name (case ignored), else the one whose
    // name and the wanted name begin one with the other. When several begin
    // so, none is chosen: `refusal` names them all, sorted, for the engine to
    // say which. Nothing for an empty name or an unreadable root.
    struct ClientFolder {
        std::optional<QString> path;
        QString refusal;
    };
    static ClientFolder clientFolder(const QString &name);
    // The same lookup under another root, given in WorkPaths::rootOf form.
    static ClientFolder clientFolderIn(const QString &root, const QString &name);
    // The direct sub-folder of the clients folder that holds `path` (a path
    // inside it), unless that is one of the clients folder's own standard
    // folders ("00 Firm", "01 Inbox", ...): the client the file belongs to.
    static std::optional<QString> clientHolding(const QString &path);

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

private:
    static void run(const QString &name, const QJsonObject &args, const ErpConnection &c, const QString &token,
                    const QString &resource, const Tool::Done &done);
    static void commit(const QJsonObject &args, const Tool::Done &done);
};
