#pragma once
// Small text rules shared by the ERP store, pairing and folder lookups.
#include <QString>

namespace ErpText {

// The text without spaces and tabs at either end (line breaks stay).
inline QString trimmedBlanks(const QString &text)
{
    qsizetype start = 0, end = text.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (start < end && blank(text.at(start)))
        ++start;
    while (end > start && blank(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

// Upper case, letters and numbers only: a GSTIN or a pairing code as typed
// with spaces or dashes ("abcd-efgh") becomes its bare form ("ABCDEFGH").
inline QString bare(const QString &text)
{
    QString out;
    for (const QChar c : text.toUpper())
        if (c.isLetterOrNumber())
            out.append(c);
    return out;
}

} // namespace ErpText
