// The ERP connection window against the fake cloud and ERP: the client list,
// a link pairing polled until the client decides or the link runs out, a
// code pairing, copying and sharing the link, removing a connection, and a
// theme change while a pairing waits.
#include "ErpFixture.h"
#include "panels/ErpWindow.h"
#include "platform/Desktop.h"
#include "ui/PanelKit.h"
#include "ui/Theme.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QUrlQuery>

using namespace ErpFakes;
using namespace TestKit;

namespace {

const QString kGstin = "24AAQFK5512M1Z8";
const QString kPoll = "/erp/api/cli/v1/connect/poll";

class ErpWindowTest : public ErpTest {
protected:
    std::unique_ptr<ErpWindow> window;
    std::optional<QString> savedOverride;
    decltype(Desktop::openUrl) savedOpen;
    QList<QUrl> opened;

    void SetUp() override
    {
        ErpTest::SetUp();
        savedOverride = Theme::override();
        Theme::setOverride(QStringLiteral("light"));
        savedOpen = Desktop::openUrl;
        Desktop::openUrl = [this](const QUrl &u) {
            opened << u;
            return true;
        };
        cloud->setClients(QJsonArray{
            QJsonObject{{"id", 42}, {"company_name", "Quenby Traders"}, {"gstin", kGstin}},
            QJsonObject{{"id", 43}, {"company_name", "No Gstin Co"}},
        });
        startReply(1900000000);
        erp->answer("connect/poll", QJsonObject{{"status", "pending"}});
    }
    void TearDown() override
    {
        window.reset();
        Desktop::openUrl = savedOpen;
        Theme::setOverride(savedOverride);
        ErpTest::TearDown();
    }

    void startReply(std::optional<double> expires)
    {
        QJsonObject reply{{"request_id", "req-1"},
                          {"poll_secret", "sec-1"},
                          {"code", "K7Q2-M9XD"},
                          {"approve_url", erp->base() + "/connect/req-1"}};
        if (expires)
            reply.insert("expires_at", *expires);
        erp->answer("connect/start", reply);
    }
    static double now() { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; }

    // Opens the window with polls every 0.2 s and waits for the client list.
    ErpWindow &open()
    {
        const double scale = Dispatch::timeScale;
        Dispatch::timeScale = 0.04;
        window = std::make_unique<ErpWindow>();
        Dispatch::timeScale = scale;
        window->show();
        EXPECT_TRUE(waitFor([&] { return window->clientPopUp()->itemText(0) != "Loading clients…"; }, 20000));
        return *window;
    }
    QString status() const { return window->status()->stringValue(); }
    bool waitForStatus(const std::function<bool(const QString &)> &pred) const
    {
        return waitFor([&] { return pred(status()); }, 20000);
    }
    // Sends the link to the client at index and waits until it waits.
    void sendTo(int index)
    {
        window->clientPopUp()->setCurrentIndex(index);
        window->send();
        ASSERT_TRUE(waitFor([&] { return window->started().has_value(); }, 20000)) << status().toStdString();
    }
    bool linkAreaShown() const
    {
        return window->linkField()->isVisible() && window->linkBox()->isVisible() &&
               window->copyButton()->isVisible() && window->shareButton()->isVisible();
    }
    bool linkAreaHidden() const
    {
        return !window->linkField()->isVisible() && !window->linkBox()->isVisible() &&
               !window->copyButton()->isVisible() && !window->shareButton()->isVisible();
    }
    void connection(const QString &id, const QString &company, const QString &gstin, const QStringList &scopes)
    {
        ASSERT_TRUE(ErpVault::upsert(
            ErpConnection{id, 0, company, gstin, erp->base(), company + " LLP", gstin, "Asha", scopes, 0, 0},
            "token-" + id));
    }
    // A grab of the window, saved under VELTO_PANEL_SHOTS (when set) for a look.
    static void shot(QWidget *w, const QString &name)
    {
        const QString dir = qEnvironmentVariable("VELTO_PANEL_SHOTS");
        if (dir.isEmpty())
            return;
        QDir().mkpath(dir);
        w->grab().toImage().save(dir + "/erp-" + name + ".png");
    }
};

TEST_F(ErpWindowTest, ListsTheConnectionsAndTheCloudsClients)
{
    connection("B", "beta Works", "29BBBBB1111B1Z3", {"read"});
    connection("A", "Alpha Traders", "27AAAAA0000A1Z5", {"read", "write:sells"});
    ErpWindow &w = open();

    EXPECT_EQ(w.windowTitle(), "Ledgora ERP");
    EXPECT_EQ(w.baseField()->text(), ErpConnect::defaultBase);
    EXPECT_FALSE(w.invoicesBox()->isChecked());
    EXPECT_TRUE(linkAreaHidden());
    ASSERT_EQ(w.items().size(), 2u);
    const QAbstractItemModel *m = w.table()->model();
    ASSERT_EQ(m->rowCount(), 2);
    EXPECT_EQ(m->index(0, 0).data().toString(), "Alpha Traders");
    EXPECT_EQ(m->index(0, 0).data(Qt::UserRole + 1).toString(),
              "27AAAAA0000A1Z5 · read, raise invoices · approved by Asha");
    EXPECT_EQ(m->index(1, 0).data(Qt::UserRole + 1).toString(), "29BBBBB1111B1Z3 · read only · approved by Asha");

    ASSERT_EQ(w.clientPopUp()->count(), 2);
    EXPECT_EQ(w.clientPopUp()->itemText(0), "Quenby Traders  ·  " + kGstin);
    EXPECT_EQ(w.clientPopUp()->itemText(1), "No Gstin Co  (no GSTIN on Hallix)");
    EXPECT_TRUE(w.sendButton()->isEnabled());
    EXPECT_EQ(status(), "");
    EXPECT_EQ(cloud->server.requestsTo("/cli/clients").last().header("Authorization"), "Bearer seat-1");
    w.selectRow(0);
    shot(&w, "clients-light");
}

TEST_F(ErpWindowTest, AnEmptyClientListSaysWhy)
{
    struct Case {
        bool signedIn;
        QString item;
        QString status;
    };
    const std::vector<Case> cases{
        {true, "No clients linked to you on Hallix",
         "A client links you from their Hallix dashboard (Find CA). Once they have, they appear here."},
        {false, "Could not load clients", "Not signed in to Hallix."},
    };
    cloud->setClients({});
    for (const Case &c : cases) {
        if (!c.signedIn)
            QFile::remove(SEAT_ENV);
        ErpWindow &w = open();
        EXPECT_EQ(w.clientPopUp()->count(), 1);
        EXPECT_EQ(w.clientPopUp()->itemText(0), c.item);
        EXPECT_FALSE(w.sendButton()->isEnabled());
        EXPECT_EQ(status(), c.status);
        w.send();
        EXPECT_EQ(status(), "Pick a client.");
    }
    EXPECT_EQ(erp->server.requests().size(), 0);
}

TEST_F(ErpWindowTest, ALinkPairingPollsUntilTheClientApproves)
{
    ErpWindow &w = open();
    w.invoicesBox()->setChecked(true);
    w.baseField()->setText(erp->base() + "/");
    sendTo(0);
    EXPECT_EQ(QUrlQuery(QString::fromUtf8(erp->server.requestsTo("/erp/api/cli/v1/connect/start").last().body))
                  .queryItemValue("want_write"),
              "1");
    EXPECT_EQ(w.codeLabel()->text(), "K7Q2-M9XD");
    EXPECT_EQ(w.linkField()->text(), erp->base() + "/connect/req-1");
    EXPECT_TRUE(linkAreaShown());
    EXPECT_FALSE(w.sendButton()->isEnabled());
    EXPECT_TRUE(w.polling());
    EXPECT_EQ(status(), "Send this link to Quenby Traders. Waiting for them to approve in their ERP…");

    // Polls go on while the client has not decided.
    ASSERT_TRUE(erp->server.waitForRequests(erp->server.requests().size() + 2, 20000));
    ASSERT_TRUE(waitForStatus([](const QString &s) { return s.startsWith("Waiting for Quenby Traders"); }));
    const auto form = QUrlQuery(QString::fromUtf8(erp->server.requestsTo(kPoll).last().body));
    EXPECT_EQ(form.queryItemValue("request_id"), "req-1");
    EXPECT_EQ(form.queryItemValue("poll_secret"), "sec-1");
    shot(&w, "waiting-light");

    erp->answer("connect/poll", QJsonObject{{"status", "approved"},
                                            {"token", "erp-token"},
                                            {"business", "Quenby Traders LLP"},
                                            {"business_gstin", kGstin},
                                            {"approved_by", "Asha (owner)"},
                                            {"scopes", QJsonArray{"read", "write:sells"}}});
    ASSERT_TRUE(waitForStatus([](const QString &s) { return s.startsWith("Connected"); }));
    EXPECT_EQ(status(), "Connected: Quenby Traders (" + kGstin +
                            "), approved by Asha (owner) in Quenby Traders LLP — read, raise invoices. Velto can use "
                            "it now.");
    EXPECT_FALSE(w.polling());
    EXPECT_FALSE(w.started());
    EXPECT_TRUE(w.sendButton()->isEnabled());
    EXPECT_TRUE(linkAreaHidden());
    EXPECT_EQ(w.codeLabel()->text(), "");
    ASSERT_EQ(w.items().size(), 1u);
    EXPECT_EQ(w.items()[0].company, "Quenby Traders");
    EXPECT_EQ(ErpVault::token(w.items()[0].id), "erp-token");
    EXPECT_EQ(w.table()->model()->rowCount(), 1);
    shot(&w, "connected-light");

    // No poll after the end.
    const int polls = erp->server.requestsTo(kPoll).size();
    spin(600);
    EXPECT_EQ(erp->server.requestsTo(kPoll).size(), polls);
}

TEST_F(ErpWindowTest, TheCountdownAndTheGiveUp)
{
    struct Case {
        std::optional<double> expiresIn; // seconds from now; none: the ERP gave no expiry
        QString shown;                   // the status after the first answer
        bool stillWaiting;
    };
    const QString expired = "The link expired before the client approved. Send a new one.";
    const QString waiting = "Waiting for Quenby Traders to approve in their ERP… (link expires in ";
    const std::vector<Case> cases{
        {150, waiting + "2 min)", true},
        {59, waiting + "0 min)", true},
        // The last minute and 30 seconds of grace after it still wait.
        {-20, waiting + "0 min)", true},
        {-40, expired, false},
        {std::nullopt, expired, false},
    };
    ErpWindow &w = open();
    w.baseField()->setText(erp->base());
    for (const Case &c : cases) {
        startReply(c.expiresIn ? std::optional<double>(now() + *c.expiresIn) : std::nullopt);
        // An earlier case still waiting ends first, so that a new link can go.
        if (w.started()) {
            erp->answer("connect/poll", QJsonObject{{"status", "denied"}});
            ASSERT_TRUE(waitForStatus([](const QString &s) { return s.startsWith("The client declined"); }));
            erp->answer("connect/poll", QJsonObject{{"status", "pending"}});
        }
        sendTo(0);
        ASSERT_TRUE(waitForStatus([&](const QString &s) { return s == c.shown; }))
            << status().toStdString() << " for " << c.shown.toStdString();
        EXPECT_EQ(w.polling(), c.stillWaiting);
        EXPECT_EQ(w.started().has_value(), c.stillWaiting);
        EXPECT_EQ(w.sendButton()->isEnabled(), !c.stillWaiting);
    }
}

TEST_F(ErpWindowTest, APairingThatFailsEndsWithTheReason)
{
    ErpWindow &w = open();
    w.baseField()->setText(erp->base());

    // A poll that gets no answer is not shown and polling goes on.
    sendTo(0);
    erp->fail(Failure::Drop);
    const int polls = erp->server.requestsTo(kPoll).size();
    ASSERT_TRUE(waitFor([&] { return erp->server.requestsTo(kPoll).size() >= polls + 2; }, 20000));
    EXPECT_TRUE(w.polling());
    EXPECT_FALSE(status().contains("Could not reach")) << status().toStdString();
    erp->fail(Failure::None);

    erp->answer("connect/poll", QJsonObject{{"status", "denied"}});
    ASSERT_TRUE(waitForStatus([](const QString &s) { return s == "The client declined. Nothing was shared."; }));
    EXPECT_FALSE(w.polling());
    EXPECT_TRUE(linkAreaHidden());

    // A client the cloud holds no GSTIN for can be sent a link, but its
    // approval is not saved.
    erp->answer("connect/poll",
                QJsonObject{{"status", "approved"}, {"token", "t"}, {"business_gstin", "29BBBBB1111B1Z3"}});
    sendTo(1);
    ASSERT_TRUE(waitForStatus([](const QString &s) { return s.startsWith("The approval came"); }));
    EXPECT_EQ(status(), "The approval came from a business with GSTIN 29BBBBB1111B1Z3, not No Gstin Co's . Not saved.");
    EXPECT_TRUE(w.items().empty());
    EXPECT_TRUE(ErpVault::all().empty());

    // A start that fails gives the button back.
    erp->fail(Failure::NotFoundBare);
    w.send();
    ASSERT_TRUE(waitForStatus([](const QString &s) { return s.contains("HTTP 404"); }));
    EXPECT_EQ(status(), "This ERP does not support Velto connect yet (HTTP 404).");
    EXPECT_TRUE(w.sendButton()->isEnabled());
    EXPECT_FALSE(w.started());
    EXPECT_FALSE(w.polling());
    w.baseField()->setText("http://erp.example.in");
    w.send();
    ASSERT_TRUE(waitForStatus([](const QString &s) { return s.contains("https://"); }));
    EXPECT_EQ(status(), "The ERP address must be an https:// address.");
}

TEST_F(ErpWindowTest, ASlowErpIsPolledOnceAtATime)
{
    ErpWindow &w = open();
    w.baseField()->setText(erp->base());
    sendTo(0);
    FakeReply slow = FakeReply::json(QJsonObject{{"status", "pending"}});
    slow.delayMs = 1500;
    erp->server.on("POST", kPoll, slow);
    const int before = erp->server.requestsTo(kPoll).size();
    ASSERT_TRUE(waitFor([&] { return erp->server.requestsTo(kPoll).size() > before; }, 20000));
    // Polls are due every 0.2 s; while the ERP takes 1.5 s no second one goes out.
    spin(1000);
    EXPECT_EQ(erp->server.requestsTo(kPoll).size(), before + 1);
    ASSERT_TRUE(waitFor([&] { return erp->server.requestsTo(kPoll).size() > before + 1; }, 20000));
    EXPECT_TRUE(w.polling());
}

TEST_F(ErpWindowTest, ReturnSendsTheLinkOnlyWhileTheButtonIsOn)
{
    ErpWindow &w = open();
    w.baseField()->setText(erp->base());
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.codeField()->setFocus();
    QTest::keyClick(w.codeField(), Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return w.started().has_value(); }, 20000)) << status().toStdString();
    const int starts = erp->server.requestsTo("/erp/api/cli/v1/connect/start").size();
    QTest::keyClick(w.codeField(), Qt::Key_Return);
    spin(200);
    EXPECT_EQ(erp->server.requestsTo("/erp/api/cli/v1/connect/start").size(), starts);
}

TEST_F(ErpWindowTest, ClosingTheWindowKeepsPollingAndAGoneWindowIsLeftAlone)
{
    ErpWindow &w = open();
    w.baseField()->setText(erp->base());
    sendTo(0);
    w.close();
    const int polls = erp->server.requestsTo(kPoll).size();
    ASSERT_TRUE(waitFor([&] { return erp->server.requestsTo(kPoll).size() >= polls + 2; }, 20000));
    EXPECT_TRUE(w.polling());

    // Answers that arrive after the window is gone touch nothing.
    erp->answer("connect/redeem", QJsonObject{{"token", "t"}, {"business_gstin", kGstin}});
    w.codeField()->setText("ABCDEFGH");
    w.redeemCode();
    w.send();
    window.reset();
    ASSERT_TRUE(waitFor([&] { return erp->server.requestsTo("/erp/api/cli/v1/connect/redeem").size() == 1; }, 20000));
    spin(500);
    EXPECT_EQ(ErpVault::all().size(), 1u);
}

TEST_F(ErpWindowTest, ACodeConnectsOnce)
{
    ErpWindow &w = open();
    w.baseField()->setText(erp->base());
    w.codeField()->setText("abcd-efg");
    w.redeemCode();
    ASSERT_TRUE(waitForStatus([](const QString &s) { return s.startsWith("The code is"); }));
    EXPECT_EQ(status(), "The code is 8 letters and numbers, like ABCD-EFGH.");

    erp->answer("connect/redeem", QJsonObject{{"token", "erp-token"},
                                              {"business", "Quenby Traders LLP"},
                                              {"business_gstin", kGstin},
                                              {"approved_by", "Asha"},
                                              {"scopes", QJsonArray{"read"}}});
    w.codeField()->setText("abcd-efgh");
    w.redeemCode();
    EXPECT_EQ(status(), "Checking the code with Hallix and the ERP…");
    EXPECT_FALSE(w.codeButton()->isEnabled());
    // A second click while the first is checked spends nothing.
    w.redeemCode();
    ASSERT_TRUE(waitForStatus([](const QString &s) { return s.startsWith("Connected"); }));
    EXPECT_EQ(status(), "Connected: Quenby Traders (" + kGstin + "), attached by Asha — read only. Velto can use it now.");
    spin(300);
    EXPECT_EQ(erp->server.requestsTo("/erp/api/cli/v1/connect/redeem").size(), 1);
    EXPECT_TRUE(w.codeButton()->isEnabled());
    EXPECT_EQ(w.codeField()->text(), "");
    ASSERT_EQ(w.items().size(), 1u);
    EXPECT_EQ(w.table()->model()->rowCount(), 1);
    // The link area was never touched.
    EXPECT_FALSE(w.started());
    EXPECT_TRUE(linkAreaHidden());
}

TEST_F(ErpWindowTest, CopyAndShareTheLink)
{
    ErpWindow &w = open();
    w.baseField()->setText(erp->base());
    w.shareWhatsApp();
    EXPECT_TRUE(opened.isEmpty());

    sendTo(0);
    w.copyLink();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), erp->base() + "/connect/req-1");
    EXPECT_EQ(status(), "Link copied. Waiting for the client to approve…");

    w.shareWhatsApp();
    ASSERT_EQ(opened.size(), 1);
    const QUrl url = opened[0];
    EXPECT_EQ(url.scheme(), "https");
    EXPECT_EQ(url.host(), "wa.me");
    EXPECT_EQ(url.path(), "/");
    EXPECT_EQ(QUrlQuery(url).queryItemValue("text", QUrl::FullyDecoded),
              "Please approve Velto access to Quenby Traders's books in Ledgora. Sign in and review what is asked: " +
                  erp->base() + "/connect/req-1 (code K7Q2-M9XD, valid 15 minutes)");
}

TEST_F(ErpWindowTest, TheShareAddressKeepsEveryCharacterOfTheMessage)
{
    for (const QString &message : {QString("a+b & c=d #e ?f/g"), QString("नमस्ते 100% ok")}) {
        const auto url = ErpWindow::whatsAppUrl(message);
        ASSERT_TRUE(url);
        const QString encoded = url->toString(QUrl::FullyEncoded);
        EXPECT_TRUE(encoded.startsWith("https://wa.me/?text=")) << encoded.toStdString();
        EXPECT_EQ(encoded.count('&'), 0) << encoded.toStdString();
        EXPECT_EQ(encoded.count('+'), 0) << encoded.toStdString();
        EXPECT_EQ(encoded.count('#'), 0) << encoded.toStdString();
        EXPECT_EQ(QUrlQuery(*url).queryItemValue("text", QUrl::FullyDecoded), message);
    }
}

TEST_F(ErpWindowTest, RemovingAConnectionAsksFirst)
{
    connection("A", "Alpha Traders", "27AAAAA0000A1Z5", {"read"});
    connection("B", "Beta Works", "29BBBBB1111B1Z3", {"read"});
    ErpWindow &w = open();
    DialogAnswers answers;

    w.removeItem();
    EXPECT_EQ(status(), "Pick a connection on the left.");
    EXPECT_TRUE(answers.shownAlerts.empty());

    w.selectRow(0);
    answers.alert(2);
    w.removeItem();
    ASSERT_EQ(answers.shownAlerts.size(), 1u);
    const Dialogs::Alert &asked = answers.shownAlerts[0];
    EXPECT_EQ(asked.title, "Remove Alpha Traders's ERP connection?");
    EXPECT_EQ(asked.text, "Velto forgets it on this computer at once. The client's approval still exists in their ERP "
                          "until they remove it under Connected CAs — open that page to remove it there too.");
    EXPECT_EQ(asked.style, Dialogs::Style::Warning);
    EXPECT_EQ(asked.buttons, QStringList({"Remove", "Remove and open Connected CAs", "Cancel"}));
    EXPECT_EQ(w.items().size(), 2u);

    answers.alert(-1); // closed without a choice
    w.removeItem();
    EXPECT_EQ(w.items().size(), 2u);

    answers.alert(1);
    w.removeItem();
    EXPECT_EQ(status(), "Removed Alpha Traders.");
    ASSERT_EQ(w.items().size(), 1u);
    EXPECT_EQ(w.items()[0].company, "Beta Works");
    EXPECT_FALSE(ErpVault::token("A"));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].toString(), erp->base() + "/connect/connected");

    w.selectRow(0);
    answers.alert(0);
    w.removeItem();
    EXPECT_EQ(status(), "Removed Beta Works.");
    EXPECT_TRUE(w.items().empty());
    EXPECT_TRUE(ErpVault::all().empty());
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(ErpWindowTest, AThemeChangeWhileWaitingKeepsThePairing)
{
    connection("A", "Alpha Traders", "27AAAAA0000A1Z5", {"read"});
    ErpWindow &w = open();
    w.baseField()->setText(erp->base());
    sendTo(0);
    w.selectRow(0);
    w.copyLink();
    const QString before = status();

    Theme::setOverride(QStringLiteral("dark"));
    ThemeBroadcast::postThemeDidChange();
    EXPECT_TRUE(linkAreaShown());
    EXPECT_EQ(w.linkField()->text(), erp->base() + "/connect/req-1");
    EXPECT_EQ(w.codeLabel()->text(), "K7Q2-M9XD");
    EXPECT_FALSE(w.sendButton()->isEnabled());
    EXPECT_EQ(PanelKit::selectedRow(w.table()), 0);
    EXPECT_EQ(status(), before);
    EXPECT_EQ(w.status()->palette().color(QPalette::WindowText), PanelKit::tone(before));
    EXPECT_EQ(w.baseField()->text(), erp->base());
    EXPECT_TRUE(w.polling());
    const QImage dark = w.grab().toImage();
    EXPECT_LT(dark.pixelColor(2, dark.height() - 3).lightnessF(), 0.3);
    shot(&w, "waiting-dark");

    // The pairing still ends as it would have.
    erp->answer("connect/poll", QJsonObject{{"status", "expired"}});
    ASSERT_TRUE(waitForStatus([](const QString &s) { return s.startsWith("The link expired"); }));
    EXPECT_TRUE(linkAreaHidden());
    shot(&w, "expired-dark");
}

} // namespace
