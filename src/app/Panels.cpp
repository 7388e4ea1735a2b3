// The delegate's panel windows and the update offer.
#include "app/AppDelegate.h"
#include "app/Sidebar.h"
#include "panels/ActivityLogWindow.h"
#include "panels/IntegrationsWindow.h"
#include "panels/LimitsPopover.h"
#include "panels/PlansWindow.h"
#include "panels/Updater.h"
#include "panels/UsageWindow.h"
#include "platform/Dispatch.h"

namespace {

void bringForward(QWidget *w)
{
    w->show();
    w->raise();
    w->activateWindow();
}

} // namespace

void AppDelegate::showUsage()
{
    if (!usagePanel_) {
        usagePanel_ = new UsageWindow(window_);
        QPointer<AppDelegate> self(this);
        usagePanel_->onPlans = [self] {
            if (self)
                self->showPlans();
        };
    } else {
        usagePanel_->reload();
    }
    bringForward(usagePanel_);
}

void AppDelegate::showPlans()
{
    if (!plansPanel_)
        plansPanel_ = new PlansWindow(window_);
    else
        plansPanel_->reload();
    bringForward(plansPanel_);
}

void AppDelegate::showIntegrations()
{
    if (!integrationsPanel_)
        integrationsPanel_ = new IntegrationsWindow(window_);
    bringForward(integrationsPanel_);
}

void AppDelegate::showActivity()
{
    if (!activityPanel_)
        activityPanel_ = new ActivityLogWindow(window_);
    else
        activityPanel_->reload();
    bringForward(activityPanel_);
}

LimitsPopover *AppDelegate::limitsPopover()
{
    if (!limitsPopover_) {
        limitsPopover_ = new LimitsPopover;
        limitsPopover_->setParent(this);
    }
    return limitsPopover_;
}

void AppDelegate::showLimits(QWidget *anchor)
{
    QPointer<AppDelegate> self(this);
    limitsPopover()->show(anchor, sidebar_ ? sidebar_->account() : std::nullopt, [self] {
        if (self)
            self->showUsage();
    });
}

void AppDelegate::scheduleUpdateCheck()
{
    QPointer<AppDelegate> self(this);
    Dispatch::after(6, [self] { Updater::checkAndOffer(self ? self->window() : nullptr); });
}
