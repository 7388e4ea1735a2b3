// Recording from the app itself: the REC button, and the two unattended hooks
// that record a tutorial without anyone at the keyboard.
//
// VELTO_RECORD_TEST=<page> with VELTO_RECORD_OUT=<folder>: opens the page,
// records a fixed form-filling run of about six seconds into
// <folder>/Videos/Record test, renders it with two narration lines and writes
// <folder>/result.json.
//
// VELTO_RECORD_SCRIPT=<file>: a JSON object
//   "page"     address to open (required)
//   "out"      output folder (required); the video goes to out/Videos/<name>
//   "name"     recording name (default "Demo")
//   "window"   [width, height]: the main window is sized and centred first
//   "target"   "window" records the whole main window, else the browser pane
//   "settle"   seconds before recording starts (default 3)
//   "stop"     seconds of recording (default 30)
//   "steps"    [{"at", "mark", "js", "url", "chat_js", "action", "ring"}, ...]
//   "lines"    narration [{"at", "text"}, ...]
//   "voice", "language", "captions"  handed to the renderer
// A script that cannot be read, is not a JSON object, or lacks "page" (an
// address) or "out" prints "bad record script" and exits with status 2.
//
// Both hooks end the process when done, after writing result.json.
#include "app/AppDelegate.h"
#include "browser/BrowserPane.h"
#include "browser/BrowserTab.h"
#include "core/Globals.h"
#include "core/JsonFields.h"
#include "platform/Dialogs.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/WebView.h"
#include "recorder/PaneRecorder.h"
#include "recorder/RecordRender.h"
#include "toolserver/BrowserMCP.h"
#include "ui/Theme.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// A script file larger than this is not a recording script.
constexpr qint64 MAX_SCRIPT_BYTES = 4 * 1024 * 1024;

// How long a step's page load may take before it is given up.
constexpr int URL_LOAD_MS = 60000;

// The click ring's life and look.
constexpr double RING_SECONDS = 0.9;

// The recording test's fill: the applicant's fields in order, then "next".
QString fillScript()
{
    return QStringLiteral(
        "(function(){"
        "var values=[['legal','Redazi Traders'],['pan','ABCPS1234K'],['mobile','9876543210'],['pwd','sample42']];"
        "values.forEach(function(v){var el=document.getElementById(v[0]);if(!el)return;el.focus();el.value=v[1];"
        "el.dispatchEvent(new Event('input',{bubbles:true}));});"
        "var next=document.getElementById('next');if(next)next.click();return true;})()");
}

QJsonObject countsJson(const QMap<QString, qint64> &table)
{
    QJsonObject o;
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        o.insert(it.key(), it.value());
    return o;
}

// A text that parses as an address.
std::optional<QUrl> urlOf(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid())
        return std::nullopt;
    return url;
}

[[noreturn]] void badScript()
{
    std::fputs("bad record script\n", stderr);
    std::fflush(stderr);
    std::_Exit(2);
}

// The narration lines of a script: entries without a number "at" and a text
// "text" are dropped; anything but an array of objects gives none.
QVector<RecordRender::Line> scriptLines(const QJsonValue &value)
{
    QVector<RecordRender::Line> lines;
    const QJsonArray items = value.toArray();
    for (const QJsonValue &item : items)
        if (!item.isObject())
            return {};
    for (const QJsonValue &item : items) {
        const QJsonObject o = item.toObject();
        const auto at = JsonFields::number(o, "at");
        const auto text = JsonFields::text(o, "text");
        if (at && text)
            lines.append(RecordRender::Line{*at, *text});
    }
    return lines;
}

// Two numbers, or none.
std::optional<QPointF> pairOf(const QJsonValue &value)
{
    const QJsonArray a = value.toArray();
    if (!value.isArray() || a.size() != 2 || !a[0].isDouble() || !a[1].isDouble())
        return std::nullopt;
    return QPointF(a[0].toDouble(), a[1].toDouble());
}

// The soft shadow under a window drawn into a frame: about 24 points of blur,
// 6 points down, black at a quarter.
void softShadow(QPainter &p, const QRectF &place)
{
    constexpr int layers = 12;
    p.save();
    p.setPen(Qt::NoPen);
    QColor shade(Qt::black);
    shade.setAlphaF(0.25f / layers * 1.15f);
    p.setBrush(shade);
    const QRectF under = place.translated(0, 6);
    for (int i = layers; i >= 1; --i) {
        const qreal grow = 12.0 * i / layers;
        p.drawRoundedRect(under.adjusted(-grow, -grow, grow, grow), 12 + grow, 12 + grow);
    }
    p.restore();
}

// The click ring at a point (top-left origin), age seconds after it was set.
void drawRing(QPainter &p, const QPointF &at, double age)
{
    if (age >= RING_SECONDS)
        return;
    const double f = std::max(0.0, age / RING_SECONDS);
    const double r = 14 + 22 * f;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QColor ring = Theme::royal();
    ring.setAlphaF(float(0.85 * (1 - f)));
    p.setPen(QPen(ring, 4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(at, r, r);
    QColor dot = Theme::royal();
    dot.setAlphaF(float(0.35 * (1 - f)));
    p.setPen(Qt::NoPen);
    p.setBrush(dot);
    p.drawEllipse(at, 9.0, 9.0);
    p.restore();
}

// What a hook renders once its recording stops.
struct RenderJob {
    QString folder;
    QString name;
    QVector<RecordRender::Line> lines;
    QString voice = QStringLiteral("system");
    QString language = QStringLiteral("en");
    bool captions = true;
    // The recording test's result also names the subtitles, the poster and
    // what was hidden.
    bool details = false;
};

// Stops the recording and renders it; finish gets, on the main thread, the
// result object: the recorder's error, the renderer's error with the
// recording report, or the success keys.
void stopAndRender(const RenderJob &job, std::function<void(const QJsonObject &)> finish)
{
    PaneRecorder::shared().stop([job, finish](const PaneRecorder::Outcome &stopped) {
        if (stopped.error || !stopped.summary) {
            finish(QJsonObject{{QStringLiteral("error"), stopped.error
                                                             ? stopped.error->description()
                                                             : PaneRecorder::RecordError::notRecording().description()}});
            return;
        }
        const PaneRecorder::Summary summary = *stopped.summary;
        RecordRender::render(
            job.folder, job.name, job.lines, job.voice, job.language, job.captions,
            [job, finish, summary](const RecordRender::Result &rendered) {
                Dispatch::onMain([job, finish, summary, rendered] {
                    const QString report = BrowserMCP::stopReport(summary);
                    if (!rendered.ok()) {
                        finish(QJsonObject{
                            {QStringLiteral("error"), rendered.error ? rendered.error->description() : QString()},
                            {QStringLiteral("report"), report}});
                        return;
                    }
                    const RecordRender::Output &o = *rendered.output;
                    QJsonObject result{
                        {QStringLiteral("video"), o.video},
                        {QStringLiteral("seconds"), o.seconds},
                        {QStringLiteral("notes"), QJsonArray::fromStringList(o.notes)},
                        {QStringLiteral("report"), report},
                        {QStringLiteral("written"), summary.framesWritten},
                        {QStringLiteral("dropped"), summary.framesDropped},
                    };
                    if (job.details) {
                        result.insert(QStringLiteral("srt"), o.srt.value_or(QString()));
                        result.insert(QStringLiteral("poster"), o.poster.value_or(QString()));
                        result.insert(QStringLiteral("page"), countsJson(summary.hiddenByPage));
                        result.insert(QStringLiteral("ocr"), countsJson(summary.hiddenByOCR));
                    }
                    finish(result);
                });
            });
    });
}

// One window laid over the main window's picture.
struct Overlay {
    QRectF place;
    QImage image;
};

// One frame of a window recording being put together.
struct CaptureRun {
    QPointer<AppDelegate> self;
    std::function<void(const QImage &)> done;
    QImage main;
    QRect frame;
    QList<QPointer<QWidget>> others;
    std::vector<Overlay> overlays;
};

// Composites the other windows from the i-th on, one after another, then
// draws the frame: the main picture, each window in its place with rounded
// corners and a shadow, and the click ring over everything.
void overlayFrom(const std::shared_ptr<CaptureRun> &run, qsizetype i)
{
    if (!run->self) {
        run->done(QImage());
        return;
    }
    while (i < run->others.size() && !run->others[i])
        ++i;
    if (i < run->others.size()) {
        QWidget *w = run->others[i];
        const QRectF place(w->geometry().translated(-run->frame.topLeft()));
        AppDelegate::composite(w, AppDelegate::groundOf(w), std::nullopt, AppDelegate::firstWeb(w), [run, place, i](const QImage &image) {
            if (!image.isNull())
                run->overlays.push_back(Overlay{place, image});
            overlayFrom(run, i + 1);
        });
        return;
    }
    const qreal scale = run->main.devicePixelRatio();
    const QSizeF size = QSizeF(run->main.size()) / scale;
    const std::optional<AppDelegate::DemoRing> ring = run->self->demoRing;
    const double now = AppDelegate::demoRingClock();
    run->done(AppDelegate::scaledImage(size, scale, [&](QPainter &p) {
        p.drawImage(QRectF(QPointF(0, 0), size), run->main);
        for (const Overlay &o : run->overlays) {
            softShadow(p, o.place);
            p.save();
            QPainterPath clip;
            clip.addRoundedRect(o.place, 12, 12);
            p.setClipPath(clip);
            p.drawImage(o.place, o.image);
            p.restore();
        }
        if (ring)
            drawRing(p, ring->point, now - ring->at);
    }));
}

} // namespace

QString AppDelegate::recTitle(double seconds)
{
    const qint64 whole = seconds > 0 ? qint64(std::trunc(seconds)) : 0;
    return QStringLiteral("\u25CF  REC ") + QString::asprintf("%02lld:%02lld", whole / 60, whole % 60) +
           QStringLiteral("   Stop");
}

void AppDelegate::recButtonClicked()
{
    QPointer<AppDelegate> self(this);
    PaneRecorder::shared().stop([self](const PaneRecorder::Outcome &outcome) {
        if (!self)
            return;
        if (outcome.error) {
            Dialogs::alert(QStringLiteral("Recording"), outcome.error->description(), Dialogs::Style::Warning);
            return;
        }
        self->splashMessage(QStringLiteral("Recording saved. Ask Velto to add the voice-over."));
    });
}

void AppDelegate::scheduleRecordHooks()
{
    QPointer<AppDelegate> self(this);
    const QString page = qEnvironmentVariable("VELTO_RECORD_TEST");
    if (!page.isEmpty() && qEnvironmentVariableIsSet("VELTO_RECORD_OUT")) {
        const QString out = qEnvironmentVariable("VELTO_RECORD_OUT");
        Dispatch::after(5, [self, page, out] {
            if (self)
                self->recordTest(page, out);
        });
    }
    const QString script = qEnvironmentVariable("VELTO_RECORD_SCRIPT");
    if (!script.isEmpty())
        Dispatch::after(5, [self, script] {
            if (self)
                self->recordScript(script);
        });
}

void AppDelegate::finishRecordHook(const QString &out, const QJsonObject &result)
{
    // The result is written whole or not at all; a failed write still ends the run.
    Files::writeAtomicMakingFolder(QDir(out).filePath(QStringLiteral("result.json")),
                                   QJsonDocument(result).toJson(QJsonDocument::Indented));
    quitFromHook();
}

void AppDelegate::recordTest(const QString &page, const QString &out)
{
    showBrowser();
    const std::optional<QUrl> url = urlOf(page);
    if (!url) {
        finishRecordHook(out, QJsonObject{{QStringLiteral("error"), QStringLiteral("bad page")}});
        return;
    }
    browser_->newTab(*url, true);
    const QString folder = QDir(out).filePath(QStringLiteral("Videos/Record test"));
    const QString name = QStringLiteral("Record test");
    QPointer<AppDelegate> self(this);
    Dispatch::after(3.0, [self, folder, name, out] {
        if (!self)
            return;
        PaneRecorder &recorder = PaneRecorder::shared();
        if (const auto error = recorder.start(self->browser_, folder, name)) {
            self->finishRecordHook(out, QJsonObject{{QStringLiteral("error"), error->description()}});
            return;
        }
        recorder.mark(QStringLiteral("Step 1 \u00B7 Open the form"));
        Dispatch::after(2.5, [self] {
            if (!self)
                return;
            PaneRecorder::shared().mark(QStringLiteral("Step 2 \u00B7 Fill the applicant"));
            if (BrowserTab *tab = self->browser_->activeTab())
                tab->web()->evaluate(fillScript(), WebView::World::Page);
        });
        Dispatch::after(6.0, [self, folder, name, out] {
            RenderJob job;
            job.folder = folder;
            job.name = name;
            job.lines = {
                {0.5, QStringLiteral("Open the GST registration form.")},
                {2.6, QStringLiteral("Fill the legal name, PAN and mobile number, then continue.")},
            };
            job.details = true;
            stopAndRender(job, [self, out](const QJsonObject &result) {
                if (self)
                    self->finishRecordHook(out, result);
            });
        });
    });
}

namespace {

// One run of a recording script, shared by its scheduled blocks.
struct ScriptRun {
    QJsonObject script;
    QString out;
    QString name;
    QString folder;
    bool window = false;
    QJsonArray steps;
    double stop = 30;
};

} // namespace

void AppDelegate::recordScript(const QString &path)
{
    const QFileInfo file(path);
    if (!file.isFile() || file.size() > MAX_SCRIPT_BYTES)
        badScript();
    const std::optional<QByteArray> bytes = Files::readAll(path);
    QJsonParseError parsed{};
    const QJsonDocument doc = bytes ? QJsonDocument::fromJson(*bytes, &parsed) : QJsonDocument();
    if (!bytes || parsed.error != QJsonParseError::NoError || !doc.isObject())
        badScript();
    auto run = std::make_shared<ScriptRun>();
    run->script = doc.object();
    const QJsonObject &s = run->script;
    const std::optional<QString> pageText = JsonFields::text(s, "page");
    const std::optional<QString> out = JsonFields::text(s, "out");
    const std::optional<QUrl> page = pageText ? urlOf(*pageText) : std::nullopt;
    run->name = JsonFields::text(s, "name").value_or(QStringLiteral("Demo"));
    // The name is the video folder's last part: it may not climb out of
    // out/Videos or name no folder at all.
    const bool badName = run->name.isEmpty() || run->name.contains(QLatin1Char('/')) ||
                         run->name == QLatin1String(".") || run->name == QLatin1String("..");
    if (!page || !out || out->isEmpty() || badName)
        badScript();
    run->out = *out;

    if (const auto size = pairOf(s.value(QLatin1String("window"))); size && window_) {
        QScreen *screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            const QRect visible = screen->availableGeometry();
            // Bounded so that no size overflows a window's frame.
            const double w = std::clamp(size->x(), 1.0, 16384.0), h = std::clamp(size->y(), 1.0, 16384.0);
            window_->setGeometry(int(std::lround(visible.x() + (visible.width() - w) * 0.5)),
                                 int(std::lround(visible.y() + (visible.height() - h) * 0.5)), int(std::lround(w)),
                                 int(std::lround(h)));
            window_->update();
        }
    }

    const bool windowTarget = JsonFields::text(s, "target") == QStringLiteral("window");
    if (windowTarget && *pageText == QLatin1String("about:blank")) {
        showChat();
    } else {
        showBrowser();
        browser_->newTab(*page, true);
    }
    run->window = windowTarget;
    run->folder = QDir(run->out).filePath(QStringLiteral("Videos/") + run->name);

    const QJsonValue steps = s.value(QLatin1String("steps"));
    bool stepsOk = steps.isArray();
    for (const QJsonValue &step : steps.toArray())
        stepsOk = stepsOk && step.isObject();
    if (stepsOk)
        run->steps = steps.toArray();
    run->stop = JsonFields::number(s, "stop").value_or(30);
    const double settle = JsonFields::number(s, "settle").value_or(3);

    QPointer<AppDelegate> self(this);
    Dispatch::after(settle, [self, run] {
        if (!self)
            return;
        PaneRecorder &recorder = PaneRecorder::shared();
        std::optional<PaneRecorder::RecordError> error;
        if (run->window) {
            recorder.onTick = nullptr;
            QWidget *w = self->window_;
            const QSizeF points = w ? QSizeF(w->size()) : QSizeF();
            const double scale = demoRecordScale ? *demoRecordScale : (w ? w->devicePixelRatioF() : 1.0);
            QPointer<AppDelegate> weak = self;
            error = recorder.startWindow(points, scale, run->folder, run->name,
                                         [weak](std::function<void(const QImage &)> frame) {
                                             if (weak)
                                                 weak->captureWindow(frame);
                                             else
                                                 frame(QImage());
                                         });
        } else {
            error = recorder.start(self->browser_, run->folder, run->name);
        }
        if (error) {
            self->finishRecordHook(run->out, QJsonObject{{QStringLiteral("error"), error->description()}});
            return;
        }
        for (const QJsonValue &value : std::as_const(run->steps)) {
            const QJsonObject step = value.toObject();
            Dispatch::after(JsonFields::number(step, "at").value_or(0), [self, step] {
                if (self)
                    self->playStep(step);
            });
        }
        Dispatch::after(run->stop, [self, run] {
            const QJsonObject &s = run->script;
            const QJsonValue captions = s.value(QLatin1String("captions"));
            RenderJob job;
            job.folder = run->folder;
            job.name = run->name;
            job.lines = scriptLines(s.value(QLatin1String("lines")));
            job.voice = JsonFields::text(s, "voice").value_or(QStringLiteral("system"));
            job.language = JsonFields::text(s, "language").value_or(QStringLiteral("en"));
            job.captions = captions.isBool() ? captions.toBool() : true;
            stopAndRender(job, [self, run](const QJsonObject &result) {
                if (self)
                    self->finishRecordHook(run->out, result);
            });
        });
    });
}

void AppDelegate::playStep(const QJsonObject &step)
{
    if (const auto title = JsonFields::text(step, "mark"))
        PaneRecorder::shared().mark(*title);
    BrowserTab *tab = browser_ ? browser_->activeTab() : nullptr;
    if (const auto js = JsonFields::text(step, "js"); js && tab)
        tab->web()->evaluate(*js, WebView::World::Page);
    if (const auto text = JsonFields::text(step, "url")) {
        const std::optional<QUrl> url = urlOf(*text);
        tab = browser_ ? browser_->activeTab() : nullptr;
        if (url && tab) {
            QPointer<BrowserTab> loading(tab);
            tab->web()->load(*url);
            // A page that has not answered within the minute is given up.
            QTimer::singleShot(URL_LOAD_MS, tab, [loading, url] {
                if (loading && loading->loading && loading->web()->url() == *url)
                    loading->web()->stop();
            });
        }
    }
    if (const auto js = JsonFields::text(step, "chat_js"); js && chat_)
        chat_->evaluate(*js, WebView::World::Page);
    if (const auto action = JsonFields::text(step, "action"))
        demoAction(*action, step);
    if (const auto point = pairOf(step.value(QLatin1String("ring"))))
        demoRing = DemoRing{*point, demoRingClock()};
}

void AppDelegate::captureWindow(const std::function<void(const QImage &)> &done)
{
    if (!window_) {
        done(QImage());
        return;
    }
    auto run = std::make_shared<CaptureRun>();
    run->self = this;
    run->done = done;
    composite(window_, Theme::bg(), Theme::glass(), liveWeb(), [run](const QImage &main) {
        if (!run->self || !run->self->window() || main.isNull()) {
            run->done(QImage());
            return;
        }
        run->main = main;
        // The app's other windows over the main one (sheets, panels, popovers).
        QWidget *mainWindow = run->self->window();
        run->frame = mainWindow->geometry();
        for (QWidget *w : otherVisibleWindows(mainWindow))
            if (w->geometry().intersects(run->frame))
                run->others << w;
        overlayFrom(run, 0);
    });
}
