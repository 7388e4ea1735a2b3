// The five Tally tools: four reads and one approved voucher import.
#include "connectors/TallyTools.h"
#include "connectors/ConnectorText.h"
#include "core/Characters.h"
#include "core/JsonFields.h"
#include "platform/Dialogs.h"

#include <algorithm>

using ConnectorText::descriptor;
using ConnectorText::pretty;
using ConnectorText::property;

namespace {

const QString kStatus = QStringLiteral("tally_status");
const QString kLedgers = QStringLiteral("tally_ledgers");
const QString kVouchers = QStringLiteral("tally_vouchers");
const QString kTrialBalance = QStringLiteral("tally_trial_balance");
const QString kImport = QStringLiteral("tally_import_voucher");

// The company as Tally names it; spaces and tabs trimmed, empty counts as none.
std::optional<QString> companyOf(const QJsonObject &args)
{
    const std::optional<QString> v = JsonFields::text(args, "company");
    if (!v)
        return std::nullopt;
    const QString company = Characters::trimSpacesTabs(*v);
    if (company.isEmpty())
        return std::nullopt;
    return company;
}

qint64 limitOf(const QJsonObject &args, qint64 fallback, qint64 most)
{
    return std::clamp<qint64>(JsonFields::integer(args, "limit").value_or(fallback), 1, most);
}

QString first(const QString &xml, const char *tag)
{
    const QStringList found = TallyTools::values(xml, QLatin1String(tag));
    return found.isEmpty() ? QString() : found.first();
}

// Tally reads some other date forms as a different day; only the two forms
// that cannot be misread are sent.
std::optional<QString> refusedDate(const char *key, const std::optional<QString> &date)
{
    if (!date || TallyTools::acceptedDate(*date))
        return std::nullopt;
    return QLatin1String(key) + QStringLiteral(" has to be a date written YYYY-MM-DD, like 2024-04-01 (\"") + *date +
           QStringLiteral("\" is not). Nothing was asked of Tally.");
}

// Sends one request; an error sentence is the tool's answer, a reply goes to `shape`.
void ask(const QString &xml, const Tool::Done &done, std::function<void(const QString &reply)> shape)
{
    TallyTools::send(xml, [done, shape = std::move(shape)](const std::optional<QString> &reply, const QString &error) {
        if (!reply)
            done(error, true);
        else
            shape(*reply);
    });
}

void status(const Tool::Done &done)
{
    ask(TallyTools::collection(QStringLiteral("List of Companies"), QStringLiteral("Company"), {QStringLiteral("NAME")},
                               std::nullopt),
        done, [done](const QString &reply) {
            QStringList companies = TallyTools::values(reply, QStringLiteral("NAME"));
            companies.removeAll(QString());
            companies.removeDuplicates();
            std::sort(companies.begin(), companies.end());
            if (companies.isEmpty()) {
                done(QStringLiteral("Tally answered, but has no company open. Ask the CA to load the client's company "
                                    "in Tally."),
                     true);
                return;
            }
            done(pretty(QJsonObject{{QStringLiteral("running"), true},
                                    {QStringLiteral("companies"), QJsonArray::fromStringList(companies)}}),
                 false);
        });
}

void ledgers(const QJsonObject &args, const Tool::Done &done)
{
    const qint64 limit = limitOf(args, 100, 1000);
    const QString search = JsonFields::text(args, "search").value_or(QString()).toLower();
    ask(TallyTools::collection(QStringLiteral("Ledgers"), QStringLiteral("Ledger"),
                               {QStringLiteral("NAME"), QStringLiteral("PARENT"), QStringLiteral("CLOSINGBALANCE"),
                                QStringLiteral("PARTYGSTIN")},
                               companyOf(args)),
        done, [done, limit, search](const QString &reply) {
            QJsonArray out;
            for (const QString &block : TallyTools::blocks(reply, QStringLiteral("LEDGER"))) {
                if (out.size() >= limit)
                    break;
                const QString name = first(block, "NAME");
                const QString group = first(block, "PARENT");
                if (name.isEmpty() ||
                    (!search.isEmpty() && !name.toLower().contains(search) && !group.toLower().contains(search)))
                    continue;
                QJsonObject row{{QStringLiteral("ledger"), name},
                                {QStringLiteral("group"), group},
                                {QStringLiteral("closing_balance"), first(block, "CLOSINGBALANCE")}};
                if (const QString gstin = first(block, "PARTYGSTIN"); !gstin.isEmpty())
                    row.insert(QStringLiteral("gstin"), gstin);
                out.append(row);
            }
            done(pretty(QJsonObject{{QStringLiteral("ledgers"), out}, {QStringLiteral("count"), out.size()}}), false);
        });
}

void vouchers(const QJsonObject &args, const Tool::Done &done)
{
    const std::optional<QString> from = JsonFields::text(args, "from");
    const std::optional<QString> to = JsonFields::text(args, "to");
    if (!from || !to) {
        done(QStringLiteral("from and to dates are required (YYYY-MM-DD)."), true);
        return;
    }
    for (const auto &refused : {refusedDate("from", from), refusedDate("to", to)})
        if (refused) {
            done(*refused, true);
            return;
        }
    const qint64 limit = limitOf(args, 200, 2000);
    ask(TallyTools::report(QStringLiteral("DayBook"), companyOf(args), from, to), done,
        [done, limit, from = *from, to = *to](const QString &reply) {
            QJsonArray out;
            // The reply can be large: only the vouchers that are answered are copied.
            for (const QString &block : TallyTools::blocks(reply, QStringLiteral("VOUCHER"), limit)) {
                QString party = first(block, "PARTYLEDGERNAME");
                if (party.isEmpty())
                    party = first(block, "PARTYNAME");
                out.append(QJsonObject{{QStringLiteral("date"), first(block, "DATE")},
                                       {QStringLiteral("type"), first(block, "VOUCHERTYPENAME")},
                                       {QStringLiteral("number"), first(block, "VOUCHERNUMBER")},
                                       {QStringLiteral("party"), party},
                                       {QStringLiteral("amount"), first(block, "AMOUNT")},
                                       {QStringLiteral("narration"), first(block, "NARRATION")}});
            }
            if (out.isEmpty()) {
                done(QStringLiteral("Tally returned no vouchers between ") + from + QStringLiteral(" and ") + to +
                         QStringLiteral(". Check the dates and that the right company is open."),
                     false);
                return;
            }
            done(pretty(QJsonObject{{QStringLiteral("from"), from},
                                    {QStringLiteral("to"), to},
                                    {QStringLiteral("vouchers"), out},
                                    {QStringLiteral("count"), out.size()}}),
                 false);
        });
}

// Each group's row runs from its name to the next group's name; its debit and
// credit are read inside that stretch only, so a group without one amount
// never lends its neighbour's.
QJsonArray trialRows(const QString &reply)
{
    const QString open = QStringLiteral("<DSPDISPNAME>");
    QList<qsizetype> starts;
    for (qsizetype at = reply.indexOf(open); at >= 0; at = reply.indexOf(open, at + open.size()))
        starts.append(at);
    QJsonArray rows;
    for (qsizetype i = 0; i < starts.size(); ++i) {
        const qsizetype end = i + 1 < starts.size() ? starts[i + 1] : reply.size();
        const QString row = reply.mid(starts[i], end - starts[i]);
        const QString name = first(row, "DSPDISPNAME");
        if (name.isEmpty())
            continue;
        rows.append(QJsonObject{{QStringLiteral("group"), name},
                                {QStringLiteral("debit"), first(row, "DSPCLDRAMT")},
                                {QStringLiteral("credit"), first(row, "DSPCLCRAMT")}});
    }
    return rows;
}

void trialBalance(const QJsonObject &args, const Tool::Done &done)
{
    const std::optional<QString> from = JsonFields::text(args, "from");
    const std::optional<QString> to = JsonFields::text(args, "to");
    for (const auto &refused : {refusedDate("from", from), refusedDate("to", to)})
        if (refused) {
            done(*refused, true);
            return;
        }
    ask(TallyTools::report(QStringLiteral("Trial Balance"), companyOf(args), from, to), done,
        [done](const QString &reply) {
            const QJsonArray rows = trialRows(reply);
            if (rows.isEmpty()) {
                done(QStringLiteral("Tally answered but the trial balance came back empty. Check the company and the "
                                    "period."),
                     false);
                return;
            }
            done(pretty(QJsonObject{{QStringLiteral("trial_balance"), rows}, {QStringLiteral("count"), rows.size()}}),
                 false);
        });
}

void writeVoucher(const QJsonObject &args, const Tool::Done &done)
{
    const QString xml = JsonFields::text(args, "voucher_xml").value_or(QString()).trimmed();
    if (xml.isEmpty()) {
        done(QStringLiteral("voucher_xml is required."), true);
        return;
    }
    const QString summary = Characters::trimSpacesTabs(JsonFields::text(args, "summary").value_or(QString()));
    if (summary.isEmpty()) {
        done(QStringLiteral("summary is required: the CA has to read what they are approving."), true);
        return;
    }
    if (!xml.contains(QLatin1String("<VOUCHER"))) {
        done(QStringLiteral("voucher_xml has to be one <VOUCHER>\u2026</VOUCHER> element."), true);
        return;
    }
    const std::optional<QString> company = companyOf(args);
    const QString title = company ? QStringLiteral("Write this voucher into ") + *company + QLatin1Char('?')
                                  : QStringLiteral("Write this voucher into Tally?");
    if (!TallyTools::confirm(title + QLatin1Char('\n') + summary, xml)) {
        done(QStringLiteral("The CA did not approve the voucher. Nothing was written to Tally."), false);
        return;
    }
    ask(TallyTools::importVoucher(xml, company), done, [done](const QString &reply) {
        const QString created = first(reply, "CREATED");
        const QString errors = first(reply, "ERRORS");
        const QString exceptions = first(reply, "EXCEPTIONS");
        const QString head = Characters::left(reply, 600);
        if (!errors.isEmpty() && errors != QLatin1String("0")) {
            done(QStringLiteral("Tally refused the voucher (") + errors + QStringLiteral(" error(s), ") + exceptions +
                     QStringLiteral(" exception(s)). Nothing was created. Its reply: ") + head,
                 true);
            return;
        }
        if (created.isEmpty() || created == QLatin1String("0")) {
            done(QStringLiteral("Tally created nothing and reported no error, which usually means the voucher type or "
                                "a ledger name does not exist in this company. Its reply: ") +
                     head,
                 true);
            return;
        }
        done(pretty(QJsonObject{{QStringLiteral("created"), created},
                                {QStringLiteral("voucher_id"), first(reply, "LASTVCHID")},
                                {QStringLiteral("note"),
                                 QStringLiteral("Written to Tally. Tally has no undo \u2014 check it in the day book.")}}),
             false);
    });
}

} // namespace

QSet<QString> TallyTools::names()
{
    return {kStatus, kLedgers, kVouchers, kTrialBalance, kImport};
}

QJsonArray TallyTools::definitions(Tool::Obj obj)
{
    const QString str = QStringLiteral("string");
    const QJsonObject company = property(str, QStringLiteral("the company as Tally names it; omit for the one currently open"));
    const QJsonObject date = property(str, QStringLiteral("YYYY-MM-DD"));
    return QJsonArray{
        descriptor(kStatus,
             QStringLiteral("Whether Tally is answering on this computer, and the companies it has open. Call this "
                            "before the other tally tools so you name a company Tally actually knows."),
             obj({}, {})),
        descriptor(kLedgers,
             QStringLiteral("Ledgers from Tally with their parent group and closing balance. Use it to find a party's "
                            "exact ledger name before quoting a balance, and to check the client's books rather than "
                            "asking them for a figure they already keep."),
             obj(QJsonObject{{QStringLiteral("company"), company},
                             {QStringLiteral("search"), property(str, QStringLiteral("part of a ledger or group name"))},
                             {QStringLiteral("limit"), property(QStringLiteral("integer"), QStringLiteral("default 100, up to 1000"))}},
                 {})),
        descriptor(kVouchers,
             QStringLiteral("Vouchers from the day book between two dates: date, type, number, party, amount and "
                            "narration. Use it for a period's entries \u2014 sales, purchases, payments \u2014 instead "
                            "of reading a printed report."),
             obj(QJsonObject{{QStringLiteral("company"), company},
                             {QStringLiteral("from"), date},
                             {QStringLiteral("to"), date},
                             {QStringLiteral("limit"), property(QStringLiteral("integer"), QStringLiteral("default 200, up to 2000"))}},
                 {QStringLiteral("from"), QStringLiteral("to")})),
        descriptor(kTrialBalance,
             QStringLiteral("The trial balance as Tally computes it, by group, for a period. Use this for group totals "
                            "\u2014 never add ledger balances up yourself."),
             obj(QJsonObject{{QStringLiteral("company"), company}, {QStringLiteral("from"), date}, {QStringLiteral("to"), date}},
                 {})),
        descriptor(kImport,
             QStringLiteral("Put a voucher into Tally. The CA sees the exact XML and approves it in Velto first; nothing "
                            "is written without that. Build the voucher XML yourself (VOUCHER with DATE, "
                            "VOUCHERTYPENAME and its ALLLEDGERENTRIES.LIST) and say which company it belongs to. There "
                            "is no undo in Tally, so read tally_ledgers first and use ledger names exactly as Tally "
                            "spells them."),
             obj(QJsonObject{{QStringLiteral("company"), company},
                             {QStringLiteral("voucher_xml"), property(str, QStringLiteral("one <VOUCHER>\u2026</VOUCHER> element"))},
                             {QStringLiteral("summary"),
                              property(str, QStringLiteral("one line the CA reads: what this voucher does, in their language"))}},
                 {QStringLiteral("voucher_xml"), QStringLiteral("summary")})),
    };
}

void TallyTools::call(const QString &name, const QJsonObject &args, Tool::Done done)
{
    if (name == kStatus)
        status(done);
    else if (name == kLedgers)
        ledgers(args, done);
    else if (name == kVouchers)
        vouchers(args, done);
    else if (name == kTrialBalance)
        trialBalance(args, done);
    else if (name == kImport)
        writeVoucher(args, done);
    else
        done(QStringLiteral("Unknown Tally tool: ") + name, true);
}

ToolFamily TallyTools::family()
{
    return ToolFamily{&TallyTools::names, &TallyTools::definitions, &TallyTools::call};
}

bool TallyTools::confirmDialog(const QString &title, const QString &detail)
{
    const qsizetype lineFeed = title.indexOf(QLatin1Char('\n'));
    Dialogs::Confirm c;
    c.title = lineFeed < 0 ? title : title.left(lineFeed);
    c.text = (lineFeed < 0 ? QString() : title.mid(lineFeed + 1)) +
             QStringLiteral("\n\nThis is exactly what will be sent to Tally. Tally has no undo, so read it before you "
                            "approve.");
    c.detail = detail;
    c.approve = QStringLiteral("Write it");
    c.cancel = QStringLiteral("Cancel");
    c.style = Dialogs::Style::Warning;
    c.front = true;
    return Dialogs::confirm(c);
}
