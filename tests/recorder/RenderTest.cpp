#include "erp/ErpTools.h"
#include "platform/Dispatch.h"
#include "platform/Media.h"
#include "platform/Speech.h"
#include "recorder/RecordRender.h"
#include "support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtEndian>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace {

using Line = RecordRender::Line;
using Result = RecordRender::Result;
using RecordError = PaneRecorder::RecordError;

const QString FIRST = "Open the GST registration form.";
const QString SECOND = "Fill the legal name, PAN and mobile number, then continue.";

// A raw recording: `seconds` at 10 frames a second, each frame one colour
// (colourAt decides), 640 x 360.
void writeRaw(const QString &folder, double seconds, const std::function<QColor(double)> &colourAt)
{
    Media::VideoSettings s;
    s.width = 640;
    s.height = 360;
    QString error;
    auto w = Media::VideoWriter::open(QDir(folder).filePath("raw.mp4"), s, &error);
    ASSERT_TRUE(w) << error.toStdString();
    QImage img(640, 360, QImage::Format_RGB32);
    for (int i = 0; i < int(std::lround(seconds * 10)); ++i) {
        img.fill(colourAt(i / 10.0));
        ASSERT_TRUE(w->append(img, i / 10.0, &error)) << error.toStdString();
    }
    ASSERT_TRUE(w->finish(&error, seconds)) << error.toStdString();
}

// A mono 16-bit sound file of a tone lasting `seconds`.
void writeTone(const QString &path, double seconds)
{
    const int rate = 22050;
    const int n = int(seconds * rate);
    QByteArray data;
    for (int i = 0; i < n; ++i) {
        const qint16 v = qToLittleEndian(qint16(8000 * std::sin(i * 2 * M_PI * 440 / rate)));
        data.append(reinterpret_cast<const char *>(&v), 2);
    }
    auto u32 = [](quint32 v) {
        v = qToLittleEndian(v);
        return QByteArray(reinterpret_cast<const char *>(&v), 4);
    };
    auto u16 = [](quint16 v) {
        v = qToLittleEndian(v);
        return QByteArray(reinterpret_cast<const char *>(&v), 2);
    };
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("RIFF" + u32(36 + data.size()) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(rate) + u32(rate * 2) +
            u16(2) + u16(16) + "data" + u32(data.size()) + data);
}

// Renders and waits (bounded) for the one answer.
std::optional<Result> renderAndWait(const QString &folder, const QString &name, const QVector<Line> &lines,
                                    const QString &voice, bool captions = true, int ms = 60000)
{
    auto got = std::make_shared<std::vector<Result>>();
    auto mutex = std::make_shared<std::mutex>();
    RecordRender::render(folder, name, lines, voice, "en", captions, [got, mutex](const Result &r) {
        std::lock_guard<std::mutex> g(*mutex);
        got->push_back(r);
    });
    if (!TestKit::waitFor(
            [&] {
                std::lock_guard<std::mutex> g(*mutex);
                return !got->empty();
            },
            ms))
        return std::nullopt;
    TestKit::spin(20);
    std::lock_guard<std::mutex> g(*mutex);
    EXPECT_EQ(got->size(), 1u) << "a render answers once";
    return got->front();
}

QString errorOf(const std::optional<Result> &r)
{
    return r && r->error ? r->error->description() : QString();
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// The decoded frame shown at a time.
QColor pixelAt(const QString &video, double t, QPoint p)
{
    const auto frame = Media::frameAt(video, t);
    EXPECT_TRUE(frame);
    return frame ? frame->pixelColor(p) : QColor();
}

void expectColour(const QColor &got, const QColor &want, const char *what)
{
    EXPECT_NEAR(got.red(), want.red(), 14) << what;
    EXPECT_NEAR(got.green(), want.green(), 14) << what;
    EXPECT_NEAR(got.blue(), want.blue(), 14) << what;
}

// The clients folder of a test, and the hooks put back after it.
struct Clients {
    QTemporaryDir root;
    std::function<QString()> saved = ErpTools::workRoot;
    double scale = Dispatch::timeScale;
    Clients()
    {
        ErpTools::workRoot = [path = root.path()] { return path; };
    }
    ~Clients()
    {
        ErpTools::workRoot = saved;
        Speech::engine = nullptr;
        Dispatch::timeScale = scale;
    }
    QString folder(const QString &rel)
    {
        QDir(root.path()).mkpath(rel);
        return QDir(root.path()).filePath(rel);
    }
};

} // namespace

TEST(RenderParts, TimeStamps)
{
    for (const auto &[s, text] : std::vector<std::pair<double, QString>>{{0, "00:00:00,000"},
                                                                         {3.0, "00:00:03,000"},
                                                                         {61.5, "00:01:01,500"},
                                                                         {3725.25, "01:02:05,250"},
                                                                         {0.0005, "00:00:00,001"},
                                                                         {360000, "100:00:00,000"}})
        EXPECT_EQ(RecordRender::stamp(s), text) << s;
}

TEST(RenderParts, WordsCountPiecesBetweenSpacesOnly)
{
    for (const auto &[text, n] : std::vector<std::pair<QString, int>>{
             {"one two three", 3}, {"one   two", 2}, {"  lead and trail  ", 3}, {"tab\tjoined words", 2},
             {"line\nbreak", 1}, {"", 0}, {FIRST, 5}, {SECOND, 10}})
        EXPECT_EQ(RecordRender::words(text), n) << text.toStdString();
}

TEST(RenderParts, TimingPlan)
{
    using Clips = std::vector<std::optional<QString>>;
    using Lengths = std::vector<std::optional<double>>;
    struct Case {
        const char *what;
        QVector<Line> lines;
        Lengths lengths;
        double rawLen;
        std::vector<std::pair<double, double>> cues; // start, dur
        double total;
        double hold;
        QStringList notes;
    };
    const QString three = "one two three", ten = "a b c d e f g h i j";
    const std::vector<Case> cases = {
        {"word-timed lines", {{0, three}, {5, ten}}, {}, 20, {{0, 1.6}, {5, 4.2}}, 20, 0, {}},
        {"a clip's length; the next line moved",
         {{0, "x"}, {2.0, "y"}},
         {2.75, std::nullopt},
         20,
         {{0, 2.75}, {3.0, 1.6}},
         20,
         0,
         {"line 2 moved to 3.0 s so it does not talk over line 1"}},
        {"0.4 s late is within the grace", {{0, "x"}, {2.6, "y"}}, {2.75}, 20, {{0, 2.75}, {3.0, 1.6}}, 20, 0, {}},
        {"the voice runs past the end",
         {{9.0, "x"}},
         {3.0},
         10.0,
         {{9.0, 3.0}},
         12.6,
         0.1,
         {"held the last frame 2.6 s for the voice-over to finish"}},
        {"0.03 s past the end holds nothing", {{7.83, "x"}}, {1.6}, 10.0, {{7.83, 1.6}}, 10.03, 0, {}},
        {"a very short recording is held whole", {{0, "x"}}, {4.95}, 0.05, {{0, 4.95}}, 5.55, 0.05,
         {"held the last frame 5.5 s for the voice-over to finish"}},
        {"no lines", {}, {}, 4.2, {}, 4.2, 0, {}},
        {"the self-test's lines",
         {{0.5, FIRST}, {2.6, SECOND}},
         {},
         8.0,
         {{0.5, 2.1}, {2.85, 4.2}},
         8.0,
         0,
         {}},
    };
    for (const Case &c : cases) {
        Clips clips;
        for (const auto &l : c.lengths)
            clips.push_back(l ? std::optional<QString>("clip.wav") : std::nullopt);
        const auto p = RecordRender::plan(c.lines, clips, c.lengths, c.rawLen);
        ASSERT_EQ(p.cues.size(), c.cues.size()) << c.what;
        for (size_t i = 0; i < c.cues.size(); ++i) {
            EXPECT_NEAR(p.cues[i].start, c.cues[i].first, 1e-9) << c.what << " cue " << i;
            EXPECT_NEAR(p.cues[i].dur, c.cues[i].second, 1e-9) << c.what << " cue " << i;
            EXPECT_EQ(p.cues[i].clip.has_value(), i < c.lengths.size() && c.lengths[i].has_value()) << c.what;
        }
        EXPECT_NEAR(p.total, c.total, 1e-9) << c.what;
        EXPECT_NEAR(p.hold, c.hold, 1e-9) << c.what;
        EXPECT_EQ(p.notes, c.notes) << c.what;
    }
}

TEST(RenderParts, CaptionGeometry)
{
    const auto a = RecordRender::captionLayout({1280, 720}, QString(60, 'x'));
    EXPECT_NEAR(a.font, 24.48, 1e-9);
    EXPECT_NEAR(a.box.width(), 1024, 1e-9);
    EXPECT_NEAR(a.box.x(), 128, 1e-9);
    EXPECT_NEAR(720 - a.box.bottom(), 36, 1e-9) << "36 px above the bottom edge";
    EXPECT_NEAR(a.box.height(), 70.992, 1e-9);
    EXPECT_EQ(a.lines, 1) << "734.4 <= 984";
    EXPECT_NEAR(a.text.height(), 1.3 * 24.48, 1e-9);
    EXPECT_NEAR(a.text.center().y(), a.box.center().y(), 1e-9);
    EXPECT_NEAR(a.text.x(), 148, 1e-9);
    EXPECT_NEAR(a.text.width(), 984, 1e-9);

    EXPECT_EQ(RecordRender::captionLayout({1280, 720}, QString(81, 'x')).lines, 2);
    // Characters as a person counts them: an accented letter made of two code points is one.
    EXPECT_EQ(RecordRender::captionLayout({1280, 720}, QString(80, 'x') + QString::fromUtf8("e\u0301")).lines, 2);
    EXPECT_EQ(RecordRender::captionLayout({1280, 720}, QString(79, 'x') + QString::fromUtf8("e\u0301")).lines, 1);
    EXPECT_NEAR(RecordRender::captionLayout({1920, 1080}, "x").font, 36.72, 1e-9);
    EXPECT_NEAR(RecordRender::captionLayout({640, 360}, "x").font, 22, 1e-9);
}

TEST(RenderParts, TheCaptionBoxStandsOutOnDarkAndLightPages)
{
    // The box laid over a black and a white page: its edge and its text
    // differ plainly from the page on both.
    const QSize size(1280, 720);
    QPoint at;
    const QImage caption = RecordRender::captionImage(size, QStringLiteral("Open the GST portal"), &at);
    const auto lum = [](const QColor &c) { return 0.2126 * c.redF() + 0.7152 * c.greenF() + 0.0722 * c.blueF(); };
    for (const QColor page : {QColor(Qt::black), QColor(Qt::white), QColor(18, 20, 28)}) {
        QImage frame(size, QImage::Format_RGB32);
        frame.fill(page);
        {
            QPainter p(&frame);
            p.drawImage(at, caption);
        }
        const int midY = at.y() + caption.height() / 2;
        double edgeGap = 0, textGap = 0;
        for (int x = at.x(); x < at.x() + 4; ++x)
            edgeGap = std::max(edgeGap, std::abs(lum(frame.pixelColor(x, midY)) - lum(page)));
        for (int x = at.x() + 20; x < at.x() + caption.width() - 20; ++x)
            textGap = std::max(textGap, lum(frame.pixelColor(x, midY)));
        EXPECT_GT(edgeGap, 0.3) << page.name().toStdString();
        EXPECT_GT(textGap, 0.9) << "white letters on " << page.name().toStdString();
    }
}

TEST(RenderParts, UniqueNamesCountUpWithoutDoubling)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Record test.mp4");
    EXPECT_EQ(RecordRender::unique(path), path);
    QFile(path).open(QIODevice::WriteOnly);
    EXPECT_EQ(RecordRender::unique(path), dir.filePath("Record test-2.mp4"));
    QFile(dir.filePath("Record test-2.mp4")).open(QIODevice::WriteOnly);
    EXPECT_EQ(RecordRender::unique(path), dir.filePath("Record test-3.mp4"));
}

TEST(Render, TheSelfTestRenderWithoutVoice)
{
    Clients clients;
    const QString folder = clients.folder("02 Clients/Acme/Videos/Record test");
    writeRaw(folder, 8.0, [](double) { return QColor(Qt::white); });
    const QVector<Line> lines = {{2.6, SECOND}, {0.5, FIRST}};
    const auto r = renderAndWait(folder, "Record test", lines, "none");
    ASSERT_TRUE(r && r->ok()) << errorOf(r).toStdString();
    const auto &o = *r->output;
    EXPECT_EQ(o.video, QDir(folder).filePath("Record test.mp4"));
    EXPECT_EQ(o.seconds, 8.0);
    EXPECT_TRUE(o.notes.isEmpty());

    ASSERT_TRUE(o.srt);
    EXPECT_EQ(*o.srt, QDir(folder).filePath("Record test.srt"));
    EXPECT_EQ(TestKit::readFile(*o.srt), "1\n00:00:00,500 --> 00:00:02,600\n" + FIRST.toUtf8() +
                                             "\n\n2\n00:00:02,850 --> 00:00:07,050\n" + SECOND.toUtf8() + "\n");

    const QJsonObject script = QJsonDocument::fromJson(TestKit::readFile(QDir(folder).filePath("script.json"))).object();
    EXPECT_EQ(script.value("voice").toString(), "none");
    EXPECT_EQ(script.value("language").toString(), "en");
    EXPECT_EQ(script.value("lines").toArray(),
              QJsonArray({QJsonObject{{"at", 0.5}, {"text", FIRST}}, QJsonObject{{"at", 2.6}, {"text", SECOND}}}));

    const auto info = Media::readVideo(o.video, false);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->codec, "h264");
    EXPECT_EQ(info->videoStreams, 1);
    EXPECT_EQ(info->otherStreams, 0) << "no voice, no sound track";
    EXPECT_EQ(QSize(info->width, info->height), QSize(640, 360));
    EXPECT_NEAR(info->duration, 8.0, 0.05);

    // The caption box over the white picture while a line is spoken, none after.
    const QPoint inBox(64 + 8, 360 - 18 - 30);
    const QColor boxOverWhite = QColor::fromRgbF(0.05f * 0.78f + 0.22f, 0.07f * 0.78f + 0.22f, 0.13f * 0.78f + 0.22f);
    expectColour(pixelAt(o.video, 1.0, inBox), boxOverWhite, "first caption");
    expectColour(pixelAt(o.video, 2.82, inBox), QColor(Qt::white), "between the lines (2.8 s to 2.85 s)");
    expectColour(pixelAt(o.video, 5.0, inBox), boxOverWhite, "second caption");
    expectColour(pixelAt(o.video, 7.5, inBox), QColor(Qt::white), "after the last line");

    ASSERT_TRUE(o.poster);
    EXPECT_EQ(*o.poster, QDir(folder).filePath("poster.jpg"));
    const QImage poster(*o.poster);
    EXPECT_EQ(poster.size(), QSize(640, 360));
    expectColour(poster.pixelColor(inBox), boxOverWhite, "the poster is taken at 1 s");

    // Rendering again keeps the first video: the new one is numbered, and so
    // are its subtitles.
    const auto again = renderAndWait(folder, "Record test", lines, "none", false);
    ASSERT_TRUE(again && again->ok()) << errorOf(again).toStdString();
    EXPECT_EQ(again->output->video, QDir(folder).filePath("Record test-2.mp4"));
    EXPECT_EQ(again->output->srt, QDir(folder).filePath("Record test-2.srt"));
    EXPECT_EQ(TestKit::readFile(QDir(folder).filePath("Record test-2.srt")), TestKit::readFile(*o.srt));
    expectColour(pixelAt(again->output->video, 1.0, inBox), QColor(Qt::white), "captions off");
    EXPECT_EQ(filesIn(folder), QStringList({"Record test-2.mp4", "Record test-2.srt", "Record test.mp4",
                                            "Record test.srt", "poster.jpg", "raw.mp4", "script.json"}));
}

TEST(Render, TheComputersVoiceIsLaidUnderThePictureAndItsClipsCleanedUp)
{
    Clients clients;
    Dispatch::timeScale = 1; // the real voice, with its real watchdog
    const QString folder = clients.folder("02 Clients/Acme/Videos/Voiced");
    // Red, then blue for the last second: the held frame must be blue.
    writeRaw(folder, 2.0, [](double t) { return t < 1.0 ? QColor(Qt::red) : QColor(Qt::blue); });
    const auto r = renderAndWait(folder, "Voiced", {{0.5, FIRST}, {1.2, SECOND}}, "system");
    ASSERT_TRUE(r && r->ok()) << errorOf(r).toStdString();
    const auto &o = *r->output;
    const auto info = Media::readVideo(o.video, false);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->codec, "h264");
    EXPECT_EQ(info->audioCodec, "aac");
    EXPECT_NEAR(info->duration, o.seconds, 0.06);
    ASSERT_FALSE(o.notes.isEmpty());
    EXPECT_TRUE(o.notes.last().startsWith("held the last frame ")) << o.notes.join('|').toStdString();
    EXPECT_TRUE(o.notes.last().endsWith(" s for the voice-over to finish"));
    EXPECT_GT(o.seconds, 2.5);
    // The voice is heard, and the picture stands on the last frame until the end.
    const auto sound = Media::readAudio(o.video, 48000, 60);
    ASSERT_TRUE(sound);
    EXPECT_NEAR(double(sound->size()) / 48000, o.seconds, 0.1);
    float loudest = 0;
    for (float v : *sound)
        loudest = std::max(loudest, std::abs(v));
    EXPECT_GT(loudest, 0.05f);
    expectColour(pixelAt(o.video, o.seconds - 0.1, {10, 10}), QColor(Qt::blue), "held frame");
    // The clips of the computer's voice are gone; nothing else is.
    EXPECT_EQ(filesIn(folder), QStringList({"Voiced.mp4", "Voiced.srt", "poster.jpg", "raw.mp4", "script.json"}));
}

TEST(Render, ClipsFromAFolderVoiceTheSortedLines)
{
    Clients clients;
    const QString folder = clients.folder("02 Clients/Acme/Videos/Clips");
    writeRaw(folder, 6.0, [](double) { return QColor(Qt::gray); });
    const QString voices = clients.folder("02 Clients/Acme/Voices");
    writeTone(QDir(voices).filePath("0.wav"), 1.0);
    // Relative to the clients folder.
    const auto r = renderAndWait(folder, "Clips", {{2.6, "B"}, {0.5, "A"}}, "folder:02 Clients/Acme/Voices");
    ASSERT_TRUE(r && r->ok()) << errorOf(r).toStdString();
    // 0.wav voices A, the earliest line, for its own length; B has no clip.
    EXPECT_EQ(TestKit::readFile(*r->output->srt),
              "1\n00:00:00,500 --> 00:00:01,500\nA\n\n2\n00:00:02,600 --> 00:00:04,200\nB\n");
    EXPECT_EQ(Media::readVideo(r->output->video, false)->audioCodec, "aac");
    EXPECT_TRUE(QFile::exists(QDir(voices).filePath("0.wav"))) << "clips of a folder are never deleted";

    // A folder outside the clients folder is refused before anything is written.
    QTemporaryDir outside;
    writeTone(QDir(outside.path()).filePath("0.wav"), 1.0);
    const QString other = clients.folder("02 Clients/Acme/Videos/Other");
    writeRaw(other, 1.0, [](double) { return QColor(Qt::gray); });
    for (const QString &voice : {"folder:" + outside.path(), QString("folder:../elsewhere"), QString("folder:")}) {
        const auto refused = renderAndWait(other, "Other", {{0.5, "A"}}, voice);
        EXPECT_EQ(errorOf(refused), "The recording failed: " + RecordRender::VOICE_OUTSIDE) << voice.toStdString();
    }
    EXPECT_EQ(filesIn(other), QStringList({"raw.mp4"}));
}

TEST(Render, RefusedInputWritesNothing)
{
    Clients clients;
    const QString empty = clients.folder("02 Clients/Acme/Videos/Not yet");
    EXPECT_EQ(errorOf(renderAndWait(empty, "Not yet", {{0.5, "A"}}, "system")),
              "The recording failed: no raw.mp4 in Not yet — record first");
    EXPECT_TRUE(filesIn(empty).isEmpty());

    const QString folder = clients.folder("02 Clients/Acme/Videos/Times");
    writeRaw(folder, 1.0, [](double) { return QColor(Qt::gray); });
    for (double at : {std::nan(""), std::numeric_limits<double>::infinity(), -0.1, 86400.5, 1e300}) {
        EXPECT_EQ(errorOf(renderAndWait(folder, "Times", {{0.5, "fine"}, {at, "A"}}, "none")),
                  "The recording failed: " + RecordRender::BAD_TIME)
            << at;
    }
    // The video lands in the recording folder, never beside it.
    for (const QString &name : {QString("../Escaped"), QString("a/b"), QString(""), QString("..")})
        EXPECT_EQ(errorOf(renderAndWait(folder, name, {{0.5, "A"}}, "none")),
                  "The recording failed: " + RecordRender::BAD_NAME)
            << name.toStdString();
    EXPECT_EQ(filesIn(folder), QStringList({"raw.mp4"}));
    EXPECT_TRUE(filesIn(QFileInfo(folder).path()).isEmpty());
}

TEST(Render, BlankLinesAreDroppedAndTheRestKeptAsGiven)
{
    Clients clients;
    const QString folder = clients.folder("02 Clients/Acme/Videos/Blank");
    writeRaw(folder, 3.0, [](double) { return QColor(Qt::gray); });
    const QVector<Line> lines = {{0.1, "   "}, {0.2, ""}, {0.3, "\t\u00a0"}, {1.0, " A "}, {1.0, "\n"}, {0.4, "x"}};
    const auto r = renderAndWait(folder, "Blank", lines, "none");
    ASSERT_TRUE(r && r->ok()) << errorOf(r).toStdString();
    const QJsonObject script = QJsonDocument::fromJson(TestKit::readFile(QDir(folder).filePath("script.json"))).object();
    EXPECT_EQ(script.value("lines").toArray(),
              QJsonArray({QJsonObject{{"at", 0.4}, {"text", "x"}}, QJsonObject{{"at", 1.0}, {"text", " A "}},
                          QJsonObject{{"at", 1.0}, {"text", "\n"}}}));
    EXPECT_TRUE(TestKit::readFile(*r->output->srt).contains("\n A \n"));

    // Nothing to say: the recording exported as it is, with a poster but no subtitles.
    const auto bare = renderAndWait(folder, "Bare", {{0.1, " "}}, "none");
    ASSERT_TRUE(bare && bare->ok()) << errorOf(bare).toStdString();
    EXPECT_FALSE(bare->output->srt);
    EXPECT_TRUE(bare->output->poster);
    EXPECT_TRUE(bare->output->notes.isEmpty());
    EXPECT_EQ(bare->output->seconds, 3.0);
    EXPECT_EQ(QJsonDocument::fromJson(TestKit::readFile(QDir(folder).filePath("script.json"))).object().value("lines"),
              QJsonArray());
}

TEST(Render, AFailedRenderKeepsTheVoiceClipsAndLeavesNoVideo)
{
    Clients clients;
    Speech::engine = [](const QString &, const QString &, int, const Speech::Sink &sink) {
        std::vector<int16_t> samples(22050, 1000);
        sink(samples.data(), int(samples.size()));
    };
    const QString folder = clients.folder("02 Clients/Acme/Videos/Broken");
    QFile raw(QDir(folder).filePath("raw.mp4"));
    ASSERT_TRUE(raw.open(QIODevice::WriteOnly));
    raw.write("this is no video");
    raw.close();
    const auto r = renderAndWait(folder, "Broken", {{0.5, "A"}}, "system");
    ASSERT_TRUE(r && r->error);
    EXPECT_FALSE(r->error->description().isEmpty());
    EXPECT_EQ(filesIn(folder), QStringList({".voice-0.wav", "raw.mp4", "script.json"}));
}

TEST(Render, ARecordingThatCannotBeReadSaysWhy)
{
    Clients clients;
    const struct {
        const char *name;
        std::function<void(const QString &)> write;
        RecordError::Kind kind;
        QString detail; // empty: the video library's own words
    } cases[] = {
        {"Garbage",
         [](const QString &path) {
             QFile f(path);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.write("this is no video");
         },
         RecordError::Kind::Platform, {}},
        {"Sound only", [](const QString &path) { writeTone(path, 0.5); }, RecordError::Kind::Writer,
         "raw.mp4 has no video"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = clients.folder(QString("02 Clients/Acme/Videos/") + c.name);
        c.write(QDir(folder).filePath("raw.mp4"));
        const auto r = renderAndWait(folder, c.name, {{0.5, "A"}}, "none");
        ASSERT_TRUE(r && r->error);
        EXPECT_EQ(r->error->kind(), c.kind);
        if (c.detail.isEmpty())
            EXPECT_FALSE(r->error->detail().isEmpty());
        else
            EXPECT_EQ(r->error->detail(), c.detail);
        EXPECT_EQ(filesIn(folder), QStringList({"raw.mp4", "script.json"}));
    }
}

TEST(Render, VoiceOverPastTheEndIsHeardWholeWhileTheLastFrameStands)
{
    Clients clients;
    const QString folder = clients.folder("02 Clients/Acme/Videos/Short");
    writeRaw(folder, 0.3, [](double t) { return t < 0.15 ? QColor(Qt::red) : QColor(Qt::green); });
    const QString voices = clients.folder("02 Clients/Acme/Voices");
    writeTone(QDir(voices).filePath("0.wav"), 0.5);
    writeTone(QDir(voices).filePath("1.wav"), 0.5);
    // The second line follows the first after 0.25 s: 0.75 s to 1.25 s, all of
    // it after the recording's end.
    const auto r = renderAndWait(folder, "Short", {{0, "A"}, {0, "B"}}, "folder:" + voices);
    ASSERT_TRUE(r && r->ok()) << errorOf(r).toStdString();
    EXPECT_EQ(r->output->seconds, 1.9) << "1.25 s and 0.6 s of tail";
    EXPECT_EQ(r->output->notes.last(), "held the last frame 1.6 s for the voice-over to finish");
    const auto sound = Media::readAudio(r->output->video, 48000, 60);
    ASSERT_TRUE(sound);
    auto loudness = [&](double from, double to) {
        double sum = 0;
        const size_t a = size_t(from * 48000), b = std::min(sound->size(), size_t(to * 48000));
        for (size_t i = a; i < b; ++i)
            sum += double((*sound)[i]) * (*sound)[i];
        return b > a ? std::sqrt(sum / double(b - a)) : 0.0;
    };
    EXPECT_GT(loudness(0.05, 0.45), 0.1) << "line 1";
    EXPECT_LT(loudness(0.55, 0.7), 0.02) << "the pause between the lines";
    EXPECT_GT(loudness(0.8, 1.2), 0.1) << "line 2, in the held stretch";
    EXPECT_LT(loudness(1.35, 1.8), 0.02) << "the tail";
    expectColour(pixelAt(r->output->video, 1.0, {10, 10}), QColor(Qt::green), "the last frame stands");
}
