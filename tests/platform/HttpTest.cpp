#include "platform/Dispatch.h"
#include "platform/Http.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"

#include <QThread>

using namespace TestKit;

namespace {

struct Outcome {
    int calls = 0;
    bool onMain = false;
    Http::Response response;
};

Outcome send(const Http::Request &req, int waitMs = 5000)
{
    auto out = std::make_shared<Outcome>();
    Http::request(req, [out](const Http::Response &r) {
        ++out->calls;
        out->onMain = Dispatch::isMainThread();
        out->response = r;
    });
    waitFor([&] { return out->calls > 0; }, waitMs);
    spin(20);
    return *out;
}

TEST(Http, SendsMethodHeadersBodyAndReadsTheAnswer)
{
    FakeHttpServer server;
    server.on("POST", "/cli/login", [](const RecordedRequest &r) {
        auto reply = FakeReply::json(QJsonObject{{"echo", QString::fromUtf8(r.body)}}, 201);
        reply.headers.append(Header{"X-Test", "yes"});
        return reply;
    });
    Http::Request req;
    req.method = "POST";
    req.url = QUrl(server.baseUrl() + "/cli/login?x=1");
    req.headers = {{"Authorization", "Bearer t0k"}, {"Content-Type", "application/json"}};
    req.body = R"({"a":1})";
    const Outcome out = send(req);
    EXPECT_EQ(out.calls, 1);
    EXPECT_TRUE(out.onMain);
    EXPECT_EQ(out.response.status, 201);
    EXPECT_TRUE(out.response.error.isEmpty());
    EXPECT_EQ(out.response.header("x-test"), "yes");
    EXPECT_EQ(QJsonDocument::fromJson(out.response.body).object().value("echo").toString(), R"({"a":1})");

    ASSERT_EQ(server.requests().size(), 1);
    const auto r = server.requests()[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.path, "/cli/login");
    EXPECT_EQ(r.query, "x=1");
    EXPECT_EQ(r.header("authorization"), "Bearer t0k");
    EXPECT_EQ(r.body, R"({"a":1})");
}

TEST(Http, ErrorStatusesAreAnswersNotErrors)
{
    FakeHttpServer server;
    server.on("GET", "/gone", FakeReply::text("no", 404));
    Http::Request req;
    req.url = QUrl(server.baseUrl() + "/gone");
    const Outcome out = send(req);
    EXPECT_EQ(out.response.status, 404);
    EXPECT_TRUE(out.response.answered());
    EXPECT_EQ(out.response.body, "no");
}

TEST(Http, AReplyBeyondItsBoundIsCutOffAsAnError)
{
    FakeHttpServer server;
    server.on("GET", "/big", FakeReply::text(QByteArray(256 * 1024, 'x')));
    Http::Request req;
    req.url = QUrl(server.baseUrl() + "/big");
    req.maxBody = 64 * 1024;
    Outcome out = send(req);
    EXPECT_EQ(out.calls, 1);
    EXPECT_EQ(out.response.status, 0);
    EXPECT_EQ(out.response.error, QStringLiteral("the answer was larger than 65536 bytes"));
    EXPECT_TRUE(out.response.body.isEmpty());

    // Within the bound, or with none, the whole reply arrives.
    for (qint64 bound : {qint64(0), qint64(256 * 1024)}) {
        req.maxBody = bound;
        out = send(req);
        EXPECT_EQ(out.response.status, 200);
        EXPECT_EQ(out.response.body.size(), 256 * 1024);
    }
}

TEST(Http, TransportFailuresAreReportedOnce)
{
    FakeHttpServer server;
    FakeReply hang;
    hang.hang = true;
    server.on("GET", "/hang", hang);
    FakeReply drop;
    drop.drop = true;
    server.on("GET", "/drop", drop);

    Http::Request req;
    req.url = QUrl(server.baseUrl() + "/hang");
    req.timeout = 20; // scaled down by the tests' time scale to 0.2 s
    Outcome out = send(req);
    EXPECT_EQ(out.calls, 1);
    EXPECT_EQ(out.response.status, 0);
    EXPECT_EQ(out.response.error, "The request timed out.");

    req.url = QUrl(server.baseUrl() + "/drop");
    out = send(req);
    EXPECT_EQ(out.calls, 1);
    EXPECT_FALSE(out.response.answered());
    EXPECT_FALSE(out.response.error.isEmpty());

    // Nobody listening.
    quint16 closed = server.port();
    {
        FakeHttpServer gone;
        closed = gone.port();
    }
    req.url = QUrl(QString("http://127.0.0.1:%1/").arg(closed));
    out = send(req);
    EXPECT_EQ(out.calls, 1);
    EXPECT_FALSE(out.response.answered());
}

TEST(Http, HttpsWithTheTestCa)
{
    FakeHttpServer::trustTestCa();
    FakeHttpServer server(FakeHttpServer::Mode::Https);
    server.on("GET", "/cli/version", FakeReply::json(QJsonObject{{"version", "1.2.3"}}));
    Http::Request req;
    req.url = QUrl(server.baseUrl() + "/cli/version");
    const Outcome out = send(req);
    EXPECT_EQ(out.response.status, 200) << out.response.error.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(out.response.body).object().value("version").toString(), "1.2.3");
}

TEST(Http, CallsFromAnyThreadAnswerOnMain)
{
    FakeHttpServer server;
    server.on("GET", "/x", FakeReply::text("ok"));
    auto out = std::make_shared<Outcome>();
    Dispatch::runInBackground([url = server.baseUrl() + "/x", out] {
        Http::Request req;
        req.url = QUrl(url);
        Http::request(req, [out](const Http::Response &r) {
            ++out->calls;
            out->onMain = Dispatch::isMainThread();
            out->response = r;
        });
    });
    ASSERT_TRUE(waitFor([&] { return out->calls > 0; }));
    EXPECT_TRUE(out->onMain);
    EXPECT_EQ(out->response.body, "ok");
}

TEST(Http, TheTransportIsReplaceableAndStillAnswersOnce)
{
    auto saved = Http::Hooks::send;
    Http::Hooks::send = [](const Http::Request &req, Http::Done done) {
        Http::Response r;
        r.status = 200;
        r.body = req.url.path().toUtf8();
        // A misbehaving transport answering twice from another thread.
        Dispatch::runInBackground([done, r] { done(r); done(r); });
    };
    Http::Request req;
    req.url = QUrl("http://example.invalid/in-process");
    const Outcome out = send(req);
    Http::Hooks::send = saved;
    EXPECT_EQ(out.calls, 1);
    EXPECT_TRUE(out.onMain);
    EXPECT_EQ(out.response.body, "/in-process");
}

} // namespace

namespace {

// A server that reads each request and closes the connection without a word.
// Whatever the transport does on its own, a write reaches it once.
TEST(Http, AWriteThatLosesItsConnectionIsNeverSentAgain)
{
    for (const auto mode : {FakeHttpServer::Mode::Http, FakeHttpServer::Mode::Https}) {
        if (mode == FakeHttpServer::Mode::Https)
            FakeHttpServer::trustTestCa();
        FakeHttpServer server(mode);
        FakeReply drop;
        drop.drop = true;
        server.setFallback([drop](const RecordedRequest &) { return drop; });

        struct Case {
            QByteArray method;
            QByteArray body;
        };
        for (const Case &c : {Case{"POST", "commit=1"}, Case{"POST", ""}, Case{"PUT", "x"},
                              Case{"DELETE", ""}, Case{"PATCH", "{}"}}) {
            SCOPED_TRACE(c.method.toStdString() + " " + c.body.toStdString() + " " + server.baseUrl().toStdString());
            server.clearRequests();
            Http::Request req;
            req.method = c.method;
            req.url = QUrl(server.baseUrl() + "/api/cli/v1/write/sells/create");
            req.body = c.body;
            const Outcome out = send(req);
            EXPECT_EQ(out.calls, 1);
            EXPECT_FALSE(out.response.answered());
            EXPECT_EQ(out.response.error, QStringLiteral("the connection closed before a reply"));
            spin(100);
            EXPECT_EQ(server.requests().size(), 1);
        }

        // Answered writes, with and without a body, come back as usual.
        server.on("*", "/ok", [](const RecordedRequest &r) {
            return FakeReply::json(QJsonObject{{"method", QString::fromUtf8(r.method)},
                                               {"body", QString::fromUtf8(r.body)}});
        });
        for (const Case &c : {Case{"POST", "a=1"}, Case{"POST", ""}, Case{"DELETE", ""}}) {
            Http::Request req;
            req.method = c.method;
            req.url = QUrl(server.baseUrl() + "/ok");
            req.body = c.body;
            const Outcome out = send(req);
            EXPECT_EQ(out.response.status, 200) << out.response.error.toStdString();
            EXPECT_EQ(QJsonDocument::fromJson(out.response.body).object(),
                      QJsonObject({{"method", QString::fromUtf8(c.method)}, {"body", QString::fromUtf8(c.body)}}));
        }

        // A read may be tried again: it changes nothing.
        server.clearRequests();
        Http::Request get;
        get.url = QUrl(server.baseUrl() + "/api/cli/v1/whoami");
        const Outcome out = send(get);
        EXPECT_EQ(out.calls, 1);
        EXPECT_FALSE(out.response.answered());
        EXPECT_GE(server.requests().size(), 1);
    }
}

} // namespace

namespace {

TEST(Http, AnAnswerPastTheBoundIsNotHeld)
{
    FakeHttpServer server;
    server.on("GET", "/big", FakeReply::text(QByteArray(300000, 'x')));
    server.on("GET", "/small", FakeReply::text(QByteArray(1000, 'x')));
    FakeReply lying = FakeReply::text(QByteArray(10, 'x'));
    lying.headers.append(Header{"Content-Length", "900000000"});
    server.on("GET", "/lying", lying);

    Http::Request req;
    req.maxBody = 100000;
    for (const char *path : {"/big", "/lying"}) {
        req.url = QUrl(server.baseUrl() + path);
        const Outcome out = send(req);
        EXPECT_EQ(out.calls, 1) << path;
        EXPECT_FALSE(out.response.answered()) << path;
        EXPECT_TRUE(out.response.body.isEmpty()) << path;
        EXPECT_EQ(out.response.error, QStringLiteral("the answer was larger than 100000 bytes")) << path;
    }
    req.url = QUrl(server.baseUrl() + "/small");
    const Outcome out = send(req);
    EXPECT_EQ(out.response.status, 200);
    EXPECT_EQ(out.response.body.size(), 1000);
}

} // namespace

namespace {

TEST(Http, AWriteIsNotFollowedToAnotherAddress)
{
    FakeHttpServer server;
    for (const QByteArray status : {"303", "307", "308"}) {
        FakeReply moved = FakeReply::text("", status.toInt());
        moved.headers.append(Header{"Location", "/elsewhere"});
        server.on("*", "/moved" + status, moved);
    }
    server.on("*", "/elsewhere", FakeReply::text("here"));
    for (const QByteArray status : {"303", "307", "308"}) {
        server.clearRequests();
        Http::Request req;
        req.method = "POST";
        req.body = "commit=1";
        req.url = QUrl(server.baseUrl() + "/moved" + status);
        const Outcome out = send(req);
        EXPECT_EQ(out.response.status, status.toInt());
        EXPECT_EQ(server.requests().size(), 1);
    }
    // A read still follows.
    Http::Request get;
    get.url = QUrl(server.baseUrl() + "/moved307");
    EXPECT_EQ(send(get).response.body, "here");
}

} // namespace
