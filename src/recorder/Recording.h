#pragma once
// The state of one recording: its video, folder and tallies. The recorder
// keeps the one under way; a stop holds on to the one it was asked on, so it
// finishes that video and reports those counts whatever happens next.
#include "recorder/FrameWriter.h"
#include "recorder/PaneRecorder.h"

struct PaneRecorder::Recording {
    QString folder;
    QString name;
    QSize canvas;
    std::unique_ptr<FrameWriter> writer;

    QVector<Step> steps;
    QVector<Click> clicks;
    QMap<QString, qint64> hiddenByPage;
    QMap<QString, qint64> hiddenByOCR;
    qint64 written = 0;
    qint64 dropped = 0;
    double longestLag = 0;
    bool finishing = false;
    // Stops asked while this one finishes; they get its outcome.
    std::vector<std::function<void(const Outcome &)>> waiting;
};

