#pragma once
// The circular reveal of a theme change: a picture of the window in the old
// theme laid over the window's content, with a circular hole that grows from
// the theme switch until the new theme shows everywhere, and a soft glow and a
// thin ring bursting from the switch. The cover never hides the switch itself
// (a rounded rectangle around it is cut out), so the switch's own animation
// shows through. Mouse events pass through to the live window underneath.
//
// The hole opens in 1.1 s, the glow lives 1.1 s and the ring 1.0 s, through
// the shrinkable time scale. finished() is sent once, when the last of them
// ends; the owner removes the cover then.
#include <QColor>
#include <QEasingCurve>
#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QWidget>

class QVariantAnimation;

class RevealOverlay : public QWidget {
    Q_OBJECT
public:
    static constexpr double holeSeconds = 1.1;
    static constexpr double glowSeconds = 1.1;
    static constexpr double ringSeconds = 1.0;

    // Covers the whole of parent. centre: the switch's centre and switchFrame
    // its frame, both in parent coordinates. toDark: the look being revealed.
    RevealOverlay(QWidget *parent, const QImage &picture, QPointF centre, const QRectF &switchFrame, bool toDark);
    ~RevealOverlay() override;

    // Runs the animation from its start.
    void start();
    // Shows the moment `seconds` after the start (unscaled), without running.
    void showMoment(double seconds);
    double moment() const { return moment_; }
    bool toDark() const { return toDark_; }

    // The curve of the hole, the glow's growth and the ring's growth: a cubic
    // with control points (0.22, 1.0) and (0.36, 1.0), easing out.
    static QEasingCurve curve();
    // The hole's final radius: the distance from centre to the farthest corner
    // of a box of the given size, plus 8.
    static qreal finalRadius(const QSizeF &size, QPointF centre);
    // The hole's radius at a moment (0.5 at the start).
    qreal holeRadius(double seconds) const;
    // What of the cover still shows at a moment: the box grown by 4 with the
    // hole and the switch's cut-out taken away.
    QPainterPath coverPath(double seconds) const;

    // The glow's opacity and scale, the ring's opacity and scale at a moment.
    static qreal glowOpacity(double seconds);
    static qreal glowScale(double seconds);
    static qreal ringOpacity(double seconds);
    static qreal ringScale(double seconds);

signals:
    void finished();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage picture_;
    QPointF centre_;
    QRectF switchFrame_;
    bool toDark_;
    double moment_ = 0;
    QVariantAnimation *anim_ = nullptr;
};
