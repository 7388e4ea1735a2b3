// The keyed animations behind the marks, the orb and the switch.
#include "ui/Animation.h"
#include "ui/Coalesce.h"
#include "support/TestKit.h"

#include <QColor>
#include <QPointF>
#include <QPointer>
#include <QWidget>
#include <cmath>
#include <gtest/gtest.h>

TEST(AnimationTest, ValuesFollowTimeReverseAndRepeat)
{
    LayerAnimation a;
    a.values = {1.0, 2.0};
    a.seconds = 2;
    EXPECT_DOUBLE_EQ(a.valueAt(0).toDouble(), 1.0);
    EXPECT_DOUBLE_EQ(a.valueAt(1).toDouble(), 1.5);
    EXPECT_DOUBLE_EQ(a.valueAt(5).toDouble(), 2.0) << "held at its end";
    EXPECT_EQ(a.duration(), 2000);

    a.autoreverses = true;
    a.repeatsForever = true;
    a.timing = Timing::easeInEaseOut();
    EXPECT_EQ(a.duration(), -1);
    EXPECT_NEAR(a.valueAt(2).toDouble(), 2.0, 1e-9) << "the far end after one way";
    EXPECT_NEAR(a.valueAt(4).toDouble(), 1.0, 1e-9) << "back after two";
    EXPECT_NEAR(a.valueAt(1).toDouble(), a.valueAt(3).toDouble(), 1e-9) << "the way back mirrors the way out";
    EXPECT_NEAR(a.valueAt(1).toDouble(), a.valueAt(5).toDouble(), 1e-9) << "it repeats";
    EXPECT_LT(a.valueAt(0.4).toDouble(), 1.2) << "eases in";

    a.beginDelay = 1;
    EXPECT_FALSE(a.valueAt(0.5).isValid());
    EXPECT_NEAR(a.valueAt(1).toDouble(), 1.0, 1e-9);
}

TEST(AnimationTest, KeyFramesBlendNumbersColoursAndLists)
{
    LayerAnimation a;
    a.values = {QVariantList{QColor(Qt::black), 0.0}, QVariantList{QColor(Qt::white), 10.0},
                QVariantList{QColor(Qt::black), 0.0}};
    a.keyTimes = {0, 0.25, 1};
    a.seconds = 4;
    const QVariantList at1 = a.valueAt(1).toList();
    EXPECT_EQ(at1[0].value<QColor>(), QColor(Qt::white));
    EXPECT_DOUBLE_EQ(at1[1].toDouble(), 10);
    const QVariantList at25 = a.valueAt(2.5).toList();
    EXPECT_DOUBLE_EQ(at25[1].toDouble(), 5);
    EXPECT_NEAR(at25[0].value<QColor>().redF(), 0.5, 0.01);

    // Colours stay within range when a curve overshoots; numbers carry on.
    EXPECT_EQ(blend(QColor(Qt::black), QColor(Qt::white), 1.3).value<QColor>(), QColor(Qt::white));
    EXPECT_DOUBLE_EQ(blend(0.0, 10.0, 1.3).toDouble(), 13.0);
    EXPECT_EQ(blend(QPointF(0, 0), QPointF(10, 20), 0.5).toPointF(), QPointF(5, 10));
}

TEST(AnimationTest, ASetKeepsOneAnimationPerKey)
{
    QObject owner;
    int changes = 0;
    AnimationSet set(&owner, [&] { ++changes; });
    auto *first = new LayerAnimation;
    first->values = {0.0, 1.0};
    first->repeatsForever = true;
    set.add("spin", first);
    QPointer<LayerAnimation> firstGuard(first);
    auto *second = new LayerAnimation;
    second->values = {0.0, 1.0};
    second->repeatsForever = true;
    set.add("spin", second);
    EXPECT_EQ(set.get("spin"), second);
    EXPECT_EQ(set.keys(), QStringList{"spin"});
    EXPECT_TRUE(TestKit::waitFor([&] { return firstGuard.isNull(); }, 20000)) << "the replaced one is gone";
    EXPECT_GT(changes, 0);

    auto *brief = new LayerAnimation;
    brief->values = {5.0, 6.0};
    brief->seconds = 0.05;
    set.add("ring.glow", brief);
    EXPECT_DOUBLE_EQ(set.number("missing", 7.0), 7.0);
    EXPECT_TRUE(TestKit::waitFor([&] { return set.get("ring.glow") == nullptr; }, 20000))
        << "removed when it ends";

    auto *kept = new LayerAnimation;
    kept->values = {5.0, 6.0};
    kept->seconds = 0.05;
    kept->removedOnCompletion = false;
    set.add("ring.kept", kept);
    EXPECT_TRUE(TestKit::waitFor([&] { return set.number("ring.kept", 0) == 6.0; }, 10000)) << "it ends at its last value";
    ASSERT_EQ(set.get("ring.kept"), kept);
    EXPECT_DOUBLE_EQ(set.number("ring.kept", 0), 6.0);

    set.removeAll("ring.");
    EXPECT_EQ(set.get("ring.kept"), nullptr);
    EXPECT_NE(set.get("spin"), nullptr);
}

// When the next frame is due: rests before the beginning and between cycles
// are skipped at once, a change too small to show waits for one that shows,
// and an animation that has ended asks for nothing more.
TEST(AnimationTest, NextChangeSkipsRestsAndChangesTooSmallToShow)
{
    const double frame = 1.0 / 60;
    LayerAnimation band;
    band.values = {0.0, 100.0};
    band.seconds = 1;
    band.cycle = 6;
    band.beginDelay = 2;
    band.repeatsForever = true;
    const struct {
        double t, next;
    } rests[] = {{0, 2}, {1.5, 2}, {3.5, 8}, {7.9, 8}, {9.2, 14}};
    for (const auto &c : rests)
        EXPECT_NEAR(band.nextChange(c.t, frame), c.next, 1e-9) << c.t;
    EXPECT_NEAR(band.nextChange(2.5, frame), 2.5 + frame, 1e-9) << "moving: every frame";

    LayerAnimation slow; // 1.0 to 1.04 over 2 s, shown in steps of 0.01
    slow.values = {1.0, 1.04};
    slow.seconds = 2;
    slow.repeatsForever = true;
    slow.autoreverses = true;
    slow.step = 0.01;
    const double next = slow.nextChange(0, frame);
    EXPECT_GT(next, 0.2) << "no frame until the value moves a step";
    EXPECT_LT(next, 0.6);
    EXPECT_NE(slow.shownAt(next), slow.shownAt(0));
    EXPECT_EQ(slow.shownAt(next - frame), slow.shownAt(0));

    LayerAnimation once;
    once.values = {0.0, 1.0};
    once.seconds = 0.5;
    EXPECT_NEAR(once.nextChange(0.49, 0.1), 0.5, 1e-9) << "its end is drawn";
    EXPECT_TRUE(std::isinf(once.nextChange(0.5, frame)));

    LayerAnimation colours;
    colours.values = {QColor(0, 0, 0), QColor(0, 0, 1)};
    colours.seconds = 1;
    EXPECT_NEAR(colours.nextChange(0, frame), 0.5, frame) << "one 8-bit step, half way";
}

namespace {
// A widget that counts its paintings.
struct Counted : QWidget {
    int paints = 0;
    void paintEvent(QPaintEvent *) override { ++paints; }
};
} // namespace

// The set wakes its owner only while the owner can be seen; what ends still
// ends meanwhile.
TEST(AnimationTest, ASetRestsWhileItsOwnerIsHidden)
{
    Counted owner;
    owner.resize(20, 20);
    AnimationSet set(&owner, [&] { owner.update(); });
    set.add("spin", LayerAnimation::loop("rotation", 0.0, 1.0, 0.5, false));
    TestKit::spin(300);
    EXPECT_LE(set.frames(), 1) << "hidden: no frames";

    owner.show();
    ASSERT_TRUE(TestKit::waitFor([&] { return set.frames() >= 5; }, 5000));

    owner.hide();
    TestKit::spin(50);
    const int seen = set.frames();
    auto *brief = new LayerAnimation;
    brief->values = {0.0, 1.0};
    brief->seconds = 0.1;
    set.add("brief", brief);
    EXPECT_TRUE(TestKit::waitFor([&] { return set.get("brief") == nullptr; }, 3000)) << "it ends unseen";
    TestKit::spin(200);
    EXPECT_LE(set.frames(), seen + 1);
}

// Between cycles nothing wakes: a loop that moves for 0.05 s of every 30 s
// draws its moving frames and then sleeps.
TEST(AnimationTest, ASetSleepsThroughRests)
{
    QObject owner;
    int changes = 0;
    AnimationSet set(&owner, [&] { ++changes; });
    auto *a = LayerAnimation::loop("opacity", 0.0, 1.0, 0.05, false);
    a->cycle = 30;
    a->beginDelay = 0.2;
    set.add("pulse", a);
    ASSERT_TRUE(TestKit::waitFor([&] { return set.frames() >= 2; }, 3000)) << "it moves after its delay";
    TestKit::spin(300);
    const int after = set.frames();
    TestKit::spin(500);
    EXPECT_EQ(set.frames(), after) << "asleep until the next cycle";
}

TEST(AnimationTest, ACoalescerRunsTheFirstAtOnceAndTheLastOfABurstOnce)
{
    Coalescer c(0.2);
    std::vector<int> ran;
    c.post([&] { ran.push_back(1); });
    EXPECT_EQ(ran, std::vector<int>{1}) << "at once";
    for (int i = 2; i <= 5; ++i)
        c.post([&ran, i] { ran.push_back(i); });
    EXPECT_TRUE(c.pending());
    EXPECT_EQ(ran, std::vector<int>{1});
    ASSERT_TRUE(TestKit::waitFor([&] { return ran.size() == 2; }, 3000));
    EXPECT_EQ(ran, (std::vector<int>{1, 5})) << "the burst as its last";
    EXPECT_FALSE(c.pending());
    TestKit::spin(300);
    EXPECT_EQ(ran.size(), 2u);
    c.post([&] { ran.push_back(6); });
    EXPECT_EQ(ran.size(), 3u) << "a quiet interval later, at once again";
}
