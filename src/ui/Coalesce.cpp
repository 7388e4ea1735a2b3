#include "ui/Coalesce.h"

#include <cmath>

Coalescer::Coalescer(double seconds, QObject *parent) : QObject(parent)
{
    timer_.setSingleShot(true);
    timer_.setInterval(std::max(1, int(std::lround(seconds * 1000))));
    connect(&timer_, &QTimer::timeout, this, &Coalescer::intervalEnded);
}

void Coalescer::post(std::function<void()> update)
{
    if (timer_.isActive()) {
        waiting_ = std::move(update);
        return;
    }
    timer_.start();
    update();
}

void Coalescer::intervalEnded()
{
    if (!waiting_)
        return;
    std::function<void()> update = std::move(waiting_);
    waiting_ = nullptr;
    timer_.start();
    update();
}
