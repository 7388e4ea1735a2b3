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
#include "../common/AppLaunch.h"

#include <QCoreApplication>
#include <map>

using namespace AppLaunch;

namespace {

// User + system CPU seconds of a process (all threads) or of one thread.
double cpuSeconds(const QString &statPath)
{
    const QList<QByteArray> f = statFields(statPath);
    if (f.size() < 13)
        return 0;
    return (f[11].toDouble() + f[12].toDouble()) / double(::sysconf(_SC_CLK_TCK));
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
    QProcessEnvironment extra;
    extra.insert("DISPLAY", display);
    extra.insert("QT_QPA_PLATFORM", "xcb");
    extra.insert("LIBGL_ALWAYS_SOFTWARE", "1");
    extra.insert("VELTO_REDUCE_MOTION", reduced ? "1" : "0");
    extra.insert("VELTO_THEME", theme);
    App app("idle");
    if (!app.start(cloudUrl, extra))
        return std::nullopt;
    if (!app.waitForChatPage(90000) || !app.running()) {
        app.tellFailure("velto did not reach the chat page");
        return std::nullopt;
    }
    QThread::sleep(unsigned(settle));
    const qint64 pid = app.pid();
    auto helpers = [&] {
        std::map<qint64, double> out;
        for (qint64 child : webHelpers(pid))
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
    if (!app.running()) {
        app.tellFailure("velto did not stay at the chat page");
        return std::nullopt;
    }
    Run r;
    r.app = (app1 - app0) / wall;
    r.main = (main1 - main0) / wall;
    r.helpers = helperCpu / wall;
    r.helperCount = int(helpers1.size());
    return r;
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

    Cloud cloud;
    const QString cloudUrl = cloud.start();
    if (cloudUrl.isEmpty()) {
        std::fprintf(stderr, "idle: the stand-in cloud did not start\n");
        return 1;
    }

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
    return code;
}
