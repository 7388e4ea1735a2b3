#include "app/Entry.h"
#include "app/AppDelegate.h"
#include "app/Engine.h"
#include "app/Shutdown.h"
#include "core/Globals.h"
#include "platform/Appearance.h"
#include "platform/Dialogs.h"
#include "ui/PanelKit.h"

#include <QApplication>
#include <QTimer>

int veltoMain(int argc, char **argv)
{
    initGlobals();

    QApplication::setApplicationName(QStringLiteral("Velto"));
    QApplication::setOrganizationName(QStringLiteral("Hallix"));
    QApplication::setDesktopFileName(QStringLiteral("velto"));
    // Web views share one GL context with the windows.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    app = &application;
    // The desktop's colour scheme is asked for now; its answer is in by the
    // time the window takes its theme.
    Appearance::askDesktop();
    // The message boxes (About, the update offer, every question and
    // confirm) wear the app's look in whichever theme is in force.
    Dialogs::Hooks::dress = &PanelKit::dressDialog;

    // Quitting is bounded from here on, whatever runs.
    Shutdown::install();
    AppDelegate appDelegate;
    delegate = &appDelegate;
    // SIGTERM takes the delegate's quit path (a recording is finished).
    Engine::onTerminateSignal = [&appDelegate] { appDelegate.quit(); };
    Engine::installTermHandler();
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &appDelegate,
                     &AppDelegate::applicationWillTerminate);
    QTimer::singleShot(0, &appDelegate, &AppDelegate::applicationDidFinishLaunching);

    const int status = QApplication::exec();
    Engine::onTerminateSignal = nullptr;
    delegate = nullptr;
    app = nullptr;
    return status;
}
