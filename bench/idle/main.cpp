// What velto costs while it sits idle at the chat page: the CPU time it takes
// per second of wall time, once it has settled. Each run launches the built
// velto program in an X display of its own (Xvfb) with software GL, the worst
// case of a desktop without a GPU, signed in with its clients folder chosen,
// on the stand-in engine and cloud, in a fresh throwaway home. It waits for
// the engine's chat page to be asked for, lets the app settle, then reads the
// CPU time (user + system, from /proc) of
//
//   - the app's process (all its threads; its main thread printed beside),
//   - its web helper processes (every process below it but the engine),
//
// over the measuring window, once with animations and once with reduced
// motion (VELTO_REDUCE_MOTION). Prints CPU-seconds per second against the
// aims: at most 0.05 with animations, at most 0.01 with reduced motion.
//
//   idle [--settle S] [--seconds S] [--theme light|dark] [--runs N]
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
#include <map>
#include <optional>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

double nowMs() { return double(QDateTime::currentMSecsSinceEpoch()); }

bool waitFor(const std::function<bool()> &done, int ms)
{
    const double until = nowMs() + ms;
    while (nowMs() < until) {
        if (done())
            return true;
        QThread::msleep(20);
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

void dieWithParent() { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }

// The engine's chat page: /<folder key>/session or /<folder key>/session/<id>.
bool chatPageAsked(const QString &log)
{
    static const QRegularExpression page(QStringLiteral("^/[^/]+/session(/[^/]+)?/?$"));
    for (const QByteArray &line : readFile(log).split('\n')) {
        const QJsonObject e = QJsonDocument::fromJson(line).object();
        const QString path = e.value(QStringLiteral("path")).toString();
        if (e.value(QStringLiteral("event")).toString() == QLatin1String("request") &&
            e.value(QStringLiteral("method")).toString() == QLatin1String("GET") && page.match(path).hasMatch() &&
            !path.startsWith(QLatin1String("/session/")))
            return true;
    }
    return false;
}

// The fields of /proc/<...>/stat after the command name (which may hold
// spaces): field 3 of the file is index 0 here.
QList<QByteArray> statFields(const QString &path)
{
    const QByteArray stat = readFile(path);
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    return stat.mid(close + 2).split(' ');
}

// User + system CPU seconds of a process (all threads) or of one thread.
double cpuSeconds(const QString &statPath)
{
    const QList<QByteArray> f = statFields(statPath);
    if (f.size() < 13)
        return 0;
    return (f[11].toDouble() + f[12].toDouble()) / double(::sysconf(_SC_CLK_TCK));
}

std::vector<qint64> descendants(qint64 pid)
{
    std::vector<std::pair<qint64, qint64>> parentOf;
    for (const QString &name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint64 p = name.toLongLong(&ok);
        if (!ok)
            continue;
        const QList<QByteArray> f = statFields(QStringLiteral("/proc/%1/stat").arg(p));
        if (f.size() > 1)
            parentOf.emplace_back(p, f.at(1).toLongLong());
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

// An X display of our own, for as long as the object lives.
class Display {
public:
    bool start()
    {
        for (int n = 91; n < 160; ++n) {
            if (QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)) ||
                QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
                continue;
            xvfb_.setProgram(QStringLiteral("Xvfb"));
            xvfb_.setArguments({QStringLiteral(":%1").arg(n), "-screen", "0", "1920x1200x24", "-nolisten", "tcp"});
            xvfb_.setStandardOutputFile(QProcess::nullDevice());
            xvfb_.setStandardErrorFile(QProcess::nullDevice());
            xvfb_.setChildProcessModifier(dieWithParent);
            xvfb_.start();
            if (!xvfb_.waitForStarted(5000))
                return false;
            if (waitFor([&] { return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
                                     xvfb_.state() != QProcess::Running; },
                        10000) &&
                xvfb_.state() == QProcess::Running) {
                name = QStringLiteral(":%1").arg(n);
                return true;
            }
            xvfb_.waitForFinished(2000);
        }
        return false;
    }
    ~Display()
    {
        if (xvfb_.state() == QProcess::Running) {
            xvfb_.terminate();
            if (!xvfb_.waitForFinished(5000))
                xvfb_.kill();
        }
    }
    QString name;

private:
    QProcess xvfb_;
};

struct Run {
    double app = 0;     // CPU-s per s, the app's process
    double main = 0;    // of that, its main thread
    double helpers = 0; // CPU-s per s, its web helpers together
    int helperCount = 0;
};

std::optional<Run> runOnce(const QString &cloudUrl, const QString &display, bool reduced, const QString &theme,
                           int settle, int seconds)
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
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("LIBGL_ALWAYS_SOFTWARE", "1");
    env.insert("VELTO_REDUCE_MOTION", reduced ? "1" : "0");
    env.insert("VELTO_THEME", theme);
    env.remove("WAYLAND_DISPLAY");
    if (::geteuid() == 0 && !env.contains("QTWEBENGINE_DISABLE_SANDBOX"))
        env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");

    QProcess app;
    app.setProgram(QStringLiteral(VELTO_APP));
    app.setProcessEnvironment(env);
    app.setWorkingDirectory(h);
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.setStandardOutputFile(appLog);
    app.setChildProcessModifier(dieWithParent);
    app.start();
    if (!app.waitForStarted(10000)) {
        std::fprintf(stderr, "idle: velto did not start\n");
        return std::nullopt;
    }
    std::optional<Run> run;
    if (waitFor([&] { return chatPageAsked(engineLog) || app.state() != QProcess::Running; }, 90000) &&
        app.state() == QProcess::Running) {
        QThread::sleep(unsigned(settle));
        const qint64 pid = app.processId();
        const QString engine = QFileInfo(QStringLiteral(VELTO_STANDIN_ENGINE)).canonicalFilePath();
        auto helpers = [&] {
            std::map<qint64, double> out;
            for (qint64 child : descendants(pid))
                if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(child)).canonicalFilePath() != engine)
                    out[child] = cpuSeconds(QStringLiteral("/proc/%1/stat").arg(child));
            return out;
        };
        const QString appStat = QStringLiteral("/proc/%1/stat").arg(pid);
        const QString mainStat = QStringLiteral("/proc/%1/task/%1/stat").arg(pid);
        const double app0 = cpuSeconds(appStat), main0 = cpuSeconds(mainStat);
        const std::map<qint64, double> helpers0 = helpers();
        const double start = nowMs();
        QThread::sleep(unsigned(seconds));
        const double wall = (nowMs() - start) / 1000.0;
        const double app1 = cpuSeconds(appStat), main1 = cpuSeconds(mainStat);
        // A helper that came during the window counts from nothing; one that
        // went is lost, as its time can no longer be read.
        double helperCpu = 0;
        const std::map<qint64, double> helpers1 = helpers();
        for (const auto &[p, c] : helpers1) {
            const auto before = helpers0.find(p);
            helperCpu += c - (before == helpers0.end() ? 0 : before->second);
        }
        if (app.state() == QProcess::Running) {
            Run r;
            r.app = (app1 - app0) / wall;
            r.main = (main1 - main0) / wall;
            r.helpers = helperCpu / wall;
            r.helperCount = int(helpers1.size());
            run = r;
        }
    }
    if (!run)
        std::fprintf(stderr, "idle: velto did not reach the chat page and stay there; its output:\n%s\n",
                     readFile(appLog).right(4000).constData());

    if (app.state() == QProcess::Running) {
        ::kill(pid_t(app.processId()), SIGTERM);
        if (!app.waitForFinished(30000)) {
            std::fprintf(stderr, "idle: velto did not quit on SIGTERM; killed\n");
            app.kill();
            app.waitForFinished(5000);
        }
    }
    return run;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication qapp(argc, argv);
    int settle = 15, seconds = 30, runs = 1;
    QString theme = QStringLiteral("light");
    const QStringList args = qapp.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--settle" && i + 1 < args.size())
            settle = std::max(0, args[++i].toInt());
        else if (args[i] == "--seconds" && i + 1 < args.size())
            seconds = std::max(1, args[++i].toInt());
        else if (args[i] == "--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == "--theme" && i + 1 < args.size() && (args[i + 1] == "light" || args[i + 1] == "dark"))
            theme = args[++i];
        else {
            std::fprintf(stderr, "usage: idle [--settle S] [--seconds S] [--theme light|dark] [--runs N]\n");
            return 2;
        }
    }

    Display display;
    if (!display.start()) {
        std::fprintf(stderr, "idle: no X display (Xvfb) could be started\n");
        return 1;
    }

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
        std::fprintf(stderr, "idle: the stand-in cloud did not start\n");
        return 1;
    }
    const QString cloudUrl = QStringLiteral("http://127.0.0.1:%1").arg(port);

    std::printf("idle: %d CPUs, X display %s (Xvfb, software GL), %s theme, %d s to settle, %d s measured, "
                "%d run(s) each\n",
                QThread::idealThreadCount(), qPrintable(display.name), qPrintable(theme), settle, seconds, runs);
    std::fflush(stdout);
    int code = 0;
    for (const bool reduced : {false, true}) {
        std::vector<double> app, main, helpers;
        for (int i = 0; i < runs; ++i) {
            const std::optional<Run> r = runOnce(cloudUrl, display.name, reduced, theme, settle, seconds);
            if (!r) {
                code = 1;
                break;
            }
            app.push_back(r->app);
            main.push_back(r->main);
            helpers.push_back(r->helpers);
            std::printf("  %-18s run %d: app %.4f (main thread %.4f), web helpers %.4f (%d processes)\n",
                        reduced ? "reduced motion" : "with animations", i + 1, r->app, r->main, r->helpers,
                        r->helperCount);
            std::fflush(stdout);
        }
        if (app.empty())
            continue;
        const double aim = reduced ? 0.01 : 0.05;
        const double a = median(app);
        std::printf("%-18s app %.4f CPU-s/s (aim <= %.2f: %s), main thread %.4f, web helpers %.4f\n",
                    reduced ? "reduced motion:" : "with animations:", a, aim, a <= aim ? "met" : "missed",
                    median(main), median(helpers));
        std::fflush(stdout);
    }
    cloud.terminate();
    cloud.waitForFinished(5000);
    return code;
}
