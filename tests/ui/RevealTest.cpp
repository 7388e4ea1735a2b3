// The circular reveal of a theme change: where the old picture still shows,
// the glow and the ring over time, and its single end.
#include "UiTestKit.h"
#include "support/TestKit.h"
#include "ui/Reveal.h"

#include <QSignalSpy>

using TestKit::waitFor;

namespace {

class RevealTest : public UiTestKit::UiTest {
protected:
    QWidget host;
    QImage picture{QSize(400, 300), QImage::Format_ARGB32_Premultiplied};
    const QRectF switchFrame{300, 10, 66, 34};
    void SetUp() override
    {
        UiTest::SetUp();
        UiTestKit::backdrop(host, Qt::white, QSize(400, 300));
        picture.fill(QColor(0, 0, 255));
    }
    // The colour at a point of the host with the overlay at a moment.
    static QColor at(QWidget &host, QPoint p)
    {
        const QImage img = host.grab().toImage();
        return img.pixelColor(p * img.devicePixelRatio());
    }
};

TEST_F(RevealTest, TheHoleReachesTheFarthestCorner)
{
    const struct {
        QSizeF size;
        QPointF centre;
        qreal radius;
    } cases[] = {
        {{400, 300}, {0, 0}, 508},            // 500 to the far corner
        {{400, 300}, {400, 300}, 508},
        {{400, 300}, {200, 150}, 258},
        {{400, 300}, {333, 27}, std::hypot(333.0, 273.0) + 8},
    };
    for (const auto &c : cases)
        EXPECT_NEAR(RevealOverlay::finalRadius(c.size, c.centre), c.radius, 1e-9);

    RevealOverlay overlay(&host, picture, switchFrame.center(), switchFrame, true);
    EXPECT_DOUBLE_EQ(overlay.holeRadius(0), 0.5);
    EXPECT_NEAR(overlay.holeRadius(RevealOverlay::holeSeconds), RevealOverlay::finalRadius({400, 300}, switchFrame.center()), 1e-9);
    EXPECT_GT(overlay.holeRadius(0.3), 0.5 * overlay.holeRadius(1.1)) << "easing out: most of the way early";
}

TEST_F(RevealTest, GlowAndRingOverTime)
{
    const struct {
        double t;
        qreal glowOpacity, glowScale, ringOpacity, ringScale;
    } cases[] = {
        {0.0, 1.0, 0.2, 1.0, 1.0},
        {0.66, 0.9, -1, -1, -1},  // the glow's middle key frame
        {0.5, -1, -1, 0.5, -1},
        {1.0, -1, -1, 0.0, 9.0},
        {1.1, 0.0, 3.2, 0.0, 9.0},
    };
    for (const auto &c : cases) {
        const std::pair<qreal, qreal> checks[] = {
            {c.glowOpacity, RevealOverlay::glowOpacity(c.t)},
            {c.glowScale, RevealOverlay::glowScale(c.t)},
            {c.ringOpacity, RevealOverlay::ringOpacity(c.t)},
            {c.ringScale, RevealOverlay::ringScale(c.t)},
        };
        for (const auto &[expected, actual] : checks) {
            if (expected >= 0) {
                EXPECT_NEAR(actual, expected, 1e-6) << c.t;
            }
        }
    }
    EXPECT_GT(RevealOverlay::curve().valueForProgress(0.3), 0.8);
}

TEST_F(RevealTest, TheOldPictureShowsOutsideTheHoleAndNeverOverTheSwitch)
{
    RevealOverlay overlay(&host, picture, switchFrame.center(), switchFrame, false);
    overlay.show();
    EXPECT_TRUE(overlay.testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(overlay.geometry(), host.rect());

    // A point shows the old picture exactly while the hole has not reached it.
    const QPoint farCorner(5, 295), nearSwitch(250, 80), inSwitch(333, 27);
    for (double t : {0.0, 0.02, 0.1, 0.3, 0.6, 1.1}) {
        overlay.showMoment(t);
        const qreal r = overlay.holeRadius(t);
        for (QPoint p : {farCorner, nearSwitch}) {
            const bool covered = QLineF(QPointF(p), switchFrame.center()).length() > r + 1;
            const bool open = QLineF(QPointF(p), switchFrame.center()).length() < r - 1;
            if (covered || open) {
                EXPECT_EQ(at(host, p) == QColor(0, 0, 255), covered) << p.x() << "," << p.y() << " at " << t;
            }
        }
        EXPECT_NE(at(host, inSwitch), QColor(0, 0, 255)) << "the switch shows through at " << t;
        if (t == 0.0) {
            EXPECT_EQ(at(host, farCorner), QColor(0, 0, 255));
            EXPECT_EQ(at(host, nearSwitch), QColor(0, 0, 255));
        }
    }
    EXPECT_NE(at(host, farCorner), QColor(0, 0, 255)) << "all open at the end";
}

TEST_F(RevealTest, TheAnimationEndsOnce)
{
    RevealOverlay overlay(&host, picture, switchFrame.center(), switchFrame, true);
    QSignalSpy done(&overlay, &RevealOverlay::finished);
    overlay.show();
    overlay.start();
    ASSERT_TRUE(waitFor([&] { return done.size() == 1; }, 20000));
    TestKit::spin(50);
    EXPECT_EQ(done.size(), 1);
    EXPECT_DOUBLE_EQ(overlay.moment(), 1.1);
    EXPECT_NE(at(host, QPoint(5, 295)), QColor(0, 0, 255)) << "nothing of the old look is left";
}

} // namespace
