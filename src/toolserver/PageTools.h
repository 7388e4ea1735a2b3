#pragma once
// The tools through which the engine looks at and moves around the portal
// browser: open, read, find, back, reload, wait, screenshot, scroll and the
// tab tools. Every tool that changes what is shown answers with the page as
// it stands after a short settling delay, so the engine always sees the page
// it will act on next. Main thread only.
#include "platform/Dispatch.h"
#include "toolserver/BrowserMCP.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <functional>

class BrowserPane;

namespace PageTools {

// Snapshot JSON to the page text the engine reads: URL, title, the numbered
// controls (with a note when some were left out) and the page text. Anything
// that is not a JSON object (a script error) comes back unchanged.
QString pretty(const QString &snapshot);

// A number as the shortest decimal that reads back the same, always with a
// fraction or an exponent (300.0, 12.5, 1e+20).
QString decimal(double y);

// How a settling delay waits: Dispatch::after (so the time scale applies).
// Tests replace it to see the delays asked for.
inline std::function<void(double seconds, std::function<void()> then)> delay = &Dispatch::after;

// After `seconds`, snapshots whatever tab is shown then (full or brief) and
// answers done with its page text, shaped by reply when one is given (a
// lead-in such as "Opened …"); a pane gone meanwhile answers that the
// browser window is not open. A page still loading when the delay ends is
// read once its load ends (see whenLoaded), never as the page it is leaving.
void settle(BrowserPane &pane, double seconds, bool full, const BrowserMCP::Done &done,
            std::function<QString(const QString &pageText)> reply = {});

// Runs then once the shown tab has no load in progress: at once when it has
// none, else when that load ends, or after loadWaitSeconds for a page that
// never finishes. The bound is on a peer's slowness, not a pause of ours, so
// the time scale does not shrink it.
inline double loadWaitSeconds = 20.0;
void whenLoaded(BrowserPane &pane, std::function<void()> then);

// The handlers, as the tool server's table holds them.
void open(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void read(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void find(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void back(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void reload(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void wait(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void screenshot(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void scroll(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void tabs(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void tabNew(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void tabSelect(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void tabClose(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);

} // namespace PageTools
