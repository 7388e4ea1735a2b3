#include "skills/SkillInstall.h"
#include "skills/SkillText.h"

#include <QStringList>

namespace {

// Lines split at a line feed that does not end a CR LF pair: a file written
// with CR LF line ends reads as one line.
QStringList lfLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\n') && (i == 0 || text.at(i - 1) != QLatin1Char('\r'))) {
            lines.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    lines.append(text.mid(start));
    return lines;
}

// A front-matter value that a reader takes as it stands: nothing in it can
// end the line, start a comment or a nested mapping, or be read as quoting.
bool plainValue(const QString &value)
{
    if (value.isEmpty() || value.contains(QStringLiteral(": ")) || value.contains(QStringLiteral(" #")) ||
        value.endsWith(QLatin1Char(':')))
        return false;
    if (QStringLiteral("-?:,[]{}#&*!|>'\"%@`").contains(value.front()) || value.front().isSpace() ||
        value.back().isSpace())
        return false;
    for (QChar c : value) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || u == 0x85 || u == 0x2028 || u == 0x2029 || u == 0xFEFF || u == '"' || u == '\\')
            return false;
    }
    return true;
}

bool allowedNameChar(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-';
}

} // namespace

std::optional<QString> SkillInstall::front(const QString &text, const QString &key)
{
    if (!text.startsWith(QStringLiteral("---")))
        return std::nullopt;
    const qsizetype end = text.indexOf(QStringLiteral("\n---"));
    const QString head = end < 0 ? text : text.left(end);
    const QString prefix = key + QLatin1Char(':');
    for (const QString &raw : lfLines(head)) {
        if (raw.isEmpty())
            continue;
        const QString line = SkillText::trimSet(raw, QStringLiteral(" \t"));
        if (line.startsWith(prefix))
            return SkillText::trimSet(line.mid(prefix.size()), QStringLiteral(" \"'"));
    }
    return std::nullopt;
}

QString SkillInstall::stamp(const QString &text, const QString &name, const QString &description,
                            const QString &source)
{
    // The source names a folder of someone else's repository: quoted when
    // it could change the block's meaning. The description always is.
    const QString sourceValue = plainValue(source) ? source : SkillText::quoted(source);
    if (text.startsWith(QStringLiteral("---\n")))
        return QStringLiteral("---\nowner: firm\nsource: ") + sourceValue + QLatin1Char('\n') + text.mid(4);
    return QStringLiteral("---\nname: ") + name + QStringLiteral("\ndescription: ") + SkillText::quoted(description) +
           QStringLiteral("\nowner: firm\nsource: ") + sourceValue + QStringLiteral("\n---\n\n") + text;
}

bool SkillInstall::stamped(const QString &file)
{
    const auto text = SkillText::readUtf8(file);
    return text && SkillText::prefixCharacters(*text, 700).contains(QStringLiteral("owner: firm"));
}

QString SkillInstall::safeName(const QString &name)
{
    const QString lower = name.toLower();
    QString out;
    bool inRun = false;
    for (QChar c : lower) {
        if (allowedNameChar(c)) {
            out.append(c);
            inRun = false;
        } else if (!inRun) {
            out.append(QLatin1Char('-'));
            inRun = true;
        }
    }
    return SkillText::trimSet(out, QStringLiteral("-"));
}
