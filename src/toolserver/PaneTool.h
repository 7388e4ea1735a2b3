#pragma once
// What every tool that acts on the browser pane shares: its answers and the
// pane it is handed.
#include "browser/BrowserPane.h"
#include "toolserver/BrowserMCP.h"

#include <QObject>
#include <QString>

namespace PaneTool {

inline const QString NO_WINDOW = QStringLiteral("Browser window is not open.");

inline QJsonObject answer(const QString &text, bool isError = false)
{
    return BrowserMCP::text(text, isError);
}

// The own tools are handed the pane as a plain object; anything else is no
// browser window, and the tool answers so.
inline BrowserPane *paneOf(QObject &pane, const BrowserMCP::Done &done)
{
    auto *p = qobject_cast<BrowserPane *>(&pane);
    if (!p)
        done(answer(NO_WINDOW, true));
    return p;
}

} // namespace PaneTool
