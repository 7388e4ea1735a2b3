#pragma once
#include <QImage>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// Video files: an MPEG-4 writer with one H.264 stream fed with BGRA frames at
// free presentation times (and, when asked, one AAC sound track), a frame by
// frame reader, a sound reader, and a reader for checking what was written.
namespace Media {

struct VideoSettings {
    int width = 0;          // pixels; made even (rounded down) by the writer
    int height = 0;
    int bitRate = 6000000;  // average bits per second
    int keyInterval = 30;   // largest number of frames between key frames
    int timeScale = 600;    // frame times are stored in units of 1 / timeScale s
    double plannedFps = 10; // the rate the encoder plans its bit budget for; frame times stay free
    // A constant quality (0..51, lower is better) in place of the bit rate; -1 keeps the bit rate.
    int quality = -1;
    QString preset = QStringLiteral("ultrafast"); // the encoder's speed against its compression
    bool lowLatency = true; // every frame leaves the encoder at once (recording as it happens)
    int threads = 1;        // encoder threads; 0 lets the encoder use the machine's processors
    int audioRate = 0;      // > 0: one mono AAC track at this sample rate, fed through appendAudio
    int audioBitRate = 128000;
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

    // Appends mono samples (-1..1) at the sound track's rate, right after the
    // ones before. Refused when the writer has no sound track.
    bool appendAudio(const float *samples, qsizetype count, QString *error = nullptr);
    // Seconds of sound appended so far.
    double audioSeconds() const;

    // Drains the encoders and writes the file's index. With an end time the
    // last frame stands until then (else the container decides). False with a
    // reason when it cannot; after a failed finish the file is not usable.
    bool finish(QString *error = nullptr, std::optional<double> endSeconds = std::nullopt);

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
    double duration = 0;         // the file's length in seconds
    QString audioCodec;          // of the first sound stream, e.g. "aac"; empty when none
};

// Reads the frames of a file's first video stream one after another.
class VideoReader {
public:
    ~VideoReader();
    VideoReader(const VideoReader &) = delete;
    VideoReader &operator=(const VideoReader &) = delete;

    // Nothing with a reason when the file cannot be read or has no video.
    static std::unique_ptr<VideoReader> open(const QString &path, QString *error = nullptr);

    int width() const;
    int height() const;
    // The file's length in seconds (the container's, else the stream's).
    double duration() const;

    // The next frame in presentation order (Format_RGB32) with its time in
    // seconds; false at the end of the stream or when decoding fails.
    bool next(QImage *frame, double *seconds);

private:
    VideoReader();
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The frame shown at the given time: the last one that starts at or before
// it (the first frame for earlier times). Nothing with a reason when none.
std::optional<QImage> frameAt(const QString &path, double seconds, QString *error = nullptr);

// The first sound stream of a file as mono samples (-1..1) at the given rate,
// at most maxSeconds of it. Nothing with a reason when the file cannot be read
// or holds no sound.
std::optional<std::vector<float>> readAudio(const QString &path, int sampleRate, double maxSeconds,
                                            QString *error = nullptr);

// Reads a video file; with decodeFrames the frames are decoded too (at most
// maxFrames of them, 0 for all). Nothing with a reason when it cannot be read.
std::optional<VideoInfo> readVideo(const QString &path, bool decodeFrames, QString *error = nullptr,
                                   int maxFrames = 0);

} // namespace Media
