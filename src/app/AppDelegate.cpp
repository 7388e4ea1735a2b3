#include "app/AppDelegate.h"

#include <QMainWindow>

AppDelegate::AppDelegate() = default;
AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    window_ = std::make_unique<QMainWindow>();
    window_->setWindowTitle(QStringLiteral("Velto"));
    window_->resize(1280, 820);
    window_->show();
}

void AppDelegate::applicationWillTerminate()
{
}
