#include "panels/PlansWindow.h"

#include "panels/PanelCloud.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "ui/PanelKit.h"
#include "ui/Theme.h"
#include "ui/ViewLayer.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

using PanelKit::fromBottom;

namespace {

constexpr int kWidth = 760;
constexpr int kHeight = 530;
constexpr int kCardHeight = 350;


bool isBuyable(const QJsonObject &plan)
{
    const QJsonValue v = plan.value(QStringLiteral("is_buyable"));
    if (v.isBool())
        return v.toBool();
    return PanelCloud::integer(v) == 1;
}

QString codeOf(const QJsonObject &plan)
{
    return PanelCloud::string(plan.value(QStringLiteral("code")));
}

QWidget *chip(const QString &text, const QColor &fill, const QColor &ink, QWidget *card)
{
    auto *chip = new QWidget(card);
    chip->setGeometry(fromBottom(kCardHeight, 16, 22, 136, 26));
    QColor soft = fill;
    soft.setAlphaF(0.12f);
    ViewLayer::of(chip)->background = soft;
    ViewLayer::of(chip)->cornerRadius = 13;
    ViewLayer::of(chip)->apply();
    QLabel *l = PanelKit::label(text, 10.5, QFont::Bold, ink);
    l->setParent(chip);
    l->setAlignment(Qt::AlignCenter);
    l->setGeometry(fromBottom(26, 0, 5, 136, 16));
    return chip;
}

// A modal question with a form under the text and two buttons.
QDialog *question(const QString &message, const QString &text, const QString &accept, QWidget *accessory)
{
    auto *d = new QDialog;
    d->setWindowTitle(message);
    auto *v = new QVBoxLayout(d);
    QLabel *m = PanelKit::label(message, 13, QFont::Bold, Theme::ink());
    QLabel *t = PanelKit::label(text, 11.5, Theme::ink2());
    t->setWordWrap(true);
    t->setFixedWidth(360);
    v->addWidget(m);
    v->addWidget(t);
    v->addWidget(accessory);
    auto *buttons = new QDialogButtonBox;
    buttons->addButton(accept, QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, d, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, d, &QDialog::reject);
    v->addWidget(buttons);
    return d;
}

} // namespace

std::optional<PlansWindow::BuyAnswer> PlansWindow::Hooks::defaultAskBuy(const QString &code)
{
    auto *accessory = new QWidget;
    accessory->setFixedSize(240, 28);
    auto *seats = new QLineEdit(QStringLiteral("1"), accessory);
    seats->setPlaceholderText(QStringLiteral("seats"));
    seats->setGeometry(fromBottom(28, 0, 2, 60, 24));
    auto *months = new QComboBox(accessory);
    months->addItems({QStringLiteral("1 month"), QStringLiteral("3 months"), QStringLiteral("6 months"),
                      QStringLiteral("12 months")});
    months->setGeometry(fromBottom(28, 70, 0, 160, 26));
    std::unique_ptr<QDialog> d(question(
        QStringLiteral("Buy the ") + code + QStringLiteral(" plan"),
        QStringLiteral("Seats (devices) and how many months. Longer terms cost less: 3 months 5% off, 6 months one "
                       "month free, 12 months two months free. GST is added at checkout."),
        QStringLiteral("Open checkout"), accessory));
    if (d->exec() != QDialog::Accepted)
        return std::nullopt;
    return BuyAnswer{seats->text(), months->currentIndex()};
}

std::optional<QString> PlansWindow::Hooks::defaultAskRequest(const QString &code)
{
    auto *seats = new QLineEdit(QStringLiteral("1"));
    seats->setFixedSize(80, 24);
    std::unique_ptr<QDialog> d(question(QStringLiteral("Request the ") + code + QStringLiteral(" plan?"),
                                        QStringLiteral("How many seats (devices) do you need? The Hallix team confirms "
                                                       "and switches it \u2014 nothing is charged from here."),
                                        QStringLiteral("Send request"), seats));
    if (d->exec() != QDialog::Accepted)
        return std::nullopt;
    return seats->text();
}

PlansWindow::PlansWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Plans"));
    setWindowFlag(Qt::WindowMinimizeButtonHint, false);
    resize(kWidth, kHeight);
    setMinimumSize(kWidth, kHeight);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    body_ = new QWidget;
    row_ = new QHBoxLayout(body_);
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(12);
    row_->setAlignment(Qt::AlignTop);
    status_ = new PanelStatusField;
    status_->setWordWrap(true);
    build();
    QPointer<PlansWindow> self(this);
    watch_ = std::make_unique<PanelThemeWatch>(this, [self] {
        if (self)
            self->repaint();
    });
    reload();
}

PlansWindow::~PlansWindow() = default;

void PlansWindow::clearCards()
{
    while (QLayoutItem *item = row_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

void PlansWindow::build()
{
    PanelKit::prepare(this);
    clearCards();
    QWidget *old = root_;
    QWidget *root = PanelKit::root(QSize(kWidth, kHeight));
    QLabel *title = PanelKit::title(QStringLiteral("Choose a plan"));
    title->setParent(root);
    QLabel *subtitle = PanelKit::label(QStringLiteral("Limits are per seat. Ask for a change and the Hallix team "
                                                      "switches it, usually the same day."),
                                       12, Theme::muted());
    subtitle->setParent(root);
    body_->setParent(root);
    status_->setParent(root);
    status_->setFont(Theme::font(12));
    status_->setMaximumHeight(QFontMetrics(status_->font()).lineSpacing() * 2 + 2);
    PanelKit::anchorChildren(root, QSize(kWidth, kHeight),
                             {{title, fromBottom(kHeight, 26, 480, 500, 28)},
                              {subtitle, fromBottom(kHeight, 26, 458, 706, 16)},
                              {body_, fromBottom(kHeight, 26, 78, 708, 350), 0, 0, 1, 1},
                              {status_, fromBottom(kHeight, 26, 26, 708, 34), 0, 1, 1, 0}});
    for (QWidget *w : {static_cast<QWidget *>(title), static_cast<QWidget *>(subtitle), body_,
                       static_cast<QWidget *>(status_)})
        w->show();
    PanelKit::replaceRoot(this, old, root);
    root_ = root;
}

void PlansWindow::repaint()
{
    const QString text = status_->stringValue();
    build();
    if (plans_)
        for (const QJsonObject &p : *plans_) {
            QWidget *c = card(p);
            row_->addWidget(c);
            c->show();
        }
    status_->setStringValue(text);
}

void PlansWindow::reload()
{
    QPointer<PlansWindow> self(this);
    PanelCloud::send("GET", QStringLiteral("/cli/plans"), 20, std::nullopt, [self](const PanelCloud::Reply &reply) {
        if (!self)
            return;
        self->clearCards();
        const QJsonObject r = reply.json.value_or(QJsonObject{});
        const QJsonValue plans = r.value(QStringLiteral("plans"));
        const bool allObjects = plans.isArray() && std::all_of(plans.toArray().begin(), plans.toArray().end(),
                                                               [](const QJsonValue &v) { return v.isObject(); });
        if (!reply.json || r.value(QStringLiteral("success")) != QJsonValue(true) || !allObjects) {
            self->status_->setStringValue(QStringLiteral("Could not reach Hallix. Check your connection."));
            return;
        }
        self->current_ = PanelCloud::string(r.value(QStringLiteral("current")));
        self->pending_ = PanelCloud::objectOf(r.value(QStringLiteral("pending")));
        QList<QJsonObject> list;
        for (const QJsonValue &v : plans.toArray())
            list << v.toObject();
        self->plans_ = list;
        for (const QJsonObject &p : list) {
            QWidget *c = self->card(p);
            self->row_->addWidget(c);
            c->show();
        }
        if (!self->pending_)
            self->status_->setStringValue(QString());
        else
            self->status_->setStringValue(
                QStringLiteral("Requested: ") + PanelCloud::string(self->pending_->value(QStringLiteral("to_plan"))) +
                QStringLiteral(" \u00d7 ") +
                QString::number(PanelCloud::integer(self->pending_->value(QStringLiteral("seats")), 1)) +
                QStringLiteral(" seat(s). The Hallix team will confirm."));
    });
}

QString PlansWindow::allowances(const QJsonObject &plan)
{
    using PanelCloud::integer;
    const auto n = [&](const char *key, qint64 fallback) { return integer(plan.value(QLatin1String(key)), fallback); };
    return QStringList{
        QString::number(n("seats_included", 1)) + QStringLiteral(" seat(s)"),
        QString::number(n("session_tokens", 0) / 1000) + QStringLiteral(" k tokens per 5 hours"),
        QString::number(n("weekly_tokens", 0) / 1000000) + QStringLiteral(" M a week"),
        QString::number(n("weekly_smart_tokens", 0) / 1000000) + QStringLiteral(" M of that on Pavi Smart"),
        QString::number(n("mails_per_day", 0)) + QStringLiteral(" mails a day"),
        QString::number(n("wa_per_day", 0)) + QStringLiteral(" WhatsApp a day")}
        .join(u'\n');
}

QWidget *PlansWindow::card(const QJsonObject &plan)
{
    const QString code = codeOf(plan);
    const bool current = code == current_;
    auto *card = new QWidget;
    card->setMinimumWidth(160);
    card->setFixedHeight(kCardHeight);
    card->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    Theme::card(card, 14);
    if (current) {
        ViewLayer::of(card)->borderWidth = 1.5;
        ViewLayer::of(card)->borderColor = Theme::royal();
        ViewLayer::of(card)->apply();
    }
    std::vector<PanelKit::Anchor> anchors;
    auto place = [&](QWidget *w, QRect frame) {
        w->setParent(card);
        anchors.push_back({w, frame, 0, 0, 1, 0});
    };
    QLabel *name = PanelKit::label(PanelCloud::string(plan.value(QStringLiteral("name")), code), 14, QFont::Bold,
                                   current ? Theme::royal() : Theme::ink());
    name->setWordWrap(true);
    place(name, fromBottom(kCardHeight, 16, 312, 136, 18));
    const qint64 price = PanelCloud::integer(plan.value(QStringLiteral("price_inr")), 0);
    place(PanelKit::label(price < 1 ? QStringLiteral("Free") : QStringLiteral("\u20b9") + PanelCloud::grouped(price), 24,
                          QFont::Bold, Theme::ink()),
          fromBottom(kCardHeight, 16, 278, 136, 30));
    place(PanelKit::label(price < 1 ? QStringLiteral("14 days") : QStringLiteral("per seat / month"), 10.5,
                          Theme::muted()),
          fromBottom(kCardHeight, 16, 262, 136, 14));
    place(PanelKit::hairline(QRect()), fromBottom(kCardHeight, 16, 248, 136, 1));
    QLabel *lines = PanelKit::label(allowances(plan), 11.5, Theme::ink2());
    lines->setWordWrap(true);
    lines->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(lines, fromBottom(kCardHeight, 16, 124, 136, 116));

    QPointer<PlansWindow> self(this);
    auto button = [&](const QString &title, bool primary, QRect frame, bool isBuy) {
        auto *b = new QPushButton(PanelKit::asWritten(title));
        b->setObjectName(code);
        primary ? Theme::primaryButton(b) : Theme::secondaryButton(b);
        // The card is narrow: "Request upgrade" needs the room.
        b->setStyleSheet(b->styleSheet() + QStringLiteral("QAbstractButton{padding:0 4px}"));
        place(b, frame);
        connect(b, &QPushButton::clicked, this, [self, b, isBuy] {
            if (!self)
                return;
            isBuy ? self->buy(b) : self->request(b);
        });
    };
    if (current) {
        place(chip(QStringLiteral("CURRENT PLAN"), Theme::seal(), Theme::sealInk(), card),
              fromBottom(kCardHeight, 16, 22, 136, 26));
    } else if (pending_) {
        place(chip(QStringLiteral("REQUEST PENDING"), Theme::amber(), Theme::amberInk(), card),
              fromBottom(kCardHeight, 16, 22, 136, 26));
    } else if (price < 1) {
        button(QStringLiteral("Switch"), false, fromBottom(kCardHeight, 16, 16, 136, 32), false);
    } else if (isBuyable(plan)) {
        button(QStringLiteral("Buy now"), true, fromBottom(kCardHeight, 16, 46, 136, 32), true);
        button(QStringLiteral("Ask Hallix"), false, fromBottom(kCardHeight, 16, 12, 136, 28), false);
    } else {
        button(QStringLiteral("Request upgrade"), true, fromBottom(kCardHeight, 16, 16, 136, 32), false);
    }
    PanelKit::anchorChildren(card, QSize(168, kCardHeight), anchors);
    // The card's own width is set by the row; the children follow it.
    card->resize(168, kCardHeight);
    return card;
}

qint64 PlansWindow::seatsFrom(const QString &typed)
{
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    if (!decimal.match(typed).hasMatch())
        return 1;
    bool ok = false;
    const qint64 n = typed.toLongLong(&ok);
    return ok ? std::max<qint64>(1, n) : 1;
}

void PlansWindow::buy(QPushButton *sender)
{
    const QString code = sender ? sender->objectName() : QString();
    if (code.isEmpty() || !PanelCloud::seatToken())
        return;
    std::optional<BuyAnswer> answer;
    {
        Modal::Scope modal;
        answer = Hooks::askBuy(code);
    }
    if (!answer)
        return;
    static const int monthsFor[] = {1, 3, 6, 12};
    const qint64 seats = seatsFrom(answer->seats);
    const int months = monthsFor[std::clamp(answer->months, 0, 3)];
    QPointer<QPushButton> button(sender);
    QPointer<PlansWindow> self(this);
    const bool sent = PanelCloud::send(
        "POST", QStringLiteral("/cli/checkout"), 25,
        QJsonObject{{QStringLiteral("plan"), code},
                    {QStringLiteral("seats"), double(seats)},
                    {QStringLiteral("months"), months}},
        [self, button](const PanelCloud::Reply &reply) {
            if (button)
                button->setEnabled(true);
            if (!self)
                return;
            const QJsonObject r = reply.json.value_or(QJsonObject{});
            const QUrl url(PanelCloud::string(r.value(QStringLiteral("url"))), QUrl::StrictMode);
            // Only a web page is handed to the browser, whatever the reply names.
            if (url.isValid() && (url.scheme() == QStringLiteral("https") || url.scheme() == QStringLiteral("http")) &&
                !url.host().isEmpty()) {
                Desktop::openUrl(url);
                const qint64 total = PanelCloud::integer(
                    PanelCloud::objectOf(r.value(QStringLiteral("quote"))).value_or(QJsonObject{}).value(
                        QStringLiteral("total_inr")),
                    0);
                self->status_->setStringValue(QStringLiteral("Checkout opened in your browser \u2014 \u20b9") +
                                              PanelCloud::grouped(total) +
                                              QStringLiteral(" including GST. Finish it there, then come back."));
                return;
            }
            const QJsonValue message =
                PanelCloud::objectOf(r.value(QStringLiteral("error"))).value_or(QJsonObject{}).value(QStringLiteral("message"));
            self->status_->setStringValue(message.isString() ? message.toString()
                                                             : QStringLiteral("Could not start the checkout."));
        });
    if (sent) {
        sender->setEnabled(false);
        status_->setStringValue(QStringLiteral("Opening secure checkout\u2026"));
    }
}

void PlansWindow::request(QPushButton *sender)
{
    const QString code = sender ? sender->objectName() : QString();
    if (code.isEmpty() || !PanelCloud::seatToken())
        return;
    std::optional<QString> typed;
    {
        Modal::Scope modal;
        typed = Hooks::askRequest(code);
    }
    if (!typed)
        return;
    QPointer<QPushButton> button(sender);
    QPointer<PlansWindow> self(this);
    const bool sent = PanelCloud::send(
        "POST", QStringLiteral("/cli/upgrade"), 25,
        QJsonObject{{QStringLiteral("plan"), code},
                    {QStringLiteral("seats"), double(seatsFrom(*typed))},
                    {QStringLiteral("note"), QStringLiteral("from the Velto app")}},
        [self, button](const PanelCloud::Reply &reply) {
            if (button)
                button->setEnabled(true);
            if (!self)
                return;
            const QJsonObject r = reply.json.value_or(QJsonObject{});
            const QJsonValue message = r.value(QStringLiteral("message"));
            const QJsonValue error =
                PanelCloud::objectOf(r.value(QStringLiteral("error"))).value_or(QJsonObject{}).value(QStringLiteral("message"));
            // Only a 2xx reply says the request arrived.
            const bool accepted = reply.status >= 200 && reply.status < 300;
            QString text;
            if (accepted && message.isString())
                text = message.toString();
            else if (error.isString())
                text = error.toString();
            else
                text = accepted ? QStringLiteral("Request sent.") : QStringLiteral("Could not send the request.");
            self->status_->setStringValue(text);
            self->reload();
        });
    if (sent) {
        sender->setEnabled(false);
        status_->setStringValue(QStringLiteral("Sending\u2026"));
    }
}
