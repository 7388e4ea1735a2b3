#pragma once
// What the benchmarks that launch the built velto program share: a fresh
// signed-in home on the stand-in engine, the stand-in cloud on loopback, the
// app's launch and quit, the stand-in engine's request log and /proc readings.
// The including benchmark defines VELTO_APP, VELTO_STANDIN_ENGINE and
// VELTO_STANDIN_CLOUD (the built programs' paths).
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

namespace AppLaunch {

inline double nowMs() { return double(QDateTime::currentMSecsSinceEpoch()); }

// Polls until done() holds or ms have passed.
inline bool waitFor(const std::function<bool()> &done, int ms, int stepMs = 5)
{
    const double until = nowMs() + ms;
    while (nowMs() < until) {
        if (done())
            return true;
        QThread::msleep(stepMs);
    }
    return done();
}

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Children we start end with us, however we end.
inline void dieWithParent() { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline QString loadAverage()
{
    return QString::fromLatin1(readFile(QStringLiteral("/proc/loadavg")).split(' ').mid(0, 3).join(' '));
}

// The events of a stand-in's JSON-lines log.
inline QList<QJsonObject> readLog(const QString &path)
{
    QList<QJsonObject> out;
    for (const QByteArray &line : readFile(path).split('\n'))
        if (!line.trimmed().isEmpty())
            out.append(QJsonDocument::fromJson(line).object());
    return out;
}

// The chat page is /<folder key>/session or /<folder key>/session/<id>; the
// sidebar's session list is the API's /session, which does not count.
inline bool isChatPage(const QJsonObject &e)
{
    static const QRegularExpression page(QStringLiteral("^/[^/]+/session(/[^/]+)?/?$"));
    const QString path = e.value(QStringLiteral("path")).toString();
    return e.value(QStringLiteral("event")).toString() == QLatin1String("request")
        && e.value(QStringLiteral("method")).toString() == QLatin1String("GET") && page.match(path).hasMatch()
        && !path.startsWith(QLatin1String("/session/"));
}

// When the first event that matches was logged (the stand-in's own clock, ms).
inline std::optional<double> firstAt(const QString &log, const std::function<bool(const QJsonObject &)> &match)
{
    for (const QJsonObject &e : readLog(log))
        if (match(e))
            return e.value(QStringLiteral("at")).toDouble();
    return std::nullopt;
}

// The fields of /proc/<...>/stat after the command name (which may hold
// spaces): field 3 of the file is index 0 here.
inline QList<QByteArray> statFields(const QString &path)
{
    const QByteArray stat = readFile(path);
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    return stat.mid(close + 2).split(' ');
}

// Every process below pid.
inline std::vector<qint64> descendants(qint64 pid)
{
    std::vector<std::pair<qint64, qint64>> parentOf; // (pid, ppid)
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

// The app's web helpers: every process below it but the engine.
inline std::vector<qint64> webHelpers(qint64 appPid)
{
    const QString engine = QFileInfo(QStringLiteral(VELTO_STANDIN_ENGINE)).canonicalFilePath();
    std::vector<qint64> out;
    for (qint64 child : descendants(appPid))
        if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(child)).canonicalFilePath() != engine)
            out.push_back(child);
    return out;
}

// The stand-in cloud, answering sign-in, the harness and routines, for as
// long as the object lives.
class Cloud {
public:
    // The cloud's base address, empty when it did not start.
    QString start()
    {
        const QString replies = dir_.filePath("replies.json");
        const QString portFile = dir_.filePath("cloud.port");
        const QJsonObject answers{
            {"GET /cli/whoami",
             QJsonObject{{"body", QJsonObject{{"success", true},
                                              {"profile", QJsonObject{{"name", "Bench CA"}, {"firm", "Bench & Co"}}}}}}},
            {"GET /cli/harness", QJsonObject{{"body", QJsonObject{{"success", true}, {"items", QJsonArray{}}}}}},
            {"GET /cli/routines_due",
             QJsonObject{{"body", QJsonObject{{"success", true}, {"routines", QJsonArray{}}}}}},
        };
        writeFile(replies, QJsonDocument(answers).toJson());
        cloud_.setProgram(QStringLiteral(VELTO_STANDIN_CLOUD));
        cloud_.setArguments({"--replies", replies, "--port-file", portFile, "--log", dir_.filePath("cloud.log")});
        cloud_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        cloud_.setStandardOutputFile(QProcess::nullDevice());
        cloud_.setChildProcessModifier(dieWithParent);
        cloud_.start();
        int port = 0;
        if (cloud_.waitForStarted(10000))
            waitFor([&] { return (port = QString::fromUtf8(readFile(portFile)).trimmed().toInt()) > 0; }, 10000);
        return port > 0 ? QStringLiteral("http://127.0.0.1:%1").arg(port) : QString();
    }
    ~Cloud()
    {
        cloud_.terminate();
        cloud_.waitForFinished(5000);
    }

private:
    QTemporaryDir dir_;
    QProcess cloud_;
};

// A throwaway home, signed in with its clients folder chosen and the stand-in
// engine installed, and the app launched into it with `extra` added to its
// environment. Quits the app as a user would when the object goes.
class App {
public:
    explicit App(const char *bench) : bench_(bench) {}

    bool start(const QString &cloudUrl, const QProcessEnvironment &extra)
    {
        if (!home_.isValid())
            return false;
        const QString h = home_.path();
        const QString velto = h + "/.velto";
        QDir().mkpath(velto + "/bin");
        if (!QFile::link(QStringLiteral(VELTO_STANDIN_ENGINE), velto + "/bin/velto-engine"))
            return false;
        const QString clients = h + "/Clients";
        QDir().mkpath(clients);
        writeFile(velto + "/hallix/opencode.json", "{}\n");
        writeFile(velto + "/seat.env", "PAVI_SEAT_TOKEN=seat-token\nPAVI_SEAT_EMAIL=ca@bench.example\n");
        writeFile(velto + "/velto.env", "VELTO_WORK=" + clients.toUtf8() + "\n");

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VELTO_DEMO_HOME", h);
        env.insert("VELTO_API", cloudUrl);
        env.insert("VELTO_STANDIN_LOG", engineLog());
        env.remove("VELTO_THEME");
        if (!env.contains("QT_QPA_PLATFORM"))
            env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert(extra);
        // The web engine refuses to run as root inside its sandbox.
        if (::geteuid() == 0 && !env.contains("QTWEBENGINE_DISABLE_SANDBOX"))
            env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");

        app_.setProgram(QStringLiteral(VELTO_APP));
        app_.setProcessEnvironment(env);
        app_.setWorkingDirectory(h);
        app_.setProcessChannelMode(QProcess::MergedChannels);
        app_.setStandardOutputFile(h + "/app.log");
        app_.setChildProcessModifier(dieWithParent);
        launched_ = nowMs();
        app_.start();
        if (!app_.waitForStarted(10000)) {
            std::fprintf(stderr, "%s: velto did not start\n", bench_);
            return false;
        }
        return true;
    }

    QString engineLog() const { return home_.filePath("engine.log"); }
    double launchedAt() const { return launched_; }
    bool running() const { return app_.state() == QProcess::Running; }
    qint64 pid() const { return app_.processId(); }

    // Waits for the engine's chat page to be asked for, or the app to end.
    std::optional<double> waitForChatPage(int ms)
    {
        std::optional<double> at;
        waitFor([&] { return (at = firstAt(engineLog(), isChatPage)).has_value() || !running(); }, ms, 20);
        return at;
    }

    void tellFailure(const char *what) const
    {
        std::fprintf(stderr, "%s: %s; the app's output:\n%s\n", bench_, what,
                     readFile(home_.filePath("app.log")).right(4000).constData());
    }

    // SIGTERM takes the app's normal quit path and stops the engine; a hang is killed.
    ~App()
    {
        if (app_.state() != QProcess::Running)
            return;
        ::kill(pid_t(app_.processId()), SIGTERM);
        if (!app_.waitForFinished(30000)) {
            std::fprintf(stderr, "%s: velto did not quit on SIGTERM; killed\n", bench_);
            app_.kill();
            app_.waitForFinished(5000);
        }
    }

private:
    const char *bench_;
    QTemporaryDir home_;
    QProcess app_;
    double launched_ = 0;
};

} // namespace AppLaunch
