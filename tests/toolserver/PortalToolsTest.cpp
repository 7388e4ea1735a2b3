// portal_logins and portal_sign_in against the real browser pane, loopback
// login pages and the in-memory secret store. The sign-in's waits are held
// by the test, so the page can change between its steps.
#include "PaneFixture.h"
#include "browser/PortalSignIn.h"
#include "browser/PortalVault.h"
#include "platform/SecretStore.h"

#include <QSignalSpy>

using namespace McpTest;
using namespace TestKit;

namespace {

const QString kPassword = "p\"a\\ss'w0rd";
const QString kUser = "ca\"firm\\1";

class PortalToolsTest : public PaneToolTest {
protected:
    std::vector<Held> signInHeld;
    decltype(PortalSignIn::delay) savedSignInDelay;

    void SetUp() override
    {
        PaneToolTest::SetUp();
        SecretStore::useMemory();
        savedSignInDelay = PortalSignIn::delay;
        PortalSignIn::delay = [this](double seconds, std::function<void()> then) {
            signInHeld.push_back({seconds, std::move(then)});
        };
    }
    void TearDown() override
    {
        PortalSignIn::delay = savedSignInDelay;
        PaneToolTest::TearDown();
    }

    void save(const QString &id, const QString &client, const QString &portal, const QString &url,
              const std::optional<QString> &password = kPassword)
    {
        ASSERT_TRUE(PortalVault::upsert({id, client, portal, kUser, url, "", 0}, password).ok());
    }
    // Lets the sign-in's next wait end once the tab has loaded.
    void release(double seconds)
    {
        ASSERT_TRUE(waitFor([&] { return !signInHeld.empty(); })) << seconds;
        EXPECT_DOUBLE_EQ(signInHeld[0].seconds, seconds);
        ASSERT_TRUE(settled());
        auto then = std::move(signInHeld[0].then);
        signInHeld.erase(signInHeld.begin());
        then();
    }
    QString js(const QString &script)
    {
        std::optional<QString> out;
        pane->evalJS(script, [&](const QString &o) { out = o; });
        EXPECT_TRUE(waitFor([&] { return out.has_value(); }));
        return out.value_or("(none)");
    }
    QJsonObject args(const QString &client, const QString &portal = "GST")
    {
        return {{"client", client}, {"portal", portal}};
    }
};

const QByteArray kForm = "<form onsubmit='return false'>";
const QByteArray kLogin = "<button type=button onclick='document.body.dataset.clicked=1'>Login</button>";

TEST_F(PortalToolsTest, ListsTheLoginsWithoutAnyPassword)
{
    EXPECT_EQ(call("portal_logins"),
              textOf("No portal logins saved. The CA adds them in Velto → Portal Logins."));
    save("1", "Quenby Traders", "GST", "");
    save("2", "Quenby Traders", "Income Tax", "", std::nullopt);
    save("3", "Arjun Exports", "MCA", "");
    const Result r = call("portal_logins");
    EXPECT_EQ(r, textOf("Arjun Exports — MCA — user id " + kUser + "\nQuenby Traders — GST — user id " + kUser +
                        "\nQuenby Traders — Income Tax — user id " + kUser + " (no password saved)"));
}

TEST_F(PortalToolsTest, SignInFindsExactlyOneLogin)
{
    EXPECT_EQ(call("portal_sign_in"),
              textOf("No saved login for \"\" on . Ask the CA to add it in Velto → Portal Logins.", true));
    save("1", "Quenby", "GST", "");
    save("2", "Quenby Traders", "GST", "");
    save("3", "Quenby Exports", "GST", "");
    EXPECT_EQ(call("portal_sign_in", args("Arjun")),
              textOf("No saved login for \"Arjun\" on GST. Ask the CA to add it in Velto → Portal Logins.", true));
    // Several match and none is named whole: the CA is asked which.
    const Result several = call("portal_sign_in", args("quenby ", "gst"));
    EXPECT_EQ(several, textOf("Several saved logins match \"quenby \" on gst:\nQuenby Exports — GST — user id " + kUser +
                                  "\nQuenby Traders — GST — user id " + kUser +
                                  "\nAsk the CA which one, then call portal_sign_in with that client and portal "
                                  "exactly.",
                              true));
    EXPECT_EQ(pane->tabs().size(), 1) << "nothing was opened";
}

TEST_F(PortalToolsTest, SignInFillsTheFormAndHandsTheCaptchaToTheCa)
{
    struct Case {
        const char *name;
        QByteArray body;
        QString user;     // what the user field holds afterwards
        bool clicked;
        QString text;     // the answer's beginning
        bool isError;
    };
    const QString filledFor = "Credentials filled for ";
    const std::vector<Case> cases{
        {"before", kForm + "<input id=u name=user><input type=password id=p>" + kLogin + "</form>", kUser, true,
         "Login submitted for C before on GST. If an OTP screen appears, the CA enters it.", false},
        {"after", kForm + "<input type=password id=p><input id=u>"
                          "<button type=button onclick='document.body.dataset.clicked=1'>Sign in to continue</button>"
                          "</form>",
         "", true, "Login submitted for C after on GST.", false},
        {"email", kForm + "<input type=email id=u><input type=checkbox checked><input type=password id=p>"
                          "<input type=submit value='LOG IN' onclick='document.body.dataset.clicked=1'></form>",
         kUser, true, "Login submitted for C email on GST.", false},
        {"captcha", kForm + "<input id=u><input type=password id=p><img alt='Enter the CaPtChA' "
                            "style='width:80px;height:20px'><input id=c name=captchaText>" + kLogin + "</form>",
         kUser, false,
         "User id and password are filled for C captcha on GST. The portal is asking for a CAPTCHA — that is for the "
         "CA. Tell them to type it in the Velto Browser tab and press Login, then call browser_read.",
         false},
        {"nobutton", kForm + "<input id=u><input type=password id=p><a href='#' "
                             "onclick='document.body.dataset.clicked=1'>Click here to login</a></form>",
         kUser, false,
         "Credentials filled for C nobutton on GST but no Login button was found. Ask the CA to press Login in the "
         "Velto Browser tab.",
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QString("/login-") + c.name;
        page(path, c.body);
        save(c.name, QString("C ") + c.name, "GST", at(path));
        auto slot = start("portal_sign_in", args(QString("C ") + c.name));
        release(3.0);
        release(1.8);
        const Result r = result(slot);
        EXPECT_TRUE(textIn(r).startsWith(c.text)) << textIn(r).toStdString();
        EXPECT_EQ(r.value("isError").toBool(), c.isError);
        EXPECT_FALSE(textIn(r).contains(kPassword));
        EXPECT_EQ(pane->web()->url(), QUrl(at(path))) << "the sign-in's own tab is shown";
        EXPECT_EQ(js("document.getElementById('p').value"), kPassword) << "typed exactly";
        EXPECT_EQ(js("document.getElementById('u').value"), c.user);
        EXPECT_EQ(js("String(document.body.dataset.clicked)"), c.clicked ? "1" : "undefined");
        if (QString(c.name) == "captcha") {
            EXPECT_EQ(js("document.activeElement.id"), "c");
        }
    }
}

TEST_F(PortalToolsTest, ALatePasswordFieldGetsOneMoreTry)
{
    page("/late", kForm + "<input id=u></form>");
    save("1", "Quenby", "GST", at("/late"));
    auto slot = start("portal_sign_in", args("Quenby"));
    release(3.0); // no password field yet
    js("var p=document.createElement('input');p.type='password';p.id='p';document.forms[0].appendChild(p);"
       "var b=document.createElement('button');b.type='button';b.textContent='Proceed';"
       "b.onclick=function(){document.body.dataset.clicked=1};document.forms[0].appendChild(b);");
    release(3.0);
    release(1.8);
    EXPECT_TRUE(textIn(result(slot)).startsWith("Login submitted for Quenby on GST."));
    EXPECT_EQ(js("document.getElementById('p').value + document.body.dataset.clicked"), kPassword + "1");

    // Never there: no fields after the retry.
    page("/empty", "<p>Maintenance</p>");
    save("2", "Arjun", "GST", at("/empty"));
    slot = start("portal_sign_in", args("Arjun"));
    release(3.0);
    release(3.0);
    EXPECT_EQ(result(slot), textOf("The login form did not appear on GST. Open the portal with browser_open and try "
                                   "again, or ask the CA to sign in manually.",
                                   true));
}

TEST_F(PortalToolsTest, NoPageOrNoPasswordOpensNothing)
{
    save("1", "Quenby", "GST", "https://example.com/login");
    save("2", "Quenby", "MCA", "not a url");
    save("3", "Quenby", "EPFO", at("/login"), std::nullopt);
    EXPECT_EQ(call("portal_sign_in", args("Quenby")), textOf("Could not open the login page for GST.", true));
    EXPECT_EQ(call("portal_sign_in", args("Quenby", "MCA")), textOf("Could not open the login page for MCA.", true));
    EXPECT_EQ(call("portal_sign_in", args("Quenby", "EPFO")),
              textOf("No password is saved for this login. Ask the CA to add it in Velto → Portal Logins.", true));
    EXPECT_EQ(pane->tabs().size(), 1);
    EXPECT_TRUE(signInHeld.empty());

    // An empty address is the catalogue's page for the portal.
    PortalLogin gst{"4", "Arjun", "GST", "u", "", "", 0};
    EXPECT_EQ(PortalSignIn::address(gst), PortalCatalogue::url("GST"));
    EXPECT_FALSE(PortalSignIn::address(gst).isEmpty());
}

TEST_F(PortalToolsTest, ThePasswordGoesOnlyIntoTheSignInTabOnItsHost)
{
    const QByteArray form = kForm + "<input id=u><input type=password id=p>" + kLogin + "</form>";
    page("/login", form);
    page("/elsewhere", form);
    save("1", "Quenby", "GST", at("/login"));

    // The tab moves to another host before the form is filled.
    auto slot = start("portal_sign_in", args("Quenby"));
    ASSERT_TRUE(waitFor([&] { return !signInHeld.empty(); }));
    ASSERT_TRUE(settled());
    const QString other = QString("http://localhost:%1/elsewhere").arg(web.port());
    ASSERT_TRUE(pane->load(QUrl(other)));
    ASSERT_TRUE(waitFor([&] { return pane->web()->url() == QUrl(other) && js("document.readyState") == "complete"; }));
    release(3.0);
    const Result moved = result(slot);
    EXPECT_EQ(moved, textOf("The sign-in tab left the login page of GST before the form was filled, so the password "
                            "was not typed. Call portal_sign_in again, or ask the CA to sign in.",
                            true));
    EXPECT_EQ(js("document.getElementById('p').value"), "");

    // The CA shows another tab meanwhile: the sign-in's own tab is filled, not the shown one.
    slot = start("portal_sign_in", args("Quenby"));
    ASSERT_TRUE(waitFor([&] { return !signInHeld.empty(); }));
    ASSERT_TRUE(settled());
    const int signInTab = pane->current();
    pane->newTab(QUrl(at("/elsewhere")), true);
    release(3.0);
    release(1.8);
    EXPECT_TRUE(textIn(result(slot)).startsWith("Login submitted for Quenby on GST."));
    EXPECT_EQ(js("document.getElementById('p').value"), "") << "the shown tab";
    pane->select(signInTab);
    EXPECT_EQ(js("document.getElementById('p').value"), kPassword);

    // The sign-in tab is closed first.
    slot = start("portal_sign_in", args("Quenby"));
    ASSERT_TRUE(waitFor([&] { return !signInHeld.empty(); }));
    pane->closeTab(pane->current());
    release(3.0);
    EXPECT_EQ(result(slot), textOf("The sign-in tab for GST was closed before the form was filled. Nothing was typed.",
                                   true));
}

} // namespace
