#pragma once
#include <QObject>
#include <memory>

class BrowserPane;
class QMainWindow;

// The application's delegate: owns the long-lived objects of the shell and
// drives start-up and shutdown.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    AppDelegate();
    ~AppDelegate() override;

    // Called once the event loop runs.
    void applicationDidFinishLaunching();
    // Called when the application is about to quit.
    void applicationWillTerminate();

    QMainWindow *window() const { return window_.get(); }
    // The portal browser; owned by the window.
    BrowserPane *browser() const { return browser_; }

private:
    std::unique_ptr<QMainWindow> window_;
    BrowserPane *browser_ = nullptr;
};
