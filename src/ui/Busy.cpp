#include "ui/Busy.h"
#include "ui/FrameSurface.h"
#include "ui/Mascot.h"
#include "ui/Theme.h"
#include "platform/Appearance.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QRadialGradient>
#include <QTimer>
#include <cmath>

// --- the orb -------------------------------------------------------------------

OrbView::OrbView(const QRect &frame, QWidget *parent)
    : QWidget(parent), anims_(this, [this] {
          if (!surface_ || !surface_->present())
              update();
      })
{
    setGeometry(frame);
    surface_ = new FrameSurface(this);
    const QRectF b(0, 0, frame.width(), frame.height());
    g_.centre = b.center();
    g_.r = std::min(b.width(), b.height()) / 2;
    g_.ringRadius = g_.r - 1;
    g_.ringWidth = std::max(0.1 * g_.r, 1.3);
    g_.ring2Radius = g_.r - std::max(0.3 * g_.r, 3.0);
    g_.ring2Width = std::max(0.08 * g_.r, 1.1);
    g_.coreRadius = std::max(0.18 * g_.r, 2.0);
    retint();
    rest();
    connect(Appearance::shared(), &Appearance::reduceMotionChanged, this, [this] {
        startMotion();
        update();
    });
}

void OrbView::retint()
{
    const QColor royal = Theme::royal();
    ringColor_ = royal;
    ringColor_.setAlphaF(0.95f);
    ring2Color_ = royal;
    ring2Color_.setAlphaF(0.55f);
    coreColor_ = royal;
    update();
}

void OrbView::rest()
{
    anims_.removeAll();
    ringOpacity_ = 0.22;
    ring2Opacity_ = 0.16;
    coreOpacity_ = 0.3;
    update();
}

void OrbView::spin(const QString &layer, double period, bool reversed)
{
    auto *a = LayerAnimation::loop(QStringLiteral("transform.rotation.z"), 0.0, reversed ? -2 * M_PI : 2 * M_PI,
                                   period, false);
    a->step = 0.25 / std::max(g_.r, 1.0); // radians that move the rim a quarter pixel
    anims_.add(layer + QStringLiteral(".spin"), a);
}

void OrbView::setBusy(bool busy)
{
    if (busy == busy_)
        return;
    busy_ = busy;
    if (!busy) {
        rest();
        return;
    }
    ringOpacity_ = ring2Opacity_ = coreOpacity_ = 1;
    startMotion();
    update();
}

// Busy with reduced motion: the orb shows busy at full strength and keeps
// still; the motion starts or stops when the setting changes.
void OrbView::startMotion()
{
    anims_.removeAll();
    if (!busy_ || Theme::reduceMotion())
        return;
    spin(QStringLiteral("ring"), 1.5, false);
    spin(QStringLiteral("ring2"), 2.4, true);
    auto *pulse = LayerAnimation::loop(QStringLiteral("opacity"), 0.35, 1.0, 0.85, true);
    pulse->step = 1.0 / 128;
    anims_.add(QStringLiteral("core.pulse"), pulse);
}

void OrbView::paintEvent(QPaintEvent *)
{
    if (surface_ && surface_->drawingBackdrop())
        return;
    if (surface_)
        surface_->viewPainted();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c = g_.centre;

    // An open arc; angles counter-clockwise on screen, turned by the spin
    // (a positive turn is counter-clockwise too).
    auto ring = [&](const QString &layer, qreal radius, qreal width, qreal startDeg, qreal sweepDeg,
                    const QColor &color, qreal opacity) {
        const qreal turn = anims_.number(layer + QStringLiteral(".spin"), 0.0) * 180.0 / M_PI;
        p.save();
        p.setOpacity(opacity);
        p.translate(c);
        p.rotate(-turn);
        QPainterPath arc;
        const QRectF box(-radius, -radius, 2 * radius, 2 * radius);
        arc.arcMoveTo(box, startDeg);
        arc.arcTo(box, startDeg, sweepDeg);
        p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawPath(arc);
        p.restore();
    };
    ring(QStringLiteral("ring"), g_.ringRadius, g_.ringWidth, 0, 243, ringColor_, ringOpacity_);
    ring(QStringLiteral("ring2"), g_.ring2Radius, g_.ring2Width, 180, 198, ring2Color_, ring2Opacity_);

    p.setOpacity(anims_.number(QStringLiteral("core.pulse"), coreOpacity_));
    p.setPen(Qt::NoPen);
    p.setBrush(coreColor_);
    p.drawEllipse(c, g_.coreRadius, g_.coreRadius);
}

// --- the working Pavi in the window icon ------------------------------------------

DockMarkView::DockMarkView(const QRect &frame, QWidget *parent) : QWidget(parent)
{
    setGeometry(frame);
}

void DockMarkView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    drawFrame(p, std::min(width(), height()), tick, Theme::reduceMotion());
}

void DockMarkView::drawFrame(QPainter &p, qreal s, int tick, bool reduceMotion)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);

    // The tile: a rounded square, deep blue at the top to near black at the
    // bottom, with a soft blue glow in the middle.
    const qreal m = 0.055 * s, t = s - 2 * m;
    QPainterPath tile;
    tile.addRoundedRect(QRectF(m, m, t, t), 0.225 * t, 0.225 * t);
    p.save();
    p.setClipPath(tile);
    QLinearGradient deep(0, 0, 0, s);
    deep.setColorAt(0, Theme::hex(0x101840));
    deep.setColorAt(1, Theme::hex(0x05060B));
    p.fillRect(QRectF(0, 0, s, s), deep);
    QRadialGradient glow(QPointF(0.5 * s, 0.54 * s), 0.46 * s);
    glow.setColorAt(0, Theme::hex(0x3257E0, 0.38));
    glow.setColorAt(1, Theme::hex(0x3257E0, 0));
    glow.setSpread(QGradient::PadSpread);
    QPainterPath glowDisc;
    glowDisc.addEllipse(QPointF(0.5 * s, 0.54 * s), 0.46 * s, 0.46 * s);
    p.fillPath(glowDisc, glow);
    p.restore();

    // Breath and blink.
    const qreal k = reduceMotion ? 1.0 : 1 + 0.055 * std::sin(2 * M_PI * tick / 26.4);
    const int phase = tick % 62;
    const bool shut = phase == 60 || phase == 61;

    const qreal d = 0.58 * s * k;
    const qreal o = (s - d) / 2;
    const QRectF body(o, o, d, d);
    p.save();
    p.setClipPath(MascotShape::body(body));
    QLinearGradient fill(body.center().x(), body.top() + 0.11 * d, body.center().x(), body.top() + 0.91 * d);
    fill.setColorAt(0, Theme::hex(0x4E75F2));
    fill.setColorAt(1, Theme::hex(0x2340B8));
    p.fillRect(body, fill);
    const QPointF hc(body.left() + 0.32 * d, body.top() + 0.26 * d);
    QRadialGradient highlight(hc, 0.42 * d);
    highlight.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.65f));
    highlight.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0));
    QPainterPath disc;
    disc.addEllipse(hc, 0.42 * d, 0.42 * d);
    p.fillPath(disc, highlight);
    p.restore();

    p.setBrush(Qt::white);
    for (qreal x0 : {0.355, 0.555}) {
        const qreal w = 0.09 * d;
        const qreal h = 0.16 * d * (shut ? 0.12 : 1.0);
        const qreal cy = body.top() + 0.52 * d;
        const QRectF eye(body.left() + x0 * d, cy - h / 2, w, h);
        const qreal r = std::min(w, h) / 2;
        p.drawRoundedRect(eye, r, r);
    }
    p.restore();
}

namespace DockMascot {

namespace {
struct State {
    bool busy = false;
    QPointer<QTimer> timer;
    QIcon normalIcon;
};
State &state()
{
    static State s;
    return s;
}

void show()
{
    DockMarkView *v = view();
    QPixmap pm(v->size());
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    DockMarkView::drawFrame(p, std::min(pm.width(), pm.height()), v->tick, Theme::reduceMotion());
    p.end();
    QGuiApplication::setWindowIcon(QIcon(pm));
}
} // namespace

DockMarkView *view()
{
    static QPointer<DockMarkView> v;
    if (!v)
        v = new DockMarkView(QRect(0, 0, 128, 128));
    return v;
}

bool busy()
{
    return state().busy;
}

static void stopTimer()
{
    State &s = state();
    if (s.timer) {
        s.timer->stop();
        s.timer->deleteLater();
    }
    s.timer = nullptr;
}

// The frames run only while busy and motion is not reduced; with reduced
// motion the working mark stands still.
static void startTimer()
{
    State &s = state();
    if (s.timer || Theme::reduceMotion())
        return;
    auto *timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(1000 / 12);
    QObject::connect(timer, &QTimer::timeout, [] {
        DockMarkView *v = view();
        ++v->tick;
        v->update();
        show();
    });
    timer->start();
    s.timer = timer;
}

void setBusy(bool busy)
{
    State &s = state();
    if (busy == s.busy)
        return;
    s.busy = busy;
    static const bool watching = [] {
        QObject::connect(Appearance::shared(), &Appearance::reduceMotionChanged, QCoreApplication::instance(), [] {
            if (!state().busy)
                return;
            if (Theme::reduceMotion())
                stopTimer();
            else
                startTimer();
            show();
        });
        return true;
    }();
    Q_UNUSED(watching);
    if (busy) {
        s.normalIcon = QGuiApplication::windowIcon();
        startTimer();
        show();
    } else {
        stopTimer();
        QGuiApplication::setWindowIcon(s.normalIcon);
    }
}

} // namespace DockMascot
