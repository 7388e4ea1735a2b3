// Recording from the app: the REC button, the window capture of window
// recordings, and the unattended hooks (VELTO_RECORD_TEST and
// VELTO_RECORD_SCRIPT) run end to end in the built program, offscreen.
#include "AppTestKit.h"
#include "app/AppDelegate.h"
#include "platform/Dialogs.h"
#include "platform/Media.h"
#include "recorder/PaneRecorder.h"
#include "support/FakeHttpServer.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QProcess>
#include <QPushButton>

using TestKit::HomeTest;
using TestKit::waitFor;

namespace {

class RecordHooksTest : public HomeTest {
protected:
    std::unique_ptr<AppDelegate> app;

    void SetUp() override
    {
        HomeTest::SetUp();
        AppDelegate::terminate = [] {};
        AppDelegate::chatProfile = [] { return TestKit::webProfile(); };
        app = std::make_unique<AppDelegate>();
        app->buildWindow();
    }
    void TearDown() override
    {
        app.reset();
        AppDelegate::terminate = nullptr;
        AppDelegate::chatProfile = nullptr;
        HomeTest::TearDown();
    }

    QImage capture()
    {
        auto got = std::make_shared<std::optional<QImage>>();
        app->captureWindow([got](const QImage &image) { *got = image; });
        EXPECT_TRUE(waitFor([got] { return got->has_value(); }, 10000));
        return got->value_or(QImage());
    }
};

// A pixel of a frame at a point given in points.
QColor at(const QImage &frame, QPointF points)
{
    const qreal s = frame.devicePixelRatio();
    return frame.pixelColor(int(points.x() * s), int(points.y() * s));
}

bool near(const QColor &a, const QColor &b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

TEST(RecordHooks, RecButtonTitle)
{
    const struct {
        double seconds;
        const char *title;
    } cases[] = {{0, "●  REC 00:00   Stop"},   {9.99, "●  REC 00:09   Stop"}, {65.9, "●  REC 01:05   Stop"},
                 {3600, "●  REC 60:00   Stop"}, {-1, "●  REC 00:00   Stop"}};
    for (const auto &c : cases)
        EXPECT_EQ(AppDelegate::recTitle(c.seconds), QString::fromUtf8(c.title)) << c.seconds;
}

TEST_F(RecordHooksTest, RecButtonFollowsTheRecorderAndStopsIt)
{
    QPushButton *button = app->recButton();
    ASSERT_TRUE(button);
    EXPECT_TRUE(button->isHidden());
    EXPECT_EQ(button->geometry(), QRect(app->window()->width() - 262, 13, 140, 26));
    EXPECT_EQ(button->toolTip(), "Velto is recording the Browser pane. Click to stop.");

    TestKit::DialogAnswers answers;
    answers.alert(0);
    button->click();
    ASSERT_TRUE(waitFor([&] { return !answers.shownAlerts.empty(); }));
    EXPECT_EQ(answers.shownAlerts[0].title, "Recording");
    EXPECT_EQ(answers.shownAlerts[0].text, "Nothing is being recorded.");
    EXPECT_EQ(answers.shownAlerts[0].style, Dialogs::Style::Warning);

    // A recording under way shows its time on the button; the click stops it.
    QImage frame(320, 200, QImage::Format_RGB32);
    frame.fill(Qt::darkCyan);
    PaneRecorder &recorder = PaneRecorder::shared();
    ASSERT_FALSE(recorder.startWindow(QSizeF(320, 200), 1, home->file("rec"), "Button",
                                      [frame](std::function<void(const QImage &)> done) { done(frame); }));
    ASSERT_TRUE(waitFor([&] { return !button->isHidden() && recorder.written() >= 2; }, 10000));
    EXPECT_TRUE(button->text().startsWith("●  REC 00:0")) << button->text().toStdString();
    button->click();
    ASSERT_TRUE(waitFor([&] { return app->splashLabel()->text() == "Recording saved. Ask Velto to add the voice-over."; },
                        20000));
    EXPECT_TRUE(button->isHidden());
    EXPECT_EQ(answers.shownAlerts.size(), 1u);
}

// Quitting (the menu, closing the window and SIGTERM all come here) while a
// recording runs stops it as record_stop would: the video ends at that
// moment and is finished before the app leaves.
TEST_F(RecordHooksTest, QuittingWhileRecordingFinishesTheVideoFirst)
{
    // (The shared recorder keeps its last outcome, so this runs after the
    // REC button's case, which expects none.)
    int quits = 0;
    AppDelegate::terminate = [&] { ++quits; };
    AppTestKit::ScopedTimeScale realTime(1.0);
    PaneRecorder &recorder = PaneRecorder::shared();
    const QString folder = home->file("Clients/Videos/Quit");
    int frames = 0;
    const auto err = recorder.startWindow(QSizeF(320, 200), 1, folder, "Quit", [&](std::function<void(const QImage &)> done) {
        QImage img(320, 200, QImage::Format_RGB32);
        img.fill(QColor(40 + (frames++ * 7) % 200, 120, 200));
        done(img);
    });
    ASSERT_FALSE(err.has_value()) << err->description().toStdString();
    ASSERT_TRUE(waitFor([&] { return recorder.written() >= 3; }, 30000));

    const double at = recorder.seconds();
    app->quit();
    EXPECT_FALSE(recorder.isRecording()) << "the recording ends at the quit";
    ASSERT_TRUE(waitFor([&] { return quits == 1; }, 60000));
    EXPECT_FALSE(recorder.isFinishing());
    const auto summary = recorder.lastSummary();
    ASSERT_TRUE(summary.has_value());
    EXPECT_EQ(summary->folder, folder);
    EXPECT_GE(summary->seconds, at - 0.1);
    EXPECT_LT(summary->seconds, at + 5) << "the video ends when the app was asked to quit";
    EXPECT_GT(QFileInfo(folder + "/raw.mp4").size(), 0);
    EXPECT_TRUE(QFileInfo::exists(folder + "/steps.json"));

    // With nothing recording, quitting leaves at once.
    app->quit();
    EXPECT_EQ(quits, 2);
}

TEST_F(RecordHooksTest, WindowCaptureDrawsOverlappingWindowsAndTheRing)
{
    QWidget *window = app->window();
    window->resize(1200, 800);
    const QImage plain = capture();
    ASSERT_FALSE(plain.isNull());
    EXPECT_EQ(QSizeF(plain.size()) / plain.devicePixelRatio(), QSizeF(1200, 800));

    // A fresh ring: its outline 14 points from the point, in the royal colour.
    app->demoRing = AppDelegate::DemoRing{QPointF(600, 400), AppDelegate::demoRingClock()};
    const QImage ringed = capture();
    EXPECT_TRUE(near(at(ringed, {614, 400}), Theme::royal(), 60)) << at(ringed, {614, 400}).name().toStdString();
    EXPECT_FALSE(near(at(ringed, {614, 400}), at(plain, {614, 400}), 20));
    // One that is 0.9 s old is no longer drawn.
    app->demoRing = AppDelegate::DemoRing{QPointF(600, 400), AppDelegate::demoRingClock() - 0.9};
    EXPECT_TRUE(near(at(capture(), {614, 400}), at(plain, {614, 400}), 8));

    // A panel over the window is drawn at its place; one beside it is not.
    QWidget over, beside;
    for (QWidget *panel : {&over, &beside}) {
        panel->setAutoFillBackground(true);
        QPalette pal = panel->palette();
        pal.setColor(QPalette::Window, QColor(250, 20, 20));
        panel->setPalette(pal);
    }
    over.setGeometry(QRect(window->geometry().topLeft() + QPoint(300, 200), QSize(200, 100)));
    beside.setGeometry(QRect(window->geometry().topLeft() + QPoint(3000, 200), QSize(200, 100)));
    over.show();
    beside.show();
    TestKit::spin(50);
    const QImage layered = capture();
    EXPECT_TRUE(near(at(layered, {400, 250}), QColor(250, 20, 20))) << at(layered, {400, 250}).name().toStdString();
    // The rounded corner leaves the window's own picture in the very corner.
    EXPECT_FALSE(near(at(layered, {300.5, 200.5}), QColor(250, 20, 20)));
}

// --- the hooks in the built program ----------------------------------------------

// A home with an installed engine and no sign-in: the app waits at the
// sign-in while a hook runs.
void installEngine(const TestKit::TempHome &home)
{
    const QString engine = home.write(".velto/bin/velto-engine", "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(engine, QFile::permissions(engine) | QFileDevice::ExeOwner);
}

struct VeltoRun {
    std::unique_ptr<QProcess> proc;
    bool finished() const { return proc->state() == QProcess::NotRunning; }
};

VeltoRun startVelto(const TestKit::TempHome &home, const QMap<QString, QString> &env)
{
    QProcessEnvironment penv = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"VELTO_RECORD_TEST", "VELTO_RECORD_OUT", "VELTO_RECORD_SCRIPT", "VELTO_THEME",
                             "VELTO_OPEN_PANEL", "VELTO_SNAPSHOT"})
        penv.remove(QString::fromLatin1(name));
    penv.insert("VELTO_DEMO_HOME", home.path());
    penv.insert("VELTO_API", "http://127.0.0.1:9");
    penv.insert("QT_QPA_PLATFORM", "offscreen");
    for (auto it = env.begin(); it != env.end(); ++it)
        penv.insert(it.key(), it.value());
    VeltoRun run{std::make_unique<QProcess>()};
    run.proc->setProcessEnvironment(penv);
    run.proc->setProgram(QStringLiteral(VELTO_APP));
    run.proc->start();
    EXPECT_TRUE(run.proc->waitForStarted(10000));
    return run;
}

QJsonObject resultIn(const QString &out)
{
    return QJsonDocument::fromJson(TestKit::readFile(QDir(out).filePath("result.json"))).object();
}

QStringList keysOf(const QJsonObject &o)
{
    QStringList keys = o.keys();
    keys.sort();
    return keys;
}

// The form the recording test fills.
const QByteArray kForm = "<!doctype html><html><head><title>GST registration</title></head><body>"
                         "<h1>New registration</h1>"
                         "<p><label>Legal name <input id=legal></label></p>"
                         "<p><label>PAN <input id=pan name=pan></label></p>"
                         "<p><label>Mobile <input id=mobile name=mobile type=tel></label></p>"
                         "<p><label>Password <input id=pwd type=password></label></p>"
                         "<button id=next onclick=\"document.querySelector('h1').textContent='Step 2'\">"
                         "Continue</button></body></html>";

TEST(RecordHooksProgram, RecordTestRecordsAndRendersTheForm)
{
    TestKit::TempHome home;
    installEngine(home);
    TestKit::FakeHttpServer web;
    web.on("GET", "/reg", [](const TestKit::RecordedRequest &) {
        TestKit::FakeReply r;
        r.headers << TestKit::Header("Content-Type", "text/html; charset=utf-8");
        r.body = kForm;
        return r;
    });
    const QString out = home.file("out");
    VeltoRun run = startVelto(home, {{"VELTO_RECORD_TEST", web.baseUrl() + "/reg"}, {"VELTO_RECORD_OUT", out}});
    ASSERT_TRUE(waitFor([&] { return run.finished(); }, 120000)) << "the hook ends the program";
    EXPECT_EQ(run.proc->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.proc->exitCode(), 0);

    const QJsonObject result = resultIn(out);
    ASSERT_EQ(keysOf(result), (QStringList{"dropped", "notes", "ocr", "page", "poster", "report", "seconds", "srt",
                                           "video", "written"}))
        << QJsonDocument(result).toJson().toStdString();
    const QString video = result["video"].toString();
    EXPECT_EQ(QFileInfo(video).dir().absolutePath(), QDir(out).filePath("Videos/Record test"));
    EXPECT_GT(QFileInfo(video).size(), 0);
    EXPECT_GT(result["seconds"].toDouble(), 5.0);
    EXPECT_GT(result["written"].toInt(), 10);
    EXPECT_TRUE(result["notes"].isArray());
    const QString report = result["report"].toString();
    EXPECT_TRUE(report.startsWith("Recorded Record test: ")) << report.toStdString();
    EXPECT_TRUE(report.contains("mark   Step 1 · Open the form")) << report.toStdString();
    EXPECT_TRUE(report.contains("mark   Step 2 · Fill the applicant")) << report.toStdString();
    // The filled password and identity fields were hidden by the page check.
    EXPECT_FALSE(result["page"].toObject().isEmpty()) << report.toStdString();
    EXPECT_TRUE(result["ocr"].isObject());

    // A frame after the fill: a picture of the page, not an empty one.
    QString error;
    const std::optional<QImage> frame = Media::frameAt(video, 4.5, &error);
    ASSERT_TRUE(frame.has_value()) << error.toStdString();
    QSet<QRgb> colours;
    for (int y = 0; y < frame->height(); y += 16)
        for (int x = 0; x < frame->width(); x += 16)
            colours.insert(frame->pixel(x, y));
    EXPECT_GT(colours.size(), 4);
    if (const QByteArray keep = qgetenv("VELTO_KEEP_FRAME"); !keep.isEmpty())
        frame->save(QString::fromLocal8Bit(keep));
}

TEST(RecordHooksProgram, WindowScriptPlaysItsStepsAndWritesItsResult)
{
    TestKit::TempHome home;
    installEngine(home);
    const QString out = home.file("script-out");
    const QJsonObject script{
        {"page", "about:blank"},
        {"target", "window"},
        {"out", out},
        {"name", "Window run"},
        {"window", QJsonArray{1100, 700}},
        {"settle", 0.5},
        {"stop", 3},
        {"steps", QJsonArray{QJsonObject{{"at", 0.5}, {"mark", "Open"}, {"ring", QJsonArray{200, 100}}, {"chat_js", "1"}},
                             QJsonObject{{"at", 1}, {"mark", "Second"}, {"action", "no such action"}, {"url", 5}},
                             QJsonObject{{"at", 9}, {"mark", "After the stop"}}}},
        {"lines", QJsonArray{QJsonObject{{"at", 0.2}, {"text", "The whole window."}}, QJsonObject{{"at", 1.5}}}},
        {"voice", "none"},
    };
    const QString path = home.write("script.json", QJsonDocument(script).toJson());
    VeltoRun run = startVelto(home, {{"VELTO_RECORD_SCRIPT", path}});
    ASSERT_TRUE(waitFor([&] { return run.finished(); }, 120000));
    EXPECT_EQ(run.proc->exitCode(), 0);

    const QJsonObject result = resultIn(out);
    ASSERT_EQ(keysOf(result), (QStringList{"dropped", "notes", "report", "seconds", "video", "written"}))
        << QJsonDocument(result).toJson().toStdString();
    const QString report = result["report"].toString();
    EXPECT_TRUE(report.startsWith("Recorded Window run: ")) << report.toStdString();
    EXPECT_TRUE(report.contains("mark   Open\n")) << report.toStdString();
    EXPECT_TRUE(report.contains("mark   Second")) << report.toStdString();
    EXPECT_FALSE(report.contains("After the stop"));
    const QString video = result["video"].toString();
    EXPECT_EQ(QFileInfo(video).dir().absolutePath(), QDir(out).filePath("Videos/Window run"));
    // The window was sized to the script's size before it was recorded.
    QString error;
    const std::optional<Media::VideoInfo> info = Media::readVideo(video, false, &error);
    ASSERT_TRUE(info.has_value()) << error.toStdString();
    EXPECT_EQ(QSize(info->width, info->height), QSize(1100, 700));
}

TEST(RecordHooksProgram, UnusableScriptsAndPagesEndTheRun)
{
    TestKit::TempHome home;
    installEngine(home);
    const QString out = home.file("bad-out");
    const struct {
        const char *label;
        QByteArray script; // empty: no file at all
    } bad[] = {
        {"not JSON", "{\"page\": "},
        {"not an object", "[\"page\", \"out\"]"},
        {"no out", "{\"page\": \"http://127.0.0.1/x\"}"},
        {"page not an address", "{\"page\": \"not an address\", \"out\": \"OUT\"}"},
        {"name leaving the folder", "{\"page\": \"about:blank\", \"out\": \"OUT\", \"name\": \"../x\"}"},
        {"missing file", ""},
    };
    std::vector<VeltoRun> runs;
    for (const auto &c : bad) {
        QString path = home.file(QStringLiteral("missing.json"));
        if (!c.script.isEmpty())
            path = home.write(QStringLiteral("bad-%1.json").arg(runs.size()), QByteArray(c.script).replace("OUT", out.toUtf8()));
        runs.push_back(startVelto(home, {{"VELTO_RECORD_SCRIPT", path}}));
    }
    // A recording test whose page is not an address ends with "bad page".
    const QString pageOut = home.file("page-out");
    VeltoRun badPage = startVelto(home, {{"VELTO_RECORD_TEST", "not an address"}, {"VELTO_RECORD_OUT", pageOut}});

    for (size_t i = 0; i < runs.size(); ++i) {
        ASSERT_TRUE(waitFor([&] { return runs[i].finished(); }, 60000)) << bad[i].label;
        EXPECT_EQ(runs[i].proc->exitCode(), 2) << bad[i].label;
        EXPECT_TRUE(runs[i].proc->readAllStandardError().endsWith("bad record script\n")) << bad[i].label;
    }
    EXPECT_FALSE(QFileInfo::exists(out));
    ASSERT_TRUE(waitFor([&] { return badPage.finished(); }, 60000));
    EXPECT_EQ(badPage.proc->exitCode(), 0);
    EXPECT_EQ(resultIn(pageOut), (QJsonObject{{"error", "bad page"}}));
}

} // namespace
