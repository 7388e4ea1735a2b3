// The whole loop on the real engine. The built velto program starts offscreen
// in a throwaway home on the engine installed from npm, with a model stand-in
// on loopback configured as the engine's provider. A prompt sent through the
// engine's HTTP interface makes the model call the browser tool; the call must
// reach Velto's tool server, the browser pane must open the fixture page, and
// the engine must record the page text as the tool's output in the session.
//
// A second run takes the CA's road: Velto runs in this process, and a question
// is typed into the engine's own chat page in the chat view with real key
// events; the answer must show on the page.
//
// The engine is kept offline: its update check, model list fetch, language
// server downloads and sharing are switched off, and the package installs it
// starts in the background are pointed at a closed loopback port.
#include "AppTestKit.h"
#include "support/FakeHttpServer.h"

#include "app/AppDelegate.h"
#include "app/Sidebar.h"
#include "core/Shell.h"
#include "platform/Files.h"
#include "platform/Http.h"
#include "platform/Process.h"
#include "platform/WebView.h"
#include "ui/Mascot.h"
#include "ui/Theme.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>
#include <QUrlQuery>
#include <csignal>

using namespace AppTestKit;
using TestKit::waitFor;

namespace {

const QByteArray PAGE_TEXT = "Filed for March";

// Runs the install script; the engine executable placed in binDir, or a
// failure text.
bool installEngine(const QString &binDir, QString *why)
{
    QProcess p;
    p.setProgram(QStringLiteral("/bin/bash"));
    p.setArguments({QStringLiteral(VELTO_INSTALL_ENGINE), binDir});
    p.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    p.start();
    if (!p.waitForFinished(6 * 60 * 1000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *why = QString::fromUtf8(p.readAll());
        return false;
    }
    std::printf("engine installed or reused in %.1f s: %s", clock.elapsed() / 1000.0, p.readAll().constData());
    return QFileInfo(binDir + QStringLiteral("/velto-engine")).isExecutable();
}

// The engine process velto started: its port and the password it was locked
// with (absent when it runs open).
struct EngineChild {
    qint64 pid = 0;
    int port = 0;
    std::optional<QByteArray> password;
};

std::optional<EngineChild> findEngine(qint64 parent)
{
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool numeric = false;
        pid.toLongLong(&numeric);
        if (!numeric)
            continue;
        const QString dir = QStringLiteral("/proc/") + pid;
        // The parent id is the second field after the parenthesised name.
        const QByteArray stat = Files::readAll(dir + QStringLiteral("/stat")).value_or(QByteArray());
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 2 || fields.at(1).toLongLong() != parent)
            continue;
        const QList<QByteArray> args = Files::readAll(dir + QStringLiteral("/cmdline")).value_or(QByteArray()).split('\0');
        const qsizetype portAt = args.indexOf("--port");
        if (!args.contains("serve") || portAt < 0 || portAt + 1 >= args.size())
            continue;
        EngineChild child;
        child.pid = pid.toLongLong();
        child.port = args.at(portAt + 1).toInt();
        for (const QByteArray &var : Files::readAll(dir + QStringLiteral("/environ")).value_or(QByteArray()).split('\0'))
            if (var.startsWith("OPENCODE_SERVER_PASSWORD="))
                child.password = var.mid(int(qstrlen("OPENCODE_SERVER_PASSWORD=")));
        return child;
    }
    return std::nullopt;
}

// One request to the engine, with its Basic credentials when it is locked
// (unless told not to), answered within `seconds`.
Http::Response engineCall(const EngineChild &engine, const QByteArray &method, const QString &pathAndQuery,
                          const QJsonObject &body = {}, double seconds = 30, bool withCredentials = true)
{
    Http::Request req;
    req.method = method;
    req.url = QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(engine.port).arg(pathAndQuery));
    req.timeout = seconds;
    req.headers << Http::Header("Accept", "application/json");
    if (method == "POST") {
        req.headers << Http::Header("Content-Type", "application/json");
        req.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    }
    if (withCredentials && engine.password)
        req.headers << Http::Header("Authorization", "Basic " + ("opencode:" + *engine.password).toBase64());
    std::optional<Http::Response> reply;
    Http::request(req, [&](const Http::Response &r) { reply = r; });
    waitFor([&] { return reply.has_value(); }, int(seconds * 1000) + 5000);
    return reply.value_or(Http::Response{});
}

QString withDirectory(const QString &path, const QString &folder)
{
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("directory"), folder);
    return path + QLatin1Char('?') + q.toString(QUrl::FullyEncoded);
}

// The engine's configuration before Velto starts: the model stand-in as the
// provider and model, nothing that reaches outside.
QJsonObject engineConfig(const QString &modelUrl)
{
    return {
        {"autoupdate", false},
        {"share", "disabled"},
        {"model", "standin/standin-model"},
        {"provider",
         QJsonObject{{"standin",
                      QJsonObject{{"npm", "@ai-sdk/openai-compatible"},
                                  {"name", "Model stand-in"},
                                  {"options", QJsonObject{{"baseURL", modelUrl + "/v1"}, {"apiKey", "standin-key"}}},
                                  {"models", QJsonObject{{"standin-model",
                                                          QJsonObject{{"name", "Stand-in model"},
                                                                      {"tool_call", true}}}}}}}}},
    };
}

// The model stand-in on a free loopback port; ended when destroyed.
class ModelStandin {
public:
    ModelStandin(const TestKit::TempHome &home, const QString &openUrl, const QString &tool)
        : log_(home.file(QStringLiteral("model.log")))
    {
        const QString portFile = home.file(QStringLiteral("model.port"));
        Process::Spec spec;
        spec.program = QStringLiteral(VELTO_STANDIN_MODEL);
        spec.args = {QStringLiteral("--open-url"), openUrl, QStringLiteral("--tool"), tool,
                     QStringLiteral("--port-file"), portFile, QStringLiteral("--log"), log_};
        spec.dieWithParent = true;
        proc_ = Process::launch(spec);
        if (proc_ && waitFor([&] { return QFile::exists(portFile); }, 10000))
            port_ = Files::readAll(portFile).value_or(QByteArray()).trimmed().toInt();
    }
    ~ModelStandin()
    {
        if (proc_) {
            proc_->signal(SIGTERM);
            proc_->waitForExit(5000);
        }
    }
    bool running() const { return port_ > 0; }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }
    // The chat completion requests it has been sent, as parsed bodies.
    QList<QJsonObject> completions() const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &r : events(log_, QStringLiteral("request")))
            if (r.value(QStringLiteral("path")).toString().endsWith(QLatin1String("/chat/completions")))
                out << r.value(QStringLiteral("json")).toObject();
        return out;
    }

private:
    QString log_;
    std::unique_ptr<Process> proc_;
    int port_ = 0;
};

QStringList toolNames(const QJsonObject &completion)
{
    QStringList names;
    for (const QJsonValue &t : completion.value("tools").toArray())
        names << t.toObject().value("function").toObject().value("name").toString();
    return names;
}

// The end of the engine's own log under its data folder, for failure messages.
std::string engineLogTail(const QString &home)
{
    QStringList lines;
    QDirIterator it(home + QStringLiteral("/.local/share/opencode/log"), {QStringLiteral("*.log")}, QDir::Files);
    while (it.hasNext())
        lines << QString::fromUtf8(Files::readAll(it.next()).value_or(QByteArray())).split('\n');
    return ("\nengine log:\n" + lines.mid(std::max<qsizetype>(0, lines.size() - 40)).join('\n')).toStdString();
}

// What keeps the engine from reaching outside.
QMap<QString, QString> offlineEnvironment()
{
    QMap<QString, QString> offline;
    for (const char *off : {"OPENCODE_DISABLE_AUTOUPDATE", "OPENCODE_DISABLE_MODELS_FETCH",
                            "OPENCODE_DISABLE_LSP_DOWNLOAD", "OPENCODE_DISABLE_DEFAULT_PLUGINS"})
        offline.insert(off, "1");
    offline.insert("npm_config_registry", "http://127.0.0.1:9/");
    offline.insert("NPM_CONFIG_REGISTRY", "http://127.0.0.1:9/");
    return offline;
}

// A script's value in the chat page, as text ("" while it fails). It runs
// beside the page's own scripts: the page's content policy allows no
// evaluated script in its own world.
QString pageValue(WebView *web, const QString &script)
{
    std::optional<WebView::ScriptResult> result;
    web->evaluate(script, [&](const WebView::ScriptResult &r) { result = r; }, WebView::World::Isolated);
    waitFor([&] { return result.has_value(); }, 10000);
    if (!result || !result->ok())
        std::fprintf(stderr, "page script failed: %s\n",
                     result ? qPrintable(result->error) : "no answer in 10 s");
    return result && result->ok() ? result->value.toString() : QString();
}

// The portal page the model is told to open, at "/page" of the fixture server.
void servePortalPage(TestKit::FakeHttpServer &fixture)
{
    fixture.on("GET", "/page", [](const TestKit::RecordedRequest &) {
        TestKit::FakeReply r;
        r.headers << TestKit::Header("Content-Type", "text/html; charset=utf-8");
        r.body = "<!doctype html><html><head><title>Fixture Portal</title></head>"
                 "<body><h1>Return status</h1><p>" + PAGE_TEXT + "</p></body></html>";
        return r;
    });
}

QString cssColor(const QColor &c)
{
    return QStringLiteral("rgb(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

// The message box of the engine's chat page: its position in the view and
// its height, or empty while there is none.
const char *kMessageBox = R"JS((function(){
  var e = document.querySelector('[data-component=prompt-input][contenteditable], [data-component=prompt-input] [contenteditable=true], [contenteditable=true], textarea');
  if (!e) return '';
  var r = e.getBoundingClientRect();
  return JSON.stringify({x: r.left + r.width / 2, y: r.top + Math.min(r.height / 2, 12), h: r.height,
                         visible: r.height > 0 && r.bottom <= innerHeight + 1 && r.top >= 0});
})())JS";

// Saves a picture of the window beside the test's log when the test failed.
class PictureOnFailure {
public:
    explicit PictureOnFailure(std::function<AppDelegate *()> app) : app_(std::move(app)) {}
    ~PictureOnFailure()
    {
        AppDelegate *app = app_();
        if (!::testing::Test::HasFailure() || !app || !app->window())
            return;
        std::optional<QImage> picture;
        AppDelegate::composite(app->window(), Theme::bg(), std::nullopt, app->chat(),
                               [&](const QImage &image) { picture = image; });
        waitFor([&] { return picture.has_value(); }, 10000);
        const QString file = QDir::current().absoluteFilePath(QStringLiteral("wholeloop-failure.png"));
        if (picture && picture->save(file))
            std::printf("picture of the window: %s\n", qPrintable(file));
    }

private:
    std::function<AppDelegate *()> app_;
};

} // namespace

TEST(WholeLoop, PromptOnTheRealEngineOpensThePageThroughVeltoAndRecordsItsText)
{
    ScopedTimeScale realTime(1); // the engine's answers take real seconds
    TestKit::TempHome home;

    // The engine, installed (or taken from the cache) into the home's bin folder.
    const QString velto = home.file(".velto");
    QString why;
    ASSERT_TRUE(installEngine(velto + "/bin", &why)) << why.toStdString();

    StandinCloud cloud(home, signedInCloudReplies());
    ASSERT_TRUE(cloud.running());

    TestKit::FakeHttpServer fixture;
    servePortalPage(fixture);
    const QString pageUrl = fixture.baseUrl() + "/page";

    // The engine offers the tool server's tools to the model as "browser_" +
    // the tool's name.
    ModelStandin model(home, pageUrl, QStringLiteral("browser_browser_open"));
    ASSERT_TRUE(model.running());

    // Signed in, clients folder chosen, the provider configured.
    home.write(".velto/hallix/opencode.json", QJsonDocument(engineConfig(model.baseUrl())).toJson());
    home.write(".velto/seat.env", "PAVI_SEAT_TOKEN=seat-token\nPAVI_SEAT_EMAIL=ca@test.example\n");
    const QString clients = home.file("Clients");
    QDir().mkpath(clients);
    home.write(".velto/velto.env", "VELTO_WORK=" + clients.toUtf8() + "\n");

    std::unique_ptr<Process> app = launchVelto(home, cloud.baseUrl(), offlineEnvironment());
    ASSERT_TRUE(app);

    std::optional<EngineChild> engine;
    ASSERT_TRUE(waitFor([&] { return (engine = findEngine(app->pid())).has_value(); }, 60000))
        << "velto started no engine";
    std::printf("engine pid %lld port %d, %s\n", engine->pid, engine->port,
                engine->password ? "locked with a password" : "open (no password)");

    // Velto added the tool server's entry and kept the provider it does not own.
    const QJsonObject config =
        QJsonDocument::fromJson(Files::readAll(velto + "/hallix/opencode.json").value_or(QByteArray())).object();
    EXPECT_EQ(config.value("model").toString(), "standin/standin-model");
    EXPECT_TRUE(config.value("provider").toObject().contains("standin"));
    EXPECT_TRUE(config.value("mcp").toObject().value("browser").toObject().value("url").toString().endsWith("/mcp"));

    // The engine answers once it has loaded; then its tool server connection.
    Http::Response sessions;
    ASSERT_TRUE(waitFor([&] { return (sessions = engineCall(*engine, "GET", "/session", {}, 5)).status == 200; },
                        90000))
        << "the engine never answered: " << sessions.status << " " << sessions.error.toStdString();
    // Velto locks every engine it starts; without the credentials it refuses.
    ASSERT_TRUE(engine->password.has_value()) << "velto started the engine without a password";
    EXPECT_GE(engine->password->size(), 32) << "the password holds fewer than 128 bits";
    const Http::Response refused = engineCall(*engine, "GET", "/session", {}, 10, false);
    EXPECT_EQ(refused.status, 401) << "the locked engine answered a request without credentials";
    QJsonObject mcp;
    EXPECT_TRUE(waitFor(
        [&] {
            mcp = QJsonDocument::fromJson(engineCall(*engine, "GET", withDirectory("/mcp", clients), {}, 5).body).object();
            return mcp.value("browser").toObject().value("status").toString() == "connected";
        },
        60000))
        << "the engine did not connect to the tool server: " << QJsonDocument(mcp).toJson().toStdString()
        << engineLogTail(home.path());

    // A session in the clients folder, and one prompt.
    const Http::Response created = engineCall(*engine, "POST", withDirectory("/session", clients), {});
    ASSERT_EQ(created.status, 200) << created.body.toStdString();
    const QJsonObject session = QJsonDocument::fromJson(created.body).object();
    const QString id = session.value("id").toString();
    ASSERT_FALSE(id.isEmpty());
    EXPECT_EQ(session.value("directory").toString(), clients);

    const Http::Response answered =
        engineCall(*engine, "POST", withDirectory("/session/" + id + "/message", clients),
                   {{"parts", QJsonArray{QJsonObject{{"type", "text"},
                                                     {"text", "Open the return status page and tell me what it says."}}}}},
                   180);
    ASSERT_EQ(answered.status, 200) << answered.error.toStdString() << answered.body.left(2000).toStdString()
                                    << engineLogTail(home.path());

    // The model was offered the browser tool and answered the call.
    const QList<QJsonObject> turns = model.completions();
    ASSERT_FALSE(turns.isEmpty()) << "the engine never asked the model";
    bool offered = false;
    for (const QJsonObject &t : turns)
        offered = offered || toolNames(t).contains("browser_browser_open");
    EXPECT_TRUE(offered) << "tools offered: " << toolNames(turns.last()).join(',').toStdString();

    // The call reached Velto and the browser pane opened the fixture.
    EXPECT_TRUE(fixture.waitForRequests(1, 10000));
    EXPECT_FALSE(fixture.requestsTo("/page").isEmpty()) << "the browser pane never loaded the page";

    // The engine recorded the tool's output (the page text) in the session.
    const Http::Response messages = engineCall(*engine, "GET", withDirectory("/session/" + id + "/message", clients));
    ASSERT_EQ(messages.status, 200);
    QString output, status, finalText;
    for (const QJsonValue &m : QJsonDocument::fromJson(messages.body).array()) {
        for (const QJsonValue &p : m.toObject().value("parts").toArray()) {
            const QJsonObject part = p.toObject();
            if (part.value("type").toString() == "tool" && part.value("tool").toString().endsWith("browser_open")) {
                status = part.value("state").toObject().value("status").toString();
                output = part.value("state").toObject().value("output").toString();
            }
            if (part.value("type").toString() == "text")
                finalText = part.value("text").toString();
        }
    }
    EXPECT_EQ(status, "completed") << messages.body.left(4000).toStdString();
    EXPECT_TRUE(output.contains(PAGE_TEXT)) << output.toStdString();
    EXPECT_TRUE(output.contains("Opened " + pageUrl)) << output.toStdString();
    // The model's second turn saw the result and closed the loop.
    EXPECT_TRUE(finalText.contains(PAGE_TEXT)) << finalText.toStdString();

    // The tool server connection came through the turn healthy.
    mcp = QJsonDocument::fromJson(engineCall(*engine, "GET", withDirectory("/mcp", clients)).body).object();
    EXPECT_EQ(mcp.value("browser").toObject().value("status").toString(), "connected")
        << QJsonDocument(mcp).toJson().toStdString();

    // SIGTERM: velto quits through its normal path and stops the engine.
    app->signal(SIGTERM);
    ASSERT_TRUE(app->waitForExit(30000));
    EXPECT_EQ(app->exitCode(), 0);
    EXPECT_TRUE(waitFor([&] { return !QFile::exists(QStringLiteral("/proc/%1").arg(engine->pid)); }, 30000))
        << "the engine outlived velto";
}

TEST(WholeLoop, TheCaTypesAQuestionIntoTheChatPageAndReadsTheAnswer)
{
    ScopedTimeScale realTime(1);
    TestKit::TempHome home;
    ScopedEnv env;
    const QMap<QString, QString> offline = offlineEnvironment();
    for (auto it = offline.begin(); it != offline.end(); ++it)
        env.set(it.key(), it.value());
    env.unset("VELTO_THEME");

    const QString velto = home.file(".velto");
    QString why;
    ASSERT_TRUE(installEngine(velto + "/bin", &why)) << why.toStdString();
    StandinCloud cloud(home, signedInCloudReplies());
    ASSERT_TRUE(cloud.running());
    home.refill({{"VELTO_API", cloud.baseUrl()}});

    TestKit::FakeHttpServer fixture;
    servePortalPage(fixture);
    ModelStandin model(home, fixture.baseUrl() + "/page", QStringLiteral("browser_browser_open"));
    ASSERT_TRUE(model.running());

    home.write(".velto/hallix/opencode.json", QJsonDocument(engineConfig(model.baseUrl())).toJson());
    home.write(".velto/seat.env", "PAVI_SEAT_TOKEN=seat-token\nPAVI_SEAT_EMAIL=ca@test.example\n");
    const QString clients = home.file("Clients");
    // A client whose folder is a git repository of its own: a project of its
    // own to the engine.
    const QString acme = clients + "/Acme Traders";
    QDir().mkpath(acme);
    QProcess git;
    git.setWorkingDirectory(acme);
    git.start("git", {"-c", "user.email=ca@test.example", "-c", "user.name=CA", "-c", "init.defaultBranch=main",
                      "init", "-q"});
    ASSERT_TRUE(git.waitForFinished(20000) && git.exitCode() == 0);
    git.start("git", {"-c", "user.email=ca@test.example", "-c", "user.name=CA", "commit", "-q", "--allow-empty",
                      "-m", "books"});
    ASSERT_TRUE(git.waitForFinished(20000) && git.exitCode() == 0);
    home.write(".velto/velto.env", "VELTO_WORK=" + clients.toUtf8() + "\n");

    AppDelegate::terminate = [] {};
    AppDelegate::chatProfile = [] { return TestKit::webProfile(); };
    auto app = std::make_unique<AppDelegate>();
    // Destroyed before the app: the picture shows the window as it was.
    PictureOnFailure picture([&] { return app.get(); });
    app->applicationDidFinishLaunching();
    WebView *chat = app->chat();

    // Start-up opens a session made in the clients folder at its own page.
    ASSERT_TRUE(waitFor([&] { return app->chat()->url().path().contains("/session/ses_"); }, 120000))
        << "the chat view never opened a session: " << chat->url().toString().toStdString()
        << engineLogTail(home.path());
    const QString path = chat->url().path();
    EXPECT_TRUE(path.startsWith("/" + slug(clients) + "/session/")) << path.toStdString();
    const QString sessionId = path.section('/', -1);
    ASSERT_TRUE(waitFor([&] { return app->splash()->isHidden(); }, 30000));

    // The message box is there and drawn.
    QJsonObject box;
    ASSERT_TRUE(waitFor(
        [&] {
            box = QJsonDocument::fromJson(pageValue(chat, kMessageBox).toUtf8()).object();
            return box.value("visible").toBool();
        },
        60000))
        << "no visible message box: " << QJsonDocument(box).toJson().toStdString()
        << pageValue(chat, "document.body ? document.body.innerText.slice(0, 2000) : ''").toStdString();
    EXPECT_GT(box.value("h").toDouble(), 0);

    // The page found the engine's own interface: no error toast.
    EXPECT_FALSE(pageValue(chat, "document.documentElement.outerHTML").contains("UnsupportedContentType"));

    // The page's background is the theme's.
    const auto background = [&] { return pageValue(chat, "getComputedStyle(document.body).backgroundColor"); };
    const bool dark = Theme::isDark();
    EXPECT_EQ(background(), cssColor(Theme::bg2()));

    // The CA clicks into the box and types; Enter sends.
    app->showChat();
    chat->setFocus();
    chat->clickAt(QPoint(int(box.value("x").toDouble()), int(box.value("y").toDouble())));
    QWidget *keys = chat->focusProxy() ? chat->focusProxy() : chat;
    ASSERT_TRUE(waitFor([&] { return pageValue(chat, "document.activeElement && document.activeElement.isContentEditable ? 'yes' : (document.activeElement && document.activeElement.tagName === 'TEXTAREA' ? 'yes' : '')") == "yes"; }, 10000))
        << "the message box did not take the focus";
    const QString question = QStringLiteral("Open the return status page and tell me what it says.");
    QTest::keyClicks(keys, question);
    ASSERT_TRUE(waitFor([&] { return pageValue(chat, "document.activeElement ? (document.activeElement.innerText || document.activeElement.value || '') : ''").contains(question); }, 10000))
        << "typed text did not reach the box";
    QTest::keyClick(keys, Qt::Key_Return);

    // The page reports the agent at work, then done; the answer shows on the
    // page and quotes the page the model read through the browser tool.
    EXPECT_TRUE(waitFor([&] { return app->barOrb()->busy(); }, 60000)) << "the page never said it was working";
    // The tool call brings the browser pane forward over the chat; the CA
    // comes back to the chat once the portal page has opened there (a
    // hidden chat page is held back by the web view).
    ASSERT_TRUE(waitFor([&] { return !fixture.requestsTo("/page").isEmpty(); }, 180000))
        << "the browser pane never loaded the page" << engineLogTail(home.path());
    app->showChat();
    const auto pageText = [&] { return pageValue(chat, "document.body ? document.body.innerText : ''"); };
    ASSERT_TRUE(waitFor([&] { return pageText().contains("The page says:") && pageText().contains(PAGE_TEXT); },
                        180000))
        << pageText().right(2000).toStdString() << engineLogTail(home.path());
    EXPECT_TRUE(waitFor([&] { return !app->barOrb()->busy(); }, 60000)) << "the page never said it was done";
    EXPECT_FALSE(fixture.requestsTo("/page").isEmpty()) << "the browser pane never loaded the page";
    EXPECT_FALSE(pageText().contains("UnsupportedContentType"));

    // The session the CA typed into works in the clients folder.
    std::optional<QList<SessionRow>> rows;
    EngineApi::listSessions(app->engine().port(), clients, [&](const QList<SessionRow> &r) { rows = r; });
    ASSERT_TRUE(waitFor([&] { return rows.has_value(); }, 20000));
    const auto typed = std::find_if(rows->cbegin(), rows->cend(), [&](const SessionRow &r) { return r.id == sessionId; });
    ASSERT_NE(typed, rows->cend());
    EXPECT_EQ(typed->directory, clients);

    // A session in the client's own repository shows in the sidebar too.
    std::optional<QString> acmeSession;
    EngineApi::newSession(app->engine().port(), acme, 15, [&](const std::optional<QString> &id, const Http::Response &) {
        acmeSession = id.value_or(QString());
    });
    ASSERT_TRUE(waitFor([&] { return acmeSession.has_value(); }, 20000));
    ASSERT_FALSE(acmeSession->isEmpty());
    bool refreshed = false;
    app->sidebar()->refreshSessions(app->engine().port(), [&] { refreshed = true; });
    ASSERT_TRUE(waitFor([&] { return refreshed; }, 20000));
    QStringList listedIds;
    for (const SessionRow &r : app->sidebar()->sessions())
        listedIds << r.id + " " + r.directory;
    EXPECT_TRUE(listedIds.contains(*acmeSession + " " + acme)) << listedIds.join('\n').toStdString();
    EXPECT_TRUE(listedIds.contains(sessionId + " " + clients)) << listedIds.join('\n').toStdString();
    const QList<SessionRow> &listed = app->sidebar()->sessions();
    const qsizetype acmeAt = std::find_if(listed.cbegin(), listed.cend(),
                                          [&](const SessionRow &r) { return r.id == *acmeSession; }) - listed.cbegin();
    int shown = 0;
    for (HoverRow *row : app->sidebar()->rows())
        shown += acmeAt < listed.size() && row->tag() == acmeAt && row->label() == listed.at(acmeAt).title;
    EXPECT_EQ(shown, 1) << "the repository's session is not listed";

    // The other theme: the page follows without a reload.
    app->switchTheme(dark ? "light" : "dark");
    ASSERT_TRUE(waitFor([&] { return !app->themeSwitching(); }, 20000));
    const QColor other = Theme::tokens(!dark, [] { return Theme::bg2(); });
    EXPECT_TRUE(waitFor([&] { return background() == cssColor(other); }, 10000)) << background().toStdString();
    EXPECT_TRUE(pageText().contains(PAGE_TEXT)) << "the page was reloaded";

    app->applicationWillTerminate();
    AppDelegate::terminate = nullptr;
    AppDelegate::chatProfile = nullptr;
}
