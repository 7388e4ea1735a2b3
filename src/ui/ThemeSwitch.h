#pragma once
// The day/night switch of the main window's top bar: a 66 x 34 pill showing a
// blue day sky with clouds and a sun when off (light), a night sky with
// twinkling stars and a cratered moon when on (dark). It never changes its own
// state: a press only sends triggered(); the owner picks the theme, sets isOn
// and repaints it with apply() (or setOn()).
#include "ui/Animation.h"

#include <QColor>
#include <QPointF>
#include <QWidget>

class FrameSurface;

class ThemeSwitch : public QWidget {
    Q_OBJECT
public:
    // Keeps the frame's origin; the size is always 66 x 34.
    explicit ThemeSwitch(const QRect &frame = QRect(), QWidget *parent = nullptr);

    bool isOn() const { return on_; }
    // Sets the state only; apply() repaints.
    void setIsOn(bool on) { on_ = on; }
    // Sets the state and repaints, animated only when asked, the state really
    // changed and motion is not reduced; then tells assistive technology.
    void setOn(bool on, bool animated);
    // Paints the state of isOn(): over 0.7 s with a slight overshoot when
    // animated, else at once.
    void apply(bool animated);

    // Everything the state table sets, for one moment of the drawing.
    struct Look {
        QColor trackTop, trackBottom;
        QColor rim;
        qreal cloudsOpacity = 1, cloudsDrop = 0;   // drop: moved down by
        qreal starsOpacity = 0, starsDrop = 8;
        QPointF knob{17, 17};
        qreal knobTurn = 0;                        // degrees, counter-clockwise
        QColor faceCentre, faceMiddle, faceEdge;
        QColor halo;
        QColor knobShadow;
        qreal knobShadowOpacity = 0.7, knobShadowRadius = 7;
        qreal cratersOpacity = 0;
    };
    static Look look(bool on);
    // The look drawn now (between two states while animating).
    Look currentLook() const;
    // Keys "state" (the change between states) and "star0.twinkle" ... "star2.twinkle".
    LayerAnimation *animation(const QString &key) const { return anims_.get(key); }

signals:
    // The switch's action: the CA pressed it (mouse, keyboard or assistive technology).
    void triggered();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void twinkle();

    bool on_ = false;
    bool pressed_ = false;
    bool wasChanging_ = false;
    Look from_, to_;
    AnimationSet anims_;
    FrameSurface *surface_ = nullptr; // where the frames show
};
