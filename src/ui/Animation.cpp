#include "ui/Animation.h"

#include <QColor>
#include <QPointF>
#include <algorithm>
#include <cmath>

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

QVariant LayerAnimation::value() const
{
    return valueAt(currentTime() / 1000.0);
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

AnimationSet::AnimationSet(QObject *owner, std::function<void()> changed)
    : owner_(owner), changed_(std::move(changed))
{
}

AnimationSet::~AnimationSet()
{
    for (LayerAnimation *a : std::as_const(map_)) {
        QObject::disconnect(a, nullptr, nullptr, nullptr);
        delete a;
    }
}

LayerAnimation *AnimationSet::add(const QString &key, LayerAnimation *animation)
{
    remove(key);
    animation->setParent(owner_);
    map_.insert(key, animation);
    QObject::connect(animation, &LayerAnimation::ticked, owner_, [this] {
        if (changed_)
            changed_();
    });
    QObject::connect(animation, &QAbstractAnimation::finished, owner_, [this, key, animation] {
        if (animation->removedOnCompletion && map_.value(key) == animation)
            remove(key);
    });
    animation->start();
    if (changed_)
        changed_();
    return animation;
}

void AnimationSet::remove(const QString &key)
{
    LayerAnimation *a = map_.take(key);
    if (!a)
        return;
    QObject::disconnect(a, nullptr, owner_, nullptr);
    a->stop();
    a->deleteLater();
    if (changed_)
        changed_();
}

void AnimationSet::removeAll(const QString &prefix)
{
    const QStringList all = map_.keys();
    for (const QString &k : all)
        if (prefix.isEmpty() || k.startsWith(prefix))
            remove(k);
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
