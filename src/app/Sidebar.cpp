#include "app/Sidebar.h"
#include "ui/PanelKit.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"
#include "ui/ViewLayer.h"

#include <QEnterEvent>
#include <QDir>
#include <QFontMetrics>
#include <QGraphicsDropShadowEffect>
#include <QKeySequence>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <cmath>

namespace {

constexpr int kRowWidth = 236;
constexpr int kBoxHeight = 138;

// A borderless button that draws only its icon and title.
QPushButton *plainButton(QWidget *parent)
{
    auto *b = new QPushButton(parent);
    b->setFlat(true);
    b->setCursor(Qt::ArrowCursor);
    b->setFocusPolicy(Qt::NoFocus);
    b->setStyleSheet(QStringLiteral("QPushButton{border:none;background:transparent;padding:0;margin:0}"));
    return b;
}

// A one-line label cut at the tail when too long (the kit's subtitle label),
// in the given font.
QLabel *tailLabel(const QString &text, const QFont &font, QWidget *parent)
{
    QLabel *l = PanelKit::subtitle(text);
    l->setParent(parent);
    l->setFont(font);
    return l;
}

// The row's button: the icon and "  " + title, left-aligned, the title cut at
// its tail; the colours and font come from the row's state.
class RowButton : public QAbstractButton {
public:
    RowButton(const QString &title, const QString &symbol, QWidget *parent)
        : QAbstractButton(parent), symbol_(symbol)
    {
        setText(title);
        setAccessibleName(title);
        setFocusPolicy(Qt::NoFocus);
    }
    QColor tint, titleColor;
    QFont titleFont;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const int side = Symbols::side(13);
        // Drawn again only when the colour or the screen changes.
        if (iconTint_ != tint || icon_.devicePixelRatio() != devicePixelRatioF()) {
            icon_ = Symbols::image(symbol_, 13, QFont::Normal, tint, devicePixelRatioF());
            iconTint_ = tint;
        }
        int x = 6;
        if (!icon_.isNull()) {
            p.drawPixmap(QPoint(x, (height() - side) / 2), icon_);
            x += side;
        }
        p.setFont(titleFont);
        p.setPen(titleColor);
        const QRect r(x, 0, std::max(0, width() - x - 4), height());
        const QString shown = QFontMetrics(titleFont).elidedText(QStringLiteral("  ") + text(), Qt::ElideRight, r.width());
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, shown);
    }

private:
    QString symbol_;
    QPixmap icon_;
    QColor iconTint_;
};

} // namespace

// --- HoverRow ---------------------------------------------------------------------

HoverRow::HoverRow(const QString &title, const QString &symbol, int tag, bool selected,
                   std::function<void(int)> action, QWidget *parent)
    : QWidget(parent), label_(title), tag_(tag), selected_(selected)
{
    setFixedSize(kRowWidth, 34);
    ViewLayer::of(this)->cornerRadius = 10;
    button_ = new RowButton(title, symbol, this);
    button_->setGeometry(4, 0, kRowWidth - 8, 34);
    connect(button_, &QAbstractButton::clicked, this, [this, action = std::move(action)] {
        if (action)
            action(tag_);
    });
    paint();
}

void HoverRow::setSelected(bool selected)
{
    selected_ = selected;
    paint();
}

void HoverRow::paint()
{
    ViewLayer *l = ViewLayer::of(this);
    l->background = selected_ ? QBrush(Theme::selected()) : hovering_ ? QBrush(Theme::hover()) : QBrush(Qt::NoBrush);
    l->apply();
    auto *b = static_cast<RowButton *>(button_);
    b->tint = selected_ ? Theme::royal() : hovering_ ? Theme::ink() : Theme::muted();
    b->titleColor = (selected_ || hovering_) ? Theme::ink() : Theme::ink2();
    b->titleFont = Theme::font(12.5, selected_ ? QFont::Medium : QFont::Normal);
    b->update();
}

void HoverRow::enterEvent(QEnterEvent *event)
{
    hovering_ = true;
    paint();
    QWidget::enterEvent(event);
}

void HoverRow::leaveEvent(QEvent *event)
{
    hovering_ = false;
    paint();
    QWidget::leaveEvent(event);
}

// --- Sidebar: the fixed parts -------------------------------------------------------

Sidebar::Sidebar(const QRect &frame, QWidget *parent) : QWidget(parent)
{
    setGeometry(frame);
    setAutoFillBackground(false);
    build();
    paintChrome();
    sizePlanChip();
}

void Sidebar::build()
{
    const int W = width();

    edge_ = new QWidget(this);

    newBtn_ = new QPushButton(QStringLiteral("New session"), this);
    newBtn_->setFont(Theme::font(13, QFont::Medium));
    newBtn_->setToolTip(QStringLiteral("New session (%1)")
                            .arg(QKeySequence(QKeySequence::New).toString(QKeySequence::NativeText)));
    newBtn_->setAccessibleName(QStringLiteral("New session"));
    newBtn_->setCursor(Qt::ArrowCursor);
    connect(newBtn_, &QPushButton::clicked, this, &Sidebar::newSession);

    accountBox_ = new QWidget(this);
    accountBox_->resize(W - 20, kBoxHeight);
    const int B = accountBox_->width();

    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(false);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setAutoFillBackground(false);
    scroll_->viewport()->setAutoFillBackground(false);
    scroll_->setStyleSheet(QStringLiteral("QScrollArea{background:transparent;border:none}"));
    listDoc_ = new QWidget;
    listDoc_->setAutoFillBackground(false);
    stack_ = new QVBoxLayout(listDoc_);
    stack_->setSpacing(2);
    stack_->setContentsMargins(10, 6, 10, 6);
    stack_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    stack_->setSizeConstraint(QLayout::SetNoConstraint);
    scroll_->setWidget(listDoc_);
    listDoc_->setAutoFillBackground(false); // the scroll view turned it on

    // Inside the account box, top to bottom in the order the design adds them;
    // the plan button lies under the chip, the rest above it. The chip and the
    // usage bar let clicks through to the plan button beneath.
    planChip_ = new QWidget(accountBox_);
    planChip_->setGeometry(12, 12, 60, 18);
    planChip_->setAttribute(Qt::WA_TransparentForMouseEvents);
    ViewLayer::of(planChip_)->cornerRadius = 9;
    planLabel_ = new QLabel(QStringLiteral("\u2026"), planChip_);
    planLabel_->setTextFormat(Qt::PlainText);
    planLabel_->setFont(Theme::font(9.5, QFont::Bold));
    planLabel_->setGeometry(8, 2, 200, 14);

    planButton_ = plainButton(accountBox_);
    planButton_->setGeometry(6, 6, B - 12, 52);
    planButton_->setToolTip(QStringLiteral("Plan usage limits"));
    planButton_->setAccessibleName(QStringLiteral("Plan usage limits"));
    planButton_->stackUnder(planChip_);
    connect(planButton_, &QPushButton::clicked, this, [this] { planClicked(planButton_); });

    usageTrack_ = new QWidget(accountBox_);
    usageTrack_->setGeometry(12, 39, B - 24, 5);
    usageTrack_->setAttribute(Qt::WA_TransparentForMouseEvents);
    ViewLayer::of(usageTrack_)->cornerRadius = 3;
    usageFill_ = new QWidget(usageTrack_);
    usageFill_->setGeometry(0, 0, 0, 5);
    ViewLayer::of(usageFill_)->cornerRadius = 3;

    usageText_ = new QLabel(accountBox_);
    usageText_->setTextFormat(Qt::PlainText);
    usageText_->setFont(Theme::font(10.5));
    usageText_->setGeometry(12, 48, B - 24, 14);
    usageText_->setAttribute(Qt::WA_TransparentForMouseEvents);

    walletBtn_ = plainButton(accountBox_);
    walletBtn_->setGeometry(8, 66, B - 16, 20);
    walletBtn_->setToolTip(QStringLiteral("Hallix wallet: recharge, pay as you go"));
    walletBtn_->setAccessibleName(QStringLiteral("Wallet"));
    walletBtn_->hide();
    connect(walletBtn_, &QPushButton::clicked, this, &Sidebar::walletClicked);

    separator_ = new QWidget(accountBox_);
    separator_->setObjectName(QStringLiteral("sep"));
    separator_->setGeometry(12, 91, B - 24, 1);

    avatar_ = new QPushButton(accountBox_);
    avatar_->setGeometry(10, 99, 30, 30);
    avatar_->setAccessibleName(QStringLiteral("Account"));
    avatar_->setCursor(Qt::ArrowCursor);
    avatar_->setFocusPolicy(Qt::NoFocus);
    connect(avatar_, &QPushButton::clicked, this, [this] { accountClicked(avatar_); });

    nameLabel_ = tailLabel(QStringLiteral("\u2026"), Theme::font(12, QFont::Medium), accountBox_);
    nameLabel_->setGeometry(48, 99, B - 76, 16);
    firmLabel_ = tailLabel(QString(), Theme::font(10.5), accountBox_);
    firmLabel_->setGeometry(48, 115, B - 76, 14);

    chev_ = plainButton(accountBox_);
    chev_->setGeometry(B - 28, 105, 18, 18);
    chev_->setAccessibleName(QStringLiteral("Account"));
    connect(chev_, &QPushButton::clicked, this, [this] { accountClicked(chev_); });

    ViewLayer::of(accountBox_)->layout = [this](QWidget *) { layoutAccountBox(); };

    // The sidebar's own parts were made bottom to top: edge, button, box, list.
    layoutParts();
}

void Sidebar::layoutParts()
{
    const int W = width(), H = height();
    edge_->setGeometry(W - 1, 0, 1, H);
    newBtn_->setGeometry(10, 10, W - 20, 32);
    accountBox_->setGeometry(10, H - 10 - kBoxHeight, W - 20, kBoxHeight);
    // From under the button (8 below it) to above the box (16 above it).
    scroll_->setGeometry(0, 50, W, std::max(0, H - 204));
}

void Sidebar::layoutAccountBox()
{
    const int B = accountBox_->width();
    planButton_->setGeometry(6, 6, B - 12, 52);
    usageTrack_->setGeometry(12, 39, B - 24, 5);
    usageText_->setGeometry(12, 48, B - 24, 14);
    walletBtn_->setGeometry(8, 66, B - 16, 20);
    separator_->setGeometry(12, 91, B - 24, 1);
    chev_->setGeometry(B - 28, 105, 18, 18);
    paintUsage();
}

void Sidebar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutParts();
}

void Sidebar::repaint()
{
    paintChrome();
    rebuild();
}

void Sidebar::paintChrome()
{
    ViewLayer *edge = ViewLayer::of(edge_);
    edge->background = Theme::line();
    edge->apply();

    Theme::primaryButton(newBtn_);
    newBtn_->setIcon(Symbols::icon(QStringLiteral("square.and.pencil"), 12.5, QFont::DemiBold, Theme::hex(0xFFFFFF)));
    newBtn_->setIconSize(QSize(Symbols::side(12.5), Symbols::side(12.5)));

    // A thin scroller over the list, shown only when the list is longer.
    scroll_->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical{background:transparent;width:7px;margin:2px 1px 2px 0}"
                       "QScrollBar::handle:vertical{background:%1;border-radius:3px;min-height:24px}"
                       "QScrollBar::add-line,QScrollBar::sub-line{height:0;border:none;background:none}"
                       "QScrollBar::add-page,QScrollBar::sub-page{background:none}")
            .arg(Theme::qss(Theme::line2())));

    ViewLayer *box = ViewLayer::of(accountBox_);
    box->background = Theme::glass();
    box->borderColor = Theme::glassEdge();
    box->borderWidth = 1;
    box->cornerRadius = 14;
    box->apply();
    if (Theme::isDark()) {
        accountBox_->setGraphicsEffect(nullptr);
    } else {
        auto *shadow = qobject_cast<QGraphicsDropShadowEffect *>(accountBox_->graphicsEffect());
        if (!shadow) {
            shadow = new QGraphicsDropShadowEffect;
            accountBox_->setGraphicsEffect(shadow);
        }
        shadow->setColor(Theme::hex(0x0E1220, 0.06));
        // A layer shadow of radius 10 spans about twice that as a Qt blur.
        shadow->setBlurRadius(20);
        shadow->setOffset(0, 3);
    }

    if (QWidget *sep = accountBox_->findChild<QWidget *>(QStringLiteral("sep"), Qt::FindDirectChildrenOnly)) {
        ViewLayer::of(sep)->background = Theme::line();
        ViewLayer::of(sep)->apply();
    }
    ViewLayer::of(planChip_)->background = Theme::selected();
    ViewLayer::of(planChip_)->apply();
    PanelKit::setTextColor(planLabel_, Theme::royal());
    ViewLayer::of(usageTrack_)->background = Theme::line2();
    ViewLayer::of(usageTrack_)->apply();
    PanelKit::setTextColor(usageText_, Theme::muted());
    paintUsage();
    paintWallet();

    avatar_->setText(PanelKit::asWritten(initial_));
    avatar_->setFont(Theme::font(13, QFont::Bold));
    avatar_->setStyleSheet(QStringLiteral("QPushButton{border:none;border-radius:15px;padding:0;background:%1;color:%2}")
                               .arg(Theme::qss(Theme::selected()), Theme::qss(Theme::royal())));
    PanelKit::setTextColor(nameLabel_, Theme::ink());
    PanelKit::setTextColor(firmLabel_, Theme::muted());
    chev_->setIcon(Symbols::icon(QStringLiteral("chevron.up.chevron.down"), 11, QFont::Normal, Theme::muted()));
    chev_->setIconSize(QSize(14, 14));
}

void Sidebar::sizePlanChip()
{
    planLabel_->adjustSize();
    const int chipWidth = std::min(planLabel_->width() + 16, accountBox_->width() - 24);
    planChip_->setGeometry(planChip_->x(), planChip_->y(), chipWidth, 18);
    planChip_->setVisible(!planLabel_->text().isEmpty());
    const int h = planLabel_->height();
    planLabel_->setGeometry(8, (18 - h) / 2, chipWidth - 16, h);
}

QPair<QColor, QColor> Sidebar::usageColors() const
{
    if (usagePct_ > 0.9)
        return {Theme::stamp(), Theme::stamp()};
    if (usagePct_ > 0.7)
        return {Theme::amber(), Theme::amber()};
    return {Theme::hex(0x7C9BFF), Theme::royal()};
}

void Sidebar::paintUsage()
{
    usageFill_->setGeometry(0, 0, int(std::lround(usageTrack_->width() * usagePct_)), 5);
    const auto [from, to] = usageColors();
    QLinearGradient gradient(0, 0.5, 1, 0.5);
    gradient.setCoordinateMode(QGradient::ObjectBoundingMode);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    ViewLayer::of(usageFill_)->background = QBrush(gradient);
    ViewLayer::of(usageFill_)->apply();
}

void Sidebar::paintWallet()
{
    walletBtn_->setIcon(Symbols::icon(QStringLiteral("indianrupeesign.circle"), 11, QFont::DemiBold, Theme::royal()));
    walletBtn_->setIconSize(QSize(Symbols::side(11), Symbols::side(11)));
    walletBtn_->setText(PanelKit::asWritten(walletTitle_));
    walletBtn_->setFont(Theme::font(11, QFont::Medium));
    walletBtn_->setStyleSheet(QStringLiteral("QPushButton{border:none;background:transparent;padding:0;margin:0;"
                                             "text-align:left;color:%1}")
                                  .arg(Theme::qss(Theme::royal())));
}

// --- the list ---------------------------------------------------------------------------

QWidget *Sidebar::header(const QString &title, std::function<void()> add)
{
    auto *box = new QWidget;
    box->setFixedSize(kRowWidth, 28);
    QFont f = Theme::font(10, QFont::Bold);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.9);
    auto *label = new QLabel(title.toUpper(), box);
    label->setTextFormat(Qt::PlainText);
    label->setFont(f);
    label->setGeometry(8, 10, 180, 14);
    PanelKit::setTextColor(label, Theme::muted());
    if (add) {
        QPushButton *plus = plainButton(box);
        plus->setGeometry(210, 7, 18, 18);
        plus->setIcon(Symbols::icon(QStringLiteral("plus"), 11, QFont::Normal, Theme::muted()));
        plus->setIconSize(QSize(14, 14));
        plus->setAccessibleName(QStringLiteral("Add ") + title.toLower());
        connect(plus, &QPushButton::clicked, this, std::move(add));
    }
    return box;
}

QWidget *Sidebar::emptyNote()
{
    auto *box = new QWidget;
    box->setFixedSize(kRowWidth, 44);
    auto *label = new QLabel(QStringLiteral("No sessions yet. Start one above \u2014 you can run several at the "
                                            "same time, one per client."),
                             box);
    label->setObjectName(QStringLiteral("note"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(Theme::font(11));
    label->setGeometry(8, 0, 220, 44);
    PanelKit::setTextColor(label, Theme::muted());
    return box;
}

QList<QWidget *> Sidebar::listViews() const
{
    QList<QWidget *> out;
    for (int i = 0; i < stack_->count(); ++i)
        if (QWidget *w = stack_->itemAt(i)->widget())
            out.append(w);
    return out;
}

QList<HoverRow *> Sidebar::rows() const
{
    QList<HoverRow *> out;
    for (QWidget *w : listViews())
        if (auto *row = qobject_cast<HoverRow *>(w))
            out.append(row);
    return out;
}

void Sidebar::rebuild()
{
    QScrollBar *bar = scroll_->verticalScrollBar();
    const int offset = std::max(0, bar->value());

    // The old views may be the sender of the click that led here: they go
    // later, not now.
    while (QLayoutItem *item = stack_->takeAt(0)) {
        if (QWidget *w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }

    // Shown at once, so that the layout counts them now.
    const auto add = [this](QWidget *w) {
        stack_->addWidget(w, 0, Qt::AlignLeft);
        w->show();
    };
    const auto row = [this](const QString &title, const QString &symbol, int tag, bool selected,
                            void (Sidebar::*action)(int)) {
        return new HoverRow(title, symbol, tag, selected, [this, action](int t) { (this->*action)(t); });
    };
    const auto link = [this](const QString &title, const QString &symbol, int tag, void (Sidebar::*action)()) {
        return new HoverRow(title, symbol, tag, false, [this, action](int) { (this->*action)(); });
    };

    add(header(QStringLiteral("Work")));
    add(link(QStringLiteral("Skills \u2014 start a job"), QStringLiteral("square.grid.2x2"), 0, &Sidebar::skillsClicked));
    add(link(QStringLiteral("Case Board"), QStringLiteral("point.3.connected.trianglepath.dotted"), 1,
             &Sidebar::caseBoardClicked));
    if (account_ && account_->value(QStringLiteral("wallet")).isObject())
        add(link(QStringLiteral("Wallet"), QStringLiteral("indianrupeesign.circle"), 2, &Sidebar::walletClicked));
    add(link(QStringLiteral("Mail"), QStringLiteral("envelope"), 3, &Sidebar::mailClicked));

    add(header(QStringLiteral("Folders"), [this] { pickFolder(); }));
    for (int i = 0; i < folders_.size(); ++i) {
        const QString &folder = folders_.at(i);
        QString name = QDir(folder).dirName();
        if (name.isEmpty())
            name = folder;
        add(row(name, QStringLiteral("folder"), i, folder == currentDir_, &Sidebar::folderClicked));
    }

    add(header(QStringLiteral("Sessions")));
    bool any = false;
    for (int i = 0; i < sessions_.size(); ++i) {
        const SessionRow &s = sessions_.at(i);
        // The folder's sessions and those of the client folders inside it.
        if (!EngineApi::insideFolder(s.directory, currentDir_))
            continue;
        any = true;
        add(row(s.title.isEmpty() ? QStringLiteral("Untitled") : s.title, QStringLiteral("bubble.left"), i,
                s.id == currentSession_, &Sidebar::sessionClicked));
    }
    if (!any)
        add(emptyNote());

    // The document is as tall as the list, at least the visible height, so a
    // short list sits at the top; the offset comes back, clamped.
    stack_->activate();
    const int fitting = stack_->sizeHint().height();
    const int visible = scroll_->viewport()->height();
    const int docHeight = std::max(visible, fitting);
    listDoc_->resize(scroll_->viewport()->width(), docHeight);
    const int maxOffset = std::max(0, docHeight - visible);
    bar->setRange(0, maxOffset);
    bar->setValue(std::min(offset, maxOffset));
}

// --- clicks ----------------------------------------------------------------------------

void Sidebar::newSession()
{
    if (onNewSession)
        onNewSession();
}

void Sidebar::skillsClicked()
{
    if (onSkills)
        onSkills();
}

void Sidebar::caseBoardClicked()
{
    if (onCaseBoard)
        onCaseBoard();
}

void Sidebar::walletClicked()
{
    if (onWallet)
        onWallet();
}

void Sidebar::mailClicked()
{
    if (onMail)
        onMail();
}

void Sidebar::pickFolder()
{
    if (onPickFolder)
        onPickFolder();
}

void Sidebar::folderClicked(int tag)
{
    if (tag < 0 || tag >= folders_.size() || !onOpenFolder)
        return;
    const QString folder = folders_.at(tag); // the callback may replace the list
    onOpenFolder(folder);
}

void Sidebar::sessionClicked(int tag)
{
    if (tag < 0 || tag >= sessions_.size() || !onOpenSession)
        return;
    const SessionRow row = sessions_.at(tag); // the callback may replace the list
    onOpenSession(row);
}

void Sidebar::accountClicked(QAbstractButton *sender)
{
    if (onAccountMenu)
        onAccountMenu(sender);
}

void Sidebar::planClicked(QWidget *sender)
{
    if (onPlanClick)
        onPlanClick(sender);
}
