#pragma once
// Tally's XML interface on this computer and the five tools the engine reads
// a client's books in Tally with and writes one voucher at a time, each
// voucher only after the CA has read its exact XML and approved it.
#include "core/Tool.h"

#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

struct TallyTools {
    // ---- Transport and XML -------------------------------------------------

    // "http://127.0.0.1:" + VELTO_TALLY_PORT as written, or "9000".
    static QString endpoint();

    // Exactly one of the two is present.
    using Done = std::function<void(const std::optional<QString> &reply, const QString &error)>;

    // POSTs one XML request to the endpoint and answers the reply text. An
    // answer cut off at `maxReply`, or not finished within `timeout` seconds,
    // is an error, never a shorter reply.
    static void post(const QString &xml, Done done);
    static inline double timeout = 30;
    // A day book of a busy year is large, but not larger than this.
    static inline qint64 maxReply = 64LL * 1024 * 1024;
    static inline std::function<void(const QString &xml, Done done)> send = &TallyTools::post;

    static const QString notRunning;

    // The export request of a report ("DayBook", "Trial Balance"); a date
    // element is written whenever that date is given, even empty.
    static QString report(const QString &name, const std::optional<QString> &company,
                          const std::optional<QString> &from, const std::optional<QString> &to);
    // The collection export: the collection, its object type and the methods fetched.
    static QString collection(const QString &name, const QString &type, const QStringList &methods,
                              const std::optional<QString> &company);
    // The import of one voucher, written exactly as given.
    static QString importVoucher(const QString &voucherXml, const std::optional<QString> &company);

    // The digits of a date when there are exactly eight (2024-04-01 becomes
    // 20240401); the text unchanged otherwise.
    static QString tallyDate(const QString &text);
    // Whether the engine wrote a date in a form Tally cannot misread: a real
    // day written YYYY-MM-DD or YYYYMMDD.
    static bool acceptedDate(const QString &text);

    // "&amp;", "&lt;", "&gt;", "&quot;", "&apos;" decoded once each; "&#4;",
    // "&#10;" and "&#13;" become spaces; the result trimmed.
    static QString unescape(const QString &text);
    // The inner texts of every <T>...</T>, unescaped, in document order
    // (an opening tag with attributes does not count).
    static QStringList values(const QString &reply, const QString &tag);
    // Every element that opens with "<T" and closes with "</T>", raw; only
    // the first `most` of them when `most` is not negative.
    static QStringList blocks(const QString &reply, const QString &tag, qsizetype most = -1);

    // ---- Tools ---------------------------------------------------------------

    static QSet<QString> names();
    static QJsonArray definitions(Tool::Obj obj);
    static void call(const QString &name, const QJsonObject &args, Tool::Done done);
    static ToolFamily family();

    // Asks the CA: the title's first line is the headline, its other lines
    // the summary; the detail is the exact XML. True only for "Write it".
    static bool confirmDialog(const QString &title, const QString &detail);
    static inline std::function<bool(const QString &title, const QString &detail)> confirm = &confirmDialog;
};
