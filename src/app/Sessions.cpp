#include "app/Sessions.h"
#include "app/Sidebar.h"
#include "core/Globals.h"
#include "core/Shell.h"
#include "platform/Dispatch.h"

#include <QDateTime>

Sessions::Sessions() : self_(std::make_shared<Sessions *>(this)) {}

Sessions::~Sessions() = default;

int Sessions::port() const
{
    return enginePort ? enginePort() : 0;
}

void Sessions::refreshSidebar(int port)
{
    if (sidebar)
        sidebar->refreshSessions(port, nullptr);
}

QString Sessions::currentDirOf(const QStringList &recentFolders, const std::optional<QString> &work)
{
    if (!recentFolders.isEmpty())
        return recentFolders.first();
    if (work)
        return *work;
    return HOME;
}

QString Sessions::routineWorkingDirectory() const
{
    return currentDir ? currentDir() : HOME;
}

SessionRow Sessions::startedRow(const QString &id, const QString &folder)
{
    return SessionRow{id, QStringLiteral("New session"), folder, EngineApi::nowMs(), QStringLiteral("velto")};
}

void Sessions::startNewSession()
{
    if (showChat)
        showChat();
    const QString folder = routineWorkingDirectory();
    std::weak_ptr<Sessions *> weak = self_;
    EngineApi::newSession(port(), folder, 15, [weak, folder](const std::optional<QString> &id, const Http::Response &) {
        const auto alive = weak.lock();
        if (!alive)
            return;
        Sessions *self = *alive;
        if (id) {
            self->openSession(startedRow(*id, folder));
        } else if (self->loadChat) {
            // The engine's own page for a folder no longer picks that folder,
            // so nothing is opened outside it: the chat shows the engine's
            // start page, whose first load asks again while tries remain.
            self->loadChat(EngineApi::startPage(self->port()));
        }
        self->refreshSidebar(self->port());
    });
}

void Sessions::startJob(const QString &text)
{
    if (showChat)
        showChat();
    const QString folder = routineWorkingDirectory();
    // One port for every step of the job, even if the engine restarts meanwhile.
    const int jobPort = port();
    std::weak_ptr<Sessions *> weak = self_;
    EngineApi::newSession(jobPort, folder, 15, [weak, folder, jobPort, text](const std::optional<QString> &id,
                                                                           const Http::Response &) {
        if (weak.expired())
            return;
        if (!id) {
            ::alert(QStringLiteral("Could not start the job"),
                  QStringLiteral("The Velto engine did not answer. Try again in a moment."),
                  Dialogs::Style::Warning);
            return;
        }
        const QString sessionId = *id;
        // Whatever the engine makes of the prompt, the session is opened.
        EngineApi::promptAsync(jobPort, sessionId, QStringLiteral("velto"), text,
                               [weak, folder, jobPort, sessionId](const Http::Response &) {
                                   const auto alive = weak.lock();
                                   if (!alive)
                                       return;
                                   Sessions *self = *alive;
                                   self->openSession(startedRow(sessionId, folder));
                                   self->refreshSidebar(jobPort);
                               });
    });
}

void Sessions::openSession(const SessionRow &row)
{
    if (showChat)
        showChat();
    deepLinkTries = 3;
    const int enginePort = port();
    openedPage = EngineApi::sessionPage(enginePort, row.directory, row.id);
    if (sidebar)
        sidebar->setCurrentSession(row.id);
    const quint64 generation = ++pageGeneration_;
    const QUrl page = openedPage;
    const qint64 deadline = QDateTime::currentMSecsSinceEpoch() + Dispatch::scaledMs(pageWaitLimit);
    std::weak_ptr<Sessions *> weak = self_;
    // Whatever the warm-up answers (an engine that is slow to start answers
    // nothing yet), the probe decides.
    EngineApi::warm(enginePort, row.directory, pageWaitLimit, [weak, generation, enginePort, page, deadline](
                                                                   const Http::Response &) {
        if (auto alive = weak.lock())
            (*alive)->probeThenLoad(generation, enginePort, page, deadline);
    });
}

void Sessions::probeThenLoad(quint64 generation, int enginePort, const QUrl &page, qint64 deadlineMs)
{
    if (generation != pageGeneration_)
        return;
    const qint64 asked = QDateTime::currentMSecsSinceEpoch();
    if (asked >= deadlineMs) {
        if (loadChat)
            loadChat(page);
        return;
    }
    std::weak_ptr<Sessions *> weak = self_;
    EngineApi::healthReply(enginePort, promptAnswer, [weak, generation, enginePort, page, deadlineMs,
                                                      asked](const Http::Response &reply) {
        const auto alive = weak.lock();
        if (!alive)
            return;
        Sessions *self = *alive;
        if (generation != self->pageGeneration_)
            return;
        // Any prompt HTTP answer will do: the engine is free to serve the page,
        // and one that answers its probe otherwise won't change by waiting.
        const bool prompt =
            reply.answered() && QDateTime::currentMSecsSinceEpoch() - asked <= qint64(promptAnswer * 1000);
        if (prompt) {
            if (self->loadChat)
                self->loadChat(page);
            return;
        }
        // A probe that timed out already waited; one refused at once (the
        // engine not listening yet) is asked again shortly.
        Dispatch::after(reply.answered() ? 0 : 0.1, [weak, generation, enginePort, page, deadlineMs] {
            if (auto again = weak.lock())
                (*again)->probeThenLoad(generation, enginePort, page, deadlineMs);
        });
    });
}
