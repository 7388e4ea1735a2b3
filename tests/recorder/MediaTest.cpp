#include "platform/Media.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
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

TEST(Media, ASoundTrackAndAnEndTime)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("voiced.mp4");
    Media::VideoSettings s;
    s.width = 160;
    s.height = 90;
    s.quality = 20;
    s.preset = "veryfast";
    s.lowLatency = false;
    s.threads = 0;
    s.audioRate = 48000;
    QString error;
    auto w = Media::VideoWriter::open(path, s, &error);
    ASSERT_TRUE(w) << error.toStdString();
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue};
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(w->append(solid({160, 90}, colours[i]), i * 0.5, &error)) << error.toStdString();
    std::vector<float> tone(72000);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.5f * float(std::sin(double(i) * 2 * M_PI * 440 / 48000));
    ASSERT_TRUE(w->appendAudio(tone.data(), qsizetype(tone.size()), &error)) << error.toStdString();
    EXPECT_DOUBLE_EQ(w->audioSeconds(), 1.5);
    // The last frame stands until 2 s.
    ASSERT_TRUE(w->finish(&error, 2.0)) << error.toStdString();

    const auto info = Media::readVideo(path, false, &error);
    ASSERT_TRUE(info) << error.toStdString();
    EXPECT_EQ(info->codec, "h264");
    EXPECT_EQ(info->audioCodec, "aac");
    EXPECT_NEAR(info->duration, 2.0, 0.03);
    EXPECT_EQ(info->times.size(), 3u);
    const auto sound = Media::readAudio(path, 48000, 60, &error);
    ASSERT_TRUE(sound) << error.toStdString();
    EXPECT_NEAR(double(sound->size()) / 48000, 1.5, 0.03);
    EXPECT_FALSE(Media::readAudio(path, 48000, 0.5)->size() > 24000u) << "cut at the asked length";

    // The frame shown at a time is the last one that began by then.
    for (const auto &[t, c] : std::vector<std::pair<double, QColor>>{{0, Qt::red}, {0.49, Qt::red}, {0.7, Qt::green},
                                                                     {1.9, Qt::blue}, {30, Qt::blue}}) {
        const auto frame = Media::frameAt(path, t, &error);
        ASSERT_TRUE(frame) << error.toStdString();
        EXPECT_NEAR(frame->pixelColor(80, 45).red(), c.red(), 16) << t;
        EXPECT_NEAR(frame->pixelColor(80, 45).blue(), c.blue(), 16) << t;
    }
    // A silent video has no sound to read, and refuses sound.
    const QString silent = dir.filePath("silent.mp4");
    s.audioRate = 0;
    auto quiet = Media::VideoWriter::open(silent, s, &error);
    ASSERT_TRUE(quiet);
    EXPECT_FALSE(quiet->appendAudio(tone.data(), 10));
    ASSERT_TRUE(quiet->append(solid({160, 90}, Qt::red), 0));
    ASSERT_TRUE(quiet->finish());
    EXPECT_FALSE(Media::readAudio(silent, 48000, 60));
    EXPECT_FALSE(Media::VideoReader::open(dir.filePath("none.mp4")));
}
