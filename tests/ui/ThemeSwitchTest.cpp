// The day/night switch: size, presses, keys, assistive technology, the
// animated change and the twinkling stars.
#include "ui/ThemeSwitch.h"
#include "ui/Theme.h"
#include "support/TestKit.h"
#include "UiTestKit.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

using namespace UiTestKit;

namespace {
class ThemeSwitchTest : public UiTest {};
} // namespace

TEST_F(ThemeSwitchTest, AlwaysSixtySixByThirtyFour)
{
    for (const QRect &frame : {QRect(), QRect(5, 7, 200, 100), QRect(3, 4, 10, 10)}) {
        ThemeSwitch sw(frame);
        EXPECT_EQ(sw.size(), QSize(66, 34));
        EXPECT_EQ(sw.pos(), frame.topLeft());
        sw.resize(300, 300);
        EXPECT_EQ(sw.size(), QSize(66, 34));
    }
    ThemeSwitch sw;
    EXPECT_EQ(sw.toolTip(), QStringLiteral("Light or dark"));
    EXPECT_FALSE(sw.isOn());
}

TEST_F(ThemeSwitchTest, APressSendsTheActionOnlyWhenReleasedInside)
{
    ThemeSwitch sw;
    sw.show();
    QSignalSpy spy(&sw, &ThemeSwitch::triggered);
    QTest::mousePress(&sw, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(&sw, Qt::LeftButton, {}, QPoint(80, 10));
    EXPECT_EQ(spy.count(), 0) << "released outside";
    QTest::mousePress(&sw, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(&sw, Qt::LeftButton, {}, QPoint(60, 30));
    EXPECT_EQ(spy.count(), 1);
    QTest::mouseRelease(&sw, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(spy.count(), 1) << "a release without a press";
    EXPECT_FALSE(sw.isOn()) << "the switch never changes itself";
}

TEST_F(ThemeSwitchTest, SpaceAndReturnPressIt)
{
    ThemeSwitch sw;
    EXPECT_EQ(sw.focusPolicy(), Qt::TabFocus) << "reached by keyboard, not focused by a click";
    QSignalSpy spy(&sw, &ThemeSwitch::triggered);
    const struct {
        Qt::Key key;
        int sends;
    } keys[] = {{Qt::Key_Space, 1}, {Qt::Key_Return, 1}, {Qt::Key_Enter, 0}, {Qt::Key_A, 0}, {Qt::Key_Tab, 0}};
    for (const auto &k : keys) {
        spy.clear();
        QTest::keyClick(&sw, k.key);
        EXPECT_EQ(spy.count(), k.sends) << int(k.key);
    }
}

TEST_F(ThemeSwitchTest, AssistiveTechnologySeesADarkModeSwitch)
{
    ThemeSwitch sw;
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(&sw);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->role(), QAccessible::CheckBox);
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("Dark mode"));
    EXPECT_EQ(a->text(QAccessible::Value), QStringLiteral("0"));
    EXPECT_FALSE(a->state().checked);
    sw.setOn(true, false);
    EXPECT_EQ(a->text(QAccessible::Value), QStringLiteral("1"));
    EXPECT_TRUE(a->state().checked);
    ASSERT_NE(a->valueInterface(), nullptr);
    EXPECT_EQ(a->valueInterface()->currentValue().toInt(), 1);
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("Dark mode"));

    QSignalSpy spy(&sw, &ThemeSwitch::triggered);
    ASSERT_NE(a->actionInterface(), nullptr);
    a->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(spy.count(), 1);
    EXPECT_TRUE(sw.isOn());
}

TEST_F(ThemeSwitchTest, ChangesAnimateOnlyWhenTheyChangeAndMotionIsAllowed)
{
    ThemeSwitch sw;
    sw.setOn(false, true);
    EXPECT_EQ(sw.animation("state"), nullptr) << "the same state again";

    sw.setOn(true, true);
    LayerAnimation *change = sw.animation("state");
    ASSERT_NE(change, nullptr);
    EXPECT_DOUBLE_EQ(change->seconds, 0.7);
    // It backs off first and overshoots before it settles.
    EXPECT_LT(change->timing.valueForProgress(0.1), 0.0);
    EXPECT_GT(change->timing.valueForProgress(0.85), 1.0);
    EXPECT_TRUE(TestKit::waitFor([&] { return sw.animation("state") == nullptr; }, 20000));
    EXPECT_EQ(sw.currentLook().knob, QPointF(49, 17));

    desktopReduceMotion = true;
    sw.setOn(false, true);
    EXPECT_EQ(sw.animation("state"), nullptr);
    EXPECT_EQ(sw.currentLook().knob, QPointF(17, 17));
}

TEST_F(ThemeSwitchTest, StarsTwinkleOnlyAtNightWithMotion)
{
    ThemeSwitch sw;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(sw.animation(QStringLiteral("star%1.twinkle").arg(i)), nullptr);
    sw.setOn(true, false);
    const double delays[] = {0, 0.8, 1.5};
    for (int i = 0; i < 3; ++i) {
        LayerAnimation *t = sw.animation(QStringLiteral("star%1.twinkle").arg(i));
        ASSERT_NE(t, nullptr) << i;
        EXPECT_EQ(t->values, QVariantList({1.0, 0.35}));
        EXPECT_DOUBLE_EQ(t->seconds, 1.3);
        EXPECT_TRUE(t->autoreverses);
        EXPECT_DOUBLE_EQ(t->beginDelay, delays[i]);
    }
    reduceMotion(true);
    EXPECT_EQ(sw.animation("star0.twinkle"), nullptr);
    reduceMotion(false);
    EXPECT_NE(sw.animation("star0.twinkle"), nullptr) << "twinkling resumes at once";
    sw.setOn(false, false);
    EXPECT_EQ(sw.animation("star2.twinkle"), nullptr);
}

TEST_F(ThemeSwitchTest, DrawsADaySkyAndANightSky)
{
    desktopReduceMotion = true;
    ThemeSwitch sw;
    const QImage day = grab(&sw);
    const ThemeSwitch::Look off = ThemeSwitch::look(false);
    EXPECT_TRUE(near(day.pixelColor(33, 3), off.trackTop, 16)) << "blue sky at the top";
    EXPECT_TRUE(near(day.pixelColor(64, 2), sw.palette().color(QPalette::Window), 2)) << "outside the pill";
    const QColor sun = day.pixelColor(17, 17);
    EXPECT_GT(sun.red(), 220);
    EXPECT_LT(sun.blue(), 170) << "a yellow sun on the left";
    EXPECT_TRUE(near(day.pixelColor(42, 19), Qt::white, 12)) << "a cloud";

    sw.setOn(true, false);
    const QImage night = grab(&sw);
    const ThemeSwitch::Look on = ThemeSwitch::look(true);
    EXPECT_TRUE(near(night.pixelColor(33, 3), on.trackTop, 16)) << "night sky";
    EXPECT_TRUE(near(night.pixelColor(17, 25), on.trackBottom, 20)) << "the sun has gone";
    const QColor moon = night.pixelColor(52, 10);
    EXPECT_GT(moon.red(), 200);
    EXPECT_GT(moon.blue(), 200) << "a pale moon on the right";
    EXPECT_TRUE(near(night.pixelColor(13, 10), Qt::white, 40)) << "a star";
}
