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
#include "../common/AppLaunch.h"

#include <QCoreApplication>

using namespace AppLaunch;

namespace {

// VmRSS of one process in KB, 0 when it is gone.
long rssKb(qint64 pid)
{
    for (const QByteArray &line : readFile(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

struct Run {
    double engineMs = 0; // launch to the engine listening
    double chatMs = 0;   // launch to the chat page request
    double appMb = 0;    // the app's VmRSS once idle
    double allMb = 0;    // the app and its web helpers, summed
};

void report(const char *what, const char *unit, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    std::printf("  %-34s median %7.1f %s (min %.1f, max %.1f)\n", what, median(v), unit, v.front(), v.back());
}

// One launch of the app into a fresh home; nothing on failure.
std::optional<Run> runOnce(const QString &cloudUrl, int idleSeconds)
{
    App app("startup");
    if (!app.start(cloudUrl, QProcessEnvironment()))
        return std::nullopt;
    const std::optional<double> chatAt = app.waitForChatPage(60000);
    if (!chatAt) {
        app.tellFailure("the engine's chat page was never requested");
        return std::nullopt;
    }
    Run r;
    r.chatMs = *chatAt - app.launchedAt();
    const auto listening = firstAt(app.engineLog(), [](const QJsonObject &e) {
        return e.value(QStringLiteral("event")).toString() == QLatin1String("listening");
    });
    r.engineMs = listening ? *listening - app.launchedAt() : 0;
    // Idle: a few seconds after the chat page was asked for.
    const double idleAt = *chatAt + idleSeconds * 1000.0;
    while (nowMs() < idleAt)
        QThread::msleep(20);
    long appKb = rssKb(app.pid()), allKb = appKb;
    for (qint64 child : webHelpers(app.pid()))
        allKb += rssKb(child);
    r.appMb = appKb / 1024.0;
    r.allMb = allKb / 1024.0;
    return r;
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
    Cloud cloud;
    const QString cloudUrl = cloud.start();
    if (cloudUrl.isEmpty()) {
        std::fprintf(stderr, "startup: the stand-in cloud did not start\n");
        return 1;
    }

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
                    qPrintable(loadAverage()));
        report("idle RSS, app", "MB", appMb);
        report("idle RSS, app + web helpers", "MB", allMb);
    }
    return code;
}
