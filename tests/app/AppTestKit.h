#pragma once
// Helpers of the app tests: environment changes undone at the end of a test,
// the stand-in programs and their logs.
#include "support/TestKit.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <memory>
#include <optional>

class Process;

namespace AppTestKit {

// Sets or unsets process environment variables; puts them back when destroyed.
class ScopedEnv {
public:
    ScopedEnv() = default;
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;
    void set(const QString &name, const QString &value);
    void unset(const QString &name);

private:
    void save(const QString &name);
    QMap<QString, std::optional<QByteArray>> saved_;
};

// The built stand-in programs.
QString standinEngine();
QString standinCloud();

// The JSON lines of a stand-in's log (empty when there is none yet).
QList<QJsonObject> readLog(const QString &path);
// The log's events of one kind ("start", "request", "signal", ...).
QList<QJsonObject> events(const QString &path, const QString &kind);
// Waits until the log holds at least n events of the kind.
bool waitForEvents(const QString &path, const QString &kind, int n = 1, int ms = 10000);

// The cloud's replies for a signed-in seat with nothing to sync and no
// routines due: what a run of the whole app needs from the cloud.
QJsonObject signedInCloudReplies();

// The home of a signed-in CA ("seat-token", ca@test.example) with the
// stand-in engine installed, an empty engine configuration and the clients
// folder "Clients" chosen. The clients folder's path; empty when the engine
// could not be put in place.
QString prepareSignedInHome(const TestKit::TempHome &home);

// The built velto program started offscreen on the home, with the cloud at
// apiUrl and the extra variables set (for it and the engine it starts); it
// gets SIGTERM when the test process dies. Absent when it cannot start.
std::unique_ptr<Process> launchVelto(const TestKit::TempHome &home, const QString &apiUrl,
                                     const QMap<QString, QString> &env = {});

// The stand-in cloud running on a free loopback port with the given replies.
class StandinCloud {
public:
    explicit StandinCloud(const TestKit::TempHome &home, const QJsonObject &replies);
    ~StandinCloud();
    bool running() const { return port_ > 0; }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }
    QString logPath() const { return log_; }
    void setReplies(const QJsonObject &replies);

private:
    QString replies_;
    QString log_;
    qint64 pid_ = 0;
    int port_ = 0;
};

// The stand-in engine serving on a free loopback port, its log under the home;
// extra environment variables go to it alone. Ended when destroyed. It is
// locked as the app locks the engine: a fresh password, which the app's engine
// requests (EngineApi) carry for its port while it runs; requests without it
// are refused. An OPENCODE_SERVER_PASSWORD in env replaces the fresh one
// (empty: unlocked).
class StandinEngine {
public:
    explicit StandinEngine(const TestKit::TempHome &home, const QMap<QString, QString> &env = {});
    ~StandinEngine();
    bool running() const { return port_ > 0; }
    int port() const { return port_; }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }
    QString logPath() const { return log_; }
    // The requests it has logged so far.
    QList<QJsonObject> requests() const { return events(log_, QStringLiteral("request")); }
    QString password() const { return password_; }

private:
    std::unique_ptr<Process> proc_;
    QString password_;
    QString log_;
    int port_ = 0;
};

// Whether the process is alive: not gone, and not a zombie waiting for
// whoever adopted it.
bool alive(qint64 pid);

// Sets the product time scale for the life of the object (tests run with
// 0.01; a test whose replies must not time out under load uses 1).
class ScopedTimeScale {
public:
    explicit ScopedTimeScale(double scale);
    ~ScopedTimeScale();

private:
    double saved_;
};

} // namespace AppTestKit
