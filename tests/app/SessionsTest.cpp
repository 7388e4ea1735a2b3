// Engine sessions and jobs against the stand-in engine: the requests sent,
// the chat page addresses loaded, the sidebar kept in step, and the failures.
#include "AppTestKit.h"
#include "app/EngineApi.h"
#include "app/Sessions.h"
#include "app/Sidebar.h"
#include "core/Globals.h"
#include "core/Shell.h"
#include "support/FakeHttpServer.h"

#include <QJsonArray>
#include <algorithm>

using namespace AppTestKit;
using TestKit::FakeReply;
using TestKit::waitFor;

namespace {

TEST(EngineAddresses, FolderTokensAndPages)
{
    struct Case {
        QString folder, token;
    };
    for (const Case &c : QList<Case>{{"/Users/ca/Work", "L1VzZXJzL2NhL1dvcms"},
                                      {"/x/~~~", "L3gvfn5-"},
                                      {"/home/ca/Clients/Ré Sharma & Co/2024?", ""}}) {
        const QString token = slug(c.folder);
        if (!c.token.isEmpty()) {
            EXPECT_EQ(token, c.token);
        }
        EXPECT_FALSE(token.contains('+') || token.contains('/') || token.contains('='));
    }
    EXPECT_EQ(EngineApi::startPage(4242).toString(), "http://127.0.0.1:4242/");
    EXPECT_EQ(EngineApi::sessionPage(4242, "/Users/ca/Work", "ses_1").toString(),
              "http://127.0.0.1:4242/L1VzZXJzL2NhL1dvcms/session/ses_1");
    // Any id stays one path segment of a valid address.
    const QUrl odd = EngineApi::sessionPage(4242, "/w", "a/b?c#d e");
    EXPECT_TRUE(odd.isValid());
    EXPECT_EQ(odd.path(QUrl::FullyEncoded), "/" + slug("/w") + "/session/a%2Fb%3Fc%23d%20e");
}

TEST(EngineAddresses, CurrentFolder)
{
    TestKit::TempHome home;
    EXPECT_EQ(Sessions::currentDirOf({"/c/B", "/c/A"}, QString("/work")), "/c/B");
    EXPECT_EQ(Sessions::currentDirOf({}, QString("/work")), "/work");
    EXPECT_EQ(Sessions::currentDirOf({}, std::nullopt), HOME);
    Sessions s;
    EXPECT_EQ(s.routineWorkingDirectory(), HOME) << "unwired: HOME";
    s.currentDir = [] { return QString("/c/A"); };
    EXPECT_EQ(s.routineWorkingDirectory(), "/c/A");
}

TEST(EngineAddresses, SessionListParsing)
{
    const QByteArray body = R"([
        {"id":"a","title":"Old","directory":"/c","time":{"updated":5},"agent":"velto"},
        {"title":"no id","time":{"updated":99}},
        {"id":7,"title":"id not text"},
        {"id":"b","title":3,"directory":["x"],"time":{"updated":"9"},"agent":false},
        {"id":"c","time":{"updated":5}},
        {"id":"d","time":{"updated":12.5}}
    ])";
    const QList<SessionRow> rows = EngineApi::newestFirst(EngineApi::parseSessions(body));
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0], (SessionRow{"d", "", "", 12.5, ""}));
    EXPECT_EQ(rows[1], (SessionRow{"a", "Old", "/c", 5, "velto"}));
    EXPECT_EQ(rows[2].id, "c") << "equal times keep the engine's order";
    EXPECT_EQ(rows[3], (SessionRow{"b", "", "", 0, ""})) << "fields of another type count as absent";

    for (const QByteArray &bad : {QByteArray(""), QByteArray("{}"), QByteArray("nope"), QByteArray(R"([{"id":"a"},1])")})
        EXPECT_TRUE(EngineApi::parseSessions(bad).isEmpty()) << bad.toStdString();
}

// A sessions object wired to a stand-in engine, a sidebar and recorders for
// what the main window would do.
class SessionsTest : public TestKit::HomeTest {
protected:
    ScopedTimeScale scale{1.0};
    std::unique_ptr<StandinEngine> engine;
    std::unique_ptr<Sidebar> sidebar;
    std::unique_ptr<Sessions> sessions;
    QStringList calls; // "showChat", "load <url>"
    int port = 0;
    QString folder = "/clients/Sharma & Co";

    void SetUp() override
    {
        HomeTest::SetUp();
        sidebar = std::make_unique<Sidebar>(QRect(0, 0, 256, 700));
        sidebar->setFolders({folder}, folder);
        sessions = std::make_unique<Sessions>();
        sessions->enginePort = [this] { return port; };
        sessions->currentDir = [this] { return folder; };
        sessions->showChat = [this] { calls << "showChat"; };
        sessions->loadChat = [this](const QUrl &url) { calls << "load " + url.toString(); };
        sessions->sidebar = sidebar.get();
    }
    void TearDown() override
    {
        sessions.reset();
        sidebar.reset();
        engine.reset();
        HomeTest::TearDown();
    }
    void startEngine(const QMap<QString, QString> &env = {})
    {
        engine = std::make_unique<StandinEngine>(*home, env);
        ASSERT_TRUE(engine->running());
        port = engine->port();
    }
    QList<QJsonObject> requestsTo(const QString &method, const QString &pathPrefix) const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &r : engine->requests())
            if (r.value("method").toString() == method && r.value("path").toString().startsWith(pathPrefix))
                out.append(r);
        return out;
    }
    bool loaded() const
    {
        return std::any_of(calls.begin(), calls.end(), [](const QString &c) { return c.startsWith("load "); });
    }
};

TEST_F(SessionsTest, ANewSessionIsMadeInTheCurrentFolderAndOpened)
{
    startEngine();
    sessions->startNewSession();
    EXPECT_EQ(calls, QStringList{"showChat"}) << "the chat comes forward at once";
    ASSERT_TRUE(waitFor([&] { return !sidebar->sessions().isEmpty() && loaded(); }, 15000));

    const auto created = requestsTo("POST", "/session");
    ASSERT_EQ(created.size(), 1);
    EXPECT_EQ(created[0].value("body").toString(), R"({"directory":"/clients/Sharma & Co"})");
    EXPECT_EQ(created[0].value("headers").toObject().value("content-type").toString(), "application/json");
    EXPECT_TRUE(created[0].value("authorized").toBool()) << "the locked engine let the app in";
    // The folder is named in the query too: the engine takes it from there.
    EXPECT_EQ(created[0].value("query").toString(), "directory=%2Fclients%2FSharma%20%26%20Co");
    EXPECT_EQ(sidebar->sessions().first().directory, folder);

    const QString id = sidebar->sessions().first().id;
    EXPECT_EQ(calls, (QStringList{"showChat", "showChat",
                                  "load " + EngineApi::sessionPage(port, folder, id).toString()}));
    EXPECT_EQ(sessions->deepLinkTries, 3);
    EXPECT_EQ(sidebar->currentSession(), id);
    // The sidebar reloaded from the engine and marks the new session; the
    // other list named the folder, to have the engine ready for the page.
    const auto lists = requestsTo("GET", "/session");
    ASSERT_EQ(lists.size(), 2);
    EXPECT_EQ(lists[0].value("query").toString() + lists[1].value("query").toString(),
              "directory=%2Fclients%2FSharma%20%26%20Co");
    ASSERT_EQ(sidebar->rows().size(), 5);
    EXPECT_EQ(sidebar->rows().last()->label(), "New session");
    EXPECT_TRUE(sidebar->rows().last()->selected());
}

// No session outside the folder: without one, the chat shows the engine's
// start page, and the tries the start page has left stay as they were.
TEST_F(SessionsTest, WithoutAnEngineTheChatShowsTheStartPage)
{
    port = freePort(); // nothing listens there
    sessions->deepLinkTries = 2;
    sessions->startNewSession();
    ASSERT_TRUE(waitFor([&] { return loaded(); }, 15000));
    EXPECT_EQ(calls, (QStringList{"showChat", "load " + EngineApi::startPage(port).toString()}));
    EXPECT_EQ(sessions->deepLinkTries, 2);
    EXPECT_EQ(sidebar->currentSession(), "");
}

TEST_F(SessionsTest, AnAnswerWithoutAnIdFallsBackToo)
{
    for (const FakeReply &reply : {FakeReply::json(QJsonObject{{"id", 12}}), FakeReply::text("oops", 500),
                                   FakeReply::json(QJsonDocument(QJsonArray{QJsonObject{{"id", "x"}}}))}) {
        TestKit::FakeHttpServer fake;
        fake.on("POST", "/session", reply);
        fake.on("GET", "/session", FakeReply::json(QJsonDocument(QJsonArray{})));
        port = fake.port();
        calls.clear();
        sessions->startNewSession();
        ASSERT_TRUE(waitFor([&] { return loaded(); }, 15000));
        EXPECT_EQ(calls.last(), "load " + EngineApi::startPage(port).toString());
        EXPECT_TRUE(fake.waitForRequests(2)) << "the sidebar reloads";
        EXPECT_EQ(fake.requestsTo("/session").last().method, "GET");
    }
}

TEST_F(SessionsTest, AJobStartsASessionSendsThePromptAndOpensIt)
{
    startEngine();
    sessions->startJob("File GSTR-1 for March");
    ASSERT_TRUE(waitFor([&] { return loaded(); }, 15000));
    ASSERT_TRUE(waitFor([&] { return !sidebar->sessions().isEmpty(); }, 15000));

    const auto prompts = requestsTo("POST", "/session/");
    ASSERT_EQ(prompts.size(), 1);
    const QString id = sidebar->currentSession();
    EXPECT_EQ(prompts[0].value("path").toString(), "/session/" + id + "/prompt_async");
    EXPECT_EQ(prompts[0].value("body").toString(),
              R"({"agent":"velto","parts":[{"text":"File GSTR-1 for March","type":"text"}]})");
    EXPECT_EQ(prompts[0].value("headers").toObject().value("content-type").toString(), "application/json");
    EXPECT_TRUE(prompts[0].value("authorized").toBool());
    EXPECT_EQ(requestsTo("POST", "/session").first().value("query").toString(),
              "directory=%2Fclients%2FSharma%20%26%20Co");
    EXPECT_EQ(calls.last(), "load " + EngineApi::sessionPage(port, folder, id).toString());
    EXPECT_EQ(sidebar->sessions().first().id, id);

    // The engine keeps the exchange; the messages request reads it.
    std::optional<QJsonArray> messages;
    EngineApi::messages(port, id, [&](const std::optional<QJsonArray> &m, const Http::Response &) {
        messages = m.value_or(QJsonArray{QJsonValue("none")});
    });
    ASSERT_TRUE(waitFor([&] { return messages.has_value(); }, 15000));
    ASSERT_GE(messages->size(), 1);
    EXPECT_EQ(messages->at(0)["parts"][0]["text"], "File GSTR-1 for March");
    bool missing = false;
    EngineApi::messages(port, "ses_none", [&](const std::optional<QJsonArray> &m, const Http::Response &r) {
        missing = !m && r.status == 404;
    });
    EXPECT_TRUE(waitFor([&] { return missing; }, 15000));
}

TEST_F(SessionsTest, AnEmptyPromptIsSentAndARefusedPromptStillOpensTheSession)
{
    TestKit::FakeHttpServer fake;
    fake.on("POST", "/session", FakeReply::json(QJsonObject{{"id", "ses_7"}}));
    fake.on("POST", "/session/ses_7/prompt_async", FakeReply::text("busy", 503));
    fake.on("GET", "/session", FakeReply::json(QJsonDocument(QJsonArray{})));
    port = fake.port();
    sessions->startJob("");
    ASSERT_TRUE(waitFor([&] { return loaded(); }, 15000));
    EXPECT_EQ(calls.last(), "load " + EngineApi::sessionPage(port, folder, "ses_7").toString());
    EXPECT_EQ(fake.requestsTo("/session/ses_7/prompt_async").first().json(),
              (QJsonObject{{"agent", "velto"}, {"parts", QJsonArray{QJsonObject{{"type", "text"}, {"text", ""}}}}}));
    EXPECT_EQ(sidebar->currentSession(), "ses_7");
    EXPECT_TRUE(fake.waitForRequests(3));
}

TEST_F(SessionsTest, AJobWithoutAnEngineTellsTheCaAndSendsNothing)
{
    TestKit::FakeHttpServer fake;
    fake.on("POST", "/session", FakeReply::json(QJsonObject{{"error", "down"}}, 500));
    port = fake.port();
    TestKit::DialogAnswers answers;
    answers.alert(0);
    sessions->startJob("Reconcile GSTR-2B");
    ASSERT_TRUE(waitFor([&] { return !answers.shownAlerts.empty(); }, 15000));
    EXPECT_EQ(answers.shownAlerts[0].title, "Could not start the job");
    EXPECT_EQ(answers.shownAlerts[0].text, "The Velto engine did not answer. Try again in a moment.");
    EXPECT_EQ(answers.shownAlerts[0].style, Dialogs::Style::Warning);
    EXPECT_EQ(answers.shownAlerts[0].buttons, QStringList{"OK"});
    TestKit::spin(100);
    EXPECT_EQ(fake.requests().size(), 1) << "no prompt, no reload";
    EXPECT_EQ(calls, QStringList{"showChat"}) << "nothing opened";
}

// The page of a session is loaded only after a request named its folder
// (the engine brings up its instance for it) and the engine answered its
// health probe; opening another session meanwhile drops the first page.
TEST_F(SessionsTest, OpeningASessionUsesItsOwnFolderOnceTheEngineIsReady)
{
    startEngine();
    sessions->openSession(SessionRow{"ses_9", "Old work", "/clients/Other", 1, "velto"});
    EXPECT_EQ(calls, QStringList{"showChat"}) << "the page waits for the engine";
    EXPECT_EQ(sessions->deepLinkTries, 3);
    EXPECT_EQ(sidebar->currentSession(), "ses_9");
    ASSERT_TRUE(waitFor([&] { return loaded(); }, 15000));
    EXPECT_EQ(calls, (QStringList{"showChat", QString("load http://127.0.0.1:%1/").arg(port) + slug("/clients/Other")
                                                  + "/session/ses_9"}));
    QStringList asked;
    for (const QJsonObject &r : engine->requests())
        asked << r.value("method").toString() + " " + r.value("path").toString() + "?" + r.value("query").toString();
    EXPECT_EQ(asked, (QStringList{"GET /session?directory=%2Fclients%2FOther", "GET /global/health?"}));

    // A fake engine that never answers its probe: the first page is dropped
    // for the second session's, which loads once the limit has passed.
    TestKit::FakeHttpServer slow;
    slow.setFallback([](const TestKit::RecordedRequest &) {
        FakeReply r = FakeReply::json(QJsonObject{{"healthy", true}});
        r.delayMs = 3000;
        return r;
    });
    port = slow.port();
    calls.clear();
    const double savedLimit = Sessions::pageWaitLimit;
    Sessions::pageWaitLimit = 1;
    sessions->openSession(SessionRow{"ses_1", "One", "/clients/One", 1, "velto"});
    sessions->openSession(SessionRow{"ses_2", "Two", "/clients/Two", 1, "velto"});
    const bool came = waitFor([&] { return loaded(); }, 20000);
    Sessions::pageWaitLimit = savedLimit;
    ASSERT_TRUE(came);
    TestKit::spin(200);
    EXPECT_EQ(calls, (QStringList{"showChat", "showChat", QString("load http://127.0.0.1:%1/").arg(port)
                                                              + slug("/clients/Two") + "/session/ses_2"}));
}

TEST_F(SessionsTest, RepliesAfterTheOwnerIsGoneDoNothing)
{
    TestKit::FakeHttpServer fake;
    fake.on("POST", "/session", [](const TestKit::RecordedRequest &) {
        FakeReply r = FakeReply::json(QJsonObject{{"id", "ses_late"}});
        r.delayMs = 200;
        return r;
    });
    port = fake.port();
    sessions->startNewSession();
    sessions->startJob("late");
    sessions.reset();
    ASSERT_TRUE(fake.waitForRequests(2));
    TestKit::spin(400);
    EXPECT_EQ(calls, (QStringList{"showChat", "showChat"}));
    EXPECT_EQ(fake.requests().size(), 2) << "no prompt and no reload after the owner went";
}

} // namespace
