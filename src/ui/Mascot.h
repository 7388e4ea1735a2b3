#pragma once
// Pavi, the assistant's mark: a small blue drop with two white capsule eyes.
// MascotShape holds the drop's geometry and colours once for every drawing of
// it; PaviMarkView is the animated mark of the top bar, the chat header, the
// theme reveal and the sign-in window.
#include "ui/Animation.h"

#include <QColor>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QWidget>

class FrameSurface;
class QGraphicsDropShadowEffect;

namespace MascotShape {

// The drop's outline in a 100 by 100 box, y pointing down.
inline const QString svgPath =
    QStringLiteral("M50 11C63 11 87 45 87 62C87 80 70 91 50 91C30 91 13 80 13 62C13 45 37 11 50 11Z");
// The body's gradient, tip to bottom: #4E75F2 and #2340B8.
QColor top();
QColor bottom();

// The shapes placed in a rectangle (the 100 box scaled into it).
QPainterPath body(const QRectF &rect);
QPainterPath eyes(const QRectF &rect);      // two capsules
QPainterPath happyEyes(const QRectF &rect); // two small open arches

} // namespace MascotShape

// The animated mark. It breathes, blinks, sweeps a shine across its body, can
// cycle its hue, dims while idle, shows happy eyes for a moment and glows. Its
// geometry comes from the frame it is made with (make it at its final size);
// clicks pass through it to the views beneath. Every animation honours the
// desktop's reduce-motion setting and follows its changes at once.
class PaviMarkView : public QWidget {
    Q_OBJECT
public:
    explicit PaviMarkView(const QRect &frame, QWidget *parent = nullptr);
    ~PaviMarkView() override;

    bool busy() const { return busy_; }
    void setBusy(bool busy);
    bool dimsWhenIdle() const { return dimsWhenIdle_; }
    void setDimsWhenIdle(bool dims);
    bool hueCycle() const { return hueCycle_; }
    void setHueCycle(bool cycle);
    bool breathes() const { return breathes_; }
    void setBreathes(bool breathes);

    // Happy eyes for that long; a later call extends the look.
    void happy(double seconds = 1.4);
    // One glow pulse in the colour of the scheme being switched to.
    void glow(bool toDark, double seconds = 1.3);
    // A lasting blue glow, on or off.
    void setSteadyGlow(bool on);

    // What is drawn, for checks: the running animations by key ("breathe",
    // "blink", "shine", "hue", "glow"), the view's alpha, which eyes show, and
    // the glow's shadow.
    LayerAnimation *animation(const QString &key) const { return anims_.get(key); }
    int frames() const { return anims_.frames(); }
    qreal alphaValue() const { return alpha_; }
    bool happyEyesShown() const { return happyShown_; }
    QColor shadowColor() const { return shadowColor_; }
    qreal shadowOpacity() const { return shadowOpacity_; }
    qreal shadowRadius() const { return shadowRadius_; }
    QPointF shadowOffset() const { return shadowOffset_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void startLoops();
    void breathe();
    void dim();
    void cycleHue();
    void syncGlow();

    QRectF b_;
    QPainterPath body_, eyes_, happyEyes_;
    AnimationSet anims_;
    QGraphicsDropShadowEffect *glowEffect_ = nullptr;
    FrameSurface *surface_ = nullptr; // where the frames show
    qint64 happyUntil_ = 0;
    bool happyShown_ = false;
    bool busy_ = false;
    bool dimsWhenIdle_ = false;
    bool hueCycle_ = false;
    bool breathes_ = true;
    qreal alpha_ = 1.0;
    QColor shadowColor_ = Qt::black;
    qreal shadowOpacity_ = 0;
    qreal shadowRadius_ = 4;
    QPointF shadowOffset_;
};
