#pragma once
#include <QImage>
#include <QRectF>
#include <QString>
#include <QVector>
#include <memory>
#include <optional>

// Text recognition in images (English), one engine per thread that uses it.
namespace Ocr {

// One recognised line: its text, its box, and a box for every UTF-16 unit of
// the text (a space between words gets the gap between them), so a range of
// the text can be given its own tight box. Pixel coordinates of the image
// passed in, origin top left, y downwards.
struct Line {
    QString text;
    QRectF box;
    QVector<QRectF> units; // units.size() == text.size()

    // The union of the boxes of units [from, from + length); an empty rectangle
    // when the range is empty or outside the text.
    QRectF rangeBox(int from, int length) const;
};

// A recogniser. Not shared between threads: each worker makes its own, and
// each engine computes on the calling thread only.
class Engine {
public:
    Engine();
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // False when the engine or its language data could not be loaded.
    bool ok() const;

    // The lines found in the image, in reading order; an empty list for an
    // image without text; nothing when recognition failed (engine not loaded,
    // an image that cannot be read). The image is passed whole: callers that
    // want part of a frame pass a copy of that part.
    std::optional<QVector<Line>> recognise(const QImage &image);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace Ocr
