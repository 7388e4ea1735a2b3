// The sessions sidebar: what it lists for the folders, the engine's sessions
// and the account reply, how it paints, and which callback each click reaches.
#include "AppTestKit.h"
#include "app/Sidebar.h"
#include "app/SidebarData.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "support/FakeHttpServer.h"
#include "ui/Theme.h"
#include "ui/ViewLayer.h"

#include <QGraphicsDropShadowEffect>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

using namespace AppTestKit;
using TestKit::FakeReply;
using TestKit::waitFor;

namespace {

QJsonObject session(const QString &id, const QString &title, const QString &dir, double updated)
{
    return {{"id", id}, {"title", title}, {"directory", dir}, {"time", QJsonObject{{"updated", updated}}}};
}

class SidebarTest : public TestKit::HomeTest {
protected:
    ScopedTimeScale scale{1.0};
    std::unique_ptr<Sidebar> sidebar;
    TestKit::FakeHttpServer engine;
    QJsonArray engineSessions;

    void SetUp() override
    {
        HomeTest::SetUp();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        Theme::setOverride(QString("light"));
        sidebar = std::make_unique<Sidebar>(QRect(0, 0, 256, 760));
        engine.on("GET", "/session", [this](const TestKit::RecordedRequest &) {
            return FakeReply::json(QJsonDocument(engineSessions));
        });
    }
    void TearDown() override
    {
        sidebar.reset();
        Theme::setOverride(std::nullopt);
        QLocale::setDefault(QLocale::system());
        HomeTest::TearDown();
    }
    // Refreshes from the fake engine and waits for done.
    void refresh()
    {
        bool done = false;
        sidebar->refreshSessions(engine.port(), [&] { done = true; });
        ASSERT_TRUE(waitFor([&] { return done; }, 15000));
    }
    // The list as text: "# Header", "row title [tag]" with "*" when selected,
    // "note" for the no-sessions note.
    QStringList listed() const
    {
        QStringList out;
        for (QWidget *w : sidebar->listViews()) {
            if (auto *row = qobject_cast<HoverRow *>(w)) {
                out << row->label() + QString(" [%1]").arg(row->tag()) + (row->selected() ? "*" : "");
            } else if (w->findChild<QLabel *>("note")) {
                out << "note";
            } else {
                out << "# " + w->findChild<QLabel *>()->text();
            }
        }
        return out;
    }
    HoverRow *row(const QString &label) const
    {
        for (HoverRow *r : sidebar->rows())
            if (r->label() == label)
                return r;
        return nullptr;
    }
};

TEST_F(SidebarTest, StartsEmptyWithPlaceholders)
{
    EXPECT_TRUE(sidebar->listViews().isEmpty());
    EXPECT_EQ(sidebar->nameLabel()->text(), "\u2026");
    EXPECT_EQ(sidebar->planLabel()->text(), "\u2026");
    EXPECT_EQ(sidebar->firmLabel()->text(), "");
    EXPECT_EQ(sidebar->usageText()->text(), "");
    EXPECT_EQ(sidebar->avatar()->text(), "S");
    EXPECT_EQ(sidebar->usageFill()->width(), 0);
    EXPECT_TRUE(sidebar->walletButton()->isHidden());
    // The fixed parts where the main window expects them.
    EXPECT_EQ(sidebar->newButton()->geometry(), QRect(10, 10, 236, 32));
    EXPECT_EQ(sidebar->accountBox()->geometry(), QRect(10, 760 - 148, 236, 138));
    EXPECT_EQ(sidebar->scrollView()->geometry(), QRect(0, 50, 256, 760 - 204));
    sidebar->show();
    sidebar->resize(256, 500);
    EXPECT_EQ(sidebar->accountBox()->geometry(), QRect(10, 500 - 148, 236, 138)) << "the box stays at the bottom";
    EXPECT_EQ(sidebar->scrollView()->height(), 296);
}

TEST_F(SidebarTest, ListsTheCurrentFoldersSessionsNewestFirst)
{
    engineSessions = {session("s1", "GSTR-1 March", "/c/Sharma", 100), session("s2", "Other client", "/c/Mehta", 300),
                      session("s3", "", "/c/Sharma", 200), QJsonObject{{"id", "s4"}, {"directory", "/c/Sharma"}},
                      session("s5", "Same time", "/c/Sharma", 100), QJsonObject{{"title", "no id"}}};
    sidebar->setFolders({"/c/Sharma", "/c/Mehta", "/c/Sharma2"}, "/c/Sharma");
    sidebar->setCurrentSession("s1");
    refresh();
    EXPECT_EQ(listed(), (QStringList{"# WORK", "Skills \u2014 start a job [0]", "Case Board [1]", "Mail [3]",
                                     "# FOLDERS", "Sharma [0]*", "Mehta [1]", "Sharma2 [2]", "# SESSIONS",
                                     "Untitled [1]", "GSTR-1 March [2]*", "Same time [3]", "Untitled [4]"}));
    // The whole list is kept; only the display is filtered.
    ASSERT_EQ(sidebar->sessions().size(), 5);
    EXPECT_EQ(sidebar->sessions()[0].id, "s2");
    EXPECT_EQ(sidebar->sessions()[4].id, "s4") << "no time sorts last";

    // A click on a session row opens the session at its tag.
    QList<SessionRow> opened;
    sidebar->onOpenSession = [&](const SessionRow &r) { opened << r; };
    row("GSTR-1 March")->button()->click();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], (SessionRow{"s1", "GSTR-1 March", "/c/Sharma", 100, ""}));

    // Another folder: its sessions only; none there shows the note.
    sidebar->setFolders({"/c/Mehta", "/c/Sharma"}, "/c/Mehta");
    EXPECT_EQ(listed().mid(4), (QStringList{"# FOLDERS", "Mehta [0]*", "Sharma [1]", "# SESSIONS", "Other client [0]"}));
    sidebar->setFolders({"/c/Sharma2"}, "/c/Sharma2");
    EXPECT_EQ(listed().mid(4), (QStringList{"# FOLDERS", "Sharma2 [0]*", "# SESSIONS", "note"}));
    EXPECT_EQ(sidebar->listViews().last()->findChild<QLabel *>("note")->text(),
              "No sessions yet. Start one above \u2014 you can run several at the same time, one per client.");
    // Paths compare exactly, with no clean-up.
    sidebar->setFolders({"/c/Sharma"}, "/c/Sharma/");
    EXPECT_EQ(listed().mid(4), (QStringList{"# FOLDERS", "Sharma [0]", "# SESSIONS", "note"}));
}

TEST_F(SidebarTest, FailedRefreshEmptiesTheListAndBadPortsDoNothing)
{
    engineSessions = {session("s1", "Work", "/c/A", 1)};
    sidebar->setFolders({"/c/A"}, "/c/A");
    refresh();
    EXPECT_EQ(sidebar->sessions().size(), 1);

    for (const FakeReply &bad : {FakeReply::text("not json"), FakeReply::json(QJsonObject{{"id", "x"}}),
                                 FakeReply::json(QJsonDocument(QJsonArray{session("s1", "a", "/c/A", 1), 5}))}) {
        engine.on("GET", "/session", bad);
        refresh();
        EXPECT_TRUE(sidebar->sessions().isEmpty());
        EXPECT_EQ(listed().last(), "note");
        engine.on("GET", "/session", FakeReply::json(QJsonDocument(QJsonArray{session("s1", "a", "/c/A", 1)})));
        refresh();
        ASSERT_EQ(sidebar->sessions().size(), 1);
    }
    // Nobody at the port: still done, list emptied.
    const int deadPort = [] {
        TestKit::FakeHttpServer gone;
        return int(gone.port());
    }();
    bool done = false;
    sidebar->refreshSessions(deadPort, [&] { done = true; });
    ASSERT_TRUE(waitFor([&] { return done; }, 15000));
    EXPECT_TRUE(sidebar->sessions().isEmpty());

    engine.clearRequests();
    for (int port : {0, -1, 70000}) {
        bool called = false;
        sidebar->refreshSessions(port, [&] { called = true; });
        TestKit::spin(50);
        EXPECT_FALSE(called) << port;
    }
    EXPECT_TRUE(engine.requests().isEmpty());
}

// A client folder that is a git repository of its own is a project of its
// own to the engine, listed only when that folder is asked for: the sidebar
// asks for every project inside the current folder and shows those sessions
// beside the folder's own (a folder merely starting with the same letters is
// not inside it).
TEST_F(SidebarTest, SessionsOfProjectsInsideTheFolderAreListedToo)
{
    engineSessions = {session("s1", "Root", "/c/A", 1), session("s9", "Elsewhere", "/x", 9)};
    engine.on("GET", "/project",
              FakeReply::json(QJsonDocument(QJsonArray{QJsonObject{{"id", "global"}, {"worktree", "/"}},
                                                       QJsonObject{{"id", "p1"}, {"worktree", "/c/A/Acme Traders"}},
                                                       QJsonObject{{"id", "p2"}, {"worktree", "/c/AB"}},
                                                       QJsonObject{{"id", "p3"}, {"worktree", 5}}, 7})));
    engine.on("GET", "/session", [this](const TestKit::RecordedRequest &r) {
        const QString dir = r.queryItems().queryItemValue("directory", QUrl::FullyDecoded);
        if (dir == "/c/A/Acme Traders")
            return FakeReply::json(QJsonDocument(
                QJsonArray{session("s2", "Acme", "/c/A/Acme Traders", 5), session("s1", "Root", "/c/A", 1)}));
        if (!dir.isEmpty())
            return FakeReply::json(QJsonDocument(QJsonArray{session("s3", "Other", dir, 7)}));
        return FakeReply::json(QJsonDocument(engineSessions));
    });
    sidebar->setFolders({"/c/A"}, "/c/A");
    refresh();
    QStringList ids;
    for (const SessionRow &r : sidebar->sessions())
        ids << r.id;
    EXPECT_EQ(ids, (QStringList{"s9", "s2", "s1"})) << "each session once, newest first";
    EXPECT_EQ(listed().mid(listed().indexOf("# SESSIONS")), (QStringList{"# SESSIONS", "Acme [1]", "Root [2]"}));
    QStringList asked;
    for (const auto &r : engine.requests())
        asked << QString::fromLatin1(r.method) + " " + r.path + (r.query.isEmpty() ? QString() : "?" + r.query);
    asked.sort();
    EXPECT_EQ(asked, (QStringList{"GET /project", "GET /session", "GET /session?directory=%2Fc%2FA%2FAcme%20Traders"}));

    // Without an answer to the project list, the folder's own sessions remain.
    engine.on("GET", "/project", FakeReply::text("no", 500));
    refresh();
    ASSERT_EQ(sidebar->sessions().size(), 2);
    EXPECT_EQ(listed().mid(listed().indexOf("# SESSIONS")), (QStringList{"# SESSIONS", "Root [1]"}));
}

TEST_F(SidebarTest, AccountReplies)
{
    struct Case {
        const char *name;
        std::optional<QJsonObject> reply;
        QString nameLine, firm, initial, plan;
        bool chip;
        QString wallet; // empty: hidden
        QString usage;
        double pct;
    };
    const QJsonObject profile{{"name", "asha rao"}, {"email", "asha@rao.in"}, {"firm", "Rao & Co"}};
    const QList<Case> cases = {
        {"full",
         QJsonObject{{"profile", profile},
                     {"plan", QJsonObject{{"name", "Pro"}, {"price_inr", 1499}}},
                     {"wallet", QJsonObject{{"balance", "\u20B9500"}, {"payg_ai", true}}},
                     {"limits", QJsonArray{QJsonObject{{"pct", 42}, {"label", "Monthly"}},
                                           QJsonObject{{"pct", 71}, {"label", "Weekly"}},
                                           QJsonObject{{"pct", 71}, {"label", "Daily"}}}}},
         "asha rao", "Rao & Co", "A", "PRO \u00B7 \u20B91,499/mo", true,
         " Wallet \u20B9500 \u00B7 pay as you go on", "Weekly \u00B7 71% used", 0.71},
        {"e-mail only",
         QJsonObject{{"profile", QJsonObject{{"name", ""}, {"email", "\u00E9lan@firm.in"}}},
                     {"plan", QJsonObject{{"price_inr", 0}}},
                     {"wallet", QJsonObject{{"balance", "\u20B90"}}},
                     {"limits", QJsonArray{}}},
         "\u00E9lan@firm.in", "\u00E9lan@firm.in", "\u00C9", "TRIAL", true, " Wallet \u20B90 \u00B7 Recharge",
         "No usage yet", 0},
        {"empty plan name, over the limit",
         QJsonObject{{"profile", profile},
                     {"plan", QJsonObject{{"name", ""}, {"price_inr", 0}}},
                     {"wallet", QJsonObject{{"balance", 250}}},
                     {"limits", QJsonArray{QJsonObject{{"pct", 140}}}}},
         "asha rao", "Rao & Co", "A", "", false, "", "No usage yet", 1.0},
        {"pct of another type", QJsonObject{{"profile", profile}, {"limits", QJsonArray{QJsonObject{{"pct", "90"}, {"label", "M"}}}}},
         "asha rao", "Rao & Co", "A", "\u2026", true, "", "M \u00B7 0% used", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Sidebar s(QRect(0, 0, 256, 760));
        s.setAccount(c.reply);
        EXPECT_EQ(s.account(), c.reply);
        EXPECT_EQ(s.nameLabel()->text(), c.nameLine);
        EXPECT_EQ(s.firmLabel()->text(), c.firm);
        EXPECT_EQ(s.initial(), c.initial);
        EXPECT_EQ(s.avatar()->text(), c.initial);
        EXPECT_EQ(s.planLabel()->text(), c.plan);
        EXPECT_EQ(!s.planChip()->isHidden(), c.chip);
        EXPECT_EQ(s.walletTitle(), c.wallet);
        EXPECT_EQ(s.walletButton()->isHidden(), c.wallet.isEmpty());
        EXPECT_EQ(s.walletButton()->text(), c.wallet);
        EXPECT_EQ(s.usageText()->text(), c.usage);
        EXPECT_DOUBLE_EQ(s.usagePct(), c.pct);
    }
}

TEST_F(SidebarTest, AReplyWithoutAProfileNamesTheSeatAndLeavesTheRest)
{
    sidebar->setAccount(QJsonObject{{"profile", QJsonObject{{"name", "Asha"}, {"firm", "Rao & Co"}}},
                                    {"plan", QJsonObject{{"name", "Pro"}}},
                                    {"wallet", QJsonObject{{"balance", "\u20B95"}}},
                                    {"limits", QJsonArray{QJsonObject{{"pct", 50}, {"label", "Monthly"}}}}});
    const auto unchanged = [&] {
        EXPECT_EQ(sidebar->firmLabel()->text(), "Rao & Co");
        EXPECT_EQ(sidebar->initial(), "A");
        EXPECT_EQ(sidebar->planLabel()->text(), "PRO");
        EXPECT_FALSE(sidebar->walletButton()->isHidden());
        EXPECT_EQ(sidebar->usageText()->text(), "Monthly \u00B7 50% used");
    };
    sidebar->setAccount(std::nullopt);
    EXPECT_EQ(sidebar->nameLabel()->text(), "Signed in");
    unchanged();
    writeSecret(SEAT_ENV, "PAVI_SEAT_TOKEN=t\nPAVI_SEAT_EMAIL=asha@rao.in\n");
    for (const std::optional<QJsonObject> &reply :
         {std::optional<QJsonObject>(QJsonObject{}), std::optional<QJsonObject>(QJsonObject{{"profile", "Asha"}}),
          std::optional<QJsonObject>(std::nullopt)}) {
        sidebar->setAccount(reply);
        EXPECT_EQ(sidebar->nameLabel()->text(), "asha@rao.in");
        unchanged();
    }
}

TEST_F(SidebarTest, TheWalletRowFollowsTheAccount)
{
    sidebar->setFolders({}, "/c/A");
    EXPECT_EQ(row("Wallet"), nullptr);
    sidebar->setAccount(QJsonObject{{"profile", QJsonObject{{"name", "A"}}}, {"wallet", QJsonObject{{"balance", "\u20B91"}}}});
    ASSERT_NE(row("Wallet"), nullptr) << "the line appeared: the list was rebuilt";
    EXPECT_EQ(row("Wallet")->tag(), 2);
    sidebar->setAccount(QJsonObject{{"profile", QJsonObject{{"name", "A"}}}});
    EXPECT_EQ(row("Wallet"), nullptr);

    // A wallet without a text balance: no line, and the row only at the next rebuild.
    sidebar->setAccount(QJsonObject{{"profile", QJsonObject{{"name", "A"}}}, {"wallet", QJsonObject{{"balance", 3}}}});
    EXPECT_TRUE(sidebar->walletButton()->isHidden());
    EXPECT_EQ(row("Wallet"), nullptr);
    sidebar->setCurrentSession("x");
    EXPECT_NE(row("Wallet"), nullptr);
}

TEST_F(SidebarTest, UsageBarAndPlanChipGeometry)
{
    struct Case {
        int pct;
        QColor from, to;
    };
    for (const Case &c : QList<Case>{{91, Theme::stamp(), Theme::stamp()},
                                      {90, Theme::amber(), Theme::amber()},
                                      {71, Theme::amber(), Theme::amber()},
                                      {70, Theme::hex(0x7C9BFF), Theme::royal()},
                                      {0, Theme::hex(0x7C9BFF), Theme::royal()}}) {
        sidebar->setAccount(
            QJsonObject{{"profile", QJsonObject{{"name", "A"}}}, {"limits", QJsonArray{QJsonObject{{"pct", c.pct}}}}});
        EXPECT_EQ(sidebar->usageColors(), qMakePair(c.from, c.to)) << c.pct;
        EXPECT_EQ(sidebar->usageFill()->width(), qRound(sidebar->usageTrack()->width() * c.pct / 100.0)) << c.pct;
    }
    EXPECT_EQ(sidebar->usageTrack()->width(), 236 - 24);

    sidebar->setAccount(QJsonObject{{"profile", QJsonObject{{"name", "A"}}},
                                    {"plan", QJsonObject{{"name", "Enterprise plan for very large firms"},
                                                         {"price_inr", 1234567}}}});
    EXPECT_EQ(sidebar->planChip()->width(), 236 - 24);
    EXPECT_EQ(sidebar->planLabel()->width(), sidebar->planChip()->width() - 16);
    EXPECT_EQ(sidebar->planLabel()->x(), 8);
    sidebar->setAccount(QJsonObject{{"profile", QJsonObject{{"name", "A"}}}, {"plan", QJsonObject{{"name", "Pro"}}}});
    EXPECT_LT(sidebar->planChip()->width(), 100);
    EXPECT_EQ(sidebar->planChip()->width(), sidebar->planLabel()->width() + 16);
    EXPECT_EQ(sidebar->planChip()->height(), 18);
}

TEST_F(SidebarTest, PlanTextFollowsTheLocale)
{
    const QJsonObject pro{{"name", "Pro"}, {"price_inr", 1499}};
    EXPECT_EQ(SidebarData::planText(pro, QLocale(QLocale::English)), "PRO \u00B7 \u20B91,499/mo");
    EXPECT_EQ(SidebarData::planText(pro, QLocale(QLocale::German)), "PRO \u00B7 \u20B91.499/mo");
    EXPECT_EQ(SidebarData::planText({{"name", "Pro"}, {"price_inr", 99.5}}), "PRO") << "not a whole number";
    EXPECT_EQ(SidebarData::planText({{"name", 5}}), "TRIAL");
}

TEST_F(SidebarTest, EveryClickReachesItsCallback)
{
    sidebar->setAccount(QJsonObject{{"profile", QJsonObject{{"name", "A"}}}, {"wallet", QJsonObject{{"balance", "\u20B91"}}}});
    sidebar->setFolders({"/c/A", "/c/B"}, "/c/A");

    // Unset callbacks: clicks do nothing.
    for (HoverRow *r : sidebar->rows())
        r->button()->click();
    sidebar->newButton()->click();
    sidebar->avatar()->click();

    QStringList heard;
    sidebar->onNewSession = [&] { heard << "new"; };
    sidebar->onSkills = [&] { heard << "skills"; };
    sidebar->onCaseBoard = [&] { heard << "caseboard"; };
    sidebar->onWallet = [&] { heard << "wallet"; };
    sidebar->onMail = [&] { heard << "mail"; };
    sidebar->onPickFolder = [&] { heard << "pick"; };
    sidebar->onOpenFolder = [&](const QString &f) { heard << "folder " + f; };
    sidebar->onAccountMenu = [&](QAbstractButton *b) { heard << (b == sidebar->avatar() ? "menu avatar" : b == sidebar->chevron() ? "menu chevron" : "menu ?"); };
    sidebar->onPlanClick = [&](QWidget *w) { heard << (w == sidebar->planButton() ? "plan" : "plan ?"); };

    sidebar->newButton()->click();
    for (const char *label : {"Skills \u2014 start a job", "Case Board", "Wallet", "Mail", "B"})
        row(label)->button()->click();
    QPushButton *add = nullptr;
    for (QPushButton *b : sidebar->findChildren<QPushButton *>())
        if (b->accessibleName() == "Add folders")
            add = b;
    ASSERT_NE(add, nullptr);
    add->click();
    sidebar->walletButton()->click();
    sidebar->avatar()->click();
    sidebar->chevron()->click();
    sidebar->planButton()->click();
    EXPECT_EQ(heard, (QStringList{"new", "skills", "caseboard", "wallet", "mail", "folder /c/B", "pick", "wallet",
                                  "menu avatar", "menu chevron", "plan"}));

    // The plan area answers a click anywhere over the chip and the bar.
    heard.clear();
    sidebar->show();
    for (QWidget *w : {sidebar->planChip(), sidebar->usageTrack(), static_cast<QWidget *>(sidebar->usageText())}) {
        const QPoint at = w->mapTo(sidebar->accountBox(), w->rect().center());
        EXPECT_EQ(sidebar->accountBox()->childAt(at), sidebar->planButton());
    }
}

TEST_F(SidebarTest, ARowFromAnOlderListDoesNothing)
{
    QStringList heard;
    sidebar->onOpenFolder = [&](const QString &f) { heard << f; };
    sidebar->onOpenSession = [&](const SessionRow &r) { heard << r.id; };
    engineSessions = {session("s1", "One", "/c/A", 2), session("s2", "Two", "/c/A", 1)};
    sidebar->setFolders({"/c/A", "/c/B"}, "/c/A");
    refresh();
    // Rows of the list before a change live on until the event loop turns.
    QPointer<HoverRow> oldFolder = row("B");
    sidebar->setFolders({"/c/A"}, "/c/A");
    ASSERT_TRUE(oldFolder);
    oldFolder->button()->click();
    QPointer<HoverRow> oldSession = row("Two");
    engineSessions = {session("s1", "One", "/c/A", 2)};
    bool done = false;
    sidebar->refreshSessions(engine.port(), [&] {
        ASSERT_TRUE(oldSession);
        oldSession->button()->click();
        done = true;
    });
    ASSERT_TRUE(waitFor([&] { return done; }, 15000));
    EXPECT_TRUE(heard.isEmpty());
    // A click that rebuilds the list from inside its own callback is safe.
    sidebar->onOpenSession = [&](const SessionRow &r) { sidebar->setCurrentSession(r.id); heard << r.id; };
    row("One")->button()->click();
    EXPECT_EQ(heard, QStringList{"s1"});
    EXPECT_TRUE(row("One")->selected());
}

TEST_F(SidebarTest, TheListKeepsItsScrollOffset)
{
    sidebar->resize(256, 400);
    sidebar->show();
    QStringList folders;
    for (int i = 0; i < 30; ++i)
        folders << QString("/c/Client %1").arg(i);
    sidebar->setFolders(folders, folders[0]);
    QScrollBar *bar = sidebar->scrollView()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 500);
    bar->setValue(500);
    sidebar->setCurrentSession("x");
    EXPECT_EQ(bar->value(), 500);
    // A shorter list: clamped to its end; a list that fits sits at the top.
    sidebar->setFolders(folders.mid(0, 12), folders[0]);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_LT(bar->maximum(), 500);
    EXPECT_GT(bar->maximum(), 0);
    sidebar->resize(256, 760);
    sidebar->setFolders({folders[0]}, folders[0]);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->maximum(), 0);
    EXPECT_EQ(sidebar->listViews().first()->y(), 6) << "the list starts at the top";
}

TEST_F(SidebarTest, RowsPaintTheirState)
{
    sidebar->setFolders({"/c/A", "/c/B"}, "/c/A");
    HoverRow *on = row("A");
    HoverRow *off = row("B");
    EXPECT_EQ(ViewLayer::find(on)->background.color(), Theme::selected());
    EXPECT_EQ(ViewLayer::find(off)->background.style(), Qt::NoBrush);
    EXPECT_EQ(on->size(), QSize(236, 34));

    sidebar->show();
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(off, &enter);
    EXPECT_TRUE(off->hovering());
    EXPECT_EQ(ViewLayer::find(off)->background.color(), Theme::hover());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(off, &leave);
    EXPECT_EQ(ViewLayer::find(off)->background.style(), Qt::NoBrush);

    // Setting the same value repaints, in the theme now in force.
    Theme::setOverride(QString("dark"));
    on->setSelected(true);
    EXPECT_EQ(ViewLayer::find(on)->background.color(), Theme::selected());
    Theme::setOverride(QString("light"));
}

TEST_F(SidebarTest, RepaintFollowsTheTheme)
{
    sidebar->setFolders({"/c/A"}, "/c/A");
    for (const bool dark : {true, false}) {
        Theme::setOverride(QString(dark ? "dark" : "light"));
        sidebar->repaint();
        const ViewLayer *box = ViewLayer::find(sidebar->accountBox());
        EXPECT_EQ(box->background.color(), Theme::glass());
        EXPECT_EQ(box->borderColor, Theme::glassEdge());
        EXPECT_EQ(box->cornerRadius, 14);
        auto *shadow = qobject_cast<QGraphicsDropShadowEffect *>(sidebar->accountBox()->graphicsEffect());
        EXPECT_EQ(shadow != nullptr, !dark) << "a soft shadow in light mode only";
        EXPECT_EQ(ViewLayer::find(sidebar->planChip())->background.color(), Theme::selected());
        EXPECT_EQ(sidebar->nameLabel()->palette().color(QPalette::WindowText), Theme::ink());
        EXPECT_EQ(sidebar->firmLabel()->palette().color(QPalette::WindowText), Theme::muted());
        EXPECT_EQ(sidebar->newButton()->property("veltoStyle").toString(), "primary");
        EXPECT_EQ(ViewLayer::find(row("A"))->background.color(), Theme::selected()) << "rows rebuilt in the new theme";
    }
}

} // namespace
