#pragma once
#include <QImage>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

// Video files: an MPEG-4 writer with one H.264 stream fed with BGRA frames at
// free presentation times, and a reader for checking what was written.
namespace Media {

struct VideoSettings {
    int width = 0;          // pixels; made even (rounded down) by the writer
    int height = 0;
    int bitRate = 6000000;  // average bits per second
    int keyInterval = 30;   // largest number of frames between key frames
    int timeScale = 600;    // frame times are stored in units of 1 / timeScale s
    double plannedFps = 10; // the rate the encoder plans its bit budget for; frame times stay free
};

// Why opening a writer failed.
enum class OpenError {
    File,      // the file could not be created or opened (text: the system's reason)
    Format,    // the encoder or the container refused the settings
    Start,     // the container header could not be written
};

class VideoWriter {
public:
    ~VideoWriter();
    VideoWriter(const VideoWriter &) = delete;
    VideoWriter &operator=(const VideoWriter &) = delete;

    // Creates (replacing) the file at path. On failure answers nothing and
    // fills error and, when given, kind.
    static std::unique_ptr<VideoWriter> open(const QString &path, const VideoSettings &settings,
                                             QString *error, OpenError *kind = nullptr);

    int width() const;
    int height() const;

    // Appends one frame of exactly width() x height() pixels (any 32-bit
    // format; it is read as BGRA bytes in memory, i.e. QImage::Format_ARGB32
    // or Format_RGB32) at the given time in seconds. Refused (false) when the
    // time, in units of the time scale, is not later than the last frame's,
    // when the size is wrong, or when encoding fails. Not thread-safe: one
    // thread feeds one writer.
    bool append(const QImage &frame, double seconds, QString *error = nullptr);

    // Frames appended so far.
    long long frames() const;

    // Drains the encoder and writes the file's index. False with a reason when
    // it cannot; after a failed finish the file is not usable.
    bool finish(QString *error = nullptr);

    // Gives up: closes and deletes the file.
    void cancel();

private:
    VideoWriter();
    struct Impl;
    std::unique_ptr<Impl> d;
};

// What a video file holds.
struct VideoInfo {
    int videoStreams = 0;
    int otherStreams = 0;
    QString codec;          // of the first video stream, e.g. "h264"
    int width = 0;
    int height = 0;
    int timeBaseNum = 0;    // of the first video stream
    int timeBaseDen = 0;
    std::vector<double> times;   // presentation time of every frame, seconds
    std::vector<QImage> frames;  // decoded frames (Format_RGB32), when asked for
};

// Reads a video file; with decodeFrames the frames are decoded too (at most
// maxFrames of them, 0 for all). Nothing with a reason when it cannot be read.
std::optional<VideoInfo> readVideo(const QString &path, bool decodeFrames, QString *error = nullptr,
                                   int maxFrames = 0);

} // namespace Media
