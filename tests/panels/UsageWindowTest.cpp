// The usage window and the plan usage popover: the account request (the
// token read afresh each time, nothing sent without one), every row rendered
// from a fake reply, the failure line, the fallbacks of missing keys, a theme
// change, and the popover's geometry and link.
#include "PanelsTestKit.h"
#include "panels/LimitsPopover.h"
#include "panels/UsageWindow.h"
#include "ui/Busy.h"

#include <QJsonArray>
#include <QLayout>
#include <QPushButton>

using namespace PanelsTestKit;
using TestKit::FakeReply;
using TestKit::shown;

namespace {

QJsonObject account(const QJsonArray &limits = {})
{
    return QJsonObject{
        {QStringLiteral("success"), true},
        {QStringLiteral("plan"), QJsonObject{{QStringLiteral("name"), QStringLiteral("Pro")},
                                             {QStringLiteral("price_inr"), 1499},
                                             {QStringLiteral("rpm"), 60},
                                             {QStringLiteral("mails_per_day"), 200},
                                             {QStringLiteral("wa_per_day"), 50},
                                             {QStringLiteral("seats_included"), 3}}},
        {QStringLiteral("usage"), QJsonObject{{QStringLiteral("month"), QJsonObject{{QStringLiteral("requests"), 812}}}}},
        {QStringLiteral("profile"), QJsonObject{{QStringLiteral("name"), QStringLiteral("Asha Rao")},
                                                {QStringLiteral("firm"), QStringLiteral("Rao & Co")}}},
        {QStringLiteral("seat"), QJsonObject{{QStringLiteral("device"), QStringLiteral("office-pc")}}},
        {QStringLiteral("limits"), limits}};
}

QJsonObject limit(const QString &key, const QString &label, const QJsonValue &used, const QJsonValue &cap,
                  const QJsonValue &pct = 0)
{
    QJsonObject l{{QStringLiteral("key"), key}, {QStringLiteral("label"), label}, {QStringLiteral("used"), used},
                  {QStringLiteral("cap"), cap}, {QStringLiteral("pct"), pct}};
    if (key == QStringLiteral("session"))
        l.insert(QStringLiteral("resets_in"), QStringLiteral("2h 10m"));
    else
        l.insert(QStringLiteral("resets_when"), QStringLiteral("Mon 09:00"));
    return l;
}

class UsageWindowTest : public PanelTest {
protected:
    std::unique_ptr<UsageWindow> window;
    void TearDown() override
    {
        window.reset();
        PanelTest::TearDown();
    }
    // Opens the window on that reply and waits until it rendered.
    UsageWindow &open(const QJsonObject &reply)
    {
        seat(QStringLiteral("tok-1"));
        cloud->on("GET", QStringLiteral("/cli/whoami"), FakeReply::json(reply));
        window = std::make_unique<UsageWindow>();
        window->show();
        EXPECT_TRUE(TestKit::waitFor([&] { return window->last().has_value(); }));
        return *window;
    }
    QStringList rows() const { return texts(window->body()); }
};

TEST_F(UsageWindowTest, AsksWithTheTokenOfTheMomentAndNothingWithout)
{
    cloud->on("GET", QStringLiteral("/cli/whoami"), FakeReply::json(account()));
    window = std::make_unique<UsageWindow>();
    // No seat: nothing is sent, the orb stops and the window says why.
    EXPECT_TRUE(TestKit::waitFor([&] { return !window->orb()->busy(); }, 20000));
    TestKit::spin(100);
    EXPECT_TRUE(cloud->requests().isEmpty());
    EXPECT_FALSE(window->orb()->busy());
    EXPECT_EQ(rows(), QStringList{QStringLiteral("Not signed in to Hallix.")});

    for (const QString &token : {QStringLiteral("first"), QStringLiteral("second")}) {
        seat(token);
        window->reload();
        EXPECT_TRUE(window->orb()->busy());
        ASSERT_TRUE(TestKit::waitFor([&] { return !window->orb()->busy(); }));
        const TestKit::RecordedRequest req = cloud->requests().last();
        EXPECT_EQ(req.method, QByteArray("GET"));
        EXPECT_EQ(req.header("authorization"), "Bearer " + token.toUtf8());
    }
    EXPECT_EQ(cloud->requests().size(), 2);
}

TEST_F(UsageWindowTest, RendersEveryRowOfAGoodReply)
{
    UsageWindow &w = open(account({limit(QStringLiteral("session"), QStringLiteral("5-hour window"), 40, 100),
                                   limit(QStringLiteral("weekly"), QStringLiteral("Weekly"), 7, 0)}));
    const QStringList r = rows();
    EXPECT_EQ(r.value(0), QStringLiteral("Pro  \u00b7  \u20b91,499/seat/month"));
    EXPECT_EQ(r.value(1), QStringLiteral("Asha Rao \u00b7 Rao & Co \u00b7 device office-pc"));
    EXPECT_TRUE(r.contains(QStringLiteral("40 / 100   \u00b7   resets in 2h 10m")));
    EXPECT_TRUE(r.contains(QStringLiteral("7 / \u2014   \u00b7   resets Mon 09:00")));
    EXPECT_TRUE(r.contains(QStringLiteral("812 requests this month  \u00b7  up to 60 per minute  \u00b7  200 mails and 50 "
                                          "WhatsApp messages a day  \u00b7  3 seat(s)")));
    QStringList buttons;
    for (QPushButton *b : w.body()->findChildren<QPushButton *>())
        buttons << shown(b->text());
    EXPECT_EQ(buttons, (QStringList{QStringLiteral("Plans & upgrade"), QStringLiteral("Refresh")}));

    bool plans = false;
    w.onPlans = [&] { plans = true; };
    w.body()->findChildren<QPushButton *>().first()->click();
    EXPECT_TRUE(plans);
    w.openPlans();
    EXPECT_EQ(opened, QList<QUrl>{QUrl(API + QStringLiteral("/ca/cli"))});
}

TEST_F(UsageWindowTest, LimitRowsTextAndBar)
{
    struct Case {
        qint64 used, cap;
        QString reset, text;
        double fraction;
    };
    const std::vector<Case> cases{
        {3, 0, QStringLiteral("x"), QStringLiteral("3 / \u2014   \u00b7   resets x"), 0},
        {150, 100, QStringLiteral(""), QStringLiteral("150 / 100   \u00b7   resets "), 1},
        {25, 100, QStringLiteral("in "), QStringLiteral("25 / 100   \u00b7   resets in "), 0.25},
        {1234567, 2000000, QStringLiteral("soon"), QStringLiteral("1,234,567 / 2,000,000   \u00b7   resets soon"),
         1234567.0 / 2000000},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(UsageWindow::limitText(c.used, c.cap, c.reset), c.text);
        EXPECT_DOUBLE_EQ(UsageWindow::limitFraction(c.used, c.cap), c.fraction);
    }
}

TEST_F(UsageWindowTest, MissingKeysTakeTheirDefaults)
{
    QJsonObject reply = account();
    reply.insert(QStringLiteral("plan"), QJsonObject{{QStringLiteral("price_inr"), -5}, {QStringLiteral("rpm"), 2.5}});
    reply.insert(QStringLiteral("usage"), QJsonObject{});
    reply.remove(QStringLiteral("limits"));
    open(reply);
    const QStringList r = rows();
    EXPECT_EQ(r.value(0), QStringLiteral("Trial  \u00b7  free"));
    EXPECT_EQ(r.value(2), QStringLiteral("Nothing used on this seat yet."));
    EXPECT_EQ(r.value(3), QStringLiteral("0 requests this month  \u00b7  up to 40 per minute  \u00b7  0 mails and 0 "
                                         "WhatsApp messages a day  \u00b7  1 seat(s)"));
}

TEST_F(UsageWindowTest, AFailedReplyShowsTheFailureLineInEitherTheme)
{
    const QString failure = QStringLiteral("Could not reach Hallix. Check your connection and try again.");
    QJsonObject notSuccess = account();
    notSuccess.insert(QStringLiteral("success"), false);
    QJsonObject noSeat = account();
    noSeat.remove(QStringLiteral("seat"));
    for (const QJsonObject &reply : {notSuccess, noSeat, QJsonObject{}}) {
        UsageWindow &w = open(reply);
        EXPECT_EQ(rows(), QStringList{failure});
        EXPECT_TRUE(w.body()->findChildren<QPushButton *>().isEmpty());
    }
    // A reply that is not JSON at all.
    cloud->on("GET", QStringLiteral("/cli/whoami"), FakeReply::text("<html>", 502));
    window->reload();
    ASSERT_TRUE(TestKit::waitFor([&] { return !window->orb()->busy(); }));
    EXPECT_EQ(rows(), QStringList{failure});

    dark(true);
    window->repaint();
    EXPECT_EQ(rows(), QStringList{failure});
    QLabel *line = window->body()->findChildren<QLabel *>().first();
    EXPECT_EQ(line->palette().color(QPalette::WindowText), Theme::stampInk());
}

TEST_F(UsageWindowTest, LooksRightInBothThemes)
{
    for (bool isDark : {false, true}) {
        dark(isDark);
        open(account({limit(QStringLiteral("session"), QStringLiteral("5-hour window"), 40, 100),
                      limit(QStringLiteral("weekly"), QStringLiteral("Weekly tokens"), 920, 1000),
                      limit(QStringLiteral("smart"), QStringLiteral("Pavi Smart this week"), 75, 100)}));
        const QImage image = shot(window.get(), isDark ? QStringLiteral("usage-dark") : QStringLiteral("usage-light"));
        EXPECT_TRUE(paintedIn(image, isDark));
        window.reset();
    }
}

// --- the popover ---------------------------------------------------------------

class LimitsPopoverTest : public PanelTest {
protected:
    QWidget anchor;
    LimitsPopover popover;
    void SetUp() override
    {
        PanelTest::SetUp();
        anchor.setGeometry(100, 600, 200, 52);
        anchor.show();
    }
    static int yOf(QWidget *w, int h) { return h - w->geometry().bottom() - 1; }
};

TEST_F(LimitsPopoverTest, HeightAndRowsFollowTheLimits)
{
    popover.show(&anchor, std::nullopt, nullptr);
    QWidget *c = popover.content();
    EXPECT_EQ(c->size(), QSize(340, 144));
    EXPECT_FALSE(popover.chip()->parentWidget()->isVisible());
    EXPECT_TRUE(hasText(c, QStringLiteral("No usage recorded on this seat yet.")));
    for (QLabel *l : c->findChildren<QLabel *>()) {
        if (l->text() == QStringLiteral("No usage recorded on this seat yet.")) {
            EXPECT_EQ(yOf(l, 144), 76);
        }
    }
    EXPECT_TRUE(popover.popover()->isVisible());

    const QJsonObject three = account({limit(QStringLiteral("session"), QStringLiteral("Session"), 1, 1, 130),
                                       limit(QStringLiteral("weekly"), QStringLiteral("Weekly"), 1, 1, QStringLiteral("50")),
                                       limit(QStringLiteral("smart"), QStringLiteral("Smart"), 1, 1, 12)});
    popover.show(&anchor, three, nullptr);
    c = popover.content();
    EXPECT_EQ(c->height(), 236);
    const QList<LimitRow *> rows = c->findChildren<LimitRow *>();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ((QList<int>{yOf(rows[0], 236), yOf(rows[1], 236), yOf(rows[2], 236)}), (QList<int>{154, 108, 62}));
    EXPECT_EQ(rows[0]->rightView->text(), QStringLiteral("Resets in 2h 10m   130%"));
    EXPECT_EQ(rows[1]->rightView->text(), QStringLiteral("Resets Mon 09:00   0%"));
    EXPECT_EQ(popover.chip()->text(), QStringLiteral("PRO"));
    EXPECT_TRUE(popover.chip()->parentWidget()->isVisibleTo(c));
}

TEST_F(LimitsPopoverTest, ResetTextsAndALongPlanName)
{
    EXPECT_EQ(LimitsPopover::resetText(QJsonObject{{QStringLiteral("key"), QStringLiteral("session")},
                                                   {QStringLiteral("pct"), 7}}),
              QStringLiteral("Resets in    7%"));
    EXPECT_EQ(LimitsPopover::resetText(QJsonObject{{QStringLiteral("pct"), 7.5}}), QStringLiteral("Resets    0%"));

    QJsonObject a = account();
    a.insert(QStringLiteral("plan"),
             QJsonObject{{QStringLiteral("name"), QStringLiteral("Enterprise unlimited partners edition")}});
    popover.show(&anchor, a, nullptr);
    EXPECT_LE(popover.chip()->parentWidget()->width(), 150);
    EXPECT_TRUE(popover.chip()->text().endsWith(QChar(0x2026)));
}

TEST_F(LimitsPopoverTest, StaysInsideTheWindowAndOnTheScreen)
{
    const QRect screen(0, 0, 1920, 1080);
    const QSize size(340, 200);
    struct Case {
        const char *name;
        QRect anchor, window;
        QPoint at;
    };
    const Case cases[] = {
        // The sidebar's chip near the window's left edge: not hanging out to the left.
        {"left edge", QRect(110, 600, 120, 24), QRect(100, 100, 900, 600), QPoint(100, 394)},
        {"no room above", QRect(110, 110, 120, 24), QRect(100, 100, 900, 600), QPoint(100, 140)},
        {"right edge", QRect(960, 600, 30, 24), QRect(100, 100, 900, 600), QPoint(660, 394)},
        {"centred", QRect(480, 600, 40, 24), QRect(100, 100, 900, 600), QPoint(329, 394)},
        // Room neither above nor below: kept inside the window's bottom.
        {"short window", QRect(10, 150, 100, 24), QRect(0, 0, 800, 300), QPoint(0, 100)},
        // The window partly off the screen: the screen's edge holds too.
        {"off screen", QRect(20, 700, 100, 24), QRect(-300, 100, 900, 680), QPoint(0, 494)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(LimitsPopover::placement(c.anchor, size, c.window, screen), c.at) << c.name;
}

TEST_F(LimitsPopoverTest, TheLinkClosesThePopoverBeforeTheDetailsOpen)
{
    bool wasOpen = true;
    int calls = 0;
    popover.show(&anchor, account(), [&] {
        wasOpen = popover.popover()->isVisible();
        ++calls;
    });
    ASSERT_TRUE(popover.popover()->isVisible());
    popover.link()->click();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(wasOpen);
    // Only the popover shown last answers the shared link target.
    int second = 0;
    popover.show(&anchor, account(), [&] { ++second; });
    DetailsProxy::shared()->fire();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(second, 1);
}

TEST_F(LimitsPopoverTest, LooksRightInBothThemes)
{
    for (bool isDark : {false, true}) {
        dark(isDark);
        popover.show(&anchor,
                     account({limit(QStringLiteral("session"), QStringLiteral("5-hour window"), 1, 1, 40),
                              limit(QStringLiteral("weekly"), QStringLiteral("Weekly"), 1, 1, 92)}),
                     nullptr);
        const QImage image = shot(popover.content(), isDark ? QStringLiteral("popover-dark") : QStringLiteral("popover-light"));
        EXPECT_TRUE(paintedIn(image, isDark));
    }
}

} // namespace
