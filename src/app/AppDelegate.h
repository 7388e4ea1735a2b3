#pragma once
// The application's delegate: the hub of the program. It owns the main window
// (top bar, sessions sidebar, and the content box with the chat view, the
// browser pane and the splash), the engine host, the tool server, the routine
// runner and the sign-in window while it is shown, and it drives start-up and
// shutdown:
//
//   launch → boot(): engine missing → alert and quit; no seat token → the
//   sign-in window; afterLogin(): the clients folder (work env file, else the
//   folder chooser; cancel quits) laid out; startEngine(): the harness sync;
//   startEngineNow(): tool server, engine, readiness wait (60 s); once the
//   engine answers: recent folders, account, sessions, clients sync, routines.
//
// Quitting (the app's aboutToQuit, closing the window, SIGTERM) ends in
// applicationWillTerminate(): the engine is stopped, then the tool server.
// Main thread only; closures that outlive a call hold the delegate weakly.
#include "app/Engine.h"
#include "app/EngineApi.h"
#include "app/Sessions.h"
#include "app/SignIn.h"

#include <QColor>
#include <QImage>
#include <QJsonObject>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class ActivityLogWindow;
class BrowserMCP;
class Coalescer;
class ErpWindow;
class GalleryWindow;
class PortalLoginsWindow;
class QAbstractButton;
class QMenu;
class QMenuBar;
class SkillsWindow;
struct PortalLogin;
class IntegrationsWindow;
class LimitsPopover;
class PlansWindow;
class UsageWindow;
class BrowserPane;
class LoginWindow;
class OrbView;
class PaviMarkView;
class QLabel;
class QPainter;
class QPushButton;
class QToolButton;
class QWebEngineProfile;
class QWidget;
class RoutineRunner;
class Sidebar;
class ThemeSwitch;
class WebView;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    AppDelegate();
    ~AppDelegate() override;

    // The launch steps: fonts, the main window, then boot() on the next turn.
    void applicationDidFinishLaunching();
    // Stops the engine (gone when this returns), then the tool server.
    void applicationWillTerminate();
    // Quitting, however asked (the menu, closing the window, SIGTERM, a
    // hook): the bound on the way out starts; a recording under way is
    // stopped as record_stop would (the video ends now) and the app quits
    // once it is finished, or after recordingGrace seconds at the latest.
    void quit();
    static inline double recordingGrace = 6;

    // --- start-up -------------------------------------------------------------
    void boot();
    void afterLogin();
    // A signed-in CA whose clients folder is known: the engine and the
    // harness sync start at launch, before the window's web views are built.
    // True when they did.
    bool startEarly();
    // The harness sync and startEngineNow() side by side; the sessions are
    // opened once both the engine answers and the sync is done (the engine
    // meets the folder with the synced skills and rules). Runs again when the
    // clients folder changes; an earlier start still under way is given up.
    void startEngine();
    bool syncPending() const { return syncPending_; }
    void startEngineNow();
    void loadAccount();
    void syncClients();
    // The CA picks another clients folder: a routine under way is reported to
    // the cloud as failed, the engine stops, the splash shows "Switching
    // folder…" and the start-up runs again 0.6 s later. Cancelling changes
    // nothing.
    void changeWorkspace();

    // --- the panels (Panels.cpp) -----------------------------------------------
    // Each panel window is made on the first request and kept; later requests
    // show the same window again (usage, plans and activity re-read first).
    void showUsage();
    void showPlans();
    void showIntegrations();
    void showActivity();
    // The plan usage popover by the sidebar's plan chip, from the account the
    // sidebar last received; its link opens the usage window.
    void showLimits(QWidget *anchor);
    // The update offer, 6 s after the engine answers.
    void scheduleUpdateCheck();
    UsageWindow *usagePanel() const { return usagePanel_; }
    PlansWindow *plansPanel() const { return plansPanel_; }
    IntegrationsWindow *integrationsPanel() const { return integrationsPanel_; }
    ActivityLogWindow *activityPanel() const { return activityPanel_; }
    LimitsPopover *limitsPopover();
    // The gallery (re-read on a later call; a started card becomes a job), the
    // skills editor, the portal logins (their sign-in goes to the browser
    // pane) and the ERP window.
    void showGallery();
    void showSkills();
    void showPortals();
    void showErp();
    GalleryWindow *galleryPanel() const { return galleryPanel_; }
    SkillsWindow *skillsPanel() const { return skillsPanel_; }
    PortalLoginsWindow *portalPanel() const { return portalPanel_; }
    ErpWindow *erpPanel() const { return erpPanel_; }
    // The portal sign-in hand-off: the browser pane comes forward and signs
    // in with the login; the status line follows it.
    void portalSignIn(const PortalLogin &login);
    // The system beep (default: the desktop's).
    static inline std::function<void()> beep;

    // --- menus and their actions (Menus.cpp) -------------------------------------
    // The main window's menu bar, built anew each time (the Appearance marks
    // follow the theme in force). Nothing before the main window exists.
    void buildMenu();
    QMenuBar *menuBar() const { return menuBar_; }
    // The account menu of the sidebar's avatar, built anew for every click;
    // the caller owns it.
    QMenu *accountMenu();
    void about();
    void openWorkspace();
    void newSessionMenu();
    void openProject();
    void manualSync();
    void signOut();
    void reload();
    void zoomIn();
    void zoomOut();
    void zoomReset();
    void newBrowserTab();
    void closeBrowserTab();
    void nextBrowserTab();
    void openHelp();
    // The firm's Case Board (board 0: the sidebar's, no board id sent) and
    // Wallet pages from the cloud, opened in a browser tab.
    void openCaseBoard(int board);
    void openWallet();
    // The firm's mail app, when it is on this computer.
    void openMail();
    // Makes the folder the current one and opens its newest session (a new
    // one when it has none).
    void openFolder(const QString &folder);
    // The web view reload and zoom act on: the browser's while it shows,
    // else the chat view.
    WebView *frontWeb() const;

    // --- demo and test hooks (DemoHooks.cpp) ------------------------------------
    // One named demo command with its arguments (also the recording script's
    // "action" steps, which pass the whole step object). An unknown name does
    // nothing.
    void demoAction(const QString &name, const QJsonObject &args);
    // The click ring: a point in points from the top-left corner of the main
    // window's content and the time it was set (seconds, demoRingClock()).
    // Never cleared; the window capture draws it while it is under 0.9 s old.
    struct DemoRing {
        QPointF point;
        double at = 0;
    };
    std::optional<DemoRing> demoRing;
    static double demoRingClock();
    // The exit fallback of every hook run: 2 s later, when the process is
    // still running, the engine and the tool server stop and the process
    // exits with status 0.
    void armExitFallback();
    // The hooks VELTO_OPEN_PANEL and VELTO_SNAPSHOT ask for, scheduled at launch.
    void scheduleSnapshotHooks();
    // Opens a panel by its VELTO_OPEN_PANEL name; any other name does nothing.
    void openPanelNamed(const QString &name);
    // Pictures of the main window and of the panel VELTO_OPEN_PANEL names
    // (else the first other visible window) as prefix-main.png and
    // prefix-panel.png, then the app ends itself.
    void writeSnapshots(const QString &prefix);
    // How a hook run ends: open sheets end, the app is asked to terminate and
    // the exit fallback is armed.
    void quitFromHook();
    // The view itself when it is a web view, else the first web view among
    // its children, depth first; none for no view.
    static WebView *firstWeb(QWidget *view);
    // The app's visible windows other than main (tooltips aside), in the
    // order they were made: the panel commands' and the window capture's list.
    static QList<QWidget *> otherVisibleWindows(QWidget *main);
    // The ground a window is pictured on: its own filled background, else the
    // theme's.
    static QColor groundOf(QWidget *window);

    // --- recording (RecordHooks.cpp) ---------------------------------------------
    // The REC button's click: asks the recorder to stop; a failure shows in an
    // alert titled "Recording", success in the splash.
    void recButtonClicked();
    // The REC button's title for the elapsed seconds: "●  REC 01:05   Stop".
    static QString recTitle(double seconds);
    // The unattended recording hooks the environment asks for, 5 s after
    // launch, without waiting for sign-in or the engine: VELTO_RECORD_TEST
    // (non-empty) with VELTO_RECORD_OUT, and VELTO_RECORD_SCRIPT (non-empty).
    void scheduleRecordHooks();
    // Records a fixed form-filling run on page into out/"Videos/Record test",
    // renders it, writes out/"result.json" and ends the process.
    void recordTest(const QString &page, const QString &out);
    // Plays the JSON recording script at path (see RecordHooks.cpp) and ends
    // the process; a script it cannot use ends it at once with status 2.
    void recordScript(const QString &path);
    // One frame of the main window for a window recording: its content with
    // the live web view, the app's other windows that overlap it, and the
    // click ring. done runs once, with a null image when none can be made.
    void captureWindow(const std::function<void(const QImage &)> &done);
    QPushButton *recButton() const { return recButton_; }

    // --- the main window --------------------------------------------------------
    void buildWindow();
    void showChat();
    void showBrowser();
    void toggleSidebar();
    void paintTabs(bool animated);
    // The text in the splash label and, through its page, on the splash.
    void splashMessage(const QString &text);
    // The folder new sessions work in: the newest recent folder, else the
    // clients folder, else HOME.
    QString currentDir() const;
    // The chat page's messages to the "velto" handler.
    void chatMessage(const QJsonValue &body);

    // Where a navigation of the chat view goes. Only http(s) pages of the
    // loopback host and "about:blank" load in the chat view; other addresses
    // without a host are refused; allowed hosts go to the browser pane and the
    // rest to the desktop's browser.
    enum class ChatRoute { Load, Refuse, BrowserPane, Desktop };
    static ChatRoute chatRoute(const QUrl &url);
    // The same for a page's request of a new window (never made).
    static ChatRoute newWindowRoute(const QUrl &url);

    // The tool server's hooks.
    void toolActivity(const QString &name);
    bool confirmStep(const QString &title, const QString &detail);
    // The status line for a tool, and whether it brings the browser pane and
    // the application forward.
    static QString activityLine(const QString &name);
    static bool activityShowsBrowser(const QString &name);
    static bool activityActivates(const QString &name);
    // The informative text of the confirm alert for a detail text.
    static QString confirmText(const QString &detail);

    // --- the theme (ThemeChoice.cpp) -------------------------------------------
    // The saved choice from "app.json" in VELTO_HOME: "light", "dark" or
    // "system" exactly; anything else (or no readable file) keeps the default.
    void loadTheme();
    // Stores the choice under "theme" in "app.json", keeping the other keys.
    // Failures are silent.
    void saveTheme(const QString &mode);
    // The application's palette follows the effective choice ("system": the
    // desktop's scheme).
    void applyAppearance();
    // The View menu's three choices.
    void setAppearanceDark();
    void setAppearanceLight();
    void setAppearanceSystem();
    // The top bar's switch: always an explicit light or dark, the opposite of
    // what is painted.
    void themeSwitchToggled();
    // Applies a choice with a repaint and the circular reveal. One switch runs
    // at a time; a choice made meanwhile waits, and only the last one made
    // runs once the current switch ends.
    void switchTheme(const QString &mode);
    // The desktop's scheme changed: repaints (with the reveal) while the
    // effective choice is "system" and the painted look differs.
    void systemAppearanceChanged();
    // Repaints every view the delegate owns, tells the pages and sends both
    // theme notifications once.
    void repaintAll();
    void paintChrome();
    // Panel windows that cannot follow the theme themselves are rebuilt.
    void rebuildStalePanels();
    // The reveal over the window from a picture of the old look (a null image:
    // none); always ends in finishThemeSwitch().
    void reveal(const QImage &picture, bool toDark);

    // A picture of the view and its children in their last painted state,
    // laid over ground (and glass, when given), with the live content of web
    // (when given, shown and not empty) in its place. done is called exactly
    // once; it gets a null image for no view or a view without width. With
    // demoRecordScale the picture has that many pixels per point and the
    // chrome is reused for 0.6 s while the view's size stays the same.
    static void composite(QWidget *view, const QColor &ground, const std::optional<QColor> &glass, WebView *web,
                          const std::function<void(const QImage &)> &done);
    // Runs draw into a fresh image of size x scale pixels that measures size
    // in points; a null image when it cannot be made.
    static QImage scaledImage(const QSizeF &size, qreal scale, const std::function<void(QPainter &)> &draw);

    bool paintedDark() const { return paintedDark_; }
    bool themeSwitching() const { return themeSwitching_; }
    const std::optional<QString> &pendingThemeMode() const { return pendingThemeMode_; }
    ThemeSwitch *themeSwitch() const { return themeSwitch_; }
    PaviMarkView *brandMark() const { return brandMark_; }
    QLabel *brandWord() const { return brandWord_; }

    // --- hooks for tests ----------------------------------------------------------
    // How the app quits (default: QCoreApplication::quit).
    static inline std::function<void()> terminate;
    // The chat view's profile (default: the shared persistent one).
    static inline std::function<QWebEngineProfile *()> chatProfile;
    // The splash page's address (default: the bundled orb page).
    static QUrl orbPage();

    // --- state, for the app's checks and tests --------------------------------
    QWidget *window() const { return window_; }
    BrowserPane *browser() const { return browser_; }
    WebView *chat() const { return chat_; }
    WebView *splashWeb() const { return splashWeb_; }
    QWidget *splash() const { return splash_; }
    Sidebar *sidebar() const { return sidebar_; }
    QWidget *contentBox() const { return contentBox_; }
    QWidget *headerEdge() const { return headerEdge_; }
    QLabel *statusLabel() const { return statusLabel_; }
    QLabel *splashLabel() const { return splashLabel_; }
    OrbView *splashOrb() const { return splashOrb_; }
    PaviMarkView *barOrb() const { return barOrb_; }
    PaviMarkView *chatMark() const { return chatMark_; }
    QPushButton *chatTab() const { return chatTab_; }
    QPushButton *browserTab() const { return browserTab_; }
    QWidget *segmentPill() const { return segmentPill_; }
    bool showingBrowser() const { return showingBrowser_; }
    bool sidebarOn() const { return sidebarOn_; }
    const QStringList &recentFolders() const { return recentFolders_; }
    const std::optional<QJsonObject> &accountInfo() const { return accountInfo_; }
    const std::optional<QString> &work() const { return work_; }
    void setWork(const std::optional<QString> &work) { work_ = work; }
    Engine &engine() { return engine_; }
    BrowserMCP *mcp() const { return mcp_.get(); }
    RoutineRunner *routines() const { return routines_.get(); }
    LoginWindow *login() const { return login_; }
    Sessions &sessions() { return sessions_; }

private:
    void layoutWindow();
    // The picture of the window in the look painted now (a null image when
    // motion is reduced or the window is hidden or minimised).
    void oldLookPicture(const std::function<void(const QImage &)> &done);
    void finishThemeSwitch();
    // The View menu's check marks follow the choice.
    void rebuildMenu() { buildMenu(); }
    void buildTopBar(QWidget *root);
    void buildContent(QWidget *root);
    void chatLoaded(bool ok);
    void engineReady(bool ready, const QString &work);
    // The rest of the start once the engine answers and the sync is done.
    void engineStarted(const QString &work);
    // The chat view and the splash answer the running engine's challenge.
    void lockViewsToEngine();
    void bringToFront();
    // The end of quit(): the terminate hook, else the application's quit.
    void leave();
    // Reloads the sidebar's sessions from the engine at port, then opens the
    // newest session of the folder, or starts a new one when it has none.
    void openNewestSession(const QString &folder, int port);
    // The end of a recording hook: result.json in out, then the app quits
    // (with the exit fallback armed).
    void finishRecordHook(const QString &out, const QJsonObject &result);
    // The web view whose live page goes into a picture of the window: the
    // browser's shown tab while the browser is in front, else the chat once
    // the splash is gone; none otherwise.
    WebView *liveWeb() const;
    // One step of a recording script, its keys in their fixed order.
    void playStep(const QJsonObject &step);

    // The main window and its views.
    QWidget *window_ = nullptr;
    QWidget *topBar_ = nullptr;
    PaviMarkView *brandMark_ = nullptr;
    QLabel *brandWord_ = nullptr;
    QWidget *topHair_ = nullptr;
    QWidget *segment_ = nullptr;
    QWidget *segmentPill_ = nullptr;
    QPushButton *chatTab_ = nullptr;
    QPushButton *browserTab_ = nullptr;
    PaviMarkView *chatMark_ = nullptr;
    QWidget *headerEdge_ = nullptr;
    PaviMarkView *barOrb_ = nullptr;
    ThemeSwitch *themeSwitch_ = nullptr;
    QPushButton *recButton_ = nullptr;
    QLabel *statusLabel_ = nullptr;
    QToolButton *sidebarToggle_ = nullptr;
    QWidget *content_ = nullptr;
    Sidebar *sidebar_ = nullptr;
    QWidget *contentBox_ = nullptr;
    WebView *chat_ = nullptr;
    BrowserPane *browser_ = nullptr;
    QWidget *splash_ = nullptr;
    WebView *splashWeb_ = nullptr;
    OrbView *splashOrb_ = nullptr;   // state only, never shown
    QLabel *splashLabel_ = nullptr;  // the last splash message, never shown

    bool showingBrowser_ = false;
    bool paintedDark_ = false;
    bool themeSwitching_ = false;
    std::optional<QString> pendingThemeMode_;
    bool sidebarOn_ = true;
    QStringList recentFolders_;
    std::optional<QJsonObject> accountInfo_;
    std::optional<QString> work_;

    Engine engine_;
    Sessions sessions_;
    std::unique_ptr<BrowserMCP> mcp_;
    Coalescer *activityUpdates_ = nullptr; // the tool calls' status line and busy mark
    std::unique_ptr<RoutineRunner> routines_;
    QPointer<LoginWindow> login_;
    // Bumped by every startEngine(): a sync answering for an earlier start
    // does nothing.
    quint64 startGeneration_ = 0;
    // The harness sync of the current start is still under way; the folder
    // of an engine that answered meanwhile waits for it.
    bool syncPending_ = false;
    std::optional<QString> readyWork_;
    // The current start's engine did not become ready: the sync's end keeps
    // the failure shown.
    bool engineFailed_ = false;
    bool startedEarly_ = false;
    std::optional<QString> earlySplash_;
    bool terminated_ = false;
    bool quitting_ = false;

    // Panel windows: children of the main window, each its own top-level window.
    UsageWindow *usagePanel_ = nullptr;
    PlansWindow *plansPanel_ = nullptr;
    IntegrationsWindow *integrationsPanel_ = nullptr;
    ActivityLogWindow *activityPanel_ = nullptr;
    LimitsPopover *limitsPopover_ = nullptr; // a child of the delegate
    GalleryWindow *galleryPanel_ = nullptr;
    SkillsWindow *skillsPanel_ = nullptr;
    PortalLoginsWindow *portalPanel_ = nullptr;
    ErpWindow *erpPanel_ = nullptr;
    QMenuBar *menuBar_ = nullptr;            // a child of the main window
};
