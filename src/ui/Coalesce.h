#pragma once
// Keeps a burst of updates to one drawn thing (a status line, a busy mark)
// from repainting it each time: the first update runs at once, the later ones
// of the same interval collapse into the last of them, run at its end. So the
// thing changes at most once per interval and always ends showing the latest.
#include <QObject>
#include <QTimer>
#include <functional>

class Coalescer : public QObject {
    Q_OBJECT
public:
    explicit Coalescer(double seconds, QObject *parent = nullptr);

    void post(std::function<void()> update);
    // Whether an update waits for the end of the interval.
    bool pending() const { return bool(waiting_); }

private:
    void intervalEnded();

    QTimer timer_; // runs from the last update that ran
    std::function<void()> waiting_;
};
