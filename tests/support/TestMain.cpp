// The shared main of every test executable: a QApplication on the offscreen
// platform, dialogs that fail loudly, an in-memory secret store and a short
// time scale.
#include "support/TestKit.h"
#include "platform/Dispatch.h"
#include "platform/SecretStore.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The web engine's sandbox refuses to run as root (CI runs as root).
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new TestKit::Environment);
    return RUN_ALL_TESTS();
}
