// The bundled line icons: every name the app draws exists, and each is drawn
// in exactly the colour asked for.
#include "ui/Symbols.h"

#include <QImage>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

struct Coverage {
    int opaque = 0;
    bool onlyColour = true;
};

Coverage cover(const QPixmap &pm, const QColor &colour)
{
    Coverage c;
    const QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor p = img.pixelColor(x, y);
            // Edge pixels lose precision to premultiplied alpha; judge the body.
            if (p.alpha() <= 200)
                continue;
            ++c.opaque;
            if (std::abs(p.red() - colour.red()) > 2 || std::abs(p.green() - colour.green()) > 2 ||
                std::abs(p.blue() - colour.blue()) > 2)
                c.onlyColour = false;
        }
    return c;
}

TEST(Symbols, EveryIconTheAppUsesIsDrawnInItsColour)
{
    const QColor royal(0x32, 0x57, 0xE0);
    for (const char *name : {"square.and.pencil", "indianrupeesign.circle", "chevron.up.chevron.down",
                             "square.grid.2x2", "point.3.connected.trianglepath.dotted", "envelope", "folder",
                             "bubble.left", "plus", "magnifyingglass", "sparkles", "percent", "arrow.down.doc",
                             "building.columns", "person.2", "book.closed", "checkmark.seal", "envelope.open",
                             "person.crop.rectangle.stack"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Symbols::has(name));
        const QPixmap pm = Symbols::image(name, 13, QFont::Normal, royal, 2.0);
        ASSERT_FALSE(pm.isNull());
        EXPECT_EQ(pm.size(), QSize(34, 34));
        EXPECT_EQ(pm.devicePixelRatio(), 2.0);
        const Coverage regular = cover(pm, royal);
        EXPECT_GT(regular.opaque, 20);
        EXPECT_TRUE(regular.onlyColour);
        // Heavier weights draw heavier strokes.
        EXPECT_GT(cover(Symbols::image(name, 13, QFont::Bold, royal, 2.0), royal).opaque, regular.opaque);
        EXPECT_FALSE(Symbols::icon(name, 12, QFont::Medium, royal).isNull());
    }
    EXPECT_FALSE(Symbols::has("no.such.symbol"));
    EXPECT_TRUE(Symbols::image("no.such.symbol", 13, QFont::Normal, royal).isNull());
    EXPECT_TRUE(Symbols::icon("no.such.symbol", 13, QFont::Normal, royal).isNull());
}

} // namespace
