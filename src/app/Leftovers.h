#pragma once
#include <QString>
#include <QStringList>

// What a program that stopped mid-write leaves in its own folders, put right
// at start-up: the atomic writer's temporary files (one may hold an old
// token) and a skill swap stopped between its two renames.
namespace Leftovers {

// A temporary file younger than this may belong to a write under way in
// another copy of the program, and is left alone.
inline constexpr int kStaleSeconds = 60;

struct Outcome {
    QStringList removed;  // temporary files taken away
    QStringList restored; // skills put back in place
};

// Settles the skill swaps at once (one folder), then removes the stale
// temporary files under `home` (every level).
Outcome clean(const QString &home, const QString &skillsDir);

// clean() of VELTO_HOME and its skills folder: the skill swaps now, the
// walk of the folders in the background.
void cleanAtStart();

} // namespace Leftovers
