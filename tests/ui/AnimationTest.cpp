// The keyed animations behind the marks, the orb and the switch.
#include "ui/Animation.h"
#include "support/TestKit.h"

#include <QColor>
#include <QPointF>
#include <QPointer>
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
