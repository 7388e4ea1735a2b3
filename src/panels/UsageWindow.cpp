#include "panels/UsageWindow.h"

#include "core/Globals.h"
#include "panels/PanelCloud.h"
#include "platform/Desktop.h"
#include "ui/Busy.h"
#include "ui/PanelKit.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QJsonArray>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

using PanelKit::fromBottom;

namespace {

constexpr int kWidth = 520;
constexpr int kHeight = 500;
constexpr int kBodyWidth = 436;

QLabel *wrapping(const QString &text, qreal size, const QColor &color)
{
    QLabel *l = PanelKit::label(text, size, color);
    l->setWordWrap(true);
    l->setFixedWidth(kBodyWidth);
    return l;
}

} // namespace

UsageWindow::UsageWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Usage & Plan"));
    setWindowFlag(Qt::WindowMinimizeButtonHint, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    setFixedSize(kWidth, kHeight);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    body_ = new QWidget;
    stack_ = new QVBoxLayout(body_);
    stack_->setContentsMargins(0, 0, 0, 0);
    stack_->setSpacing(14);
    stack_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    orb_ = new OrbView(QRect(0, 0, 18, 18));

    build();
    QPointer<UsageWindow> self(this);
    watch_ = std::make_unique<PanelThemeWatch>(this, [self] {
        if (self)
            self->repaint();
    });
    reload();
}

UsageWindow::~UsageWindow() = default;

void UsageWindow::build()
{
    PanelKit::prepare(this);
    QWidget *old = root_;
    QWidget *root = PanelKit::root(QSize(kWidth, kHeight));
    auto *card = new QWidget(root);
    const QRect cardFrame = fromBottom(kHeight, 16, 16, 488, 468);
    card->setGeometry(cardFrame);
    Theme::card(card, 14);
    body_->setParent(card);
    body_->setGeometry(fromBottom(cardFrame.height(), 26, 22, 436, 424));
    orb_->setParent(card);
    orb_->setGeometry(fromBottom(cardFrame.height(), 446, 428, 18, 18));
    orb_->retint();
    PanelKit::anchorChildren(root, QSize(kWidth, kHeight), {{card, cardFrame, 0, 0, 1, 1}});
    body_->show();
    orb_->show();
    card->show();
    PanelKit::replaceRoot(this, old, root);
    root_ = root;
}

void UsageWindow::repaint()
{
    build();
    if (last_)
        render(*last_);
}

void UsageWindow::reload()
{
    orb_->setBusy(true);
    QPointer<UsageWindow> self(this);
    const bool sent = PanelCloud::send("GET", QStringLiteral("/cli/whoami"), 20, std::nullopt,
                                       [self](const PanelCloud::Reply &reply) {
                                           if (!self)
                                               return;
                                           self->orb_->setBusy(false);
                                           self->render(reply.json);
                                       });
    if (!sent) {
        // Nothing to ask without a seat: say so rather than spin for ever.
        orb_->setBusy(false);
        last_.reset();
        while (QLayoutItem *item = stack_->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        addRow(PanelKit::label(QStringLiteral("Not signed in to Hallix."), 12, Theme::muted()));
    }
}

void UsageWindow::openPlans()
{
    Desktop::openUrl(QUrl(API + QStringLiteral("/ca/cli")));
}

void UsageWindow::addRow(QWidget *row)
{
    stack_->addWidget(row, 0, Qt::AlignLeft);
    row->show();
}

QString UsageWindow::limitText(qint64 used, qint64 cap, const QString &reset)
{
    return PanelCloud::grouped(used) + QStringLiteral(" / ") +
           (cap < 1 ? QStringLiteral("\u2014") : PanelCloud::grouped(cap)) +
           QStringLiteral("   \u00b7   resets ") + reset;
}

double UsageWindow::limitFraction(qint64 used, qint64 cap)
{
    if (cap < 1)
        return 0;
    return std::min(1.0, double(used) / double(cap));
}

QWidget *UsageWindow::bar(const QString &label, qint64 used, qint64 cap, const QString &reset)
{
    auto *row = new QWidget;
    row->setFixedSize(kBodyWidth, 44);
    QLabel *name = PanelKit::label(label, 12.5, QFont::Medium, Theme::ink());
    name->setParent(row);
    name->setGeometry(fromBottom(44, 0, 24, 200, 16));
    QLabel *right = PanelKit::label(limitText(used, cap, reset), 11, Theme::muted());
    right->setParent(row);
    right->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    right->setGeometry(fromBottom(44, 156, 24, 280, 16));
    QWidget *track = PanelKit::bar(kBodyWidth, 5, limitFraction(used, cap));
    track->setParent(row);
    track->move(0, 44 - 10 - 5);
    return row;
}

void UsageWindow::render(const std::optional<QJsonObject> &account)
{
    using namespace PanelCloud;
    last_ = account;
    while (QLayoutItem *item = stack_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QJsonObject a = account.value_or(QJsonObject{});
    const auto plan = objectOf(a.value(QStringLiteral("plan")));
    const auto usage = objectOf(a.value(QStringLiteral("usage")));
    const auto profile = objectOf(a.value(QStringLiteral("profile")));
    const auto seat = objectOf(a.value(QStringLiteral("seat")));
    if (a.isEmpty() || a.value(QStringLiteral("success")) != QJsonValue(true) || !plan || !usage || !profile ||
        !seat) {
        addRow(wrapping(QStringLiteral("Could not reach Hallix. Check your connection and try again."), 12,
                        Theme::stampInk()));
        return;
    }

    const qint64 price = integer(plan->value(QStringLiteral("price_inr")), 0);
    const QString priceText = price >= 1
                                  ? QStringLiteral("  \u00b7  \u20b9") + grouped(price) + QStringLiteral("/seat/month")
                                  : QStringLiteral("  \u00b7  free");
    QLabel *title = PanelKit::title(string(plan->value(QStringLiteral("name")), QStringLiteral("Trial")) + priceText);
    title->setFixedWidth(kBodyWidth - 24);
    addRow(title);

    addRow(PanelKit::label(string(profile->value(QStringLiteral("name"))) + QStringLiteral(" \u00b7 ") +
                               string(profile->value(QStringLiteral("firm"))) + QStringLiteral(" \u00b7 device ") +
                               string(seat->value(QStringLiteral("device"))),
                           11.5, Theme::muted()));

    bool anyLimit = false;
    const QJsonValue limits = a.value(QStringLiteral("limits"));
    if (limits.isArray()) {
        const QJsonArray list = limits.toArray();
        const bool allObjects =
            std::all_of(list.begin(), list.end(), [](const QJsonValue &v) { return v.isObject(); });
        if (allObjects) {
            for (const QJsonValue &v : list) {
                const QJsonObject l = v.toObject();
                const QString reset = string(l.value(QStringLiteral("key"))) == QStringLiteral("session")
                                          ? QStringLiteral("in ") + string(l.value(QStringLiteral("resets_in")))
                                          : string(l.value(QStringLiteral("resets_when")));
                addRow(bar(string(l.value(QStringLiteral("label"))), integer(l.value(QStringLiteral("used")), 0),
                           integer(l.value(QStringLiteral("cap")), 0), reset));
                anyLimit = true;
            }
        }
    }
    if (!anyLimit)
        addRow(PanelKit::label(QStringLiteral("Nothing used on this seat yet."), 12, Theme::muted()));

    const qint64 requests =
        integer(objectOf(usage->value(QStringLiteral("month"))).value_or(QJsonObject{}).value(QStringLiteral("requests")), 0);
    addRow(wrapping(grouped(requests) + QStringLiteral(" requests this month  \u00b7  up to ") +
                        QString::number(integer(plan->value(QStringLiteral("rpm")), 40)) +
                        QStringLiteral(" per minute  \u00b7  ") +
                        QString::number(integer(plan->value(QStringLiteral("mails_per_day")), 0)) +
                        QStringLiteral(" mails and ") +
                        QString::number(integer(plan->value(QStringLiteral("wa_per_day")), 0)) +
                        QStringLiteral(" WhatsApp messages a day  \u00b7  ") +
                        QString::number(integer(plan->value(QStringLiteral("seats_included")), 1)) +
                        QStringLiteral(" seat(s)"),
                    11.5, Theme::ink2()));
    addRow(wrapping(QStringLiteral("Limits are per seat. The 5-hour window starts with your first message of a working "
                                   "stretch; the weekly windows count from when this seat first used Velto, not from "
                                   "Monday. When Pavi Smart's weekly cap runs out, switch the model picker to Pavi Lite "
                                   "and carry on."),
                    11, Theme::muted()));

    auto *buttons = new QWidget;
    auto *h = new QHBoxLayout(buttons);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(10);
    auto *plans = new QPushButton(PanelKit::asWritten(QStringLiteral("Plans & upgrade")));
    Theme::primaryButton(plans);
    plans->setFixedSize(150, 32);
    QPointer<UsageWindow> self(this);
    connect(plans, &QPushButton::clicked, this, [self] {
        if (self && self->onPlans)
            self->onPlans();
    });
    auto *refresh = new QPushButton(QStringLiteral("Refresh"));
    Theme::secondaryButton(refresh);
    refresh->setFixedSize(96, 32);
    connect(refresh, &QPushButton::clicked, this, [self] {
        if (self)
            self->refreshNow();
    });
    h->addWidget(plans);
    h->addWidget(refresh);
    h->addStretch();
    addRow(buttons);
}
