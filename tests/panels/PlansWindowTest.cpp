// The plans window: the plans request, the cards each plan gets (current,
// pending, free, buyable or not), the allowance lines, the checkout and
// upgrade requests with their bodies, and the status each reply leaves.
#include "PanelsTestKit.h"
#include "panels/PlansWindow.h"
#include "ui/PanelKit.h"

#include <QJsonArray>
#include <QPushButton>

using namespace PanelsTestKit;
using TestKit::FakeReply;

namespace {

QJsonObject plan(const QString &code, int price, const QJsonValue &buyable = QJsonValue())
{
    QJsonObject p{{QStringLiteral("code"), code},
                  {QStringLiteral("name"), code.toUpper()},
                  {QStringLiteral("price_inr"), price},
                  {QStringLiteral("session_tokens"), 1999},
                  {QStringLiteral("weekly_tokens"), 2500000},
                  {QStringLiteral("weekly_smart_tokens"), 999999},
                  {QStringLiteral("seats_included"), 2},
                  {QStringLiteral("mails_per_day"), 100},
                  {QStringLiteral("wa_per_day"), 20}};
    if (!buyable.isUndefined())
        p.insert(QStringLiteral("is_buyable"), buyable);
    return p;
}

QJsonObject plansReply(const QJsonArray &plans, const QString &current, const std::optional<QJsonObject> &pending = {})
{
    QJsonObject r{{QStringLiteral("success"), true}, {QStringLiteral("plans"), plans}, {QStringLiteral("current"), current}};
    if (pending)
        r.insert(QStringLiteral("pending"), *pending);
    return r;
}

class PlansWindowTest : public PanelTest {
protected:
    std::unique_ptr<PlansWindow> window;
    decltype(PlansWindow::Hooks::askBuy) savedBuy;
    decltype(PlansWindow::Hooks::askRequest) savedRequest;
    QStringList asked;

    void SetUp() override
    {
        PanelTest::SetUp();
        savedBuy = PlansWindow::Hooks::askBuy;
        savedRequest = PlansWindow::Hooks::askRequest;
        PlansWindow::Hooks::askBuy = [this](const QString &code) -> std::optional<PlansWindow::BuyAnswer> {
            ADD_FAILURE() << "unexpected buy question for " << code.toStdString();
            return std::nullopt;
        };
        PlansWindow::Hooks::askRequest = [this](const QString &code) -> std::optional<QString> {
            ADD_FAILURE() << "unexpected request question for " << code.toStdString();
            return std::nullopt;
        };
    }
    void TearDown() override
    {
        window.reset();
        PlansWindow::Hooks::askBuy = savedBuy;
        PlansWindow::Hooks::askRequest = savedRequest;
        PanelTest::TearDown();
    }
    PlansWindow &open(const QJsonObject &reply)
    {
        seat(QStringLiteral("tok"));
        cloud->on("GET", QStringLiteral("/cli/plans"), FakeReply::json(reply));
        window = std::make_unique<PlansWindow>();
        window->show();
        EXPECT_TRUE(cloud->waitForRequests(1));
        EXPECT_TRUE(TestKit::waitFor([&] { return window->plans().has_value() || !status().isEmpty(); }));
        return *window;
    }
    QString status() const { return window->status()->stringValue(); }
    QList<QWidget *> cards() const
    {
        QList<QWidget *> out;
        for (QObject *o : window->body()->children())
            if (auto *w = qobject_cast<QWidget *>(o))
                out << w;
        return out;
    }
    static QStringList buttons(QWidget *card)
    {
        QStringList out;
        for (QPushButton *b : card->findChildren<QPushButton *>())
            out << b->text();
        return out;
    }
    static QPushButton *button(QWidget *card, const QString &title)
    {
        for (QPushButton *b : card->findChildren<QPushButton *>())
            if (b->text() == title)
                return b;
        return nullptr;
    }
};

TEST_F(PlansWindowTest, CardsFollowThePlanAndItsState)
{
    open(plansReply({plan(QStringLiteral("trial"), 0, true), plan(QStringLiteral("pro"), 1499, 1),
                                      plan(QStringLiteral("team"), 4999, true), plan(QStringLiteral("firm"), 9999, 0),
                                      plan(QStringLiteral("max"), 19999, false), plan(QStringLiteral("big"), 29999)},
                                     QStringLiteral("pro")));
    EXPECT_EQ(cloud->requests().first().header("authorization"), QByteArray("Bearer tok"));
    const QList<QWidget *> c = cards();
    ASSERT_EQ(c.size(), 6);
    EXPECT_TRUE(hasText(c[0], QStringLiteral("Free")));
    EXPECT_TRUE(hasText(c[0], QStringLiteral("14 days")));
    EXPECT_EQ(buttons(c[0]), QStringList{QStringLiteral("Switch")});
    EXPECT_TRUE(hasText(c[1], QStringLiteral("CURRENT PLAN")));
    EXPECT_TRUE(buttons(c[1]).isEmpty());
    EXPECT_TRUE(hasText(c[1], QStringLiteral("\u20b91,499")));
    EXPECT_TRUE(hasText(c[1], QStringLiteral("per seat / month")));
    EXPECT_EQ(buttons(c[2]), (QStringList{QStringLiteral("Buy now"), QStringLiteral("Ask Hallix")}));
    for (int i : {3, 4, 5})
        EXPECT_EQ(buttons(c[i]), QStringList{QStringLiteral("Request upgrade")});
    EXPECT_TRUE(status().isEmpty());
    EXPECT_EQ(PlansWindow::allowances(plan(QStringLiteral("x"), 1)),
              QStringLiteral("2 seat(s)\n1 k tokens per 5 hours\n2 M a week\n0 M of that on Pavi Smart\n100 mails a "
                             "day\n20 WhatsApp a day"));
    EXPECT_EQ(PlansWindow::allowances(QJsonObject{}).section(u'\n', 0, 0), QStringLiteral("1 seat(s)"));
}

TEST_F(PlansWindowTest, APendingRequestHidesEveryButton)
{
    QJsonObject noName = plan(QStringLiteral("solo"), 999, 1);
    noName.remove(QStringLiteral("name"));
    open(plansReply({plan(QStringLiteral("pro"), 1499, 1), noName, plan(QStringLiteral("trial"), 0)},
                    QStringLiteral("pro"), QJsonObject{{QStringLiteral("to_plan"), QStringLiteral("team")}}));
    const QList<QWidget *> c = cards();
    ASSERT_EQ(c.size(), 3);
    EXPECT_TRUE(hasText(c[0], QStringLiteral("CURRENT PLAN")));
    EXPECT_TRUE(hasText(c[1], QStringLiteral("REQUEST PENDING")));
    EXPECT_TRUE(hasText(c[1], QStringLiteral("solo")));
    EXPECT_TRUE(hasText(c[2], QStringLiteral("REQUEST PENDING")));
    for (QWidget *card : c)
        EXPECT_TRUE(buttons(card).isEmpty());
    EXPECT_EQ(status(), QStringLiteral("Requested: team \u00d7 1 seat(s). The Hallix team will confirm."));
}

TEST_F(PlansWindowTest, AFailedLoadKeepsTheLastGoodPlansForARepaint)
{
    PlansWindow &w = open(plansReply({plan(QStringLiteral("pro"), 1499, 1)}, QString()));
    ASSERT_EQ(cards().size(), 1);
    cloud->on("GET", QStringLiteral("/cli/plans"), FakeReply::json(QJsonObject{{QStringLiteral("success"), true},
                                                                                {QStringLiteral("plans"), QJsonArray{1}}}));
    w.reload();
    ASSERT_TRUE(TestKit::waitFor([&] { return !status().isEmpty(); }));
    EXPECT_EQ(status(), QStringLiteral("Could not reach Hallix. Check your connection."));
    EXPECT_TRUE(cards().isEmpty());
    dark(true);
    w.repaint();
    EXPECT_EQ(cards().size(), 1);
    EXPECT_EQ(status(), QStringLiteral("Could not reach Hallix. Check your connection."));
    EXPECT_EQ(w.status()->palette().color(QPalette::WindowText), Theme::stampInk());
}

TEST_F(PlansWindowTest, CheckoutSendsPlanSeatsAndMonthsThenOpensThePage)
{
    PlansWindow &w = open(plansReply({plan(QStringLiteral("team"), 4999, 1)}, QString()));
    struct Case {
        QString seats;
        int months;
        double sentSeats;
        int sentMonths;
    };
    const std::vector<Case> cases{{QStringLiteral("3"), 3, 3, 12},  {QStringLiteral("0"), 0, 1, 1},
                                  {QStringLiteral("-4"), 1, 1, 3},  {QStringLiteral("two"), 2, 1, 6},
                                  {QString(), 9, 1, 12},            {QStringLiteral("+5"), -1, 5, 1}};
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.seats.toStdString());
        PlansWindow::Hooks::askBuy = [&](const QString &code) -> std::optional<PlansWindow::BuyAnswer> {
            EXPECT_EQ(code, QStringLiteral("team"));
            return PlansWindow::BuyAnswer{c.seats, c.months};
        };
        seat(QStringLiteral("tok-") + QString::number(++n));
        cloud->on("POST", QStringLiteral("/cli/checkout"),
                  FakeReply::json(QJsonObject{{QStringLiteral("url"), QStringLiteral("https://pay.example/s/1")},
                                              {QStringLiteral("quote"), QJsonObject{{QStringLiteral("total_inr"), 17697}}}}));
        cloud->clearRequests();
        QPushButton *buy = button(cards().first(), QStringLiteral("Buy now"));
        buy->click();
        EXPECT_FALSE(buy->isEnabled());
        EXPECT_EQ(status(), QStringLiteral("Opening secure checkout\u2026"));
        ASSERT_TRUE(TestKit::waitFor([&] { return buy->isEnabled(); }));
        const TestKit::RecordedRequest req = cloud->requestsTo(QStringLiteral("/cli/checkout")).value(0);
        EXPECT_EQ(req.header("authorization"), "Bearer tok-" + QByteArray::number(n));
        EXPECT_EQ(req.header("content-type"), QByteArray("application/json"));
        EXPECT_EQ(req.json(), (QJsonObject{{QStringLiteral("plan"), QStringLiteral("team")},
                                           {QStringLiteral("seats"), c.sentSeats},
                                           {QStringLiteral("months"), c.sentMonths}}));
    }
    EXPECT_EQ(opened.size(), int(cases.size()));
    EXPECT_EQ(opened.last(), QUrl(QStringLiteral("https://pay.example/s/1")));
    EXPECT_EQ(status(), QStringLiteral("Checkout opened in your browser \u2014 \u20b917,697 including GST. Finish it "
                                       "there, then come back."));

    // Without a quote: \u20b90. With an error, or an address that is no web page: the message.
    const std::vector<std::pair<QJsonObject, QString>> replies{
        {QJsonObject{{QStringLiteral("url"), QStringLiteral("https://pay.example/s/2")}},
         QStringLiteral("Checkout opened in your browser \u2014 \u20b90 including GST. Finish it there, then come back.")},
        {QJsonObject{{QStringLiteral("error"), QJsonObject{{QStringLiteral("message"), QStringLiteral("Plan closed.")}}}},
         QStringLiteral("Plan closed.")},
        {QJsonObject{{QStringLiteral("url"), QStringLiteral("file:///etc/passwd")}}, QStringLiteral("Could not start the checkout.")},
        {QJsonObject{{QStringLiteral("url"), 7}}, QStringLiteral("Could not start the checkout.")},
    };
    PlansWindow::Hooks::askBuy = [](const QString &) { return std::optional<PlansWindow::BuyAnswer>({QStringLiteral("1"), 0}); };
    for (const auto &[reply, text] : replies) {
        cloud->on("POST", QStringLiteral("/cli/checkout"), FakeReply::json(reply, 400));
        w.buy(button(cards().first(), QStringLiteral("Buy now")));
        ASSERT_TRUE(TestKit::waitFor([&] { return status() == text; })) << status().toStdString();
    }
    EXPECT_EQ(opened.size(), int(cases.size()) + 1);
}

TEST_F(PlansWindowTest, CancelledOrTokenlessActionsSendNothing)
{
    PlansWindow &w = open(plansReply({plan(QStringLiteral("team"), 4999, 1)}, QString()));
    cloud->clearRequests();
    PlansWindow::Hooks::askBuy = [](const QString &) { return std::nullopt; };
    PlansWindow::Hooks::askRequest = [](const QString &) { return std::nullopt; };
    QPushButton *buy = button(cards().first(), QStringLiteral("Buy now"));
    buy->click();
    button(cards().first(), QStringLiteral("Ask Hallix"))->click();
    EXPECT_TRUE(buy->isEnabled());
    home->write(QStringLiteral(".velto/seat.env"), "");
    PlansWindow::Hooks::askBuy = nullptr; // never asked without a seat
    buy->click();
    w.reload();
    TestKit::spin(100);
    EXPECT_TRUE(cloud->requests().isEmpty());
    EXPECT_TRUE(status().isEmpty());
}

TEST_F(PlansWindowTest, UpgradeRequestSaysSentOnlyWhenTheCloudTookIt)
{
    open(plansReply({plan(QStringLiteral("firm"), 9999)}, QString()));
    PlansWindow::Hooks::askRequest = [](const QString &code) -> std::optional<QString> {
        EXPECT_EQ(code, QStringLiteral("firm"));
        return QStringLiteral("4");
    };
    struct Case {
        int status;
        QJsonObject reply;
        QString text;
    };
    const std::vector<Case> cases{
        {200, QJsonObject{}, QStringLiteral("Request sent.")},
        {201, QJsonObject{{QStringLiteral("message"), QStringLiteral("We will call you.")}}, QStringLiteral("We will call you.")},
        {500, QJsonObject{}, QStringLiteral("Could not send the request.")},
        {403, QJsonObject{{QStringLiteral("message"), QStringLiteral("Done!")}}, QStringLiteral("Could not send the request.")},
        {429, QJsonObject{{QStringLiteral("error"), QJsonObject{{QStringLiteral("message"), QStringLiteral("Slow down.")}}}},
         QStringLiteral("Slow down.")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        cloud->on("POST", QStringLiteral("/cli/upgrade"), FakeReply::json(c.reply, c.status));
        // The reload that follows fails a little later.
        FakeReply down = FakeReply::text("", 503);
        down.delayMs = 400;
        cloud->on("GET", QStringLiteral("/cli/plans"), down);
        cloud->clearRequests();
        QPushButton *ask = button(cards().first(), QStringLiteral("Request upgrade"));
        ask->click();
        EXPECT_EQ(status(), QStringLiteral("Sending\u2026"));
        ASSERT_TRUE(TestKit::waitFor([&] { return status() == c.text; })) << status().toStdString();
        EXPECT_EQ(cloud->requestsTo(QStringLiteral("/cli/upgrade")).value(0).json(),
                  (QJsonObject{{QStringLiteral("plan"), QStringLiteral("firm")},
                               {QStringLiteral("seats"), 4},
                               {QStringLiteral("note"), QStringLiteral("from the Velto app")}}));
        // Then the plans are asked again.
        ASSERT_TRUE(cloud->waitForRequests(2));
        EXPECT_EQ(cloud->requests().last().path, QStringLiteral("/cli/plans"));
        ASSERT_TRUE(TestKit::waitFor([&] { return status().startsWith(QStringLiteral("Could not reach")); }));
        // Put the card back for the next case.
        cloud->on("GET", QStringLiteral("/cli/plans"), FakeReply::json(plansReply({plan(QStringLiteral("firm"), 9999)}, QString())));
        window->reload();
        ASSERT_TRUE(TestKit::waitFor([&] { return cards().size() == 1; }));
    }
}

TEST_F(PlansWindowTest, LooksRightInBothThemes)
{
    for (bool isDark : {false, true}) {
        dark(isDark);
        open(plansReply({plan(QStringLiteral("trial"), 0), plan(QStringLiteral("pro"), 1499, 1),
                         plan(QStringLiteral("team"), 4999, 1), plan(QStringLiteral("firm"), 9999)},
                        QStringLiteral("pro")));
        ASSERT_EQ(cards().size(), 4);
        const QImage image = shot(window.get(), isDark ? QStringLiteral("plans-dark") : QStringLiteral("plans-light"));
        EXPECT_TRUE(paintedIn(image, isDark));
        window.reset();
    }
}

} // namespace
