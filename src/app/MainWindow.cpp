// The main window of AppDelegate: top bar, sidebar, content box with the chat
// view, the browser pane and the splash; switching, the chat view's link
// policy, its first load and deep link, and the chat page's messages.
#include "app/AppDelegate.h"
#include "app/ChatScripts.h"
#include "app/Sidebar.h"
#include "browser/BrowserPane.h"
#include "browser/BrowserTab.h"
#include "browser/Hosts.h"
#include "core/Globals.h"
#include "platform/Appearance.h"
#include "platform/Desktop.h"
#include "platform/Dispatch.h"
#include "platform/WebView.h"
#include "recorder/PaneRecorder.h"
#include "toolserver/BrowserMCP.h"
#include "ui/Busy.h"
#include "ui/Mascot.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"
#include "ui/ThemeSwitch.h"
#include "ui/ViewLayer.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QToolButton>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>

namespace {

constexpr int barHeight = 52;
constexpr int sidebarWidth = 256;

// The window keeps its frame under "VeltoMain" and closing it quits.
class MainWindowView : public QWidget {
public:
    std::function<void()> onResize;
    std::function<void()> onClose;

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QWidget::resizeEvent(event);
        if (onResize)
            onResize();
    }
    void closeEvent(QCloseEvent *event) override
    {
        QSettings().setValue(QStringLiteral("VeltoMain"), geometry());
        QWidget::closeEvent(event);
        if (onClose)
            onClose();
    }
};

// The frame kept under "VeltoMain": the saved size comes back, centred.
void restoreFrame(QWidget *window)
{
    const QRect saved = QSettings().value(QStringLiteral("VeltoMain")).toRect();
    QSize size(1280, 840);
    if (saved.isValid())
        size = saved.size().expandedTo(window->minimumSize());
    window->resize(size);
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size);
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

bool loopbackHost(const QString &host)
{
    return host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost");
}

QString lastComponent(const QString &path)
{
    return QFileInfo(path).fileName();
}

} // namespace

AppDelegate::ChatRoute AppDelegate::chatRoute(const QUrl &url)
{
    if (url.toString() == QLatin1String("about:blank"))
        return ChatRoute::Load;
    const QString host = url.host();
    if (host.isEmpty())
        return ChatRoute::Refuse;
    const QString scheme = url.scheme().toLower();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (!web)
        return ChatRoute::Refuse;
    if (loopbackHost(host))
        return ChatRoute::Load;
    return hostAllowed(host) ? ChatRoute::BrowserPane : ChatRoute::Desktop;
}

AppDelegate::ChatRoute AppDelegate::newWindowRoute(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return ChatRoute::Refuse;
    return hostAllowed(url.host()) ? ChatRoute::BrowserPane : ChatRoute::Desktop;
}

QUrl AppDelegate::orbPage()
{
    return QUrl(QStringLiteral("qrc:/web/orb.html"));
}

QString AppDelegate::currentDir() const
{
    return Sessions::currentDirOf(recentFolders_, work_);
}

WebView *AppDelegate::liveWeb() const
{
    if (showingBrowser_) {
        BrowserTab *tab = browser_ ? browser_->activeTab() : nullptr;
        return tab ? tab->web() : nullptr;
    }
    return splash_ && splash_->isHidden() ? chat_ : nullptr;
}

void AppDelegate::buildWindow()
{
    auto *window = new MainWindowView;
    window_ = window;
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setWindowTitle(QStringLiteral("Velto"));
    window->setMinimumSize(1000, 640);
    restoreFrame(window);
    window->onResize = [this] { layoutWindow(); };
    window->onClose = [this] { quit(); };

    buildTopBar(window);
    buildContent(window);
    topBar_->raise();

    sessions_.enginePort = [this] { return engine_.port(); };
    sessions_.currentDir = [this] { return currentDir(); };
    sessions_.showChat = [this] { showChat(); };
    sessions_.loadChat = [this](const QUrl &url) {
        if (chat_)
            chat_->load(url);
    };
    sessions_.sidebar = sidebar_;
    QPointer<AppDelegate> ticks(this);
    PaneRecorder::shared().onTick = [ticks](std::optional<double> seconds) {
        if (!ticks || !ticks->recButton_)
            return;
        if (!seconds) {
            ticks->recButton_->hide();
            return;
        }
        ticks->recButton_->setText(recTitle(*seconds));
        ticks->recButton_->show();
    };

    // An engine started before the window: the views and the tool server
    // take it up now.
    if (mcp_)
        mcp_->setPane(browser_);
    if (engine_.proc()) {
        lockViewsToEngine();
        if (work_)
            statusLabel_->setText(QFileInfo(*work_).fileName());
    }
    if (earlySplash_) {
        splashMessage(*earlySplash_);
        earlySplash_.reset();
    }

    layoutWindow();
    paintChrome();
    themeSwitch_->setIsOn(Theme::isDark());
    themeSwitch_->apply(false);
    // A desktop scheme change reaches the theme's own handling on a later
    // turn of the main loop.
    QPointer<AppDelegate> self(this);
    connect(Appearance::shared(), &Appearance::colorSchemeChanged, this, [self] {
        Dispatch::onMain([self] {
            if (self)
                self->systemAppearanceChanged();
        });
    });
    window->show();
    window->raise();
    window->activateWindow();
}

void AppDelegate::buildTopBar(QWidget *root)
{
    topBar_ = new QWidget(root);
    brandMark_ = new PaviMarkView(QRect(82, 15, 22, 22), topBar_);
    brandMark_->setHueCycle(true);
    brandMark_->setToolTip(QStringLiteral("Velto"));
    brandWord_ = new QLabel(QStringLiteral("Velto"), topBar_);
    brandWord_->setGeometry(110, 16, 70, 20);
    topHair_ = new QWidget(topBar_);

    segment_ = new QWidget(topBar_);
    segment_->setGeometry(280, 10, 214, 32);
    segmentPill_ = new QWidget(segment_);
    segmentPill_->setGeometry(3, 3, 102, 26);
    auto makeTab = [this](const QString &title, int x, const QString &tip) {
        auto *b = new QPushButton(title, segment_);
        b->setGeometry(x, 3, 102, 26);
        b->setFlat(true);
        b->setCursor(Qt::PointingHandCursor);
        b->setToolTip(tip);
        b->setAccessibleName(title);
        return b;
    };
    chatTab_ = makeTab(QStringLiteral("Chat"), 3, QStringLiteral("Chat (Ctrl+1)"));
    browserTab_ = makeTab(QStringLiteral("Browser"), 109, QStringLiteral("Browser (Ctrl+2)"));
    connect(chatTab_, &QPushButton::clicked, this, [this] { showChat(); });
    connect(browserTab_, &QPushButton::clicked, this, [this] { showBrowser(); });
    chatMark_ = new PaviMarkView(QRect(30, 9, 15, 15), segment_);

    headerEdge_ = new QWidget(topBar_);
    headerEdge_->setGeometry(255, 0, 1, barHeight);
    barOrb_ = new PaviMarkView(QRect(0, 16, 20, 20), topBar_);
    barOrb_->setDimsWhenIdle(true);
    barOrb_->setToolTip(QStringLiteral("Velto is working when this breathes"));
    themeSwitch_ = new ThemeSwitch(QRect(0, 9, 66, 34), topBar_);
    connect(themeSwitch_, &ThemeSwitch::triggered, this, [this] { themeSwitchToggled(); });
    // The record button: shown only while a recording runs, with its time.
    recButton_ = new QPushButton(topBar_);
    recButton_->setGeometry(0, 13, 140, 26);
    recButton_->setFlat(true);
    recButton_->setCursor(Qt::PointingHandCursor);
    recButton_->setFont(Theme::font(11.5, QFont::Medium));
    recButton_->setStyleSheet(QStringLiteral("QPushButton { background: rgb(217, 51, 77); color: white; border: none; "
                                             "border-radius: 13px; padding: 0 8px; }"));
    recButton_->setToolTip(QStringLiteral("Velto is recording the Browser pane. Click to stop."));
    recButton_->hide();
    connect(recButton_, &QPushButton::clicked, this, [this] { recButtonClicked(); });
    statusLabel_ = new QLabel(topBar_);
    statusLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    statusLabel_->setFont(Theme::font(11.5));
    // The status line runs under the button; the button takes the clicks.
    recButton_->raise();

    sidebarToggle_ = new QToolButton(topBar_);
    sidebarToggle_->setGeometry(218, 12, 28, 28);
    sidebarToggle_->setAutoRaise(true);
    sidebarToggle_->setAccessibleDescription(QStringLiteral("Toggle sidebar"));
    sidebarToggle_->setToolTip(QStringLiteral("Show or hide the sidebar (Ctrl+B)"));
    connect(sidebarToggle_, &QToolButton::clicked, this, [this] { toggleSidebar(); });
}

void AppDelegate::buildContent(QWidget *root)
{
    content_ = new QWidget(root);
    sidebar_ = new Sidebar(QRect(0, 0, sidebarWidth, 600), content_);
    QPointer<AppDelegate> self(this);
    sidebar_->onNewSession = [self] {
        if (self)
            self->sessions_.startNewSession();
    };
    sidebar_->onOpenSession = [self](const SessionRow &row) {
        if (self)
            self->sessions_.openSession(row);
    };
    sidebar_->onPlanClick = [self](QWidget *anchor) {
        if (self)
            self->showLimits(anchor);
    };
    sidebar_->onSkills = [self] {
        if (self)
            self->showGallery();
    };
    sidebar_->onCaseBoard = [self] {
        if (self)
            self->openCaseBoard(0);
    };
    sidebar_->onWallet = [self] {
        if (self)
            self->openWallet();
    };
    sidebar_->onMail = [self] {
        if (self)
            self->openMail();
    };
    sidebar_->onOpenFolder = [self](const QString &folder) {
        if (self)
            self->openFolder(folder);
    };
    sidebar_->onPickFolder = [self] {
        if (self)
            self->openProject();
    };
    sidebar_->onAccountMenu = [self](QAbstractButton *button) {
        if (!self)
            return;
        QMenu *menu = self->accountMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(button->mapToGlobal(QPoint(0, button->height() + 4)));
    };
    contentBox_ = new QWidget(content_);

    chat_ = new WebView(chatProfile ? chatProfile() : nullptr, contentBox_);
    chat_->addMessageHandler(QStringLiteral("velto"), [self](const QJsonValue &body) {
        if (self)
            self->chatMessage(body);
    });
    ChatScripts::installChatScripts(chat_);
    chat_->page()->setBackgroundColor(Qt::transparent);
    chat_->navigationPolicy = [self](const WebView::Navigation &nav) {
        const ChatRoute route = chatRoute(nav.url);
        if (route == ChatRoute::Load)
            return true;
        if (!self)
            return false;
        if (route == ChatRoute::BrowserPane) {
            const QUrl url = nav.url;
            Dispatch::onMain([self, url] {
                if (!self)
                    return;
                self->showBrowser();
                self->browser_->load(url);
            });
        } else if (route == ChatRoute::Desktop) {
            Desktop::openUrl(nav.url);
        }
        return false;
    };
    chat_->newWindowRequested = [self](const QUrl &url) {
        if (!self)
            return;
        const ChatRoute route = newWindowRoute(url);
        if (route == ChatRoute::BrowserPane) {
            self->showBrowser();
            self->browser_->load(url);
        } else if (route == ChatRoute::Desktop) {
            Desktop::openUrl(url);
        }
    };
    connect(chat_->page(), &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &info) {
        if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus)
            chatLoaded(true);
        else if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus && chatRoute(info.url()) == ChatRoute::Load)
            chatLoaded(false);
    });

    browser_ = new BrowserPane(QRect(0, 0, 800, 600), contentBox_);
    browser_->hide();
    browser_->onTitleChange = [self](const QString &title) {
        if (self && self->showingBrowser_)
            self->statusLabel_->setText(title);
    };

    splash_ = new QWidget(contentBox_);
    splashWeb_ = new WebView(chatProfile ? chatProfile() : nullptr, splash_);
    splashWeb_->addUserScript(ChatScripts::earlyStyle(Theme::chatFontFaceCSS()), WebView::When::DocumentStart,
                              WebView::Frames::MainOnly);
    splashWeb_->page()->setBackgroundColor(Qt::transparent);
    // Messages given before the page was ready are shown once it is.
    connect(splashWeb_, &QWebEngineView::loadFinished, this, [this](bool ok) {
        if (!ok)
            return;
        splashWeb_->evaluate(ChatScripts::liveThemeCall(), WebView::World::Page);
        splashWeb_->evaluate(ChatScripts::statusCall(splashLabel_->text()), WebView::World::Page);
    });
    splashWeb_->addUserScript(ChatScripts::stillCall(), WebView::When::DocumentStart, WebView::Frames::MainOnly);
    splashWeb_->load(orbPage());
    // The web views don't follow the desktop's motion setting: the chat page
    // and the splash keep still under a mark the app sets, at the next load
    // and on the pages shown now.
    connect(Appearance::shared(), &Appearance::reduceMotionChanged, this, [this] {
        ChatScripts::installChatScripts(chat_);
        for (WebView *view : {chat_, splashWeb_})
            view->evaluate(ChatScripts::stillCall());
    });
    splashOrb_ = new OrbView(QRect(-100, -100, 1, 1));
    splashOrb_->setParent(nullptr);
    splashOrb_->setBusy(true);
    splashLabel_ = new QLabel;
    splashLabel_->hide();
}

void AppDelegate::layoutWindow()
{
    if (!window_)
        return;
    const int w = window_->width();
    // The menu bar sits above the top bar unless the desktop shows it itself.
    const int menu = menuBar_ && !menuBar_->isNativeMenuBar() ? menuBar_->sizeHint().height() : 0;
    if (menu > 0)
        menuBar_->setGeometry(0, 0, w, menu);
    const int h = window_->height() - menu;
    topBar_->setGeometry(0, menu, w, barHeight);
    topHair_->setGeometry(0, barHeight - 1, w, 1);
    barOrb_->move(w - 36, 16);
    themeSwitch_->move(w - 114, 9);
    recButton_->move(w - 262, 13);
    statusLabel_->setGeometry(w - 500, 18, 372, 16);
    content_->setGeometry(0, menu + barHeight, w, h - barHeight);
    const int ch = h - barHeight;
    sidebar_->setGeometry(0, 0, sidebarWidth, ch);
    const int x = sidebarOn_ ? sidebarWidth : 0;
    contentBox_->setGeometry(x, 0, w - x, ch);
    const QRect inner(QPoint(0, 0), contentBox_->size());
    chat_->setGeometry(inner);
    browser_->setGeometry(inner);
    splash_->setGeometry(inner);
    splashWeb_->setGeometry(QRect(QPoint(0, 0), splash_->size()));
}

void AppDelegate::paintChrome()
{
    if (!window_)
        return;
    const bool dark = Theme::isDark();
    paintedDark_ = dark;
    QPalette pal = window_->palette();
    pal.setColor(QPalette::Window, Theme::bg());
    window_->setPalette(pal);
    window_->setAutoFillBackground(true);

    auto fill = [](QWidget *view, const QColor &color) {
        auto *layer = ViewLayer::of(view);
        layer->background = color;
        layer->apply();
    };
    // The bar's glass: the theme's glass tint laid over the ground.
    const QColor ground = Theme::bg(), glass = Theme::glass();
    const qreal tint = glass.alphaF() * (dark ? 0.45 : 0.4);
    auto mix = [tint](qreal under, qreal over) { return under + (over - under) * tint; };
    fill(topBar_, QColor::fromRgbF(float(mix(ground.redF(), glass.redF())), float(mix(ground.greenF(), glass.greenF())),
                                   float(mix(ground.blueF(), glass.blueF()))));
    fill(topHair_, Theme::line());
    fill(headerEdge_, Theme::line());

    // The product name in two runs, the ink one and the royal one.
    const QString name = QStringLiteral("Velto");
    brandWord_->setTextFormat(Qt::RichText);
    QFont word = Theme::font(14, QFont::Bold);
    word.setLetterSpacing(QFont::AbsoluteSpacing, -0.2);
    brandWord_->setFont(word);
    brandWord_->setText(QStringLiteral("<span style=\"color:%1\">%2</span><span style=\"color:%3\">%4</span>")
                            .arg(Theme::css(Theme::ink()), name.left(3), Theme::css(Theme::royal()), name.mid(3)));
    brandWord_->setAccessibleName(name);
    brandWord_->setStyleSheet(QStringLiteral("background: transparent;"));

    sidebarToggle_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; color: %1; }")
                                      .arg(Theme::qss(Theme::ink2())));
    if (Symbols::has(QStringLiteral("sidebar.left")))
        sidebarToggle_->setIcon(Symbols::icon(QStringLiteral("sidebar.left"), 14, QFont::Normal, Theme::ink2()));
    else
        sidebarToggle_->setText(QStringLiteral("☰"));
    statusLabel_->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(Theme::qss(Theme::muted())));

    auto *segment = ViewLayer::of(segment_);
    segment->background = dark ? Theme::hex(0xFFFFFF, 0.06) : Theme::hex(0x0E1220, 0.05);
    segment->borderWidth = 1;
    QColor edge = Theme::glassEdge();
    edge.setAlphaF(0.08f);
    segment->borderColor = dark ? edge : Theme::line();
    segment->cornerRadius = 16;
    segment->apply();
    auto *pill = ViewLayer::of(segmentPill_);
    pill->background = dark ? Theme::hex(0x1B2030) : Theme::surface();
    pill->borderWidth = dark ? 1 : 0;
    pill->borderColor = Theme::line2();
    pill->cornerRadius = 13;
    pill->apply();
    auto *box = ViewLayer::of(contentBox_);
    box->background = Theme::surface();
    box->borderWidth = sidebarOn_ ? 1 : 0;
    box->borderColor = Theme::line();
    box->apply();
    fill(splash_, Theme::surface());
    paintTabs(false);
}

void AppDelegate::paintTabs(bool animated)
{
    if (!chatTab_)
        return;
    auto paint = [](QPushButton *tab, bool selected, const QString &prefix) {
        const QString title = prefix + tab->text().trimmed();
        tab->setText(title);
        tab->setFont(Theme::font(12.5, selected ? QFont::Medium : QFont::Normal));
        tab->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; color: %1; }")
                               .arg(Theme::qss(selected ? Theme::ink() : Theme::ink2())));
        tab->setAccessibleDescription(selected ? QStringLiteral("selected") : QString());
    };
    paint(chatTab_, !showingBrowser_, QStringLiteral("     "));
    paint(browserTab_, showingBrowser_, QString());
    if (Symbols::has(QStringLiteral("globe")))
        browserTab_->setIcon(Symbols::icon(QStringLiteral("globe"), 12, QFont::Medium,
                                           showingBrowser_ ? Theme::royal() : Theme::muted()));
    const QRect target = (showingBrowser_ ? browserTab_ : chatTab_)->geometry();
    if (animated && !Theme::reduceMotion()) {
        auto *anim = new QPropertyAnimation(segmentPill_, "geometry", segmentPill_);
        anim->setDuration(320);
        anim->setEndValue(target);
        QEasingCurve curve(QEasingCurve::BezierSpline);
        curve.addCubicBezierSegment(QPointF(0.22, 1.0), QPointF(0.36, 1.0), QPointF(1, 1));
        anim->setEasingCurve(curve);
        anim->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        segmentPill_->setGeometry(target);
    }
    segmentPill_->lower();
}

void AppDelegate::showChat()
{
    showingBrowser_ = false;
    browser_->hide();
    chat_->show();
    statusLabel_->setText(work_ ? lastComponent(*work_) : QString());
    paintTabs(true);
}

void AppDelegate::showBrowser()
{
    showingBrowser_ = true;
    chat_->hide();
    browser_->show();
    BrowserTab *tab = browser_->activeTab();
    statusLabel_->setText(tab ? browser_->web()->title() : QStringLiteral("Velto Browser"));
    paintTabs(true);
}

void AppDelegate::toggleSidebar()
{
    sidebarOn_ = !sidebarOn_;
    sidebar_->setVisible(sidebarOn_);
    headerEdge_->setVisible(sidebarOn_);
    auto *box = ViewLayer::of(contentBox_);
    box->borderWidth = sidebarOn_ ? 1 : 0;
    box->apply();
    layoutWindow();
}

void AppDelegate::splashMessage(const QString &text)
{
    // Before the window is built (an early engine start) the text waits for it.
    if (!splashLabel_) {
        earlySplash_ = text;
        return;
    }
    splashLabel_->setText(text);
    if (splashWeb_)
        splashWeb_->evaluate(ChatScripts::statusCall(text), WebView::World::Page);
}

void AppDelegate::chatLoaded(bool ok)
{
    if (!ok) {
        splash_->show();
        splash_->raise();
        splashOrb_->setBusy(false);
        splashMessage(QStringLiteral("Connection lost. Reopen Velto."));
        return;
    }
    splash_->hide();
    splashOrb_->setBusy(false);
    // The browser pane's start tab was left out while the window was built,
    // so that the chat came first; with the chat page in, it opens now,
    // ready for the first look at the pane.
    QPointer<BrowserPane> pane(browser_);
    Dispatch::onMain([pane] {
        if (pane)
            pane->openFirstTab();
    });
    if (!work_ || sessions_.deepLinkTries >= 3)
        return;
    const QString path = chat_->url().path();
    if (!path.isEmpty() && path != QLatin1String("/"))
        return;
    sessions_.deepLinkTries += 1;
    // The engine's start page is showing: a new session is made in the
    // folder through the engine's interface and opened at its own page (the
    // engine's folder page would not pick the folder).
    QPointer<AppDelegate> self(this);
    Dispatch::after(1.0, [self] {
        if (self)
            self->sessions_.startNewSession();
    });
}

void AppDelegate::chatMessage(const QJsonValue &body)
{
    if (!body.isObject())
        return;
    const QJsonObject o = body.toObject();
    if (o.value(QStringLiteral("home")).toBool(false)) {
        sessions_.startNewSession();
        return;
    }
    const QJsonValue working = o.value(QStringLiteral("working"));
    if (!working.isBool())
        return;
    const bool w = working.toBool();
    barOrb_->setBusy(w);
    chatMark_->setBusy(w);
    DockMascot::setBusy(w);
    if (w) {
        statusLabel_->setText(QStringLiteral("thinking…"));
        return;
    }
    if (!showingBrowser_)
        statusLabel_->setText(lastComponent(currentDir()));
    sidebar_->refreshSessions(engine_.port(), nullptr);
}
