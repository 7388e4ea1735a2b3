// How an ERP tool call is run: which client's ERP it is about, whether that
// connection's token still opens that client's books, and the life of a
// prepared write up to the CA's approval.
#include "erp/ErpClient.h"
#include "core/JsonFields.h"
#include "erp/ErpConnect.h"
#include "erp/ErpText.h"
#include "erp/ErpTools.h"

#include "core/Characters.h"
#include "platform/Dialogs.h"

#include <QDateTime>
#include <QLocale>
#include <atomic>
#include <memory>

namespace {

using JsonFields::text;

const QString kReconnect = QStringLiteral(" The CA reconnects from Velto → Ledgora ERP….");

void connections(const Tool::Done &done)
{
    const std::vector<ErpConnection> list = ErpVault::all();
    if (list.empty()) {
        done(QStringLiteral("No client's ERP is connected. If the client sent the CA a code from their ERP (Settings → "
                            "CA & Velto), ask the CA for it and call erp_connect_code — never ask for a token. "
                            "Otherwise the CA sends an approval link from Velto → Ledgora ERP…."),
             false);
        return;
    }
    QStringList lines;
    for (const ErpConnection &c : list) {
        QString line = c.company + QStringLiteral(" — GSTIN ") + c.gstin + QStringLiteral(" — ERP business ") + c.business +
                       QStringLiteral(", approved by ") + c.approvedBy + QStringLiteral(" — ") + c.allowed();
        if (c.expires > 0)
            line += QStringLiteral(" — until ") +
                    QLocale().toString(QDateTime::fromMSecsSinceEpoch(qint64(c.expires * 1000)),
                                       QStringLiteral("d MMM yy"));
        lines.append(line);
    }
    done(lines.join(QLatin1Char('\n')), false);
}

void connectByCode(const QJsonObject &args, const Tool::Done &done)
{
    QString base = Characters::trimSpacesTabs(text(args, "erp_address").value_or(QString()));
    if (base.isEmpty())
        base = ErpConnect::defaultBase;
    const QString code = text(args, "code").value_or(QString());
    ErpConnect::redeem(base, code, [done](const std::optional<ErpConnection> &c, const std::optional<QString> &error) {
        if (!c) {
            done(QStringLiteral("Not connected: ") + error.value_or(QStringLiteral("the code was not accepted.")), true);
            return;
        }
        done(QStringLiteral("Connected: ") + c->company + QStringLiteral(" — GSTIN ") + c->gstin +
                 QStringLiteral(" — ERP business ") + c->business + QStringLiteral(", attached by ") + c->approvedBy +
                 QStringLiteral(" — ") + c->allowed() + QStringLiteral(". Use client \"") + c->gstin +
                 QStringLiteral("\" with the erp_ tools."),
             false);
    });
}

bool isResourceName(const QString &resource)
{
    for (const QChar ch : resource) {
        const bool ok = (ch >= QLatin1Char('a') && ch <= QLatin1Char('z')) ||
                        (ch >= QLatin1Char('0') && ch <= QLatin1Char('9')) || ch == QLatin1Char('_') ||
                        ch == QLatin1Char('-');
        if (!ok)
            return false;
    }
    return true;
}

// A label of the approval preview, padded to 11 characters, its value and a
// line feed.
QString labelled(const QString &label, const QString &value)
{
    return label.leftJustified(11, QLatin1Char(' ')) + value + QLatin1Char('\n');
}

std::optional<QJsonValue> member(const QJsonObject &o, const char *key)
{
    const auto it = o.constFind(QLatin1String(key));
    if (it == o.constEnd())
        return std::nullopt;
    return *it;
}

bool nonZeroNumber(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isDouble() && v.toDouble() != 0;
}

QString itemLine(const QJsonObject &item)
{
    QJsonValue name = item.value(QLatin1String("name"));
    if (name.isUndefined())
        name = item.value(QLatin1String("variation_id"));
    QString shown = name.isUndefined() ? QStringLiteral("item") : ErpText::plain(name);
    shown = Characters::left(shown, 34);
    shown += QString(std::max<qsizetype>(0, 34 - Characters::count(shown)), QLatin1Char(' '));
    return QStringLiteral("  ") + shown + QLatin1Char(' ') + ErpText::plain(item.value(QLatin1String("quantity"))) +
           QStringLiteral(" × ") + ErpTools::money(member(item, "unit_price")) + QStringLiteral(" = ") +
           ErpTools::money(member(item, "line_total")) + QLatin1Char('\n');
}

} // namespace

double ErpTools::now()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

void ErpTools::call(const QString &name, const QJsonObject &args, Tool::Done done)
{
    // Whatever happens below, the tool server hears exactly once.
    auto once = std::make_shared<std::atomic<bool>>(false);
    Tool::Done answer = [once, done = std::move(done)](const QString &text, bool isError) {
        if (!once->exchange(true))
            done(text, isError);
    };

    if (name == QLatin1String("erp_connections"))
        return connections(answer);
    if (name == QLatin1String("erp_commit"))
        return commit(args, answer);
    if (name == QLatin1String("gstr2b_reconcile"))
        return gstr2b(args, answer);
    if (name == QLatin1String("bank_statement"))
        return bankStatement(args, answer);
    if (name == QLatin1String("erp_connect_code"))
        return connectByCode(args, answer);

    const auto [connection, message] = ErpVault::pick(text(args, "client").value_or(QString()));
    if (!connection)
        return answer(message, true);
    const ErpConnection c = *connection;
    const std::optional<QString> token = tokenFor(c.id);
    if (!token)
        return answer(QStringLiteral("The connection for ") + c.company +
                          QStringLiteral(" is missing its token on this computer.") + kReconnect,
                      true);
    const QString resource = Characters::trimSpacesTabs(text(args, "resource").value_or(QString()));
    if (!isResourceName(resource))
        return answer(QStringLiteral("Resource names are lowercase letters and underscores, e.g. sells. Call "
                                     "erp_resources."),
                      true);
    verify(c, *token, [name, args, c, token = *token, resource, answer](const std::optional<QString> &message) {
        if (message)
            return answer(*message, true);
        run(name, args, c, token, resource, answer);
    });
}

QString ErpTools::header(const ErpConnection &c)
{
    return QLatin1Char('[') + c.company + QStringLiteral(" · ") + c.gstin + QStringLiteral("]\n");
}

void ErpTools::verify(const ErpConnection &c, const QString &token,
                      std::function<void(const std::optional<QString> &)> done)
{
    const auto it = verified.constFind(c.id);
    if (it != verified.constEnd() && now() - *it < verifiedLife)
        return done(std::nullopt);
    ErpClient::call(c.base, token, QStringLiteral("GET"), QStringLiteral("whoami"), {}, std::nullopt,
                    [c, done = std::move(done)](const ErpClient::Answer &a) {
                        if (!a.json)
                            return done(header(c) + a.error.value_or(QStringLiteral("The ERP did not answer.")));
                        const QJsonValue gstin = a.json->value(QLatin1String("business_gstin"));
                        const QString business = gstin.isString() ? gstin.toString().toUpper() : QString();
                        if (business == c.gstin) {
                            verified.insert(c.id, now());
                            return done(std::nullopt);
                        }
                        verified.remove(c.id);
                        const QJsonValue name = a.json->value(QLatin1String("business"));
                        done(QStringLiteral("Stopped: ") + c.company + QStringLiteral("'s GSTIN is ") + c.gstin +
                             QStringLiteral(", but this ERP connection now opens the books of ") +
                             (name.isUndefined() ? QStringLiteral("another business") : ErpText::plain(name)) +
                             QStringLiteral(" (GSTIN ") + (business.isEmpty() ? QStringLiteral("none") : business) +
                             QStringLiteral("). Nothing was read. Tell the CA; they should remove this connection and "
                                            "ask the client to approve again."));
                    });
}

void ErpTools::sweep()
{
    const double cutoff = now() - pendingLife;
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->created > cutoff)
            ++it;
        else
            it = pending.erase(it);
    }
}

void ErpTools::commit(const QJsonObject &args, const Tool::Done &done)
{
    sweep();
    const QString id = text(args, "pending_id").value_or(QString());
    const auto it = pending.constFind(id);
    if (it == pending.constEnd())
        return done(QStringLiteral("No prepared write with that id — it may have expired (20 minutes) or already been "
                                   "used. Call erp_prepare again."),
                    true);
    // Single use: whatever follows, this id is spent.
    const ErpPending write = *it;
    pending.remove(id);
    const ErpConnection &c = write.connection;
    const std::optional<QString> token = tokenFor(c.id);
    if (!token)
        return done(QStringLiteral("The connection for ") + c.company + QStringLiteral(" is missing its token on this computer."),
                    true);
    // A write always asks the ERP who it is, however recent the last check.
    verified.remove(c.id);
    verify(c, *token, [write, token = *token, done](const std::optional<QString> &message) {
        if (message)
            return done(*message, true);
        if (!approve(write, summary(write)))
            return done(QStringLiteral("The CA did not approve this write. Nothing was written. Stop, and ask them what "
                                       "to change."),
                        true);
        const ErpConnection &c = write.connection;
        ErpClient::call(c.base, token, QStringLiteral("POST"),
                        QStringLiteral("write/") + write.resource + QLatin1Char('/') + write.action, {},
                        ErpClient::Form{{QStringLiteral("data"), write.data}, {QStringLiteral("commit"), QStringLiteral("1")}},
                        [company = c.company, done](const ErpClient::Answer &a) {
                            if (!a.json && a.mayHaveArrived) {
                                // Some of the client's texts end without a full stop.
                                QString error = a.error.value_or(QStringLiteral("unknown error"));
                                if (!error.endsWith(QLatin1Char('.')))
                                    error += QLatin1Char('.');
                                return done(QStringLiteral("The CA approved and the write was sent, but no whole answer "
                                                           "came back: ") +
                                                error + QStringLiteral(" The write may have reached the ERP: check ") +
                                                company +
                                                QStringLiteral("'s books there before trying again — tell the CA."),
                                            true);
                            }
                            if (!a.json)
                                return done(QStringLiteral("The CA approved, but the ERP refused the write: ") +
                                                a.error.value_or(QStringLiteral("unknown error")) +
                                                QStringLiteral(". Nothing was written — tell the CA."),
                                            true);
                            const QJsonValue result = a.json->contains(QLatin1String("result"))
                                                          ? a.json->value(QLatin1String("result"))
                                                          : QJsonValue(*a.json);
                            done(QStringLiteral("Written to ") + company + QStringLiteral("'s books.\n\n") +
                                     ErpText::json(result),
                                 false);
                        });
    });
}

QString ErpTools::summary(const ErpPending &p)
{
    QString out = labelled(QStringLiteral("Client"), p.connection.company) +
                  labelled(QStringLiteral("GSTIN"), p.connection.gstin);
    const QJsonObject o = p.preview.toObject();
    if (!p.preview.isObject() || (!o.contains(QLatin1String("lines")) && !o.contains(QLatin1String("final_total"))))
        return out + QLatin1Char('\n') + ErpText::json(p.preview);

    if (const auto v = member(o, "contact"))
        out += labelled(QStringLiteral("Party"), ErpText::plain(*v));
    if (const auto v = member(o, "location"))
        out += labelled(QStringLiteral("Location"), ErpText::plain(*v));
    if (const auto v = member(o, "status"))
        out += labelled(QStringLiteral("Status"), ErpText::plain(*v));
    const QJsonValue lines = o.value(QLatin1String("lines"));
    bool itemised = lines.isArray();
    for (const QJsonValue &line : lines.toArray())
        itemised = itemised && line.isObject();
    if (itemised) {
        out += QLatin1Char('\n');
        for (const QJsonValue &line : lines.toArray())
            out += itemLine(line.toObject());
        out += QLatin1Char('\n');
    }
    if (const auto v = member(o, "subtotal"))
        out += labelled(QStringLiteral("Before tax"), money(v));
    if (nonZeroNumber(o, "discount"))
        out += labelled(QStringLiteral("Discount"), money(member(o, "discount")));
    if (nonZeroNumber(o, "shipping"))
        out += labelled(QStringLiteral("Shipping"), money(member(o, "shipping")));
    if (const auto v = member(o, "final_total"))
        out += labelled(QStringLiteral("TOTAL"), money(v));
    if (const auto v = member(o, "paying_now"))
        out += labelled(QStringLiteral("Paid now"), money(v));
    return out;
}

bool ErpTools::approveDialog(const ErpPending &p, const QString &preview)
{
    const QString word = p.action == QLatin1String("create") ? QStringLiteral("Create") : QStringLiteral("Update");
    Dialogs::Confirm c;
    c.title = word + QLatin1Char(' ') + QString(p.resource).replace(QLatin1Char('_'), QLatin1Char(' ')) +
              QStringLiteral(" for ") + p.connection.company + QLatin1Char('?');
    c.text = QStringLiteral("GSTIN ") + p.connection.gstin + QStringLiteral(" ✓ matches the ERP business ") +
             p.connection.business + QStringLiteral(". The client approved this connection (") + p.connection.approvedBy +
             QStringLiteral("). What is written is exactly the preview below — nothing else will be sent.");
    c.detail = preview;
    c.approve = word;
    c.cancel = QStringLiteral("Cancel");
    c.style = Dialogs::Style::Warning;
    c.front = true;
    return Dialogs::confirm(c);
}
