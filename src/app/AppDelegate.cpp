#include "app/AppDelegate.h"
#include "browser/BrowserPane.h"
#include "platform/Appearance.h"
#include "ui/Theme.h"

#include <QMainWindow>
#include <QPointer>

AppDelegate::AppDelegate() = default;
AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    Theme::registerBundledFonts();
    window_ = std::make_unique<QMainWindow>();
    window_->setWindowTitle(QStringLiteral("Velto"));
    window_->resize(1280, 820);
    // The portal browser fills the window until the full main window with
    // its chat view arrives.
    browser_ = new BrowserPane(QRect(QPoint(0, 0), window_->size()));
    window_->setCentralWidget(browser_);
    auto repaint = [pane = QPointer<BrowserPane>(browser_)] {
        if (pane)
            pane->repaint();
    };
    connect(ThemeBroadcast::shared(), &ThemeBroadcast::veltoThemeDidChange, this, repaint);
    connect(Appearance::shared(), &Appearance::colorSchemeChanged, this, repaint);
    window_->show();
}

void AppDelegate::applicationWillTerminate()
{
}
