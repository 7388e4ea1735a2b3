#pragma once
#include "platform/Ocr.h"
#include "recorder/Redaction.h"

#include <QImage>
#include <QRect>
#include <cstdint>
#include <optional>
#include <vector>

// Keeps the identifiers found in a stream of frames while recognising only
// what changed. A frame is cut into square tiles; each tile either shows the
// same pixels as in the previous frame, shows them moved by the page's scroll,
// or changed. Boxes found earlier follow their tiles (moved by the scroll,
// clipped at the edges of the view); the changed tiles are recognised afresh,
// row of tiles by row of tiles, with a margin so that text crossing a tile's
// border is read whole. Every frame therefore gets a box over every
// identifier it shows, found either in it or in the unchanged pixels of an
// earlier frame.
//
// compare() and settle() are called in frame order on one thread;
// recogniseRegion() may run on any thread with that thread's engine.
class TextTracker {
public:
    static constexpr int kTile = 64;
    static constexpr int kPadX = 128; // margin left and right of a changed span
    static constexpr int kPadY = 32;  // margin above and below a row of tiles
    static constexpr double kDrawnLarge = 640.0 * 480; // drawn areas up to this many pixels are read at twice the size

    struct Region {
        QRect rect;              // frame pixels
        Redaction::Edges edges;  // which sides may cut text off (edges of the view, and the span's ends)
        bool drawn = false;      // an area the page draws as pixels: read larger, identifier-shaped words covered
    };

    // The comparison of a frame with the one before it.
    struct Change {
        QSize size;
        bool fresh = true;        // nothing to compare with: all of the frame is recognised
        int dy = 0;               // the content moved up by dy pixels (the page scrolled down)
        int cols = 0, rows = 0;
        std::vector<uint8_t> tiles; // per tile, row by row: kSame | kMoved bits; 0 when changed
        std::vector<Region> regions;
    };
    static constexpr uint8_t kSame = 1;
    static constexpr uint8_t kMoved = 2;

    // Compares the frame with the previous one given to compare() and
    // remembers it for the next.
    Change compare(const QImage &frame);

    // The change that recognises the whole frame (after a failed frame).
    static Change whole(QSize size);

    // Whether some pixel under the box (frame pixels) changed, or the frame
    // is read whole.
    static bool changedUnder(const Change &change, const QRectF &box);

    // Recognises one region of the frame; the hits are in frame pixels.
    static std::optional<std::vector<Redaction::PixelHit>> recogniseRegion(Ocr::Engine &engine, const QImage &frame,
                                                                          const Region &region);

    // The boxes of the frame: the previous frame's boxes that its unchanged or
    // moved tiles still show, the ones whose place was not recognised again,
    // and what was found in it. Remembered for the next frame.
    std::vector<Redaction::PixelHit> settle(const Change &change, const std::vector<Redaction::PixelHit> &found);

    // Forgets the boxes (a frame whose recognition failed): the next frame is
    // recognised whole.
    void reset();
    bool needsWhole() const { return lost_; }

private:
    std::vector<uint64_t> hashes_; // one per pixel row and column of tiles
    QSize size_;
    std::vector<Redaction::PixelHit> boxes_;
    bool lost_ = false;
};
