#pragma once
#include "toolserver/BrowserMCP.h"

namespace FileTools {

// browser_downloads: lists this run's downloads or, with move_to, files one
// into the clients folder, waiting for one still running.
void browserDownloads(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);

// The newest downloads, newest first, one line each.
QString downloadList();

} // namespace FileTools
