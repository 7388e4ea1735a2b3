#include "ui/ThemeSwitch.h"
#include "ui/FrameSurface.h"
#include "ui/Theme.h"
#include "platform/Appearance.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

constexpr qreal kWidth = 66, kHeight = 34, kKnob = 26;

qreal lerp(qreal a, qreal b, qreal t)
{
    return a + (b - a) * t;
}

QColor mix(const QColor &a, const QColor &b, qreal t)
{
    return blend(a, b, t).value<QColor>();
}

ThemeSwitch::Look between(const ThemeSwitch::Look &a, const ThemeSwitch::Look &b, qreal t)
{
    ThemeSwitch::Look l;
    l.trackTop = mix(a.trackTop, b.trackTop, t);
    l.trackBottom = mix(a.trackBottom, b.trackBottom, t);
    l.rim = mix(a.rim, b.rim, t);
    l.cloudsOpacity = lerp(a.cloudsOpacity, b.cloudsOpacity, t);
    l.cloudsDrop = lerp(a.cloudsDrop, b.cloudsDrop, t);
    l.starsOpacity = lerp(a.starsOpacity, b.starsOpacity, t);
    l.starsDrop = lerp(a.starsDrop, b.starsDrop, t);
    l.knob = a.knob + (b.knob - a.knob) * t;
    l.knobTurn = lerp(a.knobTurn, b.knobTurn, t);
    l.faceCentre = mix(a.faceCentre, b.faceCentre, t);
    l.faceMiddle = mix(a.faceMiddle, b.faceMiddle, t);
    l.faceEdge = mix(a.faceEdge, b.faceEdge, t);
    l.halo = mix(a.halo, b.halo, t);
    l.knobShadow = mix(a.knobShadow, b.knobShadow, t);
    l.knobShadowOpacity = lerp(a.knobShadowOpacity, b.knobShadowOpacity, t);
    l.knobShadowRadius = lerp(a.knobShadowRadius, b.knobShadowRadius, t);
    l.cratersOpacity = lerp(a.cratersOpacity, b.cratersOpacity, t);
    return l;
}

qreal unit(qreal v)
{
    return std::clamp<qreal>(v, 0, 1);
}

void pill(QPainter &p, const QRectF &r, const QColor &c)
{
    p.setBrush(c);
    p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
}

// The switch as assistive technology sees it: a check box acting as a switch,
// labelled "Dark mode", valued 1 at night and 0 by day, pressable.
class ThemeSwitchAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ThemeSwitchAccessible(QWidget *w) : QAccessibleWidget(w, QAccessible::CheckBox) {}

    ThemeSwitch *control() const { return static_cast<ThemeSwitch *>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return QStringLiteral("Dark mode");
        if (t == QAccessible::Value)
            return control()->isOn() ? QStringLiteral("1") : QStringLiteral("0");
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = control()->isOn();
        return s;
    }
    QStringList actionNames() const override { return {pressAction(), toggleAction()}; }
    void doAction(const QString &name) override
    {
        if (name == pressAction() || name == toggleAction())
            emit control()->triggered();
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QVariant currentValue() const override { return control()->isOn() ? 1 : 0; }
    void setCurrentValue(const QVariant &) override {}
    QVariant maximumValue() const override { return 1; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }
};

QAccessibleInterface *switchAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("ThemeSwitch") && object && object->isWidgetType())
        return new ThemeSwitchAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

namespace {
// Where the stars and their glow are drawn in the night state.
const QRect kStarsArea(8, 5, 31, 22);
} // namespace

ThemeSwitch::ThemeSwitch(const QRect &frame, QWidget *parent)
    : QWidget(parent), anims_(this, [this] {
          // The twinkle repaints the stars alone; a change of state, to its
          // last frame, the whole switch.
          const bool changing = anims_.get(QStringLiteral("state")) != nullptr;
          if (surface_ && surface_->present()) {
          } else if (changing || wasChanging_) {
              update();
          } else {
              update(kStarsArea);
          }
          wasChanging_ = changing;
      })
{
    static const bool factory = [] {
        QAccessible::installFactory(switchAccessible);
        return true;
    }();
    Q_UNUSED(factory);

    setGeometry(QRect(frame.topLeft(), QSize(int(kWidth), int(kHeight))));
    setFixedSize(int(kWidth), int(kHeight));
    setToolTip(QStringLiteral("Light or dark"));
    setAccessibleName(QStringLiteral("Dark mode"));
    // Reached with the keyboard (Tab), not focused by a click.
    setFocusPolicy(Qt::TabFocus);
    surface_ = new FrameSurface(this);
    apply(false);
    connect(Appearance::shared(), &Appearance::reduceMotionChanged, this, &ThemeSwitch::twinkle);
}

ThemeSwitch::Look ThemeSwitch::look(bool on)
{
    using Theme::hex;
    Look l;
    if (!on) {
        l.trackTop = hex(0x7DB6F0);
        l.trackBottom = hex(0x4E8FDB);
        l.rim = hex(0x000000, 0.1);
        l.cloudsOpacity = 1;
        l.cloudsDrop = 0;
        l.starsOpacity = 0;
        l.starsDrop = 8;
        l.knob = {17, 17};
        l.knobTurn = 0;
        l.faceCentre = hex(0xFFF3A8);
        l.faceMiddle = hex(0xF7C83A);
        l.faceEdge = hex(0xE6A417);
        l.halo = hex(0xFFD65A, 0.35);
        l.knobShadow = hex(0xFFD65A);
        l.knobShadowOpacity = 0.7;
        l.knobShadowRadius = 7;
        l.cratersOpacity = 0;
    } else {
        l.trackTop = hex(0x0B1230);
        l.trackBottom = hex(0x1A2350);
        l.rim = hex(0xFFFFFF, 0.08);
        l.cloudsOpacity = 0;
        l.cloudsDrop = 14;
        l.starsOpacity = 1;
        l.starsDrop = 0;
        l.knob = {49, 17};
        l.knobTurn = 30;
        l.faceCentre = hex(0xFFFFFF);
        l.faceMiddle = hex(0xE9ECF5);
        l.faceEdge = hex(0xC9CFDF);
        l.halo = hex(0xDCE4FF, 0.12);
        l.knobShadow = hex(0xC8D6FF);
        l.knobShadowOpacity = 0.55;
        l.knobShadowRadius = 8;
        l.cratersOpacity = 1;
    }
    return l;
}

ThemeSwitch::Look ThemeSwitch::currentLook() const
{
    if (LayerAnimation *a = anims_.get(QStringLiteral("state"))) {
        const QVariant t = a->value();
        if (t.isValid())
            return between(from_, to_, t.toDouble());
    }
    return to_;
}

void ThemeSwitch::setOn(bool on, bool animated)
{
    const bool changed = on != on_;
    on_ = on;
    apply(animated && changed && !Theme::reduceMotion());
    QAccessibleValueChangeEvent value(this, on ? 1 : 0);
    QAccessible::updateAccessibility(&value);
    QAccessible::State checked;
    checked.checked = true;
    QAccessibleStateChangeEvent state(this, checked);
    QAccessible::updateAccessibility(&state);
}

void ThemeSwitch::apply(bool animated)
{
    const Look target = look(on_);
    if (animated) {
        from_ = currentLook();
        to_ = target;
        // Backs off a little, then overshoots before it settles.
        auto *a = new LayerAnimation;
        a->keyPath = QStringLiteral("state");
        a->values = {0.0, 1.0};
        a->seconds = 0.7;
        a->timing = Timing::cubic(0.68, -0.3, 0.27, 1.3);
        anims_.add(QStringLiteral("state"), a);
    } else {
        anims_.remove(QStringLiteral("state"));
        from_ = to_ = target;
    }
    update();
    twinkle();
}

void ThemeSwitch::twinkle()
{
    static const double delays[3] = {0, 0.8, 1.5};
    for (int i = 0; i < 3; ++i) {
        const QString key = QStringLiteral("star%1.twinkle").arg(i);
        anims_.remove(key);
        if (!on_ || Theme::reduceMotion())
            continue;
        auto *a = LayerAnimation::loop(QStringLiteral("opacity"), 1.0, 0.35, 1.3, true, Timing::easeInEaseOut());
        a->step = 1.0 / 32; // a two-pixel star shows no finer shades
        a->beginDelay = delays[i % 3];
        anims_.add(key, a);
    }
}

void ThemeSwitch::paintEvent(QPaintEvent *)
{
    if (surface_ && surface_->drawingBackdrop())
        return;
    if (surface_)
        surface_->viewPainted();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const Look l = currentLook();
    const QRectF bounds(0, 0, kWidth, kHeight);
    QPainterPath track;
    track.addRoundedRect(bounds, 17, 17);

    // The sky, clipped to the pill.
    p.save();
    p.setClipPath(track);
    QLinearGradient sky(0, 0, 0, kHeight);
    sky.setColorAt(0, l.trackTop);
    sky.setColorAt(1, l.trackBottom);
    p.fillRect(bounds, sky);

    p.save();
    p.setOpacity(unit(l.cloudsOpacity));
    p.translate(0, l.cloudsDrop);
    pill(p, QRectF(30, 14, 24, 11), Qt::white);
    pill(p, QRectF(42, 14, 22, 9), Theme::hex(0xF2F7FF));
    pill(p, QRectF(37, 18, 22, 9), Qt::white);
    QPainterPath far;
    far.addRoundedRect(QRectF(30, 6, 14, 6), 3, 3);
    far.addRoundedRect(QRectF(26, 8, 14, 6), 3, 3);
    p.setOpacity(unit(l.cloudsOpacity) * 0.85);
    p.fillPath(far.simplified(), Qt::white);
    p.restore();

    p.save();
    p.translate(0, l.starsDrop);
    static const QRectF stars[3] = {QRectF(12, 9, 2, 2), QRectF(22, 20, 1.5, 1.5), QRectF(32, 11, 2, 2)};
    for (int i = 0; i < 3; ++i) {
        const qreal twinkle = anims_.number(QStringLiteral("star%1.twinkle").arg(i), 1.0);
        p.setOpacity(unit(l.starsOpacity) * unit(twinkle));
        const QPointF c = stars[i].center();
        const qreal r = stars[i].width() / 2;
        QRadialGradient glow(c, r + 2);
        glow.setColorAt(0, Qt::white);
        glow.setColorAt(r / (r + 2), QColor::fromRgbF(1, 1, 1, 0.6f));
        glow.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0));
        p.setBrush(glow);
        p.drawEllipse(c, r + 2, r + 2);
        pill(p, stars[i], Qt::white);
    }
    p.restore();
    p.restore();

    // The rim above the sky.
    p.setOpacity(1);
    p.setPen(QPen(l.rim, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), 16.5, 16.5);
    p.setPen(Qt::NoPen);

    // The knob: its soft glow, the halo, the sun or moon face and the craters,
    // all turning with it.
    const qreal half = kKnob / 2;
    const qreal reach = half + l.knobShadowRadius;
    QColor shade = l.knobShadow;
    shade.setAlphaF(float(unit(l.knobShadowOpacity)));
    QColor shadeHalf = shade;
    shadeHalf.setAlphaF(shade.alphaF() / 2);
    QColor clear = shade;
    clear.setAlphaF(0);
    QRadialGradient glow(l.knob, reach);
    glow.setColorAt(std::max<qreal>(0, (half - l.knobShadowRadius) / reach), shade);
    glow.setColorAt(half / reach, shadeHalf);
    glow.setColorAt(1, clear);
    p.setBrush(glow);
    p.drawEllipse(l.knob, reach, reach);

    p.save();
    p.translate(l.knob);
    p.rotate(-l.knobTurn);
    p.setBrush(l.halo);
    p.drawEllipse(QPointF(0, 0), half + 3, half + 3);
    p.translate(-half, -half);
    QPainterPath disc;
    disc.addEllipse(QRectF(0, 0, kKnob, kKnob));
    p.setClipPath(disc);
    QRadialGradient face(QPointF(0.35 * kKnob, 0.3 * kKnob), 0.7 * kKnob);
    face.setColorAt(0, l.faceCentre);
    face.setColorAt(0.6, l.faceMiddle);
    face.setColorAt(1, l.faceEdge);
    p.fillRect(QRectF(0, 0, kKnob, kKnob), face);
    p.setOpacity(unit(l.cratersOpacity));
    const QColor crater = QColor::fromRgbF(150 / 255.f, 160 / 255.f, 190 / 255.f, 0.55f);
    p.setBrush(crater);
    p.drawEllipse(QRectF(6, 12, 7, 7));
    p.drawEllipse(QRectF(14, 6, 4, 4));
    p.drawEllipse(QRectF(16, 17, 3, 3));
    p.restore();

    if (hasFocus()) {
        p.setOpacity(1);
        p.setPen(QPen(Theme::royal(), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(bounds.adjusted(1, 1, -1, -1), 16, 16);
    }
}

void ThemeSwitch::mousePressEvent(QMouseEvent *event)
{
    pressed_ = event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    event->accept();
}

void ThemeSwitch::mouseReleaseEvent(QMouseEvent *event)
{
    const bool inside = rect().contains(event->position().toPoint());
    const bool send = pressed_ && inside && event->button() == Qt::LeftButton;
    pressed_ = false;
    event->accept();
    if (send)
        emit triggered();
}

void ThemeSwitch::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return) {
        event->accept();
        emit triggered();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ThemeSwitch::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    update();
}

void ThemeSwitch::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
}
