#include "app/Sessions.h"
#include "app/Sidebar.h"
#include "core/Globals.h"
#include "core/Shell.h"

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
    openedPage = EngineApi::sessionPage(port(), row.directory, row.id);
    pageReloads = 0;
    if (loadChat)
        loadChat(openedPage);
    if (sidebar)
        sidebar->setCurrentSession(row.id);
}
