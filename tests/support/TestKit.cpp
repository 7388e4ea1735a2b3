#include "support/TestKit.h"

// g++ 12 misreads moves out of std::optional<QString> in the answer queues.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include "core/Globals.h"
#include "platform/Dispatch.h"
#include "platform/SecretStore.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QWebEngineProfile>

namespace TestKit {

std::unique_ptr<QTimer> whenMessageBoxShows(std::function<void(QMessageBox *)> look)
{
    auto poll = std::make_unique<QTimer>();
    poll->setInterval(10);
    QTimer *timer = poll.get();
    QObject::connect(timer, &QTimer::timeout, [timer, look = std::move(look)] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        look(box);
    });
    poll->start();
    return poll;
}

void installFailingDialogs()
{
    using namespace Dialogs;
    Hooks::alert = [](const Alert &a) {
        ADD_FAILURE() << "unexpected alert: " << a.title.toStdString() << " / " << a.text.toStdString();
        return -1;
    };
    Hooks::confirm = [](const Confirm &c) {
        ADD_FAILURE() << "unexpected confirm: " << c.title.toStdString();
        return false;
    };
    Hooks::openFolder = [](const FolderPanel &p) -> std::optional<QString> {
        ADD_FAILURE() << "unexpected folder panel: " << p.message.toStdString();
        return std::nullopt;
    };
    Hooks::textPrompt = [](const TextPrompt &p) -> std::optional<QString> {
        ADD_FAILURE() << "unexpected text prompt: " << p.title.toStdString();
        return std::nullopt;
    };
    Hooks::openFiles = [](const FilePanel &) {
        ADD_FAILURE() << "unexpected file panel";
        return QStringList();
    };
}

void Environment::SetUp()
{
    installFailingDialogs();
    SecretStore::useMemory();
    Dispatch::timeScale = 0.01;
}

bool waitFor(const std::function<bool()> &pred, int ms)
{
    QDeadlineTimer deadline(ms);
    // Events are handled at least once, however late this thread got to run:
    // on a loaded machine the deadline may have passed before the first look.
    for (;;) {
        if (pred())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (deadline.hasExpired())
            return pred();
        QThread::msleep(1);
    }
}

void spin(int ms)
{
    waitFor([] { return false; }, ms);
}

QString shown(const QString &title)
{
    QString out;
    for (qsizetype i = 0; i < title.size(); ++i) {
        if (title.at(i) == QLatin1Char('&')) {
            if (i + 1 < title.size() && title.at(i + 1) == QLatin1Char('&'))
                out += title.at(++i);
            continue;
        }
        out += title.at(i);
    }
    return out;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QStringList entriesUnder(const QString &dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(dir).relativeFilePath(it.next());
    out.sort();
    return out;
}

QWebEngineProfile *webProfile()
{
    static auto *profile = new QWebEngineProfile(QCoreApplication::instance());
    return profile;
}

namespace {
const char *const kVars[] = {"VELTO_DEMO_HOME", "VELTO_API", "VELTO_RECORD_SCALE", "VELTO_THEME"};
}

TempHome::TempHome(const QMap<QString, QString> &extraEnv)
{
    for (const char *v : kVars)
        saved_.insert(QString::fromLatin1(v),
                      qEnvironmentVariableIsSet(v) ? std::optional<QByteArray>(qgetenv(v)) : std::nullopt);
    qunsetenv("VELTO_API");
    qunsetenv("VELTO_RECORD_SCALE");
    qunsetenv("VELTO_THEME");
    qputenv("VELTO_DEMO_HOME", dir_.path().toLocal8Bit());
    refill(extraEnv);
}

TempHome::~TempHome()
{
    for (auto it = saved_.begin(); it != saved_.end(); ++it) {
        if (it.value())
            qputenv(it.key().toLocal8Bit(), *it.value());
        else
            qunsetenv(it.key().toLocal8Bit());
    }
    initGlobals();
}

void TempHome::refill(const QMap<QString, QString> &env)
{
    for (auto it = env.begin(); it != env.end(); ++it) {
        if (!saved_.contains(it.key()))
            saved_.insert(it.key(), qEnvironmentVariableIsSet(it.key().toLocal8Bit())
                                        ? std::optional<QByteArray>(qgetenv(it.key().toLocal8Bit()))
                                        : std::nullopt);
        qputenv(it.key().toLocal8Bit(), it.value().toLocal8Bit());
    }
    initGlobals(QProcessEnvironment::systemEnvironment());
}

QString TempHome::file(const QString &rel) const
{
    return dir_.path() + QLatin1Char('/') + rel;
}

QString TempHome::write(const QString &rel, const QByteArray &data) const
{
    const QString p = file(rel);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        ADD_FAILURE() << "cannot write fixture " << p.toStdString();
    f.write(data);
    return p;
}

DialogAnswers::DialogAnswers()
{
    using namespace Dialogs;
    Hooks::alert = [this](const Alert &a) {
        shownAlerts.push_back(a);
        if (alerts_.empty()) {
            ADD_FAILURE() << "unanswered alert: " << a.title.toStdString();
            return -1;
        }
        int b = alerts_.front();
        alerts_.pop_front();
        return b;
    };
    Hooks::confirm = [this](const Confirm &c) {
        shownConfirms.push_back(c);
        if (confirms_.empty()) {
            ADD_FAILURE() << "unanswered confirm: " << c.title.toStdString();
            return false;
        }
        bool b = confirms_.front();
        confirms_.pop_front();
        return b;
    };
    Hooks::openFolder = [this](const FolderPanel &p) -> std::optional<QString> {
        shownFolderPanels.push_back(p);
        if (folders_.empty()) {
            ADD_FAILURE() << "unanswered folder panel: " << p.message.toStdString();
            return std::nullopt;
        }
        auto f = folders_.front();
        folders_.pop_front();
        return f;
    };
    Hooks::openFiles = [this](const FilePanel &p) {
        shownFilePanels.push_back(p);
        if (files_.empty()) {
            ADD_FAILURE() << "unanswered file panel";
            return QStringList();
        }
        auto f = files_.front();
        files_.pop_front();
        return f;
    };
    Hooks::textPrompt = [this](const TextPrompt &p) -> std::optional<QString> {
        shownPrompts.push_back(p);
        if (prompts_.empty()) {
            ADD_FAILURE() << "unanswered text prompt: " << p.title.toStdString();
            return std::nullopt;
        }
        auto t = prompts_.front();
        prompts_.pop_front();
        return t;
    };
}

DialogAnswers::~DialogAnswers()
{
    EXPECT_TRUE(alerts_.empty()) << "scripted alert answers left unused";
    EXPECT_TRUE(confirms_.empty()) << "scripted confirm answers left unused";
    EXPECT_TRUE(folders_.empty()) << "scripted folder answers left unused";
    EXPECT_TRUE(prompts_.empty()) << "scripted prompt answers left unused";
    EXPECT_TRUE(files_.empty()) << "scripted file answers left unused";
    installFailingDialogs();
}

} // namespace TestKit
