// Changing the clients folder while a routine runs: the claimed run is
// reported failed before the start-up for the new folder begins.
#include "AppTestKit.h"

#include "app/AppDelegate.h"
#include "app/RoutineRunner.h"
#include "core/Globals.h"
#include "platform/Dialogs.h"
#include "platform/WebView.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>

using namespace AppTestKit;
using TestKit::waitFor;

namespace {

class ChangeWorkspaceTest : public TestKit::HomeTest {
protected:
    std::unique_ptr<AppDelegate> app;
    int quits = 0;

    void SetUp() override
    {
        HomeTest::SetUp();
        AppDelegate::terminate = [this] { ++quits; };
        AppDelegate::chatProfile = [] { return TestKit::webProfile(); };
    }
    void TearDown() override
    {
        if (app)
            app->applicationWillTerminate();
        app.reset();
        AppDelegate::terminate = nullptr;
        AppDelegate::chatProfile = nullptr;
        HomeTest::TearDown();
    }
    // The cloud's requests as "METHOD /path".
    static QStringList calls(const StandinCloud &cloud)
    {
        QStringList out;
        for (const QJsonObject &r : events(cloud.logPath(), "request"))
            out << r.value("method").toString() + " " + r.value("path").toString();
        return out;
    }
};

TEST_F(ChangeWorkspaceTest, ARoutineUnderWayIsReportedFailedBeforeTheNewFolderStarts)
{
    ScopedTimeScale scale(0.05); // the first poll after 3 s
    ScopedEnv env;
    env.set("VELTO_STANDIN_REPLY_MS", "3600000"); // the routine's answer never completes
    env.set("VELTO_STANDIN_LOG", home->file("engine.log"));

    const QString velto = home->file(".velto");
    QDir().mkpath(velto + "/bin");
    QDir().mkpath(velto + "/hallix");
    ASSERT_TRUE(QFile::link(standinEngine(), velto + "/bin/velto-engine"));
    home->write(".velto/hallix/opencode.json", "{}\n");
    home->write(".velto/seat.env", "PAVI_SEAT_TOKEN=seat-tok\n");
    const QString first = home->file("Clients");
    const QString second = home->file("Other Clients");
    QDir().mkpath(first);
    QDir().mkpath(second);
    home->write(".velto/velto.env", "VELTO_WORK=" + first.toUtf8() + "\n");

    const QJsonObject claim{{"claimed", true},
                            {"run_id", 5150},
                            {"routine", QJsonObject{{"name", "GST check"}, {"prompt", "Check 2B."}, {"agent", "velto"}}}};
    StandinCloud cloud(*home,
                       {{"GET /cli/harness", QJsonObject{{"body", QJsonObject{{"success", true}, {"items", QJsonArray{}}}}}},
                        {"GET /cli/routines_due",
                         QJsonArray{QJsonObject{{"body", QJsonObject{{"success", true},
                                                                     {"due", QJsonArray{QJsonObject{{"id", 8}}}}}}},
                                    QJsonObject{{"body", QJsonObject{{"success", true}, {"due", QJsonArray{}}}}}}},
                        {"POST /cli/routines_claim", QJsonObject{{"body", claim}}},
                        {"POST /cli/routines_finish", QJsonObject{{"body", QJsonObject{{"success", true}}}}}});
    ASSERT_TRUE(cloud.running());
    home->refill({{"VELTO_API", cloud.baseUrl()}});

    app = std::make_unique<AppDelegate>();
    app->buildWindow();
    app->afterLogin();
    ASSERT_TRUE(waitFor([&] { return app->routines() && app->routines()->isBusy(); }, 30000))
        << calls(cloud).join("; ").toStdString();
    ASSERT_TRUE(waitForEvents(home->file("engine.log"), "request", 1));
    ASSERT_TRUE(waitFor([&] {
        for (const QJsonObject &r : events(home->file("engine.log"), "request"))
            if (r.value("path").toString().endsWith("/prompt_async"))
                return true;
        return false;
    }, 15000)) << "the routine was started in the engine";
    ASSERT_FALSE(calls(cloud).contains("POST /cli/routines_finish"));
    const int harnessBefore = int(calls(cloud).count("GET /cli/harness"));

    TestKit::DialogAnswers answers;
    answers.alert(0); // "Choose Folder…"
    answers.openFolder(second);
    app->changeWorkspace();
    EXPECT_EQ(app->work(), second);
    EXPECT_FALSE(app->routines()) << "the old runner is gone at once";
    EXPECT_FALSE(app->splash()->isHidden());
    EXPECT_EQ(app->splashLabel()->text(), QString::fromUtf8("Switching folder…"));

    ASSERT_TRUE(waitFor([&] { return calls(cloud).count("GET /cli/harness") > harnessBefore; }, 20000))
        << "the start-up ran again";
    const QStringList seen = calls(cloud);
    const qsizetype finish = seen.indexOf("POST /cli/routines_finish");
    ASSERT_GE(finish, 0) << seen.join("; ").toStdString();
    EXPECT_LT(finish, seen.lastIndexOf("GET /cli/harness")) << "reported before the new start";
    EXPECT_EQ(seen.count("POST /cli/routines_finish"), 1);
    for (const QJsonObject &r : events(cloud.logPath(), "request")) {
        if (r.value("path") != "/cli/routines_finish")
            continue;
        EXPECT_EQ(QJsonDocument::fromJson(r.value("body").toString().toUtf8()).object(),
                  (QJsonObject{{"run_id", 5150},
                               {"status", "failed"},
                               {"summary", ""},
                               {"error", RoutineRunner::folderChangedError}}));
    }
    EXPECT_EQ(quits, 0);
}

TEST_F(ChangeWorkspaceTest, CancellingChangesNothing)
{
    const QString first = home->file("Clients");
    QDir().mkpath(first);
    app = std::make_unique<AppDelegate>();
    app->buildWindow();
    app->setWork(first);
    app->splash()->hide();
    TestKit::DialogAnswers answers;
    answers.alert(0);
    answers.openFolder(std::nullopt);
    app->changeWorkspace();
    EXPECT_EQ(app->work(), first);
    EXPECT_TRUE(app->splash()->isHidden());
    EXPECT_EQ(quits, 0);
}

} // namespace
