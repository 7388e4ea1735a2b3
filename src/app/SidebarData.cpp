#include "app/SidebarData.h"
#include "app/Sidebar.h"
#include "core/EnvFile.h"
#include "core/Globals.h"

#include <QJsonArray>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <cmath>

namespace SidebarData {

namespace {

QString text(const QJsonObject &o, const QString &key)
{
    const QJsonValue v = o.value(key);
    return v.isString() ? v.toString() : QString();
}

// A JSON number that is a whole number; anything else counts as absent.
std::optional<qint64> integer(const QJsonValue &v)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > 9.0e15)
        return std::nullopt;
    return qint64(d);
}

} // namespace

QString firstCharacterUpper(const QString &text)
{
    if (text.isEmpty())
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    const qsizetype end = finder.toNextBoundary();
    return text.left(end > 0 ? end : 1).toUpper();
}

QString planText(const QJsonObject &plan, const QLocale &locale)
{
    const QJsonValue name = plan.value(QStringLiteral("name"));
    QString out = (name.isString() ? name.toString() : QStringLiteral("Trial")).toUpper();
    const qint64 price = integer(plan.value(QStringLiteral("price_inr"))).value_or(0);
    if (price >= 1)
        out += QStringLiteral(" \u00B7 \u20B9") + locale.toString(price) + QStringLiteral("/mo");
    return out;
}

AccountView accountView(const std::optional<QJsonObject> &account, const QMap<QString, QString> &seatEnv,
                        const QLocale &locale)
{
    AccountView v;
    if (!account || account->isEmpty() || !account->value(QStringLiteral("profile")).isObject()) {
        const auto email = seatEnv.constFind(QStringLiteral("PAVI_SEAT_EMAIL"));
        v.name = email != seatEnv.constEnd() ? email.value() : QStringLiteral("Signed in");
        return v;
    }
    v.hasProfile = true;
    const QJsonObject profile = account->value(QStringLiteral("profile")).toObject();
    const QString name = text(profile, QStringLiteral("name"));
    const QString email = text(profile, QStringLiteral("email"));
    const QString firm = text(profile, QStringLiteral("firm"));
    v.name = name.isEmpty() ? email : name;
    if (!v.name.isEmpty())
        v.initial = firstCharacterUpper(v.name);
    v.firm = firm.isEmpty() ? email : firm;

    const QJsonValue plan = account->value(QStringLiteral("plan"));
    if (plan.isObject())
        v.plan = planText(plan.toObject(), locale);

    const QJsonValue wallet = account->value(QStringLiteral("wallet"));
    if (wallet.isObject() && wallet.toObject().value(QStringLiteral("balance")).isString()) {
        const QJsonObject w = wallet.toObject();
        const bool payg = w.value(QStringLiteral("payg_ai")).toBool(false);
        v.wallet = QStringLiteral(" Wallet ") + w.value(QStringLiteral("balance")).toString() +
                   (payg ? QStringLiteral(" \u00B7 pay as you go on") : QStringLiteral(" \u00B7 Recharge"));
    }

    // The limit nearest its end; the first of equals wins. An array holding
    // anything but objects counts as no limits.
    QJsonArray limits = account->value(QStringLiteral("limits")).toArray();
    for (const QJsonValue &l : limits)
        if (!l.isObject()) {
            limits = {};
            break;
        }
    std::optional<QJsonObject> chosen;
    qint64 best = 0;
    for (const QJsonValue &l : limits) {
        const QJsonObject o = l.toObject();
        const qint64 pct = integer(o.value(QStringLiteral("pct"))).value_or(0);
        if (!chosen || pct > best) {
            chosen = o;
            best = pct;
        }
    }
    v.usagePct = std::clamp(double(best) / 100.0, 0.0, 1.0);
    if (chosen && chosen->value(QStringLiteral("label")).isString())
        v.usageText = chosen->value(QStringLiteral("label")).toString() + QStringLiteral(" \u00B7 ") +
                      QString::number(best) + QStringLiteral("% used");
    else
        v.usageText = QStringLiteral("No usage yet");
    return v;
}

} // namespace SidebarData

// --- the sidebar's data operations ---------------------------------------------------------

void Sidebar::setFolders(const QStringList &folders, const QString &current)
{
    folders_ = folders;
    currentDir_ = current;
    rebuild();
}

void Sidebar::setCurrentSession(const QString &id)
{
    currentSession_ = id;
    rebuild();
}

void Sidebar::refreshSessions(int enginePort, std::function<void()> done)
{
    // No address can be formed outside 1..65535.
    if (enginePort < 1 || enginePort > 65535)
        return;
    QPointer<Sidebar> self(this);
    EngineApi::listSessions(enginePort, currentDir_, [self, done = std::move(done)](const QList<SessionRow> &rows) {
        if (!self)
            return;
        // Refreshes are neither merged nor cancelled: the last reply wins.
        self->sessions_ = rows;
        self->rebuild();
        if (done)
            done();
    });
}

void Sidebar::setAccount(const std::optional<QJsonObject> &account)
{
    account_ = account;
    const SidebarData::AccountView v = SidebarData::accountView(account, readEnvFile(SEAT_ENV));
    nameLabel_->setText(v.name);
    if (!v.hasProfile)
        return;
    if (v.initial) {
        initial_ = *v.initial;
        paintChrome();
    }
    firmLabel_->setText(v.firm);
    if (v.plan) {
        planLabel_->setText(*v.plan);
        sizePlanChip();
    }
    const bool wasHidden = walletBtn_->isHidden();
    walletTitle_ = v.wallet.value_or(QString());
    walletBtn_->setHidden(!v.wallet);
    paintWallet();
    if (wasHidden != walletBtn_->isHidden())
        rebuild();
    usagePct_ = v.usagePct;
    paintUsage();
    usageText_->setText(v.usageText);
}
