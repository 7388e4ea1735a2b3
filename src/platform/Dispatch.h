#pragma once
#include <functional>

// The main queue and background work. The Qt GUI thread is the main queue.
namespace Dispatch {

// Runs fn on the GUI thread, after the current event (queued, never inline).
void onMain(std::function<void()> fn);

// Runs fn on the GUI thread after the given number of seconds, scaled by timeScale.
void after(double seconds, std::function<void()> fn);

// Runs fn on a pool thread.
void runInBackground(std::function<void()> fn);

// True on the GUI thread.
bool isMainThread();

// Product waits that last seconds (settle delays, polls) are multiplied by this;
// tests shrink it so the suite stays fast. Set once before use.
inline double timeScale = 1.0;

// seconds * timeScale, in whole milliseconds (never negative).
int scaledMs(double seconds);

} // namespace Dispatch
