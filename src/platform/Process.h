#pragma once
#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <optional>

class QProcess;

// Child processes: the engine, the launcher, short shell commands.
class Process : public QObject {
    Q_OBJECT
public:
    enum class Stream { Null, Inherit };

    struct Spec {
        QString program;
        QStringList args;
        QString workDir;                          // empty: the app's own
        std::optional<QProcessEnvironment> env;   // absent: the app's own
        Stream input = Stream::Inherit;
        Stream output = Stream::Null;             // stdout and stderr
        bool dieWithParent = false;               // the child gets SIGTERM when the app dies
        bool ownGroup = false;                    // the child leads a process group of its own
    };

    ~Process() override;

    // Starts the program; absent (with a reason in *error) when it cannot run.
    // Must be called on the main thread.
    static std::unique_ptr<Process> launch(const Spec &spec, QString *error = nullptr);

    // Runs the program to its end, blocking the calling thread; answers its
    // exit code, or -1 when it could not start or crashed.
    static int runAndWait(const Spec &spec);

    qint64 pid() const { return pid_; }
    // Safe from any thread.
    bool isRunning() const { return running_.load(); }
    // Sends a POSIX signal (SIGTERM by default) if the process still runs;
    // to its whole group when it was launched with a group of its own.
    void signal(int sig = 15);
    // Waits (processing nothing) up to ms for the exit; true when it ended.
    bool waitForExit(int ms);
    int exitCode() const { return exitCode_; }

signals:
    void finished(int exitCode);

private:
    Process() = default;
    QProcess *proc_ = nullptr;
    qint64 pid_ = 0;
    bool ownGroup_ = false;
    std::atomic<bool> running_{false};
    int exitCode_ = -1;
};
