#include "skills/SkillCorrections.h"
#include "core/Globals.h"
#include "skills/SkillText.h"

QString SkillCorrections::file(const QString &dir)
{
    return joinPath(dir, fileName);
}

void SkillCorrections::apply(const QString &dir)
{
    const auto local = SkillText::readUtf8(file(dir));
    if (!local || local->trimmed().isEmpty())
        return;
    const QString skillPath = joinPath(dir, QStringLiteral("SKILL.md"));
    const auto skill = SkillText::readUtf8(skillPath);
    if (!skill)
        return;
    QString base = *skill;
    const qsizetype marker = base.indexOf(QLatin1Char('\n') + heading);
    if (marker >= 0)
        base.truncate(marker);
    const QString merged = SkillText::trimNewlines(base) + QStringLiteral("\n\n") + heading +
                           QStringLiteral("\n\n") + SkillText::trimNewlines(*local) + QLatin1Char('\n');
    SkillText::writeUtf8(skillPath, merged);
}

QString SkillCorrections::record(const QString &dir, const QString &text)
{
    const QString existing = SkillText::readUtf8(file(dir)).value_or(QString());
    // The calendar date in UTC.
    const QString date = now().toUTC().toString(Qt::ISODate).left(10);
    QString body = text.trimmed();
    body.replace(QLatin1Char('\n'), QStringLiteral("\n  "));
    const QString entry = QStringLiteral("- **") + date + QStringLiteral("** \u2014 ") + body;

    const QString kept = SkillText::trimNewlines(existing);
    SkillText::writeUtf8(file(dir), kept.isEmpty() ? entry : kept + QLatin1Char('\n') + entry);
    apply(dir);
    return QStringLiteral("Recorded against that skill, and it survives the next sync from Hallix.");
}
