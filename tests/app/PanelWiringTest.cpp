// The delegate's panels: each window made once and shown again, the plan chip
// opening the usage popover whose link opens the usage window, and the update
// check after the engine answers.
#include "app/AppDelegate.h"
#include "app/Sidebar.h"
#include "core/Globals.h"
#include "panels/ActivityLogWindow.h"
#include "panels/IntegrationsWindow.h"
#include "panels/LimitsPopover.h"
#include "panels/PlansWindow.h"
#include "panels/Updater.h"
#include "panels/UsageWindow.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"

#include <QJsonArray>
#include <QLabel>
#include <QPushButton>

using TestKit::FakeReply;

namespace {

class PanelWiringTest : public TestKit::HomeTest {
protected:
    std::unique_ptr<TestKit::FakeHttpServer> cloud;
    std::unique_ptr<AppDelegate> app;

    void SetUp() override
    {
        HomeTest::SetUp();
        cloud = std::make_unique<TestKit::FakeHttpServer>();
        home->refill({{QStringLiteral("VELTO_API"), cloud->baseUrl()}});
        home->write(QStringLiteral(".velto/seat.env"), "PAVI_SEAT_TOKEN=tok\n");
        AppDelegate::chatProfile = [] { return TestKit::webProfile(); };
        app = std::make_unique<AppDelegate>();
        app->buildWindow();
    }
    void TearDown() override
    {
        app.reset();
        cloud.reset();
        HomeTest::TearDown();
    }
};

TEST_F(PanelWiringTest, PlanChipOpensThePopoverAndItsLinkTheUsageWindow)
{
    const QJsonObject account{{QStringLiteral("success"), true},
                              {QStringLiteral("plan"), QJsonObject{{QStringLiteral("name"), QStringLiteral("Pro")}}},
                              {QStringLiteral("limits"), QJsonArray{QJsonObject{{QStringLiteral("label"), QStringLiteral("Weekly")},
                                                                                {QStringLiteral("pct"), 30}}}}};
    cloud->on("GET", QStringLiteral("/cli/whoami"), FakeReply::json(account));
    app->sidebar()->setAccount(account);
    app->sidebar()->planButton()->click();
    LimitsPopover *popover = app->limitsPopover();
    ASSERT_TRUE(popover->popover()->isVisible());
    EXPECT_EQ(popover->chip()->text(), QStringLiteral("PRO"));
    EXPECT_EQ(popover->content()->height(), 144);

    EXPECT_FALSE(app->usagePanel());
    popover->link()->click();
    EXPECT_FALSE(popover->popover()->isVisible());
    UsageWindow *usage = app->usagePanel();
    ASSERT_TRUE(usage);
    EXPECT_TRUE(usage->isVisible());
    ASSERT_TRUE(cloud->waitForRequests(1));

    // Shown again: the same window, asked afresh; its plans button opens the plans window.
    app->showUsage();
    EXPECT_EQ(app->usagePanel(), usage);
    ASSERT_TRUE(cloud->waitForRequests(2));
    EXPECT_EQ(cloud->requestsTo(QStringLiteral("/cli/whoami")).size(), 2);
    usage->onPlans();
    ASSERT_TRUE(app->plansPanel());
    EXPECT_TRUE(app->plansPanel()->isVisible());
}

TEST_F(PanelWiringTest, EachPanelIsMadeOnceAndKept)
{
    app->showIntegrations();
    app->showActivity();
    IntegrationsWindow *integrations = app->integrationsPanel();
    ActivityLogWindow *activity = app->activityPanel();
    ASSERT_TRUE(integrations && activity);
    app->showIntegrations();
    app->showActivity();
    EXPECT_EQ(app->integrationsPanel(), integrations);
    EXPECT_EQ(app->activityPanel(), activity);
    EXPECT_TRUE(integrations->isVisible());
    EXPECT_TRUE(activity->isVisible());
}

TEST_F(PanelWiringTest, TheUpdateCheckFollowsTheEngineStart)
{
    Updater::offered().clear();
    cloud->on("GET", QStringLiteral("/cli/version"),
              FakeReply::json(QJsonObject{{QStringLiteral("success"), true}, {QStringLiteral("version"), QStringLiteral("0.0.1")}}));
    app->scheduleUpdateCheck();
    EXPECT_TRUE(cloud->requestsTo(QStringLiteral("/cli/version")).isEmpty());
    ASSERT_TRUE(cloud->waitForRequests(1));
    const TestKit::RecordedRequest req = cloud->requests().first();
    EXPECT_EQ(req.path, QStringLiteral("/cli/version"));
    EXPECT_TRUE(req.header("authorization").isEmpty());
}

} // namespace
