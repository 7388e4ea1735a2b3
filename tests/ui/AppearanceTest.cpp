// The desktop's appearance as the kit reads it: the environment's word on
// reduced motion, and the desktop portal's settings and their changes (a fake
// portal on the test program's own session bus, on a connection of its own so
// that its answers come in later, as a real portal's do). On a bus shared with
// other test programs, their questions would reach the fake and its change
// signals would reach them.
#include "platform/Appearance.h"
#include "support/TestKit.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QSignalSpy>
#include <gtest/gtest.h>

TEST(AppearanceTest, EnvironmentOverridesReducedMotion)
{
    const struct {
        const char *value;
        std::optional<bool> expected;
    } cases[] = {{"1", true}, {"TRUE", true}, {"yes", true}, {"on", true},   {"0", false},
                 {"false", false}, {"No", false}, {"off", false}, {"maybe", std::nullopt}, {"", std::nullopt}};
    for (const auto &c : cases) {
        QProcessEnvironment env;
        env.insert(QStringLiteral("VELTO_REDUCE_MOTION"), QString::fromLatin1(c.value));
        EXPECT_EQ(Appearance::reduceMotionFromEnvironment(env), c.expected) << c.value;
    }
    EXPECT_EQ(Appearance::reduceMotionFromEnvironment(QProcessEnvironment()), std::nullopt);
}

namespace {

const char *const kPortal = "org.freedesktop.portal.Desktop";
const char *const kPath = "/org/freedesktop/portal/desktop";

// Answers Read the way the portal does: the value wrapped in a variant twice.
class FakePortalSettings : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    explicit FakePortalSettings(const QDBusConnection &bus) : bus(bus) {}
    QDBusConnection bus;
    QMap<QString, QVariant> values; // "namespace key" -> value
    int reads = 0;

    void announce(const QString &ns, const QString &key, const QVariant &value)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kPath),
                                                         QStringLiteral("org.freedesktop.portal.Settings"),
                                                         QStringLiteral("SettingChanged"));
        signal << ns << key << QVariant::fromValue(QDBusVariant(value));
        bus.send(signal);
    }
public slots:
    QDBusVariant Read(const QString &ns, const QString &key, const QDBusMessage &message)
    {
        ++reads;
        const auto it = values.constFind(ns + QLatin1Char(' ') + key);
        if (it == values.constEnd()) {
            message.setDelayedReply(true);
            bus.send(message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"), "no such key"));
            return {};
        }
        return QDBusVariant(QVariant::fromValue(QDBusVariant(*it)));
    }
};

} // namespace

TEST(AppearanceTest, FollowsTheDesktopPortal)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface()->isServiceRegistered(QString::fromLatin1(kPortal)))
        GTEST_SKIP() << "needs a private session bus without a desktop portal";
    qunsetenv("VELTO_REDUCE_MOTION");
    QDBusConnection portalBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-portal"));
    ASSERT_TRUE(portalBus.isConnected());
    FakePortalSettings portal(portalBus);
    portal.values.insert(QStringLiteral("org.freedesktop.appearance color-scheme"), QVariant::fromValue(uint(1)));
    portal.values.insert(QStringLiteral("org.gnome.desktop.interface enable-animations"), false);
    ASSERT_TRUE(portalBus.registerObject(QString::fromLatin1(kPath), &portal, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(portalBus.registerService(QString::fromLatin1(kPortal)));
    Appearance::Hooks::forget();
    QSignalSpy scheme(Appearance::shared(), &Appearance::colorSchemeChanged);
    QSignalSpy motion(Appearance::shared(), &Appearance::reduceMotionChanged);

    // Nothing waits for the portal: until it answers, a read gives light
    // with motion, and its answers, once in, are announced as changes.
    EXPECT_FALSE(Appearance::Hooks::desktopPrefersDark());
    EXPECT_FALSE(Appearance::Hooks::desktopReduceMotion());
    ASSERT_TRUE(TestKit::waitFor([&] { return scheme.count() == 1 && motion.count() == 1; }, 20000));
    EXPECT_TRUE(Appearance::Hooks::desktopPrefersDark());
    EXPECT_TRUE(Appearance::Hooks::desktopReduceMotion());
    EXPECT_EQ(portal.reads, 2) << "the colour scheme and the animations, each asked once";

    // An answer that is in before the first read is no change to anyone.
    portal.values.insert(QStringLiteral("org.gnome.desktop.interface enable-animations"), true);
    Appearance::Hooks::forget();
    scheme.clear();
    motion.clear();
    Appearance::askDesktop();
    ASSERT_TRUE(TestKit::waitFor([&] { return portal.reads == 4; }, 20000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(Appearance::Hooks::desktopPrefersDark());
    EXPECT_FALSE(Appearance::Hooks::desktopReduceMotion());
    QCoreApplication::processEvents();
    EXPECT_EQ(scheme.count(), 0);
    EXPECT_EQ(motion.count(), 0);

    portal.announce(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"),
                    QVariant::fromValue(uint(2)));
    ASSERT_TRUE(TestKit::waitFor([&] { return scheme.count() == 1; }, 20000));
    EXPECT_FALSE(Appearance::Hooks::desktopPrefersDark());

    // "No preference" falls back to GNOME's own word, read from the portal too.
    portal.values.insert(QStringLiteral("org.gnome.desktop.interface color-scheme"), QStringLiteral("prefer-dark"));
    portal.announce(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"),
                    QVariant::fromValue(uint(0)));
    ASSERT_TRUE(TestKit::waitFor([&] { return scheme.count() == 2; }, 20000));
    EXPECT_TRUE(Appearance::Hooks::desktopPrefersDark());

    portal.announce(QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("enable-animations"), false);
    ASSERT_TRUE(TestKit::waitFor([&] { return motion.count() == 1; }, 20000));
    EXPECT_TRUE(Appearance::Hooks::desktopReduceMotion());
    portal.announce(QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("enable-animations"), false);
    portal.announce(QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("enable-animations"), true);
    ASSERT_TRUE(TestKit::waitFor([&] { return motion.count() >= 2; }, 20000));
    EXPECT_EQ(motion.count(), 2) << "an unchanged value is not announced";
    EXPECT_FALSE(Appearance::Hooks::desktopReduceMotion());

    qputenv("VELTO_REDUCE_MOTION", "1");
    EXPECT_TRUE(Appearance::Hooks::desktopReduceMotion()) << "the environment wins";
    qunsetenv("VELTO_REDUCE_MOTION");

    portalBus.unregisterService(QString::fromLatin1(kPortal));
    portalBus.unregisterObject(QString::fromLatin1(kPath));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-portal"));
    Appearance::Hooks::forget();
}

#include "AppearanceTest.moc"
