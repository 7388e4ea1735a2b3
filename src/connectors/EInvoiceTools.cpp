// The e-invoice tools: check the set-up, connect the firm's IRP API
// credentials, fetch an e-invoice, and report or cancel one once the CA has
// read exactly what goes to the IRP and said yes.
#include "connectors/EInvoiceTools.h"
#include "connectors/ConnectorText.h"
#include "core/JsonFields.h"
#include "core/Characters.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/SecretStore.h"

#include <QDateTime>
#include <QJsonArray>
#include <QUrl>

namespace {

const QString kNotSetUp = QStringLiteral(
    "e-invoicing is not set up. The CA registers for API access against their own GSTIN on the e-invoice portal (or "
    "through their GSP), then connects it with einvoice_connect: GSTIN, the API user name and password, the client id "
    "and secret, and NIC's public key. It starts on NIC's sandbox — production has to be asked for by name.");
const QString kConnectNeeds = QStringLiteral(
    "gstin (15 characters), username, password, client_id, client_secret and nic_public_key (PEM) are all required.");
const QString kCancelNeeds = QStringLiteral(
    "irn and reason_code (1 duplicate, 2 data entry mistake, 3 order cancelled, 4 other) are required.");

QString str(const char *s)
{
    return QString::fromUtf8(s);
}

// A text argument counts only when it is a JSON string.
using JsonFields::text;

// Spaces and tabs off both ends; line breaks stay.
QString trimmed(const QString &s)
{
    const auto blank = Characters::isHorizontalSpace;
    qsizetype from = 0, to = s.size();
    while (from < to && blank(s[from]))
        ++from;
    while (to > from && blank(s[to - 1]))
        --to;
    return s.mid(from, to - from);
}

// Values that travel in request headers must not carry control characters:
// a line break there would start a header of its own.
bool fitsHeader(const QString &s)
{
    for (const QChar ch : s)
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7f)
            return false;
    return true;
}


QString target(const EInvoiceConnection &c)
{
    return c.isLive() ? QStringLiteral("the LIVE IRP") : QStringLiteral("NIC's sandbox");
}

QJsonObject prop(const char *type, const char *description = nullptr, const QStringList &choices = {})
{
    QJsonObject p{{QStringLiteral("type"), QLatin1String(type)}};
    if (description)
        p.insert(QStringLiteral("description"), str(description));
    if (!choices.isEmpty())
        p.insert(QStringLiteral("enum"), QJsonArray::fromStringList(choices));
    return p;
}

// The IRP's answer with every secret of the exchange already taken out.
using Answer = std::function<void(const QJsonObject &reply)>;

void signedCall(const EInvoiceConnection &c, const QString &path, const QByteArray &method,
                const std::optional<QJsonValue> &payload, const QMap<QString, QString> &query,
                const QString &errorTail, Tool::Done done, Answer answer)
{
    EInvoiceTools::call(c, path, method, payload, query,
                        [errorTail, done, answer](const std::optional<QJsonObject> &reply, const QString &error) {
                            if (reply)
                                answer(*reply);
                            else
                                done(error + errorTail, true);
                        });
}

void status(Tool::Done done)
{
    const auto c = EInvoiceTools::connection();
    if (!c) {
        done(kNotSetUp, true);
        return;
    }
    done(ConnectorText::pretty(QJsonObject{
             {QStringLiteral("gstin"), c->gstin},
             {QStringLiteral("environment"), c->environment},
             {QStringLiteral("endpoint"), c->base()},
             {QStringLiteral("note"), c->isLive() ? QStringLiteral("Pointed at the live IRP. An IRN generated here is real.")
                                                  : QStringLiteral("Pointed at NIC's sandbox. Nothing here has any legal effect.")}}),
         false);
}

void connectIrp(const QJsonObject &args, Tool::Done done)
{
    const QString gstin = trimmed(text(args, "gstin").value_or(QString())).toUpper();
    const QString username = trimmed(text(args, "username").value_or(QString()));
    const QString password = text(args, "password").value_or(QString());
    const QString clientId = trimmed(text(args, "client_id").value_or(QString()));
    const QString clientSecret = text(args, "client_secret").value_or(QString());
    const QString publicKey = text(args, "nic_public_key").value_or(QString());
    if (Characters::count(gstin) != 15 || username.isEmpty() || password.isEmpty() || clientId.isEmpty()
        || clientSecret.isEmpty() || !publicKey.contains(QLatin1String("-----")) || !fitsHeader(gstin)
        || !fitsHeader(username) || !fitsHeader(clientId) || !fitsHeader(clientSecret)) {
        done(kConnectNeeds, true);
        return;
    }
    const QString environment =
        text(args, "environment") == QLatin1String("production") ? QStringLiteral("production") : QStringLiteral("sandbox");

    for (const auto &[account, value] : {std::pair{"password", password}, std::pair{"client_secret", clientSecret},
                                         std::pair{"nic_public_key", publicKey}}) {
        if (!SecretStore::set(EInvoiceTools::SERVICE, QLatin1String(account), value)) {
            done(QStringLiteral("Could not put the credentials in the system keyring, so nothing was connected."), true);
            return;
        }
    }
    const EInvoiceConnection record{gstin, username, clientId, environment,
                                    double(QDateTime::currentMSecsSinceEpoch()) / 1000.0};
    // A connection that is not on disk is no connection: say so.
    if (!Files::writeAtomic(EInvoiceTools::indexPath(), record.encode())) {
        done(QStringLiteral("Could not save the connection."), true);
        return;
    }
    done(ConnectorText::pretty(QJsonObject{
             {QStringLiteral("connected"), gstin},
             {QStringLiteral("environment"), environment},
             {QStringLiteral("endpoint"), record.base()},
             {QStringLiteral("note"),
              record.isLive() ? QStringLiteral("Live IRP. This connector has never been run against one — try the sandbox first.")
                              : QStringLiteral("NIC's sandbox. Run a real invoice through it before switching to production.")}}),
         false);
}

void get(const QJsonObject &args, Tool::Done done)
{
    const auto c = EInvoiceTools::connection();
    if (!c) {
        done(kNotSetUp, true);
        return;
    }
    const QString irn = trimmed(text(args, "irn").value_or(QString()));
    QString path;
    QMap<QString, QString> query;
    if (!irn.isEmpty()) {
        // One path segment, whatever the IRN holds. A segment of "." or ".."
        // would be folded into the path above it, so it is never sent.
        if (irn == QLatin1String(".") || irn == QLatin1String("..")) {
            done(QStringLiteral("That irn is not an IRN: it is only dots."), true);
            return;
        }
        path = QStringLiteral("/eivital/v1.04/Invoice/irn/") + QString::fromLatin1(QUrl::toPercentEncoding(irn));
    } else {
        const auto type = text(args, "document_type");
        const auto number = text(args, "document_number");
        const auto date = text(args, "document_date");
        if (!type || !number || !date) {
            done(QStringLiteral("Give an irn, or document_type with document_number and document_date."), true);
            return;
        }
        path = QStringLiteral("/eivital/v1.04/Invoice/irnbydocdetails");
        query = {{QStringLiteral("doctype"), *type}, {QStringLiteral("docnum"), *number}, {QStringLiteral("docdate"), *date}};
    }
    signedCall(*c, path, "GET", std::nullopt, query, {}, done,
               [done](const QJsonObject &reply) { done(ConnectorText::pretty(reply), false); });
}

void generate(const QJsonObject &args, Tool::Done done)
{
    const auto c = EInvoiceTools::connection();
    if (!c) {
        done(kNotSetUp, true);
        return;
    }
    const QJsonValue invoice = args.value(QLatin1String("invoice"));
    if (!invoice.isObject() || invoice.toObject().isEmpty()) {
        done(QStringLiteral("invoice is required, in NIC's e-invoice schema."), true);
        return;
    }
    const QString summary = trimmed(text(args, "summary").value_or(QString()));
    if (summary.isEmpty()) {
        done(QStringLiteral("summary is required: the CA has to read what they are reporting."), true);
        return;
    }
    const QString warning =
        c->isLive()
            ? QStringLiteral("This is real. An IRN can be cancelled only within 24 hours, and not at all once a return is "
                             "filed against it.")
            : QStringLiteral("This is NIC's sandbox — it has no legal effect.");
    if (!EInvoiceTools::confirm(QStringLiteral("Report this invoice to ") + target(*c) + QStringLiteral("?\n") + summary,
                                warning, QStringLiteral("Report it"), ConnectorText::pretty(invoice.toObject()))) {
        done(QStringLiteral("The CA did not approve it. Nothing was reported to the IRP."), false);
        return;
    }
    signedCall(*c, QStringLiteral("/eicore/v1.03/Invoice"), "POST", invoice, {}, {}, done,
               [done, live = c->isLive(), environment = c->environment](const QJsonObject &reply) {
                   auto field = [&reply](const char *key) {
                       const QJsonValue v = reply.value(QLatin1String(key));
                       return v.isUndefined() ? QJsonValue(QString()) : v;
                   };
                   done(ConnectorText::pretty(QJsonObject{
                            {QStringLiteral("irn"), field("Irn")},
                            {QStringLiteral("ack_no"), field("AckNo")},
                            {QStringLiteral("ack_date"), field("AckDt")},
                            {QStringLiteral("signed_qr"), field("SignedQRCode")},
                            {QStringLiteral("environment"), environment},
                            {QStringLiteral("note"),
                             live ? QStringLiteral("Reported to the live IRP. Give the CA the IRN and the QR for the invoice copy.")
                                  : QStringLiteral("Reported to the sandbox. Nothing legal happened.")}}),
                        false);
               });
}

void cancel(const QJsonObject &args, Tool::Done done)
{
    const auto c = EInvoiceTools::connection();
    if (!c) {
        done(kNotSetUp, true);
        return;
    }
    const QString irn = trimmed(text(args, "irn").value_or(QString()));
    const std::optional<QString> reason = text(args, "reason_code");
    static const QStringList kReasons{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4")};
    if (irn.isEmpty() || !reason || !kReasons.contains(*reason)) {
        done(kCancelNeeds, true);
        return;
    }
    const QJsonObject body{{QStringLiteral("Irn"), irn},
                           {QStringLiteral("CnlRsn"), *reason},
                           {QStringLiteral("CnlRem"), text(args, "remarks").value_or(QStringLiteral("Cancelled by the firm"))}};
    if (!EInvoiceTools::confirm(QStringLiteral("Cancel this IRN on ") + target(*c) + QStringLiteral("?"), QString(),
                                QStringLiteral("Cancel IRN"), ConnectorText::pretty(body))) {
        done(QStringLiteral("The CA did not approve the cancellation. The IRN stands."), false);
        return;
    }
    signedCall(*c, QStringLiteral("/eicore/v1.03/Invoice/Cancel"), "POST", body, {},
               QStringLiteral(" An IRN older than 24 hours cannot be cancelled — a credit note is the way then."), done,
               [done, irn](const QJsonObject &reply) {
                   const QJsonValue cancelled = reply.value(QLatin1String("Irn"));
                   const QJsonValue at = reply.value(QLatin1String("CancelDate"));
                   done(ConnectorText::pretty(QJsonObject{{QStringLiteral("cancelled"), cancelled.isUndefined() ? QJsonValue(irn) : cancelled},
                                           {QStringLiteral("cancelled_at"), at.isUndefined() ? QJsonValue(QString()) : at}}),
                        false);
               });
}

} // namespace

QSet<QString> EInvoiceTools::names()
{
    static const QSet<QString> all{QStringLiteral("einvoice_status"), QStringLiteral("einvoice_connect"),
                                   QStringLiteral("einvoice_get"), QStringLiteral("einvoice_generate"),
                                   QStringLiteral("einvoice_cancel")};
    return all;
}

QJsonArray EInvoiceTools::definitions(Tool::Obj obj)
{
    return QJsonArray{
        Tool::descriptor("einvoice_status",
             "Whether e-invoicing is set up on this computer, for which GSTIN, and whether it points at NIC's sandbox or "
             "the live IRP. Call this before anything else — an unproved connector pointed at production is not "
             "something to discover halfway through.",
             obj({}, {})),
        Tool::descriptor("einvoice_connect",
             "Set up e-invoicing with the firm's own IRP API credentials. The password, client secret and NIC public key "
             "go to the system keyring. Ask the CA for these — never invent them. Defaults to NIC's sandbox; production "
             "must be asked for by name.",
             obj({{QStringLiteral("gstin"), prop("string")},
                  {QStringLiteral("username"), prop("string", "the API user name, not the portal login")},
                  {QStringLiteral("password"), prop("string")},
                  {QStringLiteral("client_id"), prop("string")},
                  {QStringLiteral("client_secret"), prop("string")},
                  {QStringLiteral("nic_public_key"), prop("string", "NIC's published public key or certificate, in PEM")},
                  {QStringLiteral("environment"),
                   prop("string", "sandbox unless the CA says production",
                        {QStringLiteral("sandbox"), QStringLiteral("production")})}},
                 {QStringLiteral("gstin"), QStringLiteral("username"), QStringLiteral("password"),
                  QStringLiteral("client_id"), QStringLiteral("client_secret"), QStringLiteral("nic_public_key")})),
        Tool::descriptor("einvoice_get",
             "Fetch an e-invoice the IRP already has, by IRN or by document number, and read its status. Use this to "
             "check whether an invoice was reported before proposing to report it again.",
             obj({{QStringLiteral("irn"), prop("string")},
                  {QStringLiteral("document_type"), prop("string", "INV, CRN or DBN — with document_number")},
                  {QStringLiteral("document_number"), prop("string")},
                  {QStringLiteral("document_date"), prop("string", "DD/MM/YYYY, with document_number")}},
                 {})),
        Tool::descriptor("einvoice_generate",
             "Report an invoice to the IRP and get its IRN and signed QR. The CA reads the whole invoice and approves it "
             "in Velto first. An IRN is a legal document: it can be cancelled only within 24 hours, and not at all once "
             "a return is filed against it. Build the payload to NIC's schema; check einvoice_get first so nothing is "
             "reported twice.",
             obj({{QStringLiteral("invoice"),
                   prop("object", "the invoice in NIC's e-invoice schema (Version, TranDtls, DocDtls, SellerDtls, "
                                  "BuyerDtls, ItemList, ValDtls)")},
                  {QStringLiteral("summary"), prop("string", "one line the CA reads: who, what and how much")}},
                 {QStringLiteral("invoice"), QStringLiteral("summary")})),
        Tool::descriptor("einvoice_cancel",
             "Cancel an IRN within 24 hours of generating it. The CA approves it in Velto first. After 24 hours the IRP "
             "refuses, and the invoice has to be dealt with by credit note instead.",
             obj({{QStringLiteral("irn"), prop("string")},
                  {QStringLiteral("reason_code"),
                   prop("string", "1 duplicate, 2 data entry mistake, 3 order cancelled, 4 other",
                        {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4")})},
                  {QStringLiteral("remarks"), prop("string")}},
                 {QStringLiteral("irn"), QStringLiteral("reason_code")})),
    };
}

void EInvoiceTools::call(const QString &name, const QJsonObject &args, Tool::Done done)
{
    if (name == QLatin1String("einvoice_status"))
        status(std::move(done));
    else if (name == QLatin1String("einvoice_connect"))
        connectIrp(args, std::move(done));
    else if (name == QLatin1String("einvoice_get"))
        get(args, std::move(done));
    else if (name == QLatin1String("einvoice_generate"))
        generate(args, std::move(done));
    else if (name == QLatin1String("einvoice_cancel"))
        cancel(args, std::move(done));
    else
        done(QStringLiteral("Unknown e-invoice tool: ") + name, true);
}

ToolFamily EInvoiceTools::family()
{
    return ToolFamily{
        &EInvoiceTools::names,
        &EInvoiceTools::definitions,
        [](const QString &name, const QJsonObject &args, Tool::Done done) { call(name, args, std::move(done)); },
    };
}

bool EInvoiceTools::confirm(const QString &title, const QString &message, const QString &approve, const QString &detail)
{
    const qsizetype lineFeed = title.indexOf(QLatin1Char('\n'));
    Dialogs::Confirm c;
    c.title = lineFeed < 0 ? title : title.left(lineFeed);
    c.text = lineFeed < 0 ? message : title.mid(lineFeed + 1) + QStringLiteral("\n\n") + message;
    // The exact data goes in the dialog's scrolling box, as in the books'
    // confirm: a large invoice would otherwise make a dialog taller than the screen.
    c.detail = detail;
    c.approve = approve;
    c.cancel = QStringLiteral("Cancel");
    c.style = Dialogs::Style::Critical;
    return Dialogs::confirm(c);
}
