#pragma once
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QProcessEnvironment>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVector>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class BrowserPane;
class QTimer;
class WebView;

// The one recorder of the application. It records what the browser pane's
// active tab shows (or frames a caller captures itself) into "raw.mp4" in a
// recording folder at a fixed frame rate, hides private data in every frame,
// logs pages, clicks and focused fields as steps, and on stop finishes the
// video, writes "steps.json" and hands back the summary.
//
// Every operation, the frame timer and every field belong to the main
// thread; text recognition and frame writing run on the frame writer's own
// threads, which answer each frame back on the main thread. One capture of
// the pane is under way at a time; frames waiting for their text check are
// bounded, and while the writer holds that many the tick waits. Stop
// finishes the recording it was asked on, after every frame handed in
// before it, and no new recording can start until it has reported.
class PaneRecorder : public QObject {
    Q_OBJECT
public:
    // One named moment of a recording.
    struct Step {
        qint64 n = 0;      // 1 for the first step of a recording
        double at = 0;     // seconds since the start, to 0.1
        QString kind;      // "page", "click", "field" or "mark"
        QString title;
        QJsonObject toJson() const;
        static std::optional<Step> fromJson(const QJsonObject &o);
        bool operator==(const Step &) const = default;
    };

    // One click seen in the page, in the page's viewport pixels.
    struct Click {
        double at = 0;
        double x = 0, y = 0;
        double vw = 0, vh = 0;
        QJsonObject toJson() const;
        static std::optional<Click> fromJson(const QJsonObject &o);
        bool operator==(const Click &) const = default;
    };

    // The result of a finished recording.
    struct Summary {
        QString name;
        QString folder;
        double seconds = 0;
        qint64 width = 0, height = 0;
        QVector<Step> steps;
        QVector<Click> clicks;
        QMap<QString, qint64> hiddenByPage;
        QMap<QString, qint64> hiddenByOCR;
        qint64 framesWritten = 0;
        qint64 framesDropped = 0;
        QJsonObject toJson() const;
        static std::optional<Summary> fromJson(const QJsonObject &o);
        bool operator==(const Summary &) const = default;
    };

    // The error of recording and rendering; description() is shown to the CA
    // unchanged. Platform errors pass through with their own description.
    class RecordError {
    public:
        enum class Kind { Writer, Busy, NoBrowser, NoScript, NotRecording, Platform };
        static RecordError writer(const QString &detail) { return {Kind::Writer, detail}; }
        static RecordError busy() { return {Kind::Busy, {}}; }
        static RecordError noBrowser() { return {Kind::NoBrowser, {}}; }
        static RecordError noScript() { return {Kind::NoScript, {}}; }
        static RecordError notRecording() { return {Kind::NotRecording, {}}; }
        // An error of the file system or the video library, shown as it stands.
        static RecordError platform(const QString &description) { return {Kind::Platform, description}; }

        Kind kind() const { return kind_; }
        QString detail() const { return detail_; }
        QString description() const;
        bool operator==(const RecordError &) const = default;

    private:
        RecordError(Kind k, const QString &d) : kind_(k), detail_(d) {}
        Kind kind_;
        QString detail_;
    };

    // What stop hands back: a summary or an error.
    struct Outcome {
        std::optional<Summary> summary;
        std::optional<RecordError> error;
        bool ok() const { return summary.has_value() && !error; }
    };

    // A caller's frame capture for window recordings: it is handed a
    // completion and calls it once, on the main thread, with the frame or a
    // null image.
    using Capture = std::function<void(std::function<void(const QImage &)>)>;

    PaneRecorder();
    ~PaneRecorder() override;

    static PaneRecorder &shared();

    // Frames per second, worked out once from the environment on first use.
    static double fps();
    // The rule itself: VELTO_RECORD_FPS within 5..30 when VELTO_DEMO_HOME is
    // set (even empty) and the value is a number, else 10.
    static double fpsFrom(const QProcessEnvironment &env);

    // The video size for a view of `points` at `scale`: at most 1920 pixels
    // wide (3840 with the demo record scale), both sides even.
    static QSize canvasFor(const QSizeF &points, double scale, bool demoScale);

    // Starts recording the pane's active tab into folder/"raw.mp4".
    std::optional<RecordError> start(BrowserPane *pane, const QString &folder, const QString &name);
    // Starts recording frames that capture supplies, of points x scale.
    std::optional<RecordError> startWindow(const QSizeF &points, double scale, const QString &folder,
                                           const QString &name, Capture capture);
    // A "mark" step while recording; nothing otherwise.
    std::optional<Step> mark(const QString &title);
    // The running time while recording; else the last summary's seconds, or 0.
    double seconds() const;
    // Ends the recording. done runs once on the main thread: later when a
    // recording was running, at once otherwise. A stop asked again answers
    // what the first stop of that recording answered.
    void stop(std::function<void(const Outcome &)> done);

    bool isRecording() const { return isRecording_; }
    // True from stop until its outcome is known; a start then is refused.
    bool isFinishing() const;
    QString name() const { return name_; }
    QString folder() const { return folder_; }
    std::optional<Summary> lastSummary() const { return lastSummary_; }
    QSize canvas() const { return canvas_; }

    // Told the elapsed seconds as frames are written or dropped, 0 at start
    // and nothing when a recording ends; drives the record button.
    std::function<void(std::optional<double>)> onTick;

    // The CSS selectors always hidden on a host, from VELTO_HOME's
    // "record-privacy.json"; empty on any problem.
    static QStringList markedSelectors(const QString &host);
    // Adds one for a host. A file that cannot be read in its shape is moved
    // aside (kept beside it) rather than overwritten.
    static void addMarked(const QString &host, const QString &selector);
    static QString privacyFile();

    // Where the page privacy script is looked for: the compiled-in resource,
    // then web/record-privacy.js beside the program. Tests point them elsewhere.
    static inline QString bundledScript = QStringLiteral(":/web/record-privacy.js");
    static std::function<QString()> devScript;
    static QString besideProgram();

    // The script each frame sends to the page: the privacy script (evaluated
    // only in a document that lacks VeltoRecord), then its frame call with
    // the host's always-hidden selectors.
    static QString pageCheck(const QString &privacySource, const QStringList &selectors);

    // The steps and clicks so far of the recording under way (or the last one).
    QVector<Step> steps() const;
    QVector<Click> clicks() const;
    // Frame tallies of the recording under way (or the last one).
    qint64 written() const;
    qint64 dropped() const;
    // The longest time a written frame took from its capture to the video.
    double longestLag() const;

    // Pane frames handed to the writer and not yet answered, at most (about
    // 4 s: reading a freshly scrolled page takes a second or more; the writer
    // keeps frames that show nothing new as shares of the one before); a
    // window recording lets at most 2 wait.
    static constexpr int PANE_BACKLOG = 40;
    static constexpr int WINDOW_BACKLOG = 2;

    struct Recording;

private:
    friend struct PaneRecorderTestPeer;

    std::optional<RecordError> begin(const QString &folder, const QSizeF &points, double scale);
    void finishStart();
    void tick();
    void log(const QJsonObject &reply);
    Step addStep(const QString &kind, const QString &title, std::optional<double> at = std::nullopt);
    // Seconds since the start on the steady clock.
    double now() const;
    void tellTick();
    // Hands a frame to the writer; its answer is counted on the main thread.
    void queueFrame(const QImage &image, const QJsonArray &rects, double vw, double vh, double at,
                    const QJsonArray &pixels = {});
    // Queues a pane frame once the page is known to stand where its check
    // saw it, or with the places of a second check added.
    void confirmPlaces(QPointer<WebView> view, const QImage &image, const QJsonObject &reply, double t);
    void finish(const std::shared_ptr<Recording> &rec, double secs, bool ok, const QString &error);
    void settle(const std::shared_ptr<Recording> &rec, const Outcome &outcome);
    QString loadScript();

    bool isRecording_ = false;
    QString folder_;
    QString name_;
    std::optional<Summary> lastSummary_;
    QPointer<BrowserPane> pane_;
    QSize canvas_{1280, 800};
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    double startedEpochMs_ = 0;
    QTimer *timer_ = nullptr;
    bool inFlight_ = false;
    int pendingWrites_ = 0;
    QString lastPage_;
    QString lastFocus_;
    QString privacySource_;
    Capture capture_;
    // The recording under way, or the last one; a stop holds on to its own.
    std::shared_ptr<Recording> rec_;
    // The outcome of the last stop, answered again to a repeated stop.
    std::optional<Outcome> lastOutcome_;
};
