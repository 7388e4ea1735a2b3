#include "app/AppDelegate.h"
#include "ui/Theme.h"

#include <QMainWindow>

AppDelegate::AppDelegate() = default;
AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    Theme::registerBundledFonts();
    window_ = std::make_unique<QMainWindow>();
    window_->setWindowTitle(QStringLiteral("Velto"));
    window_->resize(1280, 820);
    window_->show();
}

void AppDelegate::applicationWillTerminate()
{
}
