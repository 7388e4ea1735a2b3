#include "browser/PageScripts.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QWebEngineProfile>

using namespace TestKit;

namespace {

class PageScriptsTest : public ::testing::Test {
protected:
    FakeHttpServer server;
    std::unique_ptr<WebView> view;

    void SetUp() override
    {
        view = std::make_unique<WebView>(TestKit::webProfile());
        view->resize(1000, 800);
        view->show();
    }

    void open(const QByteArray &body)
    {
        FakeReply r = FakeReply::text("<!doctype html><html><head><title>Fixture</title></head><body>" + body +
                                      "</body></html>");
        r.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        server.on("GET", "/page", r);
        QSignalSpy spy(view.get(), &QWebEngineView::loadFinished);
        view->load(QUrl(server.baseUrl() + "/page"));
        ASSERT_TRUE(spy.wait(15000));
    }

    QString run(const QString &js)
    {
        std::optional<QString> out;
        view->evaluate(js, [&](const WebView::ScriptResult &r) { out = scriptOutcome(r); });
        EXPECT_TRUE(waitFor([&] { return out.has_value(); }, 10000));
        return out.value_or("no answer");
    }

    QJsonObject snap(bool full)
    {
        return QJsonDocument::fromJson(run(snapshotJS(full)).toUtf8()).object();
    }

    static QStringList lines(const QJsonObject &s)
    {
        QStringList out;
        for (const auto &v : s.value("elements").toArray())
            out << v.toString();
        return out;
    }
};

TEST_F(PageScriptsTest, JsQuoteRoundTrips)
{
    open("");
    const QStringList texts = {"", "plain", "it's \"quoted\"", "back\\slash", "line\nbreak\ttab",
                               QString::fromUtf8("\xe2\x80\xa8 sep \xe2\x80\xa9"), "</script><b>", QString::fromUtf8("ओटीपी ₹")};
    for (const QString &t : texts) {
        const QString lit = jsQuote(t);
        EXPECT_TRUE(lit.startsWith('"') && lit.endsWith('"'));
        EXPECT_EQ(run(lit), t) << t.toStdString();
    }
}

TEST_F(PageScriptsTest, OutcomesAsOneLine)
{
    open("");
    EXPECT_EQ(run("'word'"), "word");
    EXPECT_EQ(run("undefined"), "");
    EXPECT_EQ(run("null"), "");
    EXPECT_EQ(run("true"), "1");
    EXPECT_EQ(run("false"), "0");
    EXPECT_EQ(run("42"), "42");
    EXPECT_EQ(run("1.5"), "1.5");
    EXPECT_EQ(run("[1,'a']"), "[1,\"a\"]");
    EXPECT_EQ(run("var x = 1;\nvar y = 2;\nthrow new Error('bad ref');"), "ERROR: bad ref (line 3)");
}

TEST_F(PageScriptsTest, LinesLabelsAndValues)
{
    open("<a href='#a' aria-label='' title='Search'>icon</a>"
         "<label for='pan'>PAN of the client</label><input id='pan'>"
         "<input type='text' name='gstin' value='27AAAAA0000A1Z5'>"
         "<button disabled>Submit return</button>"
         "<input type='submit' value='Go'>"
         "<input type='text' aria-label='" + QByteArray(200, 'L') + "' value='" + QByteArray(100, 'V') + "'>"
         "<div style='display:none'><button>hidden</button></div>"
         "<button style='opacity:0'>clear</button>"
         "<button style='width:0;height:0;padding:0;border:0;overflow:hidden'></button>"
         "<span role='button'>  spaced \n\n  label </span>"
         "<p>one</p><p>\n\n\n\n\n</p><pre>a\n\n\n\n\nb</pre>");
    const QJsonObject s = snap(true);
    EXPECT_EQ(s.value("title").toString(), "Fixture");
    EXPECT_TRUE(s.value("url").toString().endsWith("/page"));
    const QStringList l = lines(s);
    ASSERT_EQ(l.size(), 7) << l.join('\n').toStdString();
    EXPECT_EQ(l[0], "r1 a \"Search\"");
    EXPECT_EQ(l[1], "r2 input \"PAN of the client\"");
    EXPECT_EQ(l[2], "r3 input[text] \"27AAAAA0000A1Z5\" value=\"27AAAAA0000A1Z5\"");
    EXPECT_EQ(l[3], "r4 button \"Submit return\" (disabled)");
    EXPECT_EQ(l[4], "r5 input[submit] \"Go\" value=\"Go\"");
    EXPECT_EQ(l[5], "r6 input[text] \"" + QString(90, 'L') + "\" value=\"" + QString(60, 'V') + "\"");
    EXPECT_EQ(l[6], "r7 span \"spaced label\"");
    EXPECT_EQ(s.value("total").toInt(), 7);
    EXPECT_EQ(s.value("fields").toInt(), 5);
    EXPECT_FALSE(s.value("text").toString().contains("\n\n\n"));
    EXPECT_TRUE(s.value("text").toString().contains("a\n\nb"));

    const QStringList brief = lines(snap(false));
    ASSERT_EQ(brief.size(), 7);
    EXPECT_EQ(brief[4], "r6 input[text] \"" + QString(60, 'L') + "\" value=\"" + QString(60, 'V') + "\"")
        << "shorter labels; values keep their own cap";
    EXPECT_EQ(brief[5], "r1 a \"Search\"") << "actionable lines come first in brief mode";
}

TEST_F(PageScriptsTest, AFieldWithALabelIsNamedByIt)
{
    // As a CA reads the form: the label beside a field names it, before its
    // value, placeholder or title; only the page's own accessible name comes
    // first, and an empty label names nothing.
    open("<label for='gstin'>GSTIN of the client</label>"
         "<input id='gstin' value='27AAAAA0000A1Z5' placeholder='e.g. 27ABCDE1234F1Z5' title='GSTIN'>"
         "<label for='st'> State </label><select id='st'><option>Maharashtra</option></select>"
         "<label for='note'>Remarks</label><textarea id='note'>paid in cash</textarea>"
         "<label for='named'>Label</label><input id='named' aria-label='Legal name' value='Shah &amp; Co'>"
         "<label for='blank'> </label><input id='blank' value='AAAPA1234A'>"
         "<label for='pw'>Portal password</label><input type='password' id='pw' value='hunter2'>");
    const QStringList l = lines(snap(true));
    const QStringList expected{
        R"(r1 input "GSTIN of the client" value="27AAAAA0000A1Z5")",
        R"(r2 select "State")",
        R"(r3 textarea "Remarks" value="paid in cash")",
        R"(r4 input "Legal name" value="Shah & Co")",
        R"(r5 input "AAAPA1234A" value="AAAPA1234A")",
        R"(r6 input[password] "Portal password")",
    };
    ASSERT_EQ(l.size(), expected.size()) << l.join('\n').toStdString();
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_EQ(l[i], expected[i]);
}

TEST_F(PageScriptsTest, SecretsNeverLeaveThePage)
{
    open("<form><input name='userid' value='ca.firm'>"
         "<input type='password' name='pwd' value='hunter2'>"
         "<input name='otp_code' value='482913'>"
         "<input placeholder='Enter One Time Password' value='771100'>"
         "<textarea autocomplete='one-time-code'>556677</textarea>"
         "<input type='password' id='p2' value='s3cret'></form>");
    const QString json = run(snapshotJS(true));
    for (const char *secret : {"hunter2", "482913", "771100", "556677", "s3cret"})
        EXPECT_FALSE(json.contains(secret)) << secret;
    const QStringList l = lines(QJsonDocument::fromJson(json.toUtf8()).object());
    ASSERT_EQ(l.size(), 6);
    EXPECT_EQ(l[0], "r1 input \"ca.firm\" value=\"ca.firm\"");
    EXPECT_EQ(l[1], "r2 input[password] \"\"");
    EXPECT_EQ(l[3], "r4 input \"Enter One Time Password\"");
}

TEST_F(PageScriptsTest, ModesAndCaps)
{
    QByteArray body;
    for (int i = 0; i < 50; ++i)
        body += "<input name='f" + QByteArray::number(i) + "'>";
    for (int i = 0; i < 30; ++i)
        body += "<a href='#" + QByteArray::number(i) + "'>link " + QByteArray::number(i) + "</a>";
    open(body);
    QJsonObject s = snap(false);
    EXPECT_EQ(lines(s).size(), 50);
    EXPECT_EQ(s.value("total").toInt(), 80);
    EXPECT_EQ(s.value("fields").toInt(), 50);
    EXPECT_EQ(lines(snap(true)).size(), 80);

    QByteArray many;
    for (int i = 0; i < 300; ++i)
        many += "<button>b" + QByteArray::number(i) + "</button>";
    many += "<p>" + QByteArray(9000, 'x') + "</p>";
    open(many);
    s = snap(true);
    EXPECT_EQ(lines(s).size(), 220);
    EXPECT_EQ(s.value("total").toInt(), 300);
    EXPECT_EQ(s.value("text").toString().size(), 7000);
    EXPECT_EQ(snap(false).value("text").toString().size(), 1200);
}

TEST_F(PageScriptsTest, LongTextIsCutByWholeCharacters)
{
    // Flags are four code units each, accented letters written as a letter
    // and a combining mark two: the cut looks further ahead until it holds
    // enough whole characters, and never splits one.
    const QString flag = QString::fromUtf8("\xf0\x9f\x87\xae\xf0\x9f\x87\xb3");
    const QString accented = QString::fromUtf8("e\xcc\x81");
    open(("<p>" + flag.repeated(7100) + "</p>").toUtf8());
    EXPECT_EQ(snap(true).value("text").toString(), flag.repeated(7000));
    open(("<p>" + accented.repeated(7100) + "</p>").toUtf8());
    EXPECT_EQ(snap(true).value("text").toString(), accented.repeated(7000));
    EXPECT_EQ(snap(false).value("text").toString(), accented.repeated(1200));
}

TEST_F(PageScriptsTest, RefsAreRenumberedCleanly)
{
    open("<button id=a>A</button><button id=b>B</button><button id=c>C</button>");
    snap(true);
    const QString refOf = "(function(){var V=window.__veltoSecrets,out=[];V.refs.forEach(function(e,r){"
                          "if(e.id===%1)out.push(r);});return out.join(',');})()";
    EXPECT_EQ(run(refOf.arg("'c'")), "r3");
    EXPECT_EQ(run("document.querySelectorAll('[data-velto-ref]').length"), "0") << "no mark the page could move";
    run("document.getElementById('a').style.display='none'");
    const QStringList l = lines(snap(true));
    EXPECT_EQ(l, (QStringList{"r1 button \"B\"", "r2 button \"C\""})) << "numbers close up";
    EXPECT_EQ(run(refOf.arg("'a'")), "") << "a hidden control keeps no stale ref";
    EXPECT_EQ(run(refOf.arg("'b'")), "r1");
    EXPECT_EQ(run("window.__veltoSecrets.refs.size"), "2");
}

} // namespace
