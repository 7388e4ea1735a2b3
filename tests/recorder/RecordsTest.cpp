// The recording's records, their JSON form, the error texts, the frame rate
// and the video size.
#include "recorder/PaneRecorder.h"
#include "support/TestKit.h"

#include <QJsonDocument>

using Rec = PaneRecorder;

namespace {

Rec::Summary sample()
{
    Rec::Summary s;
    s.name = "GST login";
    s.folder = "/tmp/x/Videos/GST login";
    s.seconds = 12.3;
    s.width = 1920;
    s.height = 1200;
    s.steps = {{1, 0, "page", "Login · services.gst.gov.in"}, {2, 2.5, "click", "Continue"}};
    s.clicks = {{2.45, 310, 220.5, 1280, 800}};
    s.hiddenByPage = {{"password", 24}};
    s.hiddenByOCR = {{"pan", 3}};
    s.framesWritten = 120;
    s.framesDropped = 2;
    return s;
}

// The keys of an object in the order the written text gives them.
QStringList keysInText(const QByteArray &json, const QStringList &expected)
{
    QList<std::pair<qsizetype, QString>> found;
    for (const QString &k : expected)
        found.append({json.indexOf("\"" + k.toUtf8() + "\""), k});
    std::sort(found.begin(), found.end());
    QStringList out;
    for (const auto &[at, k] : found)
        if (at >= 0)
            out.append(k);
    return out;
}

} // namespace

TEST(Records, SummaryJsonHasExactlyTheNamedKeysSortedAndRoundTrips)
{
    const Rec::Summary s = sample();
    const QJsonObject o = s.toJson();
    EXPECT_EQ(o.keys(), (QStringList{"clicks", "folder", "framesDropped", "framesWritten", "height", "hiddenByOCR",
                                     "hiddenByPage", "name", "seconds", "steps", "width"}));
    EXPECT_EQ(o["steps"].toArray()[0].toObject().keys(), (QStringList{"at", "kind", "n", "title"}));
    EXPECT_EQ(o["clicks"].toArray()[0].toObject().keys(), (QStringList{"at", "vh", "vw", "x", "y"}));

    const QByteArray text = QJsonDocument(o).toJson(QJsonDocument::Indented);
    EXPECT_EQ(keysInText(text, {"clicks", "folder", "framesDropped", "framesWritten", "height", "hiddenByOCR",
                                "hiddenByPage", "name", "seconds", "steps", "width"}),
              (QStringList{"clicks", "folder", "framesDropped", "framesWritten", "height", "hiddenByOCR",
                           "hiddenByPage", "name", "seconds", "steps", "width"}));

    const auto back = Rec::Summary::fromJson(QJsonDocument::fromJson(text).object());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, s);
}

TEST(Records, EmptyRecordingKeepsEveryKey)
{
    Rec::Summary s;
    const QJsonObject o = s.toJson();
    EXPECT_EQ(o.size(), 11);
    EXPECT_TRUE(o["steps"].isArray() && o["steps"].toArray().isEmpty());
    EXPECT_TRUE(o["clicks"].isArray() && o["clicks"].toArray().isEmpty());
    EXPECT_TRUE(o["hiddenByPage"].isObject() && o["hiddenByPage"].toObject().isEmpty());
    EXPECT_TRUE(o["hiddenByOCR"].isObject() && o["hiddenByOCR"].toObject().isEmpty());
}

TEST(Records, EveryFieldIsRequiredWhenRead)
{
    const QJsonObject whole = sample().toJson();
    for (const QString &key : whole.keys()) {
        QJsonObject o = whole;
        o.remove(key);
        EXPECT_FALSE(Rec::Summary::fromJson(o).has_value()) << key.toStdString();
        o = whole;
        o.insert(key, true);
        EXPECT_FALSE(Rec::Summary::fromJson(o).has_value()) << key.toStdString() << " of another type";
    }
    EXPECT_FALSE(Rec::Step::fromJson({{"n", 1}, {"at", 0}, {"kind", "page"}}).has_value());
    EXPECT_FALSE(Rec::Step::fromJson({{"n", 1.5}, {"at", 0}, {"kind", "page"}, {"title", ""}}).has_value());
    EXPECT_FALSE(Rec::Click::fromJson({{"at", 0}, {"x", 1}, {"y", 1}, {"vw", 1}}).has_value());
}

TEST(Records, ErrorTexts)
{
    const struct {
        Rec::RecordError error;
        const char *text;
    } cases[] = {
        {Rec::RecordError::writer("could not start"), "The recording failed: could not start"},
        {Rec::RecordError::writer("the video writer refused the format"),
         "The recording failed: the video writer refused the format"},
        {Rec::RecordError::writer("no frame could be recorded — was the Browser pane showing a portal page?"),
         "The recording failed: no frame could be recorded — was the Browser pane showing a portal page?"},
        {Rec::RecordError::writer("the video could not be finished"),
         "The recording failed: the video could not be finished"},
        {Rec::RecordError::busy(), "A recording is already running. Stop it first."},
        {Rec::RecordError::noBrowser(), "Open the Browser pane on the page to record first."},
        {Rec::RecordError::noScript(), "The privacy script is missing from this build, so recording is off."},
        {Rec::RecordError::notRecording(), "Nothing is being recorded."},
        {Rec::RecordError::platform("Permission denied"), "Permission denied"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.error.description(), QString::fromUtf8(c.text));
}

TEST(Records, FrameRateFromTheEnvironment)
{
    const struct {
        std::optional<QString> demoHome;
        std::optional<QString> fps;
        double want;
    } cases[] = {
        {"/tmp/demo", "60", 30}, {"/tmp/demo", "2", 5},      {"/tmp/demo", "12.5", 12.5},
        {"/tmp/demo", "fast", 10}, {"", "20", 20},           {std::nullopt, "20", 10},
        {"/tmp/demo", std::nullopt, 10},
    };
    for (const auto &c : cases) {
        QProcessEnvironment env;
        if (c.demoHome)
            env.insert("VELTO_DEMO_HOME", *c.demoHome);
        if (c.fps)
            env.insert("VELTO_RECORD_FPS", *c.fps);
        EXPECT_DOUBLE_EQ(Rec::fpsFrom(env), c.want) << c.fps.value_or("-").toStdString();
    }
}

TEST(Records, VideoSizeIsLimitedInWidthAndEven)
{
    const struct {
        QSizeF points;
        double scale;
        bool demo;
        QSize want;
    } cases[] = {
        {{1440, 900}, 2, false, {1920, 1200}}, {{1440, 900}, 3, true, {3840, 2400}},
        {{1001, 601}, 1, false, {1000, 600}},  {{800, 2000}, 2, false, {1600, 4000}},
        {{1920, 1200}, 1, false, {1920, 1200}}, {{1000, 700}, 2, false, {1920, 1344}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Rec::canvasFor(c.points, c.scale, c.demo), c.want)
            << c.points.width() << "x" << c.points.height() << "@" << c.scale;
}
