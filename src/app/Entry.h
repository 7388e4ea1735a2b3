#pragma once

class QApplication;
class AppDelegate;

// The process's application object and its delegate, set by the entry.
inline QApplication *app = nullptr;
inline AppDelegate *delegate = nullptr;

// The program entry: fills the globals, creates the application and its
// delegate and runs the event loop; answers the exit status.
int veltoMain(int argc, char **argv);
