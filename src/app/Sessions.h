#pragma once
// Engine sessions and jobs: start a new session in the current folder, start a
// job (a new session with a first prompt), open a session in the chat view,
// and name the folder routines work in. The app never draws a conversation
// itself: it asks the engine for sessions and points the chat view at the
// engine's page for one.
//
// The main window owns one and wires its hooks once at build time; every
// operation runs on the main thread. Replies that arrive after the object is
// gone do nothing.
#include "app/EngineApi.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class Sidebar;

class Sessions {
public:
    Sessions();
    ~Sessions();
    Sessions(const Sessions &) = delete;
    Sessions &operator=(const Sessions &) = delete;

    // --- wiring (set by the main window) -------------------------------------
    // The engine's port at the moment of the call (Engine::port).
    std::function<int()> enginePort;
    // The folder new sessions, jobs and routines work in (see currentDirOf).
    std::function<QString()> currentDir;
    // Brings the chat pane forward.
    std::function<void()> showChat;
    // Loads an address into the chat view (a GET with a 60 s time-out).
    std::function<void(const QUrl &)> loadChat;
    // The sidebar that lists the sessions and marks the open one.
    QPointer<Sidebar> sidebar;

    // How many times the chat view's first load of the engine's start page has
    // asked for a new session since it was last reset: the chat view's
    // first-load handling reads and counts it; the start-up sets it to 0 when
    // the engine becomes ready. Opening a session sets it to 3, so the start
    // page never overrides that session.
    int deepLinkTries = 0;

    // The session page last opened (it may still be waiting for the engine,
    // see openSession).
    QUrl openedPage;

    // How long the engine may take to answer its health probe for the page to
    // count it prompt, and the bound on the whole wait before a session page
    // is loaded regardless (seconds; the bound is scaled by Dispatch::timeScale).
    static inline double promptAnswer = 1.5;
    static inline double pageWaitLimit = 45;

    // --- operations -------------------------------------------------------------
    // Asks the engine for a new session in the current folder and opens it at
    // its session page; when the engine gives no session, the chat view shows
    // the engine's start page (never a page outside the folder). Either way
    // the sidebar reloads its list.
    void startNewSession();
    // A new session in the current folder, sent the prompt, then opened; when
    // the engine gives no session the CA is told and nothing is sent.
    void startJob(const QString &text);
    // Marks the session in the sidebar and shows its page in the chat view
    // once the engine is ready for it: the engine's page picks its server
    // interface with a probe bounded to a few seconds, and when that probe
    // times out (a busy engine bringing up the folder's instance, a loaded
    // machine) it moves to routes this engine does not serve and the chat
    // stays empty. So a request naming the folder warms the engine's instance
    // for it first, then the same probe is asked until the engine answers it
    // within promptAnswer seconds, and only then is the page loaded (at the
    // latest after pageWaitLimit). Opening another session meanwhile ends
    // the wait.
    void openSession(const SessionRow &row);
    // The current folder, exactly as startNewSession takes it.
    QString routineWorkingDirectory() const;

    // The current folder: the first of the recent folders, else the clients
    // folder, else HOME.
    static QString currentDirOf(const QStringList &recentFolders, const std::optional<QString> &work);

    // The row of a session the app has just started: title "New session",
    // agent "velto", updated now.
    static SessionRow startedRow(const QString &id, const QString &folder);

private:
    int port() const;
    void refreshSidebar(int port);
    // One try of the health probe for the page of `generation`.
    void probeThenLoad(quint64 generation, int port, const QUrl &page, qint64 deadlineMs);

    // Bumped by every openSession: a wait for an earlier page does nothing.
    quint64 pageGeneration_ = 0;

    // Pending replies hold this weakly to see that the object is gone.
    std::shared_ptr<Sessions *> self_;
};
