#pragma once
// Offers new versions of the app. Once the engine is ready the app asks the
// maker's cloud which version is current; a newer one is offered once per run,
// and on acceptance the Debian package is downloaded into the temporary folder,
// checked, and opened with the desktop's handler for it. The app installs
// nothing itself. Main thread only.
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QWidget;

namespace Updater {

// Versions offered in this run.
QSet<QString> &offered();

// The running version: the package's version, else the "VERSION" file in
// VELTO_HOME (trimmed), else "1.0.0".
QString current();

// 1 when a is newer, -1 when b is, 0 when equal; only the first three numbers
// count.
int compare(const QString &a, const QString &b);

// Whether a version text is digits and dots only ("1.4.2"), as the package
// name and the offer need.
bool plainVersion(const QString &version);

// Whether a file holds a Debian package (an "ar" archive led by debian-binary).
bool looksLikePackage(const QByteArray &data);

// Asks GET API/cli/version (no authorisation) and answers on the main thread
// with the reply object, or none. Answers at once when no address can be formed.
void check(const std::function<void(const std::optional<QJsonObject> &)> &done);

// The whole check and offer; the alerts belong to window when given.
void checkAndOffer(QWidget *window);

// Downloads the package at url and opens it.
void download(const QUrl &url, const QString &version, QWidget *window);

// Where a downloaded version is kept before it is opened.
QString packagePath(const QString &version);

struct Hooks {
    // The version the package carries; tests clear it to fall back on "VERSION".
    static inline std::optional<QString> packageVersion = QStringLiteral(VELTO_VERSION);
    // Shows the download's progress by window; answers a function that takes
    // it away. Cancel only hides it: the download goes on.
    static std::function<void()> defaultProgress(QWidget *window, const QString &title, const QString &text);
    static inline std::function<std::function<void()>(QWidget *, const QString &, const QString &)> progress =
        &Hooks::defaultProgress;
    // "Quit Velto": the application's normal termination.
    static void defaultQuit();
    static inline std::function<void()> quit = &Hooks::defaultQuit;
};

} // namespace Updater
