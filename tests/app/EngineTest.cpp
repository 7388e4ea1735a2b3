#include "AppTestKit.h"
#include "app/Engine.h"
#include "app/EngineApi.h"
#include "core/Globals.h"
#include "core/OcConfig.h"
#include "platform/Files.h"
#include "platform/Http.h"

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <csignal>

using namespace AppTestKit;
using TestKit::HomeTest;
using TestKit::waitFor;

namespace {


class EngineTest : public HomeTest {
protected:
    ScopedEnv env;
    QString log;
    QString work;
    std::unique_ptr<Engine> engine;

    void SetUp() override
    {
        HomeTest::SetUp();
        for (const char *v : {"VELTO_STANDIN_DELAY_MS", "VELTO_STANDIN_HANG", "VELTO_STANDIN_EXIT",
                              "VELTO_STANDIN_SESSIONS", "ANTHROPIC_API_KEY"})
            env.unset(v);
        log = home->file("engine.log");
        env.set("VELTO_STANDIN_LOG", log);
        work = home->file("Clients");
        QDir().mkpath(work);
        installEngine();
        engine = std::make_unique<Engine>();
    }
    void TearDown() override
    {
        if (engine)
            engine->stop();
        engine.reset();
        HomeTest::TearDown();
    }

    void installEngine()
    {
        QDir().mkpath(QFileInfo(ENGINE).absolutePath());
        QFile::remove(ENGINE);
        ASSERT_TRUE(QFile::link(standinEngine(), ENGINE));
    }

    // The engine's start record: its arguments, folder and environment.
    QJsonObject started(int n = 1)
    {
        EXPECT_TRUE(waitForEvents(log, "start", n));
        return events(log, "start").value(n - 1);
    }

    // Waits for the readiness answer; absent when none came.
    std::optional<bool> ready(double timeout, int ms = 10000)
    {
        std::optional<bool> answer;
        int calls = 0;
        engine->waitReady(timeout, [&](bool ok) {
            answer = ok;
            ++calls;
        });
        waitFor([&] { return answer.has_value(); }, ms);
        TestKit::spin(30);
        EXPECT_LE(calls, 1);
        return answer;
    }
};

TEST_F(EngineTest, LaunchesWithTheArgumentsFolderAndEnvironment)
{
    home->write(".velto/keys.env", "ANTHROPIC_API_KEY=sk-demo-key\n");
    env.set("VELTO_TEST_INHERITED", "kept");
    env.set("PATH", "/usr/bin:/bin");

    ASSERT_TRUE(engine->start(work, "seat-token-1"));
    ASSERT_TRUE(engine->proc());
    EXPECT_GT(engine->port(), 1024);

    const QJsonObject s = started();
    EXPECT_EQ(s.value("args").toArray(),
              QJsonArray({"serve", "--port", QString::number(engine->port()), "--hostname", "127.0.0.1"}));
    EXPECT_EQ(s.value("cwd").toString(), work);
    EXPECT_EQ(qint64(s.value("pid").toDouble()), engine->proc()->pid());

    const QJsonObject e = s.value("env").toObject();
    const QString demo = home->path();
    const std::vector<std::pair<const char *, QString>> table = {
        {"VELTO_HOME", demo + "/.velto"},
        {"VELTO_WORK", work},
        {"PAVI_SEAT_TOKEN", "seat-token-1"},
        {"OPENCODE_CONFIG_DIR", demo + "/.velto/hallix"},
        {"OPENCODE_DISABLE_CLAUDE_CODE", "1"},
        {"OPENCODE_DISABLE_EXTERNAL_SKILLS", "1"},
        {"OPENCODE_CONFIG", demo + "/.velto/hallix/opencode.json"},
        {"OPENCODE_CLIENT", "velto-app"},
        {"OPENCODE_SERVER_PASSWORD", "(set)"}, // the stand-in logs no secret
        {"HOME", demo},
        {"XDG_DATA_HOME", demo + "/.local/share"},
        {"XDG_CONFIG_HOME", demo + "/.config"},
        {"XDG_STATE_HOME", demo + "/.local/state"},
        {"XDG_CACHE_HOME", demo + "/.cache"},
        {"ANTHROPIC_API_KEY", "sk-demo-key"},
        {"PATH", "/opt/homebrew/bin:/usr/local/bin:" + demo + "/.velto/bin:/usr/bin:/bin"},
        {"VELTO_TEST_INHERITED", "kept"},
    };
    for (const auto &[name, value] : table)
        EXPECT_EQ(e.value(name).toString(), value) << name;
}

TEST_F(EngineTest, EnvironmentOutsideDemoModeAndWithoutKeyOrPath)
{
    // Outside demo mode the home is the user's own: point it at the throwaway one.
    const QString userHome = home->file("user");
    QDir().mkpath(userHome + "/Clients");
    env.unset("VELTO_DEMO_HOME");
    env.set("HOME", userHome);
    env.set("XDG_DATA_HOME", "/inherited/data");
    initGlobals();
    ASSERT_FALSE(DEMO_HOME);
    installEngine();

    struct Case {
        const char *name;
        std::optional<QByteArray> keysFile;
        std::optional<QString> inheritedKey;
        std::optional<QString> path;
        std::optional<QString> wantKey;
        QString wantPathTail;
    };
    const std::vector<Case> cases = {
        {"empty key keeps the inherited one", QByteArray("ANTHROPIC_API_KEY=\n"), QString("inherited"),
         std::nullopt, QString("inherited"), "/usr/bin:/bin:/usr/sbin:/sbin"},
        {"no keys file, nothing inherited", std::nullopt, std::nullopt, QString(""), std::nullopt, ""},
        {"the file wins", QByteArray("ANTHROPIC_API_KEY=\"sk-file\"\n"), QString("inherited"), QString("/x"),
         QString("sk-file"), "/x"},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(KEYS_ENV);
        if (c.keysFile)
            home->write("user/.velto/keys.env", *c.keysFile);
        if (c.inheritedKey)
            env.set("ANTHROPIC_API_KEY", *c.inheritedKey);
        else
            env.unset("ANTHROPIC_API_KEY");
        if (c.path)
            env.set("PATH", *c.path);
        else
            env.unset("PATH");

        ASSERT_TRUE(engine->start(userHome + "/Clients", "t"));
        const QJsonObject e = started(++n).value("env").toObject();
        EXPECT_EQ(e.value("HOME").toString(), userHome);
        EXPECT_EQ(e.value("XDG_DATA_HOME").toString(), "/inherited/data");
        EXPECT_FALSE(e.contains("XDG_CACHE_HOME"));
        EXPECT_EQ(e.value("VELTO_HOME").toString(), userHome + "/.velto");
        if (c.wantKey)
            EXPECT_EQ(e.value("ANTHROPIC_API_KEY").toString(), *c.wantKey);
        else
            EXPECT_FALSE(e.contains("ANTHROPIC_API_KEY"));
        EXPECT_EQ(e.value("PATH").toString(),
                  "/opt/homebrew/bin:/usr/local/bin:" + userHome + "/.velto/bin:" + c.wantPathTail);
    }
}

TEST_F(EngineTest, MissingEngineAnswersFalseWithoutCleanUp)
{
    std::vector<std::function<void()>> cleanups;
    Engine::runCleanup = [&](std::function<void()> job) { cleanups.push_back(std::move(job)); };
    QFile::remove(ENGINE);
    EXPECT_FALSE(engine->start(work, "t"));
    EXPECT_TRUE(cleanups.empty());
    EXPECT_EQ(engine->port(), 0);
    EXPECT_FALSE(engine->proc());

    // A file that is not executable is no engine either.
    home->write(".velto/bin/velto-engine", "#!/bin/sh\n");
    EXPECT_FALSE(engine->start(work, "t"));
    EXPECT_TRUE(cleanups.empty());

    // With the engine in place the orphan clean-up is handed off (it runs in
    // the background) and the engine starts without waiting for it.
    QFile::remove(ENGINE);
    installEngine();
    ASSERT_TRUE(engine->start(work, "t"));
    ASSERT_EQ(cleanups.size(), 1u);
    EXPECT_TRUE(engine->proc());
    Engine::runCleanup = nullptr;
}

// The clean-up reads the process table itself: an engine ("velto-engine
// serve" in its command line) whose parent is process 1 is ended; one with a
// living parent, other programs and unreadable entries are left alone.
TEST_F(EngineTest, CleanUpEndsOnlyOrphanedEngines)
{
    const QString root = home->file("proc");
    const auto entry = [&](const QString &pid, const QByteArray &cmdline, const QByteArray &stat) {
        if (!cmdline.isNull())
            home->write("proc/" + pid + "/cmdline", cmdline);
        if (!stat.isNull())
            home->write("proc/" + pid + "/stat", stat);
    };
    const QByteArray engineCmd = QByteArrayList{"/home/ca/.velto/bin/velto-engine", "serve", "--port", "4096", ""}.join('\0');
    entry("101", engineCmd, "101 (velto-engine) S 1 101 101 0");
    entry("102", engineCmd, "102 (velto-engine) S 77 102 102 0");   // its app still runs
    entry("103", QByteArrayList{"bash", "-c", "velto-engine", ""}.join('\0'), "103 (bash) S 1 103 103 0");
    entry("104", engineCmd, "104 (velto engine) (x) S 1 104 104 0"); // a name with spaces and brackets
    entry("105", engineCmd, QByteArray());                            // gone before its stat was read
    entry("self", engineCmd, "1 (velto-engine) S 1 1 1 0");
    home->write("proc/uptime", "1 1");
    EXPECT_EQ(Engine::orphans(root), (QList<qint64>{101, 104}));

    // start() hands the clean-up off; run, it ends those with SIGTERM's stand-in.
    std::function<void()> job;
    QList<qint64> ended;
    Engine::runCleanup = [&](std::function<void()> j) { job = std::move(j); };
    Engine::endOrphan = [&](qint64 pid) { ended << pid; };
    Engine::procRoot = root;
    ASSERT_TRUE(engine->start(work, "t"));
    ASSERT_TRUE(job);
    EXPECT_TRUE(ended.isEmpty());
    job();
    EXPECT_EQ(ended, (QList<qint64>{101, 104}));
    Engine::runCleanup = nullptr;
    Engine::endOrphan = nullptr;
    Engine::procRoot = QStringLiteral("/proc");
}

TEST_F(EngineTest, CleanUpSparesEnginesWithALivingParent)
{
    // The real clean-up command runs; our own engine has us as its parent.
    ASSERT_TRUE(engine->start(work, "t"));
    const qint64 first = engine->proc()->pid();
    Engine other;
    ASSERT_TRUE(other.start(work, "t"));
    EXPECT_TRUE(engine->proc()->isRunning());
    EXPECT_TRUE(alive(first));
    other.stop();
}

TEST_F(EngineTest, ReadyOnAnyHttpAnswer)
{
    ASSERT_TRUE(engine->start(work, "t"));
    // The locked stand-in answers the probe's bare "/" with 401, which still
    // means the engine is up.
    EXPECT_EQ(ready(1000), true);
    const auto requests = events(log, "request");
    ASSERT_FALSE(requests.isEmpty());
    EXPECT_EQ(requests.last().value("method").toString(), "GET");
    EXPECT_EQ(requests.last().value("path").toString(), "/");
    EXPECT_EQ(requests.last().value("authorized"), false);
}

TEST_F(EngineTest, EachLaunchLocksTheEngineWithAFreshSecretKeptOffDisk)
{
    // The status of GET /session on the engine's port with the given Authorization.
    const auto status = [&](const QByteArray &authorization) {
        Http::Request req;
        req.url = QUrl(QStringLiteral("http://127.0.0.1:%1/session").arg(engine->port()));
        if (!authorization.isNull())
            req.headers.append(Http::Header("Authorization", authorization));
        std::optional<int> answer;
        Http::request(req, [&](const Http::Response &r) { answer = r.status; });
        waitFor([&] { return answer.has_value(); });
        return answer.value_or(-1);
    };

    QStringList passwords;
    QByteArray lastHeader;
    for (int launch = 1; launch <= 2; ++launch) {
        SCOPED_TRACE(launch);
        ASSERT_TRUE(engine->start(work, "seat-token"));
        ASSERT_EQ(ready(1000), true);
        const QString password = engine->password();
        EXPECT_TRUE(QRegularExpression("^[0-9a-f]{32,}$").match(password).hasMatch()) << "at least 128 bits";
        EXPECT_FALSE(passwords.contains(password)) << "a new launch has a new password";
        passwords << password;

        // The engine's own environment holds exactly this password.
        QFile environ(QStringLiteral("/proc/%1/environ").arg(engine->proc()->pid()));
        ASSERT_TRUE(environ.open(QIODevice::ReadOnly));
        EXPECT_TRUE(environ.readAll().split('\0').contains("OPENCODE_SERVER_PASSWORD=" + password.toUtf8()));

        // The app's requests carry it; without it, or with the last launch's, the engine refuses.
        const QByteArray header = EngineApi::authorization(engine->port());
        EXPECT_EQ(header, "Basic " + ("opencode:" + password.toUtf8()).toBase64());
        EXPECT_EQ(EngineApi::authorization(engine->port() + 1), QByteArray()) << "no other port gets it";
        EXPECT_EQ(status(header), 200);
        EXPECT_EQ(status(QByteArray()), 401);
        if (!lastHeader.isEmpty()) {
            EXPECT_EQ(status(lastHeader), 401) << "the last launch's password opens nothing";
        }
        lastHeader = header;

        // No file under the home holds it, the engine's own log included.
        QDirIterator files(home->path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString file = files.next();
            const QByteArray text = TestKit::readFile(file);
            EXPECT_FALSE(text.contains(password.toUtf8())) << file.toStdString();
            EXPECT_FALSE(text.contains(header.mid(6))) << file.toStdString();
        }
    }
    const int port = engine->port();
    engine->stop();
    EXPECT_TRUE(engine->password().isEmpty());
    EXPECT_EQ(EngineApi::authorization(port), QByteArray()) << "a stopped engine's port gets no credentials";
}

TEST_F(EngineTest, NotReadyCases)
{
    struct Case {
        const char *name;
        const char *var;
        const char *value;
        double timeout;
        int maxMs;       // done must come within this
        bool wantProbes; // whether the engine saw readiness requests
    };
    const std::vector<Case> cases = {
        // The limit is 10 s here (scaled); an exit must end the wait long before.
        {"the process exits", "VELTO_STANDIN_EXIT", "3", 1000, 5000, false},
        // The default 60 s limit, shrunk by the time scale.
        {"never answers", "VELTO_STANDIN_HANG", "1", 60, 8000, true},
        // Every answer comes after the try's own time-out.
        {"answers too late", "VELTO_STANDIN_DELAY_MS", "2000", 60, 8000, true},
        {"a limit of zero", nullptr, nullptr, 0, 5000, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv local;
        if (c.var)
            local.set(c.var, c.value);
        QFile::remove(log);
        ASSERT_TRUE(engine->start(work, "t"));
        if (c.timeout <= 0)
            started(); // up and listening: still no request may be made
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(ready(c.timeout, c.maxMs), false);
        EXPECT_LT(clock.elapsed(), c.maxMs);
        if (std::string(c.name) == "never answers") {
            EXPECT_GE(clock.elapsed(), 550) << "the limit is 60 s scaled by 0.01";
        }
        EXPECT_EQ(!events(log, "request").isEmpty(), c.wantProbes);
        engine->stop();
    }
}

TEST_F(EngineTest, StopSendsSigterm)
{
    ASSERT_TRUE(engine->start(work, "t"));
    ASSERT_EQ(ready(1000), true);
    const qint64 pid = engine->proc()->pid();
    engine->stop();
    EXPECT_FALSE(engine->proc());
    ASSERT_TRUE(waitForEvents(log, "signal"));
    const QJsonObject sig = events(log, "signal").first();
    EXPECT_EQ(sig.value("signal").toString(), "TERM");
    EXPECT_EQ(qint64(sig.value("pid").toDouble()), pid);
    EXPECT_TRUE(waitFor([&] { return !alive(pid); }));
}

TEST_F(EngineTest, ALaterStartSupersedesTheEarlierOne)
{
    {
        ScopedEnv hang;
        hang.set("VELTO_STANDIN_HANG", "1");
        ASSERT_TRUE(engine->start(work, "t"));
    }
    const int firstPort = engine->port();
    const qint64 firstPid = engine->proc()->pid();
    int earlierCalls = 0;
    engine->waitReady(1000, [&](bool) { ++earlierCalls; });
    ASSERT_TRUE(waitForEvents(log, "request")); // the first wait is probing

    ASSERT_TRUE(engine->start(work, "t"));
    EXPECT_NE(engine->proc()->pid(), firstPid);
    EXPECT_NE(engine->port(), firstPort);
    ASSERT_TRUE(waitForEvents(log, "signal"));
    EXPECT_EQ(qint64(events(log, "signal").first().value("pid").toDouble()), firstPid);

    EXPECT_EQ(ready(1000), true);
    TestKit::spin(200);
    EXPECT_EQ(earlierCalls, 0) << "the earlier start's wait is ignored";
}

TEST_F(EngineTest, WireBrowserMcpKeepsOtherEntries)
{
    home->write(".velto/hallix/opencode.json",
                R"({"permission":{"websearch":"ask"},"mcp":{"tally":{"type":"local"},"browser":{"url":"old","extra":1}},"$schema":"x"})");
    Engine::wireBrowserMCP(41000, "first");
    Engine::wireBrowserMCP(42424, "tok-2");

    const QByteArray text = Files::readAll(OC_JSON).value_or(QByteArray());
    const QJsonObject root = QJsonDocument::fromJson(text).object();
    const QJsonObject mcp = root.value("mcp").toObject();
    EXPECT_EQ(mcp.value("tally").toObject(), QJsonObject({{"type", "local"}}));
    EXPECT_EQ(mcp.value("browser").toObject(),
              QJsonObject({{"type", "remote"},
                           {"url", "http://127.0.0.1:42424/mcp"},
                           {"enabled", true},
                           {"timeout", 60000},
                           {"headers", QJsonObject{{"Authorization", "Bearer tok-2"}}}}));
    EXPECT_EQ(root.value("permission").toObject().value("websearch").toString(), "ask");
    EXPECT_EQ(root.value("$schema").toString(), "x");
    EXPECT_TRUE(text.contains("\"timeout\": 60000"));
    EXPECT_LT(text.indexOf("\"enabled\""), text.indexOf("\"headers\""));
    EXPECT_LT(text.indexOf("\"headers\""), text.indexOf("\"timeout\""));

    // A non-object "mcp" is replaced.
    home->write(".velto/hallix/opencode.json", R"({"mcp":"off"})");
    Engine::wireBrowserMCP(1, "t");
    EXPECT_TRUE(OcConfig::read()->value("mcp").toObject().contains("browser"));

    // Nothing is created when the file is missing.
    QFile::remove(OC_JSON);
    Engine::wireBrowserMCP(1, "t");
    EXPECT_FALSE(QFile::exists(OC_JSON));
}

TEST_F(EngineTest, SigtermToTheAppTakesTheQuitPath)
{
    int quits = 0;
    Engine::onTerminateSignal = [&] { ++quits; };
    ASSERT_TRUE(engine->start(work, "t")); // installs the handler
    ::raise(SIGTERM);
    EXPECT_TRUE(waitFor([&] { return quits == 1; }));
    Engine::onTerminateSignal = nullptr;
}

TEST_F(EngineTest, EngineDiesWithTheApp)
{
    // A separate app hosts the engine; it dies without stopping it.
    const QString pidFile = home->file("engine.pid");
    Process::Spec spec;
    spec.program = QStringLiteral(VELTO_TEST_ENGINE_HOST);
    spec.args = {work, pidFile};
    spec.dieWithParent = true;
    auto app = Process::launch(spec);
    ASSERT_TRUE(app);
    ASSERT_TRUE(waitFor([&] { return QFile::exists(pidFile); }, 20000));
    const pid_t enginePid = pid_t(Files::readAll(pidFile)->toLongLong());
    ASSERT_GT(enginePid, 0);

    app->signal(SIGKILL);
    ASSERT_TRUE(waitFor([&] { return !app->isRunning(); }));
    ASSERT_TRUE(waitForEvents(log, "signal"));
    EXPECT_EQ(events(log, "signal").first().value("pid").toDouble(), double(enginePid));
    EXPECT_TRUE(waitFor([&] { return !alive(enginePid); }));
}

} // namespace
