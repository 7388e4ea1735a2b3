// The hooks that let demo and test runs drive the app without a person.
#include "app/AppDelegate.h"
#include "platform/Dispatch.h"
#include "toolserver/BrowserMCP.h"

#include <QDateTime>
#include <cstdlib>

double AppDelegate::demoRingClock()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

void AppDelegate::armExitFallback()
{
    QPointer<AppDelegate> self(this);
    Dispatch::after(2, [self] {
        if (self) {
            self->engine_.stop();
            if (self->mcp_)
                self->mcp_->stop();
        }
        std::exit(0);
    });
}

void AppDelegate::demoAction(const QString &name, const QJsonObject &args)
{
    // The demo commands come with the menus and panel actions.
    Q_UNUSED(name);
    Q_UNUSED(args);
}
