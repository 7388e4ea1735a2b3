#pragma once
#include <QString>
#include <QUrl>
#include <functional>

// Handing things to the desktop: addresses to the default browser, files to
// their applications, items to the file manager. Replaceable so tests see
// what would have opened.
struct Desktop {
    static bool defaultOpenUrl(const QUrl &url);
    static inline std::function<bool(const QUrl &)> openUrl = &Desktop::defaultOpenUrl;

    // Shows the file or folder selected in the file manager (its D-Bus
    // interface, asked without blocking), else opens the folder that holds it.
    static bool defaultReveal(const QString &path);
    static inline std::function<bool(const QString &)> reveal = &Desktop::defaultReveal;
};
