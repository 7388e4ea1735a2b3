#pragma once
// Cuts of text shown to a person or fed to the engine count user-perceived
// characters, so a cut never splits one.
#include <QString>

namespace Characters {

// The first n user-perceived characters of the text.
QString left(const QString &text, int n);

// How many user-perceived characters the text holds.
int count(const QString &text);

} // namespace Characters
