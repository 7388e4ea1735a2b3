#include "ui/Mascot.h"
#include "ui/FrameSurface.h"
#include "ui/Theme.h"
#include "platform/Appearance.h"
#include "platform/Dispatch.h"

#include <QDeadlineTimer>
#include <QGraphicsDropShadowEffect>
#include <QLinearGradient>
#include <QPainter>
#include <QPointer>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <cmath>

namespace MascotShape {

namespace {
// A point given as fractions of the rectangle, fy measured up from its bottom.
QPointF at(const QRectF &r, qreal fx, qreal fy)
{
    return {r.left() + fx * r.width(), r.top() + (1 - fy) * r.height()};
}
} // namespace

QColor top()
{
    static const QColor c = Theme::hex(0x4E75F2);
    return c;
}

QColor bottom()
{
    static const QColor c = Theme::hex(0x2340B8);
    return c;
}

QPainterPath body(const QRectF &r)
{
    QPainterPath p;
    p.moveTo(at(r, 0.50, 0.89));
    p.cubicTo(at(r, 0.63, 0.89), at(r, 0.87, 0.55), at(r, 0.87, 0.38));
    p.cubicTo(at(r, 0.87, 0.20), at(r, 0.70, 0.09), at(r, 0.50, 0.09));
    p.cubicTo(at(r, 0.30, 0.09), at(r, 0.13, 0.20), at(r, 0.13, 0.38));
    p.cubicTo(at(r, 0.13, 0.55), at(r, 0.37, 0.89), at(r, 0.50, 0.89));
    p.closeSubpath();
    return p;
}

QPainterPath eyes(const QRectF &r)
{
    QPainterPath p;
    for (qreal x0 : {0.355, 0.555}) {
        const QRectF eye(at(r, x0, 0.56), at(r, x0 + 0.09, 0.40));
        const qreal radius = std::min(eye.width(), eye.height()) / 2;
        p.addRoundedRect(eye, radius, radius);
    }
    return p;
}

QPainterPath happyEyes(const QRectF &r)
{
    QPainterPath p;
    p.moveTo(at(r, 0.345, 0.45));
    p.quadTo(at(r, 0.40, 0.53), at(r, 0.455, 0.45));
    p.moveTo(at(r, 0.545, 0.45));
    p.quadTo(at(r, 0.60, 0.53), at(r, 0.655, 0.45));
    return p;
}

} // namespace MascotShape

namespace {

// The finest movement worth a new frame, in pixels: a quarter of one, as
// antialiased edges show it.
constexpr double kShowsPx = 0.25;

double uniform(double lo, double hi)
{
    return lo + (hi - lo) * QRandomGenerator::global()->generateDouble();
}

QColor turned(const QColor &c, double turn)
{
    if (!c.isValid())
        return c;
    const QColor hsv = c.toHsv();
    double h = hsv.hsvHueF();
    if (h < 0)
        return c; // no hue to turn
    h = std::fmod(h + turn, 1.0);
    return QColor::fromHsvF(float(h), hsv.hsvSaturationF(), hsv.valueF(), hsv.alphaF());
}

} // namespace

PaviMarkView::PaviMarkView(const QRect &frame, QWidget *parent)
    : QWidget(parent), anims_(this, [this] {
          syncGlow();
          if (!surface_ || !surface_->present())
              update();
      })
{
    setGeometry(frame);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    b_ = QRectF(0, 0, frame.width(), frame.height());
    body_ = MascotShape::body(b_);
    eyes_ = MascotShape::eyes(b_);
    happyEyes_ = MascotShape::happyEyes(b_);
    shadowRadius_ = std::max(0.35 * b_.width(), 4.0);

    glowEffect_ = new QGraphicsDropShadowEffect(this);
    glowEffect_->setEnabled(false);
    setGraphicsEffect(glowEffect_);
    surface_ = new FrameSurface(this);
    syncGlow();

    breathe();
    startLoops();
    connect(Appearance::shared(), &Appearance::reduceMotionChanged, this, [this] {
        startLoops();
        breathe();
        cycleHue();
    });
}

PaviMarkView::~PaviMarkView() = default;

void PaviMarkView::setBusy(bool busy)
{
    if (busy == busy_)
        return;
    busy_ = busy;
    breathe();
    dim();
}

void PaviMarkView::setDimsWhenIdle(bool dims)
{
    dimsWhenIdle_ = dims;
    dim();
}

void PaviMarkView::setHueCycle(bool cycle)
{
    if (cycle == hueCycle_)
        return;
    hueCycle_ = cycle;
    cycleHue();
}

void PaviMarkView::setBreathes(bool breathes)
{
    if (breathes == breathes_)
        return;
    breathes_ = breathes;
    breathe();
}

void PaviMarkView::breathe()
{
    anims_.remove(QStringLiteral("breathe"));
    if (!breathes_ || Theme::reduceMotion())
        return;
    auto *a = LayerAnimation::loop(QStringLiteral("transform.scale"), 1.0, busy_ ? 1.07 : 1.04, busy_ ? 0.55 : 1.7,
                                   true, Timing::easeInEaseOut());
    // The tip, 0.8 of the height from the anchor, moves the most.
    a->step = kShowsPx / std::max(0.8 * b_.height(), 1.0);
    anims_.add(QStringLiteral("breathe"), a);
}

void PaviMarkView::dim()
{
    if (dimsWhenIdle_) {
        alpha_ = busy_ ? 1.0 : 0.38;
        setBreathes(busy_);
        startLoops();
    } else {
        alpha_ = 1.0;
    }
    update();
}

void PaviMarkView::startLoops()
{
    anims_.remove(QStringLiteral("blink"));
    anims_.remove(QStringLiteral("shine"));
    if (Theme::reduceMotion() || (dimsWhenIdle_ && !busy_))
        return;

    // A blink at the end of every period: shut in 0.13 s, open in 0.13 s.
    const double period = uniform(3.2, 5.8);
    const double f = 0.13 / period;
    auto *blink = LayerAnimation::loop(QStringLiteral("transform.scale.y"), 1.0, 1.0, period, false);
    blink->values = {1.0, 1.0, 0.12, 1.0};
    blink->keyTimes = {0, 1 - 2 * f, 1 - f, 1};
    blink->step = kShowsPx / std::max(0.08 * b_.height(), 0.1); // each eye's edge, half its height off the centre
    anims_.add(QStringLiteral("blink"), blink);

    // The band crosses the body once in the first 1.4 s of every 5 to 7 s.
    auto *shine = LayerAnimation::loop(QStringLiteral("position.x"), -0.4 * b_.width(), 1.4 * b_.width(), 1.4,
                                       false, Timing::easeInEaseOut());
    shine->step = 2 * kShowsPx; // a soft band
    shine->cycle = uniform(5, 7);
    shine->beginDelay = uniform(0.5, 3.5);
    anims_.add(QStringLiteral("shine"), shine);
}

void PaviMarkView::cycleHue()
{
    anims_.remove(QStringLiteral("hue"));
    if (!hueCycle_ || Theme::reduceMotion())
        return;
    const QColor t = MascotShape::top(), b = MascotShape::bottom();
    auto *a = LayerAnimation::loop(QStringLiteral("colors"), QVariantList{t, b}, QVariantList{t, b}, 16, false);
    a->keyTimes = {0, 0.45};
    for (int i = 1; i <= 12; ++i) {
        a->values << QVariant(QVariantList{turned(t, i / 12.0), turned(b, i / 12.0)});
        a->keyTimes << 0.45 + 0.55 * i / 12.0;
    }
    anims_.add(QStringLiteral("hue"), a);
}

void PaviMarkView::happy(double seconds)
{
    const qint64 until = QDeadlineTimer::current().deadlineNSecs() + qint64(seconds * 1e9);
    happyUntil_ = until;
    happyShown_ = true;
    update();
    QPointer<PaviMarkView> self(this);
    Dispatch::after(seconds, [self, until] {
        if (!self || self->happyUntil_ != until)
            return;
        self->happyShown_ = false;
        self->update();
    });
}

void PaviMarkView::glow(bool toDark, double seconds)
{
    shadowColor_ = toDark ? Theme::hex(0x8EA6FF) : Theme::hex(0xFFD65A);
    auto *a = new LayerAnimation;
    a->keyPath = QStringLiteral("shadowOpacity");
    a->values = {0.0, 1.0, 1.0, 0.0};
    a->keyTimes = {0, 0.15, 0.6, 1};
    a->seconds = Theme::reduceMotion() ? 0.5 : seconds;
    a->step = 1.0 / 128;
    anims_.add(QStringLiteral("glow"), a);
}

void PaviMarkView::setSteadyGlow(bool on)
{
    shadowColor_ = Theme::royal();
    shadowOpacity_ = on ? 0.55 : 0;
    shadowRadius_ = std::max(0.3 * b_.width(), 6.0);
    shadowOffset_ = QPointF(0, 0.06 * b_.height()); // below the drop
    syncGlow();
}

// The glow is a drop shadow of the drawn drop, so it may spread beyond the view.
void PaviMarkView::syncGlow()
{
    if (!glowEffect_)
        return;
    const qreal opacity = anims_.number(QStringLiteral("glow"), shadowOpacity_);
    QColor c = shadowColor_;
    c.setAlphaF(float(std::clamp<qreal>(c.alphaF() * opacity, 0, 1)));
    const bool on = opacity > 0.001;
    if (glowEffect_->isEnabled() != on)
        glowEffect_->setEnabled(on);
    // The glow spreads beyond the view, past its surface.
    if (surface_)
        surface_->setInUse(!on);
    if (!on)
        return;
    if (glowEffect_->color() != c)
        glowEffect_->setColor(c);
    if (glowEffect_->blurRadius() != shadowRadius_ * 2)
        glowEffect_->setBlurRadius(shadowRadius_ * 2);
    if (glowEffect_->offset() != shadowOffset_)
        glowEffect_->setOffset(shadowOffset_);
}

void PaviMarkView::paintEvent(QPaintEvent *)
{
    if (surface_ && surface_->drawingBackdrop())
        return;
    if (surface_)
        surface_->viewPainted();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(alpha_);
    const qreal w = b_.width(), h = b_.height();

    // The group scales about the bottom of the drop.
    const qreal scale = anims_.number(QStringLiteral("breathe"), 1.0);
    const QPointF anchor(b_.center().x(), b_.top() + 0.91 * h);
    p.translate(anchor);
    p.scale(scale, scale);
    p.translate(-anchor);

    // The body: gradient fill, highlight and shine, inside the drop.
    p.save();
    p.setClipPath(body_);
    const QVariantList colors =
        anims_.value(QStringLiteral("hue"), QVariantList{MascotShape::top(), MascotShape::bottom()}).toList();
    QLinearGradient fill(b_.center().x(), b_.top(), b_.center().x(), b_.bottom());
    fill.setColorAt(0, colors.value(0).value<QColor>());
    fill.setColorAt(1, colors.value(1).value<QColor>());
    p.fillRect(b_, fill);

    QRadialGradient highlight(QPointF(0.32 * w, 0.26 * h), 0.42 * w);
    highlight.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.65f));
    highlight.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0));
    p.save();
    if (w > 0)
        p.scale(1, h / w); // an ellipse when the mark is not square
    p.fillRect(QRectF(0, 0, w, w), highlight);
    p.restore();

    const qreal shineX = anims_.number(QStringLiteral("shine"), -0.4 * w);
    p.save();
    p.translate(shineX, b_.center().y());
    p.rotate(18); // slanted: the band leans to the right at its top
    const QRectF band(-0.17 * w, -0.7 * h, 0.34 * w, 1.4 * h);
    QLinearGradient shine(band.left(), 0, band.right(), 0);
    shine.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0));
    shine.setColorAt(0.5, QColor::fromRgbF(1, 1, 1, 0.55f));
    shine.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0));
    p.fillRect(band, shine);
    p.restore();
    p.restore();

    if (happyShown_) {
        p.setPen(QPen(Qt::white, std::max(0.042 * w, 1.0), Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawPath(happyEyes_);
    } else {
        // The blink squeezes the eyes about their centre line.
        const qreal squeeze = anims_.number(QStringLiteral("blink"), 1.0);
        const QPointF mid(b_.center().x(), b_.top() + 0.52 * h);
        p.translate(mid);
        p.scale(1, squeeze);
        p.translate(-mid);
        p.fillPath(eyes_, Qt::white);
    }
}
