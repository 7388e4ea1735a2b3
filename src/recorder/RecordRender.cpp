#include "recorder/RecordRender.h"
#include "core/Characters.h"
#include "erp/WorkPaths.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/Media.h"
#include "platform/Speech.h"
#include "ui/Theme.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

const QString RecordRender::BAD_TIME =
    QStringLiteral("every narration line needs a time between 0 and 86400 seconds");
const QString RecordRender::VOICE_OUTSIDE = QStringLiteral("the voice folder must be inside the clients folder");
const QString RecordRender::BAD_NAME = QStringLiteral("the video name must be a plain file name");

namespace {

using RecordError = PaneRecorder::RecordError;

// Rounded to one decimal, halves away from zero.
double tenth(double s)
{
    return std::round(s * 10) / 10;
}

QString oneDecimal(double s)
{
    return QString::asprintf("%.1f", s);
}

bool blank(const QString &text)
{
    return std::all_of(text.begin(), text.end(), Characters::isHorizontalSpace);
}

RecordRender::Result failure(const RecordError &e)
{
    return RecordRender::Result{std::nullopt, e};
}

// Claims the first free name for the video, so two renders of one name at
// the same moment never share a file.
std::optional<QString> claim(const QString &path, QString *error)
{
    for (int tries = 0; tries < 100; ++tries) {
        const QString candidate = RecordRender::unique(path);
        QFile f(candidate);
        if (f.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return candidate;
        if (!QFile::exists(candidate)) {
            *error = f.errorString();
            return std::nullopt;
        }
    }
    *error = QStringLiteral("no free name for the video");
    return std::nullopt;
}

// The voice under the picture: each clip read when the video reaches it and
// let go once it has been laid down (clips never overlap in time).
class VoiceTrack {
public:
    explicit VoiceTrack(const std::vector<RecordRender::Cue> &cues)
    {
        for (const auto &c : cues)
            if (c.clip)
                clips_.push_back({*c.clip, qint64(std::llround(c.start * RecordRender::AUDIO_RATE))});
    }

    bool empty() const { return clips_.empty(); }

    // Samples up to time `until` (seconds), appended to the writer.
    bool feed(Media::VideoWriter &w, double until, QString *error)
    {
        const qint64 end = std::llround(until * RecordRender::AUDIO_RATE);
        std::vector<float> chunk;
        while (pos_ < end) {
            const qint64 n = std::min<qint64>(end - pos_, RecordRender::AUDIO_RATE);
            chunk.assign(size_t(n), 0.f);
            mix(chunk.data(), pos_, n);
            if (!w.appendAudio(chunk.data(), n, error))
                return false;
            pos_ += n;
        }
        return true;
    }

private:
    struct Clip {
        QString path;
        qint64 start = 0;
    };

    struct Loaded {
        qint64 start = 0;
        std::vector<float> samples;
    };

    void mix(float *out, qint64 from, qint64 n)
    {
        // Let go of the clips that have ended; read those that begin in this stretch.
        std::erase_if(active_, [&](const Loaded &l) { return l.start + qint64(l.samples.size()) <= from; });
        while (next_ < clips_.size() && clips_[next_].start < from + n) {
            const Clip &c = clips_[next_++];
            active_.push_back({c.start, Media::readAudio(c.path, RecordRender::AUDIO_RATE,
                                                         RecordRender::MAX_CLIP_SECONDS)
                                            .value_or(std::vector<float>())});
        }
        for (const Loaded &l : active_) {
            const qint64 a = std::max(from, l.start);
            const qint64 b = std::min(from + n, l.start + qint64(l.samples.size()));
            for (qint64 i = a; i < b; ++i)
                out[i - from] = std::clamp(out[i - from] + l.samples[size_t(i - l.start)], -1.f, 1.f);
        }
    }

    std::vector<Clip> clips_;
    size_t next_ = 0;
    std::vector<Loaded> active_;
    qint64 pos_ = 0;
};

// Writes the picture: frames go out in time order, each with the caption
// visible at its time; a frame due at the same 1/600 s as the one before
// replaces it. Captions are drawn when they first show and let go when they
// end (no two are on screen at once).
class Picture {
public:
    Picture(Media::VideoWriter &w, VoiceTrack &voice, const std::vector<RecordRender::Cue> &cues, QSize size,
            bool captions)
        : w_(w), voice_(voice), cues_(cues), size_(size)
    {
        if (!captions)
            return;
        for (const auto &c : cues) {
            bounds_.push_back(c.start);
            bounds_.push_back(c.start + c.dur + 0.2);
        }
        std::sort(bounds_.begin(), bounds_.end());
        drawn_.resize(cues.size());
    }

    // The source shows `image` from time t on. A picture the same as the one
    // already shown (a still page) adds no frame: the last one stands, and
    // the time saved is most of a render of an ordinary recording.
    bool show(double t, const QImage &image, QString *error)
    {
        if (!until(t, error))
            return false;
        // (Captions that came or went meanwhile were put by until().)
        if (!current_.isNull() && image == current_)
            return true;
        current_ = image;
        return put(t, error);
    }

    // Captions that come and go before t, over the current image.
    bool until(double t, QString *error)
    {
        while (nextBound_ < bounds_.size() && bounds_[nextBound_] < t) {
            const double b = bounds_[nextBound_++];
            if (!current_.isNull() && !put(b, error))
                return false;
        }
        return true;
    }

    bool end(double total, QString *error)
    {
        if (!until(total, error) || !flush(error))
            return false;
        return voice_.empty() || voice_.feed(w_, total, error);
    }

    // The picture the video shows at time t (set before the first frame),
    // kept as it is written: the poster needs no second reading of the video.
    void keepShownAt(double t) { posterAt_ = t; }
    QImage shownAt() const { return poster_; }

private:
    bool put(double t, QString *error)
    {
        const qint64 pts = std::llround(t * 600);
        if (havePending_ && pts > pendingPts_ && !flush(error))
            return false;
        pending_ = compose(t);
        if (!havePending_)
            pendingPts_ = pts;
        havePending_ = true;
        return true;
    }

    bool flush(QString *error)
    {
        if (!havePending_)
            return true;
        havePending_ = false;
        const double at = double(pendingPts_) / 600;
        if (!voice_.empty() && !voice_.feed(w_, at, error))
            return false;
        if (at <= posterAt_ + 1e-6)
            poster_ = pending_;
        return w_.append(pending_, at, error);
    }

    QImage compose(double t)
    {
        QImage out = current_;
        for (size_t i = 0; i < drawn_.size(); ++i) {
            const auto &c = cues_[i];
            if (t >= c.start + c.dur + 0.2) {
                drawn_[i] = {};
                continue;
            }
            if (t < c.start)
                continue;
            if (drawn_[i].image.isNull())
                drawn_[i].image = RecordRender::captionImage(size_, c.text, &drawn_[i].at);
            if (out.constBits() == current_.constBits())
                out = current_.convertToFormat(QImage::Format_RGB32).copy();
            QPainter p(&out);
            p.drawImage(drawn_[i].at, drawn_[i].image);
        }
        return out;
    }

    struct Drawn {
        QImage image;
        QPoint at;
    };

    Media::VideoWriter &w_;
    VoiceTrack &voice_;
    const std::vector<RecordRender::Cue> &cues_;
    QSize size_;
    std::vector<Drawn> drawn_;
    std::vector<double> bounds_;
    size_t nextBound_ = 0;
    QImage current_;
    QImage pending_;
    qint64 pendingPts_ = 0;
    bool havePending_ = false;
    double posterAt_ = -1;
    QImage poster_;
};

// Reads the raw video's frames on a thread of its own, a few ahead, so that
// decoding a frame overlaps composing and encoding the one before (each is
// about half of a render's time).
class FramesAhead {
public:
    explicit FramesAhead(Media::VideoReader &reader) : reader_(reader), thread_([this] { run(); }) {}
    ~FramesAhead()
    {
        {
            std::lock_guard g(m_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    FramesAhead(const FramesAhead &) = delete;
    FramesAhead &operator=(const FramesAhead &) = delete;

    // The next frame and its time, in the reader's order; false at the end.
    bool next(QImage *img, double *t)
    {
        std::unique_lock g(m_);
        cv_.wait(g, [&] { return !queue_.empty() || done_; });
        if (queue_.empty())
            return false;
        *img = std::move(queue_.front().first);
        *t = queue_.front().second;
        queue_.pop_front();
        cv_.notify_all();
        return true;
    }

private:
    void run()
    {
        for (;;) {
            QImage img;
            double t = 0;
            const bool got = reader_.next(&img, &t);
            std::unique_lock g(m_);
            if (!got || stop_) {
                done_ = true;
                cv_.notify_all();
                return;
            }
            cv_.wait(g, [&] { return stop_ || queue_.size() < kAhead; });
            if (stop_)
                return;
            queue_.emplace_back(std::move(img), t);
            cv_.notify_all();
        }
    }

    static constexpr size_t kAhead = 3;
    Media::VideoReader &reader_;
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::pair<QImage, double>> queue_;
    bool done_ = false;
    bool stop_ = false;
    std::thread thread_; // last: starts once the rest exists
};

// The last stretch of the recording, kept for holding it at the end.
struct Tail {
    double from = 0;                           // rawLen - hold
    QImage base;                               // the frame shown at `from`
    std::vector<std::pair<double, QImage>> frames; // frames that begin after `from`
    static constexpr size_t MAX = 8;
};

// Composes and exports; runs on a background thread. Answers the result.
RecordRender::Result build(const QString &raw, const QString &folder, const QString &name,
                           const QVector<RecordRender::Line> &lines,
                           const std::vector<std::optional<QString>> &clips, bool captions)
{
    QString error;
    auto reader = Media::VideoReader::open(raw, &error);
    if (!reader) {
        // Only a failed open pays for reading the whole file, to tell a
        // recording without video from a file that cannot be read.
        QString readError;
        const auto info = Media::readVideo(raw, false, &readError);
        if (!info)
            return failure(RecordError::platform(readError));
        if (info->videoStreams == 0)
            return failure(RecordError::writer(QStringLiteral("raw.mp4 has no video")));
        return failure(RecordError::platform(error));
    }
    // A file that states no length lasts until its last frame.
    double rawLen = reader->duration();
    if (rawLen <= 0) {
        const auto info = Media::readVideo(raw, false, &error);
        if (!info)
            return failure(RecordError::platform(error));
        if (!info->times.empty())
            rawLen = info->times.back();
    }
    const QSize size(reader->width(), reader->height());
    if (size.width() < 2 || size.height() < 2)
        return failure(RecordError::writer(QStringLiteral("could not build the video")));

    // A clip that cannot be read as sound is timed by its words instead.
    std::vector<std::optional<QString>> usable(size_t(lines.size()));
    std::vector<std::optional<double>> lengths(size_t(lines.size()));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto &clip = size_t(i) < clips.size() ? clips[size_t(i)] : std::nullopt;
        if (!clip)
            continue;
        const auto samples = Media::readAudio(*clip, RecordRender::AUDIO_RATE, RecordRender::MAX_CLIP_SECONDS);
        if (samples && !samples->empty()) {
            usable[size_t(i)] = clip;
            lengths[size_t(i)] = double(samples->size()) / RecordRender::AUDIO_RATE;
        }
    }
    const RecordRender::Plan plan = RecordRender::plan(lines, usable, lengths, rawLen);
    const bool voiced = std::any_of(plan.cues.begin(), plan.cues.end(), [](const auto &c) { return c.clip; });

    const auto out = claim(QDir(folder).filePath(name + QStringLiteral(".mp4")), &error);
    if (!out)
        return failure(RecordError::platform(error));
    Media::VideoSettings s;
    s.width = size.width();
    s.height = size.height();
    s.quality = RecordRender::quality;
    s.preset = RecordRender::preset;
    s.lowLatency = false;
    s.threads = 0;
    s.keyInterval = 300;
    s.plannedFps = 30;
    s.audioRate = voiced ? RecordRender::AUDIO_RATE : 0;
    s.audioBitRate = 160000;
    Media::OpenError kind{};
    auto writer = Media::VideoWriter::open(*out, s, &error, &kind);
    if (!writer) {
        QFile::remove(*out);
        return failure(kind == Media::OpenError::Format ? RecordError::writer(QStringLiteral("export is not available"))
                                                         : RecordError::platform(error));
    }
    // The writer keeps even sizes; an odd picture loses its last column or row.
    const QSize canvas(writer->width(), writer->height());
    auto fit = [&](const QImage &img) { return img.size() == canvas ? img : img.copy(QRect(QPoint(), canvas)); };

    VoiceTrack voice(plan.cues);
    Picture picture(*writer, voice, plan.cues, canvas, captions && !plan.cues.empty());
    const double posterAt = std::min(plan.total * 0.5, 1.0);
    picture.keepShownAt(posterAt);
    Tail tail;
    tail.from = rawLen - plan.hold;
    bool ok = true;
    bool first = true;
    QImage img;
    double t = 0;
    FramesAhead frames(*reader);
    while (ok && frames.next(&img, &t)) {
        if (t >= rawLen && !first)
            break;
        const double at = first ? 0.0 : t;
        first = false;
        img = fit(img);
        if (plan.hold > 0) {
            if (at <= tail.from + 1e-9) {
                tail.base = img;
            } else if (tail.frames.size() < Tail::MAX) {
                tail.frames.emplace_back(at, img);
            }
        }
        ok = picture.show(at, img, &error);
    }
    if (ok && first) {
        error = QStringLiteral("no frame of raw.mp4 could be read");
        ok = false;
    }
    if (ok && plan.hold > 0) {
        // The last stretch again, slowed down until the voice-over ends.
        const double k = (plan.total - rawLen) / plan.hold;
        if (!tail.base.isNull())
            ok = picture.show(rawLen, tail.base, &error);
        for (size_t i = 0; ok && i < tail.frames.size(); ++i)
            ok = picture.show(rawLen + (tail.frames[i].first - tail.from) * k, tail.frames[i].second, &error);
    }
    ok = ok && picture.end(plan.total, &error) && writer->finish(&error, plan.total);
    if (!ok) {
        writer->cancel();
        return failure(RecordError::writer(error.isEmpty() ? QStringLiteral("export failed") : error));
    }
    writer.reset();

    RecordRender::Output o;
    o.video = *out;
    o.seconds = tenth(plan.total);
    o.notes = plan.notes;
    if (!plan.cues.empty()) {
        const QString srt = QFileInfo(*out).path() + QLatin1Char('/') + QFileInfo(*out).completeBaseName() +
                            QStringLiteral(".srt");
        if (Files::writeAtomic(srt, RecordRender::subtitles(plan.cues)))
            o.srt = srt;
    }
    std::optional<QImage> frame = picture.shownAt();
    if (frame->isNull())
        frame = Media::frameAt(*out, posterAt);
    if (frame) {
        const QString poster = QDir(folder).filePath(QStringLiteral("poster.jpg"));
        if (frame->save(poster, "JPEG", 85))
            o.poster = poster;
    }
    for (const auto &clip : clips)
        if (clip && QFileInfo(*clip).fileName().startsWith(QLatin1String(".voice-")))
            QFile::remove(*clip);
    return RecordRender::Result{o, std::nullopt};
}

} // namespace

int RecordRender::words(const QString &text)
{
    return int(text.split(QLatin1Char(' '), Qt::SkipEmptyParts).size());
}

RecordRender::Plan RecordRender::plan(const QVector<Line> &lines, const std::vector<std::optional<QString>> &clips,
                                      const std::vector<std::optional<double>> &clipLengths, double rawLen)
{
    Plan p;
    double cursor = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Line &line = lines[i];
        const auto clip = size_t(i) < clips.size() ? clips[size_t(i)] : std::nullopt;
        const auto len = size_t(i) < clipLengths.size() ? clipLengths[size_t(i)] : std::nullopt;
        const double dur = clip && len ? *len : std::max(words(line.text) * 0.42, 1.6);
        const double start = std::max(cursor, line.at);
        if (line.at + 0.5 < start)
            p.notes << QStringLiteral("line %1 moved to %2 s so it does not talk over line %3")
                           .arg(i + 1)
                           .arg(oneDecimal(start))
                           .arg(i);
        p.cues.push_back({start, dur, line.text, len ? clip : std::nullopt});
        cursor = start + dur + 0.25;
    }
    p.total = p.cues.empty() ? rawLen : std::max(rawLen, p.cues.back().start + p.cues.back().dur + 0.6);
    if (rawLen + 0.05 < p.total) {
        p.hold = std::min(rawLen, 0.1);
        p.notes << QStringLiteral("held the last frame ") + oneDecimal(p.total - rawLen) +
                       QStringLiteral(" s for the voice-over to finish");
    }
    return p;
}

QString RecordRender::unique(const QString &path)
{
    if (!QFileInfo::exists(path))
        return path;
    const QFileInfo fi(path);
    const QString dir = fi.path();
    const QString stem = fi.completeBaseName();
    const QString ext = fi.suffix();
    for (qint64 n = 2;; ++n) {
        const QString candidate = dir + QLatin1Char('/') + stem + QLatin1Char('-') + QString::number(n) +
                                  (ext.isEmpty() && !fi.fileName().endsWith(QLatin1Char('.')) ? QString()
                                                                                            : QLatin1Char('.') + ext);
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

QString RecordRender::stamp(double seconds)
{
    const qint64 ms = std::llround(seconds * 1000);
    return QString::asprintf("%02lld:%02lld:%02lld,%03lld", ms / 3600000, (ms / 60000) % 60, (ms / 1000) % 60,
                             ms % 1000);
}

QByteArray RecordRender::subtitles(const std::vector<Cue> &cues)
{
    QStringList blocks;
    for (size_t k = 0; k < cues.size(); ++k) {
        const Cue &c = cues[k];
        blocks << QString::number(k + 1) + QLatin1Char('\n') + stamp(c.start) + QStringLiteral(" --> ") +
                      stamp(c.start + c.dur) + QLatin1Char('\n') + c.text + QLatin1Char('\n');
    }
    return blocks.join(QLatin1Char('\n')).toUtf8();
}

RecordRender::CaptionLayout RecordRender::captionLayout(QSize picture, const QString &text)
{
    const double w = picture.width(), h = picture.height();
    CaptionLayout c;
    c.font = std::max(0.034 * h, 22.0);
    const double bw = 0.8 * w;
    const double bh = 2.9 * c.font;
    const double lh = 1.3 * c.font;
    const double x = (w - bw) / 2;
    const double yFromBottom = 0.05 * h;
    c.box = QRectF(x, h - yFromBottom - bh, bw, bh);
    c.lines = c.font * double(Characters::count(text)) * 0.5 <= bw - 40 ? 1 : 2;
    c.text = QRectF(c.box.x() + 20, c.box.y() + (bh - c.lines * lh) / 2, bw - 40, c.lines * lh);
    return c;
}

QImage RecordRender::captionImage(QSize picture, const QString &text, QPoint *at)
{
    const CaptionLayout c = captionLayout(picture, text);
    const QRect area = c.box.toAlignedRect();
    *at = area.topLeft();
    QImage img(area.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    // 72 dots an inch: a font's points are the picture's pixels.
    img.setDotsPerMeterX(2835);
    img.setDotsPerMeterY(2835);
    QPainter p(&img);
    p.translate(-area.topLeft());
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QPainterPath box;
    box.addRoundedRect(c.box, 14, 14);
    p.fillPath(box, QColor::fromRgbF(0.05f, 0.07f, 0.13f, 0.78f));
    // A light edge sets the dark box off a dark page, where the box alone
    // would melt into it; on a light page the box itself stands out.
    QPainterPath edge;
    edge.addRoundedRect(c.box.adjusted(1, 1, -1, -1), 13, 13);
    p.strokePath(edge, QPen(QColor::fromRgbF(1, 1, 1, 0.5f), 2));
    QFont font = Theme::font(c.font, QFont::Medium);
    font.setPointSizeF(c.font);
    p.setFont(font);
    p.setClipRect(c.text);
    // A dark halo under the white text keeps every letter clear of what
    // shows through the box.
    p.setPen(QColor::fromRgbF(0, 0, 0, 0.6f));
    for (const QPoint &d : {QPoint(-1, 0), QPoint(1, 0), QPoint(0, -1), QPoint(0, 1)})
        p.drawText(c.text.translated(d), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text);
    p.setPen(Qt::white);
    p.drawText(c.text, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text);
    return img;
}

void RecordRender::render(const QString &folder, const QString &name, const QVector<Line> &given,
                          const QString &voice, const QString &language, bool captions, Done done)
{
    const QString raw = QDir(folder).filePath(QStringLiteral("raw.mp4"));
    if (!QFileInfo::exists(raw)) {
        done(failure(RecordError::writer(QStringLiteral("no raw.mp4 in ") +
                                         QFileInfo(QDir::cleanPath(folder)).fileName() +
                                         QStringLiteral(" — record first"))));
        return;
    }
    // The video and its subtitles stay in the recording folder.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") ||
        name == QLatin1String("..") || name.contains(QChar(0))) {
        done(failure(RecordError::writer(BAD_NAME)));
        return;
    }
    QVector<Line> lines;
    for (const Line &l : given)
        if (!blank(l.text))
            lines << l;
    // A time the timeline cannot hold is refused before anything is written.
    for (const Line &l : lines)
        if (!std::isfinite(l.at) || l.at < 0 || l.at > MAX_AT) {
            done(failure(RecordError::writer(BAD_TIME)));
            return;
        }
    std::stable_sort(lines.begin(), lines.end(), [](const Line &a, const Line &b) { return a.at < b.at; });

    std::optional<QString> clipFolder;
    if (voice.startsWith(QLatin1String("folder:"))) {
        const QString root = WorkPaths::root();
        const QString dir = WorkPaths::resolved(WorkPaths::standard(voice.mid(7), root));
        if (!WorkPaths::inside(dir, root)) {
            done(failure(RecordError::writer(VOICE_OUTSIDE)));
            return;
        }
        clipFolder = dir;
    }

    QJsonArray list;
    for (const Line &l : lines)
        list.append(QJsonObject{{QStringLiteral("at"), l.at}, {QStringLiteral("text"), l.text}});
    const QJsonObject script{
        {QStringLiteral("voice"), voice}, {QStringLiteral("language"), language}, {QStringLiteral("lines"), list}};
    Files::writeAtomic(QDir(folder).filePath(QStringLiteral("script.json")),
                       QJsonDocument(script).toJson(QJsonDocument::Indented));

    auto compose = [raw, folder, name, lines, captions, done](const std::vector<std::optional<QString>> &clips) {
        Dispatch::runInBackground([=] { done(build(raw, folder, name, lines, clips, captions)); });
    };
    if (voice == QLatin1String("system")) {
        QStringList texts;
        for (const Line &l : lines)
            texts << l.text;
        Speech::synthesize(texts, language, folder, compose);
        return;
    }
    std::vector<std::optional<QString>> clips(size_t(lines.size()));
    if (clipFolder)
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString path = QDir(*clipFolder).filePath(QString::number(i) + QStringLiteral(".wav"));
            if (QFileInfo::exists(path))
                clips[size_t(i)] = path;
        }
    compose(clips);
}
