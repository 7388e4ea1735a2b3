// The tool server on a real loopback socket: its lifecycle, the HTTP framing
// and the JSON-RPC answers.
#include "ServerFixture.h"
#include "Resident.h"

#include "platform/Dispatch.h"
#include "toolserver/McpHttp.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QRegularExpression>

using namespace McpTest;
using namespace TestKit;

namespace {

// ---- lifecycle -------------------------------------------------------------

TEST(BrowserMCPLifecycle, TokenIsFreshAndPortComesWithTheListener)
{
    BrowserMCP first(nullptr);
    BrowserMCP second(nullptr);
    const QRegularExpression shape(QStringLiteral("^[0-9A-F]{32}$"));
    EXPECT_TRUE(shape.match(first.token()).hasMatch()) << first.token().toStdString();
    EXPECT_TRUE(shape.match(second.token()).hasMatch());
    EXPECT_NE(first.token(), second.token());

    EXPECT_EQ(first.port(), 0);
    first.stop(); // before start: harmless
    ASSERT_TRUE(first.start());
    const quint16 port = first.port();
    EXPECT_NE(port, 0);
    EXPECT_TRUE(RawClient(port).connected());
    EXPECT_FALSE(RawClient(port, "127.0.0.2").connected()) << "listens on 127.0.0.1 only";

    first.stop();
    first.stop();
    EXPECT_FALSE(RawClient(port).connected()) << "no longer accepting";
    EXPECT_EQ(first.port(), port) << "the port is kept";
}

// A family whose tools answer only when the test says so.
struct HeldFamily {
    std::vector<Tool::Done> waiting;
    ToolFamily family()
    {
        return ToolFamily{[] { return QSet<QString>{"held_tool"}; }, [](Tool::Obj) { return QJsonArray(); },
                          [this](const QString &, const QJsonObject &, Tool::Done done) {
                              waiting.push_back(std::move(done));
                          }};
    }
};

TEST_F(ServerTest, StopLeavesAcceptedConnectionsToBeAnswered)
{
    HeldFamily held;
    Families::routed = {held.family()};
    RawClient client(port());
    client.send(post(rpc("tools/call", QJsonObject{{"name", "held_tool"}}), token()));
    ASSERT_TRUE(waitFor([&] { return held.waiting.size() == 1; }));
    server->stop();
    EXPECT_FALSE(RawClient(port()).connected());
    held.waiting.front()("filed", false);
    const Reply r = client.read();
    EXPECT_EQ(r.status, "200 OK");
    EXPECT_EQ(r.json().value("result").toObject(), textResult("filed", false));
    EXPECT_TRUE(r.closed);
}

TEST_F(ServerTest, DestroyingTheServerClosesOpenConnections)
{
    HeldFamily held;
    Families::routed = {held.family()};
    RawClient client(port());
    client.send(post(rpc("tools/call", QJsonObject{{"name", "held_tool"}}), token()));
    ASSERT_TRUE(waitFor([&] { return held.waiting.size() == 1; }));
    server.reset();
    const Reply r = client.read();
    EXPECT_TRUE(r.closed);
    EXPECT_TRUE(r.raw.isEmpty());
    held.waiting.front()("too late", false); // answering after the server went is harmless
    spin(20);
}

// ---- framing ---------------------------------------------------------------

TEST_F(ServerTest, RequestArrivingInPiecesIsAnsweredOnceWhole)
{
    // The pauses between pieces must stay well inside the request time.
    const double scale = Dispatch::timeScale;
    Dispatch::timeScale = 0.1;
    auto restore = qScopeGuard([scale] { Dispatch::timeScale = scale; });
    const QByteArray body = rpc("ping", {}, 3);
    const QByteArray head = "POST /mcp HTTP/1.1\r\nAuthorization: Bearer " + token().toUtf8() +
                            "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    RawClient client(port());
    // Headers split mid-line and mid-terminator, then the body in two parts.
    for (const QByteArray &piece : {head.left(7), head.mid(7, 30), head.mid(37, head.size() - 39), head.right(2),
                                    body.left(5)}) {
        client.send(piece);
        const Reply early = client.read(30);
        ASSERT_TRUE(early.raw.isEmpty()) << "answered before the request was whole";
        ASSERT_FALSE(early.closed);
    }
    client.send(body.mid(5));
    const Reply r = client.read();
    EXPECT_EQ(r.status, "200 OK");
    EXPECT_EQ(r.json(), (QJsonObject{{"jsonrpc", "2.0"}, {"id", 3}, {"result", QJsonObject()}}));
    EXPECT_TRUE(r.closed) << "one request per connection";
}

TEST_F(ServerTest, RepliesCarryTheFixedHeaderLines)
{
    const Reply r = ask("ping");
    const QList<QByteArray> expected{
        "Access-Control-Allow-Origin: *",
        "Access-Control-Allow-Headers: Content-Type, Authorization, Mcp-Session-Id, Mcp-Protocol-Version",
        "Access-Control-Allow-Methods: POST, OPTIONS, DELETE",
        "Mcp-Session-Id: velto-browser",
        "Content-Type: application/json",
        "Content-Length: " + QByteArray::number(r.body.size()),
        "Connection: close",
    };
    EXPECT_EQ(r.headerLines, expected);
}

TEST_F(ServerTest, PreflightNeedsNoToken)
{
    const Reply r = exchange(port(), "OPTIONS /mcp HTTP/1.1\r\nOrigin: http://127.0.0.1\r\n\r\n");
    EXPECT_EQ(r.status, "204 No Content");
    EXPECT_TRUE(r.headerLines.contains("Access-Control-Allow-Methods: POST, OPTIONS, DELETE"));
    EXPECT_TRUE(r.headerLines.contains("Content-Length: 0"));
    EXPECT_TRUE(r.body.isEmpty());
}

TEST_F(ServerTest, WrongOrMissingTokenGets401)
{
    const QByteArray ping = rpc("ping");
    const QByteArray length = "Content-Length: " + QByteArray::number(ping.size()) + "\r\n";
    const QByteArray t = token().toUtf8();
    const QList<QByteArray> authorizations{
        "",                                     // none at all
        "Authorization: Bearer 0000\r\n",       // wrong token
        "Authorization: bearer " + t + "\r\n",  // lower-case scheme
        "Authorization: Bearer " + t.toLower() + "\r\n",
        "Authorization: " + t + "\r\n",
        "Authorization: Bearer " + t + "\xff\r\n", // not UTF-8: no headers at all
    };
    for (const QByteArray &auth : authorizations) {
        const Reply r = exchange(port(), "POST /mcp HTTP/1.1\r\n" + auth + length + "\r\n" + ping);
        EXPECT_EQ(r.status, "401 Unauthorized") << auth.toStdString();
        EXPECT_EQ(r.json(), (QJsonObject{{"error", QJsonObject{{"code", -32001}, {"message", "bad token"}}}}));
    }
    // Header names in any case, the value trimmed.
    const Reply ok = exchange(port(), "POST /mcp HTTP/1.1\r\nAUTHORIZATION:\t Bearer " + t + " \r\ncontent-length: " +
                                          QByteArray::number(ping.size()) + "\r\n\r\n" + ping);
    EXPECT_EQ(ok.status, "200 OK");
}

TEST_F(ServerTest, MessagesWithoutAnIdOrNotObjectsAreOnlyAccepted)
{
    const QList<QByteArray> bodies{
        R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
        R"({"jsonrpc":"2.0","method":"tools/call","params":{"name":"browser_open"}})",
        R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])",
        "3",
        "not json",
        "",
        R"({"jsonrpc":"2.0","id":1,"method":"ping"}x)", // trailing bytes spoil it
    };
    bool activity = false;
    BrowserMCP::onActivity = [&](const QString &) { activity = true; };
    for (const QByteArray &body : bodies) {
        const Reply r = exchange(port(), post(body, token()));
        EXPECT_EQ(r.status, "202 Accepted") << body.toStdString();
        EXPECT_TRUE(r.body.isEmpty());
        EXPECT_TRUE(r.headerLines.contains("Content-Length: 0"));
    }
    spin(20);
    EXPECT_FALSE(activity) << "a notification runs no tool";
}

// The path is not looked at; of the methods only GET is: the server keeps no
// stream to offer, so the stream request is refused (and the client stops
// repeating it), with or without a body.
TEST_F(ServerTest, PathIsNotLookedAtAndTheStreamRequestIsRefused)
{
    const QByteArray auth = "Authorization: Bearer " + token().toUtf8() + "\r\n";
    const QByteArray ping = rpc("ping");
    const QByteArray withPing = "Content-Length: " + QByteArray::number(ping.size()) + "\r\n\r\n" + ping;
    const struct {
        QByteArray request;
        QByteArray status;
    } cases[] = {
        {"GET /mcp HTTP/1.1\r\nAccept: text/event-stream\r\n" + auth + "\r\n", "405 Method Not Allowed"},
        {"GET /elsewhere HTTP/1.1\r\n" + auth + withPing, "405 Method Not Allowed"},
        {"DELETE /anything HTTP/1.1\r\n" + auth + "\r\n", "202 Accepted"},
        {"POST /elsewhere HTTP/1.1\r\n" + auth + withPing, "200 OK"},
        {"GET /mcp HTTP/1.1\r\n\r\n", "401 Unauthorized"},
    };
    for (const auto &c : cases) {
        const Reply r = exchange(port(), c.request);
        EXPECT_EQ(r.status, c.status) << c.request.toStdString();
        EXPECT_EQ(r.headerLines.contains("Allow: POST, OPTIONS, DELETE"), c.status.startsWith("405"))
            << c.request.toStdString();
        if (c.status.startsWith("405")) {
            EXPECT_TRUE(r.body.isEmpty());
        }
    }
}

TEST_F(ServerTest, PeerThatStopsEarlyGetsNoReply)
{
    const QByteArray whole = post(rpc("ping"), token());
    const QList<QByteArray> partial{
        whole.left(10),                    // inside the request line
        whole.left(whole.indexOf("\r\n\r\n") + 2), // headers not finished
        whole.left(whole.size() - 3),      // body short of Content-Length
        "POST / HTTP/1.1\nAuthorization: Bearer " + token().toUtf8() + "\n\n", // bare line feeds
    };
    for (const QByteArray &bytes : partial) {
        RawClient client(port());
        client.send(bytes);
        EXPECT_TRUE(client.read(50).raw.isEmpty());
        client.finishSending();
        const Reply r = client.read();
        EXPECT_TRUE(r.closed) << bytes.toStdString();
        EXPECT_TRUE(r.raw.isEmpty()) << r.raw.toStdString();
    }
}

TEST_F(ServerTest, PeerThatFinishesAfterAWholeRequestStillGetsItsReply)
{
    Families::routed = {ToolFamily{[] { return QSet<QString>{"tally_status"}; }, [](Tool::Obj) { return QJsonArray(); },
                                   [](const QString &, const QJsonObject &, Tool::Done done) {
                                       Dispatch::after(10, [done] { done("Tally is running", false); });
                                   }}};
    for (const QByteArray &body : {rpc("ping"), rpc("tools/call", QJsonObject{{"name", "tally_status"}})}) {
        RawClient client(port());
        client.send(post(body, token()));
        client.finishSending();
        const Reply r = client.read();
        EXPECT_EQ(r.status, "200 OK") << body.toStdString();
        EXPECT_TRUE(r.json().contains("result"));
        EXPECT_TRUE(r.closed);
    }
}

TEST_F(ServerTest, OversizedOrSilentPeersAreClosedWithoutReply)
{
    const QByteArray t = token().toUtf8();
    {
        // Headers that never end within the cap.
        RawClient client(port());
        client.send("POST /mcp HTTP/1.1\r\nX-Pad: " + QByteArray(70 * 1024, 'a'));
        const Reply r = client.read();
        EXPECT_TRUE(r.closed);
        EXPECT_TRUE(r.raw.isEmpty());
    }
    {
        // A body over the cap is refused from its Content-Length alone.
        RawClient client(port());
        client.send("POST /mcp HTTP/1.1\r\nAuthorization: Bearer " + t + "\r\nContent-Length: 33554433\r\n\r\n{");
        const Reply r = client.read();
        EXPECT_TRUE(r.closed);
        EXPECT_TRUE(r.raw.isEmpty());
    }
    {
        // Silent before the request is whole: closed after the idle time
        // (30 s, shortened by the test time scale).
        RawClient client(port());
        client.send("POST /mcp HTTP/1.1\r\n");
        QElapsedTimer clock;
        clock.start();
        const Reply r = client.read(20000);
        EXPECT_TRUE(r.closed);
        EXPECT_TRUE(r.raw.isEmpty());
        EXPECT_GE(clock.elapsed(), Dispatch::scaledMs(30) - 50);
    }
}

TEST_F(ServerTest, BodiesWithoutTheTokenAreNeverHeld)
{
    const QByteArray head =
        "POST /mcp HTTP/1.1\r\nContent-Length: " + QByteArray::number(McpHttp::kBodyCap) + "\r\n\r\n";
    {
        // Answered from the headers alone: no body byte has been sent.
        RawClient client(port());
        client.send(head);
        const Reply r = client.read(20000);
        EXPECT_EQ(r.status, "401 Unauthorized");
        EXPECT_TRUE(r.closed);
    }
    // Thirty local processes announce 32 MiB bodies without the token, push
    // as much as the server takes, and stay connected.
    const QByteArray body(McpHttp::kBodyCap - 1, 'x');
    const qint64 before = residentKiB();
    ASSERT_GT(before, 0);
    std::vector<std::unique_ptr<RawClient>> attackers;
    for (int i = 0; i < 30; ++i) {
        attackers.push_back(std::make_unique<RawClient>(port()));
        ASSERT_TRUE(attackers.back()->connected());
        attackers.back()->send(head);
        attackers.back()->sendFor(body, 300);
    }
    // A client with the token is answered meanwhile.
    EXPECT_EQ(ask("ping").status, "200 OK");
    const qint64 grown = residentKiB() - before;
    EXPECT_LT(grown, 40 * 1024) << "resident memory grew by " << grown << " KiB";
    for (const auto &attacker : attackers)
        EXPECT_TRUE(attacker->read(20000).closed);
}

TEST_F(ServerTest, TricklingPeersAreClosedAtTheRequestTime)
{
    // The whole request must arrive within the request time of the accept
    // (30 s, shortened by the test time scale); a byte every quarter of it
    // does not buy more.
    const int limit = Dispatch::scaledMs(McpHttp::kRequestSeconds);
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < 5; ++i) {
        slow.push_back(std::make_unique<RawClient>(port()));
        slow.back()->send("POST /mcp HTTP/1.1\r\nX-Slow: ");
    }
    std::vector<bool> closed(slow.size(), false);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 100 * limit && std::count(closed.begin(), closed.end(), true) < qsizetype(slow.size())) {
        for (size_t i = 0; i < slow.size(); ++i) {
            if (closed[i])
                continue;
            slow[i]->send("a");
            const Reply r = slow[i]->read(limit / 20);
            if (r.closed) {
                closed[i] = true;
                EXPECT_TRUE(r.raw.isEmpty()) << "closed without a reply";
            }
        }
    }
    for (size_t i = 0; i < slow.size(); ++i)
        EXPECT_TRUE(closed[i]) << "connection " << i << " still open after " << clock.elapsed() << " ms";
    EXPECT_EQ(ask("ping").status, "200 OK");
}

TEST_F(ServerTest, ConnectionsBeyondTheBoundAreClosedAtOnce)
{
    // Held connections must outlive the test's own waits here.
    const double scale = Dispatch::timeScale;
    Dispatch::timeScale = 1.0;
    auto restore = qScopeGuard([scale] { Dispatch::timeScale = scale; });
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < McpHttp::kMaxConnections; ++i) {
        held.push_back(std::make_unique<RawClient>(port()));
        ASSERT_TRUE(held.back()->connected());
        held.back()->send("POST /mcp HTTP/1.1\r\n");
    }
    {
        RawClient extra(port());
        const Reply r = extra.read(20000);
        EXPECT_TRUE(r.closed) << "one over the bound is closed at once";
        EXPECT_TRUE(r.raw.isEmpty());
    }
    held.clear();
    // Room returns as the held connections go.
    EXPECT_TRUE(waitFor([&] { return ask("ping").status == "200 OK"; }));
}

// ---- JSON-RPC --------------------------------------------------------------

TEST_F(ServerTest, InitializeEchoesTheClientsProtocolVersion)
{
    const QJsonObject expectedRest{
        {"capabilities", QJsonObject{{"tools", QJsonObject{{"listChanged", false}}}}},
        {"serverInfo", QJsonObject{{"name", "velto-browser"}, {"version", "1.0.0"}}},
        {"instructions", QString::fromUtf8("The Velto browser window on this computer. Read, download and pre-fill on Indian "
                                           "government portals. Never submit, pay, or enter an OTP — hand back to the "
                                           "CA at the review screen.")},
    };
    const struct {
        QJsonObject params;
        QString version;
    } cases[] = {
        {QJsonObject{{"protocolVersion", "2024-11-05"}}, "2024-11-05"},
        {QJsonObject{{"protocolVersion", "anything"}}, "anything"},
        {QJsonObject{}, "2025-06-18"},
        {QJsonObject{{"protocolVersion", 20250618}}, "2025-06-18"},
    };
    for (const auto &c : cases) {
        const Reply r = ask("initialize", c.params);
        QJsonObject expected = expectedRest;
        expected.insert("protocolVersion", c.version);
        EXPECT_EQ(r.json(), (QJsonObject{{"jsonrpc", "2.0"}, {"id", 1}, {"result", expected}}))
            << r.body.toStdString();
    }
}

TEST_F(ServerTest, IdIsCopiedWhateverItsType)
{
    const QJsonValue ids[] = {7, "req-7", QJsonValue::Null, 2.5, QJsonObject{{"n", 1}}};
    for (const QJsonValue &id : ids) {
        const Reply r = ask("ping", {}, id);
        EXPECT_EQ(r.status, "200 OK");
        EXPECT_EQ(r.json(), (QJsonObject{{"jsonrpc", "2.0"}, {"id", id}, {"result", QJsonObject()}}))
            << r.body.toStdString();
    }
    // Large integers keep every digit.
    const Reply big = exchange(port(), post(R"({"id":9007199254740993,"method":"ping"})", token()));
    EXPECT_TRUE(big.body.contains("\"id\":9007199254740993")) << big.body.toStdString();
}

TEST_F(ServerTest, UnknownMethodsGetMethodNotFound)
{
    const struct {
        QByteArray body;
        QString message;
    } cases[] = {
        {R"({"jsonrpc":"2.0","id":4,"method":"resources/list"})", "Method not found: resources/list"},
        {R"({"jsonrpc":"2.0","id":4,"method":"Ping"})", "Method not found: Ping"},
        {R"({"jsonrpc":"2.0","id":4})", "Method not found: "},
        {R"({"jsonrpc":"2.0","id":4,"method":12})", "Method not found: "},
    };
    for (const auto &c : cases) {
        const Reply r = exchange(port(), post(c.body, token()));
        EXPECT_EQ(r.status, "200 OK");
        EXPECT_EQ(r.json(), (QJsonObject{{"jsonrpc", "2.0"},
                                         {"id", 4},
                                         {"error", QJsonObject{{"code", -32601}, {"message", c.message}}}}))
            << r.body.toStdString();
    }
}

// The list is serialised once per server and only the id is new in each
// reply: whatever JSON the id is, it comes back as it was sent.
TEST_F(ServerTest, ToolsListIsBuiltOnceAndEchoesAnyId)
{
    int built = 0;
    Families::listed = {ToolFamily{[] { return QSet<QString>{"count_tool"}; },
                                   [&built](Tool::Obj obj) {
                                       ++built;
                                       return QJsonArray{QJsonObject{{"name", "count_tool"},
                                                                     {"description", "d"},
                                                                     {"inputSchema", obj({}, {})}}};
                                   },
                                   [](const QString &, const QJsonObject &, const Tool::Done &done) { done("", false); }}};
    const QJsonObject expected{{"tools", BrowserMCP::tools()}};
    built = 0;

    const QJsonValue ids[] = {
        1,
        0,
        -3.25,
        9007199254740991.0,
        QJsonValue(QJsonValue::Null),
        "",
        QString::fromUtf8("req \"7\" ₹ \\ \n end"),
        QJsonArray{1, "two"},
        QJsonObject{{"k", QJsonArray{true, false}}},
        true,
    };
    for (const QJsonValue &id : ids) {
        QJsonObject message{{"jsonrpc", "2.0"}, {"method", "tools/list"}, {"id", id}};
        const Reply r = exchange(port(), post(QJsonDocument(message).toJson(QJsonDocument::Compact), token()));
        ASSERT_EQ(r.status, "200 OK") << show(id);
        const QJsonObject json = r.json();
        EXPECT_EQ(json.keys(), (QStringList{"id", "jsonrpc", "result"})) << r.body.toStdString().substr(0, 80);
        EXPECT_EQ(json["id"], id) << show(id);
        EXPECT_EQ(json["jsonrpc"], "2.0");
        EXPECT_EQ(json["result"].toObject(), expected) << show(id);
        // The same bytes the whole object would serialise to.
        EXPECT_EQ(r.body, QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", id}, {"result", expected}})
                              .toJson(QJsonDocument::Compact))
            << show(id);
    }
    EXPECT_EQ(built, 1) << "the table is built at the first tools/list only";

    // Another server (another launch) builds its own.
    BrowserMCP other(pane.get());
    ASSERT_TRUE(other.start());
    EXPECT_EQ(exchange(other.port(), post(rpc("tools/list"), other.token())).json()["result"].toObject(), expected);
    EXPECT_EQ(built, 2);
}

TEST_F(ServerTest, ToolsListAndToolsCallOverTheWire)
{
    const Reply list = ask("tools/list");
    EXPECT_EQ(list.json().value("result").toObject(), (QJsonObject{{"tools", BrowserMCP::tools()}}));

    EXPECT_EQ(callTool("browser_read"), textResult("Browser window is not open.", true));
    EXPECT_EQ(callTool("no_such_tool"), textResult("Unknown tool: no_such_tool", true));

    // params or arguments of the wrong type count as absent.
    const Reply odd = exchange(port(), post(R"({"id":2,"method":"tools/call","params":[1]})", token()));
    EXPECT_EQ(odd.json().value("result").toObject(), textResult("Unknown tool: ", true));
}

} // namespace

// The engine's MCP client, request by request as it sends them on the wire:
// keep-alive asked for, the protocol version and session headers after
// initialize, a GET that asks for an event stream, a progress token on the
// call and a cancel notification after it. Each is answered by the rules
// above and closes its connection.
TEST_F(ServerTest, TheEnginesClientConversationIsServed)
{
    Families::routed = {ToolFamily{[] { return QSet<QString>{"test_echo"}; }, [](Tool::Obj) { return QJsonArray(); },
                                   [](const QString &, const QJsonObject &a, Tool::Done done) {
                                       done("echo: " + a.value("text").toString(), false);
                                   }}};
    const QByteArray auth = "Authorization: Bearer " + token().toUtf8() + "\r\n";
    const QByteArray common = "Connection: keep-alive\r\nUser-Agent: engine/1\r\nHost: 127.0.0.1:" +
                              QByteArray::number(port()) + "\r\nAccept-Encoding: gzip, deflate, br, zstd\r\n";
    const QByteArray session = "mcp-protocol-version: 2025-11-25\r\nmcp-session-id: velto-browser\r\n";
    auto postRequest = [&](const QByteArray &headers, const QByteArray &body) {
        return "POST /mcp HTTP/1.1\r\nAccept: application/json, text/event-stream\r\n" + auth +
               "Content-Type: application/json\r\n" + headers + common + "Content-Length: " +
               QByteArray::number(body.size()) + "\r\n\r\n" + body;
    };
    struct Step {
        const char *what;
        QByteArray request;
        QByteArray status;
        std::function<void(const QJsonObject &)> check;
    };
    const std::vector<Step> steps{
        {"initialize",
         postRequest({}, R"({"method":"initialize","params":{"protocolVersion":"2025-11-25","capabilities":{"roots":{}},)"
                         R"("clientInfo":{"name":"engine","version":"1"}},"jsonrpc":"2.0","id":0})"),
         "200 OK",
         [](const QJsonObject &j) {
             EXPECT_EQ(j.value("id"), 0);
             EXPECT_EQ(j.value("result").toObject().value("protocolVersion").toString(), "2025-11-25");
         }},
        {"initialized", postRequest(session, R"({"method":"notifications/initialized","jsonrpc":"2.0"})"),
         "202 Accepted", nullptr},
        {"stream request",
         "GET /mcp HTTP/1.1\r\nAccept: text/event-stream\r\n" + auth + session + common + "\r\n",
         "405 Method Not Allowed", nullptr},
        {"tools/list", postRequest(session, R"({"method":"tools/list","jsonrpc":"2.0","id":1})"), "200 OK",
         [](const QJsonObject &j) {
             QStringList names;
             for (const QJsonValue &t : j.value("result").toObject().value("tools").toArray())
                 names << t.toObject().value("name").toString();
             EXPECT_TRUE(names.contains("browser_open")) << names.join(',').toStdString();
         }},
        {"tools/call",
         postRequest(session, R"({"method":"tools/call","params":{"name":"test_echo","arguments":{"text":"hi"},)"
                              R"("_meta":{"progressToken":2}},"jsonrpc":"2.0","id":2})"),
         "200 OK",
         [](const QJsonObject &j) {
             EXPECT_EQ(j.value("id"), 2);
             const QJsonObject result = j.value("result").toObject();
             EXPECT_FALSE(result.value("isError").toBool());
             EXPECT_EQ(result.value("content").toArray().at(0).toObject().value("text").toString(), "echo: hi");
         }},
        {"cancelled",
         postRequest(session, R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":2,)"
                              R"("reason":"AbortError: The operation was aborted."}})"),
         "202 Accepted", nullptr},
    };
    for (const Step &step : steps) {
        RawClient client(port());
        client.send(step.request);
        const Reply r = client.read();
        EXPECT_EQ(r.status, step.status) << step.what << "\n" << r.raw.toStdString();
        EXPECT_TRUE(r.closed) << step.what << ": the connection is closed after the reply";
        EXPECT_TRUE(r.headerLines.contains("Connection: close")) << step.what;
        if (step.check)
            step.check(r.json());
        else
            EXPECT_TRUE(r.body.isEmpty()) << step.what << ": " << r.body.toStdString();
    }
}
