// The GST return tools: GSTR-1 from a verified ERP connection, and the
// GSTR-2B reconciliation and bank-statement conversion, which choose their
// own inputs. The figures are the cloud engines' work; these tools gather
// the inputs, send them, file what comes back in the clients folder and
// hand the engine the summary.
#include "erp/ErpClient.h"
#include "core/Characters.h"
#include "core/Globals.h"
#include "core/JsonFields.h"
#include "erp/ErpConnect.h"
#include "erp/ErpText.h"
#include "erp/ErpTools.h"
#include "erp/WorkPaths.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

namespace {

using JsonFields::text;

const QString kMonthRule = QStringLiteral("month is the return period as YYYY-MM, e.g. 2026-08.");
const QString kFolderRule = QStringLiteral("folder is a path inside the clients folder, like Quenby/GST/2026-08.");
const QString kNotSignedIn = QStringLiteral("Not signed in to Hallix.");

// Inputs are refused at these sizes and above: each goes whole, in base64,
// into one request.
constexpr qint64 k2bCap = 40000000;
constexpr qint64 kRegisterCap = 40000000;
constexpr qint64 kStatementCap = 25000000;

QString argText(const QJsonObject &args, const char *key)
{
    return text(args, key).value_or(QString());
}

// A client's name made fit for a folder name: each character a file name
// cannot hold becomes one space.
QString folderName(const QString &name)
{
    QString out = name;
    for (QChar &c : out)
        if (QStringLiteral("/\\:*?\"<>|").contains(c))
            c = QLatin1Char(' ');
    return out;
}

QString relativeTo(const QString &path, const QString &root)
{
    if (path == root)
        return QString();
    return path.mid(root.endsWith(QLatin1Char('/')) ? root.size() : root.size() + 1);
}

bool samePath(const QString &a, const QString &b)
{
    return WorkPaths::resolved(QDir::cleanPath(a)) == WorkPaths::resolved(QDir::cleanPath(b));
}

QString under(const QString &folder, const QString &name)
{
    return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
}

// The system's own words for the last failure.
QString lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Makes the folder and its missing parents; the failure's description, or none.
std::optional<QString> makeFolder(const QString &path)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(path).toStdString()), ec);
    if (ec)
        return QString::fromLocal8Bit(ec.message().c_str());
    if (!QFileInfo(path).isDir())
        return QString::fromLocal8Bit(std::strerror(ENOTDIR));
    return std::nullopt;
}

// Replaces the file whole; the failure's description, or none.
std::optional<QString> writeFile(const QString &path, const QByteArray &bytes)
{
    errno = 0;
    if (Files::writeAtomic(path, bytes))
        return std::nullopt;
    return errno ? lastError() : QStringLiteral("the file could not be written");
}

// An output an earlier run left that this run does not replace. A failure
// to remove it changes nothing for this run.
void removeStale(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink())
        QFile::remove(path);
}

std::optional<QByteArray> base64(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    const auto decoded =
        QByteArray::fromBase64Encoding(value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

// The engine's next step from a cloud answer, or nothing.
QString nextStep(const QJsonObject &reply)
{
    const QJsonValue next = reply.value(QLatin1String("next"));
    const QString step = next.isString() ? next.toString().trimmed() : QString();
    return step.isEmpty() ? QString() : QStringLiteral("\n\n") + step;
}

QString listing(const QStringList &entries)
{
    QStringList lines;
    for (const QString &e : entries)
        lines.append(QStringLiteral("- ") + e);
    return lines.join(QLatin1Char('\n'));
}

QJsonObject textMap(const QMap<QString, QString> &map)
{
    QJsonObject out;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        out.insert(it.key(), it.value());
    return out;
}

// One input file read whole, off the main thread.
struct Input {
    enum class Outcome { Ok, Unreadable, TooBig };
    Outcome outcome = Outcome::Unreadable;
    QByteArray bytes;
};

// Reads a regular file of fewer than `cap` bytes. Anything else (a folder, a
// pipe that would never end, a file that grows past the cap while read) is
// refused without reading further. Never on the main thread.
Input readInput(const QString &path, qint64 cap)
{
    Input in;
    Files::Regular file;
    Files::openRegular(path, file);
    if (file.outcome != Files::Regular::Outcome::Ok)
        return in;
    if (file.size >= cap) {
        in.outcome = Input::Outcome::TooBig;
        return in;
    }
    std::optional<QByteArray> data = Files::readUpTo(file.fd, cap);
    if (!data)
        return in;
    in.outcome = data->size() >= cap ? Input::Outcome::TooBig : Input::Outcome::Ok;
    if (in.outcome == Input::Outcome::Ok)
        in.bytes = std::move(*data);
    return in;
}

// An upload body whose files go in as base64. The base64 text is spliced
// into the serialised JSON rather than carried through the JSON classes,
// which would take seconds for a file of tens of megabytes; base64 needs no
// escaping in a JSON string.
class Upload {
public:
    QJsonObject body;

    // {"name", "data"} for the file; its data filled in when serialised.
    QJsonObject file(const QString &path, const QByteArray &bytes)
    {
        // Unguessable, so no text the engine or a file name supplies can
        // stand where the data goes.
        const QString mark = QStringLiteral("velto-file-") + QUuid::createUuid().toString(QUuid::Id128) +
                             QLatin1Char('-') + QString::number(files_.size());
        files_.append({mark, bytes});
        return QJsonObject{{QStringLiteral("name"), QFileInfo(path).fileName()}, {QStringLiteral("data"), mark}};
    }

    QByteArray serialise() const
    {
        QByteArray json = QJsonDocument(body).toJson(QJsonDocument::Compact);
        for (const auto &[mark, bytes] : files_) {
            const QByteArray quoted = '"' + mark.toLatin1() + '"';
            const qsizetype at = json.indexOf(quoted);
            if (at >= 0)
                json.replace(at, quoted.size(), '"' + bytes.toBase64() + '"');
        }
        return json;
    }

private:
    QList<QPair<QString, QByteArray>> files_;
};

// Posts a body built and serialised off the main thread (it may hold tens
// of megabytes of base64); the answer comes on the main thread.
void postBuilt(const QUrl &url, const QString &seat, std::function<Upload()> build, ErpClient::Done done)
{
    Dispatch::runInBackground([url, seat, build = std::move(build), done = std::move(done)] {
        QByteArray body = build().serialise();
        Dispatch::onMain([url, seat, body = std::move(body), done] {
            ErpClient::requestJson(url, seat, QStringLiteral("POST"), body, done);
        });
    });
}

std::optional<QString> seatToken()
{
    const std::optional<QString> seat = ErpConnect::seatToken();
    if (!seat || seat->isEmpty())
        return std::nullopt;
    return seat;
}

// ---- GSTR-1 ----------------------------------------------------------------

// Writes what the builder sent, in order; the listed entries and the first
// failure's description.
std::pair<QStringList, std::optional<QString>> writeGstr1(const QString &dir, const QString &folder,
                                                          const QString &stem, const QJsonObject &reply)
{
    QStringList listed;
    if (const auto failed = makeFolder(dir))
        return {listed, failed};
    const QString json = stem + QStringLiteral(".json");
    const QJsonValue portal = reply.value(QLatin1String("json"));
    if (portal.isString()) {
        if (const auto failed = writeFile(joinPath(dir, json), portal.toString().toUtf8()))
            return {listed, failed};
        listed.append(folder + QLatin1Char('/') + json + QStringLiteral("  \u2190 upload this on the GST portal"));
    } else {
        // A portal file from an earlier run would be taken for this month's.
        removeStale(joinPath(dir, json));
    }
    const QString csv = stem + QStringLiteral("_register.csv");
    const QJsonValue registerCsv = reply.value(QLatin1String("csv"));
    if (const auto failed =
            writeFile(joinPath(dir, csv), registerCsv.isString() ? registerCsv.toString().toUtf8() : QByteArray()))
        return {listed, failed};
    listed.append(folder + QLatin1Char('/') + csv);
    const QString summary = stem + QStringLiteral("_summary.txt");
    if (const auto failed = writeFile(joinPath(dir, summary), reply.value(QLatin1String("text")).toString().toUtf8()))
        return {listed, failed};
    listed.append(folder + QLatin1Char('/') + summary);
    return {listed, std::nullopt};
}

bool climbsOrLeaves(const QString &folder)
{
    if (folder.startsWith(QLatin1Char('/')) || folder.startsWith(QLatin1Char('~')))
        return true;
    for (const QString &part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        if (part == QLatin1String(".."))
            return true;
    return false;
}

// ---- GSTR-2B ---------------------------------------------------------------

// One reconciliation run, from the checked inputs to the answer.
struct Recon {
    ErpTools::Period period;
    QString gstin;
    QString label;        // the client's name as sent and shown
    QString head;         // the search note and "[label · GSTIN]"
    QString note;         // put in front of every answer after the checks
    QString folder;       // the output folder, resolved
    QString shown;        // the same, from the clients folder
    QString folderText;   // as the engine gave it, or the default
    QString g2bPath;
    QByteArray g2b;
    QJsonObject args;
    Tool::Done done;
};

QString nextStepFor2b(const Recon &r)
{
    return r.head + QStringLiteral("No GSTR-2B file for ") + r.period.ym + QStringLiteral(" in ") + r.folderText +
           QStringLiteral("/ or 01 Inbox.\n\nNEXT STEP (Velto, not the CA): download it from the GST portal in the "
                          "Velto browser \u2014 follow the hallix-gst-2b-download skill (Returns Dashboard \u2192 ") +
           r.period.ym + QStringLiteral(" \u2192 GSTR-2B \u2192 Download \u2192 JSON), save it into ") + r.folderText +
           QStringLiteral("/ with browser_downloads, then call gstr2b_reconcile again.");
}

// The pairs the engine judged: objects whose values are all text.
QJsonArray aiMatches(const QJsonArray &given)
{
    QJsonArray out;
    for (const QJsonValue &item : given) {
        if (!item.isObject())
            continue;
        const QJsonObject o = item.toObject();
        QJsonObject kept;
        for (auto it = o.constBegin(); it != o.constEnd(); ++it) {
            if (it->isString())
                kept.insert(it.key(), it->toString());
            else if (it->isDouble())
                kept.insert(it.key(), ErpText::plain(*it));
        }
        out.append(kept);
    }
    return out;
}

void writeRecon(const std::shared_ptr<Recon> &r, const QString &source, const ErpClient::Answer &a)
{
    const QJsonValue summaryValue = a.json ? a.json->value(QLatin1String("summary")) : QJsonValue();
    if (!a.json || a.json->isEmpty() || !summaryValue.isString()) {
        r->done(r->note + QStringLiteral("The Hallix reconciliation did not run: ") +
                    a.error.value_or(QStringLiteral("no reply")),
                true);
        return;
    }
    const QJsonObject &reply = *a.json;
    const QString summary = summaryValue.toString();
    const QString base = QStringLiteral("GSTR2B_recon_") + r->gstin + QLatin1Char('_') + r->period.fp;
    QStringList listed;
    const auto failed = [&]() -> std::optional<QString> {
        if (const auto e = makeFolder(r->folder))
            return e;
        const QString workbook = base + QStringLiteral(".xlsx");
        if (const auto bytes = base64(reply.value(QLatin1String("xlsx")))) {
            if (const auto e = writeFile(joinPath(r->folder, workbook), *bytes))
                return e;
            listed.append(under(r->shown, workbook));
        } else if (!samePath(joinPath(r->folder, workbook), r->g2bPath)) {
            // An earlier run's workbook would contradict this summary.
            removeStale(joinPath(r->folder, workbook));
        }
        const QString summaryName = base + QStringLiteral("_summary.txt");
        if (const auto e = writeFile(joinPath(r->folder, summaryName), summary.toUtf8()))
            return e;
        listed.append(under(r->shown, summaryName));
        const QString ext = QFileInfo(r->g2bPath).suffix().toLower();
        const QString copy = QStringLiteral("GSTR2B_") + r->gstin + QLatin1Char('_') + r->period.fp +
                             (ext.isEmpty() ? QString() : QLatin1Char('.') + ext);
        const QString copyPath = joinPath(r->folder, copy);
        if (!samePath(copyPath, r->g2bPath)) {
            // The bytes that were reconciled, not whatever the file holds now.
            removeStale(copyPath);
            if (const auto e = writeFile(copyPath, r->g2b))
                return e;
        }
        listed.append(under(r->shown, copy) + QStringLiteral("  (the 2B used)"));
        return std::nullopt;
    }();
    if (failed) {
        r->done(r->note + summary + QStringLiteral("\n\nThe files could not be written to ") + r->shown +
                    QStringLiteral(": ") + *failed,
                true);
        return;
    }
    r->done(r->note + summary + QStringLiteral("\n\nBooks from: ") + source + QStringLiteral("\nFiles:\n") +
                listing(listed) + nextStep(reply),
            false);
}

// The purchase register as sent: a file's bytes, or the ERP's rows.
struct Books {
    std::optional<QString> path;
    QByteArray bytes;
    QJsonObject erp;
};

void sendRecon(const std::shared_ptr<Recon> &r, const Books &books, const QString &source)
{
    const std::optional<QString> seat = seatToken();
    const std::optional<QUrl> url = ErpConnect::cloudUrl(QStringLiteral("/cli/gstr2b_reconcile"));
    if (!seat || !url) {
        r->done(kNotSignedIn, true);
        return;
    }
    postBuilt(*url, *seat,
              [r, books] {
                  Upload up;
                  up.body = QJsonObject{{QStringLiteral("gstin"), r->gstin},
                                        {QStringLiteral("fp"), r->period.fp},
                                        {QStringLiteral("company"), r->label},
                                        {QStringLiteral("g2b"), up.file(r->g2bPath, r->g2b)}};
                  up.body.insert(QStringLiteral("books"),
                                 books.path ? QJsonValue(up.file(*books.path, books.bytes)) : QJsonValue(books.erp));
                  const QJsonValue tolerance = r->args.value(QLatin1String("tolerance"));
                  if (tolerance.isDouble())
                      up.body.insert(QStringLiteral("tolerance"), tolerance);
                  const QJsonValue matches = r->args.value(QLatin1String("ai_matches"));
                  if (matches.isArray())
                      up.body.insert(QStringLiteral("ai_matches"), aiMatches(matches.toArray()));
                  return up;
              },
              [r, source](const ErpClient::Answer &a) { writeRecon(r, source, a); });
}

// The purchase register from the client's ERP, once its identity is proved.
void erpRegister(const std::shared_ptr<Recon> &r, const ErpConnection &c, const QString &token)
{
    ErpTools::verify(c, token, [r, c, token](const std::optional<QString> &message) {
        if (message) {
            r->done(*message, true);
            return;
        }
        const QMap<QString, QString> query{{QStringLiteral("from"), r->period.from},
                                           {QStringLiteral("register"), QStringLiteral("1")},
                                           {QStringLiteral("to"), r->period.to}};
        ErpClient::call(c.base, token, QStringLiteral("GET"), QStringLiteral("reports/gst/purchases"), query,
                        std::nullopt, [r, business = c.business](const ErpClient::Answer &a) {
                            const QJsonValue rows = a.json ? a.json->value(QLatin1String("register")) : QJsonValue();
                            if (a.json && !a.json->isEmpty() && rows.isArray()) {
                                sendRecon(r, Books{std::nullopt, {}, QJsonObject{{QStringLiteral("erp"), rows}}},
                                          QStringLiteral("Ledgora ERP (") + business + QLatin1Char(')'));
                                return;
                            }
                            r->done(r->note + a.error.value_or(QStringLiteral("The ERP sent no purchase register.")),
                                    true);
                        });
    });
}

// ---- Bank statement ----------------------------------------------------------

void writeStatementOutputs(const QString &statement, const QString &note, const ErpClient::Answer &a,
                           const Tool::Done &done)
{
    const QJsonValue summaryValue = a.json ? a.json->value(QLatin1String("summary")) : QJsonValue();
    if (!a.json || a.json->isEmpty() || !summaryValue.isString()) {
        done(QStringLiteral("The Hallix statement engine did not read it: ") +
                 a.error.value_or(QStringLiteral("no reply")),
             true);
        return;
    }
    const QJsonObject &reply = *a.json;
    const QString summary = summaryValue.toString();
    const QFileInfo info(statement);
    const QString dir = info.absolutePath();
    const QString stem = info.completeBaseName();
    const QString root = WorkPaths::root();
    const auto shown = [&root](const QString &path) {
        const QString resolved = WorkPaths::resolved(QDir::cleanPath(path));
        return WorkPaths::inside(resolved, root) ? relativeTo(resolved, root) : QFileInfo(path).fileName();
    };
    QStringList listed;
    const auto failed = [&]() -> std::optional<QString> {
        const QString books = joinPath(dir, stem + QStringLiteral("_books.xlsx"));
        if (const auto bytes = base64(reply.value(QLatin1String("xlsx")))) {
            if (const auto e = writeFile(books, *bytes))
                return e;
            listed.append(shown(books));
        } else {
            // An earlier run's workbook would be booked as this one's.
            removeStale(books);
        }
        const QString tally = joinPath(dir, stem + QStringLiteral("_tally.xml"));
        const QJsonValue vouchers = reply.value(QLatin1String("tally"));
        if (vouchers.isString()) {
            if (const auto e = writeFile(tally, vouchers.toString().toUtf8()))
                return e;
            listed.append(shown(tally) +
                          QStringLiteral("  \u2190 import in Tally (Gateway of Tally \u2192 Import \u2192 Vouchers)"));
        } else {
            removeStale(tally);
        }
        const QString summaryFile = joinPath(dir, stem + QStringLiteral("_summary.txt"));
        if (const auto e = writeFile(summaryFile, summary.toUtf8()))
            return e;
        listed.append(shown(summaryFile));
        return std::nullopt;
    }();
    if (failed) {
        done(summary + QStringLiteral("\n\nThe files could not be written next to the statement: ") + *failed, true);
        return;
    }
    done(note + summary + QStringLiteral("\n\nFiles:\n") + listing(listed) + nextStep(reply), false);
}

} // namespace

void ErpTools::gstr1(const QJsonObject &args, const ErpConnection &c, const QString &token, const QString &header,
                     const Tool::Done &done)
{
    const std::optional<Period> p = period(Characters::trimSpacesTabs(argText(args, "month")));
    if (!p)
        return done(kMonthRule, true);
    QString folder = Characters::trimSpacesTabs(argText(args, "folder"));
    if (folder.isEmpty()) {
        QString name = Characters::trimSpacesTabs(folderName(c.company));
        if (name.isEmpty())
            name = c.gstin;
        folder = name + QStringLiteral("/GST/") + p->ym;
    }
    // Checked as written and again with its links resolved: a link inside
    // the clients folder that leads out of it is refused too.
    const std::optional<QString> dir = climbsOrLeaves(folder) ? std::nullopt : inWork(folder);
    if (!dir)
        return done(kFolderRule, true);
    const std::optional<QString> seat = seatToken();
    const std::optional<QUrl> cloud = ErpConnect::cloudUrl(QStringLiteral("/cli/gstr1_build"));
    if (!seat || !cloud)
        return done(kNotSignedIn, true);

    const QMap<QString, QString> query{
        {QStringLiteral("from"), p->from}, {QStringLiteral("register"), QStringLiteral("1")}, {QStringLiteral("to"), p->to}};
    const QMap<QString, QString> hsn =
        pairs(args.value(QLatin1String("hsn_for_products")), QStringLiteral("product"), QStringLiteral("code"), true);
    const QString stem = QStringLiteral("GSTR1_") + c.gstin + QLatin1Char('_') + p->fp;
    ErpClient::call(
        c.base, token, QStringLiteral("GET"), QStringLiteral("reports/gst/sales"), query, std::nullopt,
        [c, header, done, hsn, stem, folder, dir = *dir, seat = *seat, cloud = *cloud, fp = p->fp](
            const ErpClient::Answer &a) {
            if (!a.json || !a.json->value(QLatin1String("register")).isArray())
                return done(header + a.error.value_or(QStringLiteral("The ERP sent no register.")), true);
            QJsonObject erp = *a.json;
            erp.remove(QStringLiteral("invoices"));
            const auto build = [c, fp, hsn, erp] {
                Upload up;
                up.body = QJsonObject{{QStringLiteral("gstin"), c.gstin},
                                      {QStringLiteral("fp"), fp},
                                      {QStringLiteral("company"), c.company},
                                      {QStringLiteral("erp"), erp}};
                if (!hsn.isEmpty())
                    up.body.insert(QStringLiteral("hsn_map"), textMap(hsn));
                return up;
            };
            postBuilt(cloud, seat, build, [header, done, stem, folder, dir](const ErpClient::Answer &b) {
                const QJsonValue summary = b.json ? b.json->value(QLatin1String("text")) : QJsonValue();
                if (!b.json || !summary.isString())
                    return done(header + QStringLiteral("The Hallix GSTR-1 builder did not answer: ") +
                                    b.error.value_or(QStringLiteral("no reply")),
                                true);
                const auto [listed, failed] = writeGstr1(dir, folder, stem, *b.json);
                if (failed)
                    return done(header + summary.toString() + QStringLiteral("\n\nThe files could not be written to ") +
                                    folder + QStringLiteral(": ") + *failed,
                                true);
                done(header + summary.toString() + QStringLiteral("\n\nFiles:\n") + listing(listed) + nextStep(*b.json),
                     false);
            });
        });
}

void ErpTools::gstr2b(const QJsonObject &args, const Tool::Done &done)
{
    auto r = std::make_shared<Recon>();
    r->args = args;
    r->done = done;
    const std::optional<Period> p = period(argText(args, "month").trimmed());
    if (!p)
        return done(kMonthRule, true);
    r->period = *p;

    // Where the purchase register comes from.
    QString booksFile = argText(args, "books_file").trimmed();
    QString client = argText(args, "client");
    const QString gstinGiven = ErpText::bare(argText(args, "gstin"));
    // The register file, looked for once (a search by name walks the clients folder).
    std::optional<Found> booksFound;
    if (!booksFile.isEmpty() && Characters::trimSpacesTabs(client).isEmpty() && gstinGiven.isEmpty()) {
        // A register is reconciled for the client whose folder holds it,
        // never for whichever client's ERP happens to be connected.
        const Found &found = *(booksFound = locate(booksFile));
        if (!found.url)
            return done(QStringLiteral("books_file ") + booksFile +
                            QStringLiteral(" is not a file inside the clients folder.") + found.note,
                        true);
        const std::optional<QString> holder = clientHolding(*found.url);
        if (!holder)
            return done(QStringLiteral("books_file ") + booksFile +
                            QStringLiteral(" is in no client's folder \u2014 which client is it for? Pass client (the "
                                           "client's folder name) or gstin. Nothing was sent."),
                        true);
        client = *holder;
    }
    std::optional<ErpConnection> connection = ErpVault::pick(client).first;
    bool fromErp = false;
    QString searchNote;
    if (!booksFile.isEmpty()) {
        if (connection && !gstinGiven.isEmpty() && connection->gstin != gstinGiven)
            connection.reset();
    } else if (connection) {
        // The GSTIN named is the client's: another client's books are never
        // reconciled in its place.
        if (!gstinGiven.isEmpty() && connection->gstin != gstinGiven)
            return done(QStringLiteral("The connected ERP of ") + connection->company +
                            QStringLiteral(" belongs to another GSTIN (") + connection->gstin +
                            QStringLiteral(", not ") + gstinGiven +
                            QStringLiteral("). Nothing was sent. To reconcile ") + gstinGiven +
                            QStringLiteral(", pass books_file (that client's purchase register in the clients folder) "
                                           "with gstin."),
                        true);
        fromErp = true;
    } else {
        const Found found = registerIn(client);
        if (!found.url)
            return done(found.note + QStringLiteral(" Without a connected ERP, pass books_file (the purchase register "
                                                    "in the clients folder) and gstin."),
                        true);
        booksFile = relativeTo(*found.url, WorkPaths::root());
        searchNote = found.note;
    }

    r->gstin = connection ? ErpText::bare(connection->gstin) : gstinGiven;
    static const QRegularExpression kGstin(QStringLiteral("^[0-9]{2}[A-Z]{5}[0-9]{4}[A-Z][A-Z0-9]Z[A-Z0-9]$"));
    if (!kGstin.match(r->gstin).hasMatch())
        return done(QStringLiteral("gstin is needed \u2014 the client's 15-character GSTIN."), true);

    QString label;
    if (connection) {
        label = connection->company;
    } else {
        const QString trimmed = client.trimmed();
        const ClientFolder own = clientFolder(trimmed);
        if (!own.refusal.isEmpty())
            return done(own.refusal + QStringLiteral(" Nothing was sent."), true);
        label = own.path ? QFileInfo(*own.path).fileName() : trimmed;
    }
    r->label = folderName(label).trimmed();
    const QString shownName = r->label.isEmpty() ? r->gstin : r->label;
    r->folderText = argText(args, "folder").trimmed();
    if (r->folderText.isEmpty())
        r->folderText = shownName + QStringLiteral("/GST/") + p->ym;
    const std::optional<QString> folder = inWork(r->folderText);
    if (!folder)
        return done(kFolderRule, true);
    r->folder = *folder;
    r->shown = relativeTo(*folder, WorkPaths::root());
    r->note = searchNote;
    r->head = searchNote + QLatin1Char('[') + shownName + QStringLiteral(" \u00b7 ") + r->gstin + QStringLiteral("]\n");

    // The 2B file.
    const QString g2bGiven = argText(args, "g2b_file");
    std::optional<QString> g2b;
    if (!g2bGiven.isEmpty()) {
        const Found found = locate(g2bGiven);
        if (!found.url)
            return done(QStringLiteral("g2b_file ") + g2bGiven + QStringLiteral(" is not a file inside the clients folder.") +
                            found.note,
                        true);
        g2b = found.url;
        r->note += found.note;
    } else {
        g2b = find2b(r->folder, r->gstin, p->fp);
    }
    if (!g2b)
        return done(nextStepFor2b(*r), false);
    r->g2bPath = *g2b;

    // The register file, when the books are not the ERP's.
    std::optional<QString> booksPath;
    QString source;
    QString booksNote;
    if (!fromErp) {
        const Found found = booksFound ? *booksFound : locate(booksFile);
        booksPath = found.url;
        booksNote = found.note;
        source = booksFile;
        if (found.url && !found.note.isEmpty())
            source += QStringLiteral(" \u2192 ") + QFileInfo(*found.url).fileName() + QStringLiteral(" (found by name)");
    }

    Dispatch::runInBackground([r, fromErp, booksPath, booksFile, booksNote, source, connection] {
        const Input g2bIn = readInput(r->g2bPath, k2bCap);
        Input booksIn;
        if (g2bIn.outcome == Input::Outcome::Ok && booksPath)
            booksIn = readInput(*booksPath, kRegisterCap);
        Dispatch::onMain([r, g2bIn, booksIn, fromErp, booksPath, booksFile, booksNote, source, connection] {
            if (g2bIn.outcome == Input::Outcome::Unreadable)
                return r->done(nextStepFor2b(*r), false);
            if (g2bIn.outcome == Input::Outcome::TooBig)
                return r->done(QStringLiteral("The 2B file is over 40 MB \u2014 split the period."), true);
            r->g2b = g2bIn.bytes;
            if (!fromErp) {
                if (!booksPath || booksIn.outcome == Input::Outcome::Unreadable)
                    return r->done(QStringLiteral("books_file ") + booksFile +
                                       QStringLiteral(" is not a file inside the clients folder.") + booksNote,
                                   true);
                if (booksIn.outcome == Input::Outcome::TooBig)
                    return r->done(QStringLiteral("books_file ") + booksFile +
                                       QStringLiteral(" is over 40 MB \u2014 export the purchase register for this "
                                                      "month only."),
                                   true);
                return sendRecon(r, Books{booksPath, booksIn.bytes, {}}, source);
            }
            const std::optional<QString> token = tokenFor(connection->id);
            if (!token)
                return r->done(QStringLiteral("The connection for ") + r->label +
                                   QStringLiteral(" is missing its token on this computer. The CA reconnects from "
                                                  "Velto \u2192 Ledgora ERP\u2026."),
                               true);
            erpRegister(r, *connection, *token);
        });
    });
}

void ErpTools::bankStatement(const QJsonObject &args, const Tool::Done &done)
{
    const QString file = argText(args, "file").trimmed();
    const QString client = argText(args, "client").trimmed();
    Found statement;
    if (!file.isEmpty()) {
        statement = locate(file);
        if (!statement.url && !client.isEmpty()) {
            const Found searched = statementIn(client);
            if (searched.url)
                statement = {searched.url, QStringLiteral("(") + file + QStringLiteral(" is not in the clients folder. ") +
                                               searched.note.mid(1)};
            else
                statement.note += searched.note;
        }
    } else {
        statement = statementIn(client);
    }
    const QString missing = file.isEmpty() ? QStringLiteral("No file given.") + statement.note
                                           : QStringLiteral("file must be a bank statement inside the clients folder "
                                                            "\u2014 ") +
                                                 file + QStringLiteral(" was not found.") + statement.note;
    if (!statement.url)
        return done(missing, true);

    const bool mapGiven = args.contains(QLatin1String("ledger_map"));
    const QMap<QString, QString> ledgers =
        pairs(args.value(QLatin1String("ledger_map")), QStringLiteral("counterparty"), QStringLiteral("ledger"));
    const QString bankLedger = argText(args, "bank_ledger").trimmed();
    const QString path = *statement.url;
    const QString note = statement.note;
    Dispatch::runInBackground([=] {
        const Input in = readInput(path, kStatementCap);
        Dispatch::onMain([=] {
            if (in.outcome == Input::Outcome::Unreadable)
                return done(missing, true);
            if (mapGiven && ledgers.isEmpty())
                return done(QStringLiteral("ledger_map is empty \u2014 give each counterparty listed in the last NEXT STEP "
                                           "a ledger ([{\"counterparty\": \"as listed\", \"ledger\": \"Ledger name\"}]), or "
                                           "leave the ones you cannot tell in Suspense and say so without calling again."),
                            true);
            if (in.outcome == Input::Outcome::TooBig)
                return done(QStringLiteral("The statement is over 25 MB \u2014 split it by month."), true);
            const std::optional<QString> seat = seatToken();
            const std::optional<QUrl> url = ErpConnect::cloudUrl(QStringLiteral("/cli/bank_statement"));
            if (!seat || !url)
                return done(kNotSignedIn, true);
            postBuilt(*url, *seat,
                      [=] {
                          Upload up;
                          up.body = QJsonObject{{QStringLiteral("file"), up.file(path, in.bytes)},
                                                {QStringLiteral("company"), client},
                                                {QStringLiteral("bank_ledger"), bankLedger}};
                          if (!ledgers.isEmpty())
                              up.body.insert(QStringLiteral("ledger_map"), textMap(ledgers));
                          return up;
                      },
                      [path, note, done](const ErpClient::Answer &a) { writeStatementOutputs(path, note, a, done); });
        });
    });
}
