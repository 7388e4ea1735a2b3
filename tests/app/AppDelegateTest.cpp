#include "AppTestKit.h"
#include "app/AppDelegate.h"
#include "app/Sidebar.h"
#include "browser/BrowserPane.h"
#include "connectors/CloudFiles.h"
#include "core/Globals.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/WebView.h"
#include "recorder/PaneRecorder.h"
#include "support/FakeHttpServer.h"
#include "toolserver/BrowserMCP.h"
#include "ui/Mascot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QLabel>
#include <QPushButton>

using TestKit::HomeTest;
using TestKit::waitFor;
using Route = AppDelegate::ChatRoute;

TEST(AppDelegateRoutes, ChatViewLoadsOnlyLoopbackPagesAndBlank)
{
    const struct {
        const char *url;
        Route chat;
        Route newWindow;
    } cases[] = {
        {"http://127.0.0.1:4096/abc/session", Route::Load, Route::BrowserPane},
        {"http://localhost:4096/", Route::Load, Route::BrowserPane},
        {"https://127.0.0.1/x", Route::Load, Route::BrowserPane},
        {"about:blank", Route::Load, Route::Refuse},
        {"file:///etc/passwd", Route::Refuse, Route::Refuse},
        {"data:text/html,<b>x</b>", Route::Refuse, Route::Refuse},
        {"javascript:alert(1)", Route::Refuse, Route::Refuse},
        {"about:config", Route::Refuse, Route::Refuse},
        {"ftp://127.0.0.1/x", Route::Refuse, Route::Refuse},
        {"https://services.gst.gov.in/services/login", Route::BrowserPane, Route::BrowserPane},
        {"https://example.com/", Route::Desktop, Route::Desktop},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(AppDelegate::chatRoute(QUrl(QString::fromUtf8(c.url))), c.chat) << c.url;
        EXPECT_EQ(AppDelegate::newWindowRoute(QUrl(QString::fromUtf8(c.url))), c.newWindow) << c.url;
    }
}

TEST(AppDelegateHooks, ActivityLinesAndWhatComesForward)
{
    const struct {
        const char *tool;
        const char *line;
        bool browser;
        bool app;
    } cases[] = {
        {"erp_trial_balance", "ERP · trial balance", false, false},
        {"record_start", "record · start", true, false},
        {"record_stop_now", "record · stop_now", false, false},
        {"portal_sign_in", "browser · sign_in", true, true},
        {"portal_otp", "browser · otp", false, true},
        {"mail_compose", "browser · mail_compose", false, false},
        {"browser_open", "browser · open", true, false},
        {"browser_portal_x", "browser · x", true, false},
    };
    for (const auto &c : cases) {
        const QString name = QString::fromUtf8(c.tool);
        EXPECT_EQ(AppDelegate::activityLine(name), QString::fromUtf8(c.line)) << c.tool;
        EXPECT_EQ(AppDelegate::activityShowsBrowser(name), c.browser) << c.tool;
        EXPECT_EQ(AppDelegate::activityActivates(name), c.app) << c.tool;
    }
}

TEST(AppDelegateHooks, ConfirmText)
{
    const QString fixed = QString::fromUtf8("This one cannot be undone. Velto has taken the job to this point — approve "
                                            "to let it finish, or stop here and look at the screen yourself.");
    EXPECT_EQ(AppDelegate::confirmText(QString()), fixed);
    EXPECT_EQ(AppDelegate::confirmText(QStringLiteral("Pay ₹100")), QString::fromUtf8("Pay ₹100\n\n") + fixed);
}

class AppDelegateTest : public HomeTest {
protected:
    AppTestKit::ScopedEnv env;
    std::unique_ptr<AppDelegate> app;
    int quits = 0;

    void SetUp() override
    {
        HomeTest::SetUp();
        AppDelegate::terminate = [this] { ++quits; };
        AppDelegate::chatProfile = [] { return TestKit::webProfile(); };
        app = std::make_unique<AppDelegate>();
        app->buildWindow();
    }
    void TearDown() override
    {
        app.reset();
        AppDelegate::terminate = nullptr;
        AppDelegate::chatProfile = nullptr;
        HomeTest::TearDown();
    }

    // A signed-in seat, the stand-in engine in place, the cloud at `cloud`
    // and a clients folder chosen: the folder's path.
    QString readyToStart(const TestKit::FakeHttpServer &cloud)
    {
        home->refill({{"VELTO_API", cloud.baseUrl()}});
        QDir().mkpath(QFileInfo(ENGINE).absolutePath());
        EXPECT_TRUE(QFile::link(AppTestKit::standinEngine(), ENGINE));
        home->write(".velto/seat.env", "PAVI_SEAT_TOKEN=seat-token\n");
        const QString clients = home->file("Clients");
        QDir().mkpath(clients);
        app->setWork(clients);
        return clients;
    }
};

TEST_F(AppDelegateTest, WindowLayoutTabsAndSidebarToggle)
{
    EXPECT_EQ(app->window()->windowTitle(), QStringLiteral("Velto"));
    EXPECT_EQ(app->contentBox()->x(), 256);
    EXPECT_FALSE(app->showingBrowser());
    EXPECT_TRUE(app->browser()->isHidden());

    app->showBrowser();
    EXPECT_TRUE(app->showingBrowser());
    EXPECT_TRUE(app->chat()->isHidden());
    app->showChat();
    app->paintTabs(false);
    app->paintTabs(false);
    EXPECT_EQ(app->chatTab()->text(), QStringLiteral("     Chat"));
    EXPECT_EQ(app->segmentPill()->geometry(), app->chatTab()->geometry());

    app->toggleSidebar();
    EXPECT_EQ(app->contentBox()->x(), 0);
    EXPECT_TRUE(app->sidebar()->isHidden());
    EXPECT_TRUE(app->headerEdge()->isHidden());
    app->toggleSidebar();
    EXPECT_EQ(app->contentBox()->x(), 256);
    EXPECT_FALSE(app->headerEdge()->isHidden());
}

TEST_F(AppDelegateTest, WorkingMessagesDriveTheBusyMarksAndStatus)
{
    app->setWork(home->file("Clients"));
    app->chatMessage(QJsonObject{{"working", true}});
    EXPECT_TRUE(app->barOrb()->busy());
    EXPECT_TRUE(app->chatMark()->busy());
    EXPECT_EQ(app->statusLabel()->text(), QString::fromUtf8("thinking…"));
    app->chatMessage(QJsonObject{{"working", false}});
    EXPECT_FALSE(app->barOrb()->busy());
    EXPECT_EQ(app->statusLabel()->text(), QStringLiteral("Clients"));

    // While the browser is in front, "thinking…" still shows; idle leaves the title.
    app->showBrowser();
    app->statusLabel()->setText(QStringLiteral("Portal"));
    app->chatMessage(QJsonObject{{"working", true}});
    EXPECT_EQ(app->statusLabel()->text(), QString::fromUtf8("thinking…"));
    app->statusLabel()->setText(QStringLiteral("Portal"));
    app->chatMessage(QJsonObject{{"working", false}});
    EXPECT_EQ(app->statusLabel()->text(), QStringLiteral("Portal"));

    // Other bodies are ignored.
    app->chatMessage(QJsonValue(QStringLiteral("working")));
    app->chatMessage(QJsonObject{{"working", "yes"}});
    EXPECT_FALSE(app->barOrb()->busy());
}

TEST_F(AppDelegateTest, ToolActivityAndConfirmHooks)
{
    app->toolActivity(QStringLiteral("erp_trial_balance"));
    EXPECT_TRUE(app->barOrb()->busy());
    EXPECT_EQ(app->statusLabel()->text(), QString::fromUtf8("ERP · trial balance"));
    EXPECT_FALSE(app->showingBrowser());
    app->toolActivity(QStringLiteral("browser_open"));
    EXPECT_TRUE(app->showingBrowser());

    app->showChat();
    TestKit::DialogAnswers answers;
    answers.alert(1); // "Not now"
    EXPECT_FALSE(app->confirmStep(QStringLiteral("Pay"), QString()));
    EXPECT_TRUE(app->showingBrowser());
    answers.alert(0); // "Approve"
    EXPECT_TRUE(app->confirmStep(QStringLiteral("Pay"), QStringLiteral("₹100")));
}

// A burst of tool calls changes the status line at once for the first and
// then once more, for the latest; an update held back is dropped when the
// page has said meanwhile that it is idle.
TEST_F(AppDelegateTest, ABurstOfToolCallsRepaintsTheStatusLineOnceMore)
{
    app->setWork(home->file("Clients"));
    app->toolActivity(QStringLiteral("erp_list"));
    EXPECT_EQ(app->statusLabel()->text(), QString::fromUtf8("ERP · list"));
    EXPECT_TRUE(app->barOrb()->busy());
    app->toolActivity(QStringLiteral("erp_get"));
    app->toolActivity(QStringLiteral("erp_gst"));
    EXPECT_EQ(app->statusLabel()->text(), QString::fromUtf8("ERP · list")) << "held for the interval";
    ASSERT_TRUE(waitFor([&] { return app->statusLabel()->text() == QString::fromUtf8("ERP · gst"); }, 5000))
        << app->statusLabel()->text().toStdString();

    TestKit::spin(250); // a quiet interval
    app->toolActivity(QStringLiteral("erp_list"));
    app->toolActivity(QStringLiteral("erp_get"));
    app->chatMessage(QJsonObject{{"working", false}});
    TestKit::spin(400);
    EXPECT_EQ(app->statusLabel()->text(), QStringLiteral("Clients"));
    EXPECT_FALSE(app->barOrb()->busy());
}

// The engine brings up its instance for a folder slowly (it answers nothing
// for 2.5 s) and its page gives its health probe 1.2 s: loaded at once, the
// page would go to routes this engine does not serve. The app warms the
// folder first and loads the page once the probe is answered promptly, so
// the page reaches its message box.
TEST_F(AppDelegateTest, TheChatPageOpensReadyOnASlowEngine)
{
    AppTestKit::ScopedTimeScale realTime(1.0);
    TestKit::FakeHttpServer cloud;
    const QString clients = readyToStart(cloud);
    const QString log = home->file("engine.log");
    env.set("VELTO_STANDIN_LOG", log);
    env.set("VELTO_STANDIN_WARM_MS", "2500");
    env.set("VELTO_STANDIN_PAGE_PROBE_MS", "1200");
    home->write("sessions.json", QJsonDocument(QJsonArray{QJsonObject{
                                                   {"id", "ses_old"},
                                                   {"title", "March GST"},
                                                   {"directory", clients},
                                                   {"time", QJsonObject{{"created", 1}, {"updated", 2}}}}})
                                     .toJson());
    env.set("VELTO_STANDIN_SESSIONS", home->file("sessions.json"));
    QStringList paths;
    QObject::connect(app->chat(), &QWebEngineView::urlChanged, app->chat(), [&](const QUrl &u) { paths << u.path(); });

    app->startEngineNow();
    ASSERT_TRUE(app->engine().proc());
    const auto messageBox = [&] {
        std::optional<bool> shown;
        app->chat()->evaluate("(() => { const f = document.getElementById('form');"
                              " return !!f && !f.hidden && !!document.getElementById('text'); })()",
                              [&](const WebView::ScriptResult &r) { shown = r.value.toBool(); });
        return waitFor([&] { return shown.has_value(); }, 30000) && *shown;
    };
    ASSERT_TRUE(waitFor([&] { return app->chat()->url().path().endsWith("/session/ses_old") && messageBox(); }, 60000))
        << paths.join(' ').toStdString();
    for (const QString &path : std::as_const(paths))
        EXPECT_FALSE(path.startsWith("/server/")) << path.toStdString();
    // The page was asked for only after the folder's instance was up.
    const QList<QJsonObject> logged = AppTestKit::readLog(log);
    qsizetype warmed = -1, pageAsked = -1;
    for (qsizetype i = 0; i < logged.size(); ++i) {
        if (warmed < 0 && logged[i].value("event").toString() == "warming")
            warmed = i;
        if (pageAsked < 0 && logged[i].value("path").toString().endsWith("/session/ses_old"))
            pageAsked = i;
    }
    ASSERT_GE(warmed, 0);
    EXPECT_GT(pageAsked, warmed);

    // The same page of a folder the engine has not brought up yet, loaded at
    // once, ends on the routes it does not serve: what the wait prevents.
    const QString other = home->file("Other client");
    QDir().mkpath(other);
    app->chat()->load(EngineApi::sessionPage(app->engine().port(), other, "ses_old"));
    EXPECT_TRUE(waitFor([&] { return app->chat()->url().path().startsWith("/server/"); }, 30000))
        << app->chat()->url().toString().toStdString();
    app->applicationWillTerminate();
}

// An engine that fails at launch is told at once; a sync that ends later
// does not cover the failure with "Starting Velto…".
TEST_F(AppDelegateTest, AnEngineThatFailsStaysToldWhenTheSyncEnds)
{
    AppTestKit::ScopedTimeScale realTime(1.0);
    TestKit::FakeHttpServer cloud;
    TestKit::FakeReply slowSync = TestKit::FakeReply::json(QJsonObject{});
    slowSync.delayMs = 3000;
    cloud.on("GET", "/cli/harness", slowSync);
    readyToStart(cloud);
    env.set("VELTO_STANDIN_EXIT", "3");

    const QString failed = QStringLiteral("Velto did not start. Quit and open it again.");
    app->startEngine();
    ASSERT_TRUE(waitFor([&] { return app->splashLabel()->text() == failed; }, 30000))
        << app->splashLabel()->text().toStdString();
    ASSERT_TRUE(waitFor([&] { return !app->syncPending(); }, 60000));
    QCoreApplication::processEvents();
    EXPECT_EQ(app->splashLabel()->text(), failed);
    app->applicationWillTerminate();
}

TEST_F(AppDelegateTest, SplashMessageKeepsTheText)
{
    app->splashMessage(QStringLiteral("Velto's engine"));
    EXPECT_EQ(app->splashLabel()->text(), QStringLiteral("Velto's engine"));
}

TEST_F(AppDelegateTest, MissingEngineAlertsAndQuits)
{
    TestKit::DialogAnswers answers;
    answers.alert(0);
    app->boot();
    EXPECT_EQ(app->splashLabel()->text(), QStringLiteral("Velto engine is missing."));
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(app->mcp());
}

TEST_F(HomeTest, LaunchLooksForCloudFoldersInTheHomeOfThisRun)
{
    int quits = 0;
    AppDelegate::terminate = [&quits] { ++quits; };
    AppDelegate::chatProfile = [] { return TestKit::webProfile(); };
    {
        AppDelegate app;
        TestKit::DialogAnswers answers;
        answers.alert(0); // the engine is missing
        app.applicationDidFinishLaunching();
        EXPECT_EQ(CloudFiles::homePath(), HOME);
        EXPECT_TRUE(HOME.startsWith(home->path()));
        EXPECT_TRUE(TestKit::waitFor([&quits] { return quits == 1; }));
    }
    AppDelegate::terminate = nullptr;
    AppDelegate::chatProfile = nullptr;
    CloudFiles::homePath = &CloudFiles::defaultHomePath;
}

TEST_F(AppDelegateTest, NoClientsFolderChosenQuits)
{
    home->write(".velto/seat.env", "PAVI_SEAT_TOKEN=t\n");
    TestKit::DialogAnswers answers;
    answers.alert(0); // "Choose Folder…"
    answers.openFolder(std::nullopt);
    app->afterLogin();
    EXPECT_EQ(app->splashLabel()->text(), QString::fromUtf8("Waiting for your clients folder…"));
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(app->work());
}

// The start-up road from the engine launch on, in this process, against the
// locked stand-in engine: every request the app makes reaches it with the
// credentials, and the chat view gets through its challenge on its own.
TEST_F(AppDelegateTest, TheChatViewOpensTheLockedEngineWithoutAPrompt)
{
    // Real time: scaled down, the engine's 60 s to answer would be 0.6 s,
    // less than a loaded machine takes to start it.
    AppTestKit::ScopedTimeScale realTime(1.0);
    TestKit::FakeHttpServer cloud;
    readyToStart(cloud);
    const QString log = home->file("engine.log");
    env.set("VELTO_STANDIN_LOG", log);
    env.unset("VELTO_STANDIN_HANG");

    // Test dialogs fail loudly when shown unanswered: none may appear.
    app->startEngineNow();
    ASSERT_TRUE(app->engine().proc());
    const auto requests = [&] { return AppTestKit::events(log, "request"); };
    const auto made = [&](const QByteArray &method, const QString &pathPart) {
        for (const QJsonObject &r : requests())
            if (r.value("method").toString() == method && r.value("path").toString().contains(pathPart)
                && r.value("authorized").toBool())
                return true;
        return false;
    };
    // The chat view shows the new session's page, and the page's own script
    // reads its messages from the engine.
    ASSERT_TRUE(waitFor([&] { return made("GET", "/message"); }, 60000))
        << "the page's script got no answer: " << app->chat()->url().toString().toStdString() << "\n"
        << [&] {
               QStringList out;
               for (const QJsonObject &e : AppTestKit::readLog(log))
                   out << e.value("event").toString() + " " + e.value("method").toString() + " " + e.value("path").toString();
               return out.join('\n').toStdString();
           }();
    ASSERT_TRUE(waitFor([&] { return app->splash()->isHidden(); }, 30000));
    EXPECT_TRUE(app->chat()->url().path().contains("/session/ses_")) << app->chat()->url().toString().toStdString();
    std::optional<QString> header;
    app->chat()->evaluate("document.querySelector('header') ? document.querySelector('header').textContent : ''",
                          [&](const WebView::ScriptResult &r) { header = r.value.toString(); });
    ASSERT_TRUE(waitFor([&] { return header.has_value(); }, 30000));
    EXPECT_TRUE(header->startsWith("Stand-in engine")) << header->toStdString();

    // Every request the app itself makes to the engine carried the credentials:
    // the session list and the new session (only the bare readiness probe, and
    // the web view's first try before its challenge, go without).
    EXPECT_TRUE(made("GET", "/session"));
    EXPECT_TRUE(made("POST", "/session"));
    for (const QJsonObject &r : requests()) {
        if (r.value("path").toString() == "/session") {
            EXPECT_TRUE(r.value("authorized").toBool()) << "the app's own " << r.value("method").toString().toStdString();
        }
    }
    // The cloud never sees the engine's credentials.
    for (const auto &r : cloud.requests()) {
        EXPECT_FALSE(r.header("Authorization").startsWith("Basic")) << r.path.toStdString();
    }

    // A challenge from another origin in the same view is not answered with them.
    TestKit::FakeHttpServer other;
    other.setFallback([](const TestKit::RecordedRequest &) {
        TestKit::FakeReply r = TestKit::FakeReply::text("locked elsewhere", 401);
        r.headers = {{"WWW-Authenticate", "Basic realm=\"elsewhere\""}};
        return r;
    });
    QSignalSpy loaded(app->chat(), &QWebEngineView::loadFinished);
    app->chat()->load(QUrl(other.baseUrl() + "/session"));
    ASSERT_TRUE(loaded.wait(60000));
    ASSERT_FALSE(other.requests().isEmpty());
    for (const auto &r : other.requests()) {
        EXPECT_TRUE(r.header("Authorization").isEmpty());
    }

    app->applicationWillTerminate();
}
