// The routine runner: polling on its schedule, claiming the first due routine,
// starting and prompting its session, watching it until the answer completes
// (or the ceiling), reporting the outcome, and every failure on the way.
#include "AppTestKit.h"
#include "app/EngineApi.h"
#include "app/RoutineRunner.h"
#include "core/Globals.h"
#include "core/Shell.h"
#include "platform/Dispatch.h"
#include "support/FakeHttpServer.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <atomic>

using namespace AppTestKit;
using TestKit::FakeReply;
using TestKit::RecordedRequest;
using TestKit::waitFor;

namespace {

QJsonObject message(const QString &role, const QJsonValue &completed, const QJsonArray &parts = {})
{
    QJsonObject time{{"created", 1}};
    if (!completed.isUndefined())
        time.insert("completed", completed);
    return QJsonObject{{"info", QJsonObject{{"id", "m"}, {"role", role}, {"time", time}}}, {"parts", parts}};
}

QJsonObject textPart(const QString &text) { return {{"type", "text"}, {"text", text}}; }

// No answer at all: the request times out.
FakeReply hung()
{
    FakeReply r;
    r.hang = true;
    return r;
}

// The connection closes without an answer.
FakeReply dropped()
{
    FakeReply r;
    r.drop = true;
    return r;
}

const QString rules =
    "\n\nThis is running on a schedule, so nobody is necessarily watching. Prepare everything and stop where you "
    "always stop. Do not submit, file, pay, or enter an OTP, an EVC or a DSC. If you need the CA for a captcha or a "
    "decision, write what you need into the summary and leave the work ready for them.";

TEST(RoutineTexts, PromptText)
{
    EXPECT_EQ(RoutineRunner::promptText("GST check", "Check GSTR-2B."),
              "[Scheduled: GST check]\n\nCheck GSTR-2B." + rules);
    // A prompt's own line feeds are kept; the rules follow them unchanged.
    EXPECT_EQ(RoutineRunner::promptText("R", "Do it\n\n"), "[Scheduled: R]\n\nDo it\n\n" + rules);
}

TEST(RoutineTexts, Summary)
{
    const QJsonObject tool{{"type", "tool"}, {"text", "not me"}, {"tool", "browser_open"}};
    EXPECT_EQ(RoutineRunner::textOf({{"parts", QJsonArray{tool, textPart("  First\n"), textPart("Second \n")}}}),
              "First\n\nSecond");
    EXPECT_EQ(RoutineRunner::textOf({{"parts", QJsonArray{textPart("a"), textPart(""), textPart("b")}}}), "a\n\nb")
        << "empty texts count";
    EXPECT_EQ(RoutineRunner::textOf({{"parts", QJsonArray{QJsonObject{{"type", "text"}, {"text", 5}}, 3}}}), "");
    EXPECT_EQ(RoutineRunner::textOf({{"parts", "text"}}), "");
    EXPECT_EQ(RoutineRunner::textOf({}), "");

    const QString longText = QString(2999, 'x') + "yz";
    EXPECT_EQ(RoutineRunner::textOf({{"parts", QJsonArray{textPart(longText)}}}), QString(2999, 'x') + "y");
    // The cut never splits a character.
    const QString emoji = QString(2999, 'x') + QString::fromUtf8("\xF0\x9F\x93\x84") + "z";
    EXPECT_EQ(RoutineRunner::textOf({{"parts", QJsonArray{textPart(emoji)}}}),
              QString(2999, 'x') + QString::fromUtf8("\xF0\x9F\x93\x84"));
}

TEST(RoutineTexts, CompletedAnswer)
{
    struct Case {
        QJsonObject last;
        bool done;
    };
    const QJsonObject bare{{"role", "assistant"}, {"time", QJsonObject{{"completed", 5}}}};
    const QList<Case> cases{
        {message("assistant", 1712345678901.0), true},
        {message("assistant", 0), true},
        {message("assistant", "yes"), true},
        {message("assistant", QJsonValue()), false},        // completed: null
        {message("assistant", QJsonValue::Undefined), false}, // no completed entry
        {message("user", 5), false},
        {message("Assistant", 5), false},
        {bare, true}, // no "info": the message itself describes it
        {QJsonObject{{"info", "x"}, {"role", "assistant"}, {"time", QJsonObject{{"completed", 1}}}}, true},
        {QJsonObject{{"info", QJsonObject{{"role", "assistant"}, {"time", 5}}}}, false},
        {QJsonObject{}, false},
    };
    for (qsizetype i = 0; i < cases.size(); ++i)
        EXPECT_EQ(RoutineRunner::answerCompleted(cases[i].last), cases[i].done) << "case " << i;
}

// The same message with an error in its descriptor.
QJsonObject withError(QJsonObject message, const QJsonValue &error)
{
    QJsonObject info = message.value("info").toObject();
    info.insert("error", error);
    message.insert("info", info);
    return message;
}

TEST(RoutineTexts, AnswerError)
{
    const QJsonObject answered = message("assistant", 5, {textPart("Half done.")});
    const QJsonObject aborted = message("assistant", QJsonValue::Undefined);
    const QJsonObject apiError{{"name", "APIError"},
                               {"data", QJsonObject{{"message", "Rate limited by the model provider"}}}};
    const struct {
        QJsonObject last;
        std::optional<QString> error;
    } cases[] = {
        {answered, std::nullopt},
        {withError(answered, QJsonValue()), std::nullopt},
        {withError(answered, apiError), "Rate limited by the model provider"},
        {withError(aborted, QJsonObject{{"name", "MessageAbortedError"}, {"data", QJsonObject{}}}),
         "MessageAbortedError"},
        {withError(aborted, QJsonObject{{"message", "  tool crashed "}}), "tool crashed"},
        {withError(aborted, "out of credit"), "out of credit"},
        {withError(aborted, QJsonObject{}), "The engine ended the routine's answer with an error."},
        {withError(message("user", 5), apiError), std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(RoutineRunner::answerError(c.last), c.error) << QJsonDocument(c.last).toJson().toStdString();
}

// One fake on loopback plays both the cloud (/cli/...) and the engine
// (/session...). By default one routine is due, it is claimed, the engine
// starts session "ses_r" and its answer is complete at the first check.
class RoutineRunnerTest : public TestKit::HomeTest {
protected:
    std::unique_ptr<ScopedTimeScale> scale;
    TestKit::FakeHttpServer fake;
    std::unique_ptr<RoutineRunner> runner;
    QList<SessionRow> opened;
    QList<int> refreshed;
    QString folder = "/clients/Sharma & Co";
    int enginePort = 0;

    void SetUp() override
    {
        HomeTest::SetUp();
        useScale(0.01);
        home->write(".velto/seat.env", "PAVI_SEAT_TOKEN=seat-tok\n");
        home->refill({{"VELTO_API", fake.baseUrl()}});
        enginePort = fake.port();
        fake.on("GET", "/cli/routines_due", FakeReply::json(QJsonObject{{"success", true}, {"due", QJsonArray{QJsonObject{{"id", 7}}}}}));
        fake.on("POST", "/cli/routines_claim", FakeReply::json(claimed(41, "GST check", "Check GSTR-2B.", "audit")));
        fake.on("POST", "/cli/routines_finish", FakeReply::json(QJsonObject{{"success", true}}));
        fake.on("POST", "/session", FakeReply::json(QJsonObject{{"id", "ses_r"}}));
        fake.on("POST", "/session/ses_r/prompt_async", FakeReply::text("", 204));
        answerWith(QJsonArray{message("user", QJsonValue::Undefined, {textPart("p")}),
                              message("assistant", 99, {textPart("Done: 3 mismatches.\n")})});
        makeRunner();
    }
    void TearDown() override
    {
        runner.reset();
        scale.reset();
        HomeTest::TearDown();
    }
    void useScale(double s)
    {
        scale.reset();
        scale = std::make_unique<ScopedTimeScale>(s);
    }
    void makeRunner()
    {
        runner = std::make_unique<RoutineRunner>();
        runner->enginePort = [this] { return enginePort; };
        runner->routineWorkingDirectory = [this] { return folder; };
        runner->openSession = [this](const SessionRow &row) { opened.append(row); };
        runner->refreshSessions = [this](int port) { refreshed.append(port); };
    }
    static QJsonObject claimed(double runId, const QJsonValue &name, const QJsonValue &prompt, const QJsonValue &agent)
    {
        QJsonObject routine;
        if (!name.isUndefined())
            routine.insert("name", name);
        if (!prompt.isUndefined())
            routine.insert("prompt", prompt);
        if (!agent.isUndefined())
            routine.insert("agent", agent);
        return {{"claimed", true}, {"run_id", runId}, {"routine", routine}};
    }
    void answerWith(const QJsonArray &messages)
    {
        fake.on("GET", "/session/ses_r/message", FakeReply::json(QJsonDocument(messages)));
    }
    QList<RecordedRequest> to(const QString &path) const { return fake.requestsTo(path); }
    // The finish report, once it came.
    std::optional<QJsonObject> finished(int ms = 15000) const
    {
        if (!waitFor([&] { return !to("/cli/routines_finish").isEmpty(); }, ms))
            return std::nullopt;
        return to("/cli/routines_finish").first().json();
    }
    static QJsonObject failed(double runId, const QString &error)
    {
        return {{"run_id", runId}, {"status", "failed"}, {"summary", ""}, {"error", error}};
    }
};

TEST_F(RoutineRunnerTest, ADueRoutineIsClaimedRunWatchedAndReportedDone)
{
    // The engine on the fake's port is locked; the cloud shares the port but
    // must never be sent the engine's credentials.
    EngineApi::setCredentials(enginePort, "engine-pw");
    const std::shared_ptr<void> unlock(nullptr, [port = enginePort](void *) { EngineApi::clearCredentials(port); });
    const QByteArray engineAuth = "Basic " + QByteArray("opencode:engine-pw").toBase64();
    runner->start();
    const auto report = finished();
    ASSERT_TRUE(report);
    EXPECT_EQ(*report, (QJsonObject{{"run_id", 41}, {"status", "done"}, {"summary", "Done: 3 mismatches."}, {"error", ""}}));
    EXPECT_TRUE(waitFor([&] { return !runner->isBusy(); }));

    // The cloud requests: bearer token, JSON bodies on the POSTs.
    const auto due = to("/cli/routines_due");
    ASSERT_EQ(due.size(), 1);
    EXPECT_EQ(due[0].method, "GET");
    EXPECT_EQ(due[0].header("Authorization"), "Bearer seat-tok");
    EXPECT_TRUE(due[0].body.isEmpty());
    for (const char *path : {"/cli/routines_claim", "/cli/routines_finish"}) {
        const auto r = to(path);
        ASSERT_EQ(r.size(), 1) << path;
        EXPECT_EQ(r[0].method, "POST");
        EXPECT_EQ(r[0].header("Authorization"), "Bearer seat-tok");
        EXPECT_EQ(r[0].header("Content-Type"), "application/json");
    }
    EXPECT_EQ(to("/cli/routines_claim")[0].json(), (QJsonObject{{"id", 7}}));

    // The engine: a session in the routine folder (named in the query too),
    // then the prompt, all with the engine's credentials.
    const auto session = to("/session");
    ASSERT_EQ(session.size(), 1);
    EXPECT_EQ(session[0].method, "POST");
    EXPECT_EQ(session[0].json(), (QJsonObject{{"directory", folder}}));
    EXPECT_EQ(session[0].queryItems().queryItemValue("directory", QUrl::FullyDecoded), folder);
    for (const auto &r : fake.requests()) {
        if (r.path.startsWith("/session")) {
            EXPECT_EQ(r.header("Authorization"), engineAuth) << r.path.toStdString();
        } else {
            EXPECT_FALSE(r.header("Authorization").startsWith("Basic")) << r.path.toStdString();
        }
    }
    const auto prompt = to("/session/ses_r/prompt_async");
    ASSERT_EQ(prompt.size(), 1);
    EXPECT_EQ(prompt[0].json(),
              (QJsonObject{{"agent", "audit"},
                           {"parts", QJsonArray{textPart("[Scheduled: GST check]\n\nCheck GSTR-2B." + rules)}}}));
    EXPECT_EQ(to("/session/ses_r/message").size(), 1);

    // The CA sees the session: opened in the chat view, the sidebar reloaded.
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].id, "ses_r");
    EXPECT_EQ(opened[0].title, "GST check");
    EXPECT_EQ(opened[0].directory, folder);
    EXPECT_EQ(opened[0].agent, "audit");
    EXPECT_NEAR(opened[0].updated, EngineApi::nowMs(), 60000);
    EXPECT_EQ(refreshed, QList<int>{enginePort});
}

TEST_F(RoutineRunnerTest, PollsAt60SecondsThenEvery300UntilStopped)
{
    useScale(0.005); // 60 s -> 0.3 s, 300 s -> 1.5 s
    fake.on("GET", "/cli/routines_due", FakeReply::json(QJsonObject{{"success", true}, {"due", QJsonArray{}}}));
    QElapsedTimer clock;
    clock.start();
    runner->start();
    QList<double> at;
    for (int n = 1; n <= 3; ++n) {
        ASSERT_TRUE(waitFor([&] { return to("/cli/routines_due").size() >= n; }, 10000)) << n;
        at.append(clock.elapsed() / 1000.0);
    }
    EXPECT_GE(at[0], 0.29);
    EXPECT_LT(at[0], 1.2);
    EXPECT_GE(at[1], 1.49) << "the repeating poll counts from start(), not from the first poll";
    EXPECT_LT(at[1], 2.4);
    EXPECT_GE(at[2], 2.99);
    EXPECT_LT(at[2], 3.9);
    EXPECT_TRUE(to("/cli/routines_claim").isEmpty()) << "nothing due, nothing claimed";

    runner->stop();
    EXPECT_FALSE(runner->isPolling());
    TestKit::spin(2000);
    EXPECT_EQ(to("/cli/routines_due").size(), 3);

    // Stopping before the first poll cancels it too; a fresh start begins anew.
    runner->start();
    runner->stop();
    TestKit::spin(700);
    EXPECT_EQ(to("/cli/routines_due").size(), 3);
    runner->start();
    runner->start();
    EXPECT_TRUE(waitFor([&] { return to("/cli/routines_due").size() == 4; }, 5000));
    TestKit::spin(500);
    EXPECT_EQ(to("/cli/routines_due").size(), 4) << "a restart leaves one schedule";
}

TEST_F(RoutineRunnerTest, WithoutASeatTokenOrAddressNothingIsSent)
{
    useScale(0.005); // the first poll after 0.3 s
    for (const QByteArray &seat : {QByteArray(""), QByteArray("PAVI_SEAT_TOKEN=\n"), QByteArray("OTHER=1\n")}) {
        home->write(".velto/seat.env", seat);
        makeRunner();
        runner->start();
        TestKit::spin(500);
        EXPECT_TRUE(fake.requests().isEmpty()) << seat.toStdString();
        EXPECT_FALSE(runner->isBusy());
    }
    home->write(".velto/seat.env", "PAVI_SEAT_TOKEN=seat-tok\n");
    home->refill({{"VELTO_API", "not an address"}});
    makeRunner();
    runner->start();
    TestKit::spin(500);
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST_F(RoutineRunnerTest, DueRepliesThatClaimNothing)
{
    useScale(0.005);
    const QList<FakeReply> replies{
        FakeReply::json(QJsonObject{{"success", false}, {"due", QJsonArray{QJsonObject{{"id", 7}}}}}),
        FakeReply::json(QJsonObject{{"due", QJsonArray{QJsonObject{{"id", 7}}}}}),
        FakeReply::json(QJsonObject{{"success", true}, {"due", QJsonArray{}}}),
        FakeReply::json(QJsonObject{{"success", true}}),
        FakeReply::json(QJsonObject{{"success", true}, {"due", QJsonObject{{"id", 7}}}}),
        FakeReply::json(QJsonObject{{"success", true}, {"due", QJsonArray{QJsonObject{{"id", "7"}}}}}),
        FakeReply::json(QJsonObject{{"success", true}, {"due", QJsonArray{7}}}),
        FakeReply::text("<html>busy</html>", 503),
        dropped(),
    };
    for (qsizetype i = 0; i < replies.size(); ++i) {
        fake.clearRequests();
        fake.on("GET", "/cli/routines_due", replies[i]);
        makeRunner();
        runner->start();
        ASSERT_TRUE(waitFor([&] { return !to("/cli/routines_due").isEmpty(); })) << i;
        TestKit::spin(300);
        EXPECT_TRUE(to("/cli/routines_claim").isEmpty()) << "case " << i;
        EXPECT_FALSE(runner->isBusy()) << "case " << i;
    }
}

TEST_F(RoutineRunnerTest, ClaimsThatComeToNothingReportNothing)
{
    useScale(0.005);
    const QList<FakeReply> replies{
        FakeReply::json(QJsonObject{{"claimed", false}, {"run_id", 41}, {"routine", QJsonObject{{"prompt", "p"}}}}),
        FakeReply::json(claimed(41, "n", "", "a")),
        FakeReply::json(claimed(41, "n", QJsonValue::Undefined, "a")),
        FakeReply::json(claimed(41, "n", 12, "a")),
        FakeReply::json(QJsonObject{{"claimed", true}, {"run_id", "41"}, {"routine", QJsonObject{{"prompt", "p"}}}}),
        FakeReply::json(QJsonObject{{"claimed", true}, {"run_id", 41}, {"routine", "p"}}),
        FakeReply::text("nope", 500),
        dropped(),
    };
    for (qsizetype i = 0; i < replies.size(); ++i) {
        fake.clearRequests();
        fake.on("POST", "/cli/routines_claim", replies[i]);
        makeRunner();
        runner->start();
        ASSERT_TRUE(waitFor([&] { return !to("/cli/routines_claim").isEmpty(); })) << i;
        EXPECT_TRUE(waitFor([&] { return !runner->isBusy(); })) << "case " << i;
        TestKit::spin(200);
        EXPECT_TRUE(to("/session").isEmpty()) << "no session: case " << i;
        EXPECT_TRUE(to("/cli/routines_finish").isEmpty()) << "no report: case " << i;
    }
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(RoutineRunnerTest, AClaimWithoutNameOrAgentRunsAsRoutineWithVelto)
{
    for (const QJsonValue &agent : {QJsonValue(QJsonValue::Undefined), QJsonValue(""), QJsonValue(3)}) {
        fake.clearRequests();
        opened.clear();
        fake.on("POST", "/cli/routines_claim", FakeReply::json(claimed(5, agent.isUndefined() ? QJsonValue(4) : QJsonValue::Undefined, "Reconcile.", agent)));
        makeRunner();
        runner->start();
        ASSERT_TRUE(finished());
        const auto prompt = to("/session/ses_r/prompt_async");
        ASSERT_EQ(prompt.size(), 1);
        EXPECT_EQ(prompt[0].json()["agent"], "velto");
        EXPECT_EQ(prompt[0].json()["parts"][0]["text"], "[Scheduled: Routine]\n\nReconcile." + rules);
        ASSERT_EQ(opened.size(), 1);
        EXPECT_EQ(opened[0].title, "Routine");
        EXPECT_EQ(opened[0].agent, "velto");
    }
}

TEST_F(RoutineRunnerTest, ASessionTheEngineDoesNotStartIsReportedFailed)
{
    fake.on("POST", "/session", FakeReply::json(QJsonObject{{"id", 12}}));
    runner->start();
    auto report = finished();
    ASSERT_TRUE(report);
    EXPECT_EQ(*report, failed(41, "The engine did not start a session: no id returned"));
    EXPECT_TRUE(to("/session/ses_r/prompt_async").isEmpty());
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_FALSE(runner->isBusy());

    // No engine at all: the transport error says why.
    fake.clearRequests();
    enginePort = freePort();
    makeRunner();
    runner->start();
    report = finished();
    ASSERT_TRUE(report);
    const QString error = report->value("error").toString();
    EXPECT_TRUE(error.startsWith("The engine did not start a session: ")) << error.toStdString();
    EXPECT_GT(error.size(), QString("The engine did not start a session: ").size());
    EXPECT_NE(error, "The engine did not start a session: no id returned");
    EXPECT_EQ(report->value("status"), "failed");
}

TEST_F(RoutineRunnerTest, APromptTheEngineRefusesIsReportedFailed)
{
    fake.on("POST", "/session/ses_r/prompt_async", FakeReply::text("{\"error\":\"busy\"}", 409));
    runner->start();
    auto report = finished();
    ASSERT_TRUE(report);
    EXPECT_EQ(*report, failed(41, "The engine refused the prompt (HTTP 409) "));
    EXPECT_TRUE(to("/session/ses_r/message").isEmpty()) << "nothing is watched";
    EXPECT_FALSE(runner->isBusy());
    EXPECT_TRUE(waitFor([&] { return opened.size() == 1; })) << "the session was opened all the same";

    fake.clearRequests();
    fake.on("POST", "/session/ses_r/prompt_async", dropped());
    makeRunner();
    runner->start();
    report = finished();
    ASSERT_TRUE(report);
    const QString error = report->value("error").toString();
    EXPECT_TRUE(error.startsWith("The engine refused the prompt (HTTP 0) ")) << error.toStdString();
    EXPECT_GT(error.size(), QString("The engine refused the prompt (HTTP 0) ").size());
}

TEST_F(RoutineRunnerTest, TheSessionIsWatchedEvery20SecondsUntilTheAnswerCompletes)
{
    useScale(0.01); // 20 s -> 0.2 s
    // Unfinished answers, a user message last, failures: all mean "look again".
    const QList<FakeReply> sequence{
        FakeReply::json(QJsonDocument(QJsonArray{message("user", QJsonValue::Undefined),
                                                 message("assistant", QJsonValue(), {textPart("half")})})),
        FakeReply::json(QJsonDocument(QJsonArray{message("assistant", 5, {textPart("earlier")}),
                                                 message("user", QJsonValue::Undefined, {textPart("more")})})),
        FakeReply::json(QJsonDocument(QJsonArray{})),
        FakeReply::text("not json", 500),
        hung(),
        FakeReply::json(QJsonDocument(QJsonArray{message("assistant", 7, {textPart("All filed, nothing submitted.")})})),
    };
    auto served = std::make_shared<std::atomic<int>>(0);
    fake.on("GET", "/session/ses_r/message", [sequence, served](const RecordedRequest &) {
        return sequence.at(std::min<int>((*served)++, int(sequence.size()) - 1));
    });
    QElapsedTimer clock;
    runner->start();
    ASSERT_TRUE(waitFor([&] { return !to("/session/ses_r/prompt_async").isEmpty(); }));
    clock.start();
    const auto report = finished();
    ASSERT_TRUE(report);
    const double took = clock.elapsed() / 1000.0;
    EXPECT_EQ(report->value("status"), "done");
    EXPECT_EQ(report->value("summary"), "All filed, nothing submitted.");
    EXPECT_EQ(to("/session/ses_r/message").size(), 6);
    EXPECT_GE(took, 6 * 0.2 + 0.2 - 0.05) << "six checks 20 s apart, one of them timed out after 20 s";
    EXPECT_FALSE(runner->isBusy());
    TestKit::spin(500);
    EXPECT_EQ(to("/session/ses_r/message").size(), 6) << "watching ends with the report";
}

TEST_F(RoutineRunnerTest, AnAnswerThatEndedOnAnErrorIsReportedFailed)
{
    // Completed or not, an answer carrying an error is a failed run.
    for (const QJsonValue &completed : {QJsonValue(99), QJsonValue(QJsonValue::Undefined)}) {
        answerWith(QJsonArray{message("user", QJsonValue::Undefined, {textPart("p")}),
                              withError(message("assistant", completed, {textPart("Looking at the 2B")}),
                                        QJsonObject{{"name", "APIError"},
                                                    {"data", QJsonObject{{"message", "Model not available"}}}})});
        fake.clearRequests();
        makeRunner();
        runner->start();
        const auto report = finished();
        ASSERT_TRUE(report);
        EXPECT_EQ(*report, failed(41, "Model not available"));
    }
}

TEST_F(RoutineRunnerTest, ARunPastTheCeilingIsReportedFailedAndLeftOpen)
{
    useScale(0.003); // ceiling 2700 s -> 8.1 s, checks every 0.06 s, polls every 0.9 s
    answerWith(QJsonArray{message("assistant", QJsonValue(), {textPart("working")})});
    runner->start();
    ASSERT_TRUE(waitFor([&] { return !to("/session/ses_r/prompt_async").isEmpty(); }));
    QElapsedTimer clock;
    clock.start();
    const auto report = finished(30000);
    ASSERT_TRUE(report);
    const double took = clock.elapsed() / 1000.0;
    EXPECT_EQ(*report, failed(41, "Still running after 45 minutes. The session is open in Velto if you want to "
                                  "carry on by hand."));
    EXPECT_GE(took, 2700 * 0.003);
    EXPECT_LT(took, (2700 + 3 * 20) * 0.003 + 1.0);
    // Busy all along: the polls in between were skipped.
    EXPECT_EQ(to("/cli/routines_due").size(), 1);
    EXPECT_EQ(to("/cli/routines_claim").size(), 1);
    // The engine was not told to stop: only message checks went to the session.
    for (const auto &r : fake.requests()) {
        if (r.path.startsWith("/session/")) {
            EXPECT_TRUE(r.path == "/session/ses_r/prompt_async" ||
                        (r.method == "GET" && r.path == "/session/ses_r/message"))
                << r.method.toStdString() << " " << r.path.toStdString();
        }
    }
    EXPECT_FALSE(runner->isBusy());
    const auto checks = to("/session/ses_r/message").size();
    // Idle again: the next poll claims the next routine.
    EXPECT_TRUE(waitFor([&] { return to("/cli/routines_claim").size() == 2; }, 5000));
    EXPECT_TRUE(waitFor([&] { return to("/session/ses_r/message").size() > checks; }, 5000));
}

TEST_F(RoutineRunnerTest, SeveralDueRoutinesAreClaimedOnePerPollAfterEachReport)
{
    useScale(0.005); // polls at 0.3 s, 1.5 s, 3 s
    // Both are due at the first poll; only the second is left at the next.
    auto polls = std::make_shared<std::atomic<int>>(0);
    fake.on("GET", "/cli/routines_due", [polls](const RecordedRequest &) {
        QJsonArray due{QJsonObject{{"id", 1}}, QJsonObject{{"id", 2}}};
        for (int n = ++*polls; n > 1 && !due.isEmpty(); --n)
            due.removeFirst();
        return FakeReply::json(QJsonObject{{"success", true}, {"due", due}});
    });
    auto claims = std::make_shared<std::atomic<int>>(0);
    fake.on("POST", "/cli/routines_claim", [claims](const RecordedRequest &req) {
        const int n = ++*claims;
        return FakeReply::json(claimed(100 + n, "R" + QString::number(req.json()["id"].toInt()), "p", "velto"));
    });
    runner->start();
    ASSERT_TRUE(waitFor([&] { return to("/cli/routines_finish").size() == 2; }, 10000));
    const auto claimsSent = to("/cli/routines_claim");
    ASSERT_EQ(claimsSent.size(), 2);
    EXPECT_EQ(claimsSent[0].json(), (QJsonObject{{"id", 1}})) << "only the first due routine is claimed";
    EXPECT_EQ(claimsSent[1].json(), (QJsonObject{{"id", 2}})) << "the next poll claims the next";
    EXPECT_EQ(to("/cli/routines_due").size(), 2) << "one claim per poll";
    EXPECT_EQ(to("/cli/routines_finish")[0].json()["run_id"], 101);
    EXPECT_EQ(to("/cli/routines_finish")[1].json()["run_id"], 102);
}

TEST_F(RoutineRunnerTest, RetiringReportsTheRunUnderWayAndStopsEverything)
{
    answerWith(QJsonArray{message("assistant", QJsonValue(), {textPart("working")})});
    runner->start();
    ASSERT_TRUE(waitFor([&] { return to("/session/ses_r/message").size() >= 2; }));
    ASSERT_TRUE(to("/cli/routines_finish").isEmpty());

    runner->retire();
    EXPECT_FALSE(runner->isBusy());
    EXPECT_FALSE(runner->isPolling());
    const auto report = finished();
    ASSERT_TRUE(report);
    EXPECT_EQ(*report, failed(41, RoutineRunner::folderChangedError));
    const auto checks = to("/session/ses_r/message").size();
    runner->start(); // a retired runner stays retired
    TestKit::spin(800);
    EXPECT_EQ(to("/session/ses_r/message").size(), checks) << "no more checks";
    EXPECT_EQ(to("/cli/routines_due").size(), 1) << "no more polls";
    EXPECT_EQ(to("/cli/routines_finish").size(), 1);

    // Retiring with nothing claimed reports nothing.
    fake.clearRequests();
    makeRunner();
    runner->retire("gone");
    TestKit::spin(900);
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST_F(RoutineRunnerTest, AClaimAnsweredAfterRetiringIsReportedAndNotRun)
{
    FakeReply slow = FakeReply::json(claimed(77, "Late", "p", "velto"));
    slow.delayMs = 150;
    fake.on("POST", "/cli/routines_claim", slow);
    runner->start();
    ASSERT_TRUE(waitFor([&] { return !to("/cli/routines_claim").isEmpty(); }));
    runner->retire("The clients folder changed.");
    runner.reset(); // start-up drops the old runner at once
    const auto report = finished();
    ASSERT_TRUE(report);
    EXPECT_EQ(*report, failed(77, "The clients folder changed."));
    TestKit::spin(300);
    EXPECT_TRUE(to("/session").isEmpty()) << "nothing started in the engine";
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(RoutineRunnerTest, ARunnerDestroyedMidRunDoesNothingMore)
{
    answerWith(QJsonArray{message("assistant", QJsonValue(), {textPart("working")})});
    runner->start();
    ASSERT_TRUE(waitFor([&] { return !to("/session/ses_r/message").isEmpty(); }));
    runner.reset();
    const auto count = fake.requests().size();
    TestKit::spin(800);
    EXPECT_EQ(fake.requests().size(), count);
}

// End to end against the stand-in cloud and engine programs.
TEST_F(RoutineRunnerTest, RunsARoutineAgainstTheStandins)
{
    useScale(0.05); // first poll after 3 s; requests may take 1 s
    StandinEngine engine(*home, {{"VELTO_STANDIN_REPLY_MS", "300"}});
    ASSERT_TRUE(engine.running());
    StandinCloud cloud(*home,
                       {{"GET /cli/routines_due",
                         QJsonArray{QJsonObject{{"body", QJsonObject{{"success", true},
                                                                     {"due", QJsonArray{QJsonObject{{"id", 3}}}}}}},
                                    QJsonObject{{"body", QJsonObject{{"success", true}, {"due", QJsonArray{}}}}}}},
                        {"POST /cli/routines_claim",
                         QJsonObject{{"body", claimed(9001, "TDS reminders", "List TDS due this week.", "velto")}}},
                        {"POST /cli/routines_finish", QJsonObject{{"body", QJsonObject{{"success", true}}}}}});
    ASSERT_TRUE(cloud.running());
    home->refill({{"VELTO_API", cloud.baseUrl()}});
    enginePort = engine.port();
    runner->start();

    ASSERT_TRUE(waitFor([&] {
        for (const auto &r : events(cloud.logPath(), "request"))
            if (r.value("path") == "/cli/routines_finish")
                return true;
        return false;
    }, 30000));
    const auto requests = events(cloud.logPath(), "request");
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(requests[0].value("path"), "/cli/routines_due");
    EXPECT_EQ(requests[1].value("body"), R"({"id":3})");
    for (const auto &r : requests)
        EXPECT_EQ(r.value("headers").toObject().value("authorization"), "Bearer seat-tok");
    const QString text = RoutineRunner::promptText("TDS reminders", "List TDS due this week.");
    const QJsonObject finish = QJsonDocument::fromJson(requests[2].value("body").toString().toUtf8()).object();
    EXPECT_EQ(finish, (QJsonObject{{"run_id", 9001},
                                   {"status", "done"},
                                   {"summary", QString("Stand-in engine: received \u201c%1\u201d.").arg(text.left(200))},
                                   {"error", ""}}));
    EXPECT_TRUE(waitForEvents(engine.logPath(), "answered"));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].title, "TDS reminders");
    EXPECT_EQ(opened[0].directory, folder);
    EXPECT_FALSE(runner->isBusy());
}

} // namespace
