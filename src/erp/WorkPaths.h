#pragma once
// Paths the engine names, taken against the clients folder. The tools touch
// nothing outside it; a symbolic link inside it that leads out counts as out.
#include <QString>

namespace WorkPaths {

// The clients folder root: standard, symbolic links resolved, no trailing "/".
QString root();
// The same form of another folder named as a root.
QString rootOf(const QString &folder);

// A path argument as an absolute, standard path (no "." or ".." parts, no
// doubled or trailing "/"): absolute when it begins with "/", otherwise
// under the root.
QString standard(const QString &arg, const QString &root);

// The path with the symbolic links of its deepest existing ancestor resolved
// and the part that does not exist yet appended as it stands.
QString resolved(const QString &path);

// Whether a path lies below the root (the root itself is not below it).
bool inside(const QString &path, const QString &root);

} // namespace WorkPaths
