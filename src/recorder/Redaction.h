#pragma once
#include "platform/Ocr.h"

#include <QImage>
#include <QRectF>
#include <QRegularExpression>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

// Finding personal and tax identifiers drawn as text in a frame: PAN, GSTIN,
// Aadhaar, mobile numbers, e-mail addresses, IFSC codes and bank account
// numbers.
namespace Redaction {

// One found piece in coordinates normalised to the image (0 to 1 on both
// axes), origin at the lower-left corner, y upwards.
struct OCRHit {
    QRectF box;
    QString kind; // "pan", "gstin", "aadhaar", "mobile", "email", "ifsc", "account"
};

// The same in pixels of the image it was found in, origin top left, y down.
struct PixelHit {
    QRectF box;
    QString kind;
};

struct Pattern {
    QString kind;
    QRegularExpression re;
};

// The patterns in their fixed order, compiled once for the process; one that
// fails to compile is left out.
const std::vector<Pattern> &patterns();

// The look-alike variant of a recognised text: O and o read as 0; I, l and |
// as 1; S as 5; B as 8. Lengths do not change.
QString fixedVariant(const QString &text);

// Every pattern match of one recognised line, pattern by pattern, the text
// before its fixed variant. A match in the text itself (or in a fixed variant
// that equals it) gets the tight box of its characters; a match found only
// through the look-alikes gets the whole line's box. A run of digits counts
// as an account number unless it lies wholly within another kind's match.
std::vector<PixelHit> lineHits(const Ocr::Line &line);

// Which sides of the recognised area are edges where text may be cut off.
struct Edges {
    bool top = false;
    bool bottom = false;
    bool left = false;
    bool right = false;
};

// Values cut off at an edge: a word of the line whose box touches a cut edge
// of `area` and whose text reads as the start or the end of an identifier —
// at the left edge the end, at the right edge the start, at the top or bottom
// (where only halves of its glyphs show) either. Such a word gets its own box.
std::vector<PixelHit> edgeHits(const Ocr::Line &line, const QRectF &area, Edges edges);

// Whether text is the start (prefix) or the end (suffix) of a string that one
// of the patterns matches whole, reading look-alike letters and digits
// either way; fragments shorter than 3 characters, and e-mail fragments
// without "@", are not taken. With halfGlyphs (a line cut through by an edge)
// any letter or digit stands for any other: only the lengths and separators
// of the identifiers count.
bool startsIdentifier(const QString &text, bool halfGlyphs = false);
bool endsIdentifier(const QString &text, bool halfGlyphs = false);

// The recogniser the redaction uses; tests replace it (to fail, or to count).
// The default runs the given engine.
inline std::function<std::optional<QVector<Ocr::Line>>(Ocr::Engine &, const QImage &)> recognise =
    [](Ocr::Engine &engine, const QImage &image) { return engine.recognise(image); };

// Recognises one region of an image and answers the identifiers in it (the
// lines' matches, then the values cut off at the given edges of the region)
// in pixels of the whole image; nothing when recognition failed. The region
// is read enlarged by `scale`. With `shapes`, every word that has the shape
// of an identifier is taken too (shapedHits).
std::optional<std::vector<PixelHit>> findIn(Ocr::Engine &engine, const QImage &image, const QRect &region,
                                            Edges edges, double scale = 1.0, bool shapes = false);

// The words of a line that have the shape of an identifier however they
// were read: at least 8 letters and digits with at least 2 digits among
// them, or an "@" between letters. For pixels drawn in a canvas or an image,
// where a face the recogniser reads badly would otherwise leave a value
// readable to the eye; hiding a word too many is the lesser harm.
std::vector<PixelHit> shapedHits(const Ocr::Line &line);

// The image redrawn at the given pixel width (height in proportion, rounded),
// or a null image when it cannot be made.
QImage downscaled(const QImage &image, int width);

// Recognises a whole image (halved when it is wider than 1920 pixels) and
// answers every identifier in it with normalised boxes (lineHits, then the
// cut values at the image's edges); nothing when recognition failed. Uses an
// engine of the calling thread.
std::optional<std::vector<OCRHit>> ocrPrivate(const QImage &image);

} // namespace Redaction
