// Starting, marking and stopping recordings, with frames the test captures
// itself (a window recording) so each case is quick and sure.
#include "RecorderKit.h"
#include "core/Globals.h"
#include "recorder/PaneRecorder.h"
#include "support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <csignal>
#include <sys/resource.h>

using namespace TestKit;
using namespace RecorderKit;

namespace {

class LifecycleTest : public HomeTest {
protected:
    std::unique_ptr<PaneRecorder> rec;
    std::vector<std::optional<double>> ticks;
    int captured = 0;
    bool blank = false;

    void SetUp() override
    {
        HomeTest::SetUp();
        rec = std::make_unique<PaneRecorder>();
        rec->onTick = [this](std::optional<double> s) { ticks.push_back(s); };
    }
    void TearDown() override
    {
        rec.reset();
        HomeTest::TearDown();
    }
    QString folder(const QString &name = "Demo") const { return home->file("Firm/Videos/" + name); }

    // A plain moving picture of 640 x 400 pixels, or nothing when blank.
    PaneRecorder::Capture capture()
    {
        return [this](std::function<void(const QImage &)> done) {
            if (blank)
                return done(QImage());
            QImage img(640, 400, QImage::Format_RGB32);
            img.fill(QColor(40 + (captured * 7) % 200, 120, 200));
            QPainter(&img).fillRect(20 + captured % 300, 50, 80, 80, Qt::white);
            ++captured;
            done(img);
        };
    }
    void startWindow(const QString &name = "Demo")
    {
        const auto err = rec->startWindow(QSizeF(320, 200), 2, folder(name), name, capture());
        ASSERT_FALSE(err.has_value()) << err->description().toStdString();
    }
    bool written(qint64 n) { return waitFor([&] { return rec->written() >= n; }, 15000); }
};

} // namespace

TEST_F(LifecycleTest, WindowRecordingWritesTheVideoAndTheStepsFile)
{
    home->write("Firm/Videos/Demo/raw.mp4", "an earlier recording");
    home->write("Firm/Videos/Demo/steps.json", "{}");
    startWindow();
    EXPECT_TRUE(rec->isRecording());
    EXPECT_EQ(rec->name(), "Demo");
    ASSERT_FALSE(ticks.empty());
    EXPECT_EQ(ticks.front(), std::optional<double>(0.0));
    const auto first = rec->mark("Open the returns dashboard");
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->n, 1);
    ASSERT_TRUE(written(6));
    const auto second = rec->mark("File");
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->n, 2);
    EXPECT_GT(rec->seconds(), 0.0);

    const auto out = stopAndWait(*rec);
    ASSERT_TRUE(out && out->ok()) << errorText(out).toStdString();
    const PaneRecorder::Summary &s = *out->summary;
    EXPECT_EQ(s.name, "Demo");
    EXPECT_EQ(s.folder, folder());
    EXPECT_EQ(s.width, 640);
    EXPECT_EQ(s.height, 400);
    EXPECT_GE(s.framesWritten, 6);
    EXPECT_EQ(s.steps.size(), 2);
    EXPECT_TRUE(s.clicks.isEmpty());
    EXPECT_EQ(ticks.back(), std::nullopt) << "the record button hides when the recording ends";
    EXPECT_FALSE(rec->isRecording());
    EXPECT_EQ(rec->seconds(), s.seconds);
    EXPECT_EQ(rec->lastSummary(), s);
    EXPECT_FALSE(rec->mark("late").has_value());

    // steps.json: the summary with exactly its keys.
    const QJsonObject json = stepsJson(folder());
    EXPECT_EQ(json, s.toJson());
    EXPECT_EQ(PaneRecorder::Summary::fromJson(json), s);

    // raw.mp4: one H.264 stream of the canvas size, times in 1/600 s, one
    // frame for every frame counted as written, in order.
    const auto info = video(folder());
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->videoStreams, 1);
    EXPECT_EQ(info->otherStreams, 0);
    EXPECT_EQ(info->codec, "h264");
    EXPECT_EQ(info->width, 640);
    EXPECT_EQ(info->height, 400);
    EXPECT_EQ(info->timeBaseNum, 1);
    EXPECT_EQ(info->timeBaseDen, 600);
    EXPECT_EQ(qint64(info->times.size()), s.framesWritten);
    for (size_t i = 1; i < info->times.size(); ++i)
        EXPECT_GT(info->times[i], info->times[i - 1]);
}

TEST_F(LifecycleTest, ASecondStartIsRefusedWhileRecordingAndWhileFinishing)
{
    startWindow("First");
    ASSERT_TRUE(written(2));
    const auto busy = rec->startWindow(QSizeF(100, 100), 1, folder("Second"), "Second", capture());
    ASSERT_TRUE(busy.has_value());
    EXPECT_EQ(busy->description(), "A recording is already running. Stop it first.");
    EXPECT_EQ(rec->name(), "First");
    EXPECT_FALSE(QDir(folder("Second")).exists());

    // Stop, and at once try to start again: the first recording is still
    // finishing, so the start is refused and cannot mix into its summary.
    std::vector<Outcome> first, again;
    rec->stop([&](const Outcome &o) { first.push_back(o); });
    EXPECT_TRUE(first.empty()) << "the outcome comes later";
    EXPECT_TRUE(rec->isFinishing());
    const auto during = rec->startWindow(QSizeF(100, 100), 1, folder("Second"), "Second", capture());
    ASSERT_TRUE(during.has_value());
    EXPECT_EQ(during->kind(), PaneRecorder::RecordError::Kind::Busy);
    rec->stop([&](const Outcome &o) { again.push_back(o); });

    ASSERT_TRUE(waitFor([&] { return !first.empty() && !again.empty(); }, 20000));
    ASSERT_TRUE(first.front().ok()) << errorText(first.front()).toStdString();
    EXPECT_EQ(first.front().summary->name, "First");
    EXPECT_EQ(first.front().summary->folder, folder("First"));
    EXPECT_EQ(again.front().summary, first.front().summary) << "a stop while finishing gets the same outcome";

    // Once it has reported, a new recording starts and the old outcome stays.
    startWindow("Second");
    ASSERT_TRUE(written(1));
    const auto second = stopAndWait(*rec);
    ASSERT_TRUE(second && second->ok());
    EXPECT_EQ(second->summary->folder, folder("Second"));
    EXPECT_EQ(stepsJson(folder("First"))["name"].toString(), "First");
}

TEST_F(LifecycleTest, ARepeatedStopAnswersTheFirstStopsOutcome)
{
    const auto before = stopAndWait(*rec);
    EXPECT_EQ(errorText(before), "Nothing is being recorded.");

    startWindow();
    ASSERT_TRUE(written(2));
    const auto first = stopAndWait(*rec);
    ASSERT_TRUE(first && first->ok());
    const auto second = stopAndWait(*rec);
    ASSERT_TRUE(second && second->ok());
    EXPECT_EQ(second->summary, first->summary);
}

TEST_F(LifecycleTest, NoFrameMeansNoVideoAndTheFailureIsRepeated)
{
    blank = true;
    startWindow();
    ASSERT_TRUE(waitFor([&] { return rec->dropped() >= 3; }));
    const auto out = stopAndWait(*rec);
    const QString noFrame =
        "The recording failed: no frame could be recorded — was the Browser pane showing a portal page?";
    EXPECT_EQ(errorText(out), noFrame);
    EXPECT_FALSE(out->summary.has_value());
    EXPECT_FALSE(QFile::exists(QDir(folder()).filePath("raw.mp4")));
    EXPECT_FALSE(QFile::exists(QDir(folder()).filePath("steps.json")));
    EXPECT_FALSE(rec->lastSummary().has_value());
    EXPECT_EQ(rec->seconds(), 0);
    EXPECT_EQ(ticks.back(), std::nullopt);

    EXPECT_EQ(errorText(stopAndWait(*rec)), noFrame) << "a second stop repeats the first stop's failure";
}

TEST_F(LifecycleTest, AVideoThatCannotBeFinishedStaysAFailure)
{
    startWindow();
    ASSERT_TRUE(written(4));
    const qint64 size = QFileInfo(QDir(folder()).filePath("raw.mp4")).size();
    // From here no file may grow past its present size: the video's ending
    // cannot be written, the small steps file still can.
    const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit cap = saved;
    cap.rlim_cur = rlim_t(std::max<qint64>(size, 4096));
    setrlimit(RLIMIT_FSIZE, &cap);
    const auto first = stopAndWait(*rec);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedSignal);

    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(first->error.has_value());
    EXPECT_TRUE(errorText(first).startsWith("The recording failed: ")) << errorText(first).toStdString();
    ASSERT_TRUE(first->summary.has_value()) << "the summary is kept even so";
    EXPECT_EQ(rec->lastSummary(), first->summary);
    EXPECT_EQ(stepsJson(folder()), first->summary->toJson());

    const auto second = stopAndWait(*rec);
    EXPECT_EQ(errorText(second), errorText(first)) << "a failed finish stays a failure";
}

TEST_F(LifecycleTest, AFolderThatCannotBeMadeIsReportedAsItStands)
{
    home->write("Firm/Videos", "a file where the folder should be");
    const auto err = rec->startWindow(QSizeF(320, 200), 1, folder(), "Demo", capture());
    ASSERT_TRUE(err.has_value());
    EXPECT_EQ(err->kind(), PaneRecorder::RecordError::Kind::Platform);
    EXPECT_FALSE(err->description().isEmpty());
    EXPECT_FALSE(rec->isRecording());
    EXPECT_TRUE(ticks.empty());
}

TEST_F(LifecycleTest, TheVideoLastsUntilTheStop)
{
    // Frames stop coming (a page that could not be captured) well before
    // the CA stops: the last good frame stands until the stop.
    startWindow();
    ASSERT_TRUE(written(3));
    blank = true;
    spin(1200);
    const auto out = stopAndWait(*rec);
    ASSERT_TRUE(out && out->ok()) << errorText(out).toStdString();
    const auto info = video(folder());
    ASSERT_TRUE(info.has_value());
    ASSERT_FALSE(info->times.empty());
    EXPECT_LT(info->times.back(), out->summary->seconds - 0.8);
    EXPECT_NEAR(info->duration, out->summary->seconds, 0.15);
}
