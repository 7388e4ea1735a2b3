#pragma once
// The two signs that something is in progress: the orb (two open rings round a
// dot that spin and pulse while busy and rest faint otherwise) and the
// animated Pavi in the application's window icon while the engine works.
#include "ui/Animation.h"

#include <QColor>
#include <QPointF>
#include <QWidget>

class QPainter;

class FrameSurface;

class OrbView : public QWidget {
    Q_OBJECT
public:
    // Built for that frame, coloured and at rest; the geometry is not rebuilt
    // when the orb is resized.
    explicit OrbView(const QRect &frame, QWidget *parent = nullptr);

    bool busy() const { return busy_; }
    // true spins the rings and pulses the dot (holds them still and strong
    // when motion is reduced); false returns to rest.
    void setBusy(bool busy);
    // Recolours the rings and the dot from Theme::royal (after a theme change).
    void retint();

    // The drawing, for checks.
    struct Geometry {
        QPointF centre;
        qreal r = 0;
        qreal ringRadius = 0, ringWidth = 0;
        qreal ring2Radius = 0, ring2Width = 0;
        qreal coreRadius = 0;
    };
    const Geometry &geometry() const { return g_; }
    // Keys "ring.spin", "ring2.spin", "core.pulse".
    LayerAnimation *animation(const QString &key) const { return anims_.get(key); }
    qreal ringOpacity() const { return ringOpacity_; }
    qreal ring2Opacity() const { return ring2Opacity_; }
    qreal coreOpacity() const { return coreOpacity_; }
    QColor ringColor() const { return ringColor_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void rest();
    void startMotion();
    void spin(const QString &layer, double period, bool reversed);

    Geometry g_;
    AnimationSet anims_;
    FrameSurface *surface_ = nullptr; // where the frames show
    bool busy_ = false;
    QColor ringColor_, ring2Color_, coreColor_;
    qreal ringOpacity_ = 0.22, ring2Opacity_ = 0.16, coreOpacity_ = 0.3;
};

// One frame of the working Pavi on its dark tile; the frame is chosen by tick
// (12 a second): it breathes over 2.2 s and blinks every 62 ticks.
class DockMarkView : public QWidget {
    Q_OBJECT
public:
    explicit DockMarkView(const QRect &frame = QRect(0, 0, 128, 128), QWidget *parent = nullptr);
    int tick = 0;
    // Draws the frame of tick into a square of side s at the painter's origin.
    static void drawFrame(QPainter &painter, qreal s, int tick, bool reduceMotion);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The application's window icon shows the working Pavi while busy (12 frames a
// second) and the normal icon again when idle. The phase carries on from where
// it stopped at the next start.
namespace DockMascot {
bool busy();
void setBusy(bool busy);
// The tile's drawing (made on first use; lives for the rest of the process).
DockMarkView *view();
} // namespace DockMascot
