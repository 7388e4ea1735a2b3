#include "core/Characters.h"

#include <QTextBoundaryFinder>

namespace Characters {

QString left(const QString &text, int n)
{
    if (n <= 0)
        return {};
    // No more code units than n: no more characters either.
    if (text.size() <= n)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    for (qsizetype at = finder.toNextBoundary(); at != -1; at = finder.toNextBoundary())
        if (++count == n)
            return text.left(at);
    return text;
}

qsizetype count(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype n = 0;
    while (finder.toNextBoundary() >= 0)
        ++n;
    return n;
}

bool isHorizontalSpace(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QString trimSpacesTabs(const QString &text)
{
    qsizetype start = 0, end = text.size();
    while (start < end && (text[start] == u' ' || text[start] == u'\t'))
        ++start;
    while (end > start && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.mid(start, end - start);
}

QString kebabName(const QString &typed)
{
    const QString lowered = trimSpacesTabs(typed).toLower().replace(u' ', u'-');
    // Whole characters as the CA sees them: a letter keeps its vowel signs.
    QString name;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, lowered);
    qsizetype start = 0;
    while (finder.toNextBoundary() >= 0) {
        const qsizetype end = finder.position();
        const QString cluster = lowered.mid(start, end - start);
        const char32_t first = cluster.toUcs4().value(0);
        if (QChar::isLetterOrNumber(first) || cluster == QStringLiteral("-"))
            name += cluster;
        start = end;
    }
    return name;
}

} // namespace Characters
