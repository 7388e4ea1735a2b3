#include "platform/Process.h"

#include <QProcess>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

void configure(QProcess &p, const Process::Spec &spec)
{
    p.setProgram(spec.program);
    p.setArguments(spec.args);
    if (!spec.workDir.isEmpty())
        p.setWorkingDirectory(spec.workDir);
    if (spec.env)
        p.setProcessEnvironment(*spec.env);
    if (spec.output == Process::Stream::Null) {
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
    } else {
        p.setProcessChannelMode(QProcess::ForwardedChannels);
    }
    if (spec.input == Process::Stream::Null)
        p.setStandardInputFile(QProcess::nullDevice());
    else
        p.setInputChannelMode(QProcess::ForwardedInputChannel);
    const bool dieWithParent = spec.dieWithParent;
    const bool ownGroup = spec.ownGroup;
    if (dieWithParent || ownGroup)
        p.setChildProcessModifier([dieWithParent, ownGroup] {
            if (ownGroup)
                ::setpgid(0, 0);
            if (dieWithParent)
                ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        });
}

} // namespace

Process::~Process()
{
    // Dropping the handle never signals the child; detach it from QProcess so
    // its destructor does not kill it either.
    if (proc_) {
        proc_->disconnect();
        if (proc_->state() != QProcess::NotRunning) {
            // QProcess kills a running child in its destructor; leak the
            // small object instead so the child lives on as the owner asked.
            proc_->setParent(nullptr);
            proc_ = nullptr;
        }
    }
}

std::unique_ptr<Process> Process::launch(const Spec &spec, QString *error)
{
    std::unique_ptr<Process> handle(new Process);
    auto *p = new QProcess(handle.get());
    configure(*p, spec);
    p->start(QIODevice::ReadOnly);
    if (!p->waitForStarted(10000)) {
        if (error)
            *error = p->errorString();
        return nullptr;
    }
    handle->proc_ = p;
    handle->pid_ = p->processId();
    handle->ownGroup_ = spec.ownGroup;
    handle->running_ = true;
    Process *raw = handle.get();
    QObject::connect(p, &QProcess::finished, raw, [raw](int code, QProcess::ExitStatus status) {
        raw->exitCode_ = status == QProcess::NormalExit ? code : -1;
        raw->running_ = false;
        emit raw->finished(raw->exitCode_);
    });
    return handle;
}

int Process::runAndWait(const Spec &spec)
{
    QProcess p;
    configure(p, spec);
    p.start(QIODevice::ReadOnly);
    if (!p.waitForStarted(10000))
        return -1;
    p.waitForFinished(-1);
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void Process::signal(int sig)
{
    if (!running_ || pid_ <= 0)
        return;
    // A group whose leader has not yet made it falls back to the process alone.
    if (!ownGroup_ || ::kill(-pid_t(pid_), sig) != 0)
        ::kill(pid_t(pid_), sig);
}

bool Process::waitForExit(int ms)
{
    if (!proc_ || !running_)
        return true;
    return proc_->waitForFinished(ms) || !running_;
}
