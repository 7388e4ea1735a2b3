#include "app/Leftovers.h"
#include "core/Globals.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "skills/SkillInstall.h"

#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace Leftovers {

namespace {

QStringList removeStaleTemps(const QString &home)
{
    QStringList removed;
    if (home.isEmpty())
        return removed;
    const QDateTime cutoff = QDateTime::currentDateTimeUtc().addSecs(-kStaleSeconds);
    // Links are not followed: only the program's own folders are walked.
    QDirIterator it(home, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        if (!Files::isAtomicTemp(info.fileName()) || info.lastModified().toUTC() > cutoff)
            continue;
        if (QFile::remove(path))
            removed << path;
    }
    return removed;
}

void note(const Outcome &o)
{
    for (const QString &name : o.restored)
        qInfo("Put the skill %s back in place after an install that stopped midway.", qPrintable(name));
    if (!o.removed.isEmpty())
        qInfo("Removed %lld temporary file(s) left by an earlier write that stopped midway.",
              static_cast<long long>(o.removed.size()));
}

} // namespace

Outcome clean(const QString &home, const QString &skillsDir)
{
    Outcome o;
    if (!skillsDir.isEmpty())
        o.restored = SkillInstall::settleSwaps(skillsDir);
    o.removed = removeStaleTemps(home);
    return o;
}

void cleanAtStart()
{
    note(clean(QString(), SkillInstall::skillsDir()));
    Dispatch::runInBackground([home = VELTO_HOME] { note(clean(home, QString())); });
}

} // namespace Leftovers
