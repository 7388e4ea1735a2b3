#pragma once
// The tools through which the engine turns a portal procedure into a
// tutorial video: start (after the CA agrees), mark, status, stop and render.
// Each recording goes to "<client>/Videos/<name>/" in the clients folder, the
// firm's own under "00 Firm". The tools keep no state: the recording's lives
// in PaneRecorder::shared(). Main thread only.
#include "recorder/RecordRender.h"
#include "toolserver/BrowserMCP.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>
#include <QVector>
#include <optional>

namespace RecordTools {

// The recording folder the arguments "client" and "name" name, or the
// sentence that says why there is none.
struct Folder {
    std::optional<QString> path;
    QString error;
};
Folder recordFolder(const QJsonObject &args);

// A video name as a folder name: letters, digits, marks, spaces, "-" and "_"
// kept, anything else a space, runs of spaces one, at most 60 characters.
QString cleanName(const QString &name);

// The narration lines of record_render's "lines": objects without a text
// dropped, texts cut to 300 characters, a missing or negative time 0.
QVector<RecordRender::Line> narration(const QJsonValue &lines);

// The handlers, as the tool server's table holds them.
void start(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void mark(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void status(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void stop(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void render(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);

} // namespace RecordTools
