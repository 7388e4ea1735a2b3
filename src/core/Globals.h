#pragma once
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <optional>

// File-level paths and settings. Filled once at program entry, before the
// event loop starts, and only read afterwards. Paths are absolute, without a
// trailing slash.
inline std::optional<QString> DEMO_HOME;        // VELTO_DEMO_HOME when set and non-empty
inline std::optional<double> demoRecordScale;   // VELTO_RECORD_SCALE in demo mode, 1..3
inline QString HOME;                            // DEMO_HOME, else the user's home folder
inline QString VELTO_HOME;                      // HOME/.velto
inline QString ENGINE;                          // VELTO_HOME/bin/velto-engine
inline QString LAUNCHER;                        // VELTO_HOME/bin/velto
inline QString SEAT_ENV;                        // VELTO_HOME/seat.env
inline QString WORK_ENV;                        // VELTO_HOME/velto.env
inline QString KEYS_ENV;                        // VELTO_HOME/keys.env
inline QString OC_DIR;                          // VELTO_HOME/hallix
inline QString OC_JSON;                         // OC_DIR/opencode.json
inline QString API;                             // VELTO_API, else the built-in cloud address
inline QStringList AREAS;
inline QStringList ROOT_DIRS;

// The maker's cloud service when VELTO_API does not name another.
inline const QString BUILTIN_API = QStringLiteral("https://hallix.in");

// Fills every global above from the environment, in order, moving the legacy
// engine configuration folder into place on the way. Production calls it once
// at entry; tests call it again to re-point the globals at a throwaway home.
void initGlobals(const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());

// path + "/" + name.
QString joinPath(const QString &dir, const QString &name);
