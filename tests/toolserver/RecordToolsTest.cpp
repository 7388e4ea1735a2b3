// record_start, record_mark, record_status, record_stop and record_render:
// the folder rule, the CA's consent, and each tool's answers against a real
// browser pane, the recorder and the renderer.
#include "PaneFixture.h"

#include "core/EnvFile.h"
#include "core/Globals.h"
#include "recorder/PaneRecorder.h"
#include "toolserver/Families.h"
#include "toolserver/RecordTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>

using namespace McpTest;
using namespace TestKit;

namespace {

class RecordToolsTest : public PaneToolTest {
protected:
    QString root; // the clients folder, links resolved

    void SetUp() override
    {
        PaneToolTest::SetUp();
        QDir().mkpath(home->file("Clients/Acme Traders"));
        writeSecret(WORK_ENV, "VELTO_WORK=\"" + home->file("Clients") + "\"\n");
        root = QFileInfo(home->file("Clients")).canonicalFilePath();
    }
    void TearDown() override
    {
        // No recording outlives its test.
        if (PaneRecorder::shared().isRecording() || PaneRecorder::shared().isFinishing()) {
            auto stopped = std::make_shared<bool>(false);
            PaneRecorder::shared().stop([stopped](const PaneRecorder::Outcome &) { *stopped = true; });
            waitFor([stopped] { return *stopped; }, 20000);
        }
        PaneToolTest::TearDown();
    }

    static QString text(const QJsonObject &result) { return textIn(result); }
    static bool isError(const QJsonObject &result) { return result.value("isError").toBool(); }
};

TEST_F(RecordToolsTest, FolderRule)
{
    QDir().mkpath(home->file("Outside"));
    ASSERT_TRUE(QFile::link(home->file("Outside"), home->file("Clients/Linked Co")));
    QDir().mkpath(root + "/Acme Exports");
    const QString acme = root + "/Acme Traders/Videos/";
    const QString firm = root + "/00 Firm/Videos/";
    const struct {
        QJsonValue client;
        QJsonValue name;
        QString folder; // empty: refused with error
        QString error;
    } cases[] = {
        {"Acme Traders", "GSTR-3B: filing (March)", acme + "GSTR-3B filing March", {}},
        {"  acme traders\t", "x_y", acme + "x_y", {}},
        {"Acme Traders", QString::fromUtf8("जीएसटी  रिटर्न\nमार्च"), acme + QString::fromUtf8("जीएसटी रिटर्न मार्च"), {}},
        {"Acme Traders", QString(70, 'a'), acme + QString(60, 'a'), {}},
        {"00 FIRM", "Intro", firm + "Intro", {}},
        {"Firm", "Intro", firm + "Intro", {}},
        {"", "Intro", firm + "Intro", {}},
        {5, "Intro", firm + "Intro", {}},
        {"Acme Traders", "?!.:/", {}, "Give the video a short name."},
        {"Acme Traders", QJsonValue(), {}, "Give the video a short name."},
        {" Nobody ", "Intro", {},
         "No client folder called \"Nobody\" in the workspace. Use the exact folder name, or 00 Firm."},
        {"Linked Co", "Intro", {},
         "The folder for \"Intro\" leads outside the workspace. Use a client folder inside it, or 00 Firm."},
        // Two clients begin with "Acme": neither is chosen by chance.
        {"Acme", "Intro", {}, "'Acme' could be Acme Exports or Acme Traders \u2014 say which."},
        {"acme exports", "Intro", root + "/Acme Exports/Videos/Intro", {}},
    };
    for (const auto &c : cases) {
        QJsonObject args{{"client", c.client}};
        if (!c.name.isNull())
            args.insert("name", c.name);
        const RecordTools::Folder got = RecordTools::recordFolder(args);
        const std::string label = QJsonDocument(args).toJson(QJsonDocument::Compact).toStdString();
        if (c.folder.isEmpty()) {
            EXPECT_FALSE(got.path.has_value()) << label;
            EXPECT_EQ(got.error, c.error) << label;
        } else {
            EXPECT_EQ(got.path.value_or("(none)"), c.folder) << label;
        }
    }
}

TEST_F(RecordToolsTest, NarrationLines)
{
    const QJsonArray lines{
        QJsonObject{{"at", 1.5}, {"text", "Open the form."}},
        QJsonObject{{"at", 2}},                          // no text: dropped
        QJsonObject{{"at", -3}, {"text", "Fill it."}},   // negative: 0
        QJsonObject{{"text", "No time."}},               // missing: 0
        QJsonObject{{"at", "7"}, {"text", "Text time."}}, // not a number: 0
        QJsonObject{{"at", 4}, {"text", 12}},             // text not a string: dropped
        "not an object",
        QJsonObject{{"at", 9}, {"text", QString(310, 'w')}},
    };
    const QVector<RecordRender::Line> got = RecordTools::narration(lines);
    ASSERT_EQ(got.size(), 5);
    const struct {
        double at;
        QString text;
    } want[] = {{1.5, "Open the form."}, {0, "Fill it."}, {0, "No time."}, {0, "Text time."}, {9, QString(300, 'w')}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_DOUBLE_EQ(got[i].at, want[i].at) << i;
        EXPECT_EQ(got[i].text, want[i].text) << i;
    }
    EXPECT_TRUE(RecordTools::narration(QJsonValue("lines")).isEmpty());
}

TEST_F(RecordToolsTest, StopReportText)
{
    PaneRecorder::Summary empty;
    empty.name = "Intro";
    empty.seconds = 6;
    empty.framesWritten = 60;
    EXPECT_EQ(BrowserMCP::stopReport(empty),
              "Recorded Intro: 6.0 s, 60 frames written, 0 left out because they could not be checked.\n"
              "Hidden by the page check (field kind and frames): none. Caught by OCR on top: none.\n"
              "\n"
              "Steps (seconds · kind · label):\n"
              "(none logged)\n"
              "\n"
              "Next: write one narration line per logical step (8 to 16 words, the CA's language, no figures or "
              "identity numbers), show them to the CA, then call record_render with client, name \"Intro\", lines "
              "[{at, text}], voice and language.");

    PaneRecorder::Summary full = empty;
    full.seconds = 42.5;
    full.framesDropped = 3;
    full.hiddenByPage = {{"pwd", 12}, {"pan", 3}};
    full.hiddenByOCR = {{"mobile", 1}};
    full.steps = {{1, 0, "page", "GST portal"}, {2, 2.5, "mark", "Step 1 · Open"}, {3, 123.46, "field", "PAN"},
                  {4, 130, "clicked", "Next"}};
    const QStringList lines = BrowserMCP::stopReport(full).split('\n');
    ASSERT_EQ(lines.size(), 10);
    EXPECT_EQ(lines[0], "Recorded Intro: 42.5 s, 60 frames written, 3 left out because they could not be checked.");
    EXPECT_EQ(lines[1], "Hidden by the page check (field kind and frames): pan 3, pwd 12. Caught by OCR on top: "
                        "mobile 1.");
    EXPECT_EQ(lines[4], "   0.0 s  page   GST portal");
    EXPECT_EQ(lines[5], "   2.5 s  mark   Step 1 · Open");
    EXPECT_EQ(lines[6], " 123.5 s  field  PAN");
    EXPECT_EQ(lines[7], " 130.0 s  click  Next");
}

TEST_F(RecordToolsTest, DeclinedConsentRecordsNothing)
{
    DialogAnswers answers;
    answers.alert(1);
    const Result r = call("record_start", {{"client", "Acme Traders"}, {"name", "GST filing"}, {"mode", "velto"}});
    EXPECT_EQ(r, textOf("The CA chose not to record. Carry on without a recording."));
    ASSERT_EQ(answers.shownAlerts.size(), 1u);
    const Dialogs::Alert &a = answers.shownAlerts[0];
    EXPECT_EQ(a.title, "Record the Browser pane?");
    EXPECT_EQ(a.text, "Velto will record what the Browser pane shows into\nAcme Traders/Videos/GST filing\n\n"
                      "Passwords, OTPs, captchas, PAN, Aadhaar, mobile numbers, emails and bank numbers are hidden in "
                      "the video. Nothing outside the Browser pane is recorded. Stop any time from the REC button at "
                      "the top.");
    EXPECT_EQ(a.buttons, (QStringList{"Start recording", "Not now"}));
    EXPECT_FALSE(PaneRecorder::shared().isRecording());
    EXPECT_FALSE(QFileInfo::exists(root + "/Acme Traders/Videos"));

    // A bad name is refused before the CA is asked.
    EXPECT_EQ(call("record_start", {{"client", "Acme Traders"}, {"name", "**"}}),
              textOf("Give the video a short name.", true));
    EXPECT_EQ(answers.shownAlerts.size(), 1u);
}

TEST_F(RecordToolsTest, AnOpenConsentHoldsOnlyCallsThatMayAsk)
{
    // While the CA reads the recording question, status reads answer; a
    // write that would ask its own question waits for this one.
    const std::vector<ToolFamily> saved = Families::routed;
    const auto guard = qScopeGuard([&] { Families::routed = saved; });
    Families::routed = {ToolFamily{[] { return QSet<QString>{"erp_connections", "tally_status", "erp_commit"}; },
                                   [](Tool::Obj) { return QJsonArray(); },
                                   [](const QString &name, const QJsonObject &, const Tool::Done &done) {
                                       done(name + " answered", false);
                                   }}};
    std::shared_ptr<std::optional<QJsonObject>> commit;
    bool checkedInside = false;
    Dialogs::Hooks::alert = [&](const Dialogs::Alert &a) {
        EXPECT_EQ(a.title, "Record the Browser pane?");
        EXPECT_EQ(call("erp_connections"), textOf("erp_connections answered"));
        EXPECT_EQ(call("tally_status"), textOf("tally_status answered"));
        commit = start("erp_commit");
        spin(100);
        EXPECT_FALSE(commit->has_value()) << "a write waits for the open question";
        checkedInside = true;
        return 1;
    };
    EXPECT_EQ(call("record_start", {{"client", "Acme Traders"}, {"name", "GST filing"}}),
              textOf("The CA chose not to record. Carry on without a recording."));
    installFailingDialogs();
    EXPECT_TRUE(checkedInside);
    ASSERT_TRUE(commit);
    EXPECT_EQ(result(commit), textOf("erp_commit answered"));
}

TEST_F(RecordToolsTest, StartMarkStatusStopAndRender)
{
    page("/form", "<h1>GST registration</h1><label>Legal name <input id=legal></label>"
                  "<label>PAN <input id=pan name=pan></label><button id=next>Next</button>");
    pane->newTab(QUrl(at("/form")), true);
    ASSERT_TRUE(settled());

    EXPECT_EQ(call("record_status"), textOf("Not recording."));
    EXPECT_EQ(call("record_mark", {{"title", "Step 1"}}),
              textOf("Nothing is being recorded. Call record_start first.", true));

    DialogAnswers answers;
    answers.alert(0);
    EXPECT_EQ(call("record_start", {{"client", "acme traders"}, {"name", "GST filing"}}),
              textOf("Recording into Acme Traders/Videos/GST filing/. Call record_mark at each step, and "
                     "record_stop when the work is done."));
    ASSERT_TRUE(PaneRecorder::shared().isRecording());
    EXPECT_EQ(PaneRecorder::shared().name(), "GST filing");

    EXPECT_EQ(call("record_mark", {{"title", " \t "}}), textOf("Give the step a title.", true));
    const QString marked = text(call("record_mark", {{"title", " Step 1 · Open the form "}}));
    EXPECT_TRUE(QRegularExpression("^Step \\d+ at \\d+\\.\\d s: Step 1 · Open the form$").match(marked).hasMatch())
        << marked.toStdString();
    EXPECT_TRUE(QRegularExpression("^Recording GST filing for \\d+ s\\.$")
                    .match(text(call("record_status")))
                    .hasMatch());
    EXPECT_EQ(call("record_render", {{"client", "Acme Traders"}, {"name", "GST filing"}}),
              textOf("Stop the recording first (record_stop).", true));

    // A second start while one runs: a fresh "-2" folder is offered, and the
    // recorder refuses.
    answers.alert(0);
    EXPECT_EQ(call("record_start", {{"client", "Acme Traders"}, {"name", "GST filing"}}),
              textOf("A recording is already running. Stop it first.", true));
    ASSERT_EQ(answers.shownAlerts.size(), 2u);
    EXPECT_TRUE(answers.shownAlerts[1].text.contains("\nAcme Traders/Videos/GST filing-2\n"));

    ASSERT_TRUE(waitFor([] { return PaneRecorder::shared().written() >= 3; }, 15000));
    const Result stopped = call("record_stop");
    ASSERT_FALSE(isError(stopped)) << text(stopped).toStdString();
    const QStringList report = text(stopped).split('\n');
    ASSERT_GE(report.size(), 7);
    EXPECT_TRUE(QRegularExpression("^Recorded GST filing: \\d+(\\.\\d+)? s, \\d+ frames written, \\d+ left out "
                                   "because they could not be checked\\.$")
                    .match(report[0])
                    .hasMatch())
        << report[0].toStdString();
    EXPECT_TRUE(report.contains("Steps (seconds · kind · label):"));
    EXPECT_TRUE(report.filter(QRegularExpression("^ +\\d+\\.\\d s  mark   Step 1 · Open the form$")).size() == 1)
        << text(stopped).toStdString();
    EXPECT_TRUE(report.last().endsWith("call record_render with client, name \"GST filing\", lines [{at, text}], "
                                       "voice and language."));
    const std::optional<PaneRecorder::Summary> last = PaneRecorder::shared().lastSummary();
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(call("record_status"), textOf(QStringLiteral("Not recording. Last: GST filing, %1 s, %2 steps.")
                                                .arg(qint64(last->seconds))
                                                .arg(last->steps.size())));
    EXPECT_EQ(call("record_mark", {{"title", "late"}}),
              textOf("Nothing is being recorded. Call record_start first.", true));

    // The same name again offers the next free folder.
    answers.alert(1);
    call("record_start", {{"client", "Acme Traders"}, {"name", "GST filing"}});
    ASSERT_EQ(answers.shownAlerts.size(), 3u);
    EXPECT_TRUE(answers.shownAlerts[2].text.contains("\nAcme Traders/Videos/GST filing-2\n"));

    EXPECT_EQ(call("record_render", {{"client", "Acme Traders"}, {"name", "GST filing"}, {"voice", "mine"}}),
              textOf("The Hallix cloud voice and the CA's own voice arrive in the next update. Use voice system (the "
                     "computer's voice) or none for now.",
                     true));
    const QJsonArray lines{QJsonObject{{"at", -2}, {"text", "Open the GST registration form."}},
                           QJsonObject{{"at", 1.5}}};
    const Result rendered = result(start("record_render", {{"client", "Acme Traders"},
                                                           {"name", "GST filing"},
                                                           {"lines", lines},
                                                           {"voice", "none"},
                                                           {"captions", false}}));
    const QString video = text(rendered);
    ASSERT_FALSE(isError(rendered)) << video.toStdString();
    EXPECT_TRUE(QRegularExpression("^Video ready: Acme Traders/Videos/GST filing/GST filing\\.mp4 \\(\\d+(\\.\\d+)? "
                                   "s\\)\nCaptions: (Acme Traders/Videos/GST filing/GST filing\\.srt|—)\nPoster: "
                                   "(Acme Traders/Videos/GST filing/poster\\.jpg|—)(\nChanged: .+)?$")
                    .match(video)
                    .hasMatch())
        << video.toStdString();
    EXPECT_TRUE(QFileInfo(root + "/Acme Traders/Videos/GST filing/GST filing.mp4").size() > 0);

    // Nothing recorded under that name: the renderer's own refusal.
    const Result missing = result(start("record_render", {{"client", "Acme Traders"}, {"name", "Never made"}}));
    EXPECT_TRUE(isError(missing));
    EXPECT_TRUE(text(missing).endsWith(" — record first")) << text(missing).toStdString();
}

TEST_F(RecordToolsTest, RenderWaitsForAStopToFinish)
{
    page("/p", "<p>Recorded page</p>");
    pane->newTab(QUrl(at("/p")), true);
    ASSERT_TRUE(settled());
    DialogAnswers answers;
    answers.alert(0);
    ASSERT_FALSE(isError(call("record_start", {{"name", "Finishing"}})));
    ASSERT_TRUE(waitFor([] { return PaneRecorder::shared().written() >= 2; }, 15000));

    auto stopped = std::make_shared<bool>(false);
    PaneRecorder::shared().stop([stopped](const PaneRecorder::Outcome &) { *stopped = true; });
    std::optional<QJsonObject> refused;
    RecordTools::render(*pane, {{"name", "Finishing"}}, [&](const QJsonObject &r) { refused = r; });
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(Result(*refused), textOf("Stop the recording first (record_stop).", true));
    EXPECT_TRUE(waitFor([stopped] { return *stopped; }, 20000));
}

} // namespace
