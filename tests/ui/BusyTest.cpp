// The busy orb and the working Pavi in the window icon.
#include "ui/Busy.h"
#include "ui/Theme.h"
#include "support/TestKit.h"
#include "UiTestKit.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <cmath>

using namespace UiTestKit;

namespace {
class BusyTest : public UiTest {};
} // namespace

TEST_F(BusyTest, OrbGeometryFollowsItsSize)
{
    const struct {
        int side;
        qreal r, ring, ringWidth, ring2, ring2Width, core;
    } cases[] = {
        {20, 10, 9, 1.3, 7, 1.1, 2},
        {60, 30, 29, 3, 21, 2.4, 5.4},
        {8, 4, 3, 1.3, 1, 1.1, 2},
    };
    for (const auto &c : cases) {
        OrbView orb(QRect(5, 5, c.side, c.side));
        const OrbView::Geometry &g = orb.geometry();
        EXPECT_DOUBLE_EQ(g.r, c.r) << c.side;
        EXPECT_DOUBLE_EQ(g.ringRadius, c.ring) << c.side;
        EXPECT_DOUBLE_EQ(g.ringWidth, c.ringWidth) << c.side;
        EXPECT_DOUBLE_EQ(g.ring2Radius, c.ring2) << c.side;
        EXPECT_DOUBLE_EQ(g.ring2Width, c.ring2Width) << c.side;
        EXPECT_NEAR(g.coreRadius, c.core, 1e-12) << c.side;
        EXPECT_EQ(g.centre, QPointF(c.side / 2.0, c.side / 2.0));
    }
    OrbView wide(QRect(0, 0, 40, 20));
    EXPECT_DOUBLE_EQ(wide.geometry().r, 10);
}

TEST_F(BusyTest, OrbSpinsWhileBusyAndRestsFaintly)
{
    OrbView orb(QRect(0, 0, 20, 20));
    EXPECT_TRUE(orb.animation("ring.spin") == nullptr);
    EXPECT_DOUBLE_EQ(orb.ringOpacity(), 0.22);

    orb.setBusy(true);
    LayerAnimation *spin = orb.animation("ring.spin"), *spin2 = orb.animation("ring2.spin");
    LayerAnimation *pulse = orb.animation("core.pulse");
    ASSERT_TRUE(spin && spin2 && pulse);
    EXPECT_DOUBLE_EQ(spin->seconds, 1.5);
    EXPECT_EQ(spin->values, QVariantList({0.0, 2 * M_PI}));
    EXPECT_DOUBLE_EQ(spin2->seconds, 2.4);
    EXPECT_EQ(spin2->values, QVariantList({0.0, -2 * M_PI})) << "the inner ring turns the other way";
    EXPECT_EQ(pulse->values, QVariantList({0.35, 1.0}));
    EXPECT_DOUBLE_EQ(pulse->seconds, 0.85);
    EXPECT_TRUE(pulse->autoreverses);
    EXPECT_DOUBLE_EQ(orb.ringOpacity(), 1);

    orb.setBusy(true);
    EXPECT_EQ(orb.animation("ring.spin"), spin) << "started once";

    orb.setBusy(false);
    for (const char *key : {"ring.spin", "ring2.spin", "core.pulse"})
        EXPECT_EQ(orb.animation(key), nullptr) << key;
    EXPECT_DOUBLE_EQ(orb.ringOpacity(), 0.22);
    EXPECT_DOUBLE_EQ(orb.ring2Opacity(), 0.16);
    EXPECT_DOUBLE_EQ(orb.coreOpacity(), 0.3);
}

// Reduced motion means no repeating motion: a busy orb shows busy at full
// strength and keeps still, and follows the setting when it changes.
TEST_F(BusyTest, OrbUnderReducedMotionKeepsStill)
{
    desktopReduceMotion = true;
    OrbView orb(QRect(0, 0, 20, 20));
    orb.setBusy(true);
    for (const char *key : {"ring.spin", "ring2.spin", "core.pulse"})
        EXPECT_EQ(orb.animation(key), nullptr) << key;
    EXPECT_DOUBLE_EQ(orb.ringOpacity(), 1);
    EXPECT_DOUBLE_EQ(orb.coreOpacity(), 1);

    reduceMotion(false);
    ASSERT_NE(orb.animation("ring.spin"), nullptr);
    EXPECT_DOUBLE_EQ(orb.animation("ring.spin")->seconds, 1.5);
    EXPECT_NE(orb.animation("core.pulse"), nullptr);
    reduceMotion(true);
    EXPECT_EQ(orb.animation("ring.spin"), nullptr);
    EXPECT_EQ(orb.animation("core.pulse"), nullptr);
    EXPECT_TRUE(orb.busy());

    orb.setBusy(false);
    reduceMotion(false);
    EXPECT_EQ(orb.animation("ring.spin"), nullptr) << "a resting orb stays at rest";
}

TEST_F(BusyTest, OrbDrawsItsOpenRingsInTheAccent)
{
    scheme(false);
    QWidget host;
    backdrop(host, Qt::white, QSize(60, 60));
    auto *orb = new OrbView(QRect(0, 0, 60, 60), &host);
    orb->setBusy(false);
    // The outer ring (radius 29) runs counter-clockwise from 3 o'clock over
    // 243 degrees: the top is drawn, the lower right (300 degrees) is open.
    auto on = [](double deg, double radius) {
        return QPoint(int(std::lround(30 + radius * std::cos(deg * M_PI / 180))),
                      int(std::lround(30 - radius * std::sin(deg * M_PI / 180))));
    };
    QImage img = grab(&host);
    EXPECT_TRUE(near(img.pixelColor(on(90, 29)), composite(Theme::hex(0x3257E0, 0.95 * 0.22), Qt::white), 20));
    EXPECT_TRUE(near(img.pixelColor(on(300, 29)), Qt::white, 2));
    EXPECT_TRUE(near(img.pixelColor(30, 30), composite(Theme::hex(0x3257E0, 0.3), Qt::white), 10)) << "the dot";

    scheme(true);
    orb->retint();
    EXPECT_EQ(orb->ringColor().rgb(), Theme::royal().rgb());
    EXPECT_NEAR(orb->ringColor().alphaF(), 0.95, 0.01);
}

TEST_F(BusyTest, DockTileDrawsTheWorkingMarkAndBlinks)
{
    auto frame = [](int tick, bool reduce) {
        QImage img(128, 128, QImage::Format_ARGB32);
        img.fill(Qt::transparent);
        QPainter p(&img);
        DockMarkView::drawFrame(p, 128, tick, reduce);
        return img;
    };
    const QImage open = frame(0, false);
    EXPECT_EQ(open.pixelColor(2, 2).alpha(), 0) << "outside the tile's margin";
    EXPECT_TRUE(near(open.pixelColor(64, 12), Theme::hex(0x101840), 16)) << "the tile's top";
    // At tick 0 the body's side is 0.58 x 128; the left eye is centred near (56.6, 65.5).
    const qreal d = 0.58 * 128, o = (128 - d) / 2;
    const QPoint eyeTop(int(o + 0.4 * d), int(o + 0.52 * d - 4));
    EXPECT_TRUE(near(open.pixelColor(eyeTop), Qt::white, 10));
    const QColor belly = open.pixelColor(64, int(o + 0.8 * d));
    EXPECT_GT(belly.blue(), belly.red() + 80);
    for (int tick : {60, 61, 122}) {
        const QImage shut = frame(tick, true);
        EXPECT_FALSE(near(shut.pixelColor(eyeTop), Qt::white, 60)) << "slit at tick " << tick;
    }
    EXPECT_TRUE(near(frame(62, true).pixelColor(eyeTop), Qt::white, 10)) << "open again";
    // It breathes: at a quarter breath the body is larger.
    EXPECT_NE(frame(0, false), frame(7, false));
    EXPECT_EQ(frame(0, true), frame(7, true)) << "still under reduced motion";
}

TEST_F(BusyTest, DockMascotAnimatesTheWindowIconWhileBusy)
{
    QPixmap normal(16, 16);
    normal.fill(Qt::red);
    const QIcon before(normal);
    QGuiApplication::setWindowIcon(before);
    const qint64 normalKey = QGuiApplication::windowIcon().cacheKey();

    DockMascot::setBusy(true);
    EXPECT_TRUE(DockMascot::busy());
    EXPECT_NE(QGuiApplication::windowIcon().cacheKey(), normalKey) << "the mark shows at once";
    const int startTick = DockMascot::view()->tick;
    ASSERT_TRUE(TestKit::waitFor([&] { return DockMascot::view()->tick >= startTick + 2; }, 20000));
    const qint64 animatedKey = QGuiApplication::windowIcon().cacheKey();

    DockMascot::setBusy(true); // no second timer
    const int stopTick = [&] {
        DockMascot::setBusy(false);
        return DockMascot::view()->tick;
    }();
    EXPECT_FALSE(DockMascot::busy());
    EXPECT_EQ(QGuiApplication::windowIcon().cacheKey(), normalKey) << "the normal icon is back";
    EXPECT_NE(animatedKey, normalKey);
    TestKit::spin(200);
    EXPECT_EQ(DockMascot::view()->tick, stopTick) << "nothing runs while idle";

    DockMascot::setBusy(true);
    EXPECT_EQ(DockMascot::view()->tick, stopTick) << "the phase carries on";
    ASSERT_TRUE(TestKit::waitFor([&] { return DockMascot::view()->tick > stopTick; }, 20000));
    DockMascot::setBusy(false);
    const int last = DockMascot::view()->tick;
    TestKit::spin(200);
    EXPECT_EQ(DockMascot::view()->tick, last) << "one timer, stopped";
    QGuiApplication::setWindowIcon(QIcon());
}

TEST_F(BusyTest, DockMascotStandsStillWithReducedMotion)
{
    desktopReduceMotion = true;
    const qint64 blank = QGuiApplication::windowIcon().cacheKey();
    DockMascot::setBusy(true);
    EXPECT_NE(QGuiApplication::windowIcon().cacheKey(), blank) << "the working mark shows";
    const int still = DockMascot::view()->tick;
    TestKit::spin(300);
    EXPECT_EQ(DockMascot::view()->tick, still) << "no frames with reduced motion";

    reduceMotion(false);
    ASSERT_TRUE(TestKit::waitFor([&] { return DockMascot::view()->tick > still; }, 2000));
    reduceMotion(true);
    const int stopped = DockMascot::view()->tick;
    TestKit::spin(300);
    EXPECT_EQ(DockMascot::view()->tick, stopped);
    DockMascot::setBusy(false);
    QGuiApplication::setWindowIcon(QIcon());
}
