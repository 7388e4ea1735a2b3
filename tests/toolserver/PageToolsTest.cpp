// The page reading and navigation tools against the real browser pane and
// loopback fixture pages. Settling delays are held by the test and released
// once the page has loaded, so every answer shows a known page.
#include "PaneFixture.h"
#include "RawClient.h"
#include "ServerFixture.h"
#include "browser/BrowserPane.h"
#include "browser/Hosts.h"
#include "platform/Dialogs.h"
#include "platform/WebView.h"
#include "toolserver/Families.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"
#include "toolserver/PageTools.h"

#include <QImage>
#include <QLabel>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>

using namespace McpTest;
using namespace TestKit;

namespace {

class PageToolsTest : public PaneToolTest {};

TEST(PageText, SnapshotsBecomeTheEnginesPageText)
{
    EXPECT_EQ(PageTools::pretty(R"({"url":"https://www.gst.gov.in/","title":"GST","elements":["r1 a \"Login\"",
              "r2 button \"Search\""],"text":"Goods and Services Tax","total":2,"fields":1})"),
              "URL: https://www.gst.gov.in/\nTitle: GST\n\n--- controls ---\nr1 a \"Login\"\nr2 button \"Search\""
              "\n\n--- page text ---\nGoods and Services Tax");

    QJsonArray sixty;
    for (int i = 1; i <= 60; ++i)
        sixty.append(QString("r%1 a \"x\"").arg(i));
    auto snap = [&](const QJsonValue &total) {
        QJsonObject o{{"url", "u"}, {"title", "t"}, {"elements", sixty}, {"text", "body"}};
        if (!total.isUndefined())
            o.insert("total", total);
        return PageTools::pretty(QString::fromUtf8(QJsonDocument(o).toJson()));
    };
    const QString capped = snap(120);
    EXPECT_TRUE(capped.contains("r60 a \"x\"\n… 60 of 120 controls shown — browser_read for the full page\n\n"
                                "--- page text ---\nbody"));
    for (const QJsonValue &total : {QJsonValue(60), QJsonValue(), QJsonValue("120"), QJsonValue(40)})
        EXPECT_FALSE(snap(total).contains("controls shown")) << show(total);

    // Not an object: handed on unchanged (a script error reaches the engine as it is).
    for (const QString &raw : {QString("ERROR: no tab"), QString("[1,2]"), QString(""), QString("{broken")})
        EXPECT_EQ(PageTools::pretty(raw), raw);
    // Fields of the wrong type read as empty.
    EXPECT_EQ(PageTools::pretty(R"({"url":5,"elements":"r1","text":null})"),
              "URL: \nTitle: \n\n--- controls ---\n\n\n--- page text ---\n");
}

TEST_F(PageToolsTest, OpenChecksTheAddressThenReadsTheSettledPage)
{
    for (const QJsonObject &args : {QJsonObject{}, QJsonObject{{"url", 5}}, QJsonObject{{"url", "https://exa mple.in"}}})
        EXPECT_EQ(call("browser_open", args), textOf("A valid url is required.", true)) << show(args);
    EXPECT_EQ(call("browser_open", {{"url", "example.com/x"}}),
              textOf("example.com is outside the allowed list. Velto only opens Indian government and Hallix sites.",
                     true));
    EXPECT_EQ(call("browser_open", {{"url", "https:///x"}}),
              textOf("that host is outside the allowed list. Velto only opens Indian government and Hallix sites.",
                     true));
    EXPECT_TRUE(held.empty());
    EXPECT_EQ(pane->web()->url(), QUrl("about:blank")) << "nothing was loaded";

    page("/form", "<form><input name=q placeholder='Search GSTIN'><button>Search</button></form><p>Taxpayer search</p>",
         "Search");
    const Result r = settledCall("browser_open", {{"url", at("/form")}}, 2.2);
    EXPECT_EQ(r, textOf("Opened " + at("/form") + "\n\nURL: " + at("/form") +
                        "\nTitle: Search\n\n--- controls ---\nr1 input \"Search GSTIN\"\nr2 button \"Search\"\n\n"
                        "--- page text ---\nSearch\n\nTaxpayer search"));

    // An address without a scheme goes over https; the answer names what was asked.
    std::vector<QUrl> asked;
    pane->web()->navigationPolicy = [&](const WebView::Navigation &nav) {
        asked.push_back(nav.url);
        return false;
    };
    held.clear();
    auto slot = start("browser_open", {{"url", QString("127.0.0.1:%1/next").arg(web.port())}});
    ASSERT_TRUE(waitFor([&] { return !held.empty() && !asked.empty(); }));
    EXPECT_EQ(asked[0], QUrl(QString("https://127.0.0.1:%1/next").arg(web.port())));
    held[0].then();
    EXPECT_TRUE(textIn(result(slot)).startsWith(QString("Opened https://127.0.0.1:%1/next\n\nURL: ").arg(web.port())));
}

TEST_F(PageToolsTest, APageStillLoadingWhenTheDelayEndsIsReadOnceLoaded)
{
    // The server holds the page back past the settling delay, as a slow
    // portal on a busy machine does: the answer is that page, not the start
    // page it is leaving.
    FakeReply slow = FakeReply::text("<!doctype html><html><head><title>Slow</title></head><body>"
                                     "<p>Filed for March</p></body></html>");
    slow.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    slow.delayMs = 1500;
    web.on("GET", "/slow", slow);
    held.clear();
    auto slot = start("browser_open", {{"url", at("/slow")}});
    ASSERT_TRUE(waitFor([&] { return !held.empty(); }));
    ASSERT_TRUE(waitFor([&] { return pane->activeTab()->loading; }));
    held[0].then();
    spin(200);
    EXPECT_FALSE(slot->has_value()) << "nothing is answered while the page loads";
    const QString text = textIn(result(slot));
    EXPECT_TRUE(text.startsWith("Opened " + at("/slow") + "\n\nURL: " + at("/slow") + "\nTitle: Slow\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("Filed for March")) << text.toStdString();

    // A page that never finishes is read when the bound passes.
    const double bound = PageTools::loadWaitSeconds;
    PageTools::loadWaitSeconds = 0.5;
    auto restore = qScopeGuard([bound] { PageTools::loadWaitSeconds = bound; });
    FakeReply stuck = slow;
    stuck.delayMs = 30000;
    web.on("GET", "/stuck", stuck);
    held.clear();
    slot = start("browser_open", {{"url", at("/stuck")}});
    ASSERT_TRUE(waitFor([&] { return !held.empty(); }));
    ASSERT_TRUE(waitFor([&] { return pane->activeTab()->loading; }));
    held[0].then();
    EXPECT_TRUE(textIn(result(slot)).startsWith("Opened " + at("/stuck") + "\n\nURL: "));
    pane->web()->stop();
}

TEST_F(PageToolsTest, ReadShowsEveryControlButNoSecret)
{
    // A signed-in form with its password still filled, and an OTP box the CA typed into.
    page("/signed-in", "<form><input name=userid value='ca.firm'><input type=password name=pwd value='hunter2'>"
                       "<input name=otp maxlength=6 placeholder='Enter OTP' value='482913'>"
                       "<button type=submit>Verify</button></form><p>Welcome, CA Firm</p>");
    ASSERT_EQ(textIn(settledCall("browser_open", {{"url", at("/signed-in")}}, 2.2)).left(6), "Opened");
    const QJsonObject r = call("browser_read");
    EXPECT_EQ(r, textOf("URL: " + at("/signed-in") +
                        "\nTitle: Fixture\n\n--- controls ---\nr1 input \"ca.firm\" value=\"ca.firm\"\n"
                        "r2 input[password] \"\"\nr3 input \"Enter OTP\"\nr4 button[submit] \"Verify\"\n\n"
                        "--- page text ---\nVerify\n\nWelcome, CA Firm"));
    const QString found = textIn(call("browser_find", {{"text", ""}}));
    for (const QString &text : {textIn(r), found, textIn(call("browser_find", {{"text", "4829"}}))})
        for (const char *secret : {"hunter2", "482913"})
            EXPECT_FALSE(text.contains(secret)) << secret;
    EXPECT_EQ(textIn(call("browser_find", {{"text", "hunter"}})), "no match");

    // Brief after open, full on read: the cap note says what was left out.
    QByteArray body;
    for (int i = 0; i < 50; ++i)
        body += "<input name='f" + QByteArray::number(i) + "'>";
    for (int i = 0; i < 30; ++i)
        body += "<a href='#" + QByteArray::number(i) + "'>link " + QByteArray::number(i) + "</a>";
    page("/many", body);
    const QString brief = textIn(settledCall("browser_open", {{"url", at("/many")}}, 2.2));
    EXPECT_TRUE(brief.contains("r50 input \"\"\n… 50 of 80 controls shown — browser_read for the full page\n\n"));
    EXPECT_FALSE(brief.contains("a \"link 0\""));
    const QString full = textIn(call("browser_read"));
    EXPECT_TRUE(full.contains("r80 a \"link 29\"\n\n--- page text ---"));
    EXPECT_FALSE(full.contains("controls shown"));
}

// Every way a page was seen to copy a secret value somewhere the page tools
// read it; the page's own script types the values, as the CA or the page
// itself would.
TEST_F(PageToolsTest, SecretValuesNeverReachTheEngineWhereverThePageCopiesThem)
{
    page("/tricks",
         "<form action='/after' method='get'>"
         "<input name=user id=user>"
         "<label for=pw1>Password one</label><input type=password id=pw1 name=pw1>"
         "<button type=button id=show>Show</button>"
         "<input type=password id=pw2 aria-label='Password two'>"
         "<label for=code>Enter the 6-digit code sent to your mobile</label><input name=code id=code>"
         "<div id=boxes><input maxlength=1><input maxlength=1><input maxlength=1><input maxlength=1>"
         "<input maxlength=1><input maxlength=1></div>"
         "<input id=masked name=pin style='-webkit-text-security:disc'>"
         "<input type=password id=pw3 name=pwd>"
         "<input name=pincode aria-label='PIN code' value='560001'><input name=hsn aria-label='HSN code' value='998231'>"
         "</form><p id=echo></p><a href='#' id=leak></a>"
         "<script>"
         "var $=function(id){return document.getElementById(id);};"
         "$('pw1').value='Switched33';$('show').onclick=function(){$('pw1').type='text';};$('show').click();"
         "$('code').value='564738';"
         "var b=document.querySelectorAll('#boxes input'),d='719382';for(var i=0;i<6;i++)b[i].value=d[i];"
         "$('masked').value='MaskedPin44';"
         "$('pw2').value='AriaLeak22';$('pw2').setAttribute('aria-label','Password two '+$('pw2').value);"
         "$('pw3').value='TitleLeak55';$('user').title=$('pw3').value;$('user').value='ca1';"
         "$('echo').textContent='Code '+$('code').value+' for '+$('pw1').value;$('leak').textContent=$('masked').value;"
         "document.title='Sign in '+d;"
         "</script>",
         "Sign in");
    const QStringList secrets{"Switched33", "564738", "719382", "MaskedPin44", "AriaLeak22", "TitleLeak55"};
    auto clean = [&](const QString &what, const QString &text) {
        for (const QString &secret : secrets)
            EXPECT_FALSE(text.contains(secret, Qt::CaseInsensitive)) << what.toStdString() << " shows " << secret.toStdString()
                                                                     << "\n" << text.toStdString();
        for (const char *digit : {"value=\"7\"", "value=\"1\"", "value=\"9\"", "value=\"3\"", "value=\"8\"", "value=\"2\""})
            EXPECT_FALSE(text.contains(digit)) << what.toStdString() << " shows a code box: " << digit;
    };
    clean("browser_open", textIn(settledCall("browser_open", {{"url", at("/tricks")}}, 2.2)));
    const QString read = textIn(call("browser_read"));
    clean("browser_read", read);
    clean("browser_wait", textIn(settledCall("browser_wait", {}, 2.0)));
    // What is no secret still shows: a postal PIN code, an HSN code, the user id.
    for (const char *shown : {"value=\"560001\"", "value=\"998231\"", "value=\"ca1\"", "\"Password two •••\"",
                              "Code ••• for •••", "Title: Sign in •••"})
        EXPECT_TRUE(read.contains(shown)) << shown << "\n" << read.toStdString();

    // Find neither shows nor matches a secret, not even piece by piece.
    clean("browser_find", textIn(call("browser_find", {{"text", ""}})));
    for (const char *piece : {"Switched", "5647", "7193", "MaskedPin", "AriaLeak", "TitleLeak", "leak22"})
        EXPECT_EQ(call("browser_find", {{"text", piece}}), textOf("no match")) << piece;
    EXPECT_TRUE(textIn(call("browser_find", {{"text", "password two"}})).contains("\"Password two •••\""));

    // A GET form carries the password into the address of the next page.
    page("/after", "<p>Signed in</p>", "After");
    QSignalSpy loaded(pane->web(), &QWebEngineView::loadFinished);
    pane->evalJS("document.getElementById('pw3').value='GetLeak77';document.forms[0].submit();", [](const QString &) {});
    ASSERT_TRUE(loaded.wait(15000));
    ASSERT_TRUE(settled());
    const QString after = textIn(call("browser_read"));
    EXPECT_TRUE(after.startsWith("URL: " + at("/after") + "?user=ca1&pw1=•••&code=•••&pin=•••&pwd=•••&pincode=560001"
                                                          "&hsn=998231\n"))
        << after.toStdString();
    EXPECT_FALSE(after.contains("GetLeak77"));
}

// The engine's picture of the page paints over secret fields; the CA's own
// view still shows them.
TEST_F(PageToolsTest, ScreenshotsPaintOverSecretFields)
{
    page("/otp",
         "<input name=otp id=otp style='position:absolute;left:40px;top:40px;width:320px;height:80px;"
         "font:bold 56px monospace;color:#000;background:#fff;border:0'>"
         "<script>document.getElementById('otp').value='482913';</script>");
    settledCall("browser_open", {{"url", at("/otp")}}, 2.2);
    // A finished load is not yet a painted frame: the digits are on the
    // screen before the picture is asked for.
    ASSERT_TRUE(waitFor([&] {
        const QImage shown = pane->web()->snapshot();
        const double k = shown.width() / double(pane->web()->width());
        for (int y = 50; y < 110; y += 2)
            for (int x = 50; x < 350; x += 2)
                if (!shown.isNull() && shown.pixel(int(x * k), int(y * k)) == qRgb(0, 0, 0))
                    return true;
        return false;
    }, 15000));
    const QJsonObject r = call("browser_screenshot");
    ASSERT_EQ(r.value("isError"), QJsonValue(false));
    QImage engine;
    ASSERT_TRUE(engine.loadFromData(
        QByteArray::fromBase64(r.value("content").toArray().at(0).toObject().value("data").toString().toLatin1()), "PNG"));
    const QImage own = pane->web()->snapshot();
    const double scale = engine.width() / double(pane->web()->width());
    // Inside the field: one flat colour for the engine, the digits for the CA.
    auto colours = [&](const QImage &image) {
        QSet<QRgb> seen;
        for (int y = 50; y < 110; y += 2)
            for (int x = 50; x < 350; x += 2)
                seen.insert(image.pixel(int(x * scale), int(y * scale)));
        return seen;
    };
    EXPECT_EQ(colours(engine).size(), 1);
    EXPECT_GT(colours(own).size(), 1) << "the CA's view is untouched";
    EXPECT_TRUE(colours(own).contains(qRgb(0, 0, 0)));
}

TEST_F(PageToolsTest, FindNumbersTheControlsAfreshAndListsTheMatches)
{
    QByteArray body = "<div role=tab>Returns</div><button style='width:0;height:0;padding:0;border:0'>zero</button>";
    for (int i = 0; i < 50; ++i)
        body += "<button>Download challan " + QByteArray::number(i) + "</button>";
    body += "<input aria-label='Challan number' value='  CIN  0042 '><a href='#' title='Help'>?</a>";
    page("/challans", body);
    settledCall("browser_open", {{"url", at("/challans")}}, 2.2);
    call("browser_read"); // the tab gets r1 from the snapshot

    const QStringList lines = textIn(call("browser_find", {{"text", "CHALLAN"}})).split('\n');
    ASSERT_EQ(lines.size(), 40);
    EXPECT_EQ(lines[0], "r2 button \"Download challan 0\"")
        << "numbered as a snapshot numbers: the tab counts, zero-size controls do not";
    EXPECT_EQ(lines[39], "r41 button \"Download challan 39\"");
    EXPECT_EQ(call("browser_find", {{"text", "cin 0042"}}), textOf("no match")) << "the haystack is not squeezed";
    EXPECT_EQ(call("browser_find", {{"text", "CIN  0042"}}), textOf("r52 input \"CIN 0042\""));
    EXPECT_EQ(call("browser_find", {{"text", "help"}}), textOf("r53 a \"?\""));
    EXPECT_EQ(call("browser_find", {{"text", "nothing like it"}}), textOf("no match"));
    EXPECT_EQ(textIn(call("browser_find", {{"text", 7}})).count('\n'), 39) << "a text of another type finds everything";

    // The numbering is the snapshot's: each ref on one element, the tab first.
    std::optional<QString> refs;
    pane->evalJS("var V=window.__veltoSecrets;V.refs.size + ' ' + "
                 "(V.refs.get('r1')===document.querySelector('[role=tab]'))",
                 [&](const QString &o) { refs = o; });
    ASSERT_TRUE(waitFor([&] { return refs.has_value(); }));
    EXPECT_EQ(*refs, "53 true");
}

TEST_F(PageToolsTest, NavigationToolsSettleForTheirOwnTime)
{
    QByteArray tall = "<div style='height:3000px'>top</div><button>end</button>";
    page("/one", "<a href='/two'>two</a>", "One");
    page("/two", tall, "Two");
    settledCall("browser_open", {{"url", at("/one")}}, 2.2);
    settledCall("browser_open", {{"url", at("/two")}}, 2.2);

    EXPECT_TRUE(textIn(settledCall("browser_back", {}, 1.6)).startsWith("URL: " + at("/one") + "\nTitle: One"));
    EXPECT_TRUE(textIn(settledCall("browser_reload", {}, 2.0)).startsWith("URL: " + at("/one")));

    struct Wait {
        QJsonObject args;
        double seconds;
    } waits[] = {{{}, 2.0}, {{{"seconds", 0}}, 0.5}, {{{"seconds", 60}}, 15.0}, {{{"seconds", "3"}}, 2.0},
                 {{{"seconds", 3.5}}, 3.5}};
    for (const Wait &w : waits)
        EXPECT_TRUE(textIn(settledCall("browser_wait", w.args, w.seconds)).startsWith("URL: ")) << show(w.args);

    settledCall("browser_open", {{"url", at("/two")}}, 2.2);
    const int view = pane->web()->height();
    auto scrolled = [&](const QJsonObject &args) {
        const QString text = textIn(settledCall("browser_scroll", args, 0.5));
        EXPECT_TRUE(text.startsWith("Scrolled. {\"y\":")) << text.left(80).toStdString();
        EXPECT_TRUE(text.contains("}\n\nURL: " + at("/two")));
        return QJsonDocument::fromJson(text.mid(10, text.indexOf('\n') - 10).toUtf8()).object();
    };
    QJsonObject pos = scrolled({{"to", "top"}, {"y", 500}});
    EXPECT_EQ(pos.value("y").toInt(), 500) << "y wins over to";
    EXPECT_EQ(pos.value("view").toInt(), view);
    EXPECT_GT(pos.value("h").toInt(), 3000);
    EXPECT_EQ(scrolled({{"to", "sideways"}}).value("y").toInt(), 500 + view - 120) << "anything else is next";
    EXPECT_EQ(scrolled({{"to", "previous"}}).value("y").toInt(), 500);
    EXPECT_EQ(scrolled({{"to", "top"}}).value("y").toInt(), 0);
    // The body's height, not counting its margins: the bottom is at least there.
    EXPECT_GE(scrolled({{"to", "bottom"}}).value("y").toInt(), pos.value("h").toInt() - view);
}

TEST_F(PageToolsTest, ScreenshotIsAPngImage)
{
    page("/shot", "<div style='background:#3257E0;width:100%;height:400px'></div>");
    settledCall("browser_open", {{"url", at("/shot")}}, 2.2);
    const QJsonObject r = call("browser_screenshot");
    EXPECT_EQ(r.value("isError"), QJsonValue(false));
    const QJsonObject item = r.value("content").toArray().at(0).toObject();
    EXPECT_EQ(item.value("type"), QJsonValue("image"));
    EXPECT_EQ(item.value("mimeType"), QJsonValue("image/png"));
    const QByteArray png = QByteArray::fromBase64(item.value("data").toString().toLatin1());
    ASSERT_TRUE(png.startsWith("\x89PNG"));
    QImage image;
    ASSERT_TRUE(image.loadFromData(png, "PNG"));
    EXPECT_EQ(image.size() / image.devicePixelRatio(), pane->web()->size());
}

TEST_F(PageToolsTest, TabToolsOpenSwitchAndClose)
{
    EXPECT_EQ(call("browser_tabs"), textOf("0 (active) Velto Browser — about:blank"));

    EXPECT_TRUE(textIn(settledCall("browser_tab_new", {}, 0.4)).startsWith("Opened tab 1\n\nURL: about:blank\nTitle: "
                                                                            "Velto Browser\n\n--- controls ---\nr1 a "
                                                                            "\"GST portal\""));
    EXPECT_TRUE(textIn(settledCall("browser_tab_new", {{"url", "https://exa mple.in"}}, 0.4)).startsWith("Opened tab 2"))
        << "an address that does not parse opens the start page";
    EXPECT_EQ(call("browser_tab_new", {{"url", "example.com"}}), textOf("example.com is outside the allowed list.", true));
    EXPECT_EQ(pane->tabs().size(), 3);

    page("/ret", "<p>GSTR-3B</p>", "Returns");
    EXPECT_EQ(settledCall("browser_tab_new", {{"url", at("/ret")}}, 2.2),
              textOf("Opened tab 3\n\nURL: " + at("/ret") + "\nTitle: Returns\n\n--- controls ---\n\n\n--- page text "
                     "---\nGSTR-3B"));
    EXPECT_EQ(pane->current(), 3);
    const QString list = "0 Velto Browser — about:blank\n1 Velto Browser — about:blank\n2 Velto Browser — about:blank\n"
                         "3 (active) Returns — " + at("/ret");
    EXPECT_EQ(call("browser_tabs"), textOf(list));

    for (const QJsonValue &index : {QJsonValue(1.5), QJsonValue("1"), QJsonValue()}) {
        const QJsonObject args = index.isUndefined() ? QJsonObject{} : QJsonObject{{"index", index}};
        EXPECT_EQ(call("browser_tab_select", args), textOf("No tab -1.\n\n" + list, true)) << show(index);
    }
    EXPECT_EQ(call("browser_tab_select", {{"index", 4}}), textOf("No tab 4.\n\n" + list, true));
    EXPECT_TRUE(textIn(settledCall("browser_tab_select", {{"index", 0}}, 0.4)).startsWith("URL: about:blank"));
    EXPECT_EQ(pane->current(), 0);
    EXPECT_TRUE(textIn(settledCall("browser_tab_select", {{"index", 3.0}}, 0.4)).startsWith("URL: " + at("/ret")));

    EXPECT_EQ(call("browser_tab_close", {{"index", 9}}), textOf("No tab 9.", true));
    EXPECT_EQ(call("browser_tab_close", {{"index", "0"}}), textOf("No tab -1.", true));
    for (int i = 0; i < 3; ++i)
        call("browser_tab_close", {{"index", 0}});
    EXPECT_EQ(call("browser_tabs"), textOf("0 (active) Returns — " + at("/ret")));
    EXPECT_EQ(call("browser_tab_close", {{"index", 0}}), textOf("Closed tab 0.\n\n0 (active) Velto Browser — about:blank"))
        << "the last tab stays, on the start page";
}

TEST_F(PageToolsTest, APaneClosedWhileSettlingIsSaidSo)
{
    held.clear();
    auto slot = start("browser_wait", {{"seconds", 1}});
    ASSERT_TRUE(waitFor([&] { return !held.empty(); }));
    pane.reset();
    held[0].then();
    EXPECT_EQ(result(slot), textOf("Browser window is not open.", true));
}

TEST_F(PageToolsTest, ToolsAnswerOverTheWireWithRealDelays)
{
    // The product's own delay (Dispatch::after, on the tests' short time scale).
    PageTools::delay = savedDelay;
    ASSERT_TRUE(server->start());
    page("/w", "<button>Pay later</button>", "Wire");
    ASSERT_NO_FATAL_FAILURE(open("/w"));
    const Reply r = exchange(server->port(),
                             post(rpc("tools/call", QJsonObject{{"name", "browser_wait"}, {"arguments", QJsonObject{}}}),
                                  server->token()),
                             15000);
    EXPECT_EQ(Result(r.json().value("result").toObject()),
              textOf("URL: " + at("/w") + "\nTitle: Wire\n\n--- controls ---\nr1 button \"Pay later\"\n\n"
                     "--- page text ---\nPay later"));
}

} // namespace

namespace {

// A page's own dialogs, shown while other calls arrive.
class PageDialogTest : public PaneToolTest {
protected:
    std::vector<ToolFamily> savedRouted = Families::routed;
    std::vector<Dialogs::Alert> shown;
    std::vector<Dialogs::Confirm> asked;
    std::function<void()> whileShown;

    void SetUp() override
    {
        PaneToolTest::SetUp();
        Families::routed = {ToolFamily{[] { return QSet<QString>{"erp_connections"}; }, [](Tool::Obj) { return QJsonArray(); },
                                       [](const QString &, const QJsonObject &, const Tool::Done &done) {
                                           done("no connections", false);
                                       }}};
        Dialogs::Hooks::alert = [this](const Dialogs::Alert &a) {
            shown.push_back(a);
            if (whileShown)
                whileShown();
            return 0;
        };
        Dialogs::Hooks::confirm = [this](const Dialogs::Confirm &c) {
            asked.push_back(c);
            if (whileShown)
                whileShown();
            return true;
        };
    }
    void TearDown() override
    {
        Families::routed = savedRouted;
        installFailingDialogs();
        PaneToolTest::TearDown();
    }
    void visit(const QString &path, const QByteArray &body)
    {
        page(path, body);
        open(path);
    }
    void pageScript(const QString &script) { pane->web()->evaluate(script, WebView::World::Page); }
};

TEST_F(PageDialogTest, APageDialogHoldsOnlyThatPage)
{
    visit("/ask", "<p>return</p>");
    const QString host = QUrl(at("/ask")).host();
    bool checkedInside = false;
    std::shared_ptr<std::optional<QJsonObject>> read;
    whileShown = [&] {
        // Other tools answer while the page's confirm waits for the CA.
        EXPECT_TRUE(textIn(call("browser_tabs")).contains("(active) Fixture")) << "the tab list answers";
        EXPECT_EQ(call("erp_connections"), textOf("no connections"));
        // A call on that page waits for its dialog.
        read = start("browser_read");
        spin(200);
        EXPECT_FALSE(read->has_value()) << "the page's own dialog holds calls on it";
        checkedInside = true;
    };
    pageScript("setTimeout(function(){document.body.dataset.answer=confirm('Velto: Click \"Save draft\"?')},0)");
    ASSERT_TRUE(waitFor([&] { return checkedInside; }, 15000));
    ASSERT_EQ(asked.size(), 1u);
    // Named by the page's host, never dressed as the program's question.
    EXPECT_EQ(asked[0].title, "The page at " + host + " asks");
    EXPECT_EQ(asked[0].windowTitle, host);
    EXPECT_EQ(asked[0].text, "Velto: Click \"Save draft\"?");
    EXPECT_EQ(asked[0].approve, "OK");
    EXPECT_TRUE(textIn(result(read)).startsWith("URL: " + at("/ask")));
}

TEST_F(PageDialogTest, APageThatKeepsOpeningDialogsIsSilenced)
{
    visit("/nag", "<p>nag</p>");
    const QString host = QUrl(at("/nag")).host();
    QLabel *note = pane->findChild<QLabel *>("blocked");
    ASSERT_TRUE(note);
    // Re-opened the moment each closes: the first three show, the rest are
    // dismissed unseen (a confirm answered Cancel) and the CA is told once.
    pageScript("for(var i=0;i<6;i++)alert('again '+i);document.body.dataset.said=String(confirm('really?'));"
               "document.body.dataset.done='1'");
    ASSERT_TRUE(waitFor([&] { return textIn(call("browser_read")).contains("nag"); }, 15000));
    std::optional<WebView::ScriptResult> said;
    pane->web()->evaluate("document.body.dataset.done+' '+document.body.dataset.said",
                          [&](const WebView::ScriptResult &r) { said = r; });
    ASSERT_TRUE(waitFor([&] { return said.has_value(); }));
    EXPECT_EQ(said->value.toString(), "1 false");
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(shown[0].title, "Message from the page at " + host);
    EXPECT_EQ(shown[0].text, "again 0");
    EXPECT_EQ(shown[0].windowTitle, host);
    EXPECT_EQ(note->text(), host + " kept opening dialogs — Velto now closes them unseen until the tab leaves this page.");

    // Later dialogs of the same page stay dismissed; another page may ask again.
    pageScript("alert('later')");
    EXPECT_TRUE(textIn(call("browser_read")).contains("nag"));
    EXPECT_EQ(shown.size(), 3u);
    visit("/next", "<p>next</p>");
    pageScript("alert('hello')");
    ASSERT_TRUE(waitFor([&] { return shown.size() == 4u; }));
    EXPECT_EQ(shown[3].text, "hello");
}

} // namespace

namespace {

TEST_F(PageToolsTest, APageThatDidNotLoadIsAnErrorNamingWhatHappened)
{
    // A port nothing listens on any more.
    quint16 closed = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closed = probe.serverPort();
    }
    const QString refused = QString("http://127.0.0.1:%1/return").arg(closed);
    const Result refusedAnswer = textOf("The page did not load: the connection was refused. The tab's address is " +
                                            refused + ".",
                                        true);
    EXPECT_EQ(settledCall("browser_open", {{"url", refused + "?token=abc#top"}}, 2.2), refusedAnswer)
        << "no query or fragment in the address named";
    EXPECT_EQ(settledCall("browser_wait", {{"seconds", 1}}, 1.0), refusedAnswer);
    EXPECT_EQ(settledCall("browser_reload", {}, 2.0), refusedAnswer);

    // A page that sends the tab on to a host outside the list.
    DialogAnswers answers;
    answers.alert(1);
    FakeReply hop = FakeReply::text("", 302);
    hop.headers = {{"Location", "https://example.com/pay"}};
    web.on("GET", "/hop", hop);
    const Result sent = settledCall("browser_open", {{"url", at("/hop")}}, 2.2);
    EXPECT_TRUE(sent.value("isError").toBool());
    EXPECT_TRUE(textIn(sent).startsWith("The page did not load: the tab was sent to example.com, which is outside "
                                        "the allowed list. The tab's address is "))
        << textIn(sent).toStdString();

    // A page that loads clears it; going back to the failure says so again.
    page("/fine", "<p>fine</p>");
    EXPECT_TRUE(textIn(settledCall("browser_open", {{"url", at("/fine")}}, 2.2)).startsWith("Opened " + at("/fine")));
    EXPECT_TRUE(textIn(settledCall("browser_wait", {}, 2.0)).startsWith("URL: " + at("/fine")));
}

} // namespace
