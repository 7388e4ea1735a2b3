// How fast velto opens and how much memory it holds once open. Each run
// launches the built velto program, already signed in (a seat env file with a
// token) with its clients folder chosen (the work env file pointing at an
// existing folder), the stand-in engine installed as the engine and the
// stand-in cloud answering on loopback, offscreen, in a fresh throwaway home
// (so every run is a first launch with cold web caches). It measures:
//
//   - launch to the engine's first request for its chat page (the folder or
//     session page, not the API's /session list), from the stand-in engine's
//     request log, against the aim of 0.8 s (median, two CPUs); the split
//     before the engine listens (launch to listening) and after it
//     (listening to the page request) is printed beside it, and the
//     machine's load average with the figures;
//   - the app's resident memory (VmRSS) a few seconds after that request,
//     alone and summed with its web helper processes (the engine left out;
//     summed RSS counts shared pages more than once).
//
// Prints the median (and spread) over the runs.
//
//   startup [--runs N] [--idle S]
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

double nowMs() { return double(QDateTime::currentMSecsSinceEpoch()); }

// Polls until done() holds or ms have passed.
bool waitFor(const std::function<bool()> &done, int ms)
{
    const double until = nowMs() + ms;
    while (nowMs() < until) {
        if (done())
            return true;
        QThread::msleep(5);
    }
    return done();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The events of a stand-in's JSON-lines log.
QList<QJsonObject> readLog(const QString &path)
{
    QList<QJsonObject> out;
    for (const QByteArray &line : readFile(path).split('\n'))
        if (!line.trimmed().isEmpty())
            out.append(QJsonDocument::fromJson(line).object());
    return out;
}

// Children we start end with us, however we end.
void dieWithParent() { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }

// The chat page is /<folder key>/session or /<folder key>/session/<id>; the
// sidebar's session list is the API's /session, which does not count.
bool isChatPage(const QJsonObject &e)
{
    static const QRegularExpression page(QStringLiteral("^/[^/]+/session(/[^/]+)?/?$"));
    const QString path = e.value(QStringLiteral("path")).toString();
    return e.value(QStringLiteral("event")).toString() == QLatin1String("request")
        && e.value(QStringLiteral("method")).toString() == QLatin1String("GET") && page.match(path).hasMatch()
        && !path.startsWith(QLatin1String("/session/"));
}

std::optional<double> firstAt(const QString &log, const std::function<bool(const QJsonObject &)> &match)
{
    for (const QJsonObject &e : readLog(log))
        if (match(e))
            return e.value(QStringLiteral("at")).toDouble();
    return std::nullopt;
}

// VmRSS of one process in KB, 0 when it is gone.
long rssKb(qint64 pid)
{
    for (const QByteArray &line : readFile(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

// Every process below pid.
std::vector<qint64> descendants(qint64 pid)
{
    std::vector<std::pair<qint64, qint64>> parentOf; // (pid, ppid)
    for (const QString &name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint64 p = name.toLongLong(&ok);
        if (!ok)
            continue;
        // "pid (comm) state ppid ..."; comm may hold spaces, so read after its ')'.
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(p));
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() > 1)
            parentOf.emplace_back(p, fields.at(1).toLongLong());
    }
    std::vector<qint64> out{pid};
    for (size_t i = 0; i < out.size(); ++i)
        for (const auto &[p, pp] : parentOf)
            if (pp == out[i])
                out.push_back(p);
    out.erase(out.begin());
    return out;
}

QJsonObject cloudReplies()
{
    return QJsonObject{
        {"GET /cli/whoami",
         QJsonObject{{"body", QJsonObject{{"success", true},
                                          {"profile", QJsonObject{{"name", "Bench CA"}, {"firm", "Bench & Co"}}}}}}},
        {"GET /cli/harness", QJsonObject{{"body", QJsonObject{{"success", true}, {"items", QJsonArray{}}}}}},
        {"GET /cli/routines_due", QJsonObject{{"body", QJsonObject{{"success", true}, {"routines", QJsonArray{}}}}}},
    };
}

struct Run {
    double engineMs = 0; // launch to the engine listening
    double chatMs = 0;   // launch to the chat page request
    double appMb = 0;    // the app's VmRSS once idle
    double allMb = 0;    // the app and its web helpers, summed
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void report(const char *what, const char *unit, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    std::printf("  %-34s median %7.1f %s (min %.1f, max %.1f)\n", what, median(v), unit, v.front(), v.back());
}

// One launch of the app into a fresh home; nothing on failure.
std::optional<Run> runOnce(const QString &cloudUrl, int idleSeconds)
{
    QTemporaryDir home;
    if (!home.isValid())
        return std::nullopt;
    const QString h = home.path();
    const QString velto = h + "/.velto";
    QDir().mkpath(velto + "/bin");
    if (!QFile::link(QStringLiteral(VELTO_STANDIN_ENGINE), velto + "/bin/velto-engine"))
        return std::nullopt;
    const QString clients = h + "/Clients";
    QDir().mkpath(clients);
    writeFile(velto + "/hallix/opencode.json", "{}\n");
    writeFile(velto + "/seat.env", "PAVI_SEAT_TOKEN=seat-token\nPAVI_SEAT_EMAIL=ca@bench.example\n");
    writeFile(velto + "/velto.env", "VELTO_WORK=" + clients.toUtf8() + "\n");

    const QString engineLog = h + "/engine.log";
    const QString appLog = h + "/app.log";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELTO_DEMO_HOME", h);
    env.insert("VELTO_API", cloudUrl);
    env.insert("VELTO_STANDIN_LOG", engineLog);
    if (!env.contains("QT_QPA_PLATFORM"))
        env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("VELTO_THEME");
    // The web engine refuses to run as root inside its sandbox.
    if (::geteuid() == 0 && !env.contains("QTWEBENGINE_DISABLE_SANDBOX"))
        env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");

    QProcess app;
    app.setProgram(QStringLiteral(VELTO_APP));
    app.setProcessEnvironment(env);
    app.setWorkingDirectory(h);
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.setStandardOutputFile(appLog);
    app.setChildProcessModifier(dieWithParent);

    const double launched = nowMs();
    app.start();
    if (!app.waitForStarted(10000)) {
        std::fprintf(stderr, "startup: velto did not start\n");
        return std::nullopt;
    }
    std::optional<double> chatAt;
    waitFor([&] { return (chatAt = firstAt(engineLog, isChatPage)).has_value() || app.state() != QProcess::Running; },
            60000);
    std::optional<Run> run;
    if (chatAt) {
        Run r;
        r.chatMs = *chatAt - launched;
        const auto listening = firstAt(engineLog, [](const QJsonObject &e) {
            return e.value(QStringLiteral("event")).toString() == QLatin1String("listening");
        });
        r.engineMs = listening ? *listening - launched : 0;
        // Idle: a few seconds after the chat page was asked for.
        const double idleAt = *chatAt + idleSeconds * 1000.0;
        while (nowMs() < idleAt)
            QThread::msleep(20);
        const qint64 pid = app.processId();
        const QString engine = QFileInfo(QStringLiteral(VELTO_STANDIN_ENGINE)).canonicalFilePath();
        long appKb = rssKb(pid), allKb = appKb;
        for (qint64 child : descendants(pid))
            if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(child)).canonicalFilePath() != engine)
                allKb += rssKb(child);
        r.appMb = appKb / 1024.0;
        r.allMb = allKb / 1024.0;
        run = r;
    } else {
        std::fprintf(stderr, "startup: the engine's chat page was never requested; the app's output:\n%s\n",
                     readFile(appLog).right(4000).constData());
    }

    // Quit as a user would (SIGTERM takes the app's normal quit path and stops
    // the engine); kill it if it hangs.
    if (app.state() == QProcess::Running) {
        ::kill(pid_t(app.processId()), SIGTERM);
        if (!app.waitForFinished(30000)) {
            std::fprintf(stderr, "startup: velto did not quit on SIGTERM; killed\n");
            app.kill();
            app.waitForFinished(5000);
        }
    }
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication qapp(argc, argv);
    int runs = 7;
    int idle = 3;
    const QStringList args = qapp.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == "--idle" && i + 1 < args.size())
            idle = std::max(0, args[++i].toInt());
        else {
            std::fprintf(stderr, "usage: startup [--runs N] [--idle S]\n");
            return 2;
        }
    }

    // One stand-in cloud serves every run.
    QTemporaryDir cloudDir;
    const QString replies = cloudDir.filePath("replies.json");
    const QString portFile = cloudDir.filePath("cloud.port");
    writeFile(replies, QJsonDocument(cloudReplies()).toJson());
    QProcess cloud;
    cloud.setProgram(QStringLiteral(VELTO_STANDIN_CLOUD));
    cloud.setArguments({"--replies", replies, "--port-file", portFile, "--log", cloudDir.filePath("cloud.log")});
    cloud.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    cloud.setStandardOutputFile(QProcess::nullDevice());
    cloud.setChildProcessModifier(dieWithParent);
    cloud.start();
    int port = 0;
    if (cloud.waitForStarted(10000))
        waitFor([&] { return (port = QString::fromUtf8(readFile(portFile)).trimmed().toInt()) > 0; }, 10000);
    if (port <= 0) {
        std::fprintf(stderr, "startup: the stand-in cloud did not start\n");
        return 1;
    }
    const QString cloudUrl = QStringLiteral("http://127.0.0.1:%1").arg(port);

    std::vector<double> engine, after, chat, appMb, allMb;
    int code = 0;
    for (int i = 0; i < runs; ++i) {
        const std::optional<Run> r = runOnce(cloudUrl, idle);
        if (!r) {
            code = 1;
            break;
        }
        std::printf("run %d: chat page %.0f ms (engine listening %.0f ms), RSS %.1f MB app, %.1f MB with helpers\n",
                    i + 1, r->chatMs, r->engineMs, r->appMb, r->allMb);
        std::fflush(stdout);
        engine.push_back(r->engineMs);
        after.push_back(r->chatMs - r->engineMs);
        chat.push_back(r->chatMs);
        appMb.push_back(r->appMb);
        allMb.push_back(r->allMb);
    }

    cloud.terminate();
    cloud.waitForFinished(5000);

    if (!chat.empty()) {
        std::printf("startup: %d CPUs, %zu runs, QPA %s, RSS %d s after the chat page request\n",
                    QThread::idealThreadCount(), chat.size(),
                    qEnvironmentVariableIsSet("QT_QPA_PLATFORM") ? qgetenv("QT_QPA_PLATFORM").constData()
                                                                  : "offscreen",
                    idle);
        report("launch to engine listening", "ms", engine);
        report("engine listening to chat page", "ms", after);
        report("launch to chat page request", "ms", chat);
        const double aimMs = 800;
        std::printf("  aim: launch to chat page request <= %.0f ms median: %s (%.0f ms)\n", aimMs,
                    median(chat) <= aimMs ? "met" : "NOT met", median(chat));
        std::printf("  load average (1, 5, 15 min): %s\n",
                    readFile(QStringLiteral("/proc/loadavg")).split(' ').mid(0, 3).join(' ').constData());
        report("idle RSS, app", "MB", appMb);
        report("idle RSS, app + web helpers", "MB", allMb);
    }
    return code;
}
