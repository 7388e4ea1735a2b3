#include "ui/Reveal.h"
#include "platform/Dispatch.h"
#include "ui/Animation.h"
#include "ui/FrameSurface.h"
#include "ui/Theme.h"

#include <QPainter>
#include <QRadialGradient>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>

namespace {

double clamp01(double v)
{
    return std::clamp(v, 0.0, 1.0);
}

// The box grown by 4 on every side: the cover's outline.
QRectF grown(const QRectF &box)
{
    return box.adjusted(-4, -4, 4, 4);
}

} // namespace

RevealOverlay::RevealOverlay(QWidget *parent, const QImage &picture, QPointF centre, const QRectF &switchFrame,
                             bool toDark)
    : QWidget(parent), picture_(picture), centre_(centre), switchFrame_(switchFrame), toDark_(toDark)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    if (parent)
        setGeometry(QRect(QPoint(0, 0), parent->size()));
    raise();
    // Drawn over the whole window: the marks' own surfaces would show
    // through it, so they stand aside until the overlay goes.
    FrameSurface::hold();
    anim_ = new QVariantAnimation(this);
    connect(anim_, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) { showMoment(v.toDouble()); });
    connect(anim_, &QVariantAnimation::finished, this, &RevealOverlay::finished);
}

RevealOverlay::~RevealOverlay()
{
    FrameSurface::release();
}

QEasingCurve RevealOverlay::curve()
{
    return Timing::cubic(0.22, 1.0, 0.36, 1.0);
}

qreal RevealOverlay::finalRadius(const QSizeF &size, QPointF c)
{
    const qreal dx = std::max(c.x(), size.width() - c.x());
    const qreal dy = std::max(c.y(), size.height() - c.y());
    return std::hypot(dx, dy) + 8;
}

qreal RevealOverlay::holeRadius(double seconds) const
{
    const qreal end = finalRadius(size(), centre_);
    return 0.5 + (end - 0.5) * curve().valueForProgress(clamp01(seconds / holeSeconds));
}

QPainterPath RevealOverlay::coverPath(double seconds) const
{
    const QRectF box = grown(QRectF(rect()));
    QPainterPath hole;
    hole.setFillRule(Qt::OddEvenFill);
    hole.addRect(box);
    const qreal r = holeRadius(seconds);
    hole.addEllipse(centre_, r, r);
    QPainterPath cutOut;
    cutOut.setFillRule(Qt::OddEvenFill);
    cutOut.addRect(box);
    cutOut.addRoundedRect(grown(switchFrame_), 20, 20);
    return hole.intersected(cutOut);
}

qreal RevealOverlay::glowOpacity(double seconds)
{
    // Key frames 1, 0.9, 0 at 0, 0.6 and 1 of the glow's time, linear.
    const double f = clamp01(seconds / glowSeconds);
    if (f <= 0.6)
        return 1.0 - 0.1 * (f / 0.6);
    return 0.9 * (1.0 - (f - 0.6) / 0.4);
}

qreal RevealOverlay::glowScale(double seconds)
{
    return 0.2 + 3.0 * curve().valueForProgress(clamp01(seconds / glowSeconds));
}

qreal RevealOverlay::ringOpacity(double seconds)
{
    return 1.0 - clamp01(seconds / ringSeconds);
}

qreal RevealOverlay::ringScale(double seconds)
{
    return 1.0 + 8.0 * curve().valueForProgress(clamp01(seconds / ringSeconds));
}

void RevealOverlay::start()
{
    anim_->stop();
    const double longest = std::max({holeSeconds, glowSeconds, ringSeconds});
    anim_->setStartValue(0.0);
    anim_->setEndValue(longest);
    anim_->setDuration(std::max(1, Dispatch::scaledMs(longest)));
    showMoment(0);
    anim_->start();
}

void RevealOverlay::showMoment(double seconds)
{
    moment_ = seconds;
    update();
}

void RevealOverlay::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);

    // The old look, stretched over the whole content, outside the hole and the
    // switch's cut-out.
    p.save();
    p.setClipPath(coverPath(moment_));
    p.drawImage(QRectF(rect()), picture_);
    p.restore();

    // The glow: a radial gradient 180 x 180 centred on the switch.
    const qreal glowAlpha = glowOpacity(moment_);
    if (glowAlpha > 0) {
        p.save();
        p.translate(centre_);
        p.scale(glowScale(moment_), glowScale(moment_));
        p.setOpacity(glowAlpha);
        QRadialGradient g(QPointF(0, 0), 90);
        if (toDark_) {
            g.setColorAt(0, Theme::hex(0xD2DEFF, 0.9));
            g.setColorAt(0.4, Theme::hex(0x5069E6, 0.5));
            g.setColorAt(1, Theme::hex(0x283CB4, 0));
        } else {
            g.setColorAt(0, Theme::hex(0xFFF4BE, 0.95));
            g.setColorAt(0.4, Theme::hex(0xFFD65A, 0.55));
            g.setColorAt(1, Theme::hex(0xFFD65A, 0));
        }
        p.fillRect(QRectF(-90, -90, 180, 180), g);
        p.restore();
    }

    // The ring: a circle of diameter 40, stroked 2 wide, growing ninefold.
    const qreal ringAlpha = ringOpacity(moment_);
    if (ringAlpha > 0) {
        p.save();
        p.translate(centre_);
        p.scale(ringScale(moment_), ringScale(moment_));
        p.setOpacity(ringAlpha);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(toDark_ ? Theme::hex(0x96AFFF, 0.9) : Theme::hex(0xFFD250, 0.9), 2));
        p.drawEllipse(QPointF(0, 0), 20, 20);
        p.restore();
    }
}
