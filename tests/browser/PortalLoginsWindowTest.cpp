// The portal logins window: saving, editing and deleting logins with the
// passwords only in the secret store, the delete question, the row lines and
// their colours, the portal's login page, and sign-in through the hook.
#include "browser/BrowserPane.h"
#include "browser/BrowserTab.h"
#include "browser/PortalLoginsWindow.h"
#include "browser/PortalSignIn.h"
#include "browser/PortalVault.h"
#include "core/Globals.h"
#include "platform/SecretStore.h"
#include "support/TestKit.h"
#include "ui/PanelKit.h"
#include "ui/Theme.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

using namespace TestKit;

namespace {

const QString kService = QStringLiteral("in.hallix.velto.portal");

class PortalLoginsWindowTest : public HomeTest {
protected:
    std::optional<QString> savedOverride;
    std::unique_ptr<PortalLoginsWindow> window;

    void SetUp() override
    {
        HomeTest::SetUp();
        SecretStore::useMemory();
        savedOverride = Theme::override();
        Theme::setOverride(QStringLiteral("light"));
    }
    void TearDown() override
    {
        window.reset();
        Theme::setOverride(savedOverride);
        HomeTest::TearDown();
    }

    PortalLoginsWindow &open()
    {
        window = std::make_unique<PortalLoginsWindow>();
        window->show();
        return *window;
    }

    static void choosePortal(PortalLoginsWindow &w, const QString &name)
    {
        w.portalField()->setCurrentIndex(w.portalField()->findText(name));
        w.portalChanged();
    }

    // Fills the form and presses Save.
    static void fill(PortalLoginsWindow &w, const QString &client, const QString &portal, const QString &user,
                     const QString &password = QString(), const QString &url = QString(), const QString &note = QString())
    {
        w.clientField()->setText(client);
        w.portalField()->setCurrentIndex(w.portalField()->findText(portal));
        w.usernameField()->setText(user);
        w.passwordField()->setText(password);
        w.urlField()->setText(url);
        w.noteField()->setText(note);
    }

    static QString rowText(PortalLoginsWindow &w, int row, int role = Qt::DisplayRole)
    {
        return w.table()->model()->index(row, 0).data(role).toString();
    }
    static QColor rowColor(PortalLoginsWindow &w, int row)
    {
        return w.table()->model()->index(row, 0).data(PortalLoginsWindow::DetailColorRole).value<QColor>();
    }
};

TEST_F(PortalLoginsWindowTest, OpensEmptyWithTheCataloguePortals)
{
    PortalLoginsWindow &w = open();
    EXPECT_EQ(w.windowTitle(), "Portal Logins");
    EXPECT_EQ(w.size(), QSize(860, 560));
    EXPECT_EQ(w.minimumSize(), QSize(760, 520));
    EXPECT_TRUE(w.items().empty());
    EXPECT_EQ(w.table()->model()->rowCount(), 0);
    EXPECT_FALSE(w.editing());
    ASSERT_EQ(w.portalField()->count(), 12);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(w.portalField()->itemText(i), PortalCatalogue::list()[size_t(i)].first);
    EXPECT_EQ(w.passwordField()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(w.status()->stringValue(), "");
    EXPECT_EQ(TestKit::shown(w.signInButton()->text()), "Open & sign in");
}

TEST_F(PortalLoginsWindowTest, ClientAndUserIdAreNeeded)
{
    struct Case {
        const char *client, *user;
    } cases[] = {{"", "quenby_gst"}, {"   ", "quenby_gst"}, {"\t \t", "quenby_gst"},
                 {"Quenby Exports", ""}, {"Quenby Exports", " \t "}};
    PortalLoginsWindow &w = open();
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.client) + "/" + c.user);
        fill(w, c.client, "GST", c.user, "s3cret");
        w.saveItem();
        EXPECT_EQ(w.status()->stringValue(), "Client and user id are needed.");
        EXPECT_FALSE(QFile::exists(PortalVault::file())) << "nothing saved";
        EXPECT_TRUE(w.items().empty());
        EXPECT_FALSE(w.editing());
    }
}

TEST_F(PortalLoginsWindowTest, SavesANewLoginWithItsPasswordInTheSecretStore)
{
    PortalLoginsWindow &w = open();
    fill(w, "  Quenby Exports\t", "MCA", " quenby_mca ", "s3cret", " https://www.mca.gov.in/login ",
         " director's mobile ");
    w.saveItem();

    ASSERT_EQ(PortalVault::all().size(), 1u);
    const PortalLogin l = PortalVault::all()[0];
    EXPECT_EQ(l.client, "Quenby Exports");
    EXPECT_EQ(l.portal, "MCA");
    EXPECT_EQ(l.username, "quenby_mca");
    EXPECT_EQ(l.url, "https://www.mca.gov.in/login");
    EXPECT_EQ(l.note, " director's mobile ") << "the note is kept as typed";
    EXPECT_FALSE(l.id.isEmpty());
    EXPECT_EQ(SecretStore::get(kService, l.id), QString("s3cret"));
    EXPECT_FALSE(readFile(PortalVault::file()).contains("s3cret"));

    EXPECT_EQ(w.editing(), l.id) << "the saved login stays loaded";
    EXPECT_EQ(w.passwordField()->text(), "");
    EXPECT_EQ(w.status()->stringValue(), "Saved. Velto can sign in to MCA for Quenby Exports.");
    EXPECT_EQ(w.status()->palette().color(QPalette::WindowText), PanelKit::tone(w.status()->stringValue()));
    ASSERT_EQ(w.items().size(), 1u);
    EXPECT_EQ(rowText(w, 0), "Quenby Exports");
    EXPECT_EQ(rowText(w, 0, PortalLoginsWindow::DetailRole), "MCA · quenby_mca");
    EXPECT_EQ(rowColor(w, 0), Theme::muted());
    EXPECT_EQ(w.table()->selectionModel()->selectedRows().value(0).row(), 0) << "its row stays selected";

    // A second new login gets an id of its own.
    w.newItem();
    fill(w, "Arvind Traders", "GST", "arvind_gst");
    w.saveItem();
    ASSERT_EQ(PortalVault::all().size(), 2u);
    EXPECT_NE(PortalVault::all()[0].id, PortalVault::all()[1].id);
}

TEST_F(PortalLoginsWindowTest, PressingReturnInTheFormSaves)
{
    PortalLoginsWindow &w = open();
    fill(w, "Quenby Exports", "GST", "quenby_gst", "s3cret");
    QTest::keyClick(w.passwordField(), Qt::Key_Return);
    ASSERT_EQ(PortalVault::all().size(), 1u);
    EXPECT_EQ(w.status()->stringValue(), "Saved. Velto can sign in to GST for Quenby Exports.");
}

TEST_F(PortalLoginsWindowTest, EditingKeepsTheStoredPasswordWhenTheBoxIsEmpty)
{
    ASSERT_TRUE(PortalVault::upsert({"A1", "Quenby", "GST", "old_user", "", "", 0}, QString("first")).ok());
    PortalLoginsWindow &w = open();
    ASSERT_EQ(w.items().size(), 1u);
    w.selectRow(0);
    EXPECT_EQ(w.editing(), QString("A1"));
    w.usernameField()->setText("new_user");
    w.saveItem();

    ASSERT_EQ(PortalVault::all().size(), 1u) << "saved over, not beside";
    EXPECT_EQ(PortalVault::all()[0].username, "new_user");
    EXPECT_EQ(SecretStore::get(kService, "A1"), QString("first"));
    EXPECT_EQ(rowText(w, 0, PortalLoginsWindow::DetailRole), "GST · new_user");

    w.passwordField()->setText("second");
    w.saveItem();
    EXPECT_EQ(SecretStore::get(kService, "A1"), QString("second"));
    EXPECT_EQ(PortalVault::all().size(), 1u);
}

TEST_F(PortalLoginsWindowTest, SelectingARowLoadsItAndEmptiesThePasswordBox)
{
    ASSERT_TRUE(PortalVault::upsert({"A1", "Arvind", "EPFO", "arv", "https://epfo.example/login", "OTP on mobile", 0},
                                    QString("pw"))
                    .ok());
    ASSERT_TRUE(PortalVault::upsert({"B2", "Bharat", "Udyam", "bh", "", "", 0}).ok());
    PortalLoginsWindow &w = open();
    ASSERT_EQ(w.items().size(), 2u);

    struct Case {
        int row;
        const char *id, *client, *portal, *user, *url, *note, *status;
    } cases[] = {
        {0, "A1", "Arvind", "EPFO", "arv", "https://epfo.example/login", "OTP on mobile",
         "Password is in the system keyring. Leave the box empty to keep it."},
        {1, "B2", "Bharat", "Udyam", "bh", "", "", "No password saved yet for this login."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.id);
        w.passwordField()->setText("typed but not saved");
        w.selectRow(c.row);
        EXPECT_EQ(w.editing(), QString(c.id));
        EXPECT_EQ(w.clientField()->text(), c.client);
        EXPECT_EQ(w.portalField()->currentText(), c.portal);
        EXPECT_EQ(w.usernameField()->text(), c.user);
        EXPECT_EQ(w.urlField()->text(), c.url);
        EXPECT_EQ(w.noteField()->text(), c.note);
        EXPECT_EQ(w.passwordField()->text(), "");
        EXPECT_EQ(w.status()->stringValue(), c.status);
    }
    // Losing the selection leaves the form alone.
    w.selectRow(-1);
    EXPECT_EQ(w.editing(), QString("B2"));
    EXPECT_EQ(w.clientField()->text(), "Bharat");
}

TEST_F(PortalLoginsWindowTest, ALoginWithoutAPasswordIsFlaggedInTheWarningColour)
{
    ASSERT_TRUE(PortalVault::upsert({"A1", "Arvind", "GST", "arv", "", "", 0}, QString("pw")).ok());
    ASSERT_TRUE(PortalVault::upsert({"B2", "Bharat", "MCA", "bh", "", "", 0}).ok());
    PortalLoginsWindow &w = open();
    EXPECT_EQ(rowText(w, 0, PortalLoginsWindow::DetailRole), "GST · arv");
    EXPECT_EQ(rowColor(w, 0), Theme::muted());
    EXPECT_EQ(rowText(w, 1, PortalLoginsWindow::DetailRole), "MCA · bh · no password saved");
    EXPECT_EQ(rowColor(w, 1), Theme::amberInk());
}

TEST_F(PortalLoginsWindowTest, ChoosingAPortalFillsOnlyAnEmptyLoginPage)
{
    struct Case {
        const char *before, *portal, *after;
    } cases[] = {
        {"", "GST", "https://services.gst.gov.in/services/login"},
        {"", "EPFO", "https://unifiedportal-emp.epfindia.gov.in/epfo/"},
        {"", "Other", ""},
        {"https://mine.example/login", "GST", "https://mine.example/login"},
        {"https://mine.example/login", "Other", "https://mine.example/login"},
    };
    PortalLoginsWindow &w = open();
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.before) + " " + c.portal);
        w.urlField()->setText(c.before);
        choosePortal(w, c.portal);
        EXPECT_EQ(w.urlField()->text(), c.after);
    }
}

TEST_F(PortalLoginsWindowTest, NewClearsTheFormAndOffersTheCatalogueAddress)
{
    ASSERT_TRUE(PortalVault::upsert({"A1", "Arvind", "Income Tax", "arv", "https://x.example", "n", 0}).ok());
    PortalLoginsWindow &w = open();
    w.selectRow(0);
    w.passwordField()->setText("half typed");
    w.newItem();
    EXPECT_FALSE(w.editing());
    EXPECT_TRUE(w.table()->selectionModel()->selectedRows().isEmpty());
    for (QLineEdit *f : {w.clientField(), w.usernameField(), w.passwordField(), w.noteField()})
        EXPECT_EQ(f->text(), "");
    EXPECT_EQ(w.urlField()->text(), PortalCatalogue::url("Income Tax"));
    EXPECT_EQ(w.status()->stringValue(), "");

    // Saving now makes a second login rather than changing the first.
    fill(w, "Arvind", "GST", "arv2");
    w.saveItem();
    EXPECT_EQ(PortalVault::all().size(), 2u);
}

TEST_F(PortalLoginsWindowTest, DeleteAsksFirstAndCancelChangesNothing)
{
    ASSERT_TRUE(PortalVault::upsert({"A1", "Quenby", "GST", "q", "", "", 0}, QString("pw")).ok());
    PortalLoginsWindow &w = open();
    w.selectRow(0);
    {
        DialogAnswers answers;
        answers.alert(1); // Cancel
        w.deleteItem();
        ASSERT_EQ(answers.shownAlerts.size(), 1u);
        const Dialogs::Alert &a = answers.shownAlerts[0];
        EXPECT_EQ(a.title, "Delete the GST login for Quenby?");
        EXPECT_EQ(a.text, "The password is removed from the system keyring of this computer too.");
        EXPECT_EQ(a.style, Dialogs::Style::Warning);
        EXPECT_EQ(a.buttons, (QStringList{"Delete", "Cancel"}));
    }
    EXPECT_EQ(PortalVault::all().size(), 1u);
    EXPECT_EQ(SecretStore::get(kService, "A1"), QString("pw"));
    EXPECT_EQ(w.editing(), QString("A1"));
    EXPECT_EQ(w.clientField()->text(), "Quenby");

    {
        DialogAnswers answers;
        answers.alert(0); // Delete
        w.deleteItem();
    }
    EXPECT_TRUE(PortalVault::all().empty());
    EXPECT_FALSE(SecretStore::get(kService, "A1")) << "the password goes with it";
    EXPECT_TRUE(w.items().empty());
    EXPECT_EQ(w.table()->model()->rowCount(), 0);
    EXPECT_FALSE(w.editing());
    EXPECT_EQ(w.clientField()->text(), "");

    // Nothing loaded: no question at all (an unanswered alert fails the test).
    DialogAnswers none;
    w.deleteItem();
    EXPECT_TRUE(none.shownAlerts.empty());
}

TEST_F(PortalLoginsWindowTest, AStoreThatCannotBeWrittenIsShownAndKeepsTheForm)
{
    {
        QDir().mkpath(QFileInfo(PortalVault::file()).absolutePath());
        QFile f(PortalVault::file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("{ not json");
    }
    PortalLoginsWindow &w = open();
    EXPECT_TRUE(w.items().empty()) << "unreadable reads as empty";
    fill(w, "Quenby", "GST", "q", "s3cret");
    w.saveItem();
    const QString status = w.status()->stringValue();
    EXPECT_FALSE(status.startsWith("Saved.")) << status.toStdString();
    EXPECT_TRUE(status.contains("could not be read")) << status.toStdString();
    EXPECT_EQ(w.passwordField()->text(), "s3cret") << "kept for another try";
    EXPECT_FALSE(w.editing());
    EXPECT_EQ(readFile(PortalVault::file()), "{ not json");
}

TEST_F(PortalLoginsWindowTest, APasswordTheSecretStoreRefusesIsShown)
{
    SecretStore::set = [](const QString &, const QString &, const QString &) { return false; };
    PortalLoginsWindow &w = open();
    fill(w, "Quenby", "GST", "q", "s3cret");
    w.saveItem();
    EXPECT_EQ(w.status()->stringValue(),
              "The login was saved, but its password could not be stored in the secret store.");
    EXPECT_EQ(w.status()->palette().color(QPalette::WindowText), PanelKit::tone(w.status()->stringValue()));
    ASSERT_EQ(w.items().size(), 1u);
    EXPECT_EQ(rowText(w, 0, PortalLoginsWindow::DetailRole), "GST · q · no password saved");
    EXPECT_EQ(w.passwordField()->text(), "");
}

TEST_F(PortalLoginsWindowTest, SignInHandsTheLoadedLoginToTheHook)
{
    ASSERT_TRUE(PortalVault::upsert({"A1", "Quenby", "GST", "q", "", "", 0}, QString("pw")).ok());
    PortalLoginsWindow &w = open();
    std::vector<PortalLogin> asked;

    w.signIn(); // no hook, nothing loaded
    EXPECT_EQ(w.status()->stringValue(), "Pick a saved login first.");

    w.onSignIn = [&](const PortalLogin &l) { asked.push_back(l); };
    w.signIn();
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(w.status()->stringValue(), "Pick a saved login first.");

    w.selectRow(0);
    w.signInButton()->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], PortalVault::all()[0]);

    // A login that was deleted behind the window's back is not signed in.
    w.onSignIn = nullptr;
    w.signIn(); // loaded, no hook: nothing happens
    ASSERT_TRUE(PortalVault::remove("A1").ok());
    w.newItem();
    w.signIn();
    EXPECT_EQ(asked.size(), 1u);
}

TEST_F(PortalLoginsWindowTest, SignInThroughTheHookRunsTheAutofill)
{
    BrowserTab::profile = [] { return webProfile(); };
    BrowserPane pane(QRect(0, 0, 900, 600));
    ASSERT_TRUE(PortalVault::upsert({"A1", "Arvind", "Other", "arv", "", "", 0}, QString("pw")).ok());
    ASSERT_TRUE(PortalVault::upsert({"B2", "Bharat", "GST", "bh", "", "", 0}).ok());
    PortalLoginsWindow &w = open();
    QStringList outcomes;
    w.onSignIn = [&](const PortalLogin &l) {
        PortalSignIn::run(pane, l, [&](const QString &outcome) { outcomes.append(outcome); });
    };
    const int tabs = int(pane.tabs().size());
    struct Case {
        int row;
        const char *outcome;
    } cases[] = {{0, "no_login_page"}, {1, "no_password"}};
    for (const Case &c : cases) {
        outcomes.clear();
        w.selectRow(c.row);
        w.signIn();
        ASSERT_TRUE(waitFor([&] { return !outcomes.isEmpty(); }));
        EXPECT_EQ(outcomes, QStringList{c.outcome});
    }
    EXPECT_EQ(int(pane.tabs().size()), tabs) << "nothing opened without a page and a password";
}

TEST_F(PortalLoginsWindowTest, RepaintKeepsTheFormAndTheStatus)
{
    ASSERT_TRUE(PortalVault::upsert({"A1", "Arvind", "GST", "arv", "", "", 0}).ok());
    PortalLoginsWindow &w = open();
    w.selectRow(0);
    w.passwordField()->setText("typing");
    w.noteField()->setText("half a note");
    const QString status = w.status()->stringValue();

    Theme::setOverride(QStringLiteral("dark"));
    w.repaint();
    EXPECT_EQ(w.clientField()->text(), "Arvind");
    EXPECT_EQ(w.passwordField()->text(), "typing");
    EXPECT_EQ(w.noteField()->text(), "half a note");
    EXPECT_EQ(w.status()->stringValue(), status);
    EXPECT_EQ(w.status()->palette().color(QPalette::WindowText), PanelKit::tone(status));
    EXPECT_EQ(rowColor(w, 0), Theme::amberInk());
    EXPECT_EQ(w.table()->model()->index(0, 0).data(Qt::ForegroundRole).value<QColor>(), Theme::ink());
    for (QWidget *f : std::initializer_list<QWidget *>{w.clientField(), w.portalField(), w.table(), w.status(),
                                                       w.saveButton(), w.signInButton()}) {
        EXPECT_TRUE(w.isAncestorOf(f));
        EXPECT_TRUE(f->isVisible());
    }
    // The buttons still act after the rebuild.
    w.saveButton()->click();
    EXPECT_EQ(PortalVault::password("A1"), QString("typing"));
}

TEST_F(PortalLoginsWindowTest, ItsButtonsArePillsInBothThemes)
{
    ASSERT_TRUE(PortalVault::upsert({"A1", "Arvind", "GST", "arv", "", "", 0}).ok());
    PortalLoginsWindow &w = open();
    for (bool dark : {false, true}) {
        Theme::setOverride(dark ? QStringLiteral("dark") : QStringLiteral("light"));
        w.repaint();
        QCoreApplication::sendPostedEvents();
        for (QPushButton *b : w.findChildren<QPushButton *>()) {
            if (!b->isVisible())
                continue;
            EXPECT_TRUE(b->styleSheet().contains(QStringLiteral("border-radius:%1px").arg(b->height() / 2.0)))
                << TestKit::shown(b->text()).toStdString() << " at height " << b->height();
        }
        const QString dir = qEnvironmentVariable("VELTO_PANEL_SHOTS");
        if (!dir.isEmpty())
            w.grab().save(dir + (dark ? QStringLiteral("/portals-dark.png") : QStringLiteral("/portals-light.png")));
    }
}

TEST_F(PortalLoginsWindowTest, TheFormFollowsTheWindowsSize)
{
    PortalLoginsWindow &w = open();
    w.resize(1060, 660);
    ASSERT_TRUE(waitFor([&] { return w.signInButton()->geometry().x() == 908; }));
    EXPECT_EQ(w.signInButton()->geometry().y(), 660 - 20 - 32) << "kept at the bottom";
    EXPECT_EQ(w.newButton()->geometry(), QRect(22, 608, 118, 32));
    // The user id and password columns share the extra width of the card.
    const QRect user = w.usernameField()->parentWidget()->geometry();
    const QRect pass = w.passwordField()->parentWidget()->geometry();
    EXPECT_EQ(user.width(), 187 + 100);
    EXPECT_EQ(pass.x(), 217 + 100);
    EXPECT_EQ(pass.right(), w.urlField()->parentWidget()->geometry().right());
}

} // namespace
