// The six books tools the engine is given.
#include "connectors/BooksTools.h"
#include "core/Characters.h"
#include "core/JsonFields.h"
#include "connectors/ConnectorText.h"

#include "platform/Dialogs.h"

#include <QDate>
#include <QJsonDocument>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <atomic>
#include <memory>

using ConnectorText::descriptor;
using ConnectorText::pretty;
using ConnectorText::property;

namespace {

const QString kConnections = QStringLiteral("books_connections");
const QString kConnect = QStringLiteral("books_connect");
const QString kContacts = QStringLiteral("books_contacts");
const QString kInvoices = QStringLiteral("books_invoices");
const QString kAccounts = QStringLiteral("books_accounts");
const QString kCreateInvoice = QStringLiteral("books_create_invoice");

using JsonFields::text;

// A string argument that is not empty once spaces and tabs are trimmed.
std::optional<QString> filled(const QJsonObject &args, const char *key)
{
    const std::optional<QString> v = text(args, key);
    if (!v || Characters::trimSpacesTabs(*v).isEmpty())
        return std::nullopt;
    return Characters::trimSpacesTabs(*v);
}

// An integral JSON number, clamped to 1 ... 200; the default otherwise.
QString limitOf(const QJsonObject &args, int fallback)
{
    const QJsonValue v = args.value(QLatin1String("limit"));
    double n = fallback;
    if (v.isDouble() && std::isfinite(v.toDouble()) && v.toDouble() == std::floor(v.toDouble()))
        n = v.toDouble();
    return QString::number(qint64(std::clamp(n, 1.0, 200.0)));
}

// The calendar date YYYY-MM-DD, as the QuickBooks query language wants it.
bool isoDate(const QString &s)
{
    static const QRegularExpression form(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{4}-[0-9]{2}-[0-9]{2}")));
    return form.match(s).hasMatch() && QDate::fromString(s, QStringLiteral("yyyy-MM-dd")).isValid();
}

// ---- Rows read back from the services --------------------------------------

std::optional<QJsonValue> field(const QJsonObject &row, const char *key)
{
    const auto it = row.constFind(QLatin1String(key));
    if (it == row.constEnd())
        return std::nullopt;
    return *it;
}

QJsonArray rows(const QJsonObject &reply, const BooksConnection &c, const char *zohoKey, const char *qbKey)
{
    const QJsonValue list = c.isZoho() ? reply.value(QLatin1String(zohoKey))
                                       : reply.value(QLatin1String("QueryResponse")).toObject().value(QLatin1String(qbKey));
    return list.toArray();
}

QJsonObject contactRow(const QJsonObject &r, bool zoho)
{
    if (zoho)
        return BooksTools::trimmed({{QStringLiteral("id"), field(r, "contact_id")},
                                    {QStringLiteral("name"), field(r, "contact_name")},
                                    {QStringLiteral("type"), field(r, "contact_type")},
                                    {QStringLiteral("gstin"), field(r, "gst_no")},
                                    {QStringLiteral("outstanding"), field(r, "outstanding_receivable_amount")}});
    return BooksTools::trimmed({{QStringLiteral("id"), field(r, "Id")},
                                {QStringLiteral("name"), field(r, "DisplayName")},
                                {QStringLiteral("type"), QJsonValue(QStringLiteral("Customer"))},
                                {QStringLiteral("outstanding"), field(r, "Balance")}});
}

QJsonObject invoiceRow(const QJsonObject &r, bool zoho)
{
    if (zoho)
        return BooksTools::trimmed({{QStringLiteral("number"), field(r, "invoice_number")},
                                    {QStringLiteral("date"), field(r, "date")},
                                    {QStringLiteral("party"), field(r, "customer_name")},
                                    {QStringLiteral("total"), field(r, "total")},
                                    {QStringLiteral("balance"), field(r, "balance")},
                                    {QStringLiteral("status"), field(r, "status")}});
    return BooksTools::trimmed({{QStringLiteral("number"), field(r, "DocNumber")},
                                {QStringLiteral("date"), field(r, "TxnDate")},
                                {QStringLiteral("party"), field(r.value(QLatin1String("CustomerRef")).toObject(), "name")},
                                {QStringLiteral("total"), field(r, "TotalAmt")},
                                {QStringLiteral("balance"), field(r, "Balance")}});
}

QJsonObject accountRow(const QJsonObject &r, bool zoho)
{
    if (zoho)
        return BooksTools::trimmed({{QStringLiteral("name"), field(r, "account_name")},
                                    {QStringLiteral("type"), field(r, "account_type")},
                                    {QStringLiteral("balance"), field(r, "current_balance")}});
    return BooksTools::trimmed({{QStringLiteral("name"), field(r, "Name")},
                                {QStringLiteral("type"), field(r, "AccountType")},
                                {QStringLiteral("balance"), field(r, "CurrentBalance")}});
}

// One read: the request, then the reply's rows cut down under `key`.
void readRows(const BooksConnection &c, const QString &path, const QMap<QString, QString> &query, const QString &key,
          const char *zohoKey, const char *qbKey, QJsonObject (*row)(const QJsonObject &, bool), Tool::Done done)
{
    BooksTools::get(c, path, query, [c, key, zohoKey, qbKey, row, done](const std::optional<QJsonObject> &reply,
                                                                       const QString &error) {
        if (!reply) {
            done(error, true);
            return;
        }
        QJsonArray out;
        for (const QJsonValue &v : rows(*reply, c, zohoKey, qbKey))
            out.append(row(v.toObject(), c.isZoho()));
        done(pretty(QJsonObject{{key, out}, {QStringLiteral("count"), out.size()}}), false);
    });
}

QString quickBooksQuery(const QString &statement, const QString &limit)
{
    return statement + QStringLiteral(" MAXRESULTS ") + limit;
}

// ---- The tools -----------------------------------------------------------------

void connections(const Tool::Done &done)
{
    const QList<BooksConnection> list = BooksTools::all();
    if (list.isEmpty()) {
        done(QStringLiteral("No cloud books are connected yet. books_connect adds one, with credentials the CA makes "
                            "in their own Zoho or Intuit account."),
             false);
        return;
    }
    QJsonArray out;
    for (const BooksConnection &c : list)
        out.append(QJsonObject{{QStringLiteral("client"), c.client},
                               {QStringLiteral("vendor"), c.vendorName()},
                               {QStringLiteral("organisation"), c.organisation}});
    done(pretty(QJsonObject{{QStringLiteral("connections"), out}}), false);
}

void connectBooks(const QJsonObject &args, const Tool::Done &done)
{
    const QString missing = QStringLiteral(
        "client, vendor, organisation, client_id, client_secret and refresh_token are all required.");
    const std::optional<QString> client = filled(args, "client");
    const std::optional<QString> vendor = text(args, "vendor");
    const std::optional<QString> organisation = filled(args, "organisation");
    const std::optional<QString> clientId = filled(args, "client_id");
    const std::optional<QString> secret = text(args, "client_secret");
    const std::optional<QString> refresh = text(args, "refresh_token");
    if (!client || !vendor || (*vendor != QLatin1String("zoho") && *vendor != QLatin1String("quickbooks")) ||
        !organisation || !clientId || !secret || secret->isEmpty() || !refresh || refresh->isEmpty()) {
        done(missing, true);
        return;
    }
    BooksConnection c;
    c.vendor = *vendor;
    c.client = *client;
    c.organisation = *organisation;
    c.clientId = *clientId;
    c.region = text(args, "region").value_or(QStringLiteral("in"));
    // Tokens go only to Zoho's own data centres.
    if (c.isZoho() && !BooksTools::zohoDomain(c.region)) {
        done(QStringLiteral("region must be one of Zoho's data centres: in, com, eu or au. The books were not "
                            "connected."),
             true);
        return;
    }

    const QStringList secrets{*secret, *refresh};
    switch (BooksTools::save(c, *refresh, *secret)) {
    case BooksTools::Saved::Yes:
        break;
    case BooksTools::Saved::SecretsFailed:
        done(QStringLiteral("Could not put the credentials in the system keyring, so the books were not connected."), true);
        return;
    case BooksTools::Saved::IndexUnreadable:
        done(QStringLiteral("The list of connected books (books.json in the Velto folder) cannot be read, so the books "
                            "were not connected and nothing was changed. The CA has to repair or move that file first."),
             true);
        return;
    case BooksTools::Saved::IndexNotWritten:
        done(QStringLiteral("Could not save the list of connected books (books.json in the Velto folder), so the "
                            "books were not connected."),
             true);
        return;
    }
    const QJsonObject reply{
        {QStringLiteral("connected"), c.client},
        {QStringLiteral("vendor"), c.vendorName()},
        {QStringLiteral("note"),
         QStringLiteral("The refresh token and secret are in the system keyring. Read books_contacts to check it works.")},
    };
    done(pretty(ConnectorText::scrub(reply, secrets)), false);
}

void contacts(const BooksConnection &c, const QJsonObject &args, const Tool::Done &done)
{
    const QString limit = limitOf(args, 50);
    const QString search = text(args, "search").value_or(QString());
    if (c.isZoho()) {
        QMap<QString, QString> query{{QStringLiteral("per_page"), limit}};
        if (!search.isEmpty())
            query.insert(QStringLiteral("search_text"), search);
        readRows(c, QStringLiteral("/contacts"), query, QStringLiteral("contacts"), "contacts", "Customer", contactRow, done);
        return;
    }
    QString statement = QStringLiteral("SELECT * FROM Customer");
    if (!search.isEmpty())
        statement += QStringLiteral(" WHERE DisplayName LIKE '%") + QString(search).remove(QLatin1Char('\'')) +
                     QStringLiteral("%'");
    readRows(c, QStringLiteral("/query"), {{QStringLiteral("query"), quickBooksQuery(statement, limit)}},
         QStringLiteral("contacts"), "contacts", "Customer", contactRow, done);
}

void invoices(const BooksConnection &c, const QJsonObject &args, const Tool::Done &done)
{
    const QString limit = limitOf(args, 50);
    const std::optional<QString> from = text(args, "from");
    const std::optional<QString> to = text(args, "to");
    if (c.isZoho()) {
        QMap<QString, QString> query{{QStringLiteral("per_page"), limit}};
        if (from)
            query.insert(QStringLiteral("date_start"), *from);
        if (to)
            query.insert(QStringLiteral("date_end"), *to);
        if (const std::optional<QString> status = text(args, "status"))
            query.insert(QStringLiteral("status"), *status);
        readRows(c, QStringLiteral("/invoices"), query, QStringLiteral("invoices"), "invoices", "Invoice", invoiceRow, done);
        return;
    }
    // The dates are written into the query statement itself.
    if ((from && !isoDate(*from)) || (to && !isoDate(*to))) {
        done(QStringLiteral("from and to must be dates written YYYY-MM-DD. Nothing was asked of QuickBooks Online."),
             true);
        return;
    }
    QString statement = QStringLiteral("SELECT * FROM Invoice");
    if (from && to)
        statement += QStringLiteral(" WHERE TxnDate >= '") + *from + QStringLiteral("' AND TxnDate <= '") + *to +
                     QStringLiteral("'");
    readRows(c, QStringLiteral("/query"), {{QStringLiteral("query"), quickBooksQuery(statement, limit)}},
         QStringLiteral("invoices"), "invoices", "Invoice", invoiceRow, done);
}

void accounts(const BooksConnection &c, const QJsonObject &args, const Tool::Done &done)
{
    const QString limit = limitOf(args, 100);
    if (c.isZoho()) {
        readRows(c, QStringLiteral("/chartofaccounts"), {{QStringLiteral("per_page"), limit}}, QStringLiteral("accounts"),
             "chartofaccounts", "Account", accountRow, done);
        return;
    }
    readRows(c, QStringLiteral("/query"), {{QStringLiteral("query"), quickBooksQuery(QStringLiteral("SELECT * FROM Account"), limit)}},
         QStringLiteral("accounts"), "chartofaccounts", "Account", accountRow, done);
}

void createInvoice(const BooksConnection &c, const QJsonObject &args, const Tool::Done &done)
{
    const std::optional<QString> customer = filled(args, "customer_id");
    if (!customer) {
        done(QStringLiteral("customer_id is required \u2014 take it from books_contacts."), true);
        return;
    }
    const QJsonValue items = args.value(QLatin1String("line_items"));
    bool wellFormed = items.isArray() && !items.toArray().isEmpty();
    for (const QJsonValue &v : items.toArray())
        wellFormed = wellFormed && v.isObject();
    if (!wellFormed) {
        done(QStringLiteral("line_items is required, with a name, quantity and rate on each."), true);
        return;
    }
    const QString vendor = c.vendorName();
    struct Line {
        QJsonValue name;
        double quantity, rate;
    };
    QList<Line> lines;
    for (const QJsonValue &v : items.toArray()) {
        const QJsonObject o = v.toObject();
        const std::optional<double> quantity = BooksTools::number(o.value(QLatin1String("quantity")));
        const std::optional<double> rate = BooksTools::number(o.value(QLatin1String("rate")));
        if (!quantity || !rate) {
            done(QStringLiteral("Every line needs a numeric quantity and rate. Nothing was sent to ") + vendor +
                     QLatin1Char('.'),
                 true);
            return;
        }
        const auto name = o.constFind(QLatin1String("name"));
        lines.append(Line{name == o.constEnd() ? QJsonValue(QString()) : QJsonValue(*name), *quantity, *rate});
    }
    const std::optional<QString> date = text(args, "date");

    QJsonObject body;
    if (c.isZoho()) {
        QJsonArray out;
        for (const Line &l : lines)
            out.append(QJsonObject{{QStringLiteral("name"), l.name},
                                   {QStringLiteral("quantity"), l.quantity},
                                   {QStringLiteral("rate"), l.rate}});
        body.insert(QStringLiteral("customer_id"), *customer);
        body.insert(QStringLiteral("line_items"), out);
        if (date)
            body.insert(QStringLiteral("date"), *date);
        if (const std::optional<QString> notes = text(args, "notes"))
            body.insert(QStringLiteral("notes"), *notes);
    } else {
        if (date && !isoDate(*date)) {
            done(QStringLiteral("date must be written YYYY-MM-DD. Nothing was sent to QuickBooks Online."), true);
            return;
        }
        QJsonArray out;
        for (const Line &l : lines)
            out.append(QJsonObject{
                {QStringLiteral("DetailType"), QStringLiteral("SalesItemLineDetail")},
                {QStringLiteral("Amount"), BooksTools::paise(l.quantity * l.rate)},
                {QStringLiteral("Description"), l.name},
                {QStringLiteral("SalesItemLineDetail"),
                 QJsonObject{{QStringLiteral("Qty"), l.quantity}, {QStringLiteral("UnitPrice"), l.rate}}},
            });
        body.insert(QStringLiteral("CustomerRef"), QJsonObject{{QStringLiteral("value"), *customer}});
        body.insert(QStringLiteral("Line"), out);
        if (date)
            body.insert(QStringLiteral("TxnDate"), *date);
    }

    const QString preview = pretty(body);
    const QString title = QStringLiteral("Raise this invoice in ") + c.client + QStringLiteral("'s ") + vendor +
                          QLatin1Char('?');
    if (!BooksTools::confirm(title, preview)) {
        done(QStringLiteral("The CA did not approve the invoice. Nothing was written to ") + vendor + QLatin1Char('.'),
             false);
        return;
    }
    BooksTools::post(c, c.isZoho() ? QStringLiteral("/invoices") : QStringLiteral("/invoice"), body,
                     [vendor, done](const std::optional<QJsonObject> &reply, const QString &error) {
                         if (!reply) {
                             done(error, true);
                             return;
                         }
                         QJsonValue number = reply->value(QLatin1String("invoice"))
                                                 .toObject()
                                                 .value(QLatin1String("invoice_number"));
                         if (!number.isString())
                             number = reply->value(QLatin1String("Invoice")).toObject().value(QLatin1String("DocNumber"));
                         done(pretty(QJsonObject{
                                  {QStringLiteral("created"), true},
                                  {QStringLiteral("invoice_number"), number.isString() ? number.toString() : QString()},
                                  {QStringLiteral("note"), QStringLiteral("Raised in ") + vendor +
                                                               QStringLiteral(". Check it there before telling the client.")},
                              }),
                              false);
                     });
}

} // namespace

QSet<QString> BooksTools::names()
{
    return {kConnections, kConnect, kContacts, kInvoices, kAccounts, kCreateInvoice};
}

QJsonArray BooksTools::definitions(Tool::Obj obj)
{
    const QString str = QStringLiteral("string");
    const QJsonObject client = property(str, QStringLiteral("the client whose books; omit when only one is connected"));
    const QJsonObject limit50 = property(QStringLiteral("integer"), QStringLiteral("default 50, up to 200"));
    QJsonObject vendor = property(str);
    vendor.insert(QStringLiteral("enum"), QJsonArray{QStringLiteral("zoho"), QStringLiteral("quickbooks")});
    const QJsonObject lineItem = obj(QJsonObject{{QStringLiteral("name"), property(str)},
                                                 {QStringLiteral("quantity"), property(QStringLiteral("number"))},
                                                 {QStringLiteral("rate"), property(QStringLiteral("number"))}},
                                     {QStringLiteral("name"), QStringLiteral("quantity"), QStringLiteral("rate")});
    QJsonObject lineItems = property(QStringLiteral("array"), QStringLiteral("each with name, quantity and rate"));
    lineItems.insert(QStringLiteral("items"), lineItem);

    return QJsonArray{
        descriptor(kConnections,
             QStringLiteral("The cloud books connected on this computer \u2014 Zoho Books or QuickBooks Online \u2014 and "
                            "which client each belongs to. Call this before the other books tools."),
             obj({}, {})),
        descriptor(kConnect,
             QStringLiteral("Connect a client's cloud books. The CA supplies their own credentials: for Zoho Books a "
                            "Self Client from the Zoho API console, for QuickBooks an app from the Intuit developer "
                            "portal. The refresh token goes to the system keyring and is never shown again. Ask the CA for "
                            "these \u2014 never guess them, and never put them in a file."),
             obj(QJsonObject{
                     {QStringLiteral("client"), property(str, QStringLiteral("the client this belongs to"))},
                     {QStringLiteral("vendor"), vendor},
                     {QStringLiteral("organisation"),
                      property(str, QStringLiteral("Zoho organization_id, or the QuickBooks realmId"))},
                     {QStringLiteral("client_id"), property(str)},
                     {QStringLiteral("client_secret"), property(str)},
                     {QStringLiteral("refresh_token"), property(str)},
                     {QStringLiteral("region"), property(str, QStringLiteral("Zoho data centre: in, com, eu, au. Default in."))},
                 },
                 {QStringLiteral("client"), QStringLiteral("vendor"), QStringLiteral("organisation"),
                  QStringLiteral("client_id"), QStringLiteral("client_secret"), QStringLiteral("refresh_token")})),
        descriptor(kContacts,
             QStringLiteral("Customers and vendors in the client's books, with their GSTIN where the books hold one. "
                            "Use it to get a party's exact name before quoting anything against them."),
             obj(QJsonObject{{QStringLiteral("client"), client},
                             {QStringLiteral("search"), property(str)},
                             {QStringLiteral("limit"), limit50}},
                 {})),
        descriptor(kInvoices,
             QStringLiteral("Invoices from the client's books between two dates: number, date, party, total, tax and "
                            "what is still owed. Use this for a sales register or a receivables position \u2014 never "
                            "add invoice rows up yourself when the books give you the totals."),
             obj(QJsonObject{{QStringLiteral("client"), client},
                             {QStringLiteral("from"), property(str, QStringLiteral("YYYY-MM-DD"))},
                             {QStringLiteral("to"), property(str, QStringLiteral("YYYY-MM-DD"))},
                             {QStringLiteral("status"), property(str, QStringLiteral("e.g. unpaid, overdue, paid"))},
                             {QStringLiteral("limit"), limit50}},
                 {})),
        descriptor(kAccounts,
             QStringLiteral("The chart of accounts from the client's books, with type and current balance. Use it to "
                            "find the account a figure belongs to before proposing an entry."),
             obj(QJsonObject{{QStringLiteral("client"), client},
                             {QStringLiteral("limit"),
                              property(QStringLiteral("integer"), QStringLiteral("default 100, up to 200"))}},
                 {})),
        descriptor(kCreateInvoice,
             QStringLiteral("Raise an invoice in the client's books. The CA reads the whole invoice and approves it in "
                            "Velto first; nothing is sent without that. Get the customer id from books_contacts "
                            "\u2014 do not guess it."),
             obj(QJsonObject{{QStringLiteral("client"), client},
                             {QStringLiteral("customer_id"), property(str)},
                             {QStringLiteral("date"), property(str, QStringLiteral("YYYY-MM-DD"))},
                             {QStringLiteral("line_items"), lineItems},
                             {QStringLiteral("notes"), property(str)}},
                 {QStringLiteral("customer_id"), QStringLiteral("line_items")})),
    };
}

void BooksTools::call(const QString &name, const QJsonObject &args, Tool::Done done)
{
    // Whatever happens below, the tool server hears exactly once.
    auto once = std::make_shared<std::atomic<bool>>(false);
    Tool::Done answer = [once, done = std::move(done)](const QString &text, bool isError) {
        if (!once->exchange(true))
            done(text, isError);
    };

    if (name == kConnections) {
        connections(answer);
        return;
    }
    if (name == kConnect) {
        connectBooks(args, answer);
        return;
    }
    if (!names().contains(name)) {
        answer(QStringLiteral("Unknown books tool: ") + name, true);
        return;
    }
    const Choice choice = connection(text(args, "client"));
    if (!choice.found) {
        answer(choice.why, true);
        return;
    }
    const BooksConnection &c = *choice.found;
    if (name == kContacts)
        contacts(c, args, answer);
    else if (name == kInvoices)
        invoices(c, args, answer);
    else if (name == kAccounts)
        accounts(c, args, answer);
    else
        createInvoice(c, args, answer);
}

ToolFamily BooksTools::family()
{
    return ToolFamily{&BooksTools::names, &BooksTools::definitions, &BooksTools::call};
}

bool BooksTools::confirmDialog(const QString &title, const QString &text)
{
    Dialogs::Confirm c;
    c.front = true;
    c.title = title;
    c.text = QStringLiteral("This is exactly what will be sent. An invoice raised in a client's books is theirs "
                            "to see, so read it before you approve.");
    c.detail = text;
    c.approve = QStringLiteral("Raise it");
    c.cancel = QStringLiteral("Cancel");
    return Dialogs::confirm(c);
}

std::optional<double> BooksTools::number(const QJsonValue &value)
{
    if (value.isDouble())
        return value.toDouble();
    if (!value.isString())
        return std::nullopt;
    const QString s = Characters::trimSpacesTabs(value.toString());
    static const QRegularExpression decimal(
        QRegularExpression::anchoredPattern(QStringLiteral("[+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)([eE][+-]?[0-9]+)?")));
    if (!decimal.match(s).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double d = s.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    return d;
}

QJsonObject BooksTools::trimmed(const QList<QPair<QString, std::optional<QJsonValue>>> &pairs)
{
    QJsonObject out;
    for (const auto &[key, value] : pairs)
        if (value && !value->isUndefined())
            out.insert(key, *value);
    return out;
}

double BooksTools::paise(double amount)
{
    if (!std::isfinite(amount) || std::fabs(amount) >= 1e13)
        return amount;
    // Round the decimal the amount stands for, not its binary neighbour:
    // 1.005 is 1.01, as the CA would write it.
    const QString shortest = QString::number(std::fabs(amount), 'f', QLocale::FloatingPointShortest);
    const qsizetype dot = shortest.indexOf(QLatin1Char('.'));
    const QString whole = dot < 0 ? shortest : shortest.left(dot);
    const QString fraction = dot < 0 ? QString() : shortest.mid(dot + 1);
    qint64 cents = whole.toLongLong() * 100 + fraction.left(2).leftJustified(2, QLatin1Char('0')).toLongLong();
    if (fraction.size() > 2 && fraction[2] >= QLatin1Char('5'))
        ++cents;
    const double rounded = double(cents) / 100.0;
    return amount < 0 ? -rounded : rounded;
}
