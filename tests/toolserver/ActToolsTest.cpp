// Click, type, select, the OTP hand-off and upload against the real browser
// pane and loopback fixture pages. The CA's approval comes from the
// onConfirm hook the test installs; settling delays are held by the test.
#include "PaneFixture.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "toolserver/ActTools.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

using namespace McpTest;
using namespace TestKit;

namespace {

class ActToolsTest : public PaneToolTest {
protected:
    struct Asked {
        QString title, detail;
    };
    std::vector<Asked> asked;
    bool approve = false;
    // Runs while the question is open: the page may change meanwhile (the
    // change is queued ahead of the tool's next script, not waited for).
    std::function<void()> whileAsking;

    void SetUp() override
    {
        PaneToolTest::SetUp();
        BrowserMCP::onConfirm = [this](const QString &title, const QString &detail) {
            asked.push_back({title, detail});
            if (whileAsking)
                whileAsking();
            return approve;
        };
    }
    void TearDown() override
    {
        BrowserMCP::onConfirm = nullptr;
        PaneToolTest::TearDown();
    }

    // Shows a fixture page in the shown tab and numbers its controls.
    void visit(const QString &path, const QByteArray &body)
    {
        page(path, body);
        ASSERT_NO_FATAL_FAILURE(open(path));
        call("browser_read");
    }
    QString js(const QString &script)
    {
        std::optional<QString> out;
        pane->evalJS(script, [&](const QString &o) { out = o; });
        EXPECT_TRUE(waitFor([&] { return out.has_value(); }));
        return out.value_or("(none)");
    }
    // Releases the one held delay, checking its length.
    void release(double seconds)
    {
        ASSERT_TRUE(waitFor([&] { return !held.empty(); })) << seconds;
        EXPECT_DOUBLE_EQ(held[0].seconds, seconds);
        auto then = std::move(held[0].then);
        held.erase(held.begin());
        then();
    }
};

// Buttons that count their clicks in document.body.dataset.clicks.
const QByteArray kCount = " type=button onclick=\"document.body.dataset.clicks=(+document.body.dataset.clicks||0)+1\"";

// Find and read number a page the same way: an invisible control gets no ref
// from either, so a ref from one is the control the other showed.
TEST_F(ActToolsTest, FindAndReadShareOneNumbering)
{
    visit("/draft", "<button style='opacity:0' onclick=\"document.body.dataset.clicked='submit'\">Submit return</button>"
                    "<button onclick=\"document.body.dataset.clicked='save'\">Save draft</button>"
                    "<button onclick=\"document.body.dataset.clicked='preview'\">Preview</button>");
    EXPECT_TRUE(textIn(call("browser_read")).contains("--- controls ---\nr1 button \"Save draft\"\nr2 button \"Preview\"\n\n"));
    EXPECT_EQ(call("browser_find", {{"text", "save"}}), textOf("r1 button \"Save draft\""));
    EXPECT_EQ(call("browser_find", {{"text", ""}}), textOf("r1 button \"Save draft\"\nr2 button \"Preview\""));
    EXPECT_EQ(call("browser_find", {{"text", "submit"}}), textOf("no match"));
    EXPECT_EQ(js("String(document.querySelector('[data-velto-ref]'))"), "null") << "no mark in the page";

    EXPECT_TRUE(textIn(settledCall("browser_click", {{"ref", "r1"}}, 1.6)).startsWith("Clicked r1 (Save draft)\n\n"));
    EXPECT_EQ(js("String(document.body.dataset.clicked)"), "save");
    EXPECT_TRUE(asked.empty());
}

TEST_F(ActToolsTest, ControlsAreJudgedByWhatTheyRead)
{
    visit("/judge", "<button" + kCount + ">Submit</button>"            // r1
                   "<button" + kCount + ">File Return</button>"       // r2
                   "<button" + kCount + ">जमा करें</button>"           // r3
                   "<button" + kCount + ">સબમિટ</button>"             // r4
                   "<a href='#'>Filed returns</a>"                     // r5
                   "<input type=image style='width:20px;height:20px'>" // r6
                   "<input type=submit value=''>"                      // r7
                   "<input name=otp>"                                  // r8
                   "<div role=button id=otpbox>Resend</div>"           // r9
                   "<input type=password name=pwd value=hunter2>"      // r10
                   "<button" + kCount + ">Pay later</button>"         // r11
                   "<button" + kCount + " title='Verify return'>e-Verify</button>" // r12
                   "<button" + kCount + ">भुगतान</button>");           // r13
    const std::vector<std::pair<QString, QString>> cases{
        {"r1", "confirm|Submit"},
        {"r2", "confirm|File Return"},
        {"r3", "confirm|जमा करें"},
        {"r4", "confirm|સબમિટ"},
        {"r5", "free|Filed returns"},
        {"r6", "confirm|(unlabelled submit control)"},
        {"r7", "confirm|(unlabelled submit control)"},
        {"r8", "otp|"},
        {"r9", "free|Resend"},
        {"r10", "free|"}, // a password's value is never a label
        {"r11", "free|Pay later"},
        {"r12", "confirm|e-Verify Verify return"},
        {"r13", "confirm|भुगतान"},
        {"r99", "gone"},
        {"r1\"]", "gone"},
        {"", "gone"},
    };
    for (const auto &[ref, expected] : cases)
        EXPECT_EQ(js(ActTools::classifyJS(ref)), expected) << ref.toStdString();
    // Typing judges the field (no tag test) and, with Enter, what it submits.
    EXPECT_EQ(js(ActTools::gateJS("r9", false)), "otp|");
    EXPECT_EQ(js(ActTools::gateJS("r1", true)), "free|") << "no form";
}

TEST_F(ActToolsTest, AClickThatReadsIrreversibleWaitsForTheCa)
{
    visit("/return", "<button" + kCount + ">Submit</button><button" + kCount + ">Pay later</button>"
                    "<input name=otp><input type=image style='width:20px;height:20px' onclick='document.body.dataset.clicks=9'>");
    const QString url = at("/return");

    // Declined, or no hook at all: nothing is clicked.
    const Result declined = textOf("The CA did not approve “Submit”. Stop here, say plainly what you were about to do "
                                   "and what you still need, and wait for them.",
                                   true);
    EXPECT_EQ(call("browser_click", {{"ref", "r1"}}), declined);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].title, "Click “Submit”?");
    EXPECT_EQ(asked[0].detail, url);
    BrowserMCP::onConfirm = nullptr;
    EXPECT_EQ(call("browser_click", {{"ref", "r1"}}), declined);
    EXPECT_EQ(js("String(document.body.dataset.clicks)"), "undefined");
    EXPECT_TRUE(held.empty());

    // Approved: clicked, and the page is read after the longer settle.

    BrowserMCP::onConfirm = [this](const QString &title, const QString &detail) {
        asked.push_back({title, detail});
        return true;
    };
    const QString clicked = textIn(settledCall("browser_click", {{"ref", "r1"}}, 2.6));
    EXPECT_TRUE(clicked.startsWith("Clicked r1 (Submit)\n\nURL: " + url)) << clicked.toStdString();
    EXPECT_EQ(js("String(document.body.dataset.clicks)"), "1");

    // A free click asks nothing and settles for less.
    asked.clear();
    EXPECT_TRUE(textIn(settledCall("browser_click", {{"ref", "r2"}}, 1.6)).startsWith("Clicked r2 (Pay later)\n\n"));
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(js("String(document.body.dataset.clicks)"), "2");

    // The OTP box and a ref that is gone are refused before anything is asked.
    EXPECT_EQ(call("browser_click", {{"ref", "r3"}}),
              textOf("That is the OTP box. Call portal_otp instead — Velto brings the window forward and the CA types "
                     "the code themselves. You never handle it.",
                     true));
    for (const QJsonObject &args : {QJsonObject{{"ref", "r40"}}, QJsonObject{}, QJsonObject{{"ref", 4}}})
        EXPECT_EQ(textIn(call("browser_click", args)), "Ref " + args.value("ref").toString() +
                                                           " is gone. Call browser_read again.");
    EXPECT_TRUE(asked.empty());

    // An icon-only submit control is asked about by that name.
    settledCall("browser_click", {{"ref", "r4"}}, 2.6);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].title, "Click “(unlabelled submit control)”?");
}

TEST_F(ActToolsTest, AnApprovedClickLandsOnlyOnTheControlTheCaSaw)
{
    // A hidden "Submit" that posts a payment sits before the visible one
    // that saves a draft. Whatever the page does while the CA reads the
    // question, the click goes to the control judged or to nothing.
    const QByteArray swap = "<button id=pay style='opacity:0' "
                            "onclick=\"document.body.dataset.clicked='pay'\">Submit</button>"
                            "<button id=b onclick=\"document.body.dataset.clicked='draft'\">Submit</button>";
    const Result changed = textOf("The page changed since that control was read, so nothing was clicked. Call "
                                  "browser_read and look again.",
                                  true);
    approve = true;
    struct Attack {
        const char *what;
        QString script; // run as the page's own script
        QString clicked;
    };
    const std::vector<Attack> attacks{
        {"marks every element the page can see, to point the ref at the payment",
         "document.querySelectorAll('*').forEach(function(e){for(var i=0;i<e.attributes.length;i++){"
         "var a=e.attributes[i];if(a.value==='r1')document.getElementById('pay').setAttribute(a.name,'r1');}});"
         "document.getElementById('pay').setAttribute('data-velto-ref','r1');",
         "draft"},
        {"swaps the control for a copy that pays",
         "var b=document.getElementById('b'),c=b.cloneNode(true);"
         "c.onclick=function(){document.body.dataset.clicked='pay'};b.replaceWith(c);",
         "undefined"},
        {"hides the control and shows the payment in its place",
         "document.getElementById('b').style.display='none';document.getElementById('pay').style.opacity='1';",
         "undefined"},
        {"renames the control", "document.getElementById('b').textContent='Make payment'", "undefined"},
    };
    for (const Attack &attack : attacks) {
        visit("/swap", swap);
        EXPECT_EQ(js("String(window.__veltoSecrets!==undefined)"), "true");
        whileAsking = [&] { pane->web()->evaluate(attack.script, WebView::World::Page); };
        const Result r = attack.clicked == "draft" ? settledCall("browser_click", {{"ref", "r1"}}, 2.6)
                                                   : call("browser_click", {{"ref", "r1"}});
        if (attack.clicked == "draft")
            EXPECT_TRUE(textIn(r).startsWith("Clicked r1 (Submit)")) << attack.what;
        else
            EXPECT_EQ(r, changed) << attack.what;
        EXPECT_EQ(js("String(document.body.dataset.clicked)"), attack.clicked) << attack.what;
    }
    // The page's own scripts see none of what the tools hold.
    std::optional<WebView::ScriptResult> seen;
    pane->web()->evaluate("typeof window.__veltoSecrets", [&](const WebView::ScriptResult &r) { seen = r; },
                          WebView::World::Page);
    ASSERT_TRUE(waitFor([&] { return seen.has_value(); }));
    EXPECT_EQ(seen->value.toString(), "undefined");

    // Only "clicked" is a click: a control whose click throws is a failure.
    visit("/swap", swap);
    whileAsking = [this] {
        pane->web()->evaluate("document.getElementById('b').click=function(){throw new Error('blocked')}");
    };
    const Result r = call("browser_click", {{"ref", "r1"}});
    EXPECT_TRUE(r.value("isError").toBool());
    EXPECT_TRUE(textIn(r).startsWith("Could not click r1: ERROR: blocked")) << textIn(r).toStdString();
    EXPECT_TRUE(held.empty());
}

TEST_F(ActToolsTest, TypingAsksOnlyWhenEnterWouldSubmit)
{
    visit("/form", "<form onsubmit='return false'><input name=pan id=pan>"                          // r1
                  "<input type=password name=pwd id=pwd value=hunter2>"                          // r2
                  "<input name=otp>"                                                              // r3
                  "<button type=button>Back</button><button type=submit>Submit</button></form>"  // r4, r5
                  "<div role=button id=otpbox>Resend</div>"                                       // r6
                  "<input id=free>"                                                               // r7
                  "<script>document.getElementById('pan').addEventListener('keydown',function(e){"
                  "if(e.key==='Enter')document.body.dataset.enters=(+document.body.dataset.enters||0)+1;});"
                  "document.getElementById('pan').addEventListener('input',function(){document.body.dataset.inputs=1;});</script>");

    // Without Enter nothing is asked, even inside a form that submits.
    EXPECT_TRUE(textIn(settledCall("browser_type", {{"ref", "r1"}, {"text", "AAAPA1234A"}}, 0.5))
                    .startsWith("Typed into r1\n\nURL: "));
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(js("document.getElementById('pan').value + ' ' + document.body.dataset.inputs + ' ' + document.body.dataset.enters"),
              "AAAPA1234A 1 undefined");

    // With Enter, the CA is asked; declined, nothing is typed.
    EXPECT_EQ(call("browser_type", {{"ref", "r1"}, {"text", "BBB"}, {"press_enter", true}}),
              textOf("The CA did not approve submitting “Submit”. The text was not typed. Say what you were about "
                     "to do and wait.",
                     true));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].title, "Press Enter — this submits “Submit”?");
    EXPECT_EQ(js("document.getElementById('pan').value"), "AAAPA1234A");
    approve = true;
    EXPECT_TRUE(textIn(settledCall("browser_type", {{"ref", "r1"}, {"text", "BBB"}, {"press_enter", true}}, 1.8))
                    .startsWith("Typed into r1\n\n"));
    EXPECT_EQ(js("document.getElementById('pan').value + ' ' + document.body.dataset.enters"), "BBB 1");

    // Enter outside a form asks nothing.
    asked.clear();
    settledCall("browser_type", {{"ref", "r7"}, {"text", "x"}, {"press_enter", true}}, 1.8);
    EXPECT_TRUE(asked.empty());

    // Password fields and OTP boxes are never typed into.
    EXPECT_EQ(call("browser_type", {{"ref", "r2"}, {"text", "guess"}}),
              textOf("Refused: that is a password field. Use portal_sign_in — Velto types the saved password itself.",
                     true));
    EXPECT_EQ(js("document.getElementById('pwd').value"), "hunter2");
    const Result otp = textOf("That is an OTP box — call portal_otp. Velto brings the window forward and the CA types "
                              "the code. Never put a code in here yourself.",
                              true);
    EXPECT_EQ(call("browser_type", {{"ref", "r3"}, {"text", "123456"}}), otp);
    EXPECT_EQ(call("browser_type", {{"ref", "r6"}, {"text", "123456"}}), otp) << "the gate has no tag test";
    EXPECT_EQ(call("browser_type", {{"ref", "r50"}, {"text", "x"}}),
              textOf("Ref r50 is gone. Call browser_read again.", true));

    // An approved Enter lands only on the form the CA was asked about, in the
    // very field judged.
    const Result changed = textOf("The page changed since that control was read, so nothing was typed. Call "
                                  "browser_read and look again.",
                                  true);
    whileAsking = [this] { pane->web()->evaluate("document.querySelector('button[type=submit]').textContent='Pay now'"); };
    EXPECT_EQ(call("browser_type", {{"ref", "r1"}, {"text", "CCC"}, {"press_enter", true}}), changed);
    EXPECT_EQ(js("document.getElementById('pan').value + ' ' + document.body.dataset.enters"), "BBB 1");
    js("document.querySelector('button[type=submit]').textContent='Submit'");
    whileAsking = [this] {
        pane->web()->evaluate("var f=document.getElementById('pan'),c=f.cloneNode(true);c.id='copy';f.replaceWith(c);",
                              WebView::World::Page);
    };
    EXPECT_EQ(call("browser_type", {{"ref", "r1"}, {"text", "DDD"}, {"press_enter", true}}), changed);
    EXPECT_EQ(js("document.getElementById('copy').value"), "BBB");
}

TEST_F(ActToolsTest, SelectPicksTheBestOptionOrListsThem)
{
    QByteArray many = "<select id=many>";
    for (int i = 1; i <= 45; ++i)
        many += "<option value=v" + QByteArray::number(i) + ">Option " + QByteArray::number(i) + "</option>";
    visit("/select", "<select id=state onchange='document.body.dataset.changed=this.value'><option value=gb>Gujarati Bank</option>"
                    "<option value=gj> Gujarat </option><option value=mh>Maharashtra</option></select>" +
                        many + "</select><input id=plain>");

    EXPECT_TRUE(textIn(settledCall("browser_select", {{"ref", "r1"}, {"value", "GUJARAT"}}, 1.0))
                    .startsWith("selected Gujarat\n\nURL: "));
    EXPECT_EQ(js("document.body.dataset.changed"), "gj");
    EXPECT_TRUE(textIn(settledCall("browser_select", {{"ref", "r1"}, {"value", "mh"}}, 1.0))
                    .startsWith("selected Maharashtra\n\n"));
    EXPECT_TRUE(textIn(settledCall("browser_select", {{"ref", "r1"}, {"value", "rash"}}, 1.0))
                    .startsWith("selected Maharashtra\n\n"));

    QStringList thirty;
    for (int i = 1; i <= 30; ++i)
        thirty << QString("Option %1").arg(i);
    const Result listed = settledCall("browser_select", {{"ref", "r2"}, {"value", "none such"}}, 1.0);
    EXPECT_FALSE(listed.value("isError").toBool());
    EXPECT_TRUE(textIn(listed).startsWith("options: " + thirty.join(" | ") + "\n\n"));

    for (const QString ref : {"r3", "r9"})
        EXPECT_EQ(call("browser_select", {{"ref", ref}, {"value", "x"}}),
                  textOf("Ref " + ref + " is not a dropdown. Call browser_read again.", true));
}

TEST_F(ActToolsTest, OtpHandOffWatchesTheBoxUntilTheCaTypes)
{
    visit("/hidden", "<input name=otp style='display:none'><button>Send OTP</button>");
    EXPECT_EQ(call("portal_otp"), textOf("No OTP box is visible on this page. Call browser_read and look again — the "
                                         "portal may not have sent the code yet.",
                                         true));

    visit("/otp", "<form><input id=o aria-label='One time password' maxlength=6><button>Verify</button></form>");
    auto slot = start("portal_otp");
    release(2.0); // read 1: empty
    EXPECT_EQ(js("document.activeElement.id"), "o");
    js("document.getElementById('o').value='123'");
    release(2.0); // read 2: three digits are no code
    ASSERT_TRUE(waitFor([&] { return !held.empty(); }));
    // The CA opens another tab whose box is filled: the watched tab is still the first.
    page("/other", "<input name=otp value='999999'>");
    pane->newTab(QUrl(at("/other")), true);
    ASSERT_TRUE(settled());
    release(2.0);
    ASSERT_TRUE(waitFor([&] { return !held.empty(); }));
    EXPECT_FALSE(slot->has_value());
    pane->select(0);
    ASSERT_TRUE(settled());
    js("document.getElementById('o').value='  482913 '");
    release(2.0);
    release(0.6);
    const Result entered = result(slot);
    EXPECT_TRUE(textIn(entered).startsWith("The CA entered the code. Carry on.\n\nURL: " + at("/otp")));
    EXPECT_FALSE(textIn(entered).contains("482913")) << "the code itself never reaches the engine";
    EXPECT_FALSE(entered.value("isError").toBool());

    // The page moves on.
    js("document.getElementById('o').value=''");
    slot = start("portal_otp");
    ASSERT_TRUE(waitFor([&] { return !held.empty(); }));
    visit("/done", "<p>Return filed</p>");
    release(2.0);
    release(0.4);
    EXPECT_TRUE(textIn(result(slot)).startsWith("The OTP box is gone — the page probably moved on.\n\nURL: "));
}

TEST_F(ActToolsTest, OtpHandOffGivesUpAfterSeventySixReads)
{
    visit("/otp", "<input id=o name=otp>");
    auto slot = start("portal_otp");
    for (int i = 0; i < 75; ++i)
        release(2.0);
    EXPECT_EQ(result(slot), textOf("Waited 2.5 minutes and the OTP box is still empty. Tell the CA what is waiting "
                                   "for them, then call portal_otp again.",
                                   true));
    EXPECT_TRUE(held.empty());
}

TEST_F(ActToolsTest, UploadSendsOnlyARegularFileFromTheClientsFolder)
{
    QDir().mkpath(home->file("Clients/Quenby"));
    writeSecret(WORK_ENV, "VELTO_WORK=\"" + home->file("Clients") + "\"\n");
    const QString root = QFileInfo(home->file("Clients")).canonicalFilePath();
    home->write("Clients/Quenby/challan.pdf", "%PDF-1.4");
    const QString outside = home->write("secret.txt", "x");
    QFile::link(outside, home->file("Clients/Quenby/link.txt"));
    visit("/up", "<input type=file id=f style='width:200px;height:30px'><button>Upload</button>");

    const std::vector<std::pair<QJsonObject, QString>> refusals{
        {{}, "ref and path are required."},
        {{{"ref", "r1"}}, "ref and path are required."},
        {{{"ref", "r1"}, {"path", "../secret.txt"}},
         "Refused: " + QFileInfo(outside).canonicalFilePath() +
             " is outside the clients folder. Only files in the workspace can be uploaded."},
        {{{"ref", "r1"}, {"path", "Quenby/link.txt"}},
         "Refused: " + QFileInfo(outside).canonicalFilePath() +
             " is outside the clients folder. Only files in the workspace can be uploaded."},
        {{{"ref", "r1"}, {"path", "Quenby/missing.pdf"}}, "No file at " + root + "/Quenby/missing.pdf."},
        {{{"ref", "r1"}, {"path", "Quenby"}}, "Refused: " + root + "/Quenby is not a regular file."},
        {{{"ref", "r1"}, {"path", "/"}},
         "Refused: / is outside the clients folder. Only files in the workspace can be uploaded."},
        {{{"ref", "r2"}, {"path", "Quenby/challan.pdf"}},
         "Ref r2 is not a file input. Call browser_read and pick the upload control."},
        {{{"ref", "r7"}, {"path", "Quenby/challan.pdf"}}, "Ref r7 is gone. Call browser_read again."},
    };
    for (const auto &[args, text] : refusals)
        EXPECT_EQ(call("browser_upload", args), textOf(text, true)) << show(args);
    EXPECT_EQ(js("document.getElementById('f').files.length"), "0");

    const QString r = textIn(settledCall("browser_upload", {{"ref", "r1"}, {"path", "Quenby/challan.pdf"}}, 2.4));
    EXPECT_TRUE(r.startsWith("Attached challan.pdf to r1. Check the page shows it before moving on.\n\nURL: "));
    EXPECT_EQ(js("document.getElementById('f').files[0].name"), "challan.pdf");
}

} // namespace
