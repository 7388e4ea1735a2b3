#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <cmath>

namespace Dispatch {

void onMain(std::function<void()> fn)
{
    auto *app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

int scaledMs(double seconds)
{
    double ms = seconds * timeScale * 1000.0;
    if (!(ms > 0))
        return 0;
    return int(std::lround(std::min(ms, 2.0e9)));
}

void after(double seconds, std::function<void()> fn)
{
    const int ms = scaledMs(seconds);
    auto *app = QCoreApplication::instance();
    if (!app)
        return;
    // The timer must be made on the GUI thread to fire there.
    auto arm = [ms, app, fn = std::move(fn)]() mutable {
        QTimer::singleShot(ms, app, std::move(fn));
    };
    if (isMainThread())
        arm();
    else
        QMetaObject::invokeMethod(app, std::move(arm), Qt::QueuedConnection);
}

void runInBackground(std::function<void()> fn)
{
    QThreadPool::globalInstance()->start(std::move(fn));
}

bool isMainThread()
{
    auto *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace Dispatch
