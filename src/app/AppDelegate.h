#pragma once
#include <QObject>
#include <memory>

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

private:
    std::unique_ptr<QMainWindow> window_;
};
