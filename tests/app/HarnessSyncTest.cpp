#include "AppTestKit.h"
#include "app/HarnessSync.h"
#include "core/Globals.h"
#include "platform/Files.h"
#include "support/FakeHttpServer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>

using namespace AppTestKit;
using TestKit::FakeHttpServer;
using TestKit::FakeReply;
using TestKit::waitFor;

namespace {

QJsonObject item(const QString &kind, const QString &name, const QString &content)
{
    return {{"kind", kind}, {"name", name}, {"content", content}};
}

QJsonObject harness(const QJsonArray &items)
{
    return {{"success", true}, {"items", items}};
}

class HarnessSyncTest : public ::testing::Test {
protected:
    FakeHttpServer cloud;
    std::unique_ptr<TestKit::TempHome> home;
    QByteArray reply;
    int replyStatus = 200;

    void SetUp() override
    {
        home = std::make_unique<TestKit::TempHome>(QMap<QString, QString>{{"VELTO_API", cloud.baseUrl()}});
        home->write(".velto/seat.env", "PAVI_SEAT_TOKEN=seat-tok\nPAVI_SEAT_EMAIL=ca@example.in\n");
        cloud.on("GET", "/cli/harness", [this](const TestKit::RecordedRequest &) {
            FakeReply r = FakeReply::text(reply, replyStatus);
            return r;
        });
    }
    void TearDown() override { home.reset(); }

    void serve(const QJsonObject &body) { reply = QJsonDocument(body).toJson(QJsonDocument::Compact); }

    // Runs one sync; answers how often done was called.
    int sync()
    {
        int calls = 0;
        HarnessSync::syncHarness([&] { ++calls; });
        waitFor([&] { return calls > 0; }, 10000);
        TestKit::spin(30);
        return calls;
    }

    QString oc(const QString &rel) const { return joinPath(OC_DIR, rel); }
    static QString text(const QString &path)
    {
        const auto bytes = Files::readAll(path);
        return bytes ? QString::fromUtf8(*bytes) : QStringLiteral("<missing>");
    }
    QString managed() const { return text(joinPath(VELTO_HOME, "harness.json")); }
};

TEST_F(HarnessSyncTest, WritesEveryKindAndRecordsWhatItManages)
{
    home->write(".velto/hallix/opencode.json", R"({"permission":{"skill":{"firm-own":"deny"}}})");
    serve(harness({
        item("skill", "GST Return (Monthly)", "---\nname: GST Return\n---\nSteps."),
        item("skill", "---", "skipped: nothing left of the name"),
        item("skill", "\u00dcn\u00efcode", "u"),
        item("skill_file", "gst-recon/scripts/run.py", "print(1)\n"),
        item("skill_file", "gst-recon//run.py", "two"),
        item("skill_file", "GST/Run.py", "caps"),
        item("skill_file", "run.py", "one part"),
        item("skill_file", "gst-recon/.env", "dot"),
        item("skill_file", "gst-recon/../x", "up"),
        item("skill_file", "a/b c", "space"),
        item("agent", "Reviewer", "# Reviewer"),
        item("instruction", "Tone", "Be brief."),
        item("instruction", "Filing", ""),
        item("widget", "w", "unknown kind"),
        QJsonObject{{"kind", "skill"}, {"name", "no-content"}},
        QJsonObject{{"kind", "skill"}, {"name", 5}, {"content", "x"}},
        item("agent", "", "empty name"),
    }));
    ASSERT_EQ(sync(), 1);

    const auto requests = cloud.requestsTo("/cli/harness");
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].header("Authorization"), "Bearer seat-tok");

    EXPECT_EQ(text(oc("skills/gst-return--monthly/SKILL.md")), "---\nname: GST Return\n---\nSteps.");
    EXPECT_EQ(text(oc("skills/n-code/SKILL.md")), "u");
    EXPECT_EQ(text(oc("skills/gst-recon/scripts/run.py")), "print(1)\n");
    EXPECT_EQ(text(oc("skills/gst-recon/run.py")), "two");
    EXPECT_EQ(text(oc("skills/GST/Run.py")), "caps");
    EXPECT_FALSE(QFile::exists(oc("skills/gst-recon/.env")));
    EXPECT_FALSE(QFile::exists(oc("skills/x")));
    EXPECT_EQ(text(oc("agents/reviewer.md")), "# Reviewer");
    EXPECT_EQ(text(joinPath(VELTO_HOME, "AGENTS.md")), "# Velto \u2014 firm rules from Hallix\n\nBe brief.\n\n---\n\n");

    EXPECT_EQ(managed(), "[\"skill/gst-return--monthly\",\"skill/n-code\",\"skill_file/gst-recon/scripts/run.py\","
                         "\"skill_file/gst-recon/run.py\",\"skill_file/GST/Run.py\",\"agent/reviewer\","
                         "\"instruction/tone\",\"instruction/filing\"]");

    const QJsonObject root = QJsonDocument::fromJson(Files::readAll(OC_JSON).value_or("")).object();
    EXPECT_EQ(root.value("permission").toObject().value("skill").toObject(),
              QJsonObject({{"firm-own", "deny"}, {"gst-return--monthly", "allow"}, {"n-code", "allow"}}));
}

TEST_F(HarnessSyncTest, RemovesWhatTheCloudNoLongerSends)
{
    home->write(".velto/hallix/opencode.json", "{}");
    serve(harness({
        item("skill", "keep", "k"),
        item("skill", "drop", "d"),
        item("skill_file", "drop/tool.py", "t"),
        item("skill_file", "keep/old.py", "o"),
        item("agent", "gone", "g"),
        item("instruction", "a", "A"),
        item("instruction", "b", "B"),
        item("instruction", "c", "C"),
    }));
    ASSERT_EQ(sync(), 1);
    home->write(".velto/hallix/skills/drop/LOCAL.md", "- a correction");
    home->write(".velto/hallix/skills/firm-own/SKILL.md", "owner: firm");
    home->write(".velto/hallix/agents/mine.md", "mine");

    serve(harness({item("skill", "keep", "k2"), item("instruction", "a", "A"), item("instruction", "c", "C")}));
    ASSERT_EQ(sync(), 1);
    EXPECT_EQ(text(oc("skills/keep/SKILL.md")), "k2");
    EXPECT_FALSE(QFileInfo::exists(oc("skills/drop"))) << "the whole folder goes, corrections included";
    EXPECT_FALSE(QFileInfo::exists(oc("skills/keep/old.py")));
    EXPECT_FALSE(QFileInfo::exists(oc("agents/gone.md")));
    EXPECT_TRUE(QFileInfo::exists(oc("skills/firm-own/SKILL.md")));
    EXPECT_TRUE(QFileInfo::exists(oc("agents/mine.md")));
    EXPECT_EQ(text(joinPath(VELTO_HOME, "AGENTS.md")), "# Velto \u2014 firm rules from Hallix\n\nA\n\n---\n\nC");
    // A dropped skill keeps its allow entry.
    const QJsonObject skill =
        QJsonDocument::fromJson(Files::readAll(OC_JSON).value_or("")).object()["permission"].toObject()["skill"].toObject();
    EXPECT_EQ(skill, QJsonObject({{"keep", "allow"}, {"drop", "allow"}}));

    // Without instructions the old rules stay.
    serve(harness({item("skill", "keep", "k3")}));
    ASSERT_EQ(sync(), 1);
    EXPECT_EQ(text(joinPath(VELTO_HOME, "AGENTS.md")), "# Velto \u2014 firm rules from Hallix\n\nA\n\n---\n\nC");

    // Every item skipped: an empty list, and everything managed goes.
    serve(harness({item("skill", "!!!", "x")}));
    ASSERT_EQ(sync(), 1);
    EXPECT_EQ(managed(), "[]");
    EXPECT_FALSE(QFileInfo::exists(oc("skills/keep")));
}

TEST_F(HarnessSyncTest, AHandEditedListNeverReachesOutsideTheConfigFolder)
{
    // Each entry below would name something outside the skills and agents
    // folders, or the skills folder's parent itself.
    home->write(".velto/precious/file.md", "keep me");
    home->write(".velto/hallix/skills/precious.txt", "keep me too");
    home->write(".velto/harness.json",
                R"(["skill/..","skill/../../precious","agent/../../precious/file","skill_file/x/../precious.txt",)"
                R"("skill_file/../../precious/file.md","skill","/skill/","skill//x",5])");
    serve(harness({item("agent", "a", "a")}));
    ASSERT_EQ(sync(), 1);
    EXPECT_EQ(text(home->file(".velto/precious/file.md")), "keep me");
    EXPECT_EQ(text(oc("skills/precious.txt")), "keep me too");
    EXPECT_EQ(managed(), R"(["agent/a"])");
}

TEST_F(HarnessSyncTest, LocalCorrectionsSurviveEveryResync)
{
    home->write(".velto/hallix/skills/gst-filing/LOCAL.md", "- **2025-01-02** \u2014 Use the new portal.");
    serve(harness({item("skill", "GST Filing", "File it.\n")}));
    const QString merged = "File it.\n\n## What this machine has learned since\n\n- **2025-01-02** \u2014 Use the new portal.\n";
    ASSERT_EQ(sync(), 1);
    EXPECT_EQ(text(oc("skills/gst-filing/SKILL.md")), merged);
    ASSERT_EQ(sync(), 1);
    EXPECT_EQ(text(oc("skills/gst-filing/SKILL.md")), merged);
    EXPECT_EQ(text(oc("skills/gst-filing/LOCAL.md")), "- **2025-01-02** \u2014 Use the new portal.");
}

TEST_F(HarnessSyncTest, WebSearchAndSkillPermissions)
{
    struct Case {
        const char *name;
        QByteArray config;
        QJsonArray items;
        bool rewritten;
        QJsonValue websearch;
    };
    const QJsonArray oneSkill{item("skill", "s", "x")};
    const std::vector<Case> cases = {
        {"ask becomes allow even when every skill is allowed",
         R"({"permission":{"skill":{"s":"allow"},"websearch":"ask"}})", oneSkill, true, "allow"},
        {"another value stays", R"({"permission":{"websearch":"deny"}})", oneSkill, true, "deny"},
        {"a missing key is not added", R"({"permission":{}})", oneSkill, true, QJsonValue::Undefined},
        {"nothing to change, nothing written", R"({"permission":{"skill":{"s":"allow"}}})", oneSkill, false,
         QJsonValue::Undefined},
        {"no skills: the file is left", R"({"permission":{"websearch":"ask"}})",
         QJsonArray{item("agent", "a", "a")}, false, "ask"},
        {"a non-object skill entry is replaced", R"({"permission":{"skill":"deny"}})", oneSkill, true,
         QJsonValue::Undefined},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        home->write(".velto/hallix/opencode.json", c.config);
        serve(harness(c.items));
        ASSERT_EQ(sync(), 1);
        const QByteArray after = Files::readAll(OC_JSON).value_or("");
        // The fixture is compact; the one writer indents.
        EXPECT_EQ(after != c.config, c.rewritten);
        const QJsonObject perm = QJsonDocument::fromJson(after).object().value("permission").toObject();
        EXPECT_EQ(perm.value("websearch"), c.websearch);
        if (c.rewritten) {
            EXPECT_EQ(perm.value("skill").toObject().value("s").toString(), "allow");
        }
    }

    // A missing configuration is not created; the rest of the sync goes on.
    QFile::remove(OC_JSON);
    serve(harness(oneSkill));
    ASSERT_EQ(sync(), 1);
    EXPECT_FALSE(QFile::exists(OC_JSON));
    EXPECT_EQ(text(oc("skills/s/SKILL.md")), "x");
}

// What the program logged while a test ran.
QStringList &logged()
{
    static QStringList lines;
    return lines;
}
QMutex loggedLock;

void keepLogLine(QtMsgType, const QMessageLogContext &, const QString &text)
{
    QMutexLocker lock(&loggedLock);
    logged().append(text);
}

TEST_F(HarnessSyncTest, TheFirmRulesFollowEachSyncIntoTheClientsFolderUnlessTheCaEditedThem)
{
    const QString work = home->path() + "/Clients";
    QDir().mkpath(work);
    home->write(".velto/velto.env", ("VELTO_WORK=\"" + work + "\"\n").toUtf8());
    const QString agents = work + "/AGENTS.md";
    const QString header = "# Velto \u2014 firm rules from Hallix\n\n";

    // A copy made before any record was kept, of the rules as they were then.
    home->write(".velto/AGENTS.md", "Old rules.");
    home->write("Clients/AGENTS.md", "Old rules.");
    serve(harness({item("instruction", "one", "Rule one.")}));
    sync();
    EXPECT_EQ(text(agents), header + "Rule one.");

    // A change in the cloud arrives at the next start.
    serve(harness({item("instruction", "one", "Rule two.")}));
    sync();
    EXPECT_EQ(text(agents), header + "Rule two.");

    // The CA's own edit is kept, and the log says so.
    home->write("Clients/AGENTS.md", "Our firm's rules, edited by the CA.");
    logged().clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepLogLine);
    serve(harness({item("instruction", "one", "Rule three.")}));
    sync();
    qInstallMessageHandler(previous);
    EXPECT_EQ(text(agents), "Our firm's rules, edited by the CA.");
    EXPECT_EQ(text(joinPath(VELTO_HOME, "AGENTS.md")), header + "Rule three.");
    {
        QMutexLocker lock(&loggedLock);
        ASSERT_EQ(logged().size(), 1);
        EXPECT_EQ(logged().first(), agents + " has been edited here, so it is kept as it is; the firm's rules from "
                                             "this sync are in " + joinPath(VELTO_HOME, "AGENTS.md") + ".");
    }
    // A failed sync changes nothing of it either.
    reply = "not json";
    sync();
    EXPECT_EQ(text(agents), "Our firm's rules, edited by the CA.");

    // Gone: the rules are laid again.
    QFile::remove(agents);
    sync();
    EXPECT_EQ(text(agents), header + "Rule three.");
}

TEST_F(HarnessSyncTest, EveryFailureEndsQuietlyWithDoneOnce)
{
    // An earlier sync's state that no failure may touch.
    home->write(".velto/hallix/opencode.json", R"({"permission":{"websearch":"ask"}})");
    home->write(".velto/hallix/skills/old/SKILL.md", "old");
    home->write(".velto/harness.json", R"(["skill/old"])");
    home->write(".velto/AGENTS.md", "rules");

    struct Case {
        const char *name;
        QByteArray body;
        int status = 200;
        bool drop = false;
        bool hang = false;
    };
    const std::vector<Case> cases = {
        {"empty body", ""},
        {"not JSON", "<html>"},
        {"not an object", "[1]"},
        {"success missing", R"({"items":[{"kind":"skill","name":"n","content":"c"}]})"},
        {"success not true", R"({"success":"true","items":[{"kind":"skill","name":"n","content":"c"}]})"},
        {"items missing", R"({"success":true})"},
        {"items not an array", R"({"success":true,"items":{}})"},
        {"items empty", R"({"success":true,"items":[]})"},
        {"an element not an object", R"({"success":true,"items":[{"kind":"skill","name":"n","content":"c"},1]})"},
        {"connection dropped", "", 200, true},
        {"no answer within 25 s", "", 200, false, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        cloud.on("GET", "/cli/harness", [&c](const TestKit::RecordedRequest &) {
            FakeReply r = FakeReply::text(c.body, c.status);
            r.drop = c.drop;
            r.hang = c.hang;
            return r;
        });
        EXPECT_EQ(sync(), 1);
        EXPECT_EQ(managed(), R"(["skill/old"])");
        EXPECT_EQ(text(oc("skills/old/SKILL.md")), "old");
        EXPECT_EQ(text(joinPath(VELTO_HOME, "AGENTS.md")), "rules");
        EXPECT_EQ(text(OC_JSON), R"({"permission":{"websearch":"ask"}})");
        EXPECT_FALSE(QFileInfo::exists(oc("skills/n")));
    }
}

TEST_F(HarnessSyncTest, TheStatusIsIgnoredAndTheBodyDecides)
{
    serve(harness({item("skill", "s", "x")}));
    replyStatus = 500;
    ASSERT_EQ(sync(), 1);
    EXPECT_EQ(text(oc("skills/s/SKILL.md")), "x");
}

TEST_F(HarnessSyncTest, WithoutTokenOrAddressNothingIsAsked)
{
    // No token: done at once, on the caller's thread, and no request.
    home->write(".velto/seat.env", "PAVI_SEAT_EMAIL=ca@example.in\n");
    int calls = 0;
    HarnessSync::syncHarness([&] { ++calls; });
    EXPECT_EQ(calls, 1);
    TestKit::spin(50);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(cloud.requests().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(joinPath(VELTO_HOME, "harness.json")));

    // A malformed service address still ends with done.
    home->write(".velto/seat.env", "PAVI_SEAT_TOKEN=t\n");
    home->refill({{"VELTO_API", "not an address"}});
    EXPECT_EQ(sync(), 1);
    EXPECT_TRUE(cloud.requests().isEmpty());
}

TEST_F(HarnessSyncTest, SyncsFromTheStandinCloud)
{
    StandinCloud standin(*home, {{"GET /cli/harness",
                                  QJsonObject{{"body", harness({item("skill", "Books Close", "Close the books."),
                                                                item("instruction", "r", "Rule one.")})}}}});
    ASSERT_TRUE(standin.running());
    home->refill({{"VELTO_API", standin.baseUrl()}});
    ASSERT_EQ(sync(), 1);
    EXPECT_EQ(text(oc("skills/books-close/SKILL.md")), "Close the books.");
    EXPECT_EQ(text(joinPath(VELTO_HOME, "AGENTS.md")), "# Velto \u2014 firm rules from Hallix\n\nRule one.");
    const auto requests = events(standin.logPath(), "request");
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].value("headers").toObject().value("authorization").toString(), "Bearer seat-tok");
}

} // namespace
