#include "platform/Speech.h"
#include "platform/Dispatch.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include <espeak-ng/speak_lib.h>

namespace {

// The one thread that talks to the synthesiser, for as long as the program
// runs; jobs run in the order they were handed in.
class SpeechThread {
public:
    static SpeechThread &get()
    {
        // Never destroyed: a synthesis may still be under way at exit.
        static SpeechThread *t = new SpeechThread;
        return *t;
    }

    void post(std::function<void()> job)
    {
        {
            std::lock_guard<std::mutex> g(m_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
    }

private:
    SpeechThread()
    {
        std::thread([this] { run(); }).detach();
    }

    void run()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> g(m_);
                wake_.wait(g, [this] { return !jobs_.empty(); });
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::mutex m_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
};

// --- the default synthesiser (speech thread only) ---------------------------

const Speech::Sink *currentSink = nullptr;

int espeakCallback(short *wav, int count, espeak_EVENT *)
{
    if (!wav || count <= 0 || !currentSink)
        return 0;
    return (*currentSink)(reinterpret_cast<const int16_t *>(wav), count) ? 0 : 1;
}

bool espeakReady()
{
    static const bool ready = [] {
        const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
        if (rate <= 0)
            return false;
        Speech::sampleRate = rate;
        espeak_SetSynthCallback(&espeakCallback);
        return true;
    }();
    return ready;
}

std::vector<Speech::Voice> espeakVoices()
{
    std::vector<Speech::Voice> out;
    if (!espeakReady())
        return out;
    const espeak_VOICE **list = espeak_ListVoices(nullptr);
    for (int i = 0; list && list[i]; ++i) {
        const espeak_VOICE *v = list[i];
        // Languages: a priority byte, then a text, repeated; a zero byte ends the list.
        for (const char *p = v->languages; p && *p; p += std::strlen(p + 1) + 2)
            out.push_back({QString::fromUtf8(v->identifier), QString::fromUtf8(p + 1), int(*p)});
    }
    return out;
}

const std::vector<Speech::Voice> &systemVoices()
{
    static const std::vector<Speech::Voice> list = espeakVoices();
    return list;
}

void espeakSpeak(const QString &text, const QString &voice, int rate, const Speech::Sink &sink)
{
    if (!espeakReady())
        return;
    if (voice.isEmpty() || espeak_SetVoiceByName(voice.toUtf8().constData()) != EE_OK)
        espeak_SetVoiceByName("en");
    espeak_SetParameter(espeakRATE, rate, 0);
    const QByteArray utf8 = text.toUtf8();
    currentSink = &sink;
    espeak_Synth(utf8.constData(), size_t(utf8.size()) + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr,
                 nullptr);
    espeak_Synchronize();
    currentSink = nullptr;
}

// --- one line's file -----------------------------------------------------------

// A 16-bit mono PCM file; the sizes in its header are put right on close.
QByteArray wavHeader(int rate, quint32 dataBytes)
{
    QByteArray h;
    auto u32 = [&](quint32 v) {
        const quint32 le = qToLittleEndian(v);
        h.append(reinterpret_cast<const char *>(&le), 4);
    };
    auto u16 = [&](quint16 v) {
        const quint16 le = qToLittleEndian(v);
        h.append(reinterpret_cast<const char *>(&le), 2);
    };
    h.append("RIFF");
    u32(36 + dataBytes);
    h.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(quint32(rate));
    u32(quint32(rate) * 2);
    u16(2);
    u16(16);
    h.append("data");
    u32(dataBytes);
    return h;
}

// A line's shared cells: its open file and whether it is finished. The
// speech thread writes, the watchdog may finish it on the main thread.
struct Line {
    std::mutex m;
    QString path;
    std::unique_ptr<QFile> file;
    quint32 dataBytes = 0;
    int rate = 0;
    bool finished = false;

    // Takes samples; false (stop speaking) once the line is finished or the
    // file fails. Late samples are dropped, never written to a handed-on file.
    bool write(const int16_t *samples, int count, bool *failed)
    {
        std::lock_guard<std::mutex> g(m);
        if (finished)
            return false;
        if (!file) {
            rate = Speech::sampleRate;
            file = std::make_unique<QFile>(path);
            if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                file->write(wavHeader(rate, 0)) != 44) {
                *failed = true;
                return false;
            }
        }
        QByteArray bytes(reinterpret_cast<const char *>(samples), qsizetype(count) * 2);
        if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN) {
            for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
                std::swap(bytes[i], bytes[i + 1]);
        }
        if (file->write(bytes) != bytes.size()) {
            *failed = true;
            return false;
        }
        dataBytes += quint32(bytes.size());
        return true;
    }

    // True only for the call that finished the line.
    bool finish()
    {
        std::lock_guard<std::mutex> g(m);
        if (finished)
            return false;
        finished = true;
        if (file && file->isOpen()) {
            if (file->seek(0))
                file->write(wavHeader(rate, dataBytes));
            file->close();
        }
        file.reset();
        return true;
    }
};

// One synthesis, alive from synthesize until its completion.
struct Run {
    QStringList texts;
    QString language;
    QString folder;
    Speech::Done done;
    std::vector<std::optional<QString>> results;
};

std::vector<std::shared_ptr<Run>> keep; // main thread only

void step(const std::shared_ptr<Run> &run, int i);

void speakLine(const std::shared_ptr<Run> &run, int i)
{
    const QString path = QDir(run->folder).filePath(Speech::fileName(i));
    QFile::remove(path);
    auto line = std::make_shared<Line>();
    line->path = path;
    std::weak_ptr<Run> weak = run;
    auto finishLine = [line, weak, i] {
        if (!line->finish())
            return;
        const bool exists = QFile::exists(line->path);
        const QString path = line->path;
        Dispatch::onMain([weak, exists, path, i] {
            if (auto r = weak.lock()) {
                r->results.push_back(exists ? std::optional<QString>(path) : std::nullopt);
                step(r, i + 1);
            }
        });
    };
    const QString text = run->texts.at(i);
    const QString code = Speech::voiceCode(run->language);
    auto engine = Speech::engine ? Speech::engine : &espeakSpeak;
    auto voices = Speech::voices;
    const int rate = Speech::narrationRate();
    SpeechThread::get().post([line, finishLine, text, code, engine, voices, rate] {
        const std::vector<Speech::Voice> installed = voices ? voices() : systemVoices();
        const QString voice = Speech::pickVoice(code, installed).value_or(QString());
        bool failed = false;
        engine(text, voice, rate, [&](const int16_t *samples, int count) {
            if (count <= 0)
                return true;
            return line->write(samples, count, &failed);
        });
        finishLine();
    });
    Dispatch::after(Speech::watchdogSeconds, finishLine);
}

void step(const std::shared_ptr<Run> &run, int i)
{
    if (i >= run->texts.size()) {
        std::erase(keep, run);
        auto done = std::move(run->done);
        if (done)
            done(run->results);
        return;
    }
    speakLine(run, i);
}

} // namespace

QString Speech::fileName(int i)
{
    return QStringLiteral(".voice-") + QString::number(i) + QStringLiteral(".wav");
}

QString Speech::voiceCode(const QString &language)
{
    return language == QLatin1String("hi") ? QStringLiteral("hi-IN") : QStringLiteral("en-IN");
}

std::optional<QString> Speech::pickVoice(const QString &code, const std::vector<Voice> &installed)
{
    auto best = [&](const QString &tag) -> std::optional<QString> {
        const Voice *found = nullptr;
        for (const Voice &v : installed)
            if (v.language.compare(tag, Qt::CaseInsensitive) == 0 && (!found || v.priority < found->priority))
                found = &v;
        return found ? std::optional<QString>(found->id) : std::nullopt;
    };
    auto find = [&](const QString &c) -> std::optional<QString> {
        if (auto v = best(c))
            return v;
        return best(c.section(QLatin1Char('-'), 0, 0));
    };
    if (auto v = find(code))
        return v;
    return find(QStringLiteral("en-US"));
}

int Speech::narrationRate()
{
    return int(std::lround(NORMAL_RATE * 0.95));
}

int Speech::running()
{
    return int(keep.size());
}

void Speech::synthesize(const QStringList &texts, const QString &language, const QString &folder, Done done)
{
    auto run = std::make_shared<Run>();
    run->texts = texts;
    run->language = language;
    run->folder = folder;
    run->done = std::move(done);
    keep.push_back(run);
    // The answer never comes before synthesize has returned.
    Dispatch::onMain([run] { step(run, 0); });
}
