#include "app/EngineApi.h"
#include "erp/WorkPaths.h"
#include "core/Shell.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <memory>

namespace EngineApi {

namespace {

QString segment(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QUrl address(int port, const QString &path)
{
    return QUrl(baseAddress(port) + path);
}

QString text(const QJsonObject &o, const QString &key)
{
    const QJsonValue v = o.value(key);
    return v.isString() ? v.toString() : QString();
}

struct Credentials {
    int port = 0;
    QString password;
};

Credentials &credentials()
{
    static Credentials c;
    return c;
}

void send(int port, const QByteArray &method, const QUrl &url, const std::optional<QJsonObject> &body,
          double timeout, Http::Done done)
{
    Http::Request req;
    req.method = method;
    req.url = url;
    req.timeout = timeout;
    const QByteArray auth = authorization(port);
    if (!auth.isEmpty())
        req.headers.append(Http::Header("Authorization", auth));
    if (body) {
        req.headers.append(Http::Header("Content-Type", "application/json"));
        req.body = QJsonDocument(*body).toJson(QJsonDocument::Compact);
    }
    Http::request(req, std::move(done));
}

QString folderQuery(const QString &folder)
{
    return QStringLiteral("?directory=") + segment(folder);
}

} // namespace

QString engineUser()
{
    return QStringLiteral("opencode");
}

void setCredentials(int port, const QString &password)
{
    credentials() = password.isEmpty() ? Credentials{} : Credentials{port, password};
}

void clearCredentials(int port)
{
    if (credentials().port == port)
        credentials() = Credentials{};
}

QString password(int port)
{
    const Credentials &c = credentials();
    return port > 0 && c.port == port ? c.password : QString();
}

QByteArray authorization(int port)
{
    const QString pw = password(port);
    if (pw.isEmpty())
        return {};
    return "Basic " + (engineUser() + QLatin1Char(':') + pw).toUtf8().toBase64();
}

double nowMs()
{
    return double(QDateTime::currentMSecsSinceEpoch());
}

QString baseAddress(int port)
{
    return QStringLiteral("http://127.0.0.1:") + QString::number(port);
}

QUrl startPage(int port)
{
    return address(port, QStringLiteral("/"));
}

QUrl sessionPage(int port, const QString &folder, const QString &id)
{
    return address(port, QLatin1Char('/') + slug(folder) + QStringLiteral("/session/") + segment(id));
}

QList<SessionRow> parseSessions(const QByteArray &body)
{
    QList<SessionRow> rows;
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isArray())
        return rows;
    const QJsonArray list = doc.array();
    for (const QJsonValue &v : list)
        if (!v.isObject())
            return {};
    for (const QJsonValue &v : list) {
        const QJsonObject o = v.toObject();
        if (!o.value(QStringLiteral("id")).isString())
            continue;
        SessionRow row;
        row.id = text(o, QStringLiteral("id"));
        row.title = text(o, QStringLiteral("title"));
        row.directory = text(o, QStringLiteral("directory"));
        const QJsonValue updated = o.value(QStringLiteral("time")).toObject().value(QStringLiteral("updated"));
        row.updated = updated.isDouble() ? updated.toDouble() : 0;
        row.agent = text(o, QStringLiteral("agent"));
        rows.append(row);
    }
    return rows;
}

QList<SessionRow> newestFirst(QList<SessionRow> rows)
{
    std::stable_sort(rows.begin(), rows.end(),
                     [](const SessionRow &a, const SessionRow &b) { return a.updated > b.updated; });
    return rows;
}

bool insideFolder(const QString &folder, const QString &root)
{
    if (root.isEmpty() || folder.isEmpty())
        return false;
    return folder == root || WorkPaths::inside(folder, root);
}

QStringList projectsInside(const QByteArray &body, const QString &root)
{
    QStringList out;
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    for (const QJsonValue &v : doc.array()) {
        const QString worktree = text(v.toObject(), QStringLiteral("worktree"));
        if (insideFolder(worktree, root) && !out.contains(worktree))
            out << worktree;
    }
    return out;
}

void listSessions(int port, const QString &root, ListDone done)
{
    // The answers gathered so far; done runs once the last one is in.
    struct Gather {
        QList<SessionRow> rows;
        int pending = 0;
        ListDone done;
        void add(const QList<SessionRow> &more)
        {
            for (const SessionRow &row : more) {
                const bool known = std::any_of(rows.cbegin(), rows.cend(),
                                               [&](const SessionRow &r) { return r.id == row.id; });
                if (!known)
                    rows << row;
            }
        }
        void finishOne()
        {
            if (--pending == 0)
                done(newestFirst(rows));
        }
    };
    auto gather = std::make_shared<Gather>();
    gather->done = std::move(done);
    gather->pending = root.isEmpty() ? 1 : 2;
    send(port, "GET", address(port, QStringLiteral("/session")), std::nullopt, 8, [gather](const Http::Response &r) {
        gather->add(parseSessions(r.body));
        gather->finishOne();
    });
    if (root.isEmpty())
        return;
    send(port, "GET", address(port, QStringLiteral("/project")), std::nullopt, 8, [gather, port, root](const Http::Response &r) {
        const QStringList worktrees = projectsInside(r.body, root).mid(0, kMaxProjects);
        gather->pending += int(worktrees.size());
        for (const QString &worktree : worktrees) {
            send(port, "GET", address(port, QStringLiteral("/session") + folderQuery(worktree)), std::nullopt, 8,
                 [gather](const Http::Response &reply) {
                     gather->add(parseSessions(reply.body));
                     gather->finishOne();
                 });
        }
        gather->finishOne();
    });
}

void newSession(int port, const QString &folder, double timeout, NewSessionDone done)
{
    send(port, "POST", address(port, QStringLiteral("/session") + folderQuery(folder)),
         QJsonObject{{QStringLiteral("directory"), folder}}, timeout, [done = std::move(done)](const Http::Response &r) {
             const QJsonValue id = QJsonDocument::fromJson(r.body).object().value(QStringLiteral("id"));
             done(id.isString() ? std::optional<QString>(id.toString()) : std::nullopt, r);
         });
}

void promptAsync(int port, const QString &id, const QString &agent, const QString &text, PromptDone done)
{
    const QJsonObject body{
        {QStringLiteral("agent"), agent},
        {QStringLiteral("parts"),
         QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("text")}, {QStringLiteral("text"), text}}}}};
    send(port, "POST", address(port, QStringLiteral("/session/") + segment(id) + QStringLiteral("/prompt_async")), body,
         30, std::move(done));
}

void healthReply(int port, double timeout, Http::Done done)
{
    send(port, "GET", address(port, QStringLiteral("/global/health")), std::nullopt, timeout, std::move(done));
}

void warm(int port, const QString &folder, double timeout, Http::Done done)
{
    send(port, "GET", address(port, QStringLiteral("/session") + folderQuery(folder)), std::nullopt, timeout,
         std::move(done));
}

void messages(int port, const QString &id, MessagesDone done)
{
    send(port, "GET", address(port, QStringLiteral("/session/") + segment(id) + QStringLiteral("/message")),
         std::nullopt, 20, [done = std::move(done)](const Http::Response &r) {
             const QJsonDocument doc = QJsonDocument::fromJson(r.body);
             done(doc.isArray() ? std::optional<QJsonArray>(doc.array()) : std::nullopt, r);
         });
}

} // namespace EngineApi
