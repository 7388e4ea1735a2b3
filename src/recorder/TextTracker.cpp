#include "recorder/TextTracker.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace {

using Redaction::PixelHit;

// A fast hash of one row's stretch of pixels. Two different stretches with
// the same hash would hide a change; at 64 bits that does not happen in
// practice.
uint64_t hashBytes(const uchar *p, int n)
{
    uint64_t h = 0x9E3779B97F4A7C15ull ^ uint64_t(n);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        h ^= w;
        h *= 0xff51afd7ed558ccdull;
        h ^= h >> 32;
    }
    for (; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001b3ull;
    }
    return h ^ (h >> 29);
}

double area(const QRectF &r) { return r.isEmpty() ? 0 : r.width() * r.height(); }

double overlapRatio(const QRectF &a, const QRectF &b)
{
    const double inter = area(a.intersected(b));
    const double uni = area(a) + area(b) - inter;
    return uni > 0 ? inter / uni : 0;
}

} // namespace

TextTracker::Change TextTracker::whole(QSize size)
{
    Change c;
    c.size = size;
    c.fresh = true;
    c.cols = (size.width() + kTile - 1) / kTile;
    c.rows = (size.height() + kTile - 1) / kTile;
    c.tiles.assign(size_t(c.cols) * c.rows, 0);
    // Bands of tile rows, padded, so the work splits across the workers.
    for (int r = 0; r < c.rows; r += 2) {
        const int top = std::max(0, r * kTile - kPadY);
        const int bottom = std::min(size.height(), (r + 2) * kTile + kPadY);
        Region reg{QRect(0, top, size.width(), bottom - top), {}};
        reg.edges = Redaction::Edges{top == 0, bottom == size.height(), true, true};
        c.regions.push_back(reg);
    }
    return c;
}

TextTracker::Change TextTracker::compare(const QImage &frame)
{
    const QImage img = (frame.format() == QImage::Format_RGB32 || frame.format() == QImage::Format_ARGB32 ||
                        frame.format() == QImage::Format_ARGB32_Premultiplied)
                           ? frame
                           : frame.convertToFormat(QImage::Format_RGB32);
    const int w = img.width(), h = img.height();
    const int cols = (w + kTile - 1) / kTile;
    const int rows = (h + kTile - 1) / kTile;
    std::vector<uint64_t> cur(size_t(h) * cols);
    for (int y = 0; y < h; ++y) {
        const uchar *line = img.constScanLine(y);
        for (int c = 0; c < cols; ++c) {
            const int x0 = c * kTile;
            const int n = std::min(kTile, w - x0) * 4;
            cur[size_t(y) * cols + c] = hashBytes(line + x0 * 4, n);
        }
    }
    const bool comparable = !hashes_.empty() && size_ == img.size();
    std::vector<uint64_t> prev = std::move(hashes_);
    hashes_ = cur;
    size_ = img.size();
    if (!comparable)
        return whole(img.size());

    Change c;
    c.size = img.size();
    c.fresh = false;
    c.cols = cols;
    c.rows = rows;

    // The scroll: rows of the new frame that match a row of the old one
    // further down vote for that distance. Only rows unlike the row above
    // vote (flat background says nothing about movement); each column of
    // tiles votes on its own, so a fixed side bar or a moving scroll bar
    // does not hide the page's movement.
    std::unordered_map<int, int> votes;
    for (int col = 0; col < cols; ++col) {
        std::unordered_map<uint64_t, std::vector<int>> where;
        for (int y = 1; y < h; ++y) {
            const uint64_t v = prev[size_t(y) * cols + col];
            if (v == prev[size_t(y - 1) * cols + col])
                continue;
            auto &list = where[v];
            if (list.size() < 4)
                list.push_back(y);
        }
        for (int y = 1; y < h; ++y) {
            const uint64_t v = cur[size_t(y) * cols + col];
            if (v == cur[size_t(y - 1) * cols + col] || v == prev[size_t(y) * cols + col])
                continue;
            auto it = where.find(v);
            if (it == where.end() || it->second.size() > 3)
                continue;
            for (int yp : it->second)
                ++votes[yp - y];
        }
    }
    int best = 0, bestVotes = 0;
    for (const auto &[dy, n] : votes) {
        if (dy != 0 && (n > bestVotes || (n == bestVotes && std::abs(dy) < std::abs(best)))) {
            best = dy;
            bestVotes = n;
        }
    }
    c.dy = bestVotes >= 8 ? best : 0;

    c.tiles.assign(size_t(cols) * rows, 0);
    for (int r = 0; r < rows; ++r) {
        const int y0 = r * kTile, y1 = std::min(h, y0 + kTile);
        for (int col = 0; col < cols; ++col) {
            bool same = true, moved = c.dy != 0;
            for (int y = y0; y < y1 && (same || moved); ++y) {
                const uint64_t v = cur[size_t(y) * cols + col];
                if (same && v != prev[size_t(y) * cols + col])
                    same = false;
                if (moved) {
                    const int ys = y + c.dy;
                    if (ys < 0 || ys >= h || v != prev[size_t(ys) * cols + col])
                        moved = false;
                }
            }
            c.tiles[size_t(r) * cols + col] = uint8_t((same ? kSame : 0) | (moved ? kMoved : 0));
        }
    }

    // Changed tiles, merged along each row of tiles into spans (never across
    // rows: one changing column such as a scroll bar would join them all).
    for (int r = 0; r < rows; ++r) {
        int col = 0;
        while (col < cols) {
            if (c.tiles[size_t(r) * cols + col] != 0) {
                ++col;
                continue;
            }
            int end = col;
            int gap = 0;
            for (int k = col + 1; k < cols; ++k) {
                if (c.tiles[size_t(r) * cols + k] == 0) {
                    end = k;
                    gap = 0;
                } else if (++gap * kTile > 2 * kPadX) {
                    break;
                }
            }
            const int left = std::max(0, col * kTile - kPadX);
            const int right = std::min(w, (end + 1) * kTile + kPadX);
            const int top = std::max(0, r * kTile - kPadY);
            const int bottom = std::min(h, (r + 1) * kTile + kPadY);
            Region reg{QRect(left, top, right - left, bottom - top), {}};
            // The view's own edges cut text; a span's ends may cut a word of
            // unchanged text in the margin, read in full elsewhere only if it
            // was an identifier before, so the ends are treated as cuts too.
            reg.edges = Redaction::Edges{top == 0, bottom == h, true, true};
            c.regions.push_back(reg);
            col = end + 1;
        }
    }
    return c;
}

std::optional<std::vector<PixelHit>> TextTracker::recogniseRegion(Ocr::Engine &engine, const QImage &frame,
                                                                   const Region &region)
{
    if (!region.drawn)
        return Redaction::findIn(engine, frame, region.rect, region.edges);
    // Faces drawn into a canvas or an image are read better larger; a very
    // large area is read as it is (twice its size would cost too much).
    const double scale = double(region.rect.width()) * region.rect.height() <= kDrawnLarge ? 2.0 : 1.0;
    return Redaction::findIn(engine, frame, region.rect, region.edges, scale, true);
}

namespace {

// Whether every point of the box (sampled every few pixels) lies in one of the regions.
bool coveredBy(const QRectF &box, const std::vector<TextTracker::Region> &regions)
{
    if (box.isEmpty())
        return true;
    const double step = 4;
    for (double y = box.top(); y <= box.bottom(); y += step) {
        for (double x = box.left(); x <= box.right(); x += step) {
            const double px = std::min(x, box.right() - 0.5), py = std::min(y, box.bottom() - 0.5);
            bool in = false;
            for (const auto &r : regions) {
                if (QRectF(r.rect).contains(QPointF(px, py))) {
                    in = true;
                    break;
                }
            }
            if (!in)
                return false;
        }
    }
    return true;
}

// Whether every tile under the box has the given bit.
bool tilesHave(const TextTracker::Change &c, const QRectF &box, uint8_t bit)
{
    const int k = TextTracker::kTile;
    const int c0 = std::max(0, int(box.left()) / k), c1 = std::min(c.cols - 1, int(std::ceil(box.right()) - 1) / k);
    const int r0 = std::max(0, int(box.top()) / k), r1 = std::min(c.rows - 1, int(std::ceil(box.bottom()) - 1) / k);
    for (int r = r0; r <= r1; ++r)
        for (int col = c0; col <= c1; ++col)
            if (!(c.tiles[size_t(r) * c.cols + col] & bit))
                return false;
    return true;
}

// Whether some tile under the box changed.
bool touchesChanged(const TextTracker::Change &c, const QRectF &box)
{
    const int k = TextTracker::kTile;
    const int c0 = std::max(0, int(box.left()) / k), c1 = std::min(c.cols - 1, int(std::ceil(box.right()) - 1) / k);
    const int r0 = std::max(0, int(box.top()) / k), r1 = std::min(c.rows - 1, int(std::ceil(box.bottom()) - 1) / k);
    for (int r = r0; r <= r1; ++r)
        for (int col = c0; col <= c1; ++col)
            if (c.tiles[size_t(r) * c.cols + col] == 0)
                return true;
    return false;
}

} // namespace

bool TextTracker::changedUnder(const Change &c, const QRectF &box)
{
    if (c.fresh)
        return true;
    return touchesChanged(c, box.intersected(QRectF(QPointF(0, 0), QSizeF(c.size))));
}

namespace {

void addUnlessKnown(std::vector<PixelHit> &list, const PixelHit &h)
{
    for (const PixelHit &o : list)
        if (o.kind == h.kind && overlapRatio(o.box, h.box) >= 0.85)
            return;
    list.push_back(h);
}

} // namespace

std::vector<PixelHit> TextTracker::settle(const Change &change, const std::vector<PixelHit> &found)
{
    std::vector<PixelHit> out;
    const QRectF view(QPointF(0, 0), QSizeF(change.size));
    if (!change.fresh && !lost_) {
        for (const PixelHit &b : boxes_) {
            const QRectF still = b.box.intersected(view);
            const QRectF moved = b.box.translated(0, -change.dy).intersected(view);
            if (change.dy != 0 && !moved.isEmpty() && tilesHave(change, moved, kMoved)) {
                out.push_back(PixelHit{moved, b.kind});
                continue;
            }
            if (!still.isEmpty() && tilesHave(change, still, kSame)) {
                out.push_back(PixelHit{still, b.kind});
                continue;
            }
            if (change.dy != 0 && moved.isEmpty())
                continue; // scrolled out of the view
            // Its pixels changed: what was recognised there now speaks for
            // it. Where its place was not recognised in full, it stays.
            if (!still.isEmpty() && touchesChanged(change, still) && !coveredBy(still, change.regions))
                out.push_back(PixelHit{still, b.kind});
            if (change.dy != 0 && !moved.isEmpty() && touchesChanged(change, moved) &&
                !coveredBy(moved, change.regions))
                out.push_back(PixelHit{moved, b.kind});
        }
    }
    for (const PixelHit &h : found) {
        const QRectF box = h.box.intersected(view);
        if (!box.isEmpty())
            addUnlessKnown(out, PixelHit{box, h.kind});
    }
    boxes_ = out;
    lost_ = false;
    return out;
}

void TextTracker::reset()
{
    boxes_.clear();
    lost_ = true;
}
