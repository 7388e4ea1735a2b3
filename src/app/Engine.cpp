#include "app/Engine.h"
#include "app/EngineApi.h"
#include "app/Shutdown.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "core/OcConfig.h"
#include "core/Shell.h"
#include "platform/Dispatch.h"
#include "platform/Http.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int termPipe[2] = {-1, -1};

void onSigterm(int)
{
    Shutdown::begin();
    const char byte = 1;
    if (::write(termPipe[1], &byte, 1) < 0) {
        // Nothing to do in a signal handler; a full pipe already holds a wake-up.
    }
}

// 128 random bits from the system's generator, as 32 hex characters.
QString freshPassword()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex());
}

QProcessEnvironment engineEnvironment(const QString &work, const QString &token, const QString &password)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString inheritedPath = env.contains(QStringLiteral("PATH"))
                                      ? env.value(QStringLiteral("PATH"))
                                      : QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin");
    env.insert(QStringLiteral("VELTO_HOME"), VELTO_HOME);
    env.insert(QStringLiteral("VELTO_WORK"), work);
    env.insert(QStringLiteral("PAVI_SEAT_TOKEN"), token);
    env.insert(QStringLiteral("OPENCODE_CONFIG_DIR"), OC_DIR);
    env.insert(QStringLiteral("OPENCODE_DISABLE_CLAUDE_CODE"), QStringLiteral("1"));
    env.insert(QStringLiteral("OPENCODE_DISABLE_EXTERNAL_SKILLS"), QStringLiteral("1"));
    env.insert(QStringLiteral("OPENCODE_CONFIG"), OC_JSON);
    env.insert(QStringLiteral("OPENCODE_CLIENT"), QStringLiteral("velto-app"));
    // Locks the engine's HTTP server to Velto: without these Basic
    // credentials anyone on the machine could drive it, shell tools included.
    env.insert(QStringLiteral("OPENCODE_SERVER_PASSWORD"), password);
    if (DEMO_HOME) {
        env.insert(QStringLiteral("HOME"), *DEMO_HOME);
        env.insert(QStringLiteral("XDG_DATA_HOME"), joinPath(*DEMO_HOME, QStringLiteral(".local/share")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), joinPath(*DEMO_HOME, QStringLiteral(".config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), joinPath(*DEMO_HOME, QStringLiteral(".local/state")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), joinPath(*DEMO_HOME, QStringLiteral(".cache")));
    }
    const QString key = readEnvFile(KEYS_ENV).value(QStringLiteral("ANTHROPIC_API_KEY"));
    if (!key.isEmpty())
        env.insert(QStringLiteral("ANTHROPIC_API_KEY"), key);
    env.insert(QStringLiteral("PATH"), QStringLiteral("/opt/homebrew/bin:/usr/local/bin:") +
                                           joinPath(VELTO_HOME, QStringLiteral("bin")) +
                                           QLatin1Char(':') + inheritedPath);
    return env;
}

} // namespace

struct Engine::Wait {
    quint64 generation = 0;
    QDeadlineTimer deadline;
    QUrl address;
    std::function<void(bool)> done;
    QPointer<Process> watched;
    QMetaObject::Connection exitWatch;
    bool over = false;
};

Engine::Engine() : self_(std::make_shared<Engine *>(this)) {}

Engine::~Engine() = default;

bool Engine::start(const QString &work, const QString &token)
{
    // A new start supersedes the last one, whatever happens below.
    stop();

    const QFileInfo exe(ENGINE);
    if (!exe.isFile() || !exe.isExecutable())
        return false;

    reapOrphans();
    installTermHandler();
    port_ = freePort();
    password_ = freshPassword();

    const QString folder = QDir::cleanPath(work);
    Process::Spec spec;
    spec.program = ENGINE;
    spec.args = {QStringLiteral("serve"), QStringLiteral("--port"), QString::number(port_),
                 QStringLiteral("--hostname"), QStringLiteral("127.0.0.1")};
    spec.workDir = folder;
    spec.env = engineEnvironment(folder, token, password_);
    spec.input = Process::Stream::Inherit;
    spec.output = Process::Stream::Null;
    // An orphaned engine is often adopted by a session sub-reaper rather than
    // process 1, where the clean-up above would never find it.
    spec.dieWithParent = true;
    // The engine's own helpers go with it when its group is signalled.
    spec.ownGroup = true;

    auto launched = Process::launch(spec);
    if (!launched)
        return false;
    proc_ = std::move(launched);
    Shutdown::setEngineGroup(proc_->pid());
    EngineApi::setCredentials(port_, password_);
    return true;
}

void Engine::stop()
{
    ++generation_;
    // The port may soon belong to another program: nothing more goes there with the password.
    EngineApi::clearCredentials(port_);
    password_.clear();
    if (proc_) {
        proc_->signal(SIGTERM);
        proc_.reset();
    }
    Shutdown::setEngineGroup(0);
}

void Engine::shutdown(int graceMs)
{
    std::unique_ptr<Process> last = std::move(proc_);
    stop();
    if (!last)
        return;
    last->signal(SIGTERM);
    if (!last->waitForExit(graceMs))
        last->signal(SIGKILL);
    last->waitForExit(1000);
}

void Engine::waitReady(double timeout, std::function<void(bool)> done)
{
    auto w = std::make_shared<Wait>();
    w->generation = generation_;
    w->address = QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port_));
    w->done = std::move(done);
    // A limit of 0 or less answers false without any request.
    w->deadline = QDeadlineTimer(timeout > 0 ? std::max(1, Dispatch::scaledMs(timeout)) : 0);
    if (timeout > 0 && proc_) {
        // The engine's exit ends the wait at once rather than at the limit.
        w->watched = proc_.get();
        std::weak_ptr<Engine *> weak = self_;
        w->exitWatch = QObject::connect(proc_.get(), &Process::finished, proc_.get(), [weak, w](int) {
            if (auto self = weak.lock())
                (*self)->finishWait(w, false);
        });
    }
    std::weak_ptr<Engine *> weak = self_;
    Dispatch::onMain([weak, w] {
        if (auto self = weak.lock())
            (*self)->probe(w);
    });
}

void Engine::finishWait(const std::shared_ptr<Wait> &w, bool ready)
{
    if (w->over)
        return;
    w->over = true;
    QObject::disconnect(w->exitWatch);
    if (w->generation == generation_ && w->done)
        w->done(ready);
}

void Engine::probe(const std::shared_ptr<Wait> &w)
{
    if (w->over)
        return;
    if (w->generation != generation_) {
        // Superseded by a later start or a stop: this wait is no one's any more.
        w->over = true;
        QObject::disconnect(w->exitWatch);
        return;
    }
    if (w->deadline.hasExpired() || (w->watched && !w->watched->isRunning())) {
        finishWait(w, false);
        return;
    }

    // Each try settles once: by its answer, or by the guard when none comes.
    auto settled = std::make_shared<bool>(false);
    std::weak_ptr<Engine *> weak = self_;
    auto next = [weak, w] {
        Dispatch::after(0.05, [weak, w] {
            if (auto self = weak.lock())
                (*self)->probe(w);
        });
    };
    Http::Request req;
    req.url = w->address;
    req.timeout = 2;
    Http::request(req, [weak, w, settled, next](const Http::Response &r) {
        if (*settled)
            return;
        *settled = true;
        auto self = weak.lock();
        if (!self)
            return;
        // Any HTTP status, 404 and 500 included, means the engine answers.
        if (r.answered())
            (*self)->finishWait(w, true);
        else
            next();
    });
    Dispatch::after(3, [settled, next] {
        if (*settled)
            return;
        *settled = true;
        next();
    });
}

void Engine::wireBrowserMCP(quint16 port, const QString &token)
{
    OcConfig::update([&](QJsonObject &root) {
        // A non-object "mcp" is replaced; the other members of "mcp" stay.
        QJsonObject mcp = root.value(QStringLiteral("mcp")).toObject();
        mcp.insert(QStringLiteral("browser"),
                   QJsonObject{
                       {QStringLiteral("type"), QStringLiteral("remote")},
                       {QStringLiteral("url"), QStringLiteral("http://127.0.0.1:%1/mcp").arg(port)},
                       {QStringLiteral("enabled"), true},
                       {QStringLiteral("timeout"), 60000},
                       {QStringLiteral("headers"),
                        QJsonObject{{QStringLiteral("Authorization"), QStringLiteral("Bearer ") + token}}},
                   });
        root.insert(QStringLiteral("mcp"), mcp);
        return true;
    });
}

QList<qint64> Engine::orphans(const QString &root)
{
    QList<qint64> out;
    const QStringList entries = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric || pid <= 1)
            continue;
        QFile cmdFile(root + QLatin1Char('/') + entry + QStringLiteral("/cmdline"));
        if (!cmdFile.open(QIODevice::ReadOnly))
            continue;
        QByteArray cmdline = cmdFile.read(8192);
        cmdline.replace('\0', ' ');
        if (!cmdline.contains("velto-engine serve"))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces and brackets,
        // so the fields are counted from its last ")".
        QFile statFile(root + QLatin1Char('/') + entry + QStringLiteral("/stat"));
        if (!statFile.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = statFile.read(4096);
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
        if (fields.size() >= 2 && fields.at(1) == "1")
            out.append(pid);
    }
    return out;
}

void Engine::reapOrphans()
{
    const QString root = procRoot;
    const std::function<void(qint64)> end = endOrphan ? endOrphan : [](qint64 pid) { ::kill(pid_t(pid), SIGTERM); };
    auto job = [root, end] {
        for (const qint64 pid : orphans(root))
            end(pid);
    };
    if (runCleanup)
        runCleanup(job);
    else
        Dispatch::runInBackground(job);
}

void Engine::installTermHandler()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    if (::pipe2(termPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    // A handler, not "ignore": an ignored SIGTERM would be inherited by the
    // engine across exec and stop() could no longer end it.
    struct sigaction sa {};
    sa.sa_handler = onSigterm;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    auto *notifier = new QSocketNotifier(termPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char buf[64];
        while (::read(termPipe[0], buf, sizeof buf) > 0) {
        }
        if (onTerminateSignal)
            onTerminateSignal();
        else
            QCoreApplication::quit();
    });
}
