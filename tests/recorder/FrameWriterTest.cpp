#include "recorder/FrameWriter.h"

#include "RecorderFixtures.h"
#include "support/TestKit.h"

#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QColor kPill = QColor::fromRgbF(0.886f, 0.898f, 0.929f);
const QColor kBackground = QColor::fromRgbF(0.965f, 0.961f, 0.945f);

bool near(QColor a, QColor b, int tol = 3)
{
    return std::abs(a.red() - b.red()) <= tol && std::abs(a.green() - b.green()) <= tol &&
           std::abs(a.blue() - b.blue()) <= tol;
}

QJsonObject area(double x, double y, double w, double h, const QString &kind = {})
{
    QJsonObject o{{"x", x}, {"y", y}, {"w", w}, {"h", h}};
    if (!kind.isEmpty())
        o["kind"] = kind;
    return o;
}

// Share of the pixels in the box that have the pill's colour.
double pillShare(const QImage &img, const QRect &box)
{
    int n = 0, pill = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x, ++n)
            pill += near(img.pixelColor(x, y), kPill, 8);
    return n ? double(pill) / n : 0;
}

struct Written {
    std::vector<FrameWriter::Result> results;
    bool finished = false;
    bool ok = false;
    QString error;
};

} // namespace

TEST(FrameWriterCompose, FitsTheImageAndMapsPageAreas)
{
    // A 200 x 100 image into a 400 x 400 canvas: scale 2, bands above and below.
    QImage canvas(400, 400, QImage::Format_RGB32);
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(Qt::black);
    FrameWriter::Counts byPage, byOCR;
    const QJsonArray rects{area(0, 0, 50, 25, "pan"), area(10, 10, 5, 5), QJsonObject{{"x", 1}, {"y", 1}, {"w", 10}}};
    // vw is half the image's pixel width: page pixels are two image pixels.
    FrameWriter::compose(canvas, image, rects, 100, {}, byPage, byOCR);
    EXPECT_TRUE(near(canvas.pixelColor(200, 50), kBackground));  // band above
    EXPECT_TRUE(near(canvas.pixelColor(200, 350), kBackground)); // band below
    EXPECT_TRUE(near(canvas.pixelColor(300, 250), Qt::black));
    // Page area (0, 0, 50, 25) at k = 4: the top-left corner of the drawn image, 200 x 100.
    EXPECT_GT(pillShare(canvas, QRect(10, 110, 180, 80)), 0.8);
    EXPECT_TRUE(near(canvas.pixelColor(210, 150), Qt::black));
    EXPECT_EQ(byPage, (FrameWriter::Counts{{"pan", 1}, {"field", 1}})); // the one without h is ignored
    EXPECT_TRUE(byOCR.empty());

    // An image of the canvas's own size has no bands; vw 0 is taken as 1.
    QImage same(400, 400, QImage::Format_RGB32);
    same.fill(Qt::black);
    byPage.clear();
    FrameWriter::compose(canvas, same, QJsonArray{area(0, 0, 0.01, 0.01)}, 0, {}, byPage, byOCR);
    EXPECT_TRUE(near(canvas.pixelColor(0, 399), Qt::black));
    EXPECT_TRUE(near(canvas.pixelColor(2, 2), kPill, 8));
}

TEST(FrameWriterCompose, CountsEachIdentifierOnce)
{
    QImage canvas(1000, 500, QImage::Format_RGB32);
    QImage image(1000, 500, QImage::Format_RGB32);
    image.fill(Qt::white);
    FrameWriter::Counts byPage, byOCR;
    // Normalised, y upwards: (0.1, 0.8) is 50 px from the top.
    const Redaction::OCRHit pan{QRectF(0.1, 0.8, 0.1, 0.04), "pan"};
    const Redaction::OCRHit inside{QRectF(0.5, 0.5, 0.05, 0.04), "mobile"};
    const Redaction::OCRHit email{QRectF(0.6, 0.1, 0.2, 0.04), "email"};
    // A page area that covers the mobile number's grown box.
    const QJsonArray rects{area(480, 220, 100, 60, "field")};
    FrameWriter::compose(canvas, image, rects, 1000, {pan, pan, inside, email}, byPage, byOCR);
    EXPECT_EQ(byOCR, (FrameWriter::Counts{{"pan", 1}, {"email", 1}}));
    EXPECT_EQ(byPage, (FrameWriter::Counts{{"field", 1}}));
    // The PAN's pill: 100 x 20 grown by 8 and 6, from (92, 74).
    EXPECT_GT(pillShare(canvas, QRect(95, 78, 94, 22)), 0.75);
    EXPECT_TRUE(near(canvas.pixelColor(80, 84), Qt::white));
    EXPECT_TRUE(near(canvas.pixelColor(150, 60), Qt::white));
}

TEST(FrameWriterCompose, PillsCarryDotsAndStayInTheCanvas)
{
    QImage canvas(300, 100, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    // 30 high and 40 wide: one dot of 6.6 px at 10 px from the left, on the middle line.
    FrameWriter::paintPill(canvas, QRectF(10, 10, 40, 30));
    const QColor dot = QColor::fromRgbF(0.42f, 0.44f, 0.52f);
    EXPECT_TRUE(near(canvas.pixelColor(23, 25), dot, 10));
    EXPECT_TRUE(near(canvas.pixelColor(38, 25), kPill, 8));
    // A very wide box: eight dots, the last one at 10 + 7 * 14.52.
    FrameWriter::paintPill(canvas, QRectF(60, 50, 230, 30));
    EXPECT_TRUE(near(canvas.pixelColor(int(60 + 10 + 7 * 14.52 + 3.3), 65), dot, 10));
    EXPECT_TRUE(near(canvas.pixelColor(int(60 + 10 + 8 * 14.52 + 3.3), 65), kPill, 8));
    // Wholly outside, or a sliver after clipping: nothing painted.
    const QImage before = canvas.copy();
    FrameWriter::paintPill(canvas, QRectF(400, 10, 50, 30));
    FrameWriter::paintPill(canvas, QRectF(299.5, 10, 50, 30));
    EXPECT_EQ(canvas, before);
}

class FrameWriterTest : public ::testing::Test {
protected:
    TestKit::TempHome home;
    QTemporaryDir dir;

    std::unique_ptr<FrameWriter> open(QSize canvas, QString *error = nullptr)
    {
        FrameWriter::Options options;
        return FrameWriter::open(dir.filePath("raw.mp4"), canvas, options, error);
    }

    void writeAll(FrameWriter &w, const std::vector<FrameWriter::Frame> &frames, Written &out)
    {
        for (const auto &f : frames)
            w.write(f, [&out](FrameWriter::Result r) { out.results.push_back(r); });
        w.finish([&out](bool ok, QString error) {
            out.finished = true;
            out.ok = ok;
            out.error = error;
        });
        ASSERT_TRUE(TestKit::waitFor([&] { return out.finished; }, 120000));
    }
};

// The whole road: frames of a portal page through recognition, covering and
// encoding into an MPEG-4 file, read back and recognised again.
TEST_F(FrameWriterTest, NoValueCanBeReadInTheWrittenVideo)
{
    const QSize view(1000, 600);
    const QImage first = RecorderFixtures::portalView(view, 0);
    // The recogniser reads the values on the page before it is covered.
    const QStringList before = RecorderFixtures::readableValues(first);
    ASSERT_GE(before.size(), 16) << before.join(", ").toStdString();

    std::vector<FrameWriter::Frame> frames;
    double t = 0;
    auto add = [&](const QImage &img) {
        frames.push_back(FrameWriter::Frame{img, {}, double(img.width()), double(img.height()), t});
        t += 0.1;
    };
    add(first);
    add(first);
    add(RecorderFixtures::portalView(view, 0, "10:15:01")); // the clock ticks
    add(RecorderFixtures::portalView(view, 45, "10:15:01"));  // a scroll
    add(RecorderFixtures::portalView(view, 45, "10:15:01"));
    add(RecorderFixtures::portalView(view, 130, "10:15:02")); // a scroll and a tick
    add(RecorderFixtures::portalView(view, 517, "10:15:02")); // a long scroll that cuts rows at both edges

    auto w = open(QSize(1000, 600));
    ASSERT_TRUE(w);
    Written out;
    writeAll(*w, frames, out);
    ASSERT_TRUE(out.ok) << out.error.toStdString();
    ASSERT_EQ(out.results.size(), frames.size());
    long long hidden = 0;
    for (const auto &r : out.results) {
        EXPECT_TRUE(r.written);
        for (const auto &[kind, n] : r.byOCR)
            hidden += n;
    }
    EXPECT_GE(hidden, 16 * 7);

    QString error;
    const auto video = Media::readVideo(dir.filePath("raw.mp4"), true, &error);
    ASSERT_TRUE(video) << error.toStdString();
    EXPECT_EQ(video->videoStreams, 1);
    EXPECT_EQ(video->codec, "h264");
    EXPECT_EQ(QSize(video->width, video->height), QSize(1000, 600));
    ASSERT_EQ(video->frames.size(), frames.size());
    for (size_t i = 0; i < video->frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(video->times[i], frames[i].at, 1.0 / 600);
        const QStringList readable = RecorderFixtures::readableValues(video->frames[i]);
        EXPECT_TRUE(readable.isEmpty()) << readable.join(", ").toStdString();
        // Nor does the redaction itself find anything left to hide.
        const QStringList lines = RecorderFixtures::readText(video->frames[i]);
        for (const QString &line : lines) {
            Ocr::Line l;
            l.text = line;
            l.units.fill(QRectF(), line.size());
            for (const auto &h : Redaction::lineHits(l))
                ADD_FAILURE() << h.kind.toStdString() << " in \"" << line.toStdString() << "\"";
        }
    }
}

TEST_F(FrameWriterTest, AValueCutAtTheEdgeIsCovered)
{
    // Scrolled so that the top edge runs through the middle of a line of values.
    const QSize view(1000, 300);
    // The first client's PAN line has its baseline at 150 on the page; the
    // glyphs stand about 12 px above it.
    const QImage cut = RecorderFixtures::portalView(view, 143);
    auto w = open(view);
    ASSERT_TRUE(w);
    Written out;
    writeAll(*w, {FrameWriter::Frame{cut, {}, 1000, 300, 0}}, out);
    ASSERT_TRUE(out.ok);
    ASSERT_EQ(out.results.size(), 1u);
    EXPECT_TRUE(out.results[0].written);
    const auto video = Media::readVideo(dir.filePath("raw.mp4"), true);
    ASSERT_TRUE(video);
    ASSERT_EQ(video->frames.size(), 1u);
    // The cut PAN and GSTIN at the top, x 90..200 and 430..600: covered.
    const QImage &f = video->frames[0];
    EXPECT_GT(pillShare(f, QRect(95, 0, 100, 5)), 0.6);
    EXPECT_GT(pillShare(f, QRect(440, 0, 150, 5)), 0.6);
}

TEST_F(FrameWriterTest, FramesWithoutTheirTextCheckAreDropped)
{
    const auto saved = Redaction::recognise;
    Redaction::recognise = [](Ocr::Engine &, const QImage &) { return std::optional<QVector<Ocr::Line>>(); };
    auto w = open(QSize(320, 200));
    ASSERT_TRUE(w);
    QImage img(320, 200, QImage::Format_RGB32);
    img.fill(Qt::white);
    Written out;
    writeAll(*w, {FrameWriter::Frame{img, {}, 320, 200, 0}, FrameWriter::Frame{img, {}, 320, 200, 0.1}}, out);
    Redaction::recognise = saved;
    ASSERT_EQ(out.results.size(), 2u);
    EXPECT_FALSE(out.results[0].written);
    EXPECT_FALSE(out.results[1].written);
    const auto video = Media::readVideo(dir.filePath("raw.mp4"), true);
    EXPECT_TRUE(!video || video->frames.empty());
}

TEST_F(FrameWriterTest, RefusesFramesOutOfTime)
{
    auto w = open(QSize(320, 200));
    ASSERT_TRUE(w);
    QImage img(320, 200, QImage::Format_RGB32);
    img.fill(Qt::white);
    std::vector<FrameWriter::Frame> frames = {
        {img, {}, 320, 200, 0},      // the first frame at 0 s is taken
        {img, {}, 320, 200, 0},      // not later
        {img, {}, 320, 200, -1},     // earlier
        {QImage(), {}, 320, 200, 1}, // no image
        {img, {}, 320, 200, 0.5},
    };
    Written out;
    writeAll(*w, frames, out);
    ASSERT_TRUE(out.ok);
    ASSERT_EQ(out.results.size(), 5u);
    // Answers come in the order of the calls; refused ones may come first.
    int written = 0;
    for (const auto &r : out.results)
        written += r.written;
    EXPECT_EQ(written, 2);
    EXPECT_EQ(w->pending(), 0);
    const auto video = Media::readVideo(dir.filePath("raw.mp4"), false);
    ASSERT_TRUE(video);
    ASSERT_EQ(video->times.size(), 2u);
    EXPECT_NEAR(video->times[1], 0.5, 1.0 / 600);
}

TEST_F(FrameWriterTest, CancelAnswersWaitingFramesAndDeletesTheFile)
{
    auto w = open(QSize(320, 200));
    ASSERT_TRUE(w);
    QImage img(320, 200, QImage::Format_RGB32);
    img.fill(Qt::white);
    int answered = 0;
    for (int i = 0; i < 3; ++i)
        w->write(FrameWriter::Frame{img, {}, 320, 200, i * 0.1}, [&](FrameWriter::Result) { ++answered; });
    w->cancel();
    ASSERT_TRUE(TestKit::waitFor([&] { return answered == 3; }, 60000));
    EXPECT_FALSE(QFile::exists(dir.filePath("raw.mp4")));
    bool finished = false, ok = true;
    w->finish([&](bool o, QString) {
        finished = true;
        ok = o;
    });
    ASSERT_TRUE(TestKit::waitFor([&] { return finished; }));
    EXPECT_FALSE(ok);
}

TEST_F(FrameWriterTest, OpenFailsWithTheReason)
{
    QString error;
    Media::OpenError kind{};
    FrameWriter::Options options;
    EXPECT_FALSE(FrameWriter::open(dir.filePath("missing/raw.mp4"), QSize(320, 200), options, &error, &kind));
    EXPECT_EQ(kind, Media::OpenError::File);
    EXPECT_FALSE(error.isEmpty());
}

// A value drawn in a canvas, in a face the recogniser misreads ("Z" read as
// "2", so no pattern matches): inside an area the page reports as drawn
// pixels, its identifier-shaped word is covered from the first frame; the
// same reading elsewhere is ordinary text.
TEST_F(FrameWriterTest, AMisreadValueDrawnAsPixelsIsStillCovered)
{
    const auto saved = Redaction::recognise;
    // Whatever image it is given, the recogniser reads one line across its middle.
    Redaction::recognise = [](Ocr::Engine &, const QImage &image) {
        Ocr::Line line;
        line.text = QStringLiteral("GSTIN 36JNQPC6612E12X");
        const double w = image.width() * 0.6 / line.text.size(), x0 = image.width() * 0.2;
        const double y = image.height() * 0.4, h = image.height() * 0.2;
        for (int i = 0; i < line.text.size(); ++i)
            line.units.push_back(QRectF(x0 + i * w, y, w, h));
        line.box = QRectF(x0, y, w * line.text.size(), h);
        return std::optional<QVector<Ocr::Line>>(QVector<Ocr::Line>{line});
    };
    QImage img(320, 200, QImage::Format_RGB32);
    img.fill(Qt::white);
    struct Case {
        QJsonArray pixels;
        bool covered;
    };
    const Case cases[] = {{QJsonArray{area(20, 40, 280, 120)}, true}, {QJsonArray{}, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.covered ? "drawn area" : "no drawn area");
        QTemporaryDir here;
        auto w = FrameWriter::open(here.filePath("raw.mp4"), QSize(320, 200), FrameWriter::Options{}, nullptr);
        ASSERT_TRUE(w);
        Written out;
        writeAll(*w, {FrameWriter::Frame{img, {}, 320, 200, 0, c.pixels}}, out);
        ASSERT_EQ(out.results.size(), 1u);
        ASSERT_TRUE(out.results[0].written);
        EXPECT_EQ(!out.results[0].byOCR.empty(), c.covered);
        const auto video = Media::readVideo(here.filePath("raw.mp4"), true);
        ASSERT_TRUE(video && video->frames.size() == 1);
        // Above the pill's dots, over the value.
        EXPECT_EQ(pillShare(video->frames[0], QRect(180, 86, 40, 6)) > 0.5, c.covered);
    }
    Redaction::recognise = saved;
}
