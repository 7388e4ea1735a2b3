#include "recorder/FrameWriter.h"

#include "platform/Dispatch.h"
#include "recorder/TextTracker.h"

#include <QJsonObject>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

const QColor kBackground = QColor::fromRgbF(0.965f, 0.961f, 0.945f);
const QColor kPill = QColor::fromRgbF(0.886f, 0.898f, 0.929f);
const QColor kDot = QColor::fromRgbF(0.42f, 0.44f, 0.52f);

double area(const QRectF &r) { return r.isEmpty() ? 0 : r.width() * r.height(); }

// One frame on its way through the writer.
struct Job {
    FrameWriter::Frame frame;
    std::function<void(FrameWriter::Result)> done;
    QImage scan;                  // the image recognition reads (halved when very wide)
    TextTracker::Change change;
    int tasks = 0;                // regions not yet recognised (guarded by the writer's lock)
    bool failed = false;
    std::vector<Redaction::PixelHit> found;
};

struct Task {
    std::shared_ptr<Job> job;
    TextTracker::Region region;
};

} // namespace

struct FrameWriter::Impl {
    std::unique_ptr<Media::VideoWriter> video;
    Options options;
    QSize canvas;

    std::mutex lock;
    std::condition_variable wake;      // the writer thread: a frame came, a region was read, finish asked
    std::condition_variable work;      // the recognition workers
    std::deque<std::shared_ptr<Job>> incoming;
    std::deque<std::shared_ptr<Job>> waiting; // analysed, in frame order
    std::deque<Task> tasks;
    bool finishing = false;
    bool stopping = false;
    std::function<void(bool, QString)> finished;
    std::optional<double> endSeconds;  // the video's end when finishing

    std::thread writer;
    std::vector<std::thread> workers;

    // Main thread only.
    double lastAt = -1;
    bool closed = false;
    bool finishCalled = false;
    int pending = 0;

    // Writer thread only.
    TextTracker tracker;
    QImage lastImage, lastScan;

    void startThreads()
    {
        writer = std::thread([this] { writerLoop(); });
        for (int i = 0; i < std::max(1, options.workers); ++i)
            workers.emplace_back([this] { workerLoop(); });
    }

    void stopThreads()
    {
        {
            std::lock_guard g(lock);
            stopping = true;
        }
        wake.notify_all();
        work.notify_all();
        if (writer.joinable())
            writer.join();
        for (auto &t : workers)
            if (t.joinable())
                t.join();
        workers.clear();
    }

    void workerLoop()
    {
        Ocr::Engine engine;
        std::unique_lock g(lock);
        for (;;) {
            work.wait(g, [&] { return stopping || !tasks.empty(); });
            if (stopping)
                return;
            Task t = std::move(tasks.front());
            tasks.pop_front();
            g.unlock();
            auto hits = TextTracker::recogniseRegion(engine, t.job->scan, t.region);
            g.lock();
            if (!hits)
                t.job->failed = true;
            else
                t.job->found.insert(t.job->found.end(), hits->begin(), hits->end());
            if (--t.job->tasks == 0)
                wake.notify_all();
        }
    }

    // Hands the regions of a job to the workers (lock held).
    void dispatch(const std::shared_ptr<Job> &job)
    {
        job->tasks = int(job->change.regions.size());
        job->failed = false;
        job->found.clear();
        for (const auto &r : job->change.regions)
            tasks.push_back(Task{job, r});
        if (job->tasks > 0)
            work.notify_all();
    }

    void writerLoop()
    {
        QImage frameCanvas(canvas, QImage::Format_RGB32);
        std::unique_lock g(lock);
        for (;;) {
            if (stopping)
                return;
            if (!waiting.empty() && waiting.front()->tasks == 0) {
                std::shared_ptr<Job> job = waiting.front();
                if (!job->failed && tracker.needsWhole() && !job->change.fresh) {
                    // The frame before failed, so nothing found earlier can be
                    // trusted: this one is read whole before it is written.
                    job->change = TextTracker::whole(job->scan.size());
                    addDrawn(*job);
                    dispatch(job);
                    continue;
                }
                waiting.pop_front();
                g.unlock();
                Result result = writeOne(*job, frameCanvas);
                report(job, result);
                g.lock();
                continue;
            }
            if (!incoming.empty()) {
                std::shared_ptr<Job> job = incoming.front();
                incoming.pop_front();
                g.unlock();
                analyse(*job);
                g.lock();
                dispatch(job);
                waiting.push_back(job);
                continue;
            }
            if (finishing && waiting.empty()) {
                g.unlock();
                QString error;
                const bool ok = video->finish(&error, endSeconds);
                auto done = std::move(finished);
                Dispatch::onMain([done, ok, error] {
                    if (done)
                        done(ok, error);
                });
                return;
            }
            wake.wait(g);
        }
    }

    void analyse(Job &job)
    {
        const QImage &img = job.frame.image;
        job.scan = img;
        if (img.width() >= 1921) {
            const QImage half = Redaction::downscaled(img, img.width() / 2);
            if (!half.isNull())
                job.scan = half;
        }
        if (job.scan.format() != QImage::Format_RGB32 && job.scan.format() != QImage::Format_ARGB32 &&
            job.scan.format() != QImage::Format_ARGB32_Premultiplied)
            job.scan = job.scan.convertToFormat(QImage::Format_RGB32);
        job.change = tracker.compare(job.scan);
        addDrawn(job);
        // A frame that shows the same as the one before waits as a share of
        // that one's pixels, so a backlog behind a slow page costs little memory.
        if (!job.change.fresh && job.change.dy == 0 && job.change.regions.empty() && !lastImage.isNull()) {
            job.frame.image = lastImage;
            job.scan = lastScan;
        } else {
            lastImage = job.frame.image;
            lastScan = job.scan;
        }
    }

    // Every area the page draws as pixels that changed in this frame is read
    // again whole (enlarged), besides the changed tiles around it, so a value
    // drawn in a canvas or an image is covered from the first frame it shows.
    static void addDrawn(Job &job)
    {
        const QSize size = job.scan.size();
        const double k = size.width() / std::max(job.frame.vw, 1.0);
        const QRect view(QPoint(0, 0), size);
        for (const QJsonValue &v : job.frame.pixels) {
            const QJsonObject o = v.toObject();
            const QJsonValue x = o.value(QLatin1String("x")), y = o.value(QLatin1String("y")),
                             w = o.value(QLatin1String("w")), h = o.value(QLatin1String("h"));
            if (!x.isDouble() || !y.isDouble() || !w.isDouble() || !h.isDouble())
                continue;
            const QRectF area(k * x.toDouble(), k * y.toDouble(), k * w.toDouble(), k * h.toDouble());
            const QRect rect = area.toAlignedRect().adjusted(-4, -4, 4, 4) & view;
            if (rect.width() < 8 || rect.height() < 8 || !TextTracker::changedUnder(job.change, rect))
                continue;
            // An area that stood still while the page scrolled between its two
            // checks is listed by both: it is read once.
            const auto same = [&rect](const TextTracker::Region &r) { return r.drawn && r.rect == rect; };
            if (std::any_of(job.change.regions.begin(), job.change.regions.end(), same))
                continue;
            // Text may be cut at the area's own borders as well as at the view's.
            job.change.regions.push_back(TextTracker::Region{rect, Redaction::Edges{true, true, true, true}, true});
        }
    }

    Result writeOne(Job &job, QImage &frameCanvas)
    {
        Result result;
        if (job.failed) {
            tracker.reset();
            return result;
        }
        const auto boxes = tracker.settle(job.change, job.found);
        const double w = job.scan.width(), h = job.scan.height();
        std::vector<Redaction::OCRHit> hits;
        hits.reserve(boxes.size());
        for (const auto &b : boxes)
            hits.push_back(Redaction::OCRHit{
                QRectF(b.box.x() / w, 1.0 - (b.box.y() + b.box.height()) / h, b.box.width() / w, b.box.height() / h),
                b.kind});
        Counts byPage, byOCR;
        compose(frameCanvas, job.frame.image, job.frame.rects, job.frame.vw, hits, byPage, byOCR);
        if (!video->append(frameCanvas, job.frame.at))
            return result;
        result.written = true;
        result.byPage = std::move(byPage);
        result.byOCR = std::move(byOCR);
        return result;
    }

    void report(const std::shared_ptr<Job> &job, const Result &result)
    {
        auto done = std::move(job->done);
        job->frame.image = QImage();
        job->scan = QImage();
        std::weak_ptr<Impl> weak = self;
        Dispatch::onMain([weak, done, result] {
            if (auto d = weak.lock())
                --d->pending;
            if (done)
                done(result);
        });
    }

    std::weak_ptr<Impl> self;
};

FrameWriter::FrameWriter() : d(std::make_shared<Impl>()) {}

FrameWriter::~FrameWriter()
{
    d->stopThreads();
}

std::unique_ptr<FrameWriter> FrameWriter::open(const QString &path, QSize canvas, const Options &options,
                                               QString *error, Media::OpenError *kind)
{
    Media::VideoSettings settings;
    settings.width = canvas.width();
    settings.height = canvas.height();
    settings.bitRate = options.bitRate;
    settings.keyInterval = options.keyInterval;
    auto video = Media::VideoWriter::open(path, settings, error, kind);
    if (!video)
        return nullptr;
    std::unique_ptr<FrameWriter> w(new FrameWriter);
    w->d->self = w->d;
    w->d->options = options;
    w->d->canvas = QSize(video->width(), video->height());
    w->d->video = std::move(video);
    w->d->startThreads();
    return w;
}

QSize FrameWriter::canvas() const { return d->canvas; }

int FrameWriter::pending() const { return d->pending; }

void FrameWriter::write(Frame frame, std::function<void(Result)> done)
{
    const bool refuse = d->closed || frame.image.isNull() || !(frame.at > d->lastAt) ||
                        d->pending >= d->options.maxPending;
    if (refuse) {
        Dispatch::onMain([done] {
            if (done)
                done(Result{});
        });
        return;
    }
    d->lastAt = frame.at;
    ++d->pending;
    auto job = std::make_shared<Job>();
    job->frame = std::move(frame);
    job->done = std::move(done);
    {
        std::lock_guard g(d->lock);
        d->incoming.push_back(std::move(job));
    }
    d->wake.notify_all();
}

void FrameWriter::finish(std::function<void(bool, QString)> done, std::optional<double> endSeconds)
{
    if (d->closed) {
        Dispatch::onMain([done] {
            if (done)
                done(false, QStringLiteral("the writer is closed"));
        });
        return;
    }
    d->closed = true;
    d->finishCalled = true;
    {
        std::lock_guard g(d->lock);
        d->finishing = true;
        d->finished = std::move(done);
        d->endSeconds = endSeconds;
    }
    d->wake.notify_all();
}

void FrameWriter::cancel()
{
    if (d->finishCalled)
        return; // the file is being finished (or is done) and stays
    d->closed = true;
    std::deque<std::shared_ptr<Job>> dropped;
    {
        std::lock_guard g(d->lock);
        dropped = std::move(d->incoming);
        for (auto &j : d->waiting)
            dropped.push_back(j);
        d->waiting.clear();
        d->tasks.clear();
    }
    d->stopThreads();
    d->video->cancel();
    for (auto &job : dropped)
        d->report(job, Result{});
}

void FrameWriter::paintPill(QImage &canvas, const QRectF &raw)
{
    const QRectF box = raw.intersected(QRectF(0, 0, canvas.width(), canvas.height()));
    if (!(box.width() > 1 && box.height() > 1))
        return;
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const double r = std::min(box.height() / 2, 8.0);
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.addRoundedRect(box, r, r);
    p.fillPath(path, kPill);
    const double dot = std::max(3.0, std::min(0.22 * box.height(), 8.0));
    const double pitch = 2.2 * dot;
    const int n = std::clamp(int(std::floor((box.width() - 16) / pitch)), 1, 8);
    p.setBrush(kDot);
    const double top = box.center().y() - dot / 2;
    for (int i = 0; i < n; ++i)
        p.drawEllipse(QRectF(box.left() + 10 + i * pitch, top, dot, dot));
}

void FrameWriter::compose(QImage &canvas, const QImage &image, const QJsonArray &rects, double vw,
                          const std::vector<Redaction::OCRHit> &hits, Counts &byPage, Counts &byOCR)
{
    const double cw = canvas.width(), ch = canvas.height();
    const double iw = image.width(), ih = image.height();
    canvas.fill(kBackground);
    if (iw <= 0 || ih <= 0)
        return;
    const double s = std::min(cw / iw, ch / ih);
    const double dw = s * iw, dh = s * ih;
    const double ox = (cw - dw) / 2, oy = (ch - dh) / 2;
    {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        // Centred, so the offset from the top equals the one from the bottom.
        p.drawImage(QRectF(ox, oy, dw, dh), image);
    }

    // Boxes in top-left canvas pixels, in painting order.
    std::vector<QRectF> boxes;
    const double k = dw / std::max(vw, 1.0);
    for (const QJsonValue &v : rects) {
        const QJsonObject o = v.toObject();
        const QJsonValue x = o.value(QLatin1String("x")), y = o.value(QLatin1String("y")),
                         w = o.value(QLatin1String("w")), h = o.value(QLatin1String("h"));
        if (!x.isDouble() || !y.isDouble() || !w.isDouble() || !h.isDouble())
            continue;
        const QJsonValue kind = o.value(QLatin1String("kind"));
        boxes.push_back(QRectF(ox + k * x.toDouble(), oy + k * y.toDouble(), k * w.toDouble(), k * h.toDouble()));
        ++byPage[kind.isString() ? kind.toString() : QStringLiteral("field")];
    }
    for (const auto &hit : hits) {
        // Normalised with y upwards: the box's top is at 1 - (y + height).
        const double bx = ox + dw * hit.box.x();
        const double by = oy + dh * (1.0 - hit.box.y() - hit.box.height());
        const QRectF grown = QRectF(bx, by, dw * hit.box.width(), dh * hit.box.height()).adjusted(-8, -6, 8, 6);
        bool known = false;
        for (const QRectF &b : boxes) {
            if (area(b.intersected(grown)) > area(grown) / 2) {
                known = true;
                break;
            }
        }
        if (!known)
            ++byOCR[hit.kind];
        boxes.push_back(grown);
    }
    for (const QRectF &b : boxes)
        paintPill(canvas, b);
}
