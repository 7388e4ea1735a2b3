// Start-up and shutdown of AppDelegate; the main window is in MainWindow.cpp.
#include "app/AppDelegate.h"
#include "app/HarnessSync.h"
#include "app/Leftovers.h"
#include "app/RoutineRunner.h"
#include "app/Shutdown.h"
#include "app/Sidebar.h"
#include "app/SignIn.h"
#include "browser/BrowserPane.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "core/Workspace.h"
#include "platform/Dialogs.h"
#include "platform/Dispatch.h"
#include "platform/Http.h"
#include "platform/Process.h"
#include "platform/WebView.h"
#include "recorder/PaneRecorder.h"
#include "toolserver/BrowserMCP.h"
#include "toolserver/DocText.h"
#include "ui/Busy.h"
#include "ui/Coalesce.h"
#include "ui/Mascot.h"
#include "ui/Theme.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLabel>
#include <QTimer>
#include <QWidget>

namespace {

// The seat token, when the seat env file has the key at all (empty allowed).
std::optional<QString> seatToken()
{
    return readEnvKey(SEAT_ENV, QStringLiteral("PAVI_SEAT_TOKEN"));
}

bool executable(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

} // namespace

AppDelegate::AppDelegate() = default;

AppDelegate::~AppDelegate()
{
    BrowserMCP::onActivity = nullptr;
    BrowserMCP::onConfirm = nullptr;
    routines_.reset();
    mcp_.reset();
    delete splashOrb_;
    delete splashLabel_;
    delete window_;
}

void AppDelegate::quit()
{
    Shutdown::begin();
    if (quitting_)
        return;
    PaneRecorder &recorder = PaneRecorder::shared();
    if (!recorder.isRecording() && !recorder.isFinishing()) {
        leave();
        return;
    }
    quitting_ = true;
    // The recording keeps what was shown up to now; the app leaves once the
    // video is finished, or when finishing takes too long.
    auto left = std::make_shared<bool>(false);
    QPointer<AppDelegate> self(this);
    const auto go = [self, left] {
        if (*left || !self)
            return;
        *left = true;
        self->quitting_ = false;
        self->leave();
    };
    recorder.stop([go](const PaneRecorder::Outcome &) { go(); });
    QTimer::singleShot(int(recordingGrace * 1000), this, go);
}

void AppDelegate::leave()
{
    if (terminate)
        terminate();
    else
        QCoreApplication::quit();
}

void AppDelegate::bringToFront()
{
    if (!window_)
        return;
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void AppDelegate::applicationDidFinishLaunching()
{
    Leftovers::cleanAtStart();
    Theme::registerBundledFonts();
    loadTheme();
    applyAppearance();
    startedEarly_ = startEarly();
    buildWindow();
    // The menu bar belongs to the main window here, so it follows it.
    buildMenu();
    if (!startedEarly_)
        splashMessage(QString());
    scheduleRecordHooks();
    QPointer<AppDelegate> self(this);
    Dispatch::onMain([self] {
        if (self)
            self->boot();
    });
    // VELTO_OPEN_PANEL and VELTO_SNAPSHOT: neither waits for the sign-in or the engine.
    scheduleSnapshotHooks();
}

bool AppDelegate::startEarly()
{
    if (!executable(ENGINE))
        return false;
    const std::optional<QString> token = seatToken();
    if (!token || token->isEmpty())
        return false;
    const QString saved = readEnvFile(WORK_ENV).value(QStringLiteral("VELTO_WORK"));
    if (saved.isEmpty() || !QFileInfo::exists(saved))
        return false;
    work_ = saved;
    buildStructure(saved);
    startEngine();
    return true;
}

void AppDelegate::boot()
{
    if (!executable(ENGINE)) {
        splashMessage(QStringLiteral("Velto engine is missing."));
        Dialogs::Alert a;
        a.style = Dialogs::Style::Critical;
        a.title = QStringLiteral("Velto is not fully installed");
        a.text = QStringLiteral("The engine was not found in ~/.velto.\n\nRun the installer again, or in Terminal:\n\n"
                                "curl -fsSL https://hallix.in/install.sh | bash");
        Dialogs::ask(a);
        quit();
        return;
    }
    if (startedEarly_) {
        bringToFront();
        return;
    }
    const std::optional<QString> token = seatToken();
    if (token && !token->isEmpty()) {
        afterLogin();
        return;
    }
    splashMessage(QStringLiteral("Waiting for sign in…"));
    splashOrb_->setBusy(false);
    QPointer<AppDelegate> self(this);
    login_ = new LoginWindow(window_, [self](bool signedIn) {
        if (!self)
            return;
        if (self->login_)
            self->login_->deleteLater();
        self->login_ = nullptr;
        if (signedIn) {
            self->splashOrb_->setBusy(true);
            self->afterLogin();
        } else {
            self->quit();
        }
    });
    login_->present();
}

void AppDelegate::afterLogin()
{
    bringToFront();
    std::optional<QString> folder;
    const QString saved = readEnvFile(WORK_ENV).value(QStringLiteral("VELTO_WORK"));
    if (!saved.isEmpty() && QFileInfo::exists(saved))
        folder = saved;
    if (!folder) {
        splashMessage(QStringLiteral("Waiting for your clients folder…"));
        folder = chooseWorkspace();
    }
    if (!folder) {
        quit();
        return;
    }
    work_ = folder;
    buildStructure(*folder);
    startEngine();
}

void AppDelegate::startEngine()
{
    if (!work_ || !seatToken())
        return;
    const quint64 generation = ++startGeneration_;
    // An earlier start still under way is given up: its engine and tool
    // server stop now, and its sync's answer does nothing.
    engine_.stop();
    if (mcp_) {
        mcp_->stop();
        mcp_.reset();
    }
    readyWork_.reset();
    engineFailed_ = false;
    syncPending_ = true;
    splashMessage(QStringLiteral("Updating skills from Hallix…"));
    QPointer<AppDelegate> self(this);
    HarnessSync::syncHarness([self, generation] {
        if (!self || self->startGeneration_ != generation)
            return;
        self->syncPending_ = false;
        if (self->readyWork_) {
            const QString work = *self->readyWork_;
            self->readyWork_.reset();
            self->engineStarted(work);
        } else if (self->engine_.proc() && !self->engineFailed_) {
            self->splashMessage(QStringLiteral("Starting Velto…"));
        }
    });
    startEngineNow();
}

void AppDelegate::changeWorkspace()
{
    const std::optional<QString> folder = chooseWorkspace();
    if (!folder)
        return;
    work_ = folder;
    // No claimed routine is left unreported: the old runner reports its run
    // as failed before anything of the new folder starts.
    if (routines_) {
        routines_->retire();
        routines_.reset();
    }
    engine_.stop();
    splash_->show();
    splash_->raise();
    splashOrb_->setBusy(true);
    showChat();
    splashMessage(QStringLiteral("Switching folder…"));
    QPointer<AppDelegate> self(this);
    Dispatch::after(0.6, [self] {
        if (self)
            self->startEngine();
    });
}

void AppDelegate::startEngineNow()
{
    const std::optional<QString> token = seatToken();
    if (!work_ || !token)
        return;
    if (!syncPending_)
        splashMessage(QStringLiteral("Starting Velto…"));
    QPointer<AppDelegate> self(this);
    BrowserMCP::onActivity = [self](const QString &name) {
        if (self)
            self->toolActivity(name);
    };
    BrowserMCP::onConfirm = [self](const QString &title, const QString &detail) {
        return self ? self->confirmStep(title, detail) : false;
    };
    if (mcp_)
        mcp_->stop();
    // Before the window is built the pane is not there yet; it is handed
    // over when it is.
    mcp_ = std::make_unique<BrowserMCP>(browser_);
    if (mcp_->start() && mcp_->port() != 0)
        Engine::wireBrowserMCP(mcp_->port(), mcp_->token());

    if (!engine_.start(*work_, *token)) {
        Dialogs::Alert a;
        a.style = Dialogs::Style::Critical;
        a.title = QStringLiteral("Velto could not start");
        a.text = QStringLiteral("The engine did not launch. Reinstall Velto and try again.");
        Dialogs::ask(a);
        quit();
        return;
    }
    lockViewsToEngine();
    if (window_) {
        window_->setWindowTitle(QStringLiteral("Velto"));
        statusLabel_->setText(QFileInfo(*work_).fileName());
    }
    const QString work = *work_;
    const quint64 generation = startGeneration_;
    engine_.waitReady(60, [self, work, generation](bool ready) {
        if (self && self->startGeneration_ == generation)
            self->engineReady(ready, work);
    });
}

void AppDelegate::lockViewsToEngine()
{
    // The chat view and the splash answer the locked engine's challenge; no other origin gets its password.
    const QString engineAddress = QStringLiteral("http://%1:") + QString::number(engine_.port());
    const QList<QUrl> engineOrigins{QUrl(engineAddress.arg(QStringLiteral("127.0.0.1"))),
                                    QUrl(engineAddress.arg(QStringLiteral("localhost")))};
    for (WebView *view : {chat_, splashWeb_})
        if (view)
            view->answerChallenges(engineOrigins, EngineApi::engineUser(), engine_.password());
}

void AppDelegate::engineReady(bool ready, const QString &work)
{
    if (!ready) {
        engineFailed_ = true;
        splashOrb_->setBusy(false);
        splashMessage(QStringLiteral("Velto did not start. Quit and open it again."));
        return;
    }
    if (syncPending_) {
        splashMessage(QStringLiteral("Updating skills from Hallix…"));
        readyWork_ = work;
        return;
    }
    engineStarted(work);
}

void AppDelegate::engineStarted(const QString &work)
{
    sessions_.deepLinkTries = 0;
    QStringList folders{work};
    for (const QString &f : std::as_const(recentFolders_))
        if (f != work)
            folders << f;
    recentFolders_ = folders;
    sidebar_->setFolders(recentFolders_, work);
    loadAccount();
    scheduleUpdateCheck();
    QPointer<AppDelegate> self(this);
    openNewestSession(work, engine_.port());
    syncClients();
    if (routines_)
        routines_->retire();
    routines_ = std::make_unique<RoutineRunner>();
    routines_->enginePort = [self] { return self ? self->engine_.port() : 0; };
    routines_->routineWorkingDirectory = [self] {
        return self ? self->sessions_.routineWorkingDirectory() : HOME;
    };
    routines_->openSession = [self](const SessionRow &row) {
        if (self)
            self->sessions_.openSession(row);
    };
    routines_->refreshSessions = [self](int port) {
        if (self)
            self->sidebar_->refreshSessions(port, nullptr);
    };
    routines_->start();
}

void AppDelegate::loadAccount()
{
    const std::optional<QString> token = seatToken();
    if (!token)
        return;
    Http::Request req;
    req.url = QUrl(API + QStringLiteral("/cli/whoami"));
    req.headers << Http::Header("Authorization", "Bearer " + token->toUtf8());
    req.timeout = 20;
    QPointer<AppDelegate> self(this);
    Http::request(req, [self](const Http::Response &reply) {
        if (!self)
            return;
        const QJsonDocument doc = QJsonDocument::fromJson(reply.body);
        std::optional<QJsonObject> account;
        if (doc.isObject())
            account = doc.object();
        self->accountInfo_ = account;
        self->sidebar_->setAccount(account);
    });
}

void AppDelegate::syncClients()
{
    if (!executable(LAUNCHER) || !work_)
        return;
    Process::Spec spec;
    spec.program = QStringLiteral("/bin/bash");
    spec.args = {LAUNCHER, QStringLiteral("sync")};
    spec.workDir = *work_;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELTO_HOME"), VELTO_HOME);
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin:/opt/homebrew/bin:/usr/local/bin"));
    spec.env = env;
    spec.input = Process::Stream::Null;
    spec.output = Process::Stream::Null;
    // Not waited for; the handle lives until the sync ends.
    if (auto proc = Process::launch(spec)) {
        Process *p = proc.release();
        QObject::connect(p, &Process::finished, p, &QObject::deleteLater);
    }
}

QString AppDelegate::activityLine(const QString &name)
{
    const QString middot = QStringLiteral(" \u00B7 ");
    if (name.startsWith(QLatin1String("erp_")))
        return QStringLiteral("ERP") + middot + name.mid(4).replace(QLatin1Char('_'), QLatin1Char(' '));
    if (name.startsWith(QLatin1String("record_")))
        return QStringLiteral("record") + middot + name.mid(7);
    QString rest = name;
    rest.remove(QStringLiteral("browser_"));
    rest.remove(QStringLiteral("portal_"));
    return QStringLiteral("browser") + middot + rest;
}

bool AppDelegate::activityShowsBrowser(const QString &name)
{
    return name.startsWith(QLatin1String("browser_")) || name == QLatin1String("portal_sign_in")
        || name == QLatin1String("record_start");
}

bool AppDelegate::activityActivates(const QString &name)
{
    return name == QLatin1String("portal_sign_in") || name == QLatin1String("portal_otp");
}

QString AppDelegate::confirmText(const QString &detail)
{
    const QString fixed = QStringLiteral("This one cannot be undone. Velto has taken the job to this point \u2014 "
                                         "approve to let it finish, or stop here and look at the screen yourself.");
    return detail.isEmpty() ? fixed : detail + QStringLiteral("\n\n") + fixed;
}

void AppDelegate::toolActivity(const QString &name)
{
    // A burst of tool calls repaints the status line and the busy mark at
    // most ten times a second, ending on the latest tool. An update held for
    // the end of the interval is dropped when something else has set the
    // line or the mark meanwhile (the page's word that it is idle, say).
    if (!activityUpdates_)
        activityUpdates_ = new Coalescer(0.1, this);
    QPointer<AppDelegate> self(this);
    activityUpdates_->post([self, line = activityLine(name), seen = statusLabel_->text(), busy = barOrb_->busy()] {
        if (!self || self->statusLabel_->text() != seen || self->barOrb_->busy() != busy)
            return;
        self->barOrb_->setBusy(true);
        self->statusLabel_->setText(line);
    });
    if (activityShowsBrowser(name) && !showingBrowser_)
        showBrowser();
    if (activityActivates(name))
        bringToFront();
}

bool AppDelegate::confirmStep(const QString &title, const QString &detail)
{
    if (!showingBrowser_)
        showBrowser();
    bringToFront();
    Dialogs::Alert a;
    a.style = Dialogs::Style::Warning;
    a.title = title;
    a.text = confirmText(detail);
    a.buttons = {QStringLiteral("Approve"), QStringLiteral("Not now")};
    return Dialogs::ask(a) == 0;
}

void AppDelegate::applicationWillTerminate()
{
    DocText::cancelAll(); // a document read under way must not hold up the exit
    if (terminated_)
        return;
    terminated_ = true;
    Shutdown::begin();
    // Bounded: an engine that ignores SIGTERM is killed after the grace.
    engine_.shutdown(2000);
    if (mcp_)
        mcp_->stop();
}
