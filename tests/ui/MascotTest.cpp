// The drop's geometry and the animated mark.
#include "ui/Mascot.h"
#include "ui/Theme.h"
#include "support/TestKit.h"
#include "UiTestKit.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

using namespace UiTestKit;

namespace {
class MascotTest : public UiTest {};

// The points of a path: every element's coordinates, in order.
QList<QPointF> pointsOf(const QPainterPath &p)
{
    QList<QPointF> out;
    for (int i = 0; i < p.elementCount(); ++i)
        out << QPointF(p.elementAt(i).x, p.elementAt(i).y);
    return out;
}
} // namespace

TEST_F(MascotTest, BodyIsTheSvgOutlineInItsRectangle)
{
    // The outline's numbers, in the 100 box with y down, in drawing order.
    const QList<QPointF> svg{{50, 11}, {63, 11}, {87, 45}, {87, 62}, {87, 80}, {70, 91}, {50, 91},
                             {30, 91}, {13, 80}, {13, 62}, {13, 45}, {37, 11}, {50, 11}};
    const QList<QPointF> body = pointsOf(MascotShape::body(QRectF(0, 0, 100, 100)));
    ASSERT_GE(body.size(), svg.size());
    for (qsizetype i = 0; i < svg.size(); ++i) {
        EXPECT_NEAR(body[i].x(), svg[i].x(), 1e-9) << i;
        EXPECT_NEAR(body[i].y(), svg[i].y(), 1e-9) << i;
    }
    EXPECT_TRUE(MascotShape::svgPath.startsWith(QStringLiteral("M50 11C63 11 87 45 87 62")));
    // Placed in another rectangle, it scales and moves with it.
    const QRectF r(10, 20, 200, 50);
    const QRectF bounds = MascotShape::body(r).boundingRect();
    EXPECT_NEAR(bounds.top(), 20 + 0.11 * 50, 1e-6);
    EXPECT_NEAR(bounds.bottom(), 20 + 0.91 * 50, 1e-6);
    EXPECT_NEAR(bounds.left(), 10 + 0.13 * 200, 1e-6);
    EXPECT_NEAR(bounds.right(), 10 + 0.87 * 200, 1e-6);
}

TEST_F(MascotTest, EyesAreCapsulesAndHappyEyesArches)
{
    const QPainterPath eyes = MascotShape::eyes(QRectF(0, 0, 100, 100));
    EXPECT_EQ(eyes.boundingRect(), QRectF(35.5, 44, 29, 16));
    EXPECT_TRUE(eyes.contains(QPointF(40, 52)));
    EXPECT_TRUE(eyes.contains(QPointF(60, 52)));
    EXPECT_FALSE(eyes.contains(QPointF(50, 52)));
    EXPECT_FALSE(eyes.contains(QPointF(35.8, 44.3))) << "rounded corners";
    const QRectF happy = MascotShape::happyEyes(QRectF(0, 0, 100, 100)).boundingRect();
    EXPECT_NEAR(happy.left(), 34.5, 1e-9);
    EXPECT_NEAR(happy.right(), 65.5, 1e-9);
    EXPECT_NEAR(happy.bottom(), 55, 1e-9);
    EXPECT_LT(happy.top(), 55) << "the arches rise above their ends";
    EXPECT_EQ(MascotShape::top(), Theme::hex(0x4E75F2));
    EXPECT_EQ(MascotShape::bottom(), Theme::hex(0x2340B8));
}

TEST_F(MascotTest, ReduceMotionStopsAndStartsEveryLoopAtOnce)
{
    desktopReduceMotion = true;
    PaviMarkView mark(QRect(0, 0, 40, 40));
    mark.setHueCycle(true);
    for (const char *key : {"breathe", "blink", "shine", "hue"})
        EXPECT_EQ(mark.animation(key), nullptr) << key;

    reduceMotion(false);
    for (const char *key : {"breathe", "blink", "shine", "hue"})
        EXPECT_NE(mark.animation(key), nullptr) << key;

    reduceMotion(true);
    for (const char *key : {"breathe", "blink", "shine", "hue"})
        EXPECT_EQ(mark.animation(key), nullptr) << key;
}

TEST_F(MascotTest, DimmedIdleMarkRestsAndWakesWhenBusy)
{
    PaviMarkView mark(QRect(0, 0, 40, 40));
    EXPECT_EQ(mark.alphaValue(), 1.0);
    ASSERT_NE(mark.animation("breathe"), nullptr);
    EXPECT_EQ(mark.animation("breathe")->values, QVariantList({1.0, 1.04})) << "idle breathing is slow and small";
    EXPECT_DOUBLE_EQ(mark.animation("breathe")->seconds, 1.7);

    mark.setDimsWhenIdle(true);
    EXPECT_DOUBLE_EQ(mark.alphaValue(), 0.38);
    EXPECT_FALSE(mark.breathes());
    for (const char *key : {"breathe", "blink", "shine"})
        EXPECT_EQ(mark.animation(key), nullptr) << key;

    mark.setBusy(true);
    EXPECT_DOUBLE_EQ(mark.alphaValue(), 1.0);
    ASSERT_NE(mark.animation("breathe"), nullptr);
    EXPECT_EQ(mark.animation("breathe")->values, QVariantList({1.0, 1.07}));
    EXPECT_DOUBLE_EQ(mark.animation("breathe")->seconds, 0.55);
    EXPECT_TRUE(mark.animation("breathe")->autoreverses);
    EXPECT_NE(mark.animation("blink"), nullptr);
    EXPECT_NE(mark.animation("shine"), nullptr);

    // The same value again changes nothing; dimming again restarts the loops.
    LayerAnimation *breathe = mark.animation("breathe"), *blink = mark.animation("blink");
    mark.setBusy(true);
    EXPECT_EQ(mark.animation("breathe"), breathe);
    EXPECT_EQ(mark.animation("blink"), blink);
    mark.setDimsWhenIdle(true);
    EXPECT_NE(mark.animation("blink"), blink);
    EXPECT_NE(mark.animation("blink"), nullptr);

    mark.setBusy(false);
    EXPECT_DOUBLE_EQ(mark.alphaValue(), 0.38);
    EXPECT_EQ(mark.animation("breathe"), nullptr);
    EXPECT_EQ(mark.animation("blink"), nullptr);
}

TEST_F(MascotTest, BlinkShineAndHueLoopOnTheirOwnClocks)
{
    PaviMarkView mark(QRect(0, 0, 50, 50));
    mark.setHueCycle(true);
    LayerAnimation *blink = mark.animation("blink");
    ASSERT_NE(blink, nullptr);
    const double period = blink->seconds;
    EXPECT_GE(period, 3.2);
    EXPECT_LE(period, 5.8);
    EXPECT_EQ(blink->values, QVariantList({1.0, 1.0, 0.12, 1.0}));
    const double f = 0.13 / period;
    ASSERT_EQ(blink->keyTimes.size(), 4);
    EXPECT_NEAR(blink->keyTimes[1], 1 - 2 * f, 1e-12);
    EXPECT_NEAR(blink->keyTimes[2], 1 - f, 1e-12);
    // Shut 0.13 s before the end of the period, open at the end.
    EXPECT_NEAR(blink->valueAt(period - 0.13).toDouble(), 0.12, 1e-9);
    EXPECT_NEAR(blink->valueAt(period / 2).toDouble(), 1.0, 1e-9);

    LayerAnimation *shine = mark.animation("shine");
    ASSERT_NE(shine, nullptr);
    EXPECT_EQ(shine->values, QVariantList({-20.0, 70.0}));
    EXPECT_DOUBLE_EQ(shine->seconds, 1.4);
    EXPECT_GE(shine->cycle, 5.0);
    EXPECT_LE(shine->cycle, 7.0);
    EXPECT_GE(shine->beginDelay, 0.5);
    EXPECT_LE(shine->beginDelay, 3.5);
    EXPECT_FALSE(shine->valueAt(shine->beginDelay - 0.1).isValid()) << "nothing before it begins";
    EXPECT_TRUE(shine->valueAt(shine->beginDelay + 0.7).isValid());
    EXPECT_FALSE(shine->valueAt(shine->beginDelay + 3).isValid()) << "at rest for the rest of the cycle";

    LayerAnimation *hue = mark.animation("hue");
    ASSERT_NE(hue, nullptr);
    ASSERT_EQ(hue->values.size(), 14);
    EXPECT_DOUBLE_EQ(hue->seconds, 16);
    EXPECT_EQ(hue->values[0], hue->values[1]) << "the colours rest until 0.45";
    EXPECT_DOUBLE_EQ(hue->keyTimes[1], 0.45);
    EXPECT_DOUBLE_EQ(hue->keyTimes[13], 1.0);
    const QColor start = hue->values[0].toList()[0].value<QColor>();
    const QColor half = hue->values[7].toList()[0].value<QColor>(); // turned by 6/12
    const QColor end = hue->values[13].toList()[0].value<QColor>();
    EXPECT_EQ(start, MascotShape::top());
    EXPECT_NEAR(std::fmod(half.hsvHueF() - start.hsvHueF() + 1.0, 1.0), 0.5, 0.01);
    EXPECT_NEAR(half.hsvSaturationF(), start.hsvSaturationF(), 0.01);
    EXPECT_TRUE(near(end, start, 1)) << "a whole turn ends where it began";

    mark.setHueCycle(false);
    EXPECT_EQ(mark.animation("hue"), nullptr);
}

TEST_F(MascotTest, HappyEyesLastUntilTheLatestCallEnds)
{
    PaviMarkView mark(QRect(0, 0, 40, 40));
    // Scaled by the tests' time scale: 30 s is 300 ms here.
    QElapsedTimer clock;
    clock.start();
    mark.happy(30);
    EXPECT_TRUE(mark.happyEyesShown());
    TestKit::spin(150);
    mark.happy(30);
    const qint64 second = clock.elapsed();
    TestKit::waitFor([&] { return clock.elapsed() > 380; }, 1000);
    // Only a look between the first call's end and the second's tells; on a
    // loaded machine this thread may get there too late.
    if (second < 280 && clock.elapsed() < second + 280) {
        EXPECT_TRUE(mark.happyEyesShown()) << "the first call's end does not restore the eyes";
    }
    EXPECT_TRUE(TestKit::waitFor([&] { return !mark.happyEyesShown(); }, 20000));
    EXPECT_GE(clock.elapsed(), second + 280);
}

TEST_F(MascotTest, GlowPulsesAndSteadyGlowFollowsTheAccent)
{
    desktopReduceMotion = true; // a short pulse
    PaviMarkView mark(QRect(0, 0, 40, 40));
    mark.glow(true);
    EXPECT_EQ(mark.shadowColor(), Theme::hex(0x8EA6FF));
    LayerAnimation *glow = mark.animation("glow");
    ASSERT_NE(glow, nullptr);
    EXPECT_DOUBLE_EQ(glow->seconds, 0.5);
    EXPECT_EQ(glow->values, QVariantList({0.0, 1.0, 1.0, 0.0}));
    EXPECT_EQ(glow->keyTimes, QList<qreal>({0, 0.15, 0.6, 1}));
    EXPECT_TRUE(TestKit::waitFor([&] { return mark.animation("glow") == nullptr; }, 20000))
        << "the pulse is removed when it ends";
    EXPECT_EQ(mark.shadowOpacity(), 0);

    desktopReduceMotion = false;
    mark.glow(false, 2.0);
    EXPECT_EQ(mark.shadowColor(), Theme::hex(0xFFD65A));
    EXPECT_DOUBLE_EQ(mark.animation("glow")->seconds, 2.0);

    scheme(true);
    mark.setSteadyGlow(true);
    EXPECT_EQ(mark.shadowColor(), Theme::royal());
    EXPECT_DOUBLE_EQ(mark.shadowOpacity(), 0.55);
    EXPECT_DOUBLE_EQ(mark.shadowRadius(), 12);
    EXPECT_EQ(mark.shadowOffset(), QPointF(0, 0.06 * 40));
    mark.setSteadyGlow(false);
    EXPECT_EQ(mark.shadowOpacity(), 0);
}

TEST_F(MascotTest, ClicksPassThroughTheMark)
{
    QWidget parent;
    parent.resize(100, 100);
    auto *button = new QPushButton(&parent);
    button->setGeometry(0, 0, 100, 100);
    auto *mark = new PaviMarkView(QRect(20, 20, 40, 40), &parent);
    mark->raise();
    EXPECT_EQ(parent.childAt(QPoint(40, 40)), button);
}

TEST_F(MascotTest, MarkDrawsABlueDropWithWhiteEyes)
{
    desktopReduceMotion = true; // still: no breathing, no blink
    QWidget host;
    backdrop(host, Qt::black, QSize(100, 100));
    auto *mark = new PaviMarkView(QRect(0, 0, 100, 100), &host);
    const QImage img = grab(&host);
    EXPECT_TRUE(near(img.pixelColor(5, 5), Qt::black, 0)) << "outside the drop";
    EXPECT_TRUE(near(img.pixelColor(40, 52), Qt::white, 8)) << "left eye";
    EXPECT_TRUE(near(img.pixelColor(60, 52), Qt::white, 8)) << "right eye";
    const QColor belly = img.pixelColor(50, 80);
    EXPECT_GT(belly.blue(), belly.red() + 80) << "blue body";
    EXPECT_GT(belly.blue(), 150);

    mark->happy(100);
    const QImage happy = grab(&host);
    EXPECT_FALSE(near(happy.pixelColor(40, 58), Qt::white, 40)) << "the capsule is gone";
    EXPECT_TRUE(near(happy.pixelColor(40, 51), Qt::white, 60)) << "the arch's top";
}

// On screen the mark's frames show on a surface of its own: the window
// around it is not repainted for them (no repaint is asked of it).
TEST_F(MascotTest, FramesShowOnTheMarksOwnSurface)
{
    struct Host : QWidget {
        int repaints = 0;
        bool event(QEvent *e) override
        {
            if (e->type() == QEvent::UpdateRequest)
                ++repaints;
            return QWidget::event(e);
        }
    } host;
    host.resize(80, 80);
    auto *mark = new PaviMarkView(QRect(10, 10, 40, 40), &host);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    TestKit::spin(200);
    const int repaints = host.repaints, frames = mark->frames();
    ASSERT_TRUE(TestKit::waitFor([&] { return mark->frames() >= frames + 5; }, 10000)) << "it breathes";
    EXPECT_LE(host.repaints - repaints, 1);
}
