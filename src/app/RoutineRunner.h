#pragma once
// The routine runner: scheduled work kept by the maker's cloud for the CA's
// seat. While the app runs and the engine answers, it asks the cloud every
// five minutes whether a routine is due, claims one, starts it as a new
// engine session with the unattended-work rules appended to its prompt, opens
// that session in the chat view, follows it until the engine has finished its
// answer (or 45 minutes have passed) and reports the outcome to the cloud.
// One routine runs at a time.
//
// Everything happens on the main thread: the timer, the delayed steps and the
// replies (Http hands them over there). Waits go through Dispatch::after, so
// the time scale shrinks them. Pending steps hold the runner weakly and do
// nothing once it is gone.
//
// Start-up creates one once the engine answers, wires the hooks below and
// calls start().
#include "app/EngineApi.h"

#include <QJsonObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class RoutineRunner {
public:
    RoutineRunner();
    ~RoutineRunner();
    RoutineRunner(const RoutineRunner &) = delete;
    RoutineRunner &operator=(const RoutineRunner &) = delete;

    // --- wiring (set by start-up before start()) -----------------------------
    // The engine's port (Engine::port). Unset means the app is going away:
    // a claimed run is then dropped without starting anything.
    std::function<int()> enginePort;
    // The folder routines work in (Sessions::routineWorkingDirectory).
    std::function<QString()> routineWorkingDirectory;
    // Opens the routine's new session in the chat view (Sessions::openSession).
    std::function<void(const SessionRow &)> openSession;
    // Asks the sidebar to reload its sessions from the engine on that port
    // (Sidebar::refreshSessions(port, nullptr)).
    std::function<void(int port)> refreshSessions;

    // --- settings --------------------------------------------------------------
    static constexpr double pollInterval = 300;  // seconds between two polls
    static constexpr double firstPollDelay = 60; // the extra poll after start()
    static constexpr double runCeiling = 2700;   // longest a run is followed
    static constexpr double watchInterval = 20;  // between two session checks
    static constexpr double requestTimeout = 20; // every cloud request

    // What the cloud is told when the clients folder changes under a run.
    static inline const QString folderChangedError =
        QStringLiteral("Stopped because the clients folder changed while the routine ran.");

    // --- life --------------------------------------------------------------------
    // Polls 60 s after the call, then at 300 s, 600 s, 900 s ... Calling it
    // again starts the schedule afresh.
    void start();
    // Ends the polling (including a first poll still to come). A run under way
    // carries on and is reported as usual.
    void stop();
    // For good, e.g. when the clients folder changes: stops polling and gives
    // up the run under way, reporting it to the cloud as failed with `error`.
    // A claim still waiting for its reply is reported the same way when the
    // reply arrives, even if the runner has been destroyed by then.
    void retire(const QString &error = folderChangedError);

    bool isBusy() const { return busy_; }
    bool isPolling() const { return polling_; }

    // --- helpers, public for tests ---------------------------------------------
    // The summary of one engine message: the texts of its text parts joined
    // with line feeds, trimmed, at most 3000 characters.
    static QString textOf(const QJsonObject &message);
    // The prompt sent to the engine: the routine's name, its prompt as
    // received, then the unattended-work rules.
    static QString promptText(const QString &name, const QString &prompt);
    // True when the last of the engine's messages is a completed answer.
    static bool answerCompleted(const QJsonObject &lastMessage);
    // The error the last of the engine's messages carries when the engine
    // ended its answer on one (an aborted answer, a model or tool failure):
    // the error's message, else its name; nothing when the message is not
    // the assistant's or carries no error. Such a run failed, completed or not.
    static std::optional<QString> answerError(const QJsonObject &lastMessage);

private:
    struct Retirement;

    void schedulePoll(double seconds, bool repeat);
    void poll();
    void claim(qint64 routineId);
    void claimAnswered(const Http::Response &reply);
    void run(qint64 runId, const QString &name, const QString &prompt, const QString &agent);
    void sessionStarted(qint64 runId, int port, const QString &folder, const QString &name, const QString &agent,
                        const QString &prompt, const std::optional<QString> &id, const Http::Response &reply);
    void promptAnswered(qint64 runId, int port, const QString &sessionId, const Http::Response &reply);
    void watch(qint64 runId, int port, const QString &sessionId, std::chrono::steady_clock::time_point startedAt);
    void scheduleWatch(qint64 runId, int port, const QString &sessionId,
                       std::chrono::steady_clock::time_point startedAt);
    // True while the run is the one under way (not reported, not given up).
    bool current(qint64 runId) const;
    // Reports the run and goes back to idle.
    void finishRun(qint64 runId, bool done, const QString &summary, const QString &error);

    bool busy_ = false;
    bool polling_ = false;
    std::optional<qint64> runId_; // the claimed run, until it is reported
    int schedule_ = 0;            // bumped by start()/stop(); older timers lapse
    std::shared_ptr<Retirement> retirement_;
    std::shared_ptr<RoutineRunner *> self_;
};
