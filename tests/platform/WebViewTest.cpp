#include "platform/WebView.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"

#include <QSignalSpy>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>

using namespace TestKit;

namespace {

class WebViewTest : public ::testing::Test {
protected:
    FakeHttpServer server;
    std::unique_ptr<WebView> view;

    void SetUp() override
    {
        view = std::make_unique<WebView>(TestKit::webProfile());
        view->resize(800, 600);
        view->show();
    }
    void TearDown() override { view.reset(); }

    void serve(const QString &path, const QByteArray &html)
    {
        FakeReply r = FakeReply::text(html);
        r.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        server.on("GET", path, r);
    }

    bool load(const QString &path)
    {
        QSignalSpy spy(view.get(), &QWebEngineView::loadFinished);
        view->load(QUrl(server.baseUrl() + path));
        return spy.wait(15000) && spy.first().first().toBool();
    }

    WebView::ScriptResult eval(const QString &js, WebView::World world = WebView::World::Isolated)
    {
        std::optional<WebView::ScriptResult> out;
        view->evaluate(js, [&](const WebView::ScriptResult &r) { out = r; }, world);
        EXPECT_TRUE(waitFor([&] { return out.has_value(); }, 10000)) << js.toStdString();
        return out.value_or(WebView::ScriptResult{{}, "no answer", -1});
    }
};

TEST_F(WebViewTest, EvaluateAnswersValuesAndErrorsWithTheirLine)
{
    serve("/p", "<html><body><p id=x>hello</p></body></html>");
    ASSERT_TRUE(load("/p"));
    EXPECT_EQ(eval("document.getElementById('x').textContent").value.toString(), "hello");
    EXPECT_EQ(eval("1 + 2").value.toInt(), 3);
    EXPECT_EQ(eval("JSON.stringify({a: '\\u2028\"'})").value.toString(), QString::fromUtf8("{\"a\":\"\xe2\x80\xa8\\\"\"}"));
    EXPECT_FALSE(eval("undefined").value.isValid());
    EXPECT_TRUE(eval("var q = 1;").ok());

    const auto err = eval("var a = 1;\nvar b = 2;\nnope.call();");
    EXPECT_FALSE(err.ok());
    EXPECT_TRUE(err.error.contains("nope is not defined")) << err.error.toStdString();
    EXPECT_EQ(err.line, 3);

    const auto thrown = eval("throw new Error('custom')");
    EXPECT_EQ(thrown.error, "custom");
    EXPECT_FALSE(eval("this is not javascript").ok());
}

TEST_F(WebViewTest, UserScriptsRunInTheirWorld)
{
    serve("/w", "<html><head><script>window.pageGlobal = 'page'; window.sawStart = window.startSeen;</script></head>"
                "<body><div id=out></div></body></html>");
    view->addUserScript("window.startSeen = 'yes';",
                        WebView::When::DocumentStart, WebView::Frames::MainOnly, WebView::World::Page);
    view->addUserScript("document.getElementById('out').dataset.iso = typeof window.pageGlobal;",
                        WebView::When::DocumentEnd, WebView::Frames::MainOnly, WebView::World::Isolated);
    EXPECT_EQ(view->userScriptCount(), 2);
    ASSERT_TRUE(load("/w"));
    EXPECT_EQ(eval("window.sawStart", WebView::World::Page).value.toString(), "yes")
        << "a document-start script runs before the page's own scripts";
    EXPECT_TRUE(waitFor([&] { return eval("document.getElementById('out').dataset.iso").value.toString() == "undefined"; }))
        << "an isolated script does not see the page's globals";
    EXPECT_EQ(eval("typeof window.pageGlobal").value.toString(), "undefined");
    EXPECT_EQ(eval("window.pageGlobal", WebView::World::Page).value.toString(), "page");

    view->removeAllUserScripts();
    EXPECT_EQ(view->userScriptCount(), 0);
}

TEST_F(WebViewTest, MessageHandlersReceiveEarlyAndLaterPosts)
{
    serve("/m", "<html><head><script>"
                "window.webkit.messageHandlers.velto.postMessage({working: true});"
                "</script></head><body>"
                "<button id=b onclick=\"window.webkit.messageHandlers.velto.postMessage({home: true})\">x</button>"
                "</body></html>");
    std::vector<QJsonValue> got;
    view->addMessageHandler("velto", [&](const QJsonValue &v) { got.push_back(v); });
    ASSERT_TRUE(load("/m"));
    ASSERT_TRUE(waitFor([&] { return got.size() >= 1; }, 10000)) << "a post made before the channel is up arrives";
    EXPECT_EQ(got[0].toObject().value("working").toBool(), true);
    eval("document.getElementById('b').click()", WebView::World::Page);
    ASSERT_TRUE(waitFor([&] { return got.size() >= 2; }, 10000));
    EXPECT_EQ(got[1].toObject().value("home").toBool(), true);
    EXPECT_EQ(eval("typeof window.webkit.messageHandlers.other", WebView::World::Page).value.toString(), "undefined");
    EXPECT_EQ(view->userScriptCount(), 0) << "the handler shim is not one of the caller's scripts";
}

TEST_F(WebViewTest, NavigationAndNewWindowPolicy)
{
    serve("/a", "<html><body><a id=out href='/blocked'>out</a>"
                "<a id=pop target=_blank href='/popup'>pop</a></body></html>");
    serve("/blocked", "<html><body>blocked</body></html>");
    std::vector<WebView::Navigation> asked;
    view->navigationPolicy = [&](const WebView::Navigation &n) {
        asked.push_back(n);
        return !n.url.path().startsWith("/blocked");
    };
    std::vector<QUrl> windows;
    view->newWindowRequested = [&](const QUrl &u) { windows.push_back(u); };
    ASSERT_TRUE(load("/a"));
    eval("document.getElementById('out').click()", WebView::World::Page);
    ASSERT_TRUE(waitFor([&] { return asked.size() >= 2; }));
    EXPECT_EQ(asked.back().kind, WebView::NavigationKind::Link);
    spin(200);
    EXPECT_EQ(view->url().path(), "/a") << "the blocked address did not load";

    eval("document.getElementById('pop').click()", WebView::World::Page);
    ASSERT_TRUE(waitFor([&] { return !windows.empty(); }));
    EXPECT_EQ(windows[0].path(), "/popup");
    EXPECT_EQ(view->url().path(), "/a");
}

TEST_F(WebViewTest, PageDialogsGoThroughTheDialogHooks)
{
    serve("/d", "<html><body>d</body></html>");
    ASSERT_TRUE(load("/d"));
    DialogAnswers answers;
    answers.confirm(true);
    answers.alert(0);
    EXPECT_EQ(eval("confirm('Submit return?')", WebView::World::Page).value.toBool(), true);
    eval("alert('Saved')", WebView::World::Page);
    ASSERT_EQ(answers.shownConfirms.size(), 1u);
    EXPECT_EQ(answers.shownConfirms[0].text, "Submit return?");
    EXPECT_EQ(answers.shownConfirms[0].title, "The page at 127.0.0.1 asks");
    EXPECT_EQ(answers.shownConfirms[0].windowTitle, "127.0.0.1");
    EXPECT_EQ(eval("prompt('Name?', 'x')", WebView::World::Page).value.isValid(), false) << "prompts get no answer";
    ASSERT_EQ(answers.shownAlerts.size(), 1u);
    EXPECT_EQ(answers.shownAlerts[0].text, "Saved");
    EXPECT_EQ(answers.shownAlerts[0].title, "Message from the page at 127.0.0.1");
    EXPECT_EQ(answers.shownAlerts[0].windowTitle, "127.0.0.1");
}

TEST_F(WebViewTest, DownloadsAndSnapshots)
{
    serve("/s", "<html><body style='background:#ff0000'><a id=dl href='/file.csv' download>csv</a></body></html>");
    FakeReply csv = FakeReply::text("a,b\n1,2\n");
    csv.headers = {{"Content-Type", "text/csv"}, {"Content-Disposition", "attachment; filename=\"ret.csv\""}};
    server.on("GET", "/file.csv", csv);
    ASSERT_TRUE(load("/s"));

    QString name;
    QObject::connect(view.get(), &WebView::downloadRequested, [&](QWebEngineDownloadRequest *download) {
        name = download->downloadFileName();
        download->cancel();
    });
    eval("document.getElementById('dl').click()", WebView::World::Page);
    ASSERT_TRUE(waitFor([&] { return !name.isEmpty(); }, 10000));
    EXPECT_EQ(name, "ret.csv");

    // A finished load is not yet a painted frame: the page's pixels reach
    // the view a little later, sooner or later by the machine's load.
    QImage img = view->snapshot();
    ASSERT_FALSE(img.isNull());
    EXPECT_GT(img.width(), 0);
    waitFor([&] {
        img = view->snapshot();
        return !img.isNull() && img.pixelColor(img.width() / 2, img.height() / 2) == QColor(255, 0, 0);
    }, 15000);
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.pixelColor(img.width() / 2, img.height() / 2), QColor(255, 0, 0)) << "the page's pixels";
}

} // namespace

// A server locked with Basic credentials: every path answers 401 with a
// challenge unless the request carries user "opencode" and the password.
class LockedServer {
public:
    FakeHttpServer server;
    explicit LockedServer(const QByteArray &password)
        : expected_("Basic " + QByteArray("opencode:" + password).toBase64())
    {
        server.setFallback([this](const RecordedRequest &r) {
            if (r.header("Authorization") != expected_) {
                FakeReply no = FakeReply::text("locked", 401);
                no.headers = {{"WWW-Authenticate", "Basic realm=\"locked\""}, {"Content-Type", "text/plain"}};
                return no;
            }
            return route(r);
        });
    }
    QUrl origin() const { return QUrl(server.baseUrl()); }
    int unauthorized(const QString &path) const
    {
        int n = 0;
        for (const auto &r : server.requestsTo(path))
            n += r.header("Authorization") != expected_;
        return n;
    }

private:
    static FakeReply route(const RecordedRequest &r)
    {
        if (r.path == "/data")
            return FakeReply::json(QJsonObject{{"ok", true}});
        if (r.path == "/events") {
            FakeReply e = FakeReply::text("data: streamed\n\n");
            e.headers = {{"Content-Type", "text/event-stream"}};
            return e;
        }
        // The page's own script calls its server outside the page's folder,
        // by fetch and by an event stream.
        FakeReply page = FakeReply::text(
            "<html><body><p id=t>inside</p><script>"
            "fetch('/data').then(r => { window.fetched = r.status; }).catch(() => { window.fetched = -1; });"
            "const es = new EventSource('/events');"
            "es.onmessage = e => { window.streamed = e.data; es.close(); };"
            "</script></body></html>");
        page.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        return page;
    }
    QByteArray expected_;
};

TEST_F(WebViewTest, AnswersChallengesOfItsOriginsForPageAndScriptRequests)
{
    LockedServer locked("s3cret");
    const QUrl localhost("http://localhost:" + QString::number(locked.server.port()));
    view->answerChallenges({localhost, locked.origin()}, "opencode", "s3cret");
    QSignalSpy spy(view.get(), &QWebEngineView::loadFinished);
    view->load(QUrl(locked.server.baseUrl() + "/L1Vz/session/ses_1"));
    ASSERT_TRUE(spy.wait(15000));
    EXPECT_EQ(eval("document.getElementById('t') && document.getElementById('t').textContent").value.toString(),
              "inside");
    ASSERT_TRUE(waitFor([&] { return eval("window.fetched", WebView::World::Page).value.isValid(); }, 10000));
    EXPECT_EQ(eval("window.fetched", WebView::World::Page).value.toInt(), 200) << "the page's fetch";
    ASSERT_TRUE(waitFor([&] { return eval("window.streamed", WebView::World::Page).value.isValid(); }, 10000));
    EXPECT_EQ(eval("window.streamed", WebView::World::Page).value.toString(), "streamed") << "the event stream";
}

TEST_F(WebViewTest, ChallengesOfOtherOriginsOrRefusedCredentialsAreNotAnsweredAgain)
{
    LockedServer ours("s3cret");
    LockedServer other("s3cret"); // same host and password, another port: another origin
    struct Case {
        const char *name;
        LockedServer *server;
        QString password;
    };
    const std::vector<Case> cases = {
        {"another origin", &other, "s3cret"},
        {"a refused password", &ours, "stale"},
    };
    for (const Case &c : cases) {
        view->answerChallenges({ours.origin()}, "opencode", c.password);
        QSignalSpy spy(view.get(), &QWebEngineView::loadFinished);
        view->load(QUrl(c.server->server.baseUrl() + "/page"));
        ASSERT_TRUE(spy.wait(15000)) << c.name;
        EXPECT_EQ(eval("document.body ? document.body.innerText : ''").value.toString().trimmed(), "locked")
            << c.name << ": the server's own answer shows";
        EXPECT_TRUE(c.server->server.requestsTo("/data").isEmpty()) << c.name;
        spin(300);
        // The first try goes without credentials; each refused answer is tried a few times at most.
        EXPECT_LE(c.server->unauthorized("/page"), 4) << c.name << ": no loop of refused answers";
    }
    for (const auto &r : other.server.requests())
        EXPECT_TRUE(r.header("Authorization").isEmpty()) << "another origin never gets the credentials";
}
