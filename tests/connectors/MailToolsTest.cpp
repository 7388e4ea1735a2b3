// The mail bridge and the mail tools against a fake bridge on loopback.
#include "ToolRun.h"
#include "connectors/MailTools.h"
#include "platform/Dispatch.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"

#include <QJsonArray>
#include <QUrlQuery>
#include <ctime>

using namespace TestKit;
using ConnectorTest::Reply;

namespace {

const QString kToken = QStringLiteral("bridge-token-5f2a9c");

class MailTest : public HomeTest {
protected:
    std::unique_ptr<FakeHttpServer> bridge;
    QList<QUrl> drafts;
    bool draftOpens = true;

    void SetUp() override
    {
        HomeTest::SetUp();
        savedScale_ = Dispatch::timeScale;
        Dispatch::timeScale = 1.0;
        bridge = std::make_unique<FakeHttpServer>();
        MailBridge::statePath = home->file("data/hallix-mail/bridge.json");
        MailBridge::doorFor = &MailBridge::readDoor;
        writeState(QJsonObject{{"port", bridge->port()}, {"token", kToken}});
        MailTools::openDraft = [this](const QUrl &url) {
            drafts << url;
            return draftOpens;
        };
    }

    void TearDown() override
    {
        bridge.reset();
        Dispatch::timeScale = savedScale_;
        MailBridge::statePath.reset();
        MailTools::openDraft = [](const QUrl &url) { return Desktop::openUrl(url); };
        HomeTest::TearDown();
    }

    void writeState(const QJsonValue &state) const
    {
        home->write("data/hallix-mail/bridge.json",
                    state.isObject() ? QJsonDocument(state.toObject()).toJson() : state.toString().toUtf8());
    }

    Reply run(const QString &name, const QJsonObject &args = {})
    {
        return ConnectorTest::runTool(MailTools::family(), name, args);
    }

private:
    double savedScale_ = 1.0;
};

TEST_F(MailTest, TheStateFileGivesTheDoorOnlyWithAUsablePortAndToken)
{
    struct Case {
        const char *what;
        QJsonValue state; // an object, or raw file text
        bool door;
    };
    const Case cases[] = {
        {"a port and a token", QJsonObject{{"port", 8787}, {"token", "t"}, {"other", 1}}, true},
        {"port 0", QJsonObject{{"port", 0}, {"token", "t"}}, false},
        {"a negative port", QJsonObject{{"port", -5}, {"token", "t"}}, false},
        {"a port written as text", QJsonObject{{"port", "8787"}, {"token", "t"}}, false},
        {"a fractional port", QJsonObject{{"port", 8787.5}, {"token", "t"}}, false},
        {"an empty token", QJsonObject{{"port", 8787}, {"token", ""}}, false},
        {"no token", QJsonObject{{"port", 8787}}, false},
        {"a token with a line break", QJsonObject{{"port", 8787}, {"token", "t\r\nX-Other: 1"}}, false},
        {"not JSON", QJsonValue("port=8787"), false},
        {"an array", QJsonValue("[8787, \"t\"]"), false},
    };
    for (const Case &c : cases) {
        writeState(c.state);
        const std::optional<MailBridge::Door> door = MailBridge::readDoor();
        EXPECT_EQ(door.has_value(), c.door) << c.what;
        if (door) {
            EXPECT_EQ(door->base, "http://127.0.0.1:8787");
            EXPECT_EQ(door->token, "t");
        }
    }

    // No door: the not-connected sentence, and nothing reaches the network.
    QFile::remove(*MailBridge::statePath);
    EXPECT_FALSE(MailBridge::readDoor());
    const Reply r = run("mail_accounts");
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, MailBridge::notConnected);
    EXPECT_TRUE(r.text.startsWith("Hallix Mail is not answering on this computer. Ask the CA to open Hallix Mail, add "
                                  "their mailbox, turn on Settings \u2192 General \u2192 Velto bridge"));
    EXPECT_TRUE(bridge->requests().isEmpty());
}

TEST_F(MailTest, EachReadSendsItsPathAndQueryWithTheBearerToken)
{
    // India, without relying on the system's zone files.
    const QByteArray savedTz = qgetenv("TZ");
    qputenv("TZ", "IST-5:30");
    tzset();

    bridge->setFallback([](const RecordedRequest &) { return FakeReply::json(QJsonObject{{"ok", true}}); });
    struct Case {
        const char *tool;
        QJsonObject args;
        const char *path;
        const char *query; // raw, as sent
    };
    const Case cases[] = {
        {"mail_accounts", {}, "/v1/accounts", ""},
        {"mail_search", {{"query", "  a b \n"}, {"limit", 5}}, "/v1/search", "limit=5&q=a%20b"},
        {"mail_search", {{"query", "GSTR-9"}, {"limit", 500}}, "/v1/search", "limit=100&q=GSTR-9"},
        {"mail_search", {{"query", "x"}, {"limit", 0}}, "/v1/search", "limit=1&q=x"},
        {"mail_search", {{"query", "x"}, {"limit", -3}}, "/v1/search", "limit=1&q=x"},
        {"mail_search", {{"query", "x"}, {"limit", "50"}}, "/v1/search", "q=x"},
        {"mail_search", {{"query", "x"}, {"limit", 7.5}}, "/v1/search", "q=x"},
        {"mail_thread", {{"thread_id", "42"}}, "/v1/thread", "id=42"},
        {"mail_thread", {{"thread_id", 42.0}}, "/v1/thread", "id=42"},
        {"mail_thread", {{"thread_id", 42.9}}, "/v1/thread", "id=42"},
        {"mail_thread", {{"thread_id", "+7"}}, "/v1/thread", "id=7"},
        {"mail_message", {{"message_id", -3}}, "/v1/message", "id=-3"},
        {"mail_contacts", {}, "/v1/contacts", "q="},
        {"mail_contacts", {{"query", " R&D 100%41 "}, {"limit", 300}}, "/v1/contacts", "limit=200&q=%20R%26D%20100%2541%20"},
        {"mail_calendar", {{"from", "2024-04-01"}, {"to", "01/04/2024"}}, "/v1/calendar", "from=1711909800000"},
        {"mail_calendar", {{"from", ""}, {"to", "2024-04-15"}}, "/v1/calendar", "to=1713119400000"},
    };
    for (const Case &c : cases) {
        bridge->clearRequests();
        const Reply r = run(c.tool, c.args);
        EXPECT_FALSE(r.isError) << c.tool << ": " << r.text.toStdString();
        const QList<RecordedRequest> sent = bridge->requests();
        ASSERT_EQ(sent.size(), 1) << c.tool;
        EXPECT_EQ(sent[0].method, "GET");
        EXPECT_EQ(sent[0].path, c.path);
        EXPECT_EQ(sent[0].query, c.query) << c.tool << " " << QJsonDocument(c.args).toJson().toStdString();
        EXPECT_EQ(sent[0].header("Authorization"), "Bearer " + kToken.toUtf8());
        EXPECT_TRUE(sent[0].body.isEmpty());
    }

    if (savedTz.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", savedTz);
    tzset();
}

TEST_F(MailTest, ArgumentsThatCannotMakeARequestAreRefusedWithoutOne)
{
    struct Case {
        const char *tool;
        QJsonObject args;
        const char *answer;
    };
    const Case cases[] = {
        {"mail_search", {{"query", "   "}}, "Say what to search for."},
        {"mail_search", {{"query", 42}}, "Say what to search for."},
        {"mail_thread", {{"thread_id", "4x2"}}, "thread_id is needed \u2014 mail_search returns it."},
        {"mail_thread", {{"thread_id", ""}}, "thread_id is needed \u2014 mail_search returns it."},
        {"mail_thread", {{"thread_id", 1e300}}, "thread_id is needed \u2014 mail_search returns it."},
        {"mail_message", {}, "message_id is needed \u2014 mail_thread returns it."},
        {"mail_compose", {{"to", "a@b.in"}, {"subject", "s"}}, "mail_compose needs to, subject and body."},
        {"mail_compose", {{"to", " \n"}, {"subject", "s"}, {"body", "b"}}, "mail_compose needs to, subject and body."},
        {"mail_send", {}, "Velto has no mail tool called mail_send."},
    };
    for (const Case &c : cases) {
        const Reply r = run(c.tool, c.args);
        EXPECT_TRUE(r.isError) << c.tool;
        EXPECT_EQ(r.text, QString::fromUtf8(c.answer)) << c.tool;
    }
    EXPECT_TRUE(bridge->requests().isEmpty());
    EXPECT_TRUE(drafts.isEmpty());
}

TEST_F(MailTest, RepliesBecomeSortedJsonOrOneSentence)
{
    struct Case {
        const char *what;
        FakeReply reply;
        bool isError;
        QString text;
    };
    const QJsonObject threads{{"threads", QJsonArray{QJsonObject{{"subject", "2B for 04/2024"}, {"id", 7}}}},
                              {"account", "ca@firm.in"}};
    const Case cases[] = {
        {"an object", FakeReply::json(threads), false,
         "{\n    \"account\": \"ca@firm.in\",\n    \"threads\": [\n        {\n            \"id\": 7,\n"
         "            \"subject\": \"2B for 04/2024\"\n        }\n    ]\n}"},
        {"an array", FakeReply::text("[1, 2]"), true,
         "Hallix Mail answered something Velto could not read (HTTP 200)."},
        {"an empty body", FakeReply::text(""), true, "Hallix Mail answered something Velto could not read (HTTP 200)."},
        {"401 with JSON", FakeReply::json(QJsonObject{{"error", "bad token"}}, 401), true,
         "Hallix Mail refused the token. Switch the Velto bridge off and on in Hallix Mail to write a fresh one."},
        {"401 with a page", FakeReply::text("<html>no</html>", 401), true,
         "Hallix Mail answered something Velto could not read (HTTP 401)."},
        {"500 with an error text", FakeReply::json(QJsonObject{{"error", "The mailbox is still syncing."}}, 500), true,
         "The mailbox is still syncing."},
        {"404 with an error number", FakeReply::json(QJsonObject{{"error", 5}}, 404), true,
         "Hallix Mail returned HTTP 404."},
        {"a reply that repeats the token", FakeReply::json(QJsonObject{{"echo", "token " + kToken}}), false,
         "{\n    \"echo\": \"token [hidden]\"\n}"},
        {"an error that repeats the token", FakeReply::json(QJsonObject{{"error", "bad " + kToken}}, 403), true,
         "bad [hidden]"},
    };
    for (const Case &c : cases) {
        bridge->on("GET", "/v1/accounts", c.reply);
        const Reply r = run("mail_accounts");
        EXPECT_EQ(r.isError, c.isError) << c.what;
        EXPECT_EQ(r.text, c.text) << c.what;
    }
}

TEST_F(MailTest, AFreshTokenCountsAtTheNextCall)
{
    bridge->on("GET", "/v1/accounts", FakeReply::json(QJsonObject{}));
    run("mail_accounts");
    writeState(QJsonObject{{"port", bridge->port()}, {"token", "fresh-token"}});
    run("mail_accounts");
    const QList<RecordedRequest> sent = bridge->requests();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].header("Authorization"), "Bearer " + kToken.toUtf8());
    EXPECT_EQ(sent[1].header("Authorization"), "Bearer fresh-token");
}

TEST_F(MailTest, ABridgeThatIsDownOrTooSlowIsReportedWithTheWayToTurnItOn)
{
    quint16 closed = 0;
    {
        FakeHttpServer gone;
        closed = gone.port();
    }
    writeState(QJsonObject{{"port", closed}, {"token", kToken}});
    Reply r = run("mail_accounts");
    EXPECT_TRUE(r.isError);
    EXPECT_TRUE(r.text.startsWith("Hallix Mail did not answer: ")) << r.text.toStdString();
    EXPECT_TRUE(r.text.endsWith(". " + MailBridge::notConnected)) << r.text.toStdString();

    // 12 s in the product; shrunk here, with a reply that comes far later.
    writeState(QJsonObject{{"port", bridge->port()}, {"token", kToken}});
    FakeReply slow = FakeReply::json(QJsonObject{{"late", true}});
    slow.delayMs = 5000;
    bridge->on("GET", "/v1/accounts", slow);
    Dispatch::timeScale = 0.05;
    r = run("mail_accounts");
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, "Hallix Mail did not answer: 127.0.0.1:" + QString::number(bridge->port()) +
                          " did not finish answering in time (12 s). " + MailBridge::notConnected);
}

// The bridge chose a short token and repeats it: it is hidden all the same.
TEST_F(MailTest, AShortTokenIsHiddenToo)
{
    for (const QString token : {"k", "abc", "7-char!"}) {
        writeState(QJsonObject{{"port", bridge->port()}, {"token", token}});
        bridge->on("GET", "/v1/accounts",
                   FakeReply::json(QJsonObject{{"echo", "token=" + token}, {"key " + token, token}}));
        const Reply r = run("mail_accounts");
        EXPECT_FALSE(r.isError);
        EXPECT_FALSE(r.text.contains(token)) << r.text.toStdString();
        EXPECT_TRUE(r.text.contains("[hidden]"));
    }
}

// A 302 from the bridge to another host never takes the token there.
TEST_F(MailTest, TheTokenNeverFollowsARedirectElsewhere)
{
    FakeHttpServer elsewhere;
    elsewhere.setFallback([](const RecordedRequest &) { return FakeReply::json(QJsonObject{{"got", "it"}}); });
    FakeReply away = FakeReply::text("", 302);
    away.headers.append(Header{"Location", (elsewhere.baseUrl() + "/collect").toUtf8()});
    bridge->on("GET", "/v1/accounts", away);
    const Reply r = run("mail_accounts");
    EXPECT_TRUE(r.isError);
    EXPECT_TRUE(r.text.contains("127.0.0.1:" + QString::number(elsewhere.port()))) << r.text.toStdString();
    EXPECT_FALSE(r.text.contains(kToken));
    spin(50);
    EXPECT_TRUE(elsewhere.requests().isEmpty());
}

TEST_F(MailTest, ADraftOpensInTheMailHandlerAndIsNeverSent)
{
    Reply r = run("mail_compose", {{"to", " a@kelvar.in, b@kelvar.in \n"},
                                   {"subject", "GSTR-1 for April"},
                                   {"body", "Line 1\nLine 2 & 100%"},
                                   {"cc", ""}});
    EXPECT_FALSE(r.isError);
    EXPECT_EQ(r.text, "The draft is open in the CA's mail app, addressed to a@kelvar.in, b@kelvar.in. Tell them it is "
                      "waiting and that pressing Send is theirs \u2014 do not say it was sent.");
    ASSERT_EQ(drafts.size(), 1);
    EXPECT_EQ(drafts[0].toEncoded(), "mailto:a@kelvar.in,%20b@kelvar.in?subject=GSTR-1%20for%20April"
                                     "&body=Line%201%0ALine%202%20%26%20100%25");
    EXPECT_TRUE(bridge->requests().isEmpty());

    // A recipient cannot smuggle in a blind copy; a cc is kept as given.
    drafts.clear();
    run("mail_compose", {{"to", "a@kelvar.in?bcc=x@evil.in"}, {"subject", " "}, {"body", "b"}, {"cc", "c@kelvar.in"}});
    ASSERT_EQ(drafts.size(), 1);
    const QUrlQuery items(drafts[0]);
    EXPECT_EQ(drafts[0].path(QUrl::FullyDecoded), "a@kelvar.in?bcc=x@evil.in");
    EXPECT_FALSE(items.hasQueryItem("bcc"));
    EXPECT_EQ(items.queryItemValue("cc"), "c@kelvar.in");
    EXPECT_EQ(items.queryItemValue("subject"), " ");

    draftOpens = false;
    r = run("mail_compose", {{"to", "a@kelvar.in"}, {"subject", "s"}, {"body", "b"}});
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, "This computer has no mail app to open the draft in. Give the CA the text to copy, or send it "
                      "through Hallix with hallix_send_mail after they say yes.");
}

TEST(MailDefinitions, SevenToolsInTheirOrder)
{
    QStringList names;
    const QJsonArray tools = MailTools::definitions(&Tool::obj);
    for (const QJsonValue &t : tools)
        names << t["name"].toString();
    EXPECT_EQ(names, (QStringList{"mail_accounts", "mail_search", "mail_thread", "mail_message", "mail_contacts",
                                  "mail_calendar", "mail_compose"}));
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()), MailTools::names());
    EXPECT_EQ(tools[1]["inputSchema"].toObject(),
              Tool::obj({{"query", QJsonObject{{"type", "string"}, {"description", "e.g. from:kelvar 2B, subject:notice, GSTR-9"}}},
                         {"limit", QJsonObject{{"type", "integer"}, {"description", "threads to return, default 20"}}}},
                        {"query"}));
    EXPECT_EQ(tools[6]["inputSchema"]["required"].toArray(), (QJsonArray{"to", "subject", "body"}));
}

} // namespace
