#include "recorder/Redaction.h"

#include <gtest/gtest.h>

namespace {

// A recognised line laid out in a fixed-pitch font: every unit 10 px wide,
// the line 20 px high at (100, 50).
Ocr::Line line(const QString &text)
{
    Ocr::Line l;
    l.text = text;
    for (int i = 0; i < text.size(); ++i)
        l.units.push_back(QRectF(100 + 10 * i, 50, 10, 20));
    l.box = QRectF(100, 50, 10 * text.size(), 20);
    return l;
}

QRectF span(int from, int length) { return QRectF(100 + 10 * from, 50, 10 * length, 20); }

struct Found {
    QString kind;
    QRectF box;
};

std::vector<Found> found(const QString &text)
{
    std::vector<Found> out;
    for (const auto &h : Redaction::lineHits(line(text)))
        out.push_back(Found{h.kind, h.box});
    return out;
}

} // namespace

TEST(Redaction, PatternsKeepTheirOrder)
{
    QStringList kinds;
    for (const auto &p : Redaction::patterns())
        kinds << p.kind;
    EXPECT_EQ(kinds, (QStringList{"pan", "gstin", "aadhaar", "mobile", "email", "ifsc", "account"}));
}

TEST(Redaction, FixedVariantSwapsLookAlikes)
{
    EXPECT_EQ(Redaction::fixedVariant("OoIl|SB xyz"), QString("00111 58 xyz").remove(' ').insert(7, ' '));
    EXPECT_EQ(Redaction::fixedVariant("Mobile"), QString("M0bi1e"));
}

TEST(Redaction, LineHitsFollowTheTable)
{
    const QRectF whole = line("x").box;
    struct Case {
        QString text;
        std::vector<QString> kinds;
        std::vector<QRectF> boxes; // empty: not checked
    };
    const auto L = [](const QString &t) { return line(t).box; };
    const std::vector<Case> cases = {
        // From the text only: its fixed variant A8CDE1234F is no PAN.
        {"ABCDE1234F", {"pan"}, {span(0, 10)}},
        // No look-alike in it: both variants match with the same tight box.
        {"ACDEF1234G", {"pan", "pan"}, {span(0, 10), span(0, 10)}},
        {"9876543210", {"mobile", "mobile"}, {span(0, 10), span(0, 10)}},
        {"+91 98765 43210", {"mobile", "mobile"}, {span(0, 15), span(0, 15)}},
        // Ten digits that are no mobile number may be a bank account.
        {"5876543210", {"account", "account"}, {span(0, 10), span(0, 10)}},
        // The word Mobile turns into M0bi1e: the second hit gets the line's box.
        {"Mobile 9876543210", {"mobile", "mobile"}, {span(7, 10), L("Mobile 9876543210")}},
        {"2345 6789 0123", {"aadhaar", "aadhaar"}, {span(0, 14), span(0, 14)}},
        {"1345 6789 0123", {"account", "account"}, {span(0, 14), span(0, 14)}},
        {"2345678901234", {"account", "account"}, {span(0, 13), span(0, 13)}},
        // Bank account numbers: 9 to 18 digits, grouped or not; the Aadhaar-
        // shaped start does not leave the last group uncovered.
        {"A/c 5010 0234 5678 90", {"aadhaar", "aadhaar", "account", "account"},
         {span(4, 14), span(4, 14), span(4, 17), span(4, 17)}},
        {"50100234567890123", {"account", "account"}, {span(0, 17)}},
        {"912-0100-3456-7891", {"account", "account"}, {span(0, 18)}},
        {"12345678", {}, {}},
        {"1234567890123456789", {}, {}},
        // Amounts are not account numbers.
        {"Rs 1,23,45,678.00", {}, {}},
        {"Total 1234567890.50", {}, {}},
        {"12,34,56,78,901", {}, {}},
        // A lower-case l among the digits: only the fixed variant reads it.
        {"98765 4321l", {"mobile"}, {L("98765 4321l")}},
        {"abcde1234f", {}, {}},
        // Its fixed variant 27A8CDE... is no GSTIN; the PAN inside it is not found alone.
        {"27ABCDE1234F1Z5", {"gstin"}, {span(0, 15)}},
        {"mail: a.b@example.com", {"email"}, {}},
        {"SBIN0001234", {"ifsc"}, {}},
    };
    (void)whole;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const auto hits = found(c.text);
        std::vector<QString> kinds;
        for (const auto &h : hits)
            kinds.push_back(h.kind);
        if (c.text.startsWith("mail")) {
            // The fixed variant reads "ma1l" and "examp1e.c0m": still one address.
            ASSERT_GE(hits.size(), 1u);
            EXPECT_EQ(hits[0].kind, "email");
            EXPECT_EQ(hits[0].box, span(6, 15));
            continue;
        }
        if (c.text == "SBIN0001234") {
            // "5BIN0001234" is no IFSC (a digit where a letter must stand).
            ASSERT_EQ(hits.size(), 1u);
            EXPECT_EQ(hits[0].box, span(0, 11));
            continue;
        }
        EXPECT_EQ(kinds, c.kinds);
        for (size_t i = 0; i < c.boxes.size() && i < hits.size(); ++i)
            EXPECT_EQ(hits[i].box, c.boxes[i]) << i;
    }
}

TEST(Redaction, FragmentsAtTheEdges)
{
    struct Case {
        QString text;
        bool start, end;
    };
    const std::vector<Case> cases = {
        {"ABCDE12", true, false},  {"E1234F", false, true},   {"ABCDEI234F", true, true},
        {"27ABCD", true, true /* the tail of an IFSC */},   {"a.b@exa", true, false},  {"b@example.com", true, true},
        {"example.com", false, false}, {"98765", true, true}, {"Name", false, false},
        {"AB", false, false},      {"SBIN000", true, false},
        // Digits may be either end of a bank account number.
        {"0001234", true, true},   {"5678 90", true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(Redaction::startsIdentifier(c.text), c.start);
        EXPECT_EQ(Redaction::endsIdentifier(c.text), c.end);
    }
    // Halves of glyphs read as anything: "AAPFA1234K" cut through its middle
    // was read as "AAPTALZO4N". Only lengths and separators count then.
    struct Half {
        QString text;
        bool either;
    };
    const std::vector<Half> halves = {
        {"AAPTALZO4N", true}, {"ZPAAPTALZO4NI", true}, {"2345 6789", true}, {"a.b@exa", true},
        // 16 half glyphs may be a bank account number; 19 are no identifier.
        {"IN", false}, {"ABCDEFGHIJKLMNOP", true}, {"ABCDEFGHIJKLMNOPQRS", false}, {"example.com", false},
        {"10:15:01", false},
    };
    for (const Half &h : halves) {
        SCOPED_TRACE(h.text.toStdString());
        EXPECT_EQ(Redaction::startsIdentifier(h.text, true) || Redaction::endsIdentifier(h.text, true), h.either);
    }
    EXPECT_FALSE(Redaction::startsIdentifier("AAPTALZO4N") || Redaction::endsIdentifier("AAPTALZO4N"));
}

TEST(Redaction, EdgeHitsTakeWordsTouchingACutEdge)
{
    // The line lies at y 50..70; an area whose top is at 51 cuts it.
    const Ocr::Line l = line("PAN ABCDE12 Name:");
    const auto top = Redaction::edgeHits(l, QRectF(0, 51, 1000, 100), Redaction::Edges{true, false, false, false});
    // Cut through its glyphs, any word of letters and digits may be half of an
    // identifier ("PAN" too); "Name:" is not one.
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[0].box, span(0, 3));
    EXPECT_EQ(top[1].box, span(4, 7));
    EXPECT_EQ(top[1].kind, "pan");
    // Not at a cut edge: nothing.
    EXPECT_TRUE(Redaction::edgeHits(l, QRectF(0, 0, 1000, 200), Redaction::Edges{true, true, true, true}).empty());
    // At the right edge only the start of an identifier counts.
    const Ocr::Line r = line("x E1234F");
    EXPECT_TRUE(Redaction::edgeHits(r, QRectF(0, 0, 180, 200), Redaction::Edges{false, false, false, true}).empty());
    EXPECT_EQ(Redaction::edgeHits(line("x ABCDE1"), QRectF(0, 0, 180, 200), Redaction::Edges{false, false, false, true}).size(), 1u);
}

TEST(Redaction, DownscaledKeepsTheProportion)
{
    QImage img(1921, 1001, QImage::Format_RGB32);
    img.fill(Qt::white);
    const QImage half = Redaction::downscaled(img, 1921 / 2);
    EXPECT_EQ(half.size(), QSize(960, 500)); // 1001 * 960 / 1921 = 500.2
    EXPECT_TRUE(Redaction::downscaled(QImage(), 10).isNull());
    EXPECT_TRUE(Redaction::downscaled(img, 0).isNull());
}
