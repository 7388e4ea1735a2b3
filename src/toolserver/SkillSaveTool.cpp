#include "toolserver/SkillSaveTool.h"
#include "core/Globals.h"
#include "core/OcConfig.h"
#include "platform/Files.h"
#include "skills/SkillCorrections.h"
#include "skills/SkillInstall.h"
#include "skills/SkillText.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace SkillSaveTool {

namespace {

QString stringArg(const QJsonObject &args, const char *key)
{
    const QJsonValue v = args.value(QLatin1String(key));
    return v.isString() ? v.toString() : QString();
}

QString skillFile(const QString &name, const QString &description, const QString &body)
{
    const QString today = QDateTime::currentDateTimeUtc().toString(Qt::ISODate).left(10);
    return QStringLiteral("---\nname: ") + name + QStringLiteral("\ndescription: ") + SkillText::quoted(description) +
           QStringLiteral("\nlicense: Proprietary\nmetadata:\n  author: learned on this machine\n  owner: firm\n"
                          "  learned_on: ") +
           today + QStringLiteral("\n---\n") + body + QLatin1Char('\n');
}

QString systemError(const QString &path)
{
    const int code = errno;
    return path + QStringLiteral(": ") +
           (code ? QString::fromLocal8Bit(std::strerror(code)) : QStringLiteral("the write failed"));
}

QString dashesCollapsed(const QString &name)
{
    QString out;
    for (const QChar c : name)
        if (c != QLatin1Char('-') || !out.endsWith(QLatin1Char('-')))
            out.append(c);
    return out;
}

} // namespace

void skillSave(QObject &, const QJsonObject &args, const BrowserMCP::Done &done)
{
    const QJsonValue confirmed = args.value(QStringLiteral("confirmed_by_ca"));
    if (!confirmed.isBool() || !confirmed.toBool()) {
        done(BrowserMCP::text(QStringLiteral("Refused: show the CA the procedure and get a yes, then call again with "
                                             "confirmed_by_ca true."),
                              true));
        return;
    }
    QString name = SkillInstall::safeName(stringArg(args, "name"));
    QString description = stringArg(args, "description");
    description.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    description.replace(QLatin1Char('\n'), QLatin1Char(' '));
    description.replace(QLatin1Char('\r'), QLatin1Char(' '));
    const QString body = stringArg(args, "body");
    if (name.size() < 3 || description.isEmpty() || SkillText::characterCount(body) < 200) {
        done(BrowserMCP::text(QStringLiteral("Need a kebab-case name, a one-line description and a real procedure (at "
                                             "least a few hundred characters)."),
                              true));
        return;
    }

    // The maker's skill names keep one dash for each character the cloud's
    // name had outside a-z and 0-9 ("gst---recon" for "GST & Recon"); the
    // name the engine gives back is that skill however its dashes run.
    const QStringList managed = SkillInstall::defaultManaged();
    bool isManaged = false;
    for (const QString &entry : managed) {
        if (entry.startsWith(QLatin1String("skill/")) && dashesCollapsed(entry.mid(6)) == dashesCollapsed(name)) {
            name = entry.mid(6);
            isManaged = true;
            break;
        }
    }

    const QString folder = joinPath(joinPath(OC_DIR, QStringLiteral("skills")), name);
    const QString file = joinPath(folder, QStringLiteral("SKILL.md"));

    // The maker's skills are rewritten at every sync: what the engine learned
    // about one is kept beside it as a correction instead.
    if (isManaged) {
        if (!QFileInfo::exists(file)) {
            done(BrowserMCP::text(
                name + QStringLiteral(" is a Hallix skill but is not installed here, so there is nothing to correct."),
                true));
            return;
        }
        done(BrowserMCP::text(name +
                                  QStringLiteral(" is a Hallix skill, so this was saved as a correction to it rather "
                                                 "than a replacement. ") +
                                  SkillCorrections::record(folder, body),
                              false));
        return;
    }

    const bool existed = QFileInfo::exists(file);
    errno = 0;
    if (!QDir().mkpath(folder)) {
        done(BrowserMCP::text(QStringLiteral("Could not write the skill: ") + systemError(folder), true));
        return;
    }
    errno = 0;
    if (!Files::writeAtomic(file, skillFile(name, description, body).toUtf8(), 0644)) {
        done(BrowserMCP::text(QStringLiteral("Could not write the skill: ") + systemError(file), true));
        return;
    }

    // The engine offers the skill only once it is allowed; a configuration
    // that cannot be read is left alone.
    OcConfig::update([&name](QJsonObject &config) {
        QJsonObject permission = config.value(QStringLiteral("permission")).toObject();
        QJsonObject skill = permission.value(QStringLiteral("skill")).toObject();
        skill.insert(name, QStringLiteral("allow"));
        permission.insert(QStringLiteral("skill"), skill);
        config.insert(QStringLiteral("permission"), permission);
        return true;
    });

    done(BrowserMCP::text(QString(existed ? QStringLiteral("Updated") : QStringLiteral("Saved")) +
                              QStringLiteral(" skill ") + name + QStringLiteral(" at ") + file +
                              QStringLiteral(". It is available from the next session — start a new one to use it. "
                                             "Tell the CA it is on this machine only; Hallix can publish it to the "
                                             "whole firm."),
                          false));
}

} // namespace SkillSaveTool
