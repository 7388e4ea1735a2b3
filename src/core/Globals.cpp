#include "core/Globals.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

QString joinPath(const QString &dir, const QString &name)
{
    if (dir.endsWith(QLatin1Char('/')))
        return dir + name;
    return dir + QLatin1Char('/') + name;
}

namespace {

std::optional<double> parseDecimal(const QString &text)
{
    // Strict: the whole text is the number, no surrounding blanks.
    if (text.isEmpty() || text != text.trimmed())
        return std::nullopt;
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || v != v)
        return std::nullopt;
    return v;
}

// Moves VELTO_HOME/opencode to VELTO_HOME/hallix once; answers the new path.
QString placeConfigFolder(const QString &veltoHome)
{
    const QString fresh = joinPath(veltoHome, QStringLiteral("hallix"));
    const QString legacy = joinPath(veltoHome, QStringLiteral("opencode"));
    if (QFileInfo::exists(legacy) && !QFileInfo::exists(fresh))
        QDir().rename(legacy, fresh); // a failed move is ignored
    return fresh;
}

} // namespace

void initGlobals(const QProcessEnvironment &env)
{
    DEMO_HOME.reset();
    demoRecordScale.reset();

    const QString demo = env.value(QStringLiteral("VELTO_DEMO_HOME"));
    if (!demo.isEmpty())
        DEMO_HOME = QDir::cleanPath(QDir(demo).absolutePath());

    if (DEMO_HOME && env.contains(QStringLiteral("VELTO_RECORD_SCALE"))) {
        if (auto v = parseDecimal(env.value(QStringLiteral("VELTO_RECORD_SCALE"))))
            demoRecordScale = std::max(1.0, std::min(3.0, *v));
    }

    HOME = DEMO_HOME ? *DEMO_HOME : QDir::homePath();
    VELTO_HOME = joinPath(HOME, QStringLiteral(".velto"));
    ENGINE = joinPath(VELTO_HOME, QStringLiteral("bin/velto-engine"));
    LAUNCHER = joinPath(VELTO_HOME, QStringLiteral("bin/velto"));
    SEAT_ENV = joinPath(VELTO_HOME, QStringLiteral("seat.env"));
    WORK_ENV = joinPath(VELTO_HOME, QStringLiteral("velto.env"));
    KEYS_ENV = joinPath(VELTO_HOME, QStringLiteral("keys.env"));
    OC_DIR = placeConfigFolder(VELTO_HOME);
    OC_JSON = joinPath(OC_DIR, QStringLiteral("opencode.json"));
    API = env.contains(QStringLiteral("VELTO_API")) ? env.value(QStringLiteral("VELTO_API")) : BUILTIN_API;
    AREAS = {QStringLiteral("gst"), QStringLiteral("itr"), QStringLiteral("tds"), QStringLiteral("mca"),
             QStringLiteral("payroll"), QStringLiteral("audit"), QStringLiteral("books"),
             QStringLiteral("bank"), QStringLiteral("notices"), QStringLiteral("correspondence")};
    ROOT_DIRS = {QStringLiteral("00 Firm/letterheads"), QStringLiteral("00 Firm/templates"),
                 QStringLiteral("00 Firm/engagement letters"), QStringLiteral("00 Firm/staff"),
                 QStringLiteral("00 Firm/SOPs"), QStringLiteral("01 Inbox"), QStringLiteral("02 Clients"),
                 QStringLiteral("03 Calendar"), QStringLiteral("04 Research"), QStringLiteral("05 Archive")};
}
