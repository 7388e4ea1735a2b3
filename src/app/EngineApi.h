#pragma once
// The engine's local HTTP interface as the whole app uses it: the addresses of
// its chat pages and its four requests (session list, new session, first
// prompt, session messages). Every request goes to 127.0.0.1 on the engine's
// port; bodies are compact JSON. Replies are handed over on the main thread.
//
// The engine is locked to Velto: each launch gets a fresh password, and every
// request here to that engine's port carries it as HTTP Basic credentials
// (user "opencode"). This is the one place engine requests are made, so no
// other code needs to know the password; nothing sent elsewhere carries it.
#include "platform/Http.h"

#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>

// One engine session as the sidebar lists it and the app opens it.
struct SessionRow {
    QString id;         // the engine's session id
    QString title;      // possibly empty
    QString directory;  // the folder (absolute path) the session works in
    double updated = 0; // last update as the engine gives it; larger is newer
    QString agent;      // carried, not shown

    bool operator==(const SessionRow &) const = default;
};

namespace EngineApi {

// The user name of the engine's Basic credentials.
QString engineUser();
// Locks requests to the engine on `port` to the password of its launch (the
// engine host calls this at every start). Requests to any other port carry no
// credentials; an empty password unlocks.
void setCredentials(int port, const QString &password);
// Forgets the credentials when they are the ones of `port` (the engine on it stopped).
void clearCredentials(int port);
// The password of the engine on `port`; empty when none is known.
QString password(int port);
// "Basic " + base64("opencode:" + password) for a request to the engine on
// `port`; empty when there are no credentials for that port.
QByteArray authorization(int port);

// Milliseconds since 1970, as a double: the update time of a session the app
// has just started.
double nowMs();

// "http://127.0.0.1:" + port.
QString baseAddress(int port);
// The engine's start page: base + "/".
QUrl startPage(int port);
// The chat page of one session: base + "/" + slug(folder) + "/session/" + id.
// The id is percent-encoded as one path segment, so any id makes a valid
// address. (The engine's page for the folder alone no longer opens in that
// folder: sessions are made through the interface first, then opened here.)
QUrl sessionPage(int port, const QString &folder, const QString &id);

// The engine's session list body as rows, in the engine's order: empty unless
// the root is an array of objects; objects without a text "id" are dropped;
// other fields of another type count as absent.
QList<SessionRow> parseSessions(const QByteArray &body);
// The rows sorted by update time, newest first; equal times keep their order.
QList<SessionRow> newestFirst(QList<SessionRow> rows);

// The answers of the requests below. `reply` is the raw answer (status 0 and
// an error text when no HTTP answer came).
using ListDone = std::function<void(const QList<SessionRow> &rows)>;
using NewSessionDone = std::function<void(const std::optional<QString> &id, const Http::Response &reply)>;
using PromptDone = std::function<void(const Http::Response &reply)>;
using MessagesDone = std::function<void(const std::optional<QJsonArray> &messages, const Http::Response &reply)>;

// GET /session, 8 s. Whatever the status, the body decides: rows newest first,
// empty when it is not an array of objects (or nothing arrived).
// With a root folder, the engine's other projects are asked too: a folder
// that is its own git repository is a project of its own to the engine, and
// its sessions are listed only for it. So GET /project (8 s) follows, then
// GET /session?directory=<worktree> (8 s) for every project whose worktree is
// the root or inside it (at most kMaxProjects of them); the rows of all the
// answers are merged (each id once) and sorted newest first.
inline constexpr int kMaxProjects = 64;
void listSessions(int port, const QString &root, ListDone done);

// Whether a folder is the root or inside it (path components, not prefixes).
bool insideFolder(const QString &folder, const QString &root);
// The worktrees of the engine's project list body that lie in the root, in
// the engine's order; empty unless the body is an array.
QStringList projectsInside(const QByteArray &body, const QString &root);
// POST /session?directory=<folder, percent-encoded> {"directory": folder}:
// the engine takes the folder from the query. The id when the body is a JSON
// object with a text "id"; the status is not looked at.
void newSession(int port, const QString &folder, double timeout, NewSessionDone done);
// POST /session/<id>/prompt_async {"agent": agent, "parts": [{"type": "text",
// "text": text}]}, 30 s. An empty text is sent as it is.
void promptAsync(int port, const QString &id, const QString &agent, const QString &text, PromptDone done);
// GET /global/health, answered within `timeout` seconds (the page's own
// probe of the engine asks the same): the raw reply, status 0 when none came
// in time.
void healthReply(int port, double timeout, Http::Done done);
// GET /session?directory=<folder>: the engine brings up its instance for
// the folder on the first request naming it, which can take seconds; the
// reply (whatever it holds) says that work is done.
void warm(int port, const QString &folder, double timeout, Http::Done done);
// GET /session/<id>/message, 20 s. The list when the body is a JSON array.
void messages(int port, const QString &id, MessagesDone done);

} // namespace EngineApi
