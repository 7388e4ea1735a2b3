#pragma once
#include "platform/Media.h"
#include "recorder/Redaction.h"

#include <QImage>
#include <QJsonArray>
#include <QSize>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>

// Turns captured images into frames of the raw video: every frame is checked
// for identifiers by text recognition, drawn centred into the video size, and
// every private area (the page's and the recognised ones) is covered with a
// pill before the frame is appended.
//
// Frames are handed in on the main thread and answered there in the order
// they came. Recognition runs on worker threads and only over the parts of a
// frame that changed since the previous one (a scroll moves the boxes already
// found), so a frame may be answered a moment after the next one is handed
// in; no frame is ever written before its own text check has finished.
// An area that the page draws as pixels is read again whole, at twice its
// size, whenever any of its pixels changed, and every word in it shaped like
// an identifier is covered (its text is in no page structure the page check
// could see). Reading a whole new page takes a second or more, so a caller that wants a
// steady frame rate hands in the next frame without waiting for the answer to
// the last; pending() and Options::maxPending bound how many wait.
class FrameWriter {
public:
    using Counts = std::map<QString, long long>;

    struct Frame {
        QImage image;       // the captured image, any size
        QJsonArray rects;   // page areas {x, y, w, h, kind} in page pixels from the viewport's top left
        double vw = 0;      // viewport width in page pixels (the width the whole image spans)
        double vh = 0;
        double at = 0;      // presentation time, seconds since the start
        QJsonArray pixels = {}; // areas {x, y, w, h} the page draws as pixels (canvas, image, embedded document)
    };

    struct Result {
        bool written = false;
        Counts byPage;      // page areas hidden in this frame, per kind
        Counts byOCR;       // recognised identifiers hidden and counted, per kind
    };

    struct Options {
        int bitRate = 6000000;
        int keyInterval = 30;
        int workers = 2;    // recognition threads, each with its own engine
        int maxPending = 50; // frames handed in and not answered; more are refused
    };

    // Stops the threads; frames still waiting are not answered, so owners
    // call finish() or cancel() first.
    ~FrameWriter();
    FrameWriter(const FrameWriter &) = delete;
    FrameWriter &operator=(const FrameWriter &) = delete;

    // Creates the video file at path for a canvas of the given size (made even).
    // On failure answers nothing with the reason and its kind: File (the
    // system's reason), Format (the writer refused the format), Start (the
    // file could not be started).
    static std::unique_ptr<FrameWriter> open(const QString &path, QSize canvas, const Options &options,
                                             QString *error, Media::OpenError *kind = nullptr);

    QSize canvas() const;

    // Main thread. Queues one frame; done runs on the main thread with the
    // result, in the order of the calls. Refused at once (written false,
    // nothing counted): a time not later than the previous frame's, a null
    // image, too many frames waiting, or the writer finishing or finished.
    void write(Frame frame, std::function<void(Result)> done);

    // Frames handed in and not yet answered.
    int pending() const;

    // Main thread. After every frame handed in before it has been answered,
    // drains the encoder and closes the file; done runs on the main thread
    // with the outcome (the reason when it failed). Called once. With an end
    // time (seconds, the frames' clock) the last frame stands until then.
    void finish(std::function<void(bool ok, QString error)> done, std::optional<double> endSeconds = std::nullopt);

    // Main thread. Drops waiting frames (their done runs with written false)
    // and deletes the file. Does nothing once finish() was called.
    void cancel();

    // One frame's composition into the canvas (which keeps its size): the
    // background, the image centred and scaled to fit, then a pill over every
    // page area and every hit. Counts what it hid, per kind; a hit that an
    // earlier box of the frame already covers by more than half is painted
    // but not counted.
    static void compose(QImage &canvas, const QImage &image, const QJsonArray &rects, double vw,
                        const std::vector<Redaction::OCRHit> &hits, Counts &byPage, Counts &byOCR);

    // The pill over one box of the canvas (top-left pixel coordinates); boxes
    // of 1 pixel or less in either direction after clipping are not painted.
    static void paintPill(QImage &canvas, const QRectF &box);

private:
    FrameWriter();
    struct Impl;
    std::shared_ptr<Impl> d;
};
