#include "browser/BrowserPane.h"
#include "core/Characters.h"
#include "browser/Hosts.h"
#include "browser/PageScripts.h"
#include "browser/PortalHome.h"
#include "core/Globals.h"
#include "platform/Dialogs.h"
#include "platform/Dispatch.h"
#include "platform/WebView.h"
#include "ui/Busy.h"
#include "ui/PanelKit.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"
#include "ui/ViewLayer.h"

#include <QApplication>
#include <QFontMetrics>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>
#include <QWebEngineHistory>

namespace {

const QString kStartTitle = QStringLiteral("Velto Browser");
constexpr int kStripH = 38;
constexpr int kBarH = 44;
constexpr int kCellW = 184;
constexpr int kCellH = 32;

std::optional<QString> hostOf(const QUrl &url)
{
    return url.host().isEmpty() ? std::nullopt : std::optional<QString>(url.host());
}

QColor withAlpha(QColor c, qreal alpha)
{
    c.setAlphaF(float(c.alphaF() * alpha));
    return c;
}

// A borderless tool-bar button showing one of the app's icons.
QToolButton *iconButton(QWidget *parent, const QString &name, const QString &tip, qreal iconPoints = 13)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(name);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolTip(tip);
    b->setAccessibleName(tip);
    b->setIconSize(QSize(Symbols::side(iconPoints), Symbols::side(iconPoints)));
    b->setProperty("iconPoints", iconPoints);
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

void styleButton(QToolButton *b, const QString &icon, const QColor &tint)
{
    b->setIcon(Symbols::icon(icon, b->property("iconPoints").toReal(), QFont::Medium, tint));
    b->setStyleSheet(QStringLiteral("QToolButton{border:none;background:transparent;border-radius:7px}"
                                    "QToolButton:hover{background:%1}")
                         .arg(Theme::qss(Theme::hover())));
}

// One cell of the tab strip: the title as a button and a close button, on a
// surface-coloured tab with rounded top corners when it is the shown one.
class TabCell : public QWidget {
public:
    TabCell(QWidget *parent, bool isCurrent) : QWidget(parent), current_(isCurrent)
    {
        setObjectName(QStringLiteral("tab"));
        setFixedSize(kCellW, kCellH);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (!current_)
            return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = rect();
        const qreal radius = 10;
        QPainterPath path;
        path.moveTo(r.bottomLeft());
        path.lineTo(r.left(), r.top() + radius);
        path.arcTo(QRectF(r.left(), r.top(), 2 * radius, 2 * radius), 180, -90);
        path.lineTo(r.right() - radius, r.top());
        path.arcTo(QRectF(r.right() - 2 * radius, r.top(), 2 * radius, 2 * radius), 90, -90);
        path.lineTo(r.bottomRight());
        path.closeSubpath();
        p.fillPath(path, Theme::surface());
    }

private:
    bool current_;
};

} // namespace

BrowserPane::BrowserPane(const QRect &frame, QWidget *parent) : QWidget(parent)
{
    setGeometry(frame);
    setAttribute(Qt::WA_OpaquePaintEvent);

    strip_ = new QWidget(this);
    strip_->setObjectName(QStringLiteral("strip"));
    stack_ = new QWidget(strip_);
    plus_ = iconButton(strip_, QStringLiteral("plus"), QStringLiteral("New tab"), 12);
    plus_->setToolTip(QStringLiteral("New tab (%1)").arg(QKeySequence(QKeySequence::AddTab).toString(QKeySequence::NativeText)));
    connect(plus_, &QToolButton::clicked, this, [this] { addTab(); });

    bar_ = new QWidget(this);
    bar_->setObjectName(QStringLiteral("bar"));
    barHair_ = new QWidget(bar_);
    backBtn_ = iconButton(bar_, QStringLiteral("back"), QStringLiteral("Back"));
    fwdBtn_ = iconButton(bar_, QStringLiteral("forward"), QStringLiteral("Forward"));
    reloadBtn_ = iconButton(bar_, QStringLiteral("reload"), QStringLiteral("Reload"));
    connect(backBtn_, &QToolButton::clicked, this, [this] { goBack(); });
    connect(fwdBtn_, &QToolButton::clicked, this, [this] { goForward(); });
    connect(reloadBtn_, &QToolButton::clicked, this, [this] { reloadPage(); });

    urlBox_ = new QWidget(bar_);
    urlBox_->setObjectName(QStringLiteral("urlBox"));
    urlField_ = new QLineEdit(urlBox_);
    urlField_->setObjectName(QStringLiteral("address"));
    urlField_->setAccessibleName(QStringLiteral("Address"));
    urlField_->setFrame(false);
    urlField_->setAttribute(Qt::WA_MacShowFocusRect, false);
    urlField_->setAutoFillBackground(false);
    urlField_->setFont(Theme::mono(12.5));
    urlField_->setPlaceholderText(QStringLiteral("gst.gov.in · incometax.gov.in · mca.gov.in …"));
    connect(urlField_, &QLineEdit::returnPressed, this, [this] { go(); });

    orb_ = new OrbView(QRect(0, 13, 18, 18), bar_);
    orb_->setObjectName(QStringLiteral("orb"));

    holder_ = new QWidget(this);
    holder_->setObjectName(QStringLiteral("holder"));
    blocked_ = new QLabel(holder_);
    blocked_->setObjectName(QStringLiteral("blocked"));
    blocked_->setTextFormat(Qt::PlainText);
    blocked_->setFont(Theme::font(11.5, QFont::Medium));
    blocked_->setAttribute(Qt::WA_TransparentForMouseEvents);
    blocked_->hide();

    layoutChrome();
    paintChrome();
}

BrowserPane::~BrowserPane()
{
    // Each tab deletes its own web view, which holder_ would otherwise delete
    // a second time.
    const QList<BrowserTab *> tabs = std::exchange(tabs_, {});
    qDeleteAll(tabs);
}

BrowserTab *BrowserPane::activeTab() const
{
    openFirstTab();
    return shownTab();
}

BrowserTab *BrowserPane::shownTab() const
{
    return current_ >= 0 && current_ < tabs_.size() ? tabs_[current_] : nullptr;
}

WebView *BrowserPane::web()
{
    if (BrowserTab *tab = activeTab())
        return tab->web();
    if (!spare_)
        spare_ = std::make_unique<WebView>(BrowserTab::profile());
    return spare_.get();
}

QString BrowserPane::snapshotJS(bool full)
{
    return ::snapshotJS(full);
}

// --- tabs ------------------------------------------------------------------------

void BrowserPane::openFirstTab() const
{
    if (!firstTabDue_)
        return;
    // The pane itself is never const; only the moment its first tab opens is deferred.
    auto *self = const_cast<BrowserPane *>(this);
    self->firstTabDue_ = false;
    if (tabs_.isEmpty())
        self->newTab(QUrl(), true);
}

void BrowserPane::showStartPage(BrowserTab *tab)
{
    // The base address makes the page's address "about:blank" rather than
    // the page's whole text as a data address.
    tab->web()->setHtml(PORTAL_HOME(), QUrl(QStringLiteral("about:blank")));
    tab->title = kStartTitle;
    startPending_.insert(tab);
}

QUrl BrowserPane::addressOf(const BrowserTab *tab) const
{
    return startPending_.contains(tab) ? QUrl(QStringLiteral("about:blank")) : tab->web()->url();
}

int BrowserPane::newTab(const QUrl &url, bool selectIt)
{
    openFirstTab();
    auto *tab = new BrowserTab(this);
    tab->web()->setParent(holder_);
    tab->web()->hide();
    connect(tab->web(), &QWebEngineView::urlChanged, this, [this, tab] { startPending_.remove(tab); });
    tabs_.append(tab);
    const int index = int(tabs_.size()) - 1;
    if (!url.isEmpty() && hostAllowed(hostOf(url)))
        tab->web()->load(url);
    else
        showStartPage(tab);
    if (selectIt)
        select(index);
    else
        rebuildStrip();
    return index;
}

void BrowserPane::select(int index)
{
    openFirstTab();
    if (index < 0 || index >= tabs_.size())
        return;
    current_ = index;
    WebView *shown = tabs_[index]->web();
    for (BrowserTab *t : std::as_const(tabs_))
        if (t->web() != shown)
            t->web()->hide();
    shown->setGeometry(holder_->rect());
    shown->show();
    // The note draws over the page.
    blocked_->raise();
    rebuildStrip();
    syncChrome();
}

void BrowserPane::closeTab(int index)
{
    openFirstTab();
    if (index < 0 || index >= tabs_.size())
        return;
    if (tabs_.size() > 1) {
        const int was = current_;
        BrowserTab *gone = tabs_.takeAt(index);
        startPending_.remove(gone);
        delete gone;
        select(std::min(was, int(tabs_.size()) - 1));
        return;
    }
    showStartPage(tabs_[index]);
    rebuildStrip();
}

void BrowserPane::nextTab()
{
    openFirstTab();
    if (tabs_.isEmpty())
        return;
    select((current_ + 1) % int(tabs_.size()));
}

bool BrowserPane::load(const QUrl &url)
{
    openFirstTab();
    if (hostAllowed(hostOf(url))) {
        blocked_->hide();
        if (tabs_.isEmpty())
            newTab(url, true);
        else if (BrowserTab *tab = activeTab())
            tab->web()->load(url);
        return true;
    }
    showBlocked(url.host().isEmpty() ? QStringLiteral("that site") : url.host());
    return false;
}

void BrowserPane::refresh(BrowserTab *tab)
{
    const qsizetype index = tabs_.indexOf(tab);
    if (index < 0)
        return;
    if (index == current_)
        syncChrome();
    rebuildStrip();
}

// --- the blocked note and the question ------------------------------------------

void BrowserPane::showNote(const QString &text)
{
    blocked_->setText(text);
    blocked_->show();
    blocked_->raise();
    QApplication::beep();

    // A newer note keeps its own full six seconds.
    const QUuid token = QUuid::createUuid();
    lastBlock_ = token;
    QPointer<BrowserPane> self(this);
    Dispatch::after(6.0, [self, token] {
        if (self && self->lastBlock_ == token)
            self->blocked_->hide();
    });
}

void BrowserPane::showBlocked(const QString &host)
{
    showNote(host + QStringLiteral(" is outside the allowed list — Velto only opens Indian government and "
                                   "Hallix sites."));
    QPointer<BrowserPane> self(this);

    const std::optional<QString> cleaned = ExtraSites::clean(host);
    if (!cleaned || askedAbout_.contains(*cleaned))
        return;
    // Asked once per host, whatever the answer.
    askedAbout_.insert(*cleaned);
    // The question waits for the current event to finish: a refusal can come
    // from inside the page's navigation, which must not hold a dialog.
    Dispatch::onMain([self, host = *cleaned] {
        if (self)
            self->askToAdd(host);
    });
}

void BrowserPane::askToAdd(const QString &host)
{
    if (QWidget *w = window()) {
        w->raise();
        w->activateWindow();
    }
    // Enter keeps the site blocked: a key pressed for an earlier question
    // must never add a host the page went to.
    const int answer = Dialogs::ask(Dialogs::Alert{
        QStringLiteral("Let Velto open ") + host + QStringLiteral("?"),
        QStringLiteral("Velto opens Indian government portals and Hallix by default, and nothing else — which is what "
                       "keeps it, and anything it reads on a page, away from the rest of the web.\n\n"
                       "Add this site only if you know what it is and you want Velto working in it. It stays added "
                       "until you remove it from sites.json in the Velto folder."),
        Dialogs::Style::Warning,
        {QStringLiteral("Add ") + host, QStringLiteral("Keep it blocked")},
        1});
    if (answer != 0)
        return;
    if (const std::optional<QString> added = ExtraSites::add(host))
        blocked_->setText(*added + QStringLiteral(" added. Open it again."));
}

// --- the chrome --------------------------------------------------------------------

void BrowserPane::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutChrome();
}

void BrowserPane::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    openFirstTab();
}

void BrowserPane::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Theme::surface());
}

void BrowserPane::layoutChrome()
{
    const int w = width(), h = height();
    strip_->setGeometry(0, 0, w, kStripH);
    stack_->setGeometry(10, kStripH - kCellH, std::max(0, w - 52), kCellH);
    plus_->setGeometry(w - 38, 6, 26, 26);
    bar_->setGeometry(0, kStripH, w, kBarH);
    barHair_->setGeometry(0, kBarH - 1, w, 1);
    backBtn_->setGeometry(10, 8, 28, 28);
    fwdBtn_->setGeometry(40, 8, 28, 28);
    reloadBtn_->setGeometry(70, 8, 28, 28);
    urlBox_->setGeometry(106, 8, std::max(0, w - 148), 28);
    urlField_->setGeometry(10, 5, std::max(0, urlBox_->width() - 20), 18);
    orb_->move(w - 32, 13);
    holder_->setGeometry(0, kStripH + kBarH, w, std::max(0, h - kStripH - kBarH));
    blocked_->setGeometry(16, 2, std::max(0, w - 32), 20);
    if (BrowserTab *tab = shownTab())
        tab->web()->setGeometry(holder_->rect());
}

void BrowserPane::paintChrome()
{
    auto fill = [](QWidget *view, const QColor &color) {
        ViewLayer *l = ViewLayer::of(view);
        l->background = color;
        l->apply();
    };
    fill(strip_, Theme::bg2());
    fill(bar_, Theme::surface());
    fill(barHair_, Theme::line());

    ViewLayer *box = ViewLayer::of(urlBox_);
    box->background = Theme::surface2();
    box->borderColor = Theme::line2();
    box->borderWidth = 1;
    box->cornerRadius = 10;
    box->apply();

    styleButton(plus_, QStringLiteral("plus"), Theme::muted());
    styleButton(reloadBtn_, QStringLiteral("arrow.clockwise"), Theme::ink2());

    QPalette p = urlField_->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(g, QPalette::Base, Qt::transparent);
        p.setColor(g, QPalette::Text, Theme::ink());
        p.setColor(g, QPalette::PlaceholderText, Theme::muted());
        p.setColor(g, QPalette::Highlight, Theme::selected());
        p.setColor(g, QPalette::HighlightedText, Theme::ink());
    }
    urlField_->setPalette(p);

    PanelKit::setTextColor(blocked_, Theme::amberInk());

    orb_->retint();
    update();
}

QString BrowserPane::displayAddress(const QUrl &url)
{
    QString text = url.isEmpty() ? QString() : url.toString(QUrl::FullyEncoded);
    if (text.startsWith(QLatin1String("about:")))
        return QString();
    if (DEMO_HOME) {
        // Locally served demo pages show a public-looking address in
        // recordings.
        static const QRegularExpression demo(QStringLiteral("^http://127\\.0\\.0\\.1:[0-9]+/demo/"));
        const QRegularExpressionMatch m = demo.match(text);
        if (m.hasMatch())
            text = QStringLiteral("https://") + QUrl(BUILTIN_API).host() + QStringLiteral("/") +
                   text.mid(m.capturedEnd()).remove(QStringLiteral(".html"));
    }
    return text;
}

void BrowserPane::syncChrome()
{
    BrowserTab *tab = shownTab();
    if (!tab)
        return;
    orb_->setBusy(tab->loading);
    WebView *w = tab->web();
    const QColor off = withAlpha(Theme::muted(), 0.6);
    backBtn_->setEnabled(w->history()->canGoBack());
    fwdBtn_->setEnabled(w->history()->canGoForward());
    styleButton(backBtn_, QStringLiteral("chevron.left"), backBtn_->isEnabled() ? Theme::ink() : off);
    styleButton(fwdBtn_, QStringLiteral("chevron.right"), fwdBtn_->isEnabled() ? Theme::ink() : off);
    urlField_->setText(displayAddress(addressOf(tab)));
    urlField_->setCursorPosition(0);
    if (onTitleChange)
        onTitleChange(tab->title);
}

void BrowserPane::rebuildStrip()
{
    for (QWidget *old : stack_->findChildren<QWidget *>(QStringLiteral("tab"), Qt::FindDirectChildrenOnly)) {
        // A cell's own button may be what led here: it goes once its click is over.
        old->hide();
        old->setObjectName(QString());
        old->deleteLater();
    }
    for (int i = 0; i < tabs_.size(); ++i) {
        const BrowserTab *tab = tabs_[i];
        const bool isCurrent = i == current_;
        auto *cell = new TabCell(stack_, isCurrent);
        cell->move(i * (kCellW + 4), 0);

        const QString label = tab->loading ? QStringLiteral("Loading…")
                              : tab->title.isEmpty() ? QStringLiteral("New tab")
                                                     : tab->title;
        auto *title = new QPushButton(cell);
        title->setObjectName(QStringLiteral("tabTitle"));
        title->setGeometry(0, 0, kCellW - 26, kCellH);
        title->setFlat(true);
        title->setFocusPolicy(Qt::NoFocus);
        const QFont font = Theme::font(12, isCurrent ? QFont::Medium : QFont::Normal);
        title->setFont(font);
        title->setAccessibleName(label);
        title->setText(PanelKit::asWritten(
            QFontMetrics(font).elidedText(QStringLiteral("   ") + label, Qt::ElideRight, kCellW - 30)));
        title->setToolTip(label);
        title->setStyleSheet(QStringLiteral("QPushButton{border:none;background:transparent;text-align:left;"
                                            "padding:0;color:%1}")
                                 .arg(Theme::qss(isCurrent ? Theme::ink() : Theme::ink2())));
        connect(title, &QPushButton::clicked, this, [this, i] { tabClicked(i); });

        auto *close = iconButton(cell, QStringLiteral("tabClose"), QStringLiteral("Close tab"), 8);
        close->setGeometry(kCellW - 26, 7, 18, 18);
        styleButton(close, QStringLiteral("xmark"), Theme::muted());
        connect(close, &QToolButton::clicked, this, [this, i] { tabClosed(i); });

        cell->show();
    }
}

void BrowserPane::repaint()
{
    paintChrome();
    rebuildStrip();
    syncChrome();
    const QString script = QStringLiteral("window.__veltoSetTheme && window.__veltoSetTheme('") +
                           Theme::webScheme() + QStringLiteral("')");
    for (BrowserTab *tab : std::as_const(tabs_)) {
        const QUrl url = tab->web()->url();
        // Only start pages carry the hook; portal pages are left alone.
        if (url.isEmpty() || url.scheme() == QLatin1String("about"))
            tab->web()->evaluate(script, WebView::World::Page);
    }
}

QStringList BrowserPane::stripLabels() const
{
    openFirstTab();
    QStringList out;
    const auto cells = stack_->findChildren<QWidget *>(QStringLiteral("tab"), Qt::FindDirectChildrenOnly);
    QList<QWidget *> ordered(cells.begin(), cells.end());
    std::sort(ordered.begin(), ordered.end(), [](QWidget *a, QWidget *b) { return a->x() < b->x(); });
    for (QWidget *cell : ordered)
        if (auto *title = cell->findChild<QPushButton *>(QStringLiteral("tabTitle")))
            out << title->accessibleName();
    return out;
}

// --- actions ------------------------------------------------------------------------

void BrowserPane::addTab()
{
    newTab(QUrl(), true);
}

void BrowserPane::tabClicked(int index)
{
    select(index);
}

void BrowserPane::tabClosed(int index)
{
    closeTab(index);
}

void BrowserPane::goBack()
{
    if (BrowserTab *tab = activeTab())
        tab->web()->back();
}

void BrowserPane::goForward()
{
    if (BrowserTab *tab = activeTab())
        tab->web()->forward();
}

void BrowserPane::reloadPage()
{
    if (BrowserTab *tab = activeTab())
        tab->web()->reload();
}

void BrowserPane::go()
{
    // Blanks and tabs only: a pasted line break is not an address.
    QString text = Characters::trimSpacesTabs(urlField_->text());
    if (text.isEmpty())
        return;
    if (!text.contains(QStringLiteral("://")))
        text.prepend(QStringLiteral("https://"));
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return;
    load(url);
}

// --- page scripts ---------------------------------------------------------------------

void BrowserPane::evalJS(const QString &script, std::function<void(const QString &)> done)
{
    BrowserTab *tab = activeTab();
    if (!tab) {
        done(QStringLiteral("ERROR: no tab"));
        return;
    }
    tab->web()->evaluate(script, [done = std::move(done)](const WebView::ScriptResult &r) { done(scriptOutcome(r)); });
}

void BrowserPane::upload(const QString &ref, const QString &file, std::function<void(const QString &)> done)
{
    BrowserTab *tab = activeTab();
    if (!tab) {
        done(QStringLiteral("no_tab"));
        return;
    }
    tab->armUpload({file});
    // A script's own click() opens no file chooser here: the input is brought
    // into view and clicked where it is, as the CA's mouse would.
    const QString script =
        QStringLiteral("(function(){%1\nvar el=byRef(%2);if(!el)return 'gone';"
                       "if((el.getAttribute('type')||'').toLowerCase()!=='file')return 'not_file';"
                       "el.scrollIntoView({block:'center'});var r=el.getBoundingClientRect();"
                       "return JSON.stringify({x:r.left+r.width/2,y:r.top+r.height/2});})()")
            .arg(pageHelpersJS(), jsQuote(ref));
    QPointer<BrowserTab> armed(tab);
    QPointer<BrowserPane> self(this);
    evalJS(script, [self, armed, done = std::move(done)](const QString &outcome) {
        QString result = outcome;
        const QJsonObject at = QJsonDocument::fromJson(outcome.toUtf8()).object();
        if (self && armed && at.contains(QStringLiteral("x"))) {
            const qreal zoom = armed->web()->zoomFactor();
            armed->web()->clickAt(QPoint(qRound(at.value(QStringLiteral("x")).toDouble() * zoom),
                                         qRound(at.value(QStringLiteral("y")).toDouble() * zoom)));
            result = QStringLiteral("clicked");
        } else if (at.contains(QStringLiteral("x"))) {
            result = QStringLiteral("gone");
        }
        if (result != QLatin1String("clicked") && armed)
            armed->disarmUpload();
        done(result);
    });
}

QString BrowserPane::tabList() const
{
    openFirstTab();
    if (tabs_.isEmpty())
        return QStringLiteral("no tabs");
    QStringList lines;
    for (int i = 0; i < tabs_.size(); ++i) {
        const QUrl url = addressOf(tabs_[i]);
        lines << QString::number(i) + (i == current_ ? QStringLiteral(" (active)") : QString()) + QLatin1Char(' ') +
                     tabs_[i]->title + QStringLiteral(" — ") +
                     (url.isEmpty() ? QStringLiteral("blank") : url.toString(QUrl::FullyEncoded));
    }
    return lines.join(QLatin1Char('\n'));
}
