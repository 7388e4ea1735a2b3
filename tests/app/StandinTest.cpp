// The stand-in engine and cloud are used by later tests and by the demo as
// if they were the real services; these tests pin what they serve.
#include "AppTestKit.h"
#include "app/EngineApi.h"
#include "core/Shell.h"
#include "platform/Http.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

using namespace AppTestKit;
using TestKit::HomeTest;
using TestKit::waitFor;

namespace {

// A request with the credentials the app's engine requests carry for the port.
Http::Response call(const QByteArray &method, const QString &url, const QJsonObject &body = {},
                    std::optional<QByteArray> authorization = std::nullopt)
{
    Http::Request req;
    req.method = method;
    req.url = QUrl(url);
    req.timeout = 1000; // scaled: 10 s
    const QByteArray auth = authorization.value_or(EngineApi::authorization(req.url.port()));
    if (!auth.isEmpty())
        req.headers.append(Http::Header("Authorization", auth));
    if (!body.isEmpty()) {
        req.headers.append(Http::Header("Content-Type", "application/json"));
        req.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    }
    std::optional<Http::Response> answer;
    Http::request(req, [&](const Http::Response &r) { answer = r; });
    waitFor([&] { return answer.has_value(); }, 15000);
    return answer.value_or(Http::Response{});
}

QJsonValue json(const Http::Response &r)
{
    const QJsonDocument doc = QJsonDocument::fromJson(r.body);
    return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
}

class StandinEngineTest : public HomeTest {
protected:
    std::unique_ptr<StandinEngine> engine;
    QString base;
    QString log;

    void launch(const QMap<QString, QString> &env = {})
    {
        engine = std::make_unique<StandinEngine>(*home, env);
        ASSERT_TRUE(engine->running());
        base = engine->baseUrl();
        log = engine->logPath();
    }
    void TearDown() override
    {
        engine.reset();
        HomeTest::TearDown();
    }
};

TEST_F(StandinEngineTest, SessionsPromptsAndMessages)
{
    launch({{"VELTO_STANDIN_REPLY_MS", "300"}});
    EXPECT_EQ(call("GET", base + "/").status, 404);
    EXPECT_EQ(json(call("GET", base + "/session")).toArray(), QJsonArray());

    const QJsonObject created = json(call("POST", base + "/session", {{"directory", "/clients/A"}})).toObject();
    const QString id = created.value("id").toString();
    ASSERT_TRUE(id.startsWith("ses_"));
    EXPECT_EQ(created.value("directory").toString(), "/clients/A");
    EXPECT_EQ(created.value("title").toString(), "New session");
    // The query parameter names the folder too, and wins; with none, the engine's own folder.
    EXPECT_EQ(json(call("POST", base + "/session?directory=%2Fq", {{"directory", "/body"}})).toObject()["directory"],
              "/q");
    EXPECT_EQ(json(call("POST", base + "/session")).toObject()["directory"], home->path());

    const Http::Response prompt =
        call("POST", base + "/session/" + id + "/prompt_async",
             {{"agent", "velto"}, {"parts", QJsonArray{QJsonObject{{"type", "text"}, {"text", "File GSTR-1"}}}}});
    EXPECT_EQ(prompt.status, 204);
    // The answer is still being written...
    const QJsonArray messages = json(call("GET", base + "/session/" + id + "/message")).toArray();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[0]["info"]["role"], "user");
    EXPECT_EQ(messages[0]["parts"][0]["text"], "File GSTR-1");
    EXPECT_EQ(messages[1]["info"]["role"], "assistant");
    EXPECT_TRUE(messages[1]["info"]["time"]["completed"].isNull());
    // ...and completes a little later.
    ASSERT_TRUE(waitForEvents(log, "answered"));
    const QJsonArray later = json(call("GET", base + "/session/" + id + "/message")).toArray();
    EXPECT_TRUE(later[1]["info"]["time"]["completed"].isDouble());
    EXPECT_EQ(later[1]["parts"][0]["type"], "text");
    EXPECT_TRUE(later[1]["parts"][0]["text"].toString().contains("File GSTR-1"));

    const QJsonArray list = json(call("GET", base + "/session")).toArray();
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0]["id"], id);
    EXPECT_EQ(list[0]["agent"], "velto");
    EXPECT_EQ(list[0]["title"], "File GSTR-1");
    EXPECT_GE(list[0]["time"]["updated"].toDouble(), list[0]["time"]["created"].toDouble());

    EXPECT_EQ(call("GET", base + "/session/ses_none/message").status, 404);
    EXPECT_EQ(call("POST", base + "/session/ses_none/prompt_async", {{"agent", "velto"}}).status, 404);

    // Every request is logged with its body.
    const auto requests = events(log, "request");
    EXPECT_EQ(requests[2].value("method").toString(), "POST");
    EXPECT_EQ(requests[2].value("body").toString(), "{\"directory\":\"/clients/A\"}");
}

TEST_F(StandinEngineTest, ChatPagesTalkToTheVeltoHandler)
{
    launch();
    const QString folder = "/clients/A & B </script>";
    const Http::Response page = call("GET", base + "/" + slug(folder) + "/session/ses_1");
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.header("Content-Type").startsWith("text/html"));
    EXPECT_TRUE(page.body.contains("messageHandlers.velto.postMessage"));
    EXPECT_TRUE(page.body.contains("velto({working: true})"));
    EXPECT_TRUE(page.body.contains("velto({working: false})"));
    EXPECT_TRUE(page.body.contains("velto({home: true})"));
    EXPECT_TRUE(page.body.contains("\"session\":\"ses_1\""));
    EXPECT_TRUE(page.body.contains("/clients/A & B \\u003c/script>")) << "the folder cannot end the script";
    EXPECT_EQ(call("GET", base + "/" + slug("/x") + "/session").status, 200);
    EXPECT_EQ(call("GET", base + "/not*base64/session").status, 404);
}

TEST_F(StandinEngineTest, StartsWithSeededSessions)
{
    home->write("sessions.json", R"([{"id":"ses_old","title":"Old","directory":"/c","time":{"created":1,"updated":5}}])");
    launch({{"VELTO_STANDIN_SESSIONS", home->file("sessions.json")}});
    const QJsonArray list = json(call("GET", base + "/session")).toArray();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0]["id"], "ses_old");
    EXPECT_EQ(list[0]["time"]["updated"], 5);
}

TEST_F(StandinEngineTest, ALockedEngineServesOnlyTheRightBasicCredentials)
{
    launch({{"OPENCODE_SERVER_PASSWORD", "pw-1234567890abcdef"}});
    const auto basic = [](const QByteArray &pair) { return "Basic " + pair.toBase64(); };
    const struct {
        const char *name;
        QByteArray authorization;
        int status;
    } cases[] = {
        {"no credentials", "", 401},
        {"a wrong password", basic("opencode:pw-1234567890abcdeX"), 401},
        {"a longer password", basic("opencode:pw-1234567890abcdef0"), 401},
        {"a shorter password", basic("opencode:pw-1234567890abcde"), 401},
        {"another user", basic("velto:pw-1234567890abcdef"), 401},
        {"a bearer token", "Bearer pw-1234567890abcdef", 401},
        {"not base64", "Basic %%%", 401},
        {"the right credentials", basic("opencode:pw-1234567890abcdef"), 200},
        {"the scheme in lower case", "basic " + QByteArray("opencode:pw-1234567890abcdef").toBase64(), 200},
    };
    for (const auto &c : cases) {
        const Http::Response r = call("GET", base + "/session", {}, c.authorization);
        EXPECT_EQ(r.status, c.status) << c.name;
        if (c.status == 401) {
            EXPECT_TRUE(r.header("WWW-Authenticate").startsWith("Basic realm=")) << c.name;
            EXPECT_FALSE(r.body.startsWith("[")) << c.name << ": no session list";
        } else {
            EXPECT_EQ(json(r).toArray(), QJsonArray()) << c.name;
        }
    }
    EXPECT_EQ(call("POST", base + "/session", {{"directory", "/c"}}, QByteArray()).status, 401);
    EXPECT_EQ(json(call("GET", base + "/session", {}, basic("opencode:pw-1234567890abcdef"))).toArray().size(), 0)
        << "a refused request changes nothing";

    // The log shows whether each request was let in, never the password.
    const QByteArray logText = QByteArray(TestKit::readFile(log));
    EXPECT_FALSE(logText.contains("pw-1234567890abcdef"));
    EXPECT_FALSE(logText.contains(QByteArray("opencode:pw-1234567890abcdef").toBase64()));
    const auto requests = events(log, "request");
    ASSERT_EQ(requests.size(), int(std::size(cases)) + 2);
    EXPECT_FALSE(requests[0].value("authorized").toBool());
    EXPECT_TRUE(requests[std::size(cases) - 1].value("authorized").toBool());
}

TEST_F(StandinEngineTest, WithoutAPasswordTheEngineStaysOpen)
{
    launch({{"OPENCODE_SERVER_PASSWORD", ""}});
    EXPECT_EQ(call("GET", base + "/session", {}, QByteArray()).status, 200);
    EXPECT_FALSE(events(log, "request").value(0).contains("authorized"));
}

class StandinCloudTest : public HomeTest {};

TEST_F(StandinCloudTest, AnswersFromCannedRepliesAndLogs)
{
    StandinCloud cloud(*home,
                       {{"POST /cli/login", QJsonObject{{"body", QJsonObject{{"token", "tok"}}}}},
                        {"/cli/whoami", QJsonObject{{"status", 401}, {"raw", "no"}}},
                        {"GET /cli/routines_due",
                         QJsonArray{QJsonObject{{"body", QJsonObject{{"success", true}, {"due", QJsonArray{1}}}}},
                                    QJsonObject{{"body", QJsonObject{{"success", true}, {"due", QJsonArray{}}}}}}},
                        {"/cli/logout", QJsonObject{{"drop", true}}}});
    ASSERT_TRUE(cloud.running());
    const QString base = cloud.baseUrl();

    const Http::Response login = call("POST", base + "/cli/login", {{"email", "ca@example.in"}});
    EXPECT_EQ(login.status, 200);
    EXPECT_EQ(json(login).toObject()["token"], "tok");
    EXPECT_EQ(call("GET", base + "/cli/login").status, 404) << "the key names the method";

    const Http::Response who = call("GET", base + "/cli/whoami");
    EXPECT_EQ(who.status, 401);
    EXPECT_EQ(who.body, "no");

    // A sequence is given out in turn; its last reply repeats.
    EXPECT_EQ(json(call("GET", base + "/cli/routines_due")).toObject()["due"].toArray().size(), 1);
    EXPECT_EQ(json(call("GET", base + "/cli/routines_due")).toObject()["due"].toArray().size(), 0);
    EXPECT_EQ(json(call("GET", base + "/cli/routines_due")).toObject()["due"].toArray().size(), 0);

    const Http::Response dropped = call("POST", base + "/cli/logout");
    EXPECT_EQ(dropped.status, 0);
    EXPECT_FALSE(dropped.error.isEmpty());

    // Replies are read afresh for each request.
    cloud.setReplies({{"/cli/version", QJsonObject{{"body", QJsonObject{{"success", true}, {"version", "9.0.0"}}}}}});
    EXPECT_EQ(json(call("GET", base + "/cli/version")).toObject()["version"], "9.0.0");
    const Http::Response missing = call("GET", base + "/cli/whoami");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(json(missing).toObject()["success"], false);

    const auto requests = events(cloud.logPath(), "request");
    ASSERT_GE(requests.size(), 1);
    EXPECT_EQ(requests[0].value("path").toString(), "/cli/login");
    EXPECT_EQ(requests[0].value("body").toString(), "{\"email\":\"ca@example.in\"}");
    EXPECT_EQ(requests[0].value("headers").toObject().value("content-type").toString(), "application/json");
}

} // namespace
