// velto-standin-engine: stands in for the agent engine. Run as
//   velto-standin-engine serve --port N --hostname 127.0.0.1
// it serves the engine's local HTTP interface as the app uses it: any path
// answers (unknown ones 404), the health probe, the session list, new
// sessions, prompts and session messages, and a small working chat page for a
// folder or a session that posts {working: bool} and {home: true} to the
// page's "velto" handler.
//
// Like the engine, it brings up an instance for a folder the first time a
// request names it (a "directory" in the query) and answers nothing else
// meanwhile; and its chat page probes the engine's health within a bound
// from the moment it starts, going to routes it does not serve ("/server/...",
// no message box) when the probe is not answered in time.
//
// Environment:
//   VELTO_STANDIN_LOG       file to which its arguments, working folder,
//                           environment, every request and SIGTERM are logged
//                           (one JSON object per line)
//   VELTO_STANDIN_DELAY_MS  answer every request this many milliseconds late
//   VELTO_STANDIN_HANG      when "1", accept requests but never answer
//   VELTO_STANDIN_EXIT      exit at once with this status
//   VELTO_STANDIN_IGNORE_TERM  when "1", SIGTERM is logged and otherwise ignored
//   VELTO_STANDIN_REPLY_MS  the assistant's answer to a prompt completes this
//                           many milliseconds after the prompt (default 0)
//   VELTO_STANDIN_SESSIONS  a JSON file holding an array of sessions to start with
//   VELTO_STANDIN_WARM_MS   bringing up a folder's instance takes this many
//                           milliseconds (default 0), during which every
//                           request waits
//   VELTO_STANDIN_PAGE_PROBE_MS  the chat page's bound on its health probe
//                           (default 5000)
//   OPENCODE_SERVER_PASSWORD  locks the server: every request without HTTP Basic
//                           credentials for user "opencode" and this password
//                           is answered 401 with a Basic challenge. The log
//                           never holds the password or the credentials.
#include "StandinServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrlQuery>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace Standin;

namespace {

int termPipe[2] = {-1, -1};

void onSigterm(int)
{
    const char byte = 1;
    if (::write(termPipe[1], &byte, 1) < 0) {
    }
}

// Runs over the whole expected text whatever is given, so the time taken
// shows nothing of where the two differ.
bool sameSecret(const QByteArray &given, const QByteArray &expected)
{
    unsigned char diff = given.size() == expected.size() ? 0 : 1;
    for (qsizetype i = 0; i < expected.size(); ++i)
        diff |= static_cast<unsigned char>((i < given.size() ? given.at(i) : 0) ^ expected.at(i));
    return diff == 0;
}

// True when the request carries Basic credentials "opencode" + password.
bool authorized(const Request &req, const QByteArray &password)
{
    const QByteArray header = req.header("Authorization").trimmed();
    const qsizetype space = header.indexOf(' ');
    if (space <= 0 || header.left(space).compare("Basic", Qt::CaseInsensitive) != 0)
        return false;
    const auto decoded =
        QByteArray::fromBase64Encoding(header.mid(space + 1).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded && sameSecret(*decoded, "opencode:" + password);
}

Reply challenge()
{
    Reply r = Reply::json(QJsonObject{{QStringLiteral("error"), QStringLiteral("Unauthorized")}}, 401);
    r.headers.append(Header("WWW-Authenticate", "Basic realm=\"Velto engine\""));
    return r;
}

QString newId(const char *prefix)
{
    static quint64 counter = 0;
    return QString::fromLatin1(prefix) +
           QString::number(QRandomGenerator::global()->generate64() & 0xffffffffffULL, 16) +
           QString::number(++counter);
}

QByteArray chatPage(const QString &directory, const QString &session, int probeMs)
{
    QJsonObject state{{QStringLiteral("directory"), directory},
                      {QStringLiteral("session"), session.isEmpty() ? QJsonValue() : QJsonValue(session)},
                      {QStringLiteral("probeMs"), probeMs}};
    // '<' only occurs inside JSON strings, where \u003c reads the same.
    QByteArray stateJs = QJsonDocument(state).toJson(QJsonDocument::Compact);
    stateJs.replace("<", "\\u003c");
    QByteArray page = R"HTML(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Velto engine</title>
<style>
  html, body { height: 100%; margin: 0; }
  body { font: 14px/1.45 system-ui, sans-serif; display: flex; flex-direction: column; }
  header { padding: 10px 16px; border-bottom: 1px solid #8884; font-size: 12px; opacity: .75; }
  #log { flex: 1; overflow: auto; padding: 16px; }
  .msg { margin: 0 0 12px; white-space: pre-wrap; }
  .user { font-weight: 600; }
  form { display: flex; gap: 8px; padding: 12px 16px; border-top: 1px solid #8884; }
  textarea { flex: 1; min-height: 3em; font: inherit; }
</style>
</head>
<body>
<header>Stand-in engine &middot; <span id="dir"></span> &middot; <span id="sid"></span></header>
<div id="log"></div>
<form id="form" hidden>
  <textarea id="text" placeholder="Ask the engine"></textarea>
  <button type="submit">Send</button>
  <button type="button" id="home">New session</button>
</form>
<script>
(() => {
  const state = @STATE@;
  const $ = id => document.getElementById(id);
  const velto = m => {
    try { window.webkit.messageHandlers.velto.postMessage(m); } catch (e) {}
  };
  const json = (method, path, body) => fetch(path, {
    method, headers: {'Content-Type': 'application/json'},
    body: body === undefined ? undefined : JSON.stringify(body)
  }).then(r => r.ok ? r.json().catch(() => null) : null).catch(() => null);
  const show = () => {
    $('dir').textContent = state.directory;
    $('sid').textContent = state.session || 'new session';
  };
  const render = msgs => {
    const log = $('log');
    log.textContent = '';
    for (const m of msgs) {
      const d = document.createElement('div');
      d.className = 'msg ' + ((m.info && m.info.role) || '');
      d.textContent = (m.parts || []).filter(p => p.type === 'text').map(p => p.text).join('\n') || '\u2026';
      log.appendChild(d);
    }
    log.scrollTop = log.scrollHeight;
  };
  const inFolder = '?directory=' + encodeURIComponent(state.directory);
  const load = async () => {
    if (!state.session) return [];
    const msgs = await json('GET', '/session/' + state.session + '/message' + inFolder);
    const list = Array.isArray(msgs) ? msgs : [];
    render(list);
    return list;
  };
  const finished = msgs => {
    const last = msgs[msgs.length - 1];
    if (!last || !last.info || last.info.role !== 'assistant') return false;
    return last.info.time && last.info.time.completed != null;
  };
  $('form').addEventListener('submit', async ev => {
    ev.preventDefault();
    const text = $('text').value;
    if (!text.trim()) return;
    $('text').value = '';
    velto({working: true});
    try {
      if (!state.session) {
        const s = await json('POST', '/session', {directory: state.directory});
        if (!s || typeof s.id !== 'string') return;
        state.session = s.id;
        history.replaceState(null, '', location.pathname.replace(/\/session(\/.*)?$/, '/session/' + s.id));
        show();
      }
      await fetch('/session/' + state.session + '/prompt_async', {
        method: 'POST', headers: {'Content-Type': 'application/json'},
        body: JSON.stringify({agent: 'velto', parts: [{type: 'text', text}]})
      }).catch(() => null);
      for (let i = 0; i < 600 && !finished(await load()); i++)
        await new Promise(r => setTimeout(r, 500));
    } finally {
      velto({working: false});
    }
  });
  $('home').addEventListener('click', () => velto({home: true}));
  show();
  // The page's probe: the folder's first request, then the health, all
  // within the bound from the page's start; past it the page takes the
  // engine for another kind and moves to routes this one does not serve.
  const probe = (async () => {
    await json('GET', '/path' + inFolder);
    const h = await json('GET', '/global/health');
    return !!(h && h.healthy);
  })();
  const limit = new Promise(r => setTimeout(() => r(false), state.probeMs));
  Promise.race([probe, limit]).then(ok => {
    if (!ok) {
      location.replace('/server' + location.pathname);
      return;
    }
    $('form').hidden = false;
    load();
  });
})();
</script>
</body>
</html>
)HTML";
    page.replace("@STATE@", stateJs);
    return page;
}

struct Session {
    QString id;
    QString title;
    QString directory;
    double created = 0;
    double updated = 0;
    QString agent;
    QJsonArray messages;

    QJsonObject toJson() const
    {
        QJsonObject o{{QStringLiteral("id"), id},
                      {QStringLiteral("title"), title},
                      {QStringLiteral("directory"), directory},
                      {QStringLiteral("time"),
                       QJsonObject{{QStringLiteral("created"), created}, {QStringLiteral("updated"), updated}}}};
        if (!agent.isEmpty())
            o.insert(QStringLiteral("agent"), agent);
        return o;
    }
};

class StandinEngine {
public:
    StandinEngine(Log &log, int replyMs, int warmMs, int probeMs)
        : log_(log), replyMs_(replyMs), warmMs_(warmMs), probeMs_(probeMs)
    {
        clock_.start();
    }

    // The folder a request names in its query; empty when none.
    static QString folderOf(const Request &req)
    {
        return QUrlQuery(req.query).queryItemValue(QStringLiteral("directory"), QUrl::FullyDecoded);
    }

    // How long a request waits for the instances being brought up: the
    // first request naming a folder starts its instance, and the engine
    // answers nothing until every instance started so far is up.
    int busyMs(const Request &req)
    {
        const qint64 now = clock_.elapsed();
        const QString folder = folderOf(req);
        if (warmMs_ > 0 && !folder.isEmpty() && !warm_.contains(folder)) {
            warm_.insert(folder);
            busyUntil_ = std::max(busyUntil_, now) + warmMs_;
            log_.write({{QStringLiteral("event"), QStringLiteral("warming")}, {QStringLiteral("directory"), folder}});
        }
        return int(std::max<qint64>(0, busyUntil_ - now));
    }

    void seed(const QString &file)
    {
        QFile f(file);
        if (file.isEmpty() || !f.open(QIODevice::ReadOnly))
            return;
        for (const QJsonValue &v : QJsonDocument::fromJson(f.readAll()).array()) {
            const QJsonObject o = v.toObject();
            if (!o.value(QStringLiteral("id")).isString())
                continue;
            Session s;
            s.id = o.value(QStringLiteral("id")).toString();
            s.title = o.value(QStringLiteral("title")).toString();
            s.directory = o.value(QStringLiteral("directory")).toString();
            s.created = o.value(QStringLiteral("time")).toObject().value(QStringLiteral("created")).toDouble();
            s.updated = o.value(QStringLiteral("time")).toObject().value(QStringLiteral("updated")).toDouble();
            s.agent = o.value(QStringLiteral("agent")).toString();
            s.messages = o.value(QStringLiteral("messages")).toArray();
            sessions_.append(s);
        }
    }

    Reply handle(const Request &req)
    {
        static const QRegularExpression page(QStringLiteral("^/([A-Za-z0-9_-]+)/session(?:/([^/]+))?/?$"));
        static const QRegularExpression sessionPath(QStringLiteral("^/session/([^/]+)/(prompt_async|message)$"));

        if (req.path == QLatin1String("/global/health") && req.method == "GET")
            return Reply::json(QJsonObject{{QStringLiteral("healthy"), true}, {QStringLiteral("version"), QStringLiteral("standin")}});
        if (req.path == QLatin1String("/path") && req.method == "GET")
            return Reply::json(QJsonObject{{QStringLiteral("directory"), folderOf(req)}});
        if (req.path == QLatin1String("/session")) {
            if (req.method == "GET")
                return listSessions();
            if (req.method == "POST")
                return newSession(req);
        }
        if (const auto m = sessionPath.match(req.path); m.hasMatch()) {
            Session *s = find(m.captured(1));
            if (!s)
                return notFound();
            if (m.captured(2) == QLatin1String("prompt_async") && req.method == "POST")
                return prompt(*s, req);
            if (m.captured(2) == QLatin1String("message") && req.method == "GET")
                return Reply::json(s->messages);
        }
        if (const auto m = page.match(req.path); m.hasMatch() && req.method == "GET") {
            const QByteArray raw = m.captured(1).toLatin1();
            const auto decoded = QByteArray::fromBase64Encoding(
                raw, QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
            if (decoded)
                return Reply::html(chatPage(QString::fromUtf8(*decoded), m.captured(2), probeMs_));
        }
        return notFound();
    }

private:
    static Reply notFound()
    {
        return Reply::json(QJsonObject{{QStringLiteral("error"), QStringLiteral("Not found")}}, 404);
    }

    Session *find(const QString &id)
    {
        for (auto &s : sessions_)
            if (s.id == id)
                return &s;
        return nullptr;
    }

    Reply listSessions() const
    {
        QJsonArray list;
        for (const auto &s : sessions_)
            list.append(s.toJson());
        return Reply::json(list);
    }

    Reply newSession(const Request &req)
    {
        // The folder: the query's "directory", the body's "directory", else
        // the engine's own working folder.
        QString directory = QUrlQuery(req.query).queryItemValue(QStringLiteral("directory"), QUrl::FullyDecoded);
        if (directory.isEmpty())
            directory = QJsonDocument::fromJson(req.body).object().value(QStringLiteral("directory")).toString();
        if (directory.isEmpty())
            directory = QDir::currentPath();
        Session s;
        s.id = newId("ses_");
        s.title = QStringLiteral("New session");
        s.directory = directory;
        s.created = s.updated = nowMs();
        sessions_.append(s);
        return Reply::json(s.toJson());
    }

    Reply prompt(Session &s, const Request &req)
    {
        const QJsonObject body = QJsonDocument::fromJson(req.body).object();
        const QJsonArray parts = body.value(QStringLiteral("parts")).toArray();
        QStringList texts;
        for (const QJsonValue &p : parts)
            if (p.toObject().value(QStringLiteral("type")).toString() == QLatin1String("text"))
                texts.append(p.toObject().value(QStringLiteral("text")).toString());
        const QString text = texts.join(QLatin1Char('\n'));
        const QString agent = body.value(QStringLiteral("agent")).toString();
        const double now = nowMs();
        if (!agent.isEmpty())
            s.agent = agent;
        if (s.title == QLatin1String("New session") && !text.trimmed().isEmpty())
            s.title = text.trimmed().section(QLatin1Char('\n'), 0, 0).left(50);
        s.updated = now;

        s.messages.append(QJsonObject{
            {QStringLiteral("info"), QJsonObject{{QStringLiteral("id"), newId("msg_")},
                                                 {QStringLiteral("sessionID"), s.id},
                                                 {QStringLiteral("role"), QStringLiteral("user")},
                                                 {QStringLiteral("time"), QJsonObject{{QStringLiteral("created"), now}}}}},
            {QStringLiteral("parts"), parts}});
        const QString answerId = newId("msg_");
        s.messages.append(QJsonObject{
            {QStringLiteral("info"), QJsonObject{{QStringLiteral("id"), answerId},
                                                 {QStringLiteral("sessionID"), s.id},
                                                 {QStringLiteral("role"), QStringLiteral("assistant")},
                                                 {QStringLiteral("time"), QJsonObject{{QStringLiteral("created"), now},
                                                                                      {QStringLiteral("completed"), QJsonValue()}}}}},
            {QStringLiteral("parts"), QJsonArray{}}});

        const QString sessionId = s.id;
        const QString answer = QStringLiteral("Stand-in engine: received \u201c%1\u201d.").arg(text.left(200));
        QTimer::singleShot(replyMs_, [this, sessionId, answerId, answer] { complete(sessionId, answerId, answer); });
        return Reply::empty(204);
    }

    void complete(const QString &sessionId, const QString &messageId, const QString &answer)
    {
        Session *s = find(sessionId);
        if (!s)
            return;
        for (qsizetype i = 0; i < s->messages.size(); ++i) {
            QJsonObject m = s->messages.at(i).toObject();
            QJsonObject info = m.value(QStringLiteral("info")).toObject();
            if (info.value(QStringLiteral("id")).toString() != messageId)
                continue;
            QJsonObject time = info.value(QStringLiteral("time")).toObject();
            const double now = nowMs();
            time.insert(QStringLiteral("completed"), now);
            info.insert(QStringLiteral("time"), time);
            m.insert(QStringLiteral("info"), info);
            m.insert(QStringLiteral("parts"),
                     QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("text")},
                                            {QStringLiteral("text"), answer}}});
            s->messages.replace(i, m);
            s->updated = now;
            log_.write({{QStringLiteral("event"), QStringLiteral("answered")}, {QStringLiteral("session"), sessionId}});
        }
    }

    Log &log_;
    int replyMs_;
    int warmMs_;
    int probeMs_;
    QElapsedTimer clock_;
    QSet<QString> warm_;
    qint64 busyUntil_ = 0;
    QList<Session> sessions_;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    Log log(env.value(QStringLiteral("VELTO_STANDIN_LOG")));

    const QByteArray password = env.value(QStringLiteral("OPENCODE_SERVER_PASSWORD")).toUtf8();
    QJsonObject envJson;
    for (const QString &key : env.keys())
        envJson.insert(key, env.value(key));
    if (!password.isEmpty())
        envJson.insert(QStringLiteral("OPENCODE_SERVER_PASSWORD"), QStringLiteral("(set)"));
    const QStringList args = app.arguments().mid(1);
    log.write({{QStringLiteral("event"), QStringLiteral("start")},
               {QStringLiteral("pid"), double(QCoreApplication::applicationPid())},
               {QStringLiteral("args"), QJsonArray::fromStringList(args)},
               {QStringLiteral("cwd"), QDir::currentPath()},
               {QStringLiteral("env"), envJson}});

    if (env.contains(QStringLiteral("VELTO_STANDIN_EXIT"))) {
        const int status = env.value(QStringLiteral("VELTO_STANDIN_EXIT")).toInt();
        log.write({{QStringLiteral("event"), QStringLiteral("exit")}, {QStringLiteral("status"), status}});
        return status;
    }

    QString host = QStringLiteral("127.0.0.1");
    int port = 4096;
    for (qsizetype i = 0; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--port"))
            port = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--hostname"))
            host = args.at(i + 1);
    }

    if (::pipe2(termPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        struct sigaction sa {};
        sa.sa_handler = onSigterm;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &sa, nullptr);
        auto *notifier = new QSocketNotifier(termPipe[0], QSocketNotifier::Read, &app);
        const bool ignoreTerm = env.value(QStringLiteral("VELTO_STANDIN_IGNORE_TERM")) == QLatin1String("1");
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [&log, ignoreTerm] {
            char buf[16];
            while (::read(termPipe[0], buf, sizeof buf) > 0) {
            }
            log.write({{QStringLiteral("event"), QStringLiteral("signal")},
                       {QStringLiteral("signal"), QStringLiteral("TERM")},
                       {QStringLiteral("pid"), double(QCoreApplication::applicationPid())}});
            if (!ignoreTerm)
                QCoreApplication::exit(0);
        });
    }

    const int delayMs = env.value(QStringLiteral("VELTO_STANDIN_DELAY_MS")).toInt();
    const bool hang = env.value(QStringLiteral("VELTO_STANDIN_HANG")) == QLatin1String("1");
    const QString probeMs = env.value(QStringLiteral("VELTO_STANDIN_PAGE_PROBE_MS"));
    StandinEngine engine(log, std::max(0, env.value(QStringLiteral("VELTO_STANDIN_REPLY_MS")).toInt()),
                         std::max(0, env.value(QStringLiteral("VELTO_STANDIN_WARM_MS")).toInt()),
                         probeMs.isEmpty() ? 5000 : std::max(0, probeMs.toInt()));
    engine.seed(env.value(QStringLiteral("VELTO_STANDIN_SESSIONS")));

    Server server([&](const Request &req) {
        QJsonObject entry = req.toJson();
        const bool allowed = password.isEmpty() || authorized(req, password);
        if (!password.isEmpty()) {
            QJsonObject headers = entry.value(QStringLiteral("headers")).toObject();
            if (headers.contains(QStringLiteral("authorization")))
                headers.insert(QStringLiteral("authorization"), QStringLiteral("(hidden)"));
            entry.insert(QStringLiteral("headers"), headers);
            entry.insert(QStringLiteral("authorized"), allowed);
        }
        log.write(entry);
        if (hang) {
            Reply r;
            r.hang = true;
            return r;
        }
        Reply r = allowed ? engine.handle(req) : challenge();
        r.delayMs = delayMs + (allowed ? engine.busyMs(req) : 0);
        return r;
    });
    if (!server.listen(host, quint16(port))) {
        log.write({{QStringLiteral("event"), QStringLiteral("error")},
                   {QStringLiteral("message"), QStringLiteral("cannot listen on %1:%2").arg(host).arg(port)}});
        return 1;
    }
    log.write({{QStringLiteral("event"), QStringLiteral("listening")}, {QStringLiteral("port"), port}});
    return QCoreApplication::exec();
}
