#pragma once
// The bound on the way out. Quitting (the menu, closing the window, SIGTERM,
// the demo and snapshot hooks) can meet work that does not end by itself: a
// read in the background that the pool waits for, an engine that ignores its
// signal, a web page that never unloads. Once a quit has begun, a thread of
// its own ends the process when the bound passes, whatever the main thread is
// doing: the engine's process group gets SIGKILL, then the process exits
// with status 0.
//
// Only the program itself installs the guard (at entry); without it begin()
// does nothing, so test programs quit on their own terms.
#include <QtGlobal>

namespace Shutdown {

// The whole way out, from the first quit request to the process's end.
inline constexpr double kBoundSeconds = 9;

// Starts the guard thread, which waits at no cost until begin(). Once.
void install();
bool installed();

// The countdown starts (or shortens to) `seconds` from now. Safe in a
// signal handler and on any thread.
void begin(double seconds = kBoundSeconds);

// The engine process group the guard ends at the bound (0: none). Any thread.
void setEngineGroup(qint64 pid);

} // namespace Shutdown
