// The delegate's panel windows and the update offer.
#include "app/AppDelegate.h"
#include "app/Sidebar.h"
#include "browser/BrowserPane.h"
#include "browser/PortalLoginsWindow.h"
#include "browser/PortalSignIn.h"
#include "panels/ActivityLogWindow.h"
#include "panels/ErpWindow.h"
#include "panels/IntegrationsWindow.h"
#include "panels/LimitsPopover.h"
#include "panels/PlansWindow.h"
#include "panels/Updater.h"
#include "panels/UsageWindow.h"
#include "platform/Dispatch.h"
#include "skills/GalleryWindow.h"
#include "skills/SkillsWindow.h"

#include <QApplication>
#include <QLabel>

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

void AppDelegate::showGallery()
{
    if (!galleryPanel_) {
        galleryPanel_ = new GalleryWindow(window_);
        QPointer<AppDelegate> self(this);
        galleryPanel_->onStart = [self](const QString &prompt) {
            if (self)
                self->sessions_.startJob(prompt);
        };
    } else {
        galleryPanel_->reload();
    }
    bringForward(galleryPanel_);
}

void AppDelegate::showSkills()
{
    if (!skillsPanel_)
        skillsPanel_ = new SkillsWindow(window_);
    bringForward(skillsPanel_);
}

void AppDelegate::showPortals()
{
    if (!portalPanel_) {
        portalPanel_ = new PortalLoginsWindow(window_);
        QPointer<AppDelegate> self(this);
        portalPanel_->onSignIn = [self](const PortalLogin &login) {
            if (self)
                self->portalSignIn(login);
        };
    }
    bringForward(portalPanel_);
}

void AppDelegate::showErp()
{
    if (!erpPanel_)
        erpPanel_ = new ErpWindow(window_);
    // Brought forward, it is the active window: the app comes to the front with it.
    bringForward(erpPanel_);
}

void AppDelegate::portalSignIn(const PortalLogin &login)
{
    showBrowser();
    bringToFront();
    statusLabel_->setText(QStringLiteral("signing in \u00B7 ") + login.portal);
    QPointer<AppDelegate> self(this);
    const QString portal = login.portal;
    PortalSignIn::run(*browser_, login, [self, portal](const QString &outcome) {
        if (!self)
            return;
        QString line = QStringLiteral("login form not found");
        if (outcome == QLatin1String("captcha")) {
            line = QStringLiteral("captcha \u2014 over to you");
            if (beep)
                beep();
            else
                QApplication::beep();
        } else if (outcome == QLatin1String("submitted")) {
            line = QStringLiteral("signed in \u00B7 ") + portal;
        } else if (outcome == QLatin1String("filled")) {
            line = QStringLiteral("filled \u2014 press Login");
        }
        self->statusLabel_->setText(line);
    });
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
