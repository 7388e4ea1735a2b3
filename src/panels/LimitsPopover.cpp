#include "panels/LimitsPopover.h"

#include "panels/PanelCloud.h"
#include "ui/PanelKit.h"
#include "ui/Theme.h"
#include "ui/ViewLayer.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <cmath>

using PanelKit::fromBottom;

DetailsProxy *DetailsProxy::shared()
{
    static auto *proxy = new DetailsProxy;
    return proxy;
}

LimitRow::LimitRow(const QString &label, const QString &right, double fraction, QWidget *parent) : QWidget(parent)
{
    resize(304, 38);
    labelView = PanelKit::label(label, 12.5, QFont::Medium, Theme::ink());
    labelView->setParent(this);
    labelView->setGeometry(fromBottom(38, 0, 20, 184, 16));
    rightView = PanelKit::label(right, 11, Theme::muted());
    rightView->setParent(this);
    rightView->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    rightView->setGeometry(fromBottom(38, 114, 20, 190, 16));
    barView = PanelKit::bar(304, 5, fraction);
    barView->setParent(this);
    barView->move(0, 38 - 6 - 5);
}

LimitsPopover::LimitsPopover()
{
    popover_ = new QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint);
    popover_->setAttribute(Qt::WA_DeleteOnClose, false);
    auto *layout = new QVBoxLayout(popover_);
    layout->setContentsMargins(0, 0, 0, 0);
}

LimitsPopover::~LimitsPopover()
{
    delete popover_;
}

void LimitsPopover::close()
{
    if (popover_)
        popover_->hide();
}

QPoint LimitsPopover::placement(const QRect &anchor, const QSize &size, const QRect &window, const QRect &screen)
{
    // The room it may take: the window's frame within the screen's free area
    // (the window alone when it lies off every screen).
    QRect room = window.intersected(screen);
    if (room.isEmpty())
        room = window;
    const int gap = 6;
    // Above the anchor when there is room (the chip sits low in the sidebar),
    // else below it.
    int y = anchor.top() - gap - size.height();
    if (y < room.top())
        y = anchor.bottom() + 1 + gap;
    y = std::max(room.top(), std::min(y, room.bottom() + 1 - size.height()));
    int x = anchor.center().x() - size.width() / 2;
    x = std::max(room.left(), std::min(x, room.right() + 1 - size.width()));
    return QPoint(x, y);
}

QString LimitsPopover::resetText(const QJsonObject &limit)
{
    using namespace PanelCloud;
    const QString reset = string(limit.value(QStringLiteral("key"))) == QStringLiteral("session")
                              ? QStringLiteral("Resets in ") + string(limit.value(QStringLiteral("resets_in")))
                              : QStringLiteral("Resets ") + string(limit.value(QStringLiteral("resets_when")));
    return reset + QStringLiteral("   ") + QString::number(integer(limit.value(QStringLiteral("pct")), 0)) +
           QStringLiteral("%");
}

void LimitsPopover::show(QWidget *anchor, const std::optional<QJsonObject> &account, std::function<void()> onDetails)
{
    using namespace PanelCloud;
    const QJsonObject a = account.value_or(QJsonObject{});
    QList<QJsonObject> limits;
    for (const QJsonValue &v : a.value(QStringLiteral("limits")).toArray())
        if (v.isObject())
            limits << v.toObject();
    const QString planName =
        string(objectOf(a.value(QStringLiteral("plan"))).value_or(QJsonObject{}).value(QStringLiteral("name")));
    const int n = int(limits.size());
    const int h = std::max(n, 1) * 46 + 56 + 42;

    auto *content = new QWidget;
    content->setFixedSize(340, h);
    ViewLayer::of(content)->background = Theme::surface();
    ViewLayer::of(content)->apply();

    QLabel *heading = PanelKit::label(QStringLiteral("Plan usage limits"), 14, QFont::Bold, Theme::ink());
    heading->setParent(content);
    heading->setGeometry(fromBottom(h, 18, h - 36, 180, 20));

    auto *chip = new QWidget(content);
    QLabel *chipLabel = PanelKit::label(planName.toUpper(), 10, QFont::Bold, Theme::royal());
    chipLabel->setAlignment(Qt::AlignCenter);
    const int w = std::min(150, int(std::ceil(chipLabel->sizeHint().width())) + 20);
    chipLabel->setParent(chip);
    chipLabel->setGeometry(fromBottom(20, 0, 3, w, 14));
    chipLabel->setText(chipLabel->fontMetrics().elidedText(planName.toUpper(), Qt::ElideRight, w));
    chip->setGeometry(fromBottom(h, 322 - w, h - 36, w, 20));
    ViewLayer::of(chip)->background = Theme::selected();
    ViewLayer::of(chip)->cornerRadius = 10;
    ViewLayer::of(chip)->apply();
    chip_ = chipLabel;

    int y = h - 36 - 46;
    for (const QJsonObject &l : limits) {
        const double pct = double(integer(l.value(QStringLiteral("pct")), 0));
        auto *row = new LimitRow(string(l.value(QStringLiteral("label"))), resetText(l),
                                 std::min(pct, 100.0) / 100.0, content);
        row->setGeometry(fromBottom(h, 18, y, 304, 38));
        y -= 46;
    }
    if (limits.isEmpty()) {
        QLabel *none = PanelKit::label(QStringLiteral("No usage recorded on this seat yet."), 12, Theme::muted());
        none->setParent(content);
        none->setGeometry(fromBottom(h, 18, y + 14, 304, 18));
    }
    QWidget *hair = PanelKit::hairline(fromBottom(h, 0, 38, 340, 1));
    hair->setParent(content);

    link_ = new QPushButton(QStringLiteral("See detailed breakdown"), content);
    link_->setFlat(true);
    link_->setCursor(Qt::PointingHandCursor);
    link_->setFont(Theme::font(12.5, QFont::Medium));
    link_->setStyleSheet(QStringLiteral("QPushButton{border:none;background:transparent;text-align:left;color:%1;"
                                        "padding:0 0 0 0}")
                             .arg(Theme::qss(Theme::royal())));
    link_->setGeometry(fromBottom(h, 10, 6, 320, 28));
    connect(link_, &QPushButton::clicked, DetailsProxy::shared(), &DetailsProxy::fire);
    QPointer<LimitsPopover> self(this);
    DetailsProxy::shared()->handler = [self, onDetails = std::move(onDetails)] {
        if (self)
            self->close();
        if (onDetails)
            onDetails();
    };

    if (!popover_)
        return;
    if (content_)
        content_->deleteLater();
    content_ = content;
    popover_->layout()->addWidget(content);
    popover_->setPalette(Theme::palette());
    popover_->setFixedSize(content->size());
    for (QObject *o : content->children())
        if (auto *child = qobject_cast<QWidget *>(o))
            child->show();
    chip->setVisible(!planName.isEmpty());
    content->show();

    QPoint at;
    if (anchor) {
        const QRect frame(anchor->mapToGlobal(QPoint(0, 0)), anchor->size());
        const QWidget *window = anchor->window();
        const QRect windowFrame(window->mapToGlobal(QPoint(0, 0)), window->size());
        const QScreen *screen = anchor->screen();
        at = placement(frame, popover_->size(), windowFrame, screen ? screen->availableGeometry() : windowFrame);
    }
    popover_->move(at);
    popover_->show();
}
