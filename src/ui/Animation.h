#pragma once
// The kit's animations: each drawn property (a scale, an opacity, a position,
// colours) is driven by one keyed animation at a time, as on the marks, the
// orb and the switch. Painting reads the animated value and falls
// back to the property's own value when no animation drives it.
#include <QEasingCurve>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <QVariant>
#include <functional>

namespace Timing {
QEasingCurve linear();
// The standard ease-in-ease-out curve: control points (0.42, 0) and (0.58, 1).
QEasingCurve easeInEaseOut();
// A cubic curve from (0, 0) to (1, 1) with the given control points; y may
// leave 0..1 for an overshoot.
QEasingCurve cubic(qreal x1, qreal y1, qreal x2, qreal y2);
} // namespace Timing

// One animation of one property. With two values it runs from the first to the
// second; with more, through them as key frames at keyTimes (evenly spread when
// empty). It may reverse itself, repeat without end, begin after a delay, and
// sit in a longer cycle (a group whose duration exceeds the animation's: for the
// rest of each cycle the property shows its own value). Its clock starts when
// a set takes it; the set decides when it is looked at again.
class LayerAnimation : public QObject {
    Q_OBJECT
public:
    explicit LayerAnimation(QObject *parent = nullptr) : QObject(parent) {}

    // An endless animation from one value to another, kept until removed.
    static LayerAnimation *loop(const QString &keyPath, const QVariant &from, const QVariant &to, double seconds,
                                bool autoreverses, const QEasingCurve &timing = Timing::linear());

    QString keyPath;              // the property, for example "transform.scale"
    QVariantList values;          // numbers, colours, points, or lists of them
    QList<qreal> keyTimes;
    double seconds = 0.25;        // one way
    double cycle = 0;             // seconds; 0: the animation's own length
    double beginDelay = 0;        // seconds after it starts
    bool autoreverses = false;
    bool repeatsForever = false;
    bool removedOnCompletion = true;
    QEasingCurve timing = Timing::linear();
    // The smallest change of a number (or of each coordinate of a point) that
    // shows once drawn; 0: every change shows. Colours show in 8-bit steps.
    double step = 0;

    // The value to draw now; invalid while the animation does not drive its
    // property (before it begins, or in the rest of a cycle).
    QVariant value() const;
    // The value at a time in seconds from its start.
    QVariant valueAt(double t) const;
    // The value at t as it shows once drawn: numbers in steps of `step`,
    // colours in 8-bit channels.
    QVariant shownAt(double t) const;

    // Milliseconds from start to end; -1 when it repeats forever.
    int duration() const;
    // Seconds since the set started it.
    double elapsed() const;
    bool finishedAt(double t) const { return !repeatsForever && t * 1000.0 >= duration(); }
    // The first time after t, on a grid of frames of `frame` seconds, at which
    // what is drawn differs from what is drawn at t; rests between cycles
    // and before the beginning are skipped at once. Looks ahead at most
    // `horizon` seconds and answers the end of that look when nothing changes
    // in it; infinity once it has finished.
    double nextChange(double t, double frame, double horizon = 1.0) const;

private:
    friend class AnimationSet;
    void start();
    qint64 startedNs_ = -1;
    double activeLength() const { return autoreverses ? 2 * seconds : seconds; }
    double cycleLength() const { return cycle > 0 ? cycle : activeLength(); }
};

// Straight-line blend of two values of the kinds LayerAnimation carries.
QVariant blend(const QVariant &a, const QVariant &b, double t);

// The keyed animations of one drawn object. Adding under a key first removes
// the animation under that key, so an animation is never doubled; an animation
// that ends is dropped when it is removed on completion. `changed` runs on
// every add or remove and whenever what the animations draw has changed (the
// owner repaints). The set wakes only for that: at the frames where a value
// changes by a step that shows, at no more than the display's rate, not at all
// while every animation rests between cycles, and never while its owner (when
// a widget) is hidden or its window minimised, apart from ending the
// animations that end meanwhile.
class AnimationSet : public QObject {
    Q_OBJECT
public:
    explicit AnimationSet(QObject *owner, std::function<void()> changed);
    ~AnimationSet() override;
    AnimationSet(const AnimationSet &) = delete;
    AnimationSet &operator=(const AnimationSet &) = delete;

    // Takes the animation, replaces the one under key and starts it.
    LayerAnimation *add(const QString &key, LayerAnimation *animation);
    void remove(const QString &key);
    // Removes every animation whose key starts with prefix (all when empty).
    void removeAll(const QString &prefix = {});
    LayerAnimation *get(const QString &key) const { return map_.value(key); }
    QStringList keys() const { return map_.keys(); }

    // The animated value under key, else own.
    double number(const QString &key, double own) const;
    QVariant value(const QString &key, const QVariant &own) const;

    // How many times the set has woken its owner for a frame (for checks).
    int frames() const { return frames_; }
    // Whether the owner is where frames would be seen.
    bool ownerShown() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void tick();
    void schedule();
    void watchWindow();
    double frameSeconds() const;

    QObject *owner_;
    std::function<void()> changed_;
    QHash<QString, LayerAnimation *> map_;
    QTimer *timer_;
    QObject *watchedWindow_ = nullptr;
    int frames_ = 0;
};
