#include "recorder/Redaction.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace Redaction {

namespace {

// A recognised box this close to an edge touches it.
constexpr double kEdgeSlack = 2.0;

// Background framed around an image before it is recognised.
constexpr int kFrameMargin = 8;

// The identifiers as fixed-format pieces, for telling whether a fragment cut
// off at an edge can be the start or the end of one; each is also written
// backwards, to be matched against the reversed fragment.
//
// Two readings of a fragment. A word cut off at the left or right keeps whole
// glyphs, so it must have the identifier's shape: L a letter, D a digit, each
// also taking its look-alikes, so "ABCDEI234F" still reads as a PAN. A line
// cut through by the top or bottom edge keeps only halves of its glyphs, which
// read as almost anything; there W is any letter or digit, and only the
// lengths and separators of an identifier count. E-mail fragments keep their
// own pattern in both readings.
const char *const kLetter = "[A-Z0158]";
const char *const kDigit = "[0-9OoIl|SB]";
const char *const kAny = "[A-Za-z0-9|]";

struct Partial {
    QString kind;
    QRegularExpression forward;
    QRegularExpression backward;
};

QRegularExpression whole(QString p, bool halfGlyphs)
{
    if (!halfGlyphs) {
        p.replace(QLatin1String("L"), QLatin1String(kLetter));
        p.replace(QLatin1String("D"), QLatin1String(kDigit));
    } else {
        p.replace(QLatin1String("W"), QLatin1String(kAny));
    }
    return QRegularExpression(QStringLiteral("\\A(?:%1)\\z").arg(p));
}

const std::vector<Partial> &partials(bool halfGlyphs)
{
    static const struct {
        const char *kind, *forward, *backward, *halfForward, *halfBackward;
    } table[] = {
        {"pan", "L{5}D{4}L", "LD{4}L{5}", "W{10}", "W{10}"},
        {"gstin", "D{2}L{5}D{4}L[1-9A-Z0158]Z[0-9A-Z]", "[0-9A-Z]Z[1-9A-Z0158]LD{4}L{5}D{2}", "W{15}", "W{15}"},
        {"aadhaar", "[2-9SB]D{3}[ -]?D{4}[ -]?D{4}", "D{4}[ -]?D{4}[ -]?D{3}[2-9SB]", "W{4}[ -]?W{4}[ -]?W{4}",
         "W{4}[ -]?W{4}[ -]?W{4}"},
        {"mobile", "(\\+?91[ -]?)?[6-9B]D{4}[ -]?D{5}", "D{5}[ -]?D{4}[6-9B]([ -]?19\\+?)?",
         "(\\+?91[ -]?)?W{5}[ -]?W{5}", "W{5}[ -]?W{5}([ -]?19\\+?)?"},
        {"email", "[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}", "[A-Za-z]{2,}\\.[A-Za-z0-9.-]+@[A-Za-z0-9._%+-]+",
         nullptr, nullptr},
        {"ifsc", "L{4}[0Oo][A-Z0-9]{6}", "[A-Z0-9]{6}[0Oo]L{4}", "W{11}", "W{11}"},
        {"account", "D(?:[ -]?D){8,17}", "D(?:[ -]?D){8,17}", "W(?:[ -]?W){8,17}", "W(?:[ -]?W){8,17}"},
    };
    auto build = [](bool half) {
        std::vector<Partial> out;
        for (const auto &row : table) {
            Partial p{QString::fromLatin1(row.kind), {}, {}};
            if (!row.halfForward) { // literal in both readings
                p.forward = QRegularExpression(QStringLiteral("\\A(?:%1)\\z").arg(QLatin1String(row.forward)));
                p.backward = QRegularExpression(QStringLiteral("\\A(?:%1)\\z").arg(QLatin1String(row.backward)));
            } else {
                p.forward = whole(QString::fromLatin1(half ? row.halfForward : row.forward), half);
                p.backward = whole(QString::fromLatin1(half ? row.halfBackward : row.backward), half);
            }
            if (p.forward.isValid() && p.backward.isValid())
                out.push_back(std::move(p));
        }
        return out;
    };
    static const std::vector<Partial> strict = build(false);
    static const std::vector<Partial> lenient = build(true);
    return halfGlyphs ? lenient : strict;
}

// The kind whose start (or end) the fragment can be, or an empty text.
QString fragmentKind(const QString &text, bool start, bool end, bool halfGlyphs)
{
    if (text.size() < 3)
        return QString();
    QString back = text;
    std::reverse(back.begin(), back.end());
    for (const Partial &p : partials(halfGlyphs)) {
        if (p.kind == QLatin1String("email") && !text.contains(QLatin1Char('@')))
            continue;
        if (start) {
            const auto m = p.forward.match(text, 0, QRegularExpression::PartialPreferCompleteMatch);
            if (m.hasMatch() || m.hasPartialMatch())
                return p.kind;
        }
        if (end) {
            const auto m = p.backward.match(back, 0, QRegularExpression::PartialPreferCompleteMatch);
            if (m.hasMatch() || m.hasPartialMatch())
                return p.kind;
        }
    }
    return QString();
}

OCRHit normalised(const QRectF &box, const QString &kind, double w, double h)
{
    return OCRHit{QRectF(box.x() / w, 1.0 - (box.y() + box.height()) / h, box.width() / w, box.height() / h), kind};
}

} // namespace

const std::vector<Pattern> &patterns()
{
    static const std::vector<Pattern> list = [] {
        const struct {
            const char *kind, *re;
        } table[] = {
            {"pan", "\\b[A-Z]{5}[0-9]{4}[A-Z]\\b"},
            {"gstin", "\\b[0-9]{2}[A-Z]{5}[0-9]{4}[A-Z][1-9A-Z]Z[0-9A-Z]\\b"},
            {"aadhaar", "(?<![0-9])[2-9][0-9]{3}[ -]?[0-9]{4}[ -]?[0-9]{4}(?![0-9])"},
            {"mobile", "(?<![0-9])(\\+?91[ -]?)?[6-9][0-9]{4}[ -]?[0-9]{5}(?![0-9])"},
            {"email", "[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}"},
            {"ifsc", "\\b[A-Z]{4}0[A-Z0-9]{6}\\b"},
            // Bank account numbers: 9 to 18 digits, grouped by spaces or
            // dashes, that are not amounts (no decimal point, no thousands
            // separators on either side). Last, so a number that is already
            // one of the kinds above is not taken twice.
            {"account", "(?<![0-9])(?<![0-9][.,])[0-9](?:[ -]?[0-9]){8,17}(?![0-9])(?![.,][0-9])"},
        };
        std::vector<Pattern> out;
        for (const auto &row : table) {
            QRegularExpression re(QString::fromLatin1(row.re));
            if (!re.isValid())
                continue;
            re.optimize();
            out.push_back(Pattern{QString::fromLatin1(row.kind), re});
        }
        return out;
    }();
    return list;
}

QString fixedVariant(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        switch (c.unicode()) {
        case 'O':
        case 'o':
            c = QLatin1Char('0');
            break;
        case 'I':
        case 'l':
        case '|':
            c = QLatin1Char('1');
            break;
        case 'S':
            c = QLatin1Char('5');
            break;
        case 'B':
            c = QLatin1Char('8');
            break;
        default:
            break;
        }
    }
    return out;
}

std::vector<PixelHit> lineHits(const Ocr::Line &line)
{
    std::vector<PixelHit> out;
    const QString &text = line.text;
    const QString fixed = fixedVariant(text);
    // Ranges already matched in either variant (they have the same length):
    // a run of digits wholly inside one of them is that kind, not an account
    // number; one that reaches beyond it ("5010 0234 5678 90" holds an
    // Aadhaar-shaped part) is covered whole.
    std::vector<std::pair<qsizetype, qsizetype>> taken[2];
    const auto within = [](const std::vector<std::pair<qsizetype, qsizetype>> &list, qsizetype a, qsizetype b) {
        return std::any_of(list.begin(), list.end(), [&](const auto &r) { return r.first <= a && b <= r.second; });
    };
    for (const Pattern &p : patterns()) {
        const bool account = p.kind == QLatin1String("account");
        for (int v = 0; v < 2; ++v) {
            const QString *variant = v == 0 ? &text : &fixed;
            const bool same = *variant == text;
            auto it = p.re.globalMatch(*variant);
            while (it.hasNext()) {
                const auto m = it.next();
                const qsizetype a = m.capturedStart(), b = m.capturedEnd();
                if (account && (within(taken[0], a, b) || within(taken[1], a, b)))
                    continue;
                if (!account)
                    taken[v].push_back({a, b});
                QRectF box = line.box;
                if (same) {
                    const QRectF tight = line.rangeBox(int(m.capturedStart()), int(m.capturedLength()));
                    if (!tight.isEmpty())
                        box = tight;
                }
                out.push_back(PixelHit{box, p.kind});
            }
        }
    }
    return out;
}

bool startsIdentifier(const QString &text, bool halfGlyphs)
{
    return !fragmentKind(text, true, false, halfGlyphs).isEmpty();
}

bool endsIdentifier(const QString &text, bool halfGlyphs)
{
    return !fragmentKind(text, false, true, halfGlyphs).isEmpty();
}

namespace {

// Each run of non-space characters of a line, by its start and length.
template <typename Fn>
void forEachWord(const QString &text, Fn fn)
{
    int i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i].isSpace())
            ++i;
        const int start = i;
        while (i < text.size() && !text[i].isSpace())
            ++i;
        if (i == start)
            break;
        fn(start, i - start);
    }
}

} // namespace

std::vector<PixelHit> edgeHits(const Ocr::Line &line, const QRectF &area, Edges edges)
{
    std::vector<PixelHit> out;
    if (!(edges.top || edges.bottom || edges.left || edges.right))
        return out;
    forEachWord(line.text, [&](int start, int length) {
        const QRectF box = line.rangeBox(start, length);
        if (box.isEmpty())
            return;
        const QString word = line.text.mid(start, length);
        const bool vertical = (edges.top && box.top() <= area.top() + kEdgeSlack) ||
                              (edges.bottom && box.bottom() >= area.bottom() - kEdgeSlack);
        const bool atLeft = edges.left && box.left() <= area.left() + kEdgeSlack;
        const bool atRight = edges.right && box.right() >= area.right() - kEdgeSlack;
        if (!(vertical || atLeft || atRight))
            return;
        // Across the glyphs, the word may be either end of an identifier.
        const QString kind = fragmentKind(word, vertical || atRight, vertical || atLeft, vertical);
        if (!kind.isEmpty())
            out.push_back(PixelHit{box, kind});
    });
    return out;
}

std::vector<PixelHit> shapedHits(const Ocr::Line &line)
{
    std::vector<PixelHit> out;
    forEachWord(line.text, [&](int start, int length) {
        const QString word = line.text.mid(start, length);
        int alnum = 0, digits = 0;
        bool at = false;
        for (const QChar c : word) {
            if (c.isLetterOrNumber())
                ++alnum;
            if (c.isDigit())
                ++digits;
            if (c == QLatin1Char('@'))
                at = true;
        }
        if (!((alnum >= 8 && digits >= 2) || (at && alnum >= 3)))
            return;
        const QRectF box = line.rangeBox(start, length);
        QString kind = fragmentKind(word, true, true, false);
        if (kind.isEmpty())
            kind = at ? QStringLiteral("email") : QStringLiteral("account");
        out.push_back(PixelHit{box.isEmpty() ? line.box : box, kind});
    });
    return out;
}

std::optional<std::vector<PixelHit>> findIn(Ocr::Engine &engine, const QImage &frame, const QRect &region, Edges edges,
                                            double scale, bool shapes)
{
    // The recogniser reads a copy of the region (told to look at a part of a
    // larger image, it finds far less), framed by a margin of the region's
    // own background: text that touches the border of an image is often not
    // seen at all, and text cut by the edge of the view always touches it.
    const QImage part = frame.copy(region);
    if (part.isNull())
        return std::vector<PixelHit>{};
    QImage framed(part.width() + 2 * kFrameMargin, part.height() + 2 * kFrameMargin, QImage::Format_RGB32);
    framed.fill(part.pixelColor(0, 0));
    {
        QPainter p(&framed);
        p.drawImage(kFrameMargin, kFrameMargin, part);
    }
    const bool enlarged = scale > 1.0;
    const QImage read = enlarged ? framed.scaled(qRound(framed.width() * scale), qRound(framed.height() * scale),
                                                 Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                 : framed;
    const double k = enlarged ? double(framed.width()) / read.width() : 1.0;
    const auto lines = recognise(engine, read);
    if (!lines)
        return std::nullopt;
    std::vector<PixelHit> out;
    const QRectF partArea(kFrameMargin / k, kFrameMargin / k, part.width() / k, part.height() / k);
    const QPointF at = QPointF(region.topLeft()) - QPointF(kFrameMargin, kFrameMargin);
    const auto place = [&](PixelHit h) {
        h.box = QRectF(h.box.x() * k, h.box.y() * k, h.box.width() * k, h.box.height() * k).translated(at);
        out.push_back(h);
    };
    for (const Ocr::Line &line : *lines) {
        for (const PixelHit &h : lineHits(line))
            place(h);
        for (const PixelHit &h : edgeHits(line, partArea, edges))
            place(h);
        if (shapes)
            for (const PixelHit &h : shapedHits(line))
                place(h);
    }
    return out;
}

QImage downscaled(const QImage &image, int width)
{
    if (image.isNull() || width <= 0)
        return QImage();
    const long height = std::lround(double(image.height()) * width / image.width());
    if (height <= 0)
        return QImage();
    return image.scaled(width, int(height), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

std::optional<std::vector<OCRHit>> ocrPrivate(const QImage &image)
{
    if (image.isNull())
        return std::nullopt;
    thread_local Ocr::Engine engine;
    QImage work = image;
    if (image.width() >= 1921) {
        const QImage half = downscaled(image, image.width() / 2);
        if (!half.isNull())
            work = half;
    }
    const auto found = findIn(engine, work, work.rect(), Edges{true, true, true, true});
    if (!found)
        return std::nullopt;
    std::vector<OCRHit> out;
    for (const PixelHit &h : *found)
        out.push_back(normalised(h.box, h.kind, work.width(), work.height()));
    return out;
}

} // namespace Redaction
