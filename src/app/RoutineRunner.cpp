#include "app/RoutineRunner.h"
#include "core/Characters.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "platform/Dispatch.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

// Shared with a claim still waiting for its reply: once the runner is retired
// that reply must not start anything, and a run it claims is reported failed
// even when the runner is gone by then.
struct RoutineRunner::Retirement {
    std::optional<QString> error;
};

namespace {

const QString unattendedRules = QStringLiteral(
    "\n\nThis is running on a schedule, so nobody is necessarily watching. Prepare everything and stop where you "
    "always stop. Do not submit, file, pay, or enter an OTP, an EVC or a DSC. If you need the CA for a captcha or a "
    "decision, write what you need into the summary and leave the work ready for them.");

constexpr int summaryLimit = 3000;

// The seat token, read afresh on every use; empty means none.
QString seatToken()
{
    return readEnvFile(SEAT_ENV).value(QStringLiteral("PAVI_SEAT_TOKEN"));
}

// A cloud request under "/cli/routines" + suffix; none without a seat token
// or when the service address cannot be formed.
std::optional<Http::Request> request(const QString &suffix, const std::optional<QJsonObject> &body, double timeout)
{
    const QString token = seatToken();
    if (token.isEmpty())
        return std::nullopt;
    const QUrl url(API + QStringLiteral("/cli/routines") + suffix);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return std::nullopt;
    Http::Request req;
    req.url = url;
    req.timeout = timeout;
    req.headers = {{"Authorization", "Bearer " + token.toUtf8()}};
    if (body) {
        req.method = "POST";
        req.headers.append(Http::Header("Content-Type", "application/json"));
        req.body = QJsonDocument(*body).toJson(QJsonDocument::Compact);
    }
    return req;
}

// Tells the cloud how a run ended; the reply is not read.
void report(qint64 runId, bool done, const QString &summary, const QString &error)
{
    const auto req = request(QStringLiteral("_finish"),
                             QJsonObject{{QStringLiteral("run_id"), runId},
                                         {QStringLiteral("status"), done ? QStringLiteral("done") : QStringLiteral("failed")},
                                         {QStringLiteral("summary"), summary},
                                         {QStringLiteral("error"), error}},
                             RoutineRunner::requestTimeout);
    if (req)
        Http::request(*req, [](const Http::Response &) {});
}

// A claimed run as the claim reply gives it; none when the claim came to nothing.
struct ClaimedRun {
    qint64 runId = 0;
    QString name, prompt, agent;
};

std::optional<ClaimedRun> parseClaim(const QByteArray &body)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonValue runId = o.value(QStringLiteral("run_id"));
    const QJsonValue routine = o.value(QStringLiteral("routine"));
    if (o.value(QStringLiteral("claimed")) != QJsonValue(true) || !runId.isDouble() || !routine.isObject())
        return std::nullopt;
    const QJsonObject r = routine.toObject();
    const QJsonValue prompt = r.value(QStringLiteral("prompt"));
    if (!prompt.isString() || prompt.toString().isEmpty())
        return std::nullopt;
    ClaimedRun run;
    run.runId = qint64(runId.toDouble());
    run.prompt = prompt.toString();
    const QJsonValue name = r.value(QStringLiteral("name"));
    run.name = name.isString() ? name.toString() : QStringLiteral("Routine");
    const QJsonValue agent = r.value(QStringLiteral("agent"));
    run.agent = agent.isString() && !agent.toString().isEmpty() ? agent.toString() : QStringLiteral("velto");
    return run;
}

// The id of the first due routine; none when nothing is due or the reply is
// not what the cloud sends.
std::optional<qint64> firstDue(const QByteArray &body)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonValue due = o.value(QStringLiteral("due"));
    if (o.value(QStringLiteral("success")) != QJsonValue(true) || !due.isArray())
        return std::nullopt;
    const QJsonArray list = due.toArray();
    for (const QJsonValue &v : list)
        if (!v.isObject())
            return std::nullopt;
    if (list.isEmpty())
        return std::nullopt;
    const QJsonValue id = list.first().toObject().value(QStringLiteral("id"));
    if (!id.isDouble())
        return std::nullopt;
    return qint64(id.toDouble());
}

double secondsSince(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

} // namespace

RoutineRunner::RoutineRunner()
    : retirement_(std::make_shared<Retirement>()), self_(std::make_shared<RoutineRunner *>(this))
{
}

RoutineRunner::~RoutineRunner() = default;

// --- the poll schedule ------------------------------------------------------------

void RoutineRunner::start()
{
    if (retirement_->error)
        return;
    ++schedule_;
    polling_ = true;
    schedulePoll(pollInterval, true);
    schedulePoll(firstPollDelay, false);
}

void RoutineRunner::stop()
{
    ++schedule_;
    polling_ = false;
}

void RoutineRunner::schedulePoll(double seconds, bool repeat)
{
    std::weak_ptr<RoutineRunner *> weak = self_;
    const int schedule = schedule_;
    Dispatch::after(seconds, [weak, schedule, repeat] {
        const auto alive = weak.lock();
        if (!alive)
            return;
        RoutineRunner *self = *alive;
        if (self->schedule_ != schedule)
            return;
        // The next tick is set before this one's work, as a repeating timer does.
        if (repeat)
            self->schedulePoll(pollInterval, true);
        self->poll();
    });
}

void RoutineRunner::retire(const QString &error)
{
    stop();
    retirement_->error = error;
    if (runId_) {
        finishRun(*runId_, false, QString(), error);
        return;
    }
    // A claim in flight stays busy: its reply reports what it claimed.
}

// --- poll and claim ----------------------------------------------------------------

void RoutineRunner::poll()
{
    if (busy_ || retirement_->error)
        return;
    const auto req = request(QStringLiteral("_due"), std::nullopt, requestTimeout);
    if (!req)
        return;
    std::weak_ptr<RoutineRunner *> weak = self_;
    Http::request(*req, [weak](const Http::Response &reply) {
        const auto alive = weak.lock();
        if (!alive)
            return;
        RoutineRunner *self = *alive;
        if (self->retirement_->error)
            return;
        if (const auto id = firstDue(reply.body))
            self->claim(*id);
    });
}

void RoutineRunner::claim(qint64 routineId)
{
    if (busy_)
        return;
    const auto req = request(QStringLiteral("_claim"), QJsonObject{{QStringLiteral("id"), routineId}}, requestTimeout);
    if (!req)
        return;
    busy_ = true;
    std::weak_ptr<RoutineRunner *> weak = self_;
    std::shared_ptr<Retirement> retirement = retirement_;
    Http::request(*req, [weak, retirement](const Http::Response &reply) {
        if (retirement->error) {
            // Given up while the claim was out: whatever it claimed is
            // reported at once and nothing is started.
            if (const auto run = parseClaim(reply.body))
                report(run->runId, false, QString(), *retirement->error);
            if (const auto alive = weak.lock())
                (*alive)->busy_ = false;
            return;
        }
        if (const auto alive = weak.lock())
            (*alive)->claimAnswered(reply);
    });
}

void RoutineRunner::claimAnswered(const Http::Response &reply)
{
    const auto claimed = parseClaim(reply.body);
    if (!claimed) {
        busy_ = false;
        return;
    }
    runId_ = claimed->runId;
    run(claimed->runId, claimed->name, claimed->prompt, claimed->agent);
}

// --- the run ------------------------------------------------------------------------

bool RoutineRunner::current(qint64 runId) const
{
    return runId_ && *runId_ == runId && !retirement_->error;
}

void RoutineRunner::finishRun(qint64 runId, bool done, const QString &summary, const QString &error)
{
    report(runId, done, summary, error);
    runId_.reset();
    busy_ = false;
}

void RoutineRunner::run(qint64 runId, const QString &name, const QString &prompt, const QString &agent)
{
    if (!enginePort) {
        runId_.reset();
        busy_ = false;
        return;
    }
    const int port = enginePort();
    const QString folder = routineWorkingDirectory ? routineWorkingDirectory() : HOME;
    std::weak_ptr<RoutineRunner *> weak = self_;
    EngineApi::newSession(port, folder, 20,
                          [weak, runId, port, folder, name, agent, prompt](const std::optional<QString> &id,
                                                                          const Http::Response &reply) {
                              if (const auto alive = weak.lock())
                                  (*alive)->sessionStarted(runId, port, folder, name, agent, prompt, id, reply);
                          });
}

void RoutineRunner::sessionStarted(qint64 runId, int port, const QString &folder, const QString &name,
                                   const QString &agent, const QString &prompt, const std::optional<QString> &id,
                                   const Http::Response &reply)
{
    if (!current(runId))
        return;
    if (!id) {
        finishRun(runId, false, QString(),
                  QStringLiteral("The engine did not start a session: ") +
                      (reply.error.isEmpty() ? QStringLiteral("no id returned") : reply.error));
        return;
    }
    const QString sessionId = *id;
    // The CA sees the routine's session at once and may take over.
    std::weak_ptr<RoutineRunner *> weak = self_;
    Dispatch::onMain([weak, sessionId, name, folder, agent, port] {
        const auto alive = weak.lock();
        if (!alive)
            return;
        RoutineRunner *self = *alive;
        if (self->openSession)
            self->openSession(SessionRow{sessionId, name, folder, EngineApi::nowMs(), agent});
        if (self->refreshSessions)
            self->refreshSessions(port);
    });
    EngineApi::promptAsync(port, sessionId, agent, promptText(name, prompt),
                           [weak, runId, port, sessionId](const Http::Response &r) {
                               if (const auto alive = weak.lock())
                                   (*alive)->promptAnswered(runId, port, sessionId, r);
                           });
}

void RoutineRunner::promptAnswered(qint64 runId, int port, const QString &sessionId, const Http::Response &reply)
{
    if (!current(runId))
        return;
    if (reply.status >= 200 && reply.status <= 299 && reply.error.isEmpty()) {
        scheduleWatch(runId, port, sessionId, std::chrono::steady_clock::now());
        return;
    }
    finishRun(runId, false, QString(),
              QStringLiteral("The engine refused the prompt (HTTP ") + QString::number(reply.status) +
                  QStringLiteral(") ") + reply.error);
}

void RoutineRunner::scheduleWatch(qint64 runId, int port, const QString &sessionId,
                                  std::chrono::steady_clock::time_point startedAt)
{
    std::weak_ptr<RoutineRunner *> weak = self_;
    Dispatch::after(watchInterval, [weak, runId, port, sessionId, startedAt] {
        if (const auto alive = weak.lock())
            (*alive)->watch(runId, port, sessionId, startedAt);
    });
}

void RoutineRunner::watch(qint64 runId, int port, const QString &sessionId,
                          std::chrono::steady_clock::time_point startedAt)
{
    if (!current(runId))
        return;
    if (secondsSince(startedAt) > runCeiling * Dispatch::timeScale) {
        // The session stays open for the CA; the engine is not stopped.
        finishRun(runId, false, QString(),
                  QStringLiteral("Still running after ") + QStringLiteral("45") +
                      QStringLiteral(" minutes. The session is open in Velto if you want to carry on by hand."));
        return;
    }
    std::weak_ptr<RoutineRunner *> weak = self_;
    EngineApi::messages(port, sessionId, [weak, runId, port, sessionId, startedAt](
                                             const std::optional<QJsonArray> &messages, const Http::Response &) {
        const auto alive = weak.lock();
        if (!alive)
            return;
        RoutineRunner *self = *alive;
        if (!self->current(runId))
            return;
        if (messages && !messages->isEmpty() && messages->last().isObject()) {
            const QJsonObject last = messages->last().toObject();
            if (const std::optional<QString> error = answerError(last)) {
                self->finishRun(runId, false, QString(), *error);
                return;
            }
            if (answerCompleted(last)) {
                self->finishRun(runId, true, textOf(last), QString());
                return;
            }
        }
        self->scheduleWatch(runId, port, sessionId, startedAt);
    });
}

// --- texts ----------------------------------------------------------------------------

bool RoutineRunner::answerCompleted(const QJsonObject &lastMessage)
{
    const QJsonValue info = lastMessage.value(QStringLiteral("info"));
    const QJsonObject descriptor = info.isObject() ? info.toObject() : lastMessage;
    const QJsonValue role = descriptor.value(QStringLiteral("role"));
    const QJsonObject time = descriptor.value(QStringLiteral("time")).toObject();
    const QJsonValue completed = time.value(QStringLiteral("completed"));
    return role.isString() && role.toString() == QLatin1String("assistant") && !completed.isUndefined() &&
           !completed.isNull();
}

std::optional<QString> RoutineRunner::answerError(const QJsonObject &lastMessage)
{
    const QJsonValue info = lastMessage.value(QStringLiteral("info"));
    const QJsonObject descriptor = info.isObject() ? info.toObject() : lastMessage;
    if (descriptor.value(QStringLiteral("role")) != QJsonValue(QStringLiteral("assistant")))
        return std::nullopt;
    const QJsonValue error = descriptor.value(QStringLiteral("error"));
    if (error.isUndefined() || error.isNull() || error == QJsonValue(false))
        return std::nullopt;
    const auto textAt = [](const QJsonObject &o, const char *key) {
        const QJsonValue v = o.value(QLatin1String(key));
        return v.isString() ? Characters::trimSpacesTabs(v.toString()) : QString();
    };
    QString text;
    if (error.isString()) {
        text = Characters::trimSpacesTabs(error.toString());
    } else if (error.isObject()) {
        const QJsonObject o = error.toObject();
        text = textAt(o.value(QStringLiteral("data")).toObject(), "message");
        if (text.isEmpty())
            text = textAt(o, "message");
        if (text.isEmpty())
            text = textAt(o, "name");
    }
    if (text.isEmpty())
        text = QStringLiteral("The engine ended the routine's answer with an error.");
    return Characters::left(text, summaryLimit);
}

QString RoutineRunner::textOf(const QJsonObject &message)
{
    QStringList texts;
    for (const QJsonValue &v : message.value(QStringLiteral("parts")).toArray()) {
        const QJsonObject part = v.toObject();
        const QJsonValue text = part.value(QStringLiteral("text"));
        if (part.value(QStringLiteral("type")) == QJsonValue(QStringLiteral("text")) && text.isString())
            texts.append(text.toString());
    }
    return Characters::left(texts.join(QLatin1Char('\n')).trimmed(), summaryLimit);
}

QString RoutineRunner::promptText(const QString &name, const QString &prompt)
{
    return QStringLiteral("[Scheduled: ") + name + QStringLiteral("]\n\n") + prompt + unattendedRules;
}
