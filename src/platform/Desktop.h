#pragma once
#include <QUrl>
#include <functional>

// Handing things to the desktop: addresses to the default browser, files to
// their applications. Replaceable so tests see what would have opened.
struct Desktop {
    static bool defaultOpenUrl(const QUrl &url);
    static inline std::function<bool(const QUrl &)> openUrl = &Desktop::defaultOpenUrl;
};
