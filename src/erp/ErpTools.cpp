#include "erp/ErpTools.h"
#include "core/EnvFile.h"
#include "core/Globals.h"

QString ErpTools::defaultWorkRoot()
{
    const QString work = readEnvFile(WORK_ENV).value(QStringLiteral("VELTO_WORK"));
    // An empty value names no folder; taken as written it would stand for the
    // working folder, and a check of "inside the clients folder" against it
    // would let every path through.
    return work.isEmpty() ? HOME : work;
}
