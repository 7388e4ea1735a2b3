#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The computer's own voice: narration texts become one sound file each in a
// folder, spoken strictly one after another on the one speech thread (the
// synthesiser keeps global state). Nothing is played.
//
// The file of the line at position i is ".voice-<i>.wav" in the folder: 16-bit
// mono PCM at sampleRate(). A line whose sound has not ended within
// watchdogSeconds (scaled by Dispatch::timeScale) is finished with what was
// written so far; sound of that line arriving later is dropped, so a file
// already handed on never changes.
class Speech {
public:
    // One entry per text, in order: the line's file, or nothing when no file
    // exists for it.
    using Done = std::function<void(const std::vector<std::optional<QString>> &)>;

    // Returns at once; done runs once, on the main thread. Call on the main thread.
    static void synthesize(const QStringList &texts, const QString &language, const QString &folder, Done done);

    // The file name of the line at position i.
    static QString fileName(int i);

    // The voice code asked for first: "hi-IN" for exactly "hi", otherwise
    // English as spoken in India.
    static QString voiceCode(const QString &language);

    // An installed voice: what the synthesiser knows it by, a language tag it
    // speaks, and how well (lower is better).
    struct Voice {
        QString id;
        QString language;
        int priority = 5;
    };
    // The voice that speaks a code: the best one whose language is the code
    // itself (case ignored), else the best whose language is the code's bare
    // language ("hi" for "hi-IN"); else the one for "en-US" by the same rule;
    // else nothing, and the synthesiser's default voice speaks.
    static std::optional<QString> pickVoice(const QString &code, const std::vector<Voice> &installed);

    // The synthesiser, replaceable by tests. It runs on the speech thread, one
    // text at a time: it speaks `text` with the voice (empty for the default)
    // at `rate` words a minute and hands the samples (16-bit mono at
    // sampleRate()) to `sink` as they come; a sink answering false stops it.
    using Sink = std::function<bool(const int16_t *samples, int count)>;
    static inline std::function<void(const QString &text, const QString &voice, int rate, const Sink &sink)>
        engine;
    // The installed voices, read once on the speech thread; replaceable by tests.
    static inline std::function<std::vector<Voice>()> voices;
    static inline int sampleRate = 22050;

    // The synthesiser's usual pace, and the narration's (0.95 of it).
    static constexpr int NORMAL_RATE = 175;
    static int narrationRate();

    static inline double watchdogSeconds = 30;

    // Syntheses under way (each lives from synthesize until its done).
    static int running();
};
