#include "app/ChatScripts.h"
#include "platform/Appearance.h"
#include "platform/WebView.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"
#include "ui/Theme.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QSignalSpy>

using namespace TestKit;

namespace {

TEST(ChatPalette, RowsAndBlocks)
{
    const QString light = ChatScripts::chatPalette(false);
    const QString dark = ChatScripts::chatPalette(true);
    EXPECT_EQ(light.count(';'), 97);
    EXPECT_EQ(light.count('\n'), 29);
    EXPECT_TRUE(light.startsWith("--background-base:#FFFFFF;--background-strong:#FFFFFF;"
                                 "--background-stronger:#FFFFFF;--background-weak:#FAFAF7;\n"));
    EXPECT_TRUE(dark.startsWith("--background-base:#10131C;"));
    EXPECT_TRUE(light.contains("--text-on-interactive-base:#FFFFFF;"));
    EXPECT_TRUE(light.contains("--shadow-xs-border:0 0 0 1px rgba(14,18,32,0.140), 0 6px 20px rgba(14,18,32,.06);") ||
                light.contains("--shadow-xs-border:0 0 0 1px rgba(14,18,32,0.14), 0 6px 20px rgba(14,18,32,.06);"))
        << light.section('\n', 17, 17).toStdString();
    EXPECT_TRUE(dark.contains(", 0 8px 24px rgba(0,0,0,.35);"));
    EXPECT_TRUE(light.endsWith("--vo-focus:" + Theme::css([] {
                                   QColor c = Theme::tokens(false, [] { return Theme::royal(); });
                                   c.setAlphaF(0.25);
                                   return c;
                               }()) + ";\n"));

    const QString block = ChatScripts::paletteBlock(true);
    EXPECT_TRUE(block.startsWith(":root, :root[data-theme], :root[data-color-scheme], .dark, .light {--background-base:#10131C !important;"));
    EXPECT_TRUE(block.endsWith(" color-scheme:dark !important;}"));
    EXPECT_FALSE(block.contains(QRegularExpression("[^t];"))) << "every declaration is important";
}

TEST(ChatScripts, CallsAreValidScriptStrings)
{
    const QString call = ChatScripts::statusCall("Can't reach the engine \"now\"\n");
    EXPECT_EQ(call, QString::fromUtf8("window.velto && velto.setMessage(\"Can\xe2\x80\x99t reach the engine \\\"now\\\"\\n\")"));
    Theme::setOverride(QString("dark"));
    EXPECT_EQ(ChatScripts::liveThemeCall(), "window.__veltoSetTheme && window.__veltoSetTheme(\"dark\")");
    EXPECT_TRUE(ChatScripts::themeLock().contains("\"dark\""));
    Theme::setOverride(std::nullopt);
}

class ChatPageTest : public ::testing::Test {
protected:
    FakeHttpServer server;
    std::unique_ptr<WebView> view;
    std::vector<QJsonObject> posts;

    void SetUp() override
    {
        Theme::setOverride(QString("light"));
        view = std::make_unique<WebView>(TestKit::webProfile());
        view->resize(1000, 700);
        view->show();
        view->addMessageHandler("velto", [this](const QJsonValue &v) { posts.push_back(v.toObject()); });
        ChatScripts::installChatScripts(view.get());
    }
    void TearDown() override
    {
        view.reset();
        Theme::setOverride(std::nullopt);
    }

    void open(const QByteArray &body)
    {
        FakeReply r = FakeReply::text("<!doctype html><html class='light'><head><title>chat</title></head><body>" +
                                      body + "</body></html>");
        r.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        server.on("GET", "/chat", r);
        QSignalSpy spy(view.get(), &QWebEngineView::loadFinished);
        view->load(QUrl(server.baseUrl() + "/chat"));
        ASSERT_TRUE(spy.wait(15000));
    }
    QString js(const QString &script)
    {
        std::optional<QString> out;
        view->evaluate(script, [&](const WebView::ScriptResult &r) {
            out = r.ok() ? r.value.toString() : "ERROR " + r.error;
        }, WebView::World::Page);
        EXPECT_TRUE(waitFor([&] { return out.has_value(); }, 10000));
        return out.value_or(QString());
    }
    int count(const char *key, bool value)
    {
        int n = 0;
        for (const auto &p : posts)
            if (p.contains(key) && p.value(key).toBool() == value)
                ++n;
        return n;
    }
};

TEST_F(ChatPageTest, ScriptsInstallOnceAndPaintThePage)
{
    ChatScripts::installChatScripts(view.get());
    // The still mark, the compatibility script, the orb scripts, the theme
    // lock, the early script and the injection: reinstalling replaces them.
    EXPECT_EQ(view->userScriptCount(), 6);
    open("<div>hello</div>");
    EXPECT_EQ(js("document.querySelectorAll('#velto-palette').length"), "1");
    EXPECT_EQ(js("localStorage.getItem('velto-theme-id')"), "oc-2");
    EXPECT_EQ(js("localStorage.getItem('velto-color-scheme')"), "light");
    EXPECT_EQ(js("getComputedStyle(document.documentElement).getPropertyValue('--vo-bg').trim()"), "#F6F5F1");
    EXPECT_EQ(js("document.head.lastElementChild.id"), "velto-palette") << "the palette is the last sheet";

    js("window.__veltoSetTheme('dark')");
    EXPECT_EQ(js("getComputedStyle(document.documentElement).getPropertyValue('--vo-bg').trim()"), "#06070B");
    EXPECT_EQ(js("document.documentElement.dataset.colorScheme"), "dark");
    EXPECT_EQ(js("document.documentElement.className"), "dark");
    js("window.__veltoSetTheme('anything')");
    EXPECT_EQ(js("document.documentElement.className"), "light");
}

TEST_F(ChatPageTest, BusyIsToldOncePerChangeAndHomeIsAskedForAtMostEvery8s)
{
    open("<div id=main>ready</div>");
    // The first round tells the page's starting state.
    ASSERT_TRUE(waitFor([&] { return count("working", false) == 1; }, 5000));
    js("document.getElementById('main').innerHTML = '<button aria-label=\"Stop\">x</button><span class=animate-spin>o</span>'");
    ASSERT_TRUE(waitFor([&] { return count("working", true) == 1; }, 5000));
    spin(1200); // a few more rounds of the page tasks
    EXPECT_EQ(count("working", true), 1);
    EXPECT_EQ(js("document.documentElement.hasAttribute('data-velto-busy')"), "true");
    EXPECT_EQ(js("document.querySelector('.animate-spin').dataset.veltoDone"), "1");
    EXPECT_EQ(js("document.querySelectorAll('pavi-avatar[state=working][size=\"20\"]').length"), "1")
        << "the mascot replaces the spinner";
    EXPECT_EQ(js("document.querySelector('pavi-avatar').shadowRoot.querySelectorAll('svg path').length"), "2")
        << "the bundled mascot draws itself";
    EXPECT_EQ(js("document.querySelectorAll('.velto-orb').length"), "0");

    js("document.getElementById('main').innerHTML = 'Create a session to get started'");
    ASSERT_TRUE(waitFor([&] { return count("working", false) == 2 && count("home", true) == 1; }, 5000));
    spin(1200);
    EXPECT_EQ(count("home", true), 1) << "asked again only after 8 s";
    EXPECT_EQ(count("working", false), 2);
}

TEST_F(ChatPageTest, StatusOrbsSettingsLinksAndWordmark)
{
    open("<script>customElements.define('pavi-avatar', class extends HTMLElement {});</script>"
         "<div id=wrap><span id=status>Reading the GSTR-2B file</span></div>"
         "<div id=tall style='height:45px'>Thinking hard</div>"
         "<label>Auto-accept permissions</label>"
         "<div class=row><label>Colour Scheme</label></div>"
         "<label>" + QByteArray(45, 'a') + "</label>"
         "<a id=l href='https://discord.example/x'>chat</a>"
         "<svg viewBox='0 0 720 120' width=100 height=20></svg>");
    ASSERT_TRUE(waitFor([&] { return js("document.querySelectorAll('[data-velto-orb]').length") == "1"; }, 5000));
    EXPECT_EQ(js("document.getElementById('status').hasAttribute('data-velto-orb')"), "true");
    EXPECT_EQ(js("document.getElementById('status').firstChild.getAttribute('state')"), "searching");
    EXPECT_EQ(js("document.getElementById('wrap').hasAttribute('data-velto-orb')"), "false");
    EXPECT_EQ(js("document.getElementById('tall').hasAttribute('data-velto-orb')"), "false") << "45 px is too tall";
    EXPECT_EQ(js("[...document.querySelectorAll('label')].map(l=>l.textContent).join('|').split('|')[0]"),
              "Approve routine steps automatically");
    EXPECT_EQ(js("document.querySelector('.row').style.display"), "none");
    EXPECT_EQ(js("document.querySelectorAll('label')[2].dataset.veltoSetting === undefined"), "true");
    EXPECT_EQ(js("document.getElementById('l').getAttribute('href') + ' ' + document.getElementById('l').target"),
              "https://hallix.in/ca/cli _blank");
    EXPECT_EQ(js("document.querySelectorAll('.velto-wordmark .vo-mark svg').length"), "1");
    EXPECT_EQ(js("document.querySelector('.velto-name').innerHTML"), "Vel<i>to</i>");
}

// The web view doesn't know the desktop's motion setting: with reduced motion
// the page's root is marked and the mascots and orbs keep still; the mark
// follows a change on the page already shown.
TEST_F(ChatPageTest, ReducedMotionStillsThePageMarks)
{
    struct Restore {
        std::function<bool()> saved = Appearance::Hooks::reduceMotion;
        ~Restore() { Appearance::Hooks::reduceMotion = saved; }
    } restore;
    bool reduce = true;
    Appearance::Hooks::reduceMotion = [&] { return reduce; };
    ChatScripts::installChatScripts(view.get());
    open("<pavi-avatar id=a state=working></pavi-avatar><span id=o class=velto-orb></span>");
    const QString ring = "getComputedStyle(document.getElementById('a').shadowRoot.querySelector('.ring')).animationName";
    const QString orb = "getComputedStyle(document.getElementById('o')).animationName";
    EXPECT_EQ(js("document.documentElement.hasAttribute('data-velto-still')"), "true");
    EXPECT_EQ(js(ring), "none");
    EXPECT_EQ(js(orb), "none");

    reduce = false;
    js(ChatScripts::stillCall());
    EXPECT_EQ(js("document.documentElement.hasAttribute('data-velto-still')"), "false");
    EXPECT_EQ(js(ring), "pavi-spin");
    EXPECT_EQ(js(orb), "velto-spin");
}

// The engine's page as our web view runs it: script features it lacks are
// supplied, and heights in dynamic viewport units (which it drops) are given
// in vh, inside the same layers and media rules.
TEST_F(ChatPageTest, CompatibilitySuppliesMissingFeatures)
{
    FakeReply css = FakeReply::text("@layer base,utilities;@layer utilities{.h-dvh{height:100dvh;color:red}}"
                                    "@media (min-width:1px){.half{min-height:calc(50svh - 10px)}}"
                                    "@media (min-width:99999px){.never{height:10lvh}}");
    css.headers = {{"Content-Type", "text/css"}};
    server.on("GET", "/app.css", css);
    open("<style>.inline{height:25dvh}</style><link rel=stylesheet href=/app.css>"
         "<div id=root class=h-dvh><div id=half class=half></div><div id=inline class=inline></div>"
         "<div id=never class=never></div></div>");
    ASSERT_TRUE(waitFor([&] { return js("document.getElementById('root').offsetHeight") == "700"; }, 5000))
        << js("document.getElementById('root').offsetHeight").toStdString();
    EXPECT_EQ(js("document.getElementById('half').offsetHeight"), "340");
    EXPECT_EQ(js("document.getElementById('inline').offsetHeight"), "175");
    EXPECT_EQ(js("document.getElementById('never').offsetHeight"), "0") << "the media rule still holds";
    EXPECT_EQ(js("getComputedStyle(document.getElementById('root')).color"), "rgb(255, 0, 0)");

    const struct {
        const char *script, *value;
    } cases[] = {
        {"var a=[3,1,2]; a.toSorted().join() + '/' + a.join()", "1,2,3/3,1,2"},
        {"var a=[1,2,3]; a.toReversed().join() + '/' + a.join()", "3,2,1/1,2,3"},
        {"var a=[1,2,3]; a.toSpliced(1,1,'x','y').join() + '/' + a.join()", "1,x,y,3/1,2,3"},
        {"[1,2,3].with(-1,9).join()", "1,2,9"},
        {"try{[1].with(5,0);'no'}catch(e){e.name}", "RangeError"},
        {"var r=Promise.withResolvers(); typeof r.resolve + typeof r.reject + (r.promise instanceof Promise)",
         "functionfunctiontrue"},
        {"Map.groupBy([1,2,3,4],x=>x%2).get(1).join()", "1,3"},
        {"var g=Object.groupBy(['a','bb','cc'],s=>s.length); Object.getPrototypeOf(g) + ':' + g[2].join()",
         "null:bb,cc"},
        {"AbortSignal.timeout(5) instanceof AbortSignal", "true"},
        {"URL.canParse('http://x/') + '/' + URL.canParse('nope')", "true/false"},
        {"Object.keys(Array.prototype).length", "0"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(js(QString::fromUtf8(c.script)), QString::fromUtf8(c.value)) << c.script;
    }
    // A bounded request ends with the time-out error the page expects.
    js("window.__aborted = ''; var s = AbortSignal.timeout(20); s.addEventListener('abort', () => window.__aborted = s.reason.name);");
    EXPECT_TRUE(waitFor([&] { return js("window.__aborted") == "TimeoutError"; }, 3000));
}

} // namespace

namespace {

TEST(ChatScripts, EarlyStyleReachesAPageWithNoRootYet)
{
    FakeHttpServer server;
    FakeReply page = FakeReply::text("<html><body><p id=p>x</p></body></html>");
    page.headers = {{"Content-Type", "text/html"}};
    server.on("GET", "/splash", page);
    WebView view(TestKit::webProfile());
    view.addUserScript(ChatScripts::earlyStyle("#p{letter-spacing:7px} /* `quoted` ${x} */"),
                       WebView::When::DocumentStart, WebView::Frames::MainOnly);
    QSignalSpy spy(&view, &QWebEngineView::loadFinished);
    view.load(QUrl(server.baseUrl() + "/splash"));
    ASSERT_TRUE(spy.wait(15000));
    std::optional<QString> spacing;
    view.evaluate("getComputedStyle(document.getElementById('p')).letterSpacing",
                  [&](const WebView::ScriptResult &r) { spacing = r.value.toString(); });
    ASSERT_TRUE(waitFor([&] { return spacing.has_value(); }));
    EXPECT_EQ(*spacing, "7px");
}

} // namespace
