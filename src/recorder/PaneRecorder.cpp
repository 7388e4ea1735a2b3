#include "recorder/PaneRecorder.h"
#include "core/Characters.h"
#include "browser/BrowserPane.h"
#include "core/Globals.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/WebView.h"
#include "recorder/Recording.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStringDecoder>
#include <QTimer>
#include <QWindow>
#include <cmath>
#include <filesystem>

namespace {

double roundTenth(double v)
{
    return std::round(v * 10.0) / 10.0;
}

} // namespace

PaneRecorder::PaneRecorder() = default;

PaneRecorder::~PaneRecorder()
{
    delete timer_;
    // A recording cut off by the recorder's end leaves no half-written video.
    if (rec_ && rec_->writer && (isRecording_ || rec_->finishing))
        rec_->writer->cancel();
}

PaneRecorder &PaneRecorder::shared()
{
    static PaneRecorder *recorder = new PaneRecorder;
    return *recorder;
}

double PaneRecorder::fpsFrom(const QProcessEnvironment &env)
{
    if (!env.contains(QStringLiteral("VELTO_DEMO_HOME")) || !env.contains(QStringLiteral("VELTO_RECORD_FPS")))
        return 10;
    bool ok = false;
    const double v = env.value(QStringLiteral("VELTO_RECORD_FPS")).trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return 10;
    return std::max(5.0, std::min(30.0, v));
}

double PaneRecorder::fps()
{
    static const double rate = fpsFrom(QProcessEnvironment::systemEnvironment());
    return rate;
}

QSize PaneRecorder::canvasFor(const QSizeF &points, double scale, bool demoScale)
{
    double w = points.width() * scale;
    double h = points.height() * scale;
    const double limit = demoScale ? 3840 : 1920;
    if (w > limit) {
        h = limit * h / w;
        w = limit;
    }
    const auto even = [](double v) { return int(std::floor(v / 2)) * 2; };
    return QSize(even(w), even(h));
}

std::function<QString()> PaneRecorder::devScript = &PaneRecorder::besideProgram;

QString PaneRecorder::besideProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/web/record-privacy.js");
}

QString PaneRecorder::loadScript()
{
    QString path = bundledScript;
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        path = devScript ? devScript() : QString();
        if (path.isEmpty() || !QFileInfo::exists(path))
            return {};
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    auto decode = QStringDecoder(QStringDecoder::Utf8);
    const QString text = decode(bytes);
    if (decode.hasError())
        return {};
    return text;
}

double PaneRecorder::now() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}


double PaneRecorder::seconds() const
{
    if (isRecording_)
        return now();
    return lastSummary_ ? lastSummary_->seconds : 0;
}

bool PaneRecorder::isFinishing() const
{
    return rec_ && rec_->finishing;
}

QVector<PaneRecorder::Step> PaneRecorder::steps() const
{
    return rec_ ? rec_->steps : QVector<Step>();
}

QVector<PaneRecorder::Click> PaneRecorder::clicks() const
{
    return rec_ ? rec_->clicks : QVector<Click>();
}

qint64 PaneRecorder::written() const
{
    return rec_ ? rec_->written : 0;
}

qint64 PaneRecorder::dropped() const
{
    return rec_ ? rec_->dropped : 0;
}

double PaneRecorder::longestLag() const
{
    return rec_ ? rec_->longestLag : 0;
}

void PaneRecorder::tellTick()
{
    if (onTick)
        onTick(seconds());
}

std::optional<PaneRecorder::RecordError> PaneRecorder::start(BrowserPane *pane, const QString &folder,
                                                              const QString &name)
{
    if (isRecording_ || isFinishing())
        return RecordError::busy();
    BrowserTab *tab = pane ? pane->activeTab() : nullptr;
    if (!tab || tab->web()->width() <= 100)
        return RecordError::noBrowser();
    if (privacySource_.isEmpty()) {
        privacySource_ = loadScript();
        if (privacySource_.isEmpty())
            return RecordError::noScript();
    }
    capture_ = nullptr;
    QWidget *window = pane->window();
    const bool inWindow = window && window->isVisible() && window->windowHandle();
    const double scale = inWindow ? window->devicePixelRatioF() : 2.0;
    if (auto err = begin(folder, QSizeF(tab->web()->size()), scale))
        return err;
    pane_ = pane;
    name_ = name;
    rec_->name = name;
    finishStart();
    return std::nullopt;
}

std::optional<PaneRecorder::RecordError> PaneRecorder::startWindow(const QSizeF &points, double scale,
                                                                    const QString &folder, const QString &name,
                                                                    Capture capture)
{
    if (isRecording_ || isFinishing())
        return RecordError::busy();
    if (auto err = begin(folder, points, scale))
        return err;
    pane_ = nullptr;
    name_ = name;
    rec_->name = name;
    capture_ = std::move(capture);
    finishStart();
    return std::nullopt;
}

std::optional<PaneRecorder::RecordError> PaneRecorder::begin(const QString &folder, const QSizeF &points, double scale)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(folder.toStdString()), ec);
    if (ec || !QFileInfo(folder).isDir())
        return RecordError::platform(QStringLiteral("The folder “%1” could not be created: %2.")
                                         .arg(folder, QString::fromStdString(ec ? ec.message() : "not a folder")));
    const QString raw = QDir(folder).filePath(QStringLiteral("raw.mp4"));
    QFile::remove(raw);
    canvas_ = canvasFor(points, scale, demoRecordScale.has_value());

    auto rec = std::make_shared<Recording>();
    rec->folder = folder;
    rec->canvas = canvas_;
    FrameWriter::Options options;
    options.bitRate = demoRecordScale.has_value() ? 24'000'000 : 6'000'000;
    options.keyInterval = 30;
    options.maxPending = PANE_BACKLOG + WINDOW_BACKLOG;
    QString error;
    Media::OpenError kind = Media::OpenError::File;
    rec->writer = FrameWriter::open(raw, canvas_, options, &error, &kind);
    if (!rec->writer) {
        switch (kind) {
        case Media::OpenError::File:
            return RecordError::platform(error);
        case Media::OpenError::Format:
            return RecordError::writer(QStringLiteral("the video writer refused the format"));
        case Media::OpenError::Start:
            return RecordError::writer(error.isEmpty() ? QStringLiteral("could not start") : error);
        }
    }
    rec_ = rec;
    folder_ = folder;
    return std::nullopt;
}

void PaneRecorder::finishStart()
{
    lastPage_.clear();
    lastFocus_.clear();
    inFlight_ = false;
    pendingWrites_ = 0;
    started_ = std::chrono::steady_clock::now();
    startedEpochMs_ = double(QDateTime::currentMSecsSinceEpoch());
    isRecording_ = true;
    lastSummary_.reset();
    lastOutcome_.reset();

    delete timer_;
    timer_ = new QTimer(this);
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(int(std::lround(1000.0 / fps())));
    connect(timer_, &QTimer::timeout, this, &PaneRecorder::tick);
    timer_->start();
    if (onTick)
        onTick(0.0);
}

PaneRecorder::Step PaneRecorder::addStep(const QString &kind, const QString &title, std::optional<double> at)
{
    Step s;
    s.n = rec_ ? rec_->steps.size() + 1 : 1;
    s.at = roundTenth(at.value_or(now()));
    s.kind = kind;
    s.title = title;
    if (rec_)
        rec_->steps.append(s);
    return s;
}

std::optional<PaneRecorder::Step> PaneRecorder::mark(const QString &title)
{
    if (!isRecording_)
        return std::nullopt;
    return addStep(QStringLiteral("mark"), Characters::left(title, 80));
}

void PaneRecorder::stop(std::function<void(const Outcome &)> done)
{
    if (isRecording_ && rec_ && rec_->writer) {
        isRecording_ = false;
        delete timer_;
        timer_ = nullptr;
        const double secs = now();
        auto rec = rec_;
        rec->finishing = true;
        rec->waiting.push_back(std::move(done));
        QPointer<PaneRecorder> self(this);
        // The writer answers every frame handed in before this, then closes
        // the file; the counts are therefore complete when it reports.
        // The video ends at the stop, however long its last frame stood.
        rec->writer->finish(
            [self, rec, secs](bool ok, const QString &error) {
                if (self)
                    self->finish(rec, secs, ok, error);
            },
            secs);
        return;
    }
    if (rec_ && rec_->finishing) {
        rec_->waiting.push_back(std::move(done));
        return;
    }
    if (lastOutcome_) {
        if (done)
            done(*lastOutcome_);
        return;
    }
    if (done)
        done(Outcome{std::nullopt, RecordError::notRecording()});
}

void PaneRecorder::finish(const std::shared_ptr<Recording> &rec, double secs, bool ok, const QString &error)
{
    Summary sum;
    sum.name = rec->name;
    sum.folder = rec->folder;
    sum.seconds = roundTenth(secs);
    sum.width = rec->canvas.width();
    sum.height = rec->canvas.height();
    sum.steps = rec->steps;
    sum.clicks = rec->clicks;
    sum.hiddenByPage = rec->hiddenByPage;
    sum.hiddenByOCR = rec->hiddenByOCR;
    sum.framesWritten = rec->written;
    sum.framesDropped = rec->dropped;

    if (rec->written == 0) {
        // A video without a frame is of no use to anyone.
        QFile::remove(QDir(rec->folder).filePath(QStringLiteral("raw.mp4")));
        if (onTick)
            onTick(std::nullopt);
        settle(rec, Outcome{std::nullopt,
                            RecordError::writer(QStringLiteral(
                                "no frame could be recorded — was the Browser pane showing a portal page?"))});
        return;
    }
    Files::writeAtomic(QDir(rec->folder).filePath(QStringLiteral("steps.json")),
                       QJsonDocument(sum.toJson()).toJson(QJsonDocument::Indented));
    lastSummary_ = sum;
    if (onTick)
        onTick(std::nullopt);
    if (!ok)
        settle(rec, Outcome{sum, RecordError::writer(error.isEmpty() ? QStringLiteral("the video could not be finished")
                                                                     : error)});
    else
        settle(rec, Outcome{sum, std::nullopt});
}

void PaneRecorder::settle(const std::shared_ptr<Recording> &rec, const Outcome &outcome)
{
    rec->finishing = false;
    lastOutcome_ = outcome;
    const auto waiting = std::move(rec->waiting);
    rec->waiting.clear();
    for (const auto &done : waiting)
        if (done)
            done(outcome);
}
