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
    EXPECT_EQ(out.response.error, QStringLiteral("The reply is too large."));
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
