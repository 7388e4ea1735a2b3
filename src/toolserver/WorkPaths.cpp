#include "toolserver/WorkPaths.h"
#include "toolserver/BrowserMCP.h"
#include "core/Globals.h"

#include <QFileInfo>

QString BrowserMCP::relative(const std::optional<QString> &path)
{
    if (!path)
        return QStringLiteral("\u2014");
    const QString root = WorkPaths::root();
    if (WorkPaths::inside(*path, root))
        return path->mid(root.endsWith(QLatin1Char('/')) ? root.size() : root.size() + 1);
    return QFileInfo(*path).fileName();
}
