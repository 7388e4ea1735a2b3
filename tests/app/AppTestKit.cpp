#include "AppTestKit.h"
#include "app/EngineApi.h"
#include "core/Shell.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/Process.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>
#include <csignal>

namespace AppTestKit {

bool alive(qint64 pid)
{
    if (::kill(pid_t(pid), 0) != 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) != "Z";
}

ScopedEnv::~ScopedEnv()
{
    for (auto it = saved_.begin(); it != saved_.end(); ++it) {
        if (it.value())
            qputenv(it.key().toLocal8Bit().constData(), *it.value());
        else
            qunsetenv(it.key().toLocal8Bit().constData());
    }
}

void ScopedEnv::save(const QString &name)
{
    if (saved_.contains(name))
        return;
    const QByteArray n = name.toLocal8Bit();
    saved_.insert(name, qEnvironmentVariableIsSet(n.constData()) ? std::optional<QByteArray>(qgetenv(n.constData()))
                                                                 : std::nullopt);
}

void ScopedEnv::set(const QString &name, const QString &value)
{
    save(name);
    qputenv(name.toLocal8Bit().constData(), value.toLocal8Bit());
}

void ScopedEnv::unset(const QString &name)
{
    save(name);
    qunsetenv(name.toLocal8Bit().constData());
}

QString standinEngine() { return QStringLiteral(VELTO_STANDIN_ENGINE); }
QString standinCloud() { return QStringLiteral(VELTO_STANDIN_CLOUD); }

QList<QJsonObject> readLog(const QString &path)
{
    QList<QJsonObject> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            out.append(QJsonDocument::fromJson(line).object());
    return out;
}

QList<QJsonObject> events(const QString &path, const QString &kind)
{
    QList<QJsonObject> out;
    for (const QJsonObject &e : readLog(path))
        if (e.value(QStringLiteral("event")).toString() == kind)
            out.append(e);
    return out;
}

bool waitForEvents(const QString &path, const QString &kind, int n, int ms)
{
    return TestKit::waitFor([&] { return events(path, kind).size() >= n; }, ms);
}

QJsonObject signedInCloudReplies()
{
    return QJsonObject{
        {"GET /cli/whoami",
         QJsonObject{{"body", QJsonObject{{"success", true},
                                          {"profile", QJsonObject{{"name", "Test CA"}, {"firm", "Test & Co"}}}}}}},
        {"GET /cli/harness", QJsonObject{{"body", QJsonObject{{"success", true}, {"items", QJsonArray{}}}}}},
        {"GET /cli/routines_due", QJsonObject{{"body", QJsonObject{{"success", true}, {"routines", QJsonArray{}}}}}},
    };
}

QString prepareSignedInHome(const TestKit::TempHome &home)
{
    const QString velto = home.file(".velto");
    QDir().mkpath(velto + "/bin");
    if (!QFile::link(standinEngine(), velto + "/bin/velto-engine"))
        return QString();
    home.write(".velto/hallix/opencode.json", "{}\n");
    home.write(".velto/seat.env", "PAVI_SEAT_TOKEN=seat-token\nPAVI_SEAT_EMAIL=ca@test.example\n");
    const QString clients = home.file("Clients");
    QDir().mkpath(clients);
    home.write(".velto/velto.env", "VELTO_WORK=" + clients.toUtf8() + "\n");
    return clients;
}

std::unique_ptr<Process> launchVelto(const TestKit::TempHome &home, const QString &apiUrl,
                                     const QMap<QString, QString> &env)
{
    QProcessEnvironment penv = QProcessEnvironment::systemEnvironment();
    penv.insert(QStringLiteral("VELTO_DEMO_HOME"), home.path());
    penv.insert(QStringLiteral("VELTO_API"), apiUrl);
    penv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    penv.remove(QStringLiteral("VELTO_THEME"));
    for (auto it = env.begin(); it != env.end(); ++it)
        penv.insert(it.key(), it.value());
    Process::Spec spec;
    spec.program = QStringLiteral(VELTO_APP);
    spec.env = penv;
    spec.dieWithParent = true;
    return Process::launch(spec);
}

StandinCloud::StandinCloud(const TestKit::TempHome &home, const QJsonObject &replies)
    : replies_(home.file(QStringLiteral("cloud-replies.json"))), log_(home.file(QStringLiteral("cloud.log")))
{
    setReplies(replies);
    const QString portFile = home.file(QStringLiteral("cloud.port"));
    Process::Spec spec;
    spec.program = standinCloud();
    spec.args = {QStringLiteral("--replies"), replies_, QStringLiteral("--port-file"), portFile,
                 QStringLiteral("--log"), log_};
    spec.dieWithParent = true;
    auto proc = Process::launch(spec);
    if (!proc)
        return;
    pid_ = proc->pid();
    // The handle is dropped; the program is ended by pid when the test is done.
    proc.reset();
    TestKit::waitFor([&] { return QFile::exists(portFile); }, 10000);
    port_ = QString::fromUtf8(Files::readAll(portFile).value_or(QByteArray())).trimmed().toInt();
}

StandinCloud::~StandinCloud()
{
    if (pid_ > 0)
        ::kill(pid_t(pid_), SIGTERM);
}

void StandinCloud::setReplies(const QJsonObject &replies)
{
    Files::writeAtomic(replies_, QJsonDocument(replies).toJson(), 0644);
}

StandinEngine::StandinEngine(const TestKit::TempHome &home, const QMap<QString, QString> &env)
    : log_(home.file(QStringLiteral("engine.log")))
{
    QProcessEnvironment penv = QProcessEnvironment::systemEnvironment();
    penv.insert(QStringLiteral("VELTO_STANDIN_LOG"), log_);
    password_ = QUuid::createUuid().toString(QUuid::Id128);
    penv.insert(QStringLiteral("OPENCODE_SERVER_PASSWORD"), password_);
    for (auto it = env.begin(); it != env.end(); ++it)
        penv.insert(it.key(), it.value());
    password_ = penv.value(QStringLiteral("OPENCODE_SERVER_PASSWORD"));
    const int port = freePort();
    Process::Spec spec;
    spec.program = standinEngine();
    spec.args = {QStringLiteral("serve"), QStringLiteral("--port"), QString::number(port), QStringLiteral("--hostname"),
                 QStringLiteral("127.0.0.1")};
    spec.workDir = home.path();
    spec.env = penv;
    spec.dieWithParent = true;
    proc_ = Process::launch(spec);
    if (proc_ && waitForEvents(log_, QStringLiteral("listening"))) {
        port_ = port;
        EngineApi::setCredentials(port_, password_);
    }
}

StandinEngine::~StandinEngine()
{
    EngineApi::clearCredentials(port_);
    if (proc_) {
        proc_->signal();
        proc_->waitForExit(5000);
    }
}

ScopedTimeScale::ScopedTimeScale(double scale) : saved_(Dispatch::timeScale)
{
    Dispatch::timeScale = scale;
}

ScopedTimeScale::~ScopedTimeScale()
{
    Dispatch::timeScale = saved_;
}

} // namespace AppTestKit
