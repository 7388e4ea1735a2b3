// The menu bar, the account menu and the sidebar's buttons: every item
// reaches its action; the cloud's Case Board and Wallet pages, the mail app,
// folders, reload and zoom, About, and the portal sign-in hand-off.
#include "AppTestKit.h"
#include "support/FakeHttpServer.h"

#include "app/AppDelegate.h"
#include "app/MailApp.h"
#include "app/Sidebar.h"
#include "browser/BrowserPane.h"
#include "browser/PortalLoginsWindow.h"
#include "panels/LimitsPopover.h"
#include "connectors/MailTools.h"
#include "core/Globals.h"
#include "panels/ActivityLogWindow.h"
#include "panels/ErpWindow.h"
#include "panels/IntegrationsWindow.h"
#include "panels/PlansWindow.h"
#include "panels/UsageWindow.h"
#include "platform/Appearance.h"
#include "platform/Desktop.h"
#include "platform/WebView.h"
#include "skills/GalleryWindow.h"
#include "skills/SkillsWindow.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QWebEngineView>

using TestKit::FakeReply;
using TestKit::waitFor;

namespace {

// The action titled `title` in the menu bar's menu `menu` (or in any submenu of it).
QAction *findIn(QMenu *menu, const QString &title)
{
    for (QAction *a : menu->actions()) {
        if (TestKit::shown(a->text()) == title)
            return a;
        if (a->menu())
            if (QAction *inner = findIn(a->menu(), title))
                return inner;
    }
    return nullptr;
}

QMenu *topMenu(QMenuBar *bar, const QString &title)
{
    for (QAction *a : bar->actions())
        if (a->text() == title)
            return a->menu();
    return nullptr;
}

QStringList titles(QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("-") : TestKit::shown(a->text()));
    return out;
}

class MenusTest : public TestKit::HomeTest {
protected:
    AppTestKit::ScopedTimeScale scale{1.0};
    std::unique_ptr<TestKit::FakeHttpServer> cloud;
    std::unique_ptr<TestKit::FakeHttpServer> engine;
    std::unique_ptr<AppDelegate> app;
    std::unique_ptr<TestKit::DialogAnswers> answers;
    int quits = 0;
    int beeps = 0;
    QList<QUrl> opened;
    QString clients;

    void SetUp() override
    {
        HomeTest::SetUp();
        cloud = std::make_unique<TestKit::FakeHttpServer>();
        engine = std::make_unique<TestKit::FakeHttpServer>();
        engine->on("GET", QStringLiteral("/session"), FakeReply::text("[]"));
        engine->on("POST", QStringLiteral("/session"), FakeReply::json(QJsonObject{{"id", "ses_new"}}));
        home->refill({{QStringLiteral("VELTO_API"), cloud->baseUrl()}});
        home->write(".velto/seat.env", "PAVI_SEAT_TOKEN=tok\nPAVI_SEAT_EMAIL=ca@firm.example\n");
        clients = home->file("Clients");
        QDir().mkpath(clients);
        savedMode_ = Theme::mode();
        savedOverride_ = Theme::override();
        savedDark_ = Appearance::Hooks::prefersDark;
        savedMotion_ = Appearance::Hooks::reduceMotion;
        Appearance::Hooks::prefersDark = [] { return false; };
        Appearance::Hooks::reduceMotion = [] { return true; };
        Theme::setMode(QStringLiteral("system"));
        Theme::setOverride(std::nullopt);
        savedOpenUrl_ = Desktop::openUrl;
        Desktop::openUrl = [this](const QUrl &url) {
            opened << url;
            return true;
        };
        AppDelegate::terminate = [this] { ++quits; };
        AppDelegate::beep = [this] { ++beeps; };
        AppDelegate::chatProfile = [] { return TestKit::webProfile(); };
        answers = std::make_unique<TestKit::DialogAnswers>();
        app = std::make_unique<AppDelegate>();
        app->buildWindow();
        app->buildMenu();
        app->setWork(clients);
        app->sessions().enginePort = [this] { return int(engine->port()); };
    }
    void TearDown() override
    {
        app.reset();
        answers.reset();
        AppDelegate::terminate = nullptr;
        AppDelegate::beep = nullptr;
        AppDelegate::chatProfile = nullptr;
        Desktop::openUrl = savedOpenUrl_;
        MailApp::locate = &MailApp::defaultLocate;
        MailApp::open = &MailApp::defaultOpen;
        MailBridge::doorFor = &MailBridge::readDoor;
        Theme::setMode(savedMode_);
        Theme::setOverride(savedOverride_);
        Appearance::Hooks::prefersDark = savedDark_;
        Appearance::Hooks::reduceMotion = savedMotion_;
        engine.reset();
        cloud.reset();
        HomeTest::TearDown();
    }

    QAction *menuItem(const QString &menu, const QString &title) const
    {
        QMenu *m = topMenu(app->menuBar(), menu);
        return m ? findIn(m, title) : nullptr;
    }
    QString lastAlertTitle() const
    {
        return answers->shownAlerts.empty() ? QString() : answers->shownAlerts.back().title;
    }
    QString lastAlertText() const
    {
        return answers->shownAlerts.empty() ? QString() : answers->shownAlerts.back().text;
    }

private:
    QString savedMode_;
    std::optional<QString> savedOverride_;
    std::function<bool()> savedDark_, savedMotion_;
    std::function<bool(const QUrl &)> savedOpenUrl_;
};

TEST_F(MenusTest, TheMenuBarHoldsTheFiveMenusWithTheirKeys)
{
    QMenuBar *bar = app->menuBar();
    ASSERT_TRUE(bar);
    QStringList tops;
    for (QAction *a : bar->actions())
        tops << a->text();
    EXPECT_EQ(tops, (QStringList{"Velto", "Edit", "View", "Window", "Help"}));
    // The bar heads the window; the top bar and the content sit under it.
    EXPECT_GT(bar->height(), 10);
    EXPECT_EQ(bar->geometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(app->contentBox()->mapTo(app->window(), QPoint(0, 0)).y(), bar->height() + 52);
    EXPECT_EQ(titles(topMenu(bar, "Velto")),
              (QStringList{"About Velto", "-", "Open Clients Folder", "Change Clients Folder…", "New Session",
                           "Open Another Folder…", "Sync Clients from Hallix", "-", "Usage & Plan…", "Upgrade Plan…",
                           "Skills…", "Edit Skills & Agents…", "Portal Logins…", "Integrations (ERP, Tally, CLI)…",
                           "Ledgora ERP…", "Network Activity…", "-", "Sign Out", "-", "Hide Velto", "Quit Velto"}));
    EXPECT_EQ(titles(topMenu(bar, "Edit")), (QStringList{"Undo", "Redo", "-", "Cut", "Copy", "Paste", "Select All"}));
    EXPECT_EQ(titles(topMenu(bar, "View")),
              (QStringList{"Appearance", "-", "Toggle Sidebar", "-", "Chat", "Browser", "-", "New Browser Tab",
                           "Close Browser Tab", "Next Browser Tab", "-", "Reload", "Actual Size", "Zoom In", "Zoom Out",
                           "-", "Enter Full Screen"}));
    EXPECT_EQ(titles(topMenu(bar, "Window")), (QStringList{"Minimize", "Zoom"}));
    EXPECT_EQ(titles(topMenu(bar, "Help")), (QStringList{"Velto help on Hallix", "Usage & Plan…"}));

    // A lower-case key is pressed with Ctrl, an upper-case one with Ctrl+Shift.
    const QList<QPair<QString, QString>> keys{
        {"Open Clients Folder", "Ctrl+O"}, {"Open Another Folder…", "Ctrl+Shift+O"}, {"New Session", "Ctrl+N"},
        {"Redo", "Ctrl+Shift+Z"},          {"Undo", "Ctrl+Z"},                       {"Next Browser Tab", "Ctrl+]"},
        {"Zoom In", "Ctrl++"},             {"Zoom Out", "Ctrl+-"},                   {"Actual Size", "Ctrl+0"},
        {"Velto help on Hallix", "Ctrl+?"}, {"Quit Velto", "Ctrl+Q"},                {"Change Clients Folder…", ""},
    };
    for (const auto &[title, key] : keys) {
        QAction *a = nullptr;
        for (const QString &menu : QStringList{"Velto", "Edit", "View", "Help"})
            if (!a)
                a = menuItem(menu, title);
        ASSERT_TRUE(a) << title.toStdString();
        EXPECT_EQ(a->shortcut().toString(), key) << title.toStdString();
    }
}

TEST_F(MenusTest, EveryMenuItemReachesItsAction)
{
    // The launcher's sync leaves a mark; the VERSION file names the version.
    home->write(".velto/bin/velto", "#!/bin/sh\ntouch \"$VELTO_HOME/synced\"\n");
    QFile::setPermissions(LAUNCHER, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    home->write(".velto/VERSION", " 2.4.1\n");
    const QString other = home->file("Other");
    QDir().mkpath(other);

    struct Case {
        QString menu, title;
        std::function<void()> before;
        std::function<bool()> reached;
    };
    const QList<Case> cases{
        {"Velto", "About Velto", [&] { answers->alert(0); }, [&] { return lastAlertTitle() == "Velto 2.4.1"; }},
        {"Velto", "Open Clients Folder", nullptr,
         [&] { return opened.contains(QUrl::fromLocalFile(clients)); }},
        {"Velto", "Change Clients Folder…",
         [&] {
             answers->alert(0);
             answers->openFolder(std::nullopt);
         },
         [&] { return answers->shownFolderPanels.size() == 1 && app->work() == clients; }},
        {"Velto", "New Session", nullptr, [&] { return !engine->requestsTo("/session").isEmpty(); }},
        {"Velto", "Open Another Folder…", [&] { answers->openFolder(other); },
         [&] { return app->recentFolders().value(0) == other; }},
        {"Velto", "Sync Clients from Hallix", nullptr, [&] { return QFile::exists(VELTO_HOME + "/synced"); }},
        {"Velto", "Usage & Plan…", nullptr, [&] { return app->usagePanel() && app->usagePanel()->isVisible(); }},
        {"Velto", "Upgrade Plan…", nullptr, [&] { return app->plansPanel() && app->plansPanel()->isVisible(); }},
        {"Velto", "Skills…", nullptr, [&] { return app->galleryPanel() && app->galleryPanel()->isVisible(); }},
        {"Velto", "Edit Skills & Agents…", nullptr, [&] { return app->skillsPanel() && app->skillsPanel()->isVisible(); }},
        {"Velto", "Portal Logins…", nullptr, [&] { return app->portalPanel() && app->portalPanel()->isVisible(); }},
        {"Velto", "Integrations (ERP, Tally, CLI)…", nullptr,
         [&] { return app->integrationsPanel() && app->integrationsPanel()->isVisible(); }},
        {"Velto", "Ledgora ERP…", nullptr, [&] { return app->erpPanel() && app->erpPanel()->isVisible(); }},
        {"Velto", "Network Activity…", nullptr, [&] { return app->activityPanel() && app->activityPanel()->isVisible(); }},
        {"Velto", "Quit Velto", [&] { quits = 0; }, [&] { return quits == 1; }},
        {"View", "Toggle Sidebar", nullptr, [&] { return !app->sidebarOn(); }},
        {"View", "Browser", nullptr, [&] { return app->showingBrowser(); }},
        {"View", "Chat", nullptr, [&] { return !app->showingBrowser(); }},
        {"View", "New Browser Tab", nullptr,
         [&] { return app->showingBrowser() && app->browser()->tabs().size() == 2 && app->browser()->current() == 1; }},
        {"View", "Next Browser Tab", nullptr, [&] { return app->browser()->current() == 0; }},
        {"View", "Close Browser Tab", nullptr, [&] { return app->browser()->tabs().size() == 1; }},
        {"View", "Zoom In", nullptr, [&] { return qFuzzyCompare(app->browser()->web()->zoomFactor(), 1.1); }},
        {"View", "Zoom Out", nullptr, [&] { return qFuzzyCompare(app->browser()->web()->zoomFactor(), 1.0); }},
        {"View", "Zoom In", nullptr, [&] { return qFuzzyCompare(app->browser()->web()->zoomFactor(), 1.1); }},
        {"View", "Actual Size", nullptr, [&] { return qFuzzyCompare(app->browser()->web()->zoomFactor(), 1.0); }},
        {"View", "Enter Full Screen", [&] { QApplication::setActiveWindow(app->window()); },
         [&] { return app->window()->isFullScreen(); }},
        {"View", "Enter Full Screen", nullptr, [&] { return !app->window()->isFullScreen(); }},
        {"Window", "Zoom", nullptr, [&] { return app->window()->isMaximized(); }},
        {"Window", "Minimize", nullptr, [&] { return app->window()->isMinimized(); }},
        {"Velto", "Hide Velto", [&] { app->window()->showNormal(); }, [&] { return app->window()->isMinimized(); }},
        {"Help", "Velto help on Hallix", nullptr, [&] { return opened.contains(QUrl(cloud->baseUrl() + "/ca/cli")); }},
        {"Help", "Usage & Plan…", [&] { app->usagePanel()->hide(); }, [&] { return app->usagePanel()->isVisible(); }},
        {"Velto", "Sign Out",
         [&] {
             quits = 0;
             answers->alert(0);
         },
         [&] { return !QFile::exists(SEAT_ENV) && lastAlertTitle() == "Signed out" && quits == 1; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.menu.toStdString() + " / " + c.title.toStdString());
        QAction *a = menuItem(c.menu, c.title);
        ASSERT_TRUE(a);
        if (c.before)
            c.before();
        a->trigger();
        EXPECT_TRUE(waitFor(c.reached, 5000));
    }
    // Closing a tab is the browser's alone: in the chat nothing closes.
    app->showChat();
    app->newBrowserTab();
    app->showChat();
    menuItem("View", "Close Browser Tab")->trigger();
    EXPECT_EQ(app->browser()->tabs().size(), 2);
    EXPECT_TRUE(app->window()->isVisible() || app->window()->isMinimized());
}

TEST_F(MenusTest, EditCommandsReachTheFocusedField)
{
    auto *field = new QLineEdit(app->window());
    field->setText("ledger");
    field->show();
    field->raise();
    app->window()->show();
    QApplication::setActiveWindow(app->window());
    field->setFocus();
    ASSERT_TRUE(waitFor([&] { return QApplication::focusWidget() == field; }))
        << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "none") << " "
        << (QApplication::activeWindow() ? QApplication::activeWindow()->metaObject()->className() : "none");
    menuItem("Edit", "Select All")->trigger();
    menuItem("Edit", "Copy")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "ledger");
    menuItem("Edit", "Cut")->trigger();
    EXPECT_EQ(field->text(), "");
    menuItem("Edit", "Paste")->trigger();
    menuItem("Edit", "Paste")->trigger();
    EXPECT_EQ(field->text(), "ledgerledger");
    menuItem("Edit", "Undo")->trigger();
    EXPECT_NE(field->text(), "ledgerledger");
    menuItem("Edit", "Redo")->trigger();
    EXPECT_EQ(field->text(), "ledgerledger");
}

TEST_F(MenusTest, AppearanceMarksFollowTheThemeInForce)
{
    auto checked = [&] {
        QStringList on;
        for (const QString &t : QStringList{"Light", "Dark", "Match System"})
            if (menuItem("View", t)->isChecked())
                on << t;
        return on;
    };
    EXPECT_EQ(checked(), QStringList{"Match System"});
    menuItem("View", "Dark")->trigger();
    ASSERT_TRUE(waitFor([&] { return !app->themeSwitching() && Theme::mode() == "dark"; }));
    EXPECT_EQ(checked(), QStringList{"Dark"}) << "the menu is built again after the change";
    menuItem("View", "Light")->trigger();
    ASSERT_TRUE(waitFor([&] { return !app->themeSwitching() && Theme::mode() == "light"; }));
    EXPECT_EQ(checked(), QStringList{"Light"});

    // An override wins over the saved choice.
    Theme::setOverride(QStringLiteral("dark"));
    app->buildMenu();
    EXPECT_EQ(checked(), QStringList{"Dark"});
}

TEST_F(MenusTest, TheAccountMenuListsTheSeatAndReachesItsActions)
{
    std::unique_ptr<QMenu> menu(app->accountMenu());
    EXPECT_EQ(titles(menu.get()),
              (QStringList{"ca@firm.example", "-", "Usage & Plan…", "Upgrade Plan…", "Skills & Agents…", "Portal Logins…",
                           "Integrations…", "Ledgora ERP…", "Open Clients Folder", "Sync Clients from Hallix", "-",
                           "Hallix dashboard", "Sign Out"}));
    EXPECT_FALSE(menu->actions().first()->isEnabled());
    for (QAction *a : menu->actions())
        EXPECT_TRUE(a->shortcut().isEmpty());
    const QList<QPair<QString, std::function<bool()>>> cases{
        {"Usage & Plan…", [&] { return app->usagePanel() != nullptr; }},
        {"Upgrade Plan…", [&] { return app->plansPanel() != nullptr; }},
        {"Skills & Agents…", [&] { return app->skillsPanel() != nullptr; }},
        {"Portal Logins…", [&] { return app->portalPanel() != nullptr; }},
        {"Integrations…", [&] { return app->integrationsPanel() != nullptr; }},
        {"Ledgora ERP…", [&] { return app->erpPanel() != nullptr; }},
        {"Open Clients Folder", [&] { return opened.contains(QUrl::fromLocalFile(clients)); }},
        {"Hallix dashboard", [&] { return opened.contains(QUrl(cloud->baseUrl() + "/ca/cli")); }},
    };
    for (const auto &[title, reached] : cases) {
        findIn(menu.get(), title)->trigger();
        EXPECT_TRUE(reached()) << title.toStdString();
    }

    // Without an e-mail in the seat file the first line says so.
    home->write(".velto/seat.env", "PAVI_SEAT_TOKEN=tok\n");
    menu.reset(app->accountMenu());
    EXPECT_EQ(menu->actions().first()->text(), "signed in");
}

TEST_F(MenusTest, TheSidebarsButtonsReachTheirActions)
{
    Sidebar *sidebar = app->sidebar();
    MailApp::locate = [] { return std::nullopt; };
    answers->alert(0);
    answers->alert(0);
    answers->alert(0);
    sidebar->onMail();
    EXPECT_EQ(lastAlertTitle(), "Mail");
    cloud->on("POST", "/cli/case_link", FakeReply::json(QJsonObject{}, 500));
    cloud->on("POST", "/cli/wallet_link", FakeReply::json(QJsonObject{}, 500));
    sidebar->onCaseBoard();
    ASSERT_TRUE(waitFor([&] { return lastAlertTitle() == "Case Board"; }));
    EXPECT_FALSE(cloud->requestsTo("/cli/case_link").first().json().contains("board_id"));
    sidebar->onWallet();
    ASSERT_TRUE(waitFor([&] { return lastAlertTitle() == "Wallet"; }));
    sidebar->onSkills();
    EXPECT_TRUE(app->galleryPanel() && app->galleryPanel()->isVisible());
    sidebar->onAccountMenu(sidebar->avatar());
    QMenu *account = nullptr;
    ASSERT_TRUE(waitFor([&] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *m = qobject_cast<QMenu *>(w); m && m->isVisible())
                account = m;
        return account != nullptr;
    }));
    EXPECT_EQ(account->actions().first()->text(), "ca@firm.example");
    account->close();
    const QString other = home->file("Other");
    QDir().mkpath(other);
    sidebar->onOpenFolder(other);
    EXPECT_EQ(app->recentFolders().value(0), other);
    answers->openFolder(std::nullopt);
    sidebar->onPickFolder();
    ASSERT_EQ(answers->shownFolderPanels.size(), 1u);
    const Dialogs::FolderPanel &panel = answers->shownFolderPanels.front();
    EXPECT_EQ(panel.prompt, "Open in Velto");
    EXPECT_EQ(panel.message, "Pick any folder — a client folder, a downloads folder, anything you want Velto to work in.");
    EXPECT_EQ(panel.startDir, clients);
    EXPECT_TRUE(panel.canCreateFolders);
}

TEST_F(MenusTest, CaseBoardAndWalletOpenTheCloudsPageInANewTab)
{
    cloud->on("POST", "/cli/case_link", [&](const TestKit::RecordedRequest &r) {
        return FakeReply::json(QJsonObject{{"success", true}, {"url", cloud->baseUrl() + "/board?b=" + r.json().value("board_id").toVariant().toString()}});
    });
    cloud->on("POST", "/cli/wallet_link", FakeReply::json(QJsonObject{{"url", cloud->baseUrl() + "/wallet"}}));
    cloud->on("GET", "/board", FakeReply::text("<html><title>Board</title></html>"));
    cloud->on("GET", "/wallet", FakeReply::text("<html><title>Wallet</title></html>"));

    app->openCaseBoard(7);
    EXPECT_EQ(app->splashLabel()->text(), "Opening Case Board…");
    ASSERT_TRUE(waitFor([&] { return !cloud->requestsTo("/board").isEmpty(); }, 15000));
    const TestKit::RecordedRequest link = cloud->requestsTo("/cli/case_link").first();
    EXPECT_EQ(link.header("authorization"), "Bearer tok");
    EXPECT_EQ(link.json(), (QJsonObject{{"theme", "light"}, {"board_id", 7}}));
    EXPECT_EQ(cloud->requestsTo("/board").first().query, "b=7");
    EXPECT_TRUE(app->showingBrowser());
    EXPECT_EQ(app->browser()->current(), app->browser()->tabs().size() - 1);
    EXPECT_EQ(app->splashLabel()->text(), "");

    app->showChat();
    app->openWallet();
    EXPECT_EQ(app->splashLabel()->text(), "Opening Wallet…");
    ASSERT_TRUE(waitFor([&] { return !cloud->requestsTo("/wallet").isEmpty(); }, 15000));
    EXPECT_EQ(cloud->requestsTo("/cli/wallet_link").first().json(), (QJsonObject{{"theme", "light"}}));
    EXPECT_TRUE(answers->shownAlerts.empty());
}

TEST_F(MenusTest, CaseBoardAndWalletFailuresAreTold)
{
    struct Case {
        QString what;
        std::function<void()> setUp;
        QString title, text;
    };
    const QList<Case> cases{
        {"no seat", [&] { home->write(".velto/seat.env", "PAVI_SEAT_EMAIL=ca@firm.example\n"); }, "Wallet",
         "Sign in to Hallix first."},
        {"reply without an address",
         [&] {
             home->write(".velto/seat.env", "PAVI_SEAT_TOKEN=tok\n");
             cloud->on("POST", "/cli/wallet_link", FakeReply::json(QJsonObject{{"url", 5}}));
         },
         "Wallet", "Hallix did not open Wallet: no reply. Try again in a moment."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what.toStdString());
        c.setUp();
        answers->alert(0);
        const size_t before = answers->shownAlerts.size();
        app->openWallet();
        ASSERT_TRUE(waitFor([&] { return answers->shownAlerts.size() > before; }));
        EXPECT_EQ(lastAlertTitle(), c.title);
        EXPECT_EQ(lastAlertText(), c.text);
        EXPECT_EQ(answers->shownAlerts.back().style, Dialogs::Style::Warning);
        EXPECT_EQ(app->splashLabel()->text(), "");
        EXPECT_FALSE(app->showingBrowser());
    }
    // A failed request names the request's own error.
    cloud->on("POST", "/cli/case_link", FakeReply::json(QJsonObject{{"error", "board closed"}}, 500));
    answers->alert(0);
    app->openCaseBoard(0);
    ASSERT_TRUE(waitFor([&] { return lastAlertTitle() == "Case Board"; }));
    EXPECT_TRUE(lastAlertText().startsWith("Hallix did not open Case Board: ")) << lastAlertText().toStdString();
    EXPECT_TRUE(lastAlertText().endsWith(". Try again in a moment."));
    EXPECT_NE(lastAlertText(), "Hallix did not open Case Board: no reply. Try again in a moment.");
}

TEST_F(MenusTest, TheMailAppIsOpenedWhenItIsOnThisComputer)
{
    QList<MailApp::Found> started;
    std::optional<MailApp::Found> found;
    QString error;
    bool door = false;
    MailApp::locate = [&] { return found; };
    MailApp::open = [&](const MailApp::Found &f) {
        started << f;
        return error;
    };
    MailBridge::doorFor = [&]() -> std::optional<MailBridge::Door> {
        if (door)
            return MailBridge::Door{"http://127.0.0.1:1", "t"};
        return std::nullopt;
    };

    answers->alert(0);
    app->openMail();
    EXPECT_EQ(lastAlertTitle(), "Mail");
    EXPECT_EQ(lastAlertText(),
              "Hallix Mail is not on this computer yet. It keeps the firm's mailbox, calendar and contacts here rather "
              "than on a server, and Velto reads it only while you leave its Velto bridge on. Download it from "
              "https://hallix.in/mail, install it, then open Mail again.");
    EXPECT_TRUE(started.isEmpty());

    found = MailApp::Found{"/usr/share/applications/hallix-mail.desktop", true};
    app->openMail();
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(app->splashLabel()->text(),
              "Hallix Mail is open. Turn on Settings → General → Velto bridge there, then restart Hallix Mail, to let "
              "Velto read the mailbox.");
    door = true;
    app->openMail();
    EXPECT_EQ(app->splashLabel()->text(), "Hallix Mail is open — Velto can read this mailbox.");

    error = "No such file or directory";
    answers->alert(0);
    app->openMail();
    EXPECT_EQ(lastAlertText(), "Hallix Mail did not open: No such file or directory");
}

TEST_F(MenusTest, TheMailAppIsFoundByItsDesktopEntryElseItsProgram)
{
    AppTestKit::ScopedEnv env;
    env.set("XDG_DATA_HOME", home->file("data"));
    env.set("XDG_DATA_DIRS", home->file("system"));
    env.set("PATH", home->file("bin") + ":/usr/bin:/bin");
    EXPECT_FALSE(MailApp::defaultLocate());

    const QString program = home->write("bin/hallix-mail", "#!/bin/sh\ntouch \"$1\"\n");
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    std::optional<MailApp::Found> found = MailApp::defaultLocate();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, program);
    EXPECT_FALSE(found->desktopEntry);

    // The system's entry, then the user's own, wins over the program.
    const QString mark = home->file("started");
    home->write("system/applications/hallix-mail.desktop",
                "[Desktop Entry]\nType=Application\nExec=" + program.toUtf8() + " " + mark.toUtf8() + ".system\n");
    found = MailApp::defaultLocate();
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->desktopEntry);
    EXPECT_EQ(found->path, home->file("system/applications/hallix-mail.desktop"));
    const QString own = home->write("data/applications/hallix-mail.desktop",
                                    "[Desktop Entry]\nName=Hallix Mail\nExec=\"" + program.toUtf8() + "\" %U " +
                                        mark.toUtf8() + "\n[Desktop Action new]\nExec=nothing\n");
    found = MailApp::defaultLocate();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, own);
    EXPECT_EQ(MailApp::defaultOpen(*found), "");
    EXPECT_TRUE(waitFor([&] { return QFile::exists(mark); }));
}

TEST(MailAppEntry, ExecLines)
{
    TestKit::TempHome home;
    const QList<QPair<QByteArray, QStringList>> cases{
        {"[Desktop Entry]\nExec=/opt/hallix-mail/hallix-mail %U\n", {"/opt/hallix-mail/hallix-mail"}},
        {"[Desktop Entry]\nExec = \"/opt/Hallix Mail/run\" --tray %f 100%%\n", {"/opt/Hallix Mail/run", "--tray", "100%"}},
        {"[Desktop Action x]\nExec=/wrong\n[Desktop Entry]\nExecutable=/no\nExec=/right\n", {"/right"}},
        {"[Desktop Entry]\nName=No command\n", {}},
        {"", {}},
    };
    for (const auto &[text, command] : cases) {
        const QString file = home.write("entry.desktop", text);
        EXPECT_EQ(MailApp::execCommand(file), command) << text.toStdString();
    }
    EXPECT_TRUE(MailApp::execCommand(home.file("missing.desktop")).isEmpty());
}

TEST_F(MenusTest, ReloadAndZoomActOnTheViewShown)
{
    struct Step {
        void (AppDelegate::*action)();
        double from, to;
    };
    const QList<Step> steps{
        {&AppDelegate::zoomIn, 1.95, 2.0}, {&AppDelegate::zoomIn, 2.0, 2.0},   {&AppDelegate::zoomOut, 0.65, 0.6},
        {&AppDelegate::zoomOut, 0.6, 0.6}, {&AppDelegate::zoomReset, 1.7, 1.0}, {&AppDelegate::zoomOut, 1.0, 0.9},
    };
    for (const bool browser : {false, true}) {
        browser ? app->showBrowser() : app->showChat();
        WebView *shown = browser ? app->browser()->web() : app->chat();
        WebView *other = browser ? app->chat() : app->browser()->web();
        EXPECT_EQ(app->frontWeb(), shown);
        other->setZoomFactor(1.3);
        for (const Step &s : steps) {
            shown->setZoomFactor(s.from);
            (app.get()->*s.action)();
            EXPECT_NEAR(shown->zoomFactor(), s.to, 1e-9) << s.from;
        }
        EXPECT_NEAR(other->zoomFactor(), 1.3, 1e-9) << "the other view keeps its zoom";
    }

    // Reload asks the shown page again.
    engine->on("GET", "/page", FakeReply::text("<html>page</html>"));
    app->showChat();
    app->chat()->load(QUrl(engine->baseUrl() + "/page"));
    ASSERT_TRUE(waitFor([&] { return engine->requestsTo("/page").size() == 1; }, 15000));
    app->reload();
    EXPECT_TRUE(waitFor([&] { return engine->requestsTo("/page").size() == 2; }, 15000));
}

TEST_F(MenusTest, OpeningAFolderMovesItFrontAndOpensItsNewestSession)
{
    const QString a = home->file("A"), b = home->file("B");
    QDir().mkpath(a);
    QDir().mkpath(b);
    const QJsonArray list{
        QJsonObject{{"id", "ses_old"}, {"title", "Old"}, {"directory", a}, {"time", QJsonObject{{"updated", 5}}}},
        QJsonObject{{"id", "ses_new"}, {"title", "New"}, {"directory", a}, {"time", QJsonObject{{"updated", 9}}}},
        QJsonObject{{"id", "ses_b"}, {"title", "Other"}, {"directory", clients}, {"time", QJsonObject{{"updated", 20}}}},
    };
    engine->on("GET", "/session", FakeReply::json(QJsonDocument(list)));

    app->openFolder(a);
    EXPECT_EQ(app->statusLabel()->text(), "A");
    ASSERT_TRUE(waitFor([&] { return app->sessions().openedPage.path().endsWith("/session/ses_new"); }));
    for (const TestKit::RecordedRequest &r : engine->requestsTo("/session"))
        EXPECT_EQ(r.method, "GET") << "no session is made";

    app->openFolder(b);
    ASSERT_TRUE(waitFor([&] {
        for (const TestKit::RecordedRequest &r : engine->requestsTo("/session"))
            if (r.method == "POST")
                return true;
        return false;
    })) << "a folder without sessions gets a new one";
    app->openFolder(a + "/");
    EXPECT_EQ(app->recentFolders(), (QStringList{a, b})) << "the same path moves to the front, once";
    EXPECT_EQ(app->sidebar()->folders(), (QStringList{a, b}));
    EXPECT_EQ(app->sidebar()->currentDir(), a);
}

TEST_F(MenusTest, AboutNamesTheVersionTheSeatAndTheFolder)
{
    struct Case {
        QByteArray version, seat;
        bool work;
        QString title, text;
    };
    const QString intro = "A work agent for Chartered Accountants, by Hallix.\n\nSigned in as ";
    const QList<Case> cases{
        {"3.0.2\n", "PAVI_SEAT_TOKEN=tok\nPAVI_SEAT_EMAIL=ca@firm.example\n", true, "Velto 3.0.2",
         intro + "ca@firm.example\nWorkspace: " + home->file("Clients")},
        {{}, "PAVI_SEAT_TOKEN=tok\n", false, "Velto 1.0.0", intro + "-\nWorkspace: not set"},
    };
    for (const Case &c : cases) {
        QFile::remove(VELTO_HOME + "/VERSION");
        if (!c.version.isEmpty())
            home->write(".velto/VERSION", c.version);
        home->write(".velto/seat.env", c.seat);
        app->setWork(c.work ? std::optional<QString>(clients) : std::nullopt);
        answers->alert(0);
        app->about();
        EXPECT_EQ(lastAlertTitle(), c.title);
        EXPECT_EQ(lastAlertText(), c.text);
        EXPECT_EQ(answers->shownAlerts.back().buttons, QStringList{"OK"});
        EXPECT_EQ(answers->shownAlerts.back().style, Dialogs::Style::Informational);
    }
}

TEST_F(MenusTest, PortalSignInHandOffShowsTheBrowserAndReportsTheOutcome)
{
    app->showPortals();
    ASSERT_TRUE(app->portalPanel()->onSignIn);
    PortalLogin login;
    login.id = "l1";
    login.portal = "Nowhere Portal";
    login.url = "not an address";
    app->portalPanel()->onSignIn(login);
    EXPECT_TRUE(app->showingBrowser());
    ASSERT_TRUE(waitFor([&] { return app->statusLabel()->text() == "login form not found"; }))
        << app->statusLabel()->text().toStdString();
    EXPECT_EQ(beeps, 0);
}

TEST_F(MenusTest, TheGalleryStartsAJobWithTheCardsPrompt)
{
    engine->on("POST", "/session/ses_new/prompt_async", FakeReply::text("", 204));
    app->showGallery();
    GalleryWindow *gallery = app->galleryPanel();
    ASSERT_TRUE(gallery && gallery->onStart);
    gallery->onStart("File GSTR-1 for Sharma & Co");
    ASSERT_TRUE(waitFor([&] { return !engine->requestsTo("/session/ses_new/prompt_async").isEmpty(); }));
    EXPECT_TRUE(engine->requestsTo("/session/ses_new/prompt_async").first().body.contains("File GSTR-1 for Sharma & Co"));
    app->showGallery();
    EXPECT_EQ(app->galleryPanel(), gallery) << "made once, shown again";
}

} // namespace

namespace {

TEST_F(MenusTest, DemoActionsDriveTheApp)
{
    app->demoAction("browser", {});
    EXPECT_TRUE(app->showingBrowser());
    app->demoAction("Chat", {});
    EXPECT_TRUE(app->showingBrowser()) << "names are exact";
    app->demoAction("chat", {});
    EXPECT_FALSE(app->showingBrowser());

    // A tab opens only for an address, and then in front.
    app->demoAction("tab", {{"open", "not an address"}});
    app->demoAction("tab", {{"open", 5}});
    EXPECT_FALSE(app->showingBrowser());
    EXPECT_EQ(app->browser()->tabs().size(), 1);
    engine->on("GET", "/page", FakeReply::text("<html>page</html>"));
    app->demoAction("tab", {{"open", engine->baseUrl() + "/page"}});
    EXPECT_TRUE(app->showingBrowser());
    EXPECT_EQ(app->browser()->tabs().size(), 2);
    EXPECT_EQ(app->browser()->current(), 1);
    EXPECT_TRUE(waitFor([&] { return !engine->requestsTo("/page").isEmpty(); }, 15000));

    // The window is sized and centred on its screen's free area.
    const QRect before = app->window()->geometry();
    for (const QJsonValue &bad : {QJsonValue(QJsonArray{1280}), QJsonValue(QJsonArray{1280, "800"}), QJsonValue("1280x800")})
        app->demoAction("size", {{"wh", bad}});
    EXPECT_EQ(app->window()->geometry(), before);
    app->demoAction("size", {{"wh", QJsonArray{1280, 800}}});
    const QRect visible = app->window()->screen()->availableGeometry();
    EXPECT_EQ(app->window()->geometry(),
              QRect(visible.x() + (visible.width() - 1280) / 2, visible.y() + (visible.height() - 800) / 2, 1280, 800));

    // The case board's number: an integer, else 0.
    cloud->on("POST", "/cli/case_link", FakeReply::json(QJsonObject{}));
    const QList<QPair<QJsonObject, QJsonValue>> boards{
        {{}, QJsonValue::Undefined}, {{{"board", 7}}, 7}, {{{"board", "7"}}, QJsonValue::Undefined}, {{{"board", 2.5}}, QJsonValue::Undefined}};
    for (const auto &[args, sent] : boards) {
        cloud->clearRequests();
        answers->alert(0);
        app->demoAction("caseboard", args);
        ASSERT_TRUE(cloud->waitForRequests(1));
        EXPECT_EQ(cloud->requests().first().json().value("board_id"), sent);
        ASSERT_TRUE(waitFor([&] { return lastAlertTitle() == "Case Board"; }));
        answers->shownAlerts.clear();
    }

    // The search goes only to a gallery that exists; the panels open by name.
    app->demoAction("gallerySearch", {{"text", "gst"}});
    EXPECT_FALSE(app->galleryPanel());
    for (const QString &name : QStringList{"usage", "plans", "skills", "integrations", "activity", "erp", "portals", "gallery"})
        app->demoAction(name, {});
    const QList<QWidget *> panels{app->usagePanel(),    app->plansPanel(), app->skillsPanel(), app->integrationsPanel(),
                                  app->activityPanel(), app->erpPanel(),   app->portalPanel(), app->galleryPanel()};
    for (QWidget *panel : panels)
        ASSERT_TRUE(panel && panel->isVisible());
    app->demoAction("gallerySearch", {{"text", "gst"}});
    app->demoAction("limits", {});
    EXPECT_TRUE(app->limitsPopover()->popover()->isVisible());
    app->limitsPopover()->popover()->hide();
    app->demoAction("closePanels", {});
    for (QWidget *panel : panels)
        EXPECT_TRUE(panel->isHidden());
    EXPECT_TRUE(app->window()->isVisible());

    // The script goes to the first visible other window's web view.
    auto *holder = new QWidget(app->window(), Qt::Window);
    auto *inner = new QWidget(holder);
    auto *web = new WebView(TestKit::webProfile(), inner);
    QSignalSpy loaded(web, &QWebEngineView::loadFinished);
    web->setHtml("<title>before</title>");
    ASSERT_TRUE(waitFor([&] { return !loaded.isEmpty(); }, 15000));
    holder->show();
    EXPECT_EQ(AppDelegate::firstWeb(holder), web);
    EXPECT_EQ(AppDelegate::firstWeb(nullptr), nullptr);
    app->demoAction("panelJS", {{"js", "document.title = 'after'"}});
    EXPECT_TRUE(waitFor([&] { return web->title() == "after"; }, 10000));

    // A job needs its text.
    const auto posts = [&] {
        int n = 0;
        for (const TestKit::RecordedRequest &r : engine->requestsTo("/session"))
            n += r.method == "POST";
        return n;
    };
    app->demoAction("job", {});
    app->demoAction("newSession", {});
    ASSERT_TRUE(waitFor([&] { return posts() > 0; }));
    TestKit::spin(200);
    EXPECT_EQ(posts(), 1);
}

TEST_F(MenusTest, TheLaunchOpensThePanelItIsToldTo)
{
    app->openPanelNamed("limits");
    app->openPanelNamed("Usage");
    EXPECT_FALSE(app->usagePanel());
    app->openPanelNamed("usage");
    EXPECT_TRUE(app->usagePanel() && app->usagePanel()->isVisible());
    app->openPanelNamed("erp");
    EXPECT_TRUE(app->erpPanel() && app->erpPanel()->isVisible());

    // The cloud's pages wait 5 s first.
    AppTestKit::ScopedTimeScale fast(0.01);
    cloud->on("POST", "/cli/wallet_link", FakeReply::json(QJsonObject{}));
    answers->alert(0);
    app->openPanelNamed("wallet");
    EXPECT_TRUE(cloud->requestsTo("/cli/wallet_link").isEmpty());
    EXPECT_TRUE(waitFor([&] { return lastAlertTitle() == "Wallet"; }));
}

} // namespace
