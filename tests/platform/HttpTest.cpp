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
    EXPECT_EQ(out.response.error,
              QStringLiteral("the answer was larger than 64 KB, the most Velto takes from it; it was cut off"));
    EXPECT_EQ(out.response.failure, Http::Failure::TooLarge);
    EXPECT_TRUE(out.response.body.isEmpty());

    // Within the bound, or the default one, the whole reply arrives.
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
    EXPECT_EQ(out.response.error, "127.0.0.1:" + QString::number(server.port()) + " did not finish answering in time (20 s)");
    EXPECT_EQ(out.response.failure, Http::Failure::TimedOut);

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
        EXPECT_EQ(out.response.error,
                  QStringLiteral("the answer was larger than 100000 bytes, the most Velto takes from it; it was cut off"))
            << path;
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

namespace {

// A reply without a length that never ends, and one that ends within the
// bound, sent in chunks: the first is cut off at the bound as it arrives.
TEST(Http, AChunkedAnswerIsCutOffAtItsBoundAsItArrives)
{
    FakeHttpServer server;
    FakeReply endless = FakeReply::text(QByteArray(64 * 1024, 'l'));
    endless.chunked = true;
    endless.endless = true;
    server.on("POST", "/endless", endless);
    FakeReply whole = FakeReply::text(QByteArray(200 * 1024, 'w'));
    whole.chunked = true;
    server.on("POST", "/whole", whole);
    FakeReply unbounded = FakeReply::text(QByteArray(64 * 1024, 'u'));
    unbounded.endless = true; // no length, no chunks: the body runs until the connection closes
    server.on("POST", "/unbounded", unbounded);

    Http::Request req;
    req.method = "POST";
    req.body = "<ENVELOPE/>";
    req.maxBody = 1024 * 1024;
    for (const char *path : {"/endless", "/unbounded"}) {
        req.url = QUrl(server.baseUrl() + path);
        const Outcome out = send(req, 30000);
        EXPECT_EQ(out.calls, 1) << path;
        EXPECT_FALSE(out.response.answered()) << path;
        EXPECT_TRUE(out.response.body.isEmpty()) << path;
        EXPECT_EQ(out.response.failure, Http::Failure::TooLarge) << path;
        EXPECT_EQ(out.response.error,
                  QStringLiteral("the answer was larger than 1 MB, the most Velto takes from it; it was cut off"))
            << path;
    }
    req.url = QUrl(server.baseUrl() + "/whole");
    const Outcome out = send(req, 30000);
    EXPECT_EQ(out.response.status, 200) << out.response.error.toStdString();
    EXPECT_EQ(out.response.body, QByteArray(200 * 1024, 'w'));
}

// A service that keeps the connection busy with one byte now and then never
// finishes: the deadline is for the whole answer, not for each silence.
TEST(Http, AnAnswerThatTricklesInEndsAtTheDeadline)
{
    FakeHttpServer server;
    FakeReply trickle = FakeReply::text(QByteArray(100000, 't'));
    trickle.trickleMs = 20;
    server.on("GET", "/trickle", trickle);
    FakeReply chunks = trickle;
    chunks.chunked = true;
    server.on("GET", "/chunks", chunks);
    for (const char *path : {"/trickle", "/chunks"}) {
        Http::Request req;
        req.url = QUrl(server.baseUrl() + path);
        req.timeout = 50; // 0.5 s at the tests' time scale; each silence is 0.02 s
        const Outcome out = send(req, 30000);
        EXPECT_EQ(out.calls, 1) << path;
        EXPECT_FALSE(out.response.answered()) << path;
        EXPECT_EQ(out.response.failure, Http::Failure::TimedOut) << path;
        EXPECT_TRUE(out.response.mayHaveArrived()) << path;
        EXPECT_EQ(out.response.error,
                  "127.0.0.1:" + QString::number(server.port()) + " did not finish answering in time (50 s)")
            << path;
    }
}

// A body shorter than its length says, the connection then closed: the
// part that came is not an answer.
TEST(Http, AnAnswerCutShortIsNoAnswer)
{
    FakeHttpServer server;
    FakeReply cut = FakeReply::text(R"({"count":0,"ledgers":[)");
    cut.headers.append(Header{"Content-Length", "5000"});
    server.on("*", "/cut", cut);
    for (const QByteArray method : {"GET", "POST"}) {
        Http::Request req;
        req.method = method;
        req.url = QUrl(server.baseUrl() + "/cut");
        const Outcome out = send(req);
        EXPECT_FALSE(out.response.answered()) << method.toStdString();
        EXPECT_TRUE(out.response.body.isEmpty());
        EXPECT_EQ(out.response.failure, Http::Failure::Lost);
        EXPECT_TRUE(out.response.mayHaveArrived());
        EXPECT_FALSE(out.response.error.isEmpty());
    }
}

// Whether a failed write may have reached the service: only when it left.
TEST(Http, AFailedWriteSaysWhetherItLeft)
{
    quint16 closed = 0;
    {
        FakeHttpServer gone;
        closed = gone.port();
    }
    Http::Request req;
    req.method = "POST";
    req.body = "commit=1";
    req.url = QUrl(QString("http://127.0.0.1:%1/write").arg(closed));
    Outcome out = send(req);
    EXPECT_EQ(out.response.failure, Http::Failure::NotSent);
    EXPECT_FALSE(out.response.mayHaveArrived());

    FakeHttpServer server;
    FakeReply drop;
    drop.drop = true;
    server.on("POST", "/write", drop);
    req.url = QUrl(server.baseUrl() + "/write");
    out = send(req);
    EXPECT_EQ(out.response.failure, Http::Failure::Lost);
    EXPECT_TRUE(out.response.mayHaveArrived());
    EXPECT_EQ(server.requests().size(), 1);
}

// A service that answers 302 to another host would get the bearer token
// there: a request with a credential stops at the redirect instead.
TEST(Http, ACredentialNeverFollowsARedirectToAnotherOrigin)
{
    FakeHttpServer service;
    FakeHttpServer other;
    other.setFallback([](const RecordedRequest &) { return FakeReply::text("stolen"); });
    const QString otherHost = "127.0.0.1:" + QString::number(other.port());
    for (const int status : {301, 302, 303, 307, 308}) {
        FakeReply away = FakeReply::text("", status);
        away.headers.append(Header{"Location", (other.baseUrl() + "/take").toUtf8()});
        service.on("*", "/away" + QString::number(status), away);
    }
    FakeReply near = FakeReply::text("", 302);
    near.headers.append(Header{"Location", "/here"});
    service.on("GET", "/near", near);
    service.on("GET", "/here", [](const RecordedRequest &r) { return FakeReply::text(r.header("authorization")); });

    struct Case {
        const char *what;
        QByteArray method;
        QList<Http::Header> headers;
        QByteArray body;
        bool credential;
    };
    const QList<Case> cases{
        {"bearer read", "GET", {{"Authorization", "Bearer bridge-token"}}, {}, false},
        {"basic read", "GET", {{"Authorization", "Basic dTpw"}}, {}, false},
        {"token header", "GET", {{"authtoken", "irp"}}, {}, false},
        {"client secret", "POST", {{"client_secret", "s3"}}, "{}", false},
        {"token in the body", "POST", {}, R"({"token":"seat"})", true},
        {"bearer write", "POST", {{"Authorization", "Bearer erp"}}, "commit=1", false},
    };
    for (const Case &c : cases) {
        for (const int status : {301, 302, 303, 307, 308}) {
            SCOPED_TRACE(std::string(c.what) + " " + std::to_string(status));
            other.clearRequests();
            Http::Request req;
            req.method = c.method;
            req.headers = c.headers;
            req.body = c.body;
            req.credential = c.credential;
            req.url = QUrl(service.baseUrl() + "/away" + QString::number(status));
            const Outcome out = send(req);
            EXPECT_FALSE(out.response.answered());
            EXPECT_EQ(out.response.failure, Http::Failure::Redirected);
            EXPECT_FALSE(out.response.mayHaveArrived());
            EXPECT_TRUE(out.response.error.contains(otherHost)) << out.response.error.toStdString();
            spin(50);
            EXPECT_TRUE(other.requests().isEmpty());
        }
    }

    // Within the same origin a credentialed read follows, headers and all.
    Http::Request req;
    req.url = QUrl(service.baseUrl() + "/near");
    req.headers = {{"Authorization", "Bearer bridge-token"}};
    Outcome out = send(req);
    EXPECT_EQ(out.response.status, 200) << out.response.error.toStdString();
    EXPECT_EQ(out.response.body, "Bearer bridge-token");

    // A read without a credential may go elsewhere (a download's mirror).
    req.headers.clear();
    req.url = QUrl(service.baseUrl() + "/away302");
    out = send(req);
    EXPECT_EQ(out.response.status, 200) << out.response.error.toStdString();
    EXPECT_EQ(out.response.body, "stolen");
    EXPECT_EQ(other.requests().size(), 1);
}

TEST(Http, ARedirectFromHttpsToHttpIsRefused)
{
    FakeHttpServer::trustTestCa();
    FakeHttpServer secure(FakeHttpServer::Mode::Https);
    FakeHttpServer plain;
    plain.setFallback([](const RecordedRequest &) { return FakeReply::text("plain"); });
    FakeReply down = FakeReply::text("", 302);
    down.headers.append(Header{"Location", (plain.baseUrl() + "/x").toUtf8()});
    secure.on("GET", "/down", down);
    Http::Request req;
    req.url = QUrl(secure.baseUrl() + "/down");
    const Outcome out = send(req);
    EXPECT_EQ(out.response.failure, Http::Failure::Redirected) << out.response.error.toStdString();
    EXPECT_TRUE(plain.requests().isEmpty());
}

} // namespace
