// The built velto program as a black box: offscreen, a throwaway home,
// the stand-in engine and cloud. It must come up to the engine's chat page,
// serve the engine's tools over MCP on loopback, and quit cleanly on SIGTERM,
// taking the engine with it.
#include "AppTestKit.h"
#include "support/FakeHttpServer.h"

#include "core/Globals.h"
#include "core/Shell.h"
#include "platform/Http.h"
#include "platform/Process.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <csignal>

using namespace AppTestKit;
using TestKit::waitFor;

namespace {

// One JSON-RPC call to the tool server; the reply's object, empty on failure.
QJsonObject rpc(const QString &url, const QString &token, const QJsonObject &message)
{
    Http::Request req;
    req.method = "POST";
    req.url = QUrl(url);
    req.headers << Http::Header("Content-Type", "application/json")
                << Http::Header("Accept", "application/json, text/event-stream")
                << Http::Header("Authorization", "Bearer " + token.toUtf8());
    req.body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    req.timeout = 60;
    std::optional<Http::Response> reply;
    Http::request(req, [&](const Http::Response &r) { reply = r; });
    waitFor([&] { return reply.has_value(); }, 60000);
    if (!reply)
        return {};
    QByteArray body = reply->body;
    // An event-stream answer carries the JSON on its "data:" line.
    const qsizetype data = body.indexOf("data:");
    if (data >= 0) {
        body = body.mid(data + 5);
        body = body.left(body.indexOf('\n') < 0 ? body.size() : body.indexOf('\n'));
    }
    return QJsonDocument::fromJson(body.trimmed()).object();
}

QString resultText(const QJsonObject &reply)
{
    QString text;
    for (const QJsonValue &part : reply.value("result").toObject().value("content").toArray())
        text += part.toObject().value("text").toString();
    return text;
}

} // namespace

TEST(AppEndToEnd, StartsServesToolsAndQuitsOnSigterm)
{
    // The program runs in real time: a tool call waits for its page to settle.
    ScopedTimeScale realTime(1);
    TestKit::TempHome home;
    StandinCloud cloud(home, signedInCloudReplies());
    ASSERT_TRUE(cloud.running());

    const QString clients = prepareSignedInHome(home);
    ASSERT_FALSE(clients.isEmpty());
    const QString velto = home.file(".velto");

    TestKit::FakeHttpServer fixture;
    // The fake server answers text/plain by default; the page must be HTML.
    fixture.on("GET", "/page", [](const TestKit::RecordedRequest &) {
        TestKit::FakeReply r;
        r.headers << TestKit::Header("Content-Type", "text/html; charset=utf-8");
        r.body = "<!doctype html><html><head><title>Fixture Portal</title></head>"
                 "<body><h1>Return status</h1><p>Filed for March</p><button>Check</button></body></html>";
        return r;
    });

    const QString engineLog = home.file("engine.log");
    std::unique_ptr<Process> app = launchVelto(home, cloud.baseUrl(), {{"VELTO_STANDIN_LOG", engineLog}});
    ASSERT_TRUE(app);

    // The chat view asks the engine for the chat page of a session in the
    // clients folder (the sidebar's session list does not count).
    const QString sessionPages = "/" + slug(clients) + "/session/ses_";
    ASSERT_TRUE(waitFor(
        [&] {
            for (const QJsonObject &r : events(engineLog, "request"))
                if (r.value("method").toString() == "GET" && r.value("path").toString().startsWith(sessionPages))
                    return true;
            return false;
        },
        60000))
        << "the engine's chat page was never requested";

    // The engine is locked: the app's own requests and the chat page's
    // script (reading its session's messages) get in with the credentials.
    const auto authorized = [&](const QString &method, const QString &path) {
        for (const QJsonObject &r : events(engineLog, "request"))
            if (r.value("method").toString() == method && r.value("path").toString().contains(path)
                && r.value("authorized").toBool())
                return true;
        return false;
    };
    ASSERT_TRUE(waitFor([&] { return authorized("GET", "/message"); }, 60000)) << "the chat page's script was refused";
    EXPECT_TRUE(authorized("POST", "/session"));
    EXPECT_TRUE(authorized("GET", "/session"));
    const QJsonObject started = events(engineLog, "start").value(0);
    EXPECT_EQ(started.value("env").toObject().value("OPENCODE_SERVER_PASSWORD").toString(), "(set)");
    // The secret lives in the engine's environment and nowhere under the home.
    QFile environ(QStringLiteral("/proc/%1/environ").arg(qint64(started.value("pid").toDouble())));
    ASSERT_TRUE(environ.open(QIODevice::ReadOnly));
    QByteArray secret;
    for (const QByteArray &entry : environ.readAll().split('\0'))
        if (entry.startsWith("OPENCODE_SERVER_PASSWORD="))
            secret = entry.mid(25);
    EXPECT_GE(secret.size(), 32);
    QDirIterator files(home.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (!secret.isEmpty() && files.hasNext()) {
        const QString file = files.next();
        EXPECT_FALSE(TestKit::readFile(file).contains(secret)) << file.toStdString();
    }

    // The tool server's entry in the engine configuration.
    QFile oc(velto + "/hallix/opencode.json");
    ASSERT_TRUE(oc.open(QIODevice::ReadOnly));
    const QJsonObject entry =
        QJsonDocument::fromJson(oc.readAll()).object().value("mcp").toObject().value("browser").toObject();
    const QString url = entry.value("url").toString();
    const QString auth = entry.value("headers").toObject().value("Authorization").toString();
    ASSERT_TRUE(url.startsWith("http://127.0.0.1:")) << url.toStdString();
    ASSERT_TRUE(auth.startsWith("Bearer "));
    const QString token = auth.mid(7);

    const QJsonObject list = rpc(url, token, {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/list"}});
    QStringList names;
    for (const QJsonValue &t : list.value("result").toObject().value("tools").toArray())
        names << t.toObject().value("name").toString();
    EXPECT_TRUE(names.contains("browser_open")) << names.join(',').toStdString();
    EXPECT_TRUE(names.contains("browser_read"));

    const QJsonObject open = rpc(url, token,
                                 {{"jsonrpc", "2.0"}, {"id", 2}, {"method", "tools/call"},
                                  {"params", QJsonObject{{"name", "browser_open"},
                                                         {"arguments", QJsonObject{{"url", fixture.baseUrl() + "/page"}}}}}});
    EXPECT_FALSE(open.value("result").toObject().value("isError").toBool()) << resultText(open).toStdString();
    // The open answers with the page it opened, however long it took to load.
    EXPECT_TRUE(resultText(open).contains("Filed for March")) << QJsonDocument(open).toJson().toStdString();
    const QJsonObject read = rpc(url, token,
                                 {{"jsonrpc", "2.0"}, {"id", 3}, {"method", "tools/call"},
                                  {"params", QJsonObject{{"name", "browser_read"}, {"arguments", QJsonObject{}}}}});
    const QString page = resultText(read);
    EXPECT_TRUE(page.contains("Fixture Portal")) << page.toStdString();
    EXPECT_TRUE(page.contains("Filed for March")) << page.toStdString();

    // SIGTERM: the app quits through its normal path, which stops the engine.
    app->signal(SIGTERM);
    ASSERT_TRUE(app->waitForExit(30000));
    EXPECT_EQ(app->exitCode(), 0);
    EXPECT_TRUE(waitForEvents(engineLog, "signal", 1, 10000)) << "the engine was not sent SIGTERM";
}

// Quitting is bounded whatever runs: an engine that ignores SIGTERM is ended
// with the app, which is gone within its bound of seconds.
TEST(AppEndToEnd, QuittingEndsAnEngineThatIgnoresItsSignal)
{
    ScopedTimeScale realTime(1);
    TestKit::TempHome home;
    StandinCloud cloud(home, signedInCloudReplies());
    ASSERT_TRUE(cloud.running());
    ASSERT_FALSE(prepareSignedInHome(home).isEmpty());

    const QString engineLog = home.file("engine.log");
    std::unique_ptr<Process> app =
        launchVelto(home, cloud.baseUrl(), {{"VELTO_STANDIN_LOG", engineLog}, {"VELTO_STANDIN_IGNORE_TERM", "1"}});
    ASSERT_TRUE(app);
    ASSERT_TRUE(waitForEvents(engineLog, "listening", 1, 60000));
    // Up to the chat page: the engine has been asked for a session's page.
    ASSERT_TRUE(waitFor(
        [&] {
            for (const QJsonObject &r : events(engineLog, "request"))
                if (r.value("path").toString().contains("/session/ses_") && !r.value("path").toString().endsWith("/message"))
                    return true;
            return false;
        },
        60000));
    const pid_t enginePid = pid_t(events(engineLog, "start").value(0).value("pid").toDouble());
    ASSERT_GT(enginePid, 0);

    app->signal(SIGTERM);
    ASSERT_TRUE(app->waitForExit(30000)) << "the app did not end";
    EXPECT_EQ(app->exitCode(), 0);
    EXPECT_TRUE(waitForEvents(engineLog, "signal", 1, 10000)) << "the engine was asked first";
    // Gone (an unreaped entry left to whoever adopted it counts as gone).
    EXPECT_TRUE(waitFor([&] { return !AppTestKit::alive(enginePid); }, 10000)) << "the engine outlived the app";
}
