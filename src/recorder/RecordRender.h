#pragma once
// The narrated tutorial video: a finished recording folder and the narration
// lines the CA approved become "<name>.mp4" (the voice at each line's time,
// captions burnt into the picture, the last frame held while the voice-over
// runs past the recording), "<name>.srt" and "poster.jpg", with the
// narration kept in "script.json". Nothing is kept between renders;
// everything a render writes lies in its recording folder.
#include "recorder/PaneRecorder.h"

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <optional>
#include <vector>

struct RecordRender {
    // One narration line: when (seconds into the raw recording) and what to say.
    struct Line {
        double at = 0;
        QString text;
    };

    struct Output {
        QString video;
        std::optional<QString> srt;
        std::optional<QString> poster;
        double seconds = 0; // the video's length, to 0.1
        QStringList notes;  // one sentence per change made to the CA's timing
    };

    struct Result {
        std::optional<Output> output;
        std::optional<PaneRecorder::RecordError> error;
        bool ok() const { return output.has_value() && !error; }
    };
    using Done = std::function<void(const Result &)>;

    // Renders folder/"raw.mp4" with the lines. voice: "system" (the computer's
    // voice in `language`), "folder:<path>" (clips 0.wav, 1.wav ... recorded
    // beforehand, in a folder inside the clients folder), anything else for
    // captions without voice. Call on the main thread; it returns at once.
    // done runs once: at once for a refused input, else on a background thread.
    static void render(const QString &folder, const QString &name, const QVector<Line> &lines, const QString &voice,
                       const QString &language, bool captions, Done done);

    // --- the parts, for the renderer and its tests -------------------------

    // One line placed on the final video's timeline.
    struct Cue {
        double start = 0;
        double dur = 0;
        QString text;
        std::optional<QString> clip;
    };

    struct Plan {
        std::vector<Cue> cues;
        double total = 0; // the final video's length in seconds
        double hold = 0;  // the end of the recording shown again, stretched (0: nothing held)
        QStringList notes;
    };

    // Places the sorted lines after one another (clipLengths: the length of
    // each line's clip, nothing where a line has none) on a recording of rawLen s.
    static Plan plan(const QVector<Line> &lines, const std::vector<std::optional<QString>> &clips,
                     const std::vector<std::optional<double>> &clipLengths, double rawLen);

    // Words of a text: pieces between spaces (U+0020 only), runs counting once.
    static int words(const QString &text);

    // The first path at which no file exists: the path itself, else the same
    // name with "-2", "-3", ... before the extension.
    static QString unique(const QString &path);

    // "HH:MM:SS,mmm" for a time in seconds (hours not wrapped at 24).
    static QString stamp(double seconds);

    // The subtitle text for the cues (empty for none).
    static QByteArray subtitles(const std::vector<Cue> &cues);

    // Where a caption sits in a picture of the given size, in the picture's
    // pixels measured from its top-left corner.
    struct CaptionLayout {
        double font = 0;   // pixel size of the text
        QRectF box;        // the rounded box
        QRectF text;       // the text's frame
        int lines = 1;     // 1 or 2
    };
    static CaptionLayout captionLayout(QSize picture, const QString &text);

    // The caption box drawn on a transparent image covering the box; `at`
    // receives where that image sits in the picture.
    static QImage captionImage(QSize picture, const QString &text, QPoint *at);

    // The error texts of a refused line time, a voice folder outside the
    // clients folder, and a video name that would leave the recording folder.
    static const QString BAD_TIME;
    static const QString VOICE_OUTSIDE;
    static const QString BAD_NAME;

    // The longest stretch of a clip that is read (longer ones are cut).
    static constexpr double MAX_CLIP_SECONDS = 900;
    static constexpr double MAX_AT = 86400;
    static constexpr int AUDIO_RATE = 48000;

    // The encoder's quality settings for the final video; the benchmark
    // reads them.
    static inline int quality = 18;
    static inline QString preset = QStringLiteral("veryfast");
};
