#include "erp/WorkPaths.h"
#include "core/Globals.h"
#include "erp/ErpTools.h"

#include <QDir>
#include <QFileInfo>

namespace WorkPaths {

QString root()
{
    return rootOf(ErpTools::workRoot());
}

QString rootOf(const QString &folder)
{
    return resolved(standard(folder, QDir::rootPath()));
}

QString standard(const QString &arg, const QString &root)
{
    const QString joined = arg.startsWith(QLatin1Char('/')) ? arg : joinPath(root, arg);
    return QDir::cleanPath(joined);
}

QString resolved(const QString &path)
{
    QString existing = path;
    QString rest;
    while (true) {
        const QString canonical = QFileInfo(existing).canonicalFilePath();
        if (!canonical.isEmpty())
            return rest.isEmpty() ? canonical : joinPath(canonical, rest);
        const qsizetype slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash < 0)
            return path;
        const QString name = existing.mid(slash + 1);
        rest = rest.isEmpty() ? name : name + QLatin1Char('/') + rest;
        existing = slash == 0 ? QStringLiteral("/") : existing.left(slash);
    }
}

bool inside(const QString &path, const QString &root)
{
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    return path.size() > prefix.size() && path.startsWith(prefix);
}

} // namespace WorkPaths
