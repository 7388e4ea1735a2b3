#include "recorder/Redaction.h"

#include <cmath>

namespace Redaction {

namespace {

// A recognised box this close to an edge touches it.
constexpr double kEdgeSlack = 2.0;

// The identifiers as fixed-format pieces, for telling whether a fragment cut
// at an edge can be the start or the end of one. Letters and digits also take
// their look-alikes (a cut glyph is easily misread), so "ABCDEI234F" still
// reads as a PAN. The second list holds the same patterns written backwards,
// matched against the reversed fragment.
const char *const kLetter = "[A-Z0158]";
const char *const kDigit = "[0-9OoIl|SB]";

QString shape(QString p)
{
    p.replace(QLatin1String("L"), QLatin1String(kLetter));
    p.replace(QLatin1String("D"), QLatin1String(kDigit));
    return p;
}

struct Partial {
    QString kind;
    QRegularExpression forward;
    QRegularExpression backward;
};

const std::vector<Partial> &partials()
{
    static const std::vector<Partial> list = [] {
        const struct {
            const char *kind, *forward, *backward;
        } table[] = {
            {"pan", "L{5}D{4}L", "LD{4}L{5}"},
            {"gstin", "D{2}L{5}D{4}L[1-9A-Z0158]Z[0-9A-Z]", "[0-9A-Z]Z[1-9A-Z0158]LD{4}L{5}D{2}"},
            {"aadhaar", "[2-9SB]D{3}[ -]?D{4}[ -]?D{4}", "D{4}[ -]?D{4}[ -]?D{3}[2-9SB]"},
            {"mobile", "(\\+?91[ -]?)?[6-9B]D{4}[ -]?D{5}", "D{5}[ -]?D{4}[6-9B]([ -]?19\\+?)?"},
            {"email", "[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}", "[A-Za-z]{2,}\\.[A-Za-z0-9.-]+@[A-Za-z0-9._%+-]+"},
            {"ifsc", "L{4}[0Oo][A-Z0-9]{6}", "[A-Z0-9]{6}[0Oo]L{4}"},
        };
        std::vector<Partial> out;
        for (const auto &row : table) {
            // Only the email rows keep their literal letters; the others are shapes.
            const bool literal = QLatin1String(row.kind) == QLatin1String("email");
            const QString f = literal ? QString::fromLatin1(row.forward) : shape(QString::fromLatin1(row.forward));
            const QString b = literal ? QString::fromLatin1(row.backward) : shape(QString::fromLatin1(row.backward));
            Partial p{QString::fromLatin1(row.kind), QRegularExpression(QStringLiteral("\\A(?:%1)\\z").arg(f)),
                      QRegularExpression(QStringLiteral("\\A(?:%1)\\z").arg(b))};
            if (p.forward.isValid() && p.backward.isValid())
                out.push_back(std::move(p));
        }
        return out;
    }();
    return list;
}

bool fragmentFits(const QString &text, bool backward)
{
    if (text.size() < 3)
        return false;
    QString subject = text;
    if (backward)
        std::reverse(subject.begin(), subject.end());
    for (const Partial &p : partials()) {
        if (p.kind == QLatin1String("email") && !text.contains(QLatin1Char('@')))
            continue;
        const auto m = (backward ? p.backward : p.forward)
                           .match(subject, 0, QRegularExpression::PartialPreferCompleteMatch);
        if (m.hasMatch() || m.hasPartialMatch())
            return true;
    }
    return false;
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
    for (const Pattern &p : patterns()) {
        for (const QString *variant : {&text, &fixed}) {
            const bool same = *variant == text;
            auto it = p.re.globalMatch(*variant);
            while (it.hasNext()) {
                const auto m = it.next();
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

bool startsIdentifier(const QString &text) { return fragmentFits(text, false); }
bool endsIdentifier(const QString &text) { return fragmentFits(text, true); }

std::vector<PixelHit> edgeHits(const Ocr::Line &line, const QRectF &area, Edges edges)
{
    std::vector<PixelHit> out;
    if (!(edges.top || edges.bottom || edges.left || edges.right))
        return out;
    const QString &text = line.text;
    int i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i].isSpace())
            ++i;
        const int start = i;
        while (i < text.size() && !text[i].isSpace())
            ++i;
        if (i == start)
            break;
        const QRectF box = line.rangeBox(start, i - start);
        if (box.isEmpty())
            continue;
        const QString word = text.mid(start, i - start);
        const bool vertical = (edges.top && box.top() <= area.top() + kEdgeSlack) ||
                              (edges.bottom && box.bottom() >= area.bottom() - kEdgeSlack);
        const bool atLeft = edges.left && box.left() <= area.left() + kEdgeSlack;
        const bool atRight = edges.right && box.right() >= area.right() - kEdgeSlack;
        if (!(vertical || atLeft || atRight))
            continue;
        const bool wantStart = vertical || atRight;
        const bool wantEnd = vertical || atLeft;
        const bool cut = (wantStart && startsIdentifier(word)) || (wantEnd && endsIdentifier(word));
        if (cut) {
            // The kind of a fragment is a guess; the first kind it fits names it.
            QString kind;
            for (const Partial &p : partials()) {
                if (p.kind == QLatin1String("email") && !word.contains(QLatin1Char('@')))
                    continue;
                QString back = word;
                std::reverse(back.begin(), back.end());
                const auto f = p.forward.match(word, 0, QRegularExpression::PartialPreferCompleteMatch);
                const auto b = p.backward.match(back, 0, QRegularExpression::PartialPreferCompleteMatch);
                if ((wantStart && (f.hasMatch() || f.hasPartialMatch())) ||
                    (wantEnd && (b.hasMatch() || b.hasPartialMatch()))) {
                    kind = p.kind;
                    break;
                }
            }
            out.push_back(PixelHit{box, kind});
        }
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
    const auto lines = recognise(engine, work);
    if (!lines)
        return std::nullopt;
    const QRectF area(0, 0, work.width(), work.height());
    std::vector<OCRHit> out;
    for (const Ocr::Line &line : *lines) {
        for (const PixelHit &h : lineHits(line))
            out.push_back(normalised(h.box, h.kind, work.width(), work.height()));
        for (const PixelHit &h : edgeHits(line, area, Edges{true, true, true, true}))
            out.push_back(normalised(h.box, h.kind, work.width(), work.height()));
    }
    return out;
}

} // namespace Redaction
