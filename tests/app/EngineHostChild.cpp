// A minimal app hosting one engine, for the test that kills the app: starts
// the engine in the folder argv[1], and once it answers writes the engine's
// process id to the file argv[2]; then runs until killed.
#include "app/Engine.h"
#include "core/Globals.h"
#include "platform/Files.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    initGlobals();
    Engine engine;
    if (!engine.start(QString::fromLocal8Bit(argv[1]), QStringLiteral("t")))
        return 1;
    const QString pidFile = QString::fromLocal8Bit(argv[2]);
    engine.waitReady(60, [&](bool ready) {
        if (!ready)
            QCoreApplication::exit(1);
        else
            Files::writeAtomic(pidFile, QByteArray::number(engine.proc()->pid()));
    });
    return QCoreApplication::exec();
}
