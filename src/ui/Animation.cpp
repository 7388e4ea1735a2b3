#include "ui/Animation.h"

#include <QColor>
#include <QElapsedTimer>
#include <QEvent>
#include <QPointF>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <limits>

namespace Timing {

QEasingCurve linear()
{
    return QEasingCurve(QEasingCurve::Linear);
}

QEasingCurve cubic(qreal x1, qreal y1, qreal x2, qreal y2)
{
    QEasingCurve c(QEasingCurve::BezierSpline);
    c.addCubicBezierSegment(QPointF(x1, y1), QPointF(x2, y2), QPointF(1, 1));
    return c;
}

QEasingCurve easeInEaseOut()
{
    return cubic(0.42, 0, 0.58, 1);
}

} // namespace Timing

namespace {

bool isNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
        return true;
    default:
        return false;
    }
}

qint64 monotonicNs()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.nsecsElapsed();
}

double stepped(double v, double step)
{
    return step > 0 ? std::round(v / step) * step : v;
}

// A value as it shows once drawn.
QVariant shown(const QVariant &v, double step)
{
    if (!v.isValid())
        return v;
    if (isNumber(v))
        return stepped(v.toDouble(), step);
    switch (v.typeId()) {
    case QMetaType::QColor:
        return QVariant::fromValue(v.value<QColor>().rgba());
    case QMetaType::QPointF: {
        const QPointF p = v.toPointF();
        return QPointF(stepped(p.x(), step), stepped(p.y(), step));
    }
    case QMetaType::QVariantList: {
        QVariantList out;
        for (const QVariant &e : v.toList())
            out << shown(e, step);
        return out;
    }
    default:
        return v;
    }
}

} // namespace

QVariant blend(const QVariant &a, const QVariant &b, double t)
{
    if (isNumber(a) && isNumber(b))
        return a.toDouble() + (b.toDouble() - a.toDouble()) * t;
    if (a.typeId() == QMetaType::QColor && b.typeId() == QMetaType::QColor) {
        const QColor ca = a.value<QColor>().toRgb();
        const QColor cb = b.value<QColor>().toRgb();
        auto mix = [t](float x, float y) { return std::clamp<double>(x + (y - x) * t, 0.0, 1.0); };
        return QColor::fromRgbF(float(mix(ca.redF(), cb.redF())), float(mix(ca.greenF(), cb.greenF())),
                                float(mix(ca.blueF(), cb.blueF())), float(mix(ca.alphaF(), cb.alphaF())));
    }
    if (a.typeId() == QMetaType::QPointF && b.typeId() == QMetaType::QPointF) {
        const QPointF pa = a.toPointF(), pb = b.toPointF();
        return pa + (pb - pa) * t;
    }
    if (a.typeId() == QMetaType::QVariantList && b.typeId() == QMetaType::QVariantList) {
        const QVariantList la = a.toList(), lb = b.toList();
        QVariantList out;
        for (qsizetype i = 0; i < std::min(la.size(), lb.size()); ++i)
            out << blend(la[i], lb[i], t);
        return out;
    }
    return t < 0.5 ? a : b;
}

LayerAnimation *LayerAnimation::loop(const QString &keyPath, const QVariant &from, const QVariant &to,
                                     double seconds, bool autoreverses, const QEasingCurve &timing)
{
    auto *a = new LayerAnimation;
    a->keyPath = keyPath;
    a->values = {from, to};
    a->seconds = seconds;
    a->autoreverses = autoreverses;
    a->repeatsForever = true;
    a->removedOnCompletion = false;
    a->timing = timing;
    return a;
}

int LayerAnimation::duration() const
{
    if (repeatsForever)
        return -1;
    return int(std::ceil((beginDelay + cycleLength()) * 1000.0));
}

void LayerAnimation::start()
{
    startedNs_ = monotonicNs();
}

double LayerAnimation::elapsed() const
{
    return startedNs_ < 0 ? 0.0 : double(monotonicNs() - startedNs_) / 1e9;
}

QVariant LayerAnimation::value() const
{
    return valueAt(elapsed());
}

QVariant LayerAnimation::valueAt(double t) const
{
    if (values.isEmpty())
        return {};
    t -= beginDelay;
    if (t < 0)
        return {};
    const double c = cycleLength();
    if (c <= 0 || seconds <= 0)
        return values.last();
    if (repeatsForever)
        t = std::fmod(t, c);
    else
        t = std::min(t, c);
    if (t > activeLength() + 1e-9)
        return {};

    double p = t / seconds;
    if (autoreverses && p > 1)
        p = 2 - p;
    p = std::clamp(p, 0.0, 1.0);
    const double e = timing.valueForProgress(p);

    const qsizetype n = values.size();
    if (n == 1)
        return values.first();
    QList<qreal> kt = keyTimes;
    if (kt.size() != n) {
        kt.clear();
        for (qsizetype i = 0; i < n; ++i)
            kt << double(i) / double(n - 1);
    }
    // The segment holding e; beyond the ends (an overshooting curve) the end
    // segments are carried on.
    qsizetype i = 0;
    while (i < n - 2 && e > kt[i + 1])
        ++i;
    const double span = kt[i + 1] - kt[i];
    const double local = span > 0 ? (e - kt[i]) / span : 1.0;
    return blend(values[i], values[i + 1], local);
}

QVariant LayerAnimation::shownAt(double t) const
{
    return shown(valueAt(t), step);
}

double LayerAnimation::nextChange(double t, double frame, double horizon) const
{
    constexpr double never = std::numeric_limits<double>::infinity();
    if (values.isEmpty() || finishedAt(t))
        return never;
    const double end = repeatsForever ? never : duration() / 1000.0;
    const QVariant now = shownAt(t);
    if (!now.isValid()) {
        // Nothing is driven before the beginning or in the rest of a cycle:
        // the next thing to show is the next beginning.
        double next = beginDelay;
        if (t >= beginDelay) {
            const double c = cycleLength();
            if (c <= 0)
                return end;
            next = beginDelay + (std::floor((t - beginDelay) / c) + 1) * c;
        }
        return std::min(next, end);
    }
    frame = std::max(frame, 0.001);
    const int frames = int(std::ceil(horizon / frame));
    for (int i = 1; i <= frames; ++i) {
        const double u = t + i * frame;
        if (u >= end)
            return end;
        if (shownAt(u) != now)
            return u;
    }
    return std::min(t + frames * frame, end);
}

AnimationSet::AnimationSet(QObject *owner, std::function<void()> changed)
    : owner_(owner), changed_(std::move(changed)), timer_(new QTimer(this))
{
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &AnimationSet::tick);
    if (auto *w = qobject_cast<QWidget *>(owner_)) {
        w->installEventFilter(this);
        watchWindow();
    }
}

AnimationSet::~AnimationSet()
{
    timer_->stop();
    if (owner_)
        owner_->removeEventFilter(this);
    if (watchedWindow_)
        watchedWindow_->removeEventFilter(this);
    for (LayerAnimation *a : std::as_const(map_))
        delete a;
    map_.clear();
}

void AnimationSet::watchWindow()
{
    auto *w = qobject_cast<QWidget *>(owner_);
    QWidget *window = w ? w->window() : nullptr;
    if (window == w)
        window = nullptr; // the owner's own events already come here
    if (window == watchedWindow_)
        return;
    if (watchedWindow_) {
        watchedWindow_->removeEventFilter(this);
        disconnect(watchedWindow_, &QObject::destroyed, this, nullptr);
    }
    watchedWindow_ = window;
    if (window) {
        window->installEventFilter(this);
        connect(window, &QObject::destroyed, this, [this] { watchedWindow_ = nullptr; });
    }
}

bool AnimationSet::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ParentChange:
        if (watched == owner_)
            watchWindow();
        [[fallthrough]];
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::WindowStateChange:
        // Shown again: draw where the animations are now, then carry on;
        // hidden: stop waking up. Decided once the change has settled.
        if (!map_.isEmpty())
            QMetaObject::invokeMethod(this, &AnimationSet::tick, Qt::QueuedConnection);
        break;
    default:
        break;
    }
    return false;
}

bool AnimationSet::ownerShown() const
{
    auto *w = qobject_cast<QWidget *>(owner_);
    if (!w)
        return true;
    if (!w->isVisible())
        return false;
    const QWidget *window = w->window();
    if (window->isMinimized())
        return false;
    if (const QWindow *handle = window->windowHandle())
        if (handle->visibility() == QWindow::Hidden || handle->visibility() == QWindow::Minimized)
            return false;
    return true;
}

double AnimationSet::frameSeconds() const
{
    double hz = 60;
    if (auto *w = qobject_cast<QWidget *>(owner_))
        if (const QScreen *screen = w->screen(); screen && screen->refreshRate() >= 1)
            hz = std::min(screen->refreshRate(), 240.0);
    return 1.0 / hz;
}

LayerAnimation *AnimationSet::add(const QString &key, LayerAnimation *animation)
{
    remove(key);
    animation->setParent(this);
    map_.insert(key, animation);
    animation->start();
    if (changed_)
        changed_();
    schedule();
    return animation;
}

void AnimationSet::remove(const QString &key)
{
    LayerAnimation *a = map_.take(key);
    if (!a)
        return;
    a->deleteLater();
    if (changed_)
        changed_();
    schedule();
}

void AnimationSet::removeAll(const QString &prefix)
{
    const QStringList all = map_.keys();
    for (const QString &k : all)
        if (prefix.isEmpty() || k.startsWith(prefix))
            remove(k);
}

void AnimationSet::tick()
{
    // What has ended goes (when it is removed on completion) or rests at its
    // end; either way it is drawn once more.
    bool removed = false;
    const QStringList all = map_.keys();
    for (const QString &key : all) {
        LayerAnimation *a = map_.value(key);
        if (a->removedOnCompletion && a->finishedAt(a->elapsed())) {
            map_.remove(key);
            a->deleteLater();
            removed = true;
        }
    }
    const bool visible = ownerShown();
    if (visible)
        ++frames_;
    if ((visible || removed) && changed_)
        changed_();
    schedule();
}

void AnimationSet::schedule()
{
    constexpr double never = std::numeric_limits<double>::infinity();
    const bool visible = ownerShown();
    const double frame = frameSeconds();
    double wait = never;
    for (const LayerAnimation *a : std::as_const(map_)) {
        const double t = a->elapsed();
        double next = never;
        if (visible)
            next = a->nextChange(t, frame, std::min(2.0, wait)); // no need to look past the soonest so far
        else if (!a->finishedAt(t) && !a->repeatsForever)
            next = a->duration() / 1000.0; // only its end, unseen
        wait = std::min(wait, next - t);
    }
    if (wait == never) {
        timer_->stop();
        return;
    }
    timer_->start(int(std::ceil(std::max(0.0, wait) * 1000.0)));
}

QVariant AnimationSet::value(const QString &key, const QVariant &own) const
{
    if (LayerAnimation *a = map_.value(key)) {
        const QVariant v = a->value();
        if (v.isValid())
            return v;
    }
    return own;
}

double AnimationSet::number(const QString &key, double own) const
{
    return value(key, own).toDouble();
}
