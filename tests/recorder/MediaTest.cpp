#include "platform/Media.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QImage solid(QSize size, QColor c)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

} // namespace

TEST(Media, WritesOneH264StreamWithFreeFrameTimes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("raw.mp4");
    Media::VideoSettings s;
    s.width = 321; // odd sizes are made even
    s.height = 181;
    QString error;
    auto w = Media::VideoWriter::open(path, s, &error);
    ASSERT_TRUE(w) << error.toStdString();
    EXPECT_EQ(w->width(), 320);
    EXPECT_EQ(w->height(), 180);
    const std::vector<double> times = {0, 0.1, 0.25, 0.3, 1.0, 1.1, 2.5};
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::white, Qt::black, Qt::yellow, Qt::gray};
    for (size_t i = 0; i < times.size(); ++i)
        ASSERT_TRUE(w->append(solid({320, 180}, colours[i]), times[i], &error)) << error.toStdString();
    // Not later than the last frame, or the wrong size: refused.
    EXPECT_FALSE(w->append(solid({320, 180}, Qt::red), 2.5));
    EXPECT_FALSE(w->append(solid({320, 180}, Qt::red), 2.5004)); // the same 1/600 s
    EXPECT_FALSE(w->append(solid({100, 100}, Qt::red), 3.0));
    ASSERT_TRUE(w->finish(&error)) << error.toStdString();

    const auto info = Media::readVideo(path, true, &error);
    ASSERT_TRUE(info) << error.toStdString();
    EXPECT_EQ(info->videoStreams, 1);
    EXPECT_EQ(info->otherStreams, 0);
    EXPECT_EQ(info->codec, "h264");
    EXPECT_EQ(info->width, 320);
    EXPECT_EQ(info->height, 180);
    EXPECT_EQ(info->timeBaseNum, 1);
    EXPECT_EQ(info->timeBaseDen, 600);
    ASSERT_EQ(info->frames.size(), times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        EXPECT_NEAR(info->times[i], times[i], 1.0 / 600) << i;
        const QColor got = info->frames[i].pixelColor(160, 90);
        EXPECT_NEAR(got.red(), colours[i].red(), 12) << i;
        EXPECT_NEAR(got.green(), colours[i].green(), 12) << i;
        EXPECT_NEAR(got.blue(), colours[i].blue(), 12) << i;
    }
}

TEST(Media, OpenErrorsSayWhatFailed)
{
    QTemporaryDir dir;
    QString error;
    Media::OpenError kind{};
    Media::VideoSettings s;
    s.width = 64;
    s.height = 64;
    EXPECT_FALSE(Media::VideoWriter::open(dir.filePath("no/such/folder/raw.mp4"), s, &error, &kind));
    EXPECT_EQ(kind, Media::OpenError::File);
    EXPECT_FALSE(error.isEmpty());

    s.width = 1;
    EXPECT_FALSE(Media::VideoWriter::open(dir.filePath("raw.mp4"), s, &error, &kind));
    EXPECT_EQ(kind, Media::OpenError::Format);
    EXPECT_FALSE(QFile::exists(dir.filePath("raw.mp4")));
}

TEST(Media, CancelDeletesTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("raw.mp4");
    Media::VideoSettings s;
    s.width = 64;
    s.height = 64;
    auto w = Media::VideoWriter::open(path, s, nullptr);
    ASSERT_TRUE(w);
    ASSERT_TRUE(w->append(solid({64, 64}, Qt::red), 0));
    EXPECT_TRUE(QFile::exists(path));
    w->cancel();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(w->append(solid({64, 64}, Qt::red), 1));
    EXPECT_FALSE(w->finish());
    EXPECT_FALSE(Media::readVideo(path, false));
}
