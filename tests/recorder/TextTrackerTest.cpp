#include "recorder/TextTracker.h"

#include "RecorderFixtures.h"

#include <QPainter>
#include <gtest/gtest.h>

namespace {

// The fixture page with a scroll bar whose thumb moves with the page: one
// column that changes in every row of the view.
QImage withScrollBar(int scroll)
{
    QImage img = RecorderFixtures::portalView(QSize(800, 600), scroll);
    QPainter p(&img);
    p.fillRect(788, 0, 12, 600, QColor(240, 240, 240));
    p.fillRect(789, 2 + scroll / 3, 10, 200, QColor(150, 150, 150));
    return img;
}

bool covered(const QRect &r, const std::vector<TextTracker::Region> &regions)
{
    for (const auto &reg : regions)
        if (reg.rect.contains(r))
            return true;
    return false;
}

} // namespace

TEST(TextTracker, FindsTheScrollAndRecognisesOnlyWhatIsNew)
{
    TextTracker t;
    const TextTracker::Change first = t.compare(withScrollBar(0));
    EXPECT_TRUE(first.fresh);
    // The whole view is recognised the first time.
    EXPECT_TRUE(covered(QRect(0, 0, 800, 100), first.regions));
    EXPECT_TRUE(covered(QRect(0, 500, 800, 100), first.regions));

    const TextTracker::Change same = t.compare(withScrollBar(0));
    EXPECT_FALSE(same.fresh);
    EXPECT_EQ(same.dy, 0);
    EXPECT_TRUE(same.regions.empty());

    const TextTracker::Change scrolled = t.compare(withScrollBar(40));
    EXPECT_EQ(scrolled.dy, 40);
    // The rows that came into view at the bottom are read, and the moving
    // scroll bar, but the scroll bar does not join everything into one box.
    EXPECT_TRUE(covered(QRect(0, 560, 700, 40), scrolled.regions));
    for (const auto &r : scrolled.regions) {
        EXPECT_LE(r.rect.height(), TextTracker::kTile + 2 * TextTracker::kPadY);
        if (r.rect.bottom() < 500) {
            EXPECT_GT(r.rect.left(), 400) << "only the scroll bar changed up there";
        }
    }
}

TEST(TextTracker, BoxesFollowTheirPixels)
{
    TextTracker t;
    using Redaction::PixelHit;
    const auto c0 = t.compare(withScrollBar(0));
    const std::vector<PixelHit> found = {
        {QRectF(100, 150, 100, 14), "pan"},  // moves up with the page
        {QRectF(100, 30, 100, 14), "ifsc"},  // partly scrolled out: clipped at the top
        {QRectF(100, 5, 100, 14), "email"},  // wholly scrolled out
    };
    auto boxes = t.settle(c0, found);
    EXPECT_EQ(boxes.size(), 3u);

    // Unchanged: every box stays where it was.
    boxes = t.settle(t.compare(withScrollBar(0)), {});
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].box, QRectF(100, 150, 100, 14));

    boxes = t.settle(t.compare(withScrollBar(40)), {});
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].kind, "pan");
    EXPECT_EQ(boxes[0].box, QRectF(100, 110, 100, 14));
    EXPECT_EQ(boxes[1].kind, "ifsc");
    EXPECT_EQ(boxes[1].box, QRectF(100, 0, 100, 4));

    // The same value found again where a box already lies is not doubled.
    boxes = t.settle(t.compare(withScrollBar(40)), {{QRectF(101, 110, 100, 14), "pan"}});
    EXPECT_EQ(boxes.size(), 2u);
}

TEST(TextTracker, AfterAFailedFrameTheNextIsReadWhole)
{
    TextTracker t;
    t.settle(t.compare(withScrollBar(0)), {{QRectF(100, 150, 100, 14), "pan"}});
    t.reset();
    EXPECT_TRUE(t.needsWhole());
    const auto whole = TextTracker::whole(QSize(800, 600));
    EXPECT_TRUE(covered(QRect(0, 0, 800, 150), whole.regions));
    EXPECT_TRUE(covered(QRect(0, 300, 800, 40), whole.regions));
    EXPECT_TRUE(covered(QRect(0, 490, 800, 110), whole.regions));
    // Nothing found before the failure is carried on.
    EXPECT_TRUE(t.settle(whole, {}).empty());
    EXPECT_FALSE(t.needsWhole());
}
