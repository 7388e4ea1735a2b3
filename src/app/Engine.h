#pragma once
#include "platform/Process.h"

#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

// The host of the agent engine: launches ENGINE as a loopback HTTP server in
// the clients folder with its environment, clears away engines orphaned by an
// earlier run, waits until the engine answers, and stops it. The application
// delegate owns one.
//
// One engine at a time: every start() supersedes the previous one. The earlier
// engine process is sent SIGTERM, and a readiness wait still running for it
// ends without calling its completion. stop() ends a pending wait the same way.
//
// Every launch locks the engine with a fresh random password in its
// environment (OPENCODE_SERVER_PASSWORD), kept in memory only and handed to
// EngineApi for the requests to that port; stop() takes it back.
class Engine {
public:
    Engine();
    // Drops the process handle without signalling the process.
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // Launches the engine in the clients folder `work` with the seat token,
    // in a process group of its own. True when the process was launched.
    // Main thread; the orphan clean-up runs in the background meanwhile.
    bool start(const QString &work, const QString &token);

    // Calls done once on the main thread: true as soon as the engine answers
    // any HTTP status on "/", false when it does not within `timeout` seconds
    // (scaled by Dispatch::timeScale) or its process ends first. Returns at once.
    void waitReady(double timeout, std::function<void(bool)> done);
    void waitReady(std::function<void(bool)> done) { waitReady(60, std::move(done)); }

    // Sends the engine's process group SIGTERM (without waiting for it to
    // exit) and forgets it.
    void stop();
    // The last stop, on the way out: SIGTERM to the group, up to graceMs for
    // the engine to end, then SIGKILL to the group. The engine is gone after.
    void shutdown(int graceMs);

    // Writes the tool server's entry ("mcp" / "browser") into OC_JSON through
    // the one writer; nothing when the file is missing or not a JSON object.
    static void wireBrowserMCP(quint16 port, const QString &token);

    // The loopback port given to the engine at the last start (0 before).
    int port() const { return port_; }
    // The password the engine of the last start was locked with (fresh at
    // every start, held in memory only; empty before and after stop()).
    // Requests through EngineApi carry it; the chat view answers the
    // engine's challenge with it.
    QString password() const { return password_; }
    // The engine process of the last successful start, or null.
    Process *proc() const { return proc_.get(); }

    // The orphan clean-up: engines of an earlier run that ended without
    // stopping them, found by their command line ("velto-engine serve") and
    // their parent (process 1), read from the process table at procRoot.
    static QList<qint64> orphans(const QString &procRoot);
    static inline QString procRoot = QStringLiteral("/proc");
    // Where the clean-up runs (default: a background thread) and how an
    // orphan is ended (default: SIGTERM); tests watch both.
    static inline std::function<void(std::function<void()>)> runCleanup;
    static inline std::function<void(qint64 pid)> endOrphan;
    // What a SIGTERM to the application does; unset, the normal quit path
    // (QCoreApplication::quit). The handler is installed at launch (or at
    // the first start) and also starts the bound on the way out.
    static inline std::function<void()> onTerminateSignal;
    static void installTermHandler();

private:
    struct Wait;
    static void reapOrphans();
    void finishWait(const std::shared_ptr<Wait> &w, bool ready);
    void probe(const std::shared_ptr<Wait> &w);

    std::unique_ptr<Process> proc_;
    int port_ = 0;
    QString password_;
    quint64 generation_ = 0;
    // Outlives nothing: pending callbacks hold it weakly to see the host is gone.
    std::shared_ptr<Engine *> self_;
};
