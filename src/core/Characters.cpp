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

int count(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int n = 0;
    while (finder.toNextBoundary() != -1)
        ++n;
    return n;
}

} // namespace Characters
