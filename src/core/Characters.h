#pragma once
// Cuts of text shown to a person or fed to the engine count user-perceived
// characters, so a cut never splits one.
#include <QString>

namespace Characters {

// The first n user-perceived characters of the text.
QString left(const QString &text, int n);

// How many user-perceived characters the text holds.
qsizetype count(const QString &text);

// A tab or a Unicode space separator: horizontal white space, never a line break.
bool isHorizontalSpace(QChar c);

// The text without spaces and tabs at either end (line breaks stay).
QString trimSpacesTabs(const QString &text);

// A name typed by the CA made a file name: spaces and tabs trimmed, lower
// case, spaces made "-", and only the characters kept that begin with a
// letter or a digit (any script; a letter keeps its marks) or are "-".
QString kebabName(const QString &typed);

} // namespace Characters
