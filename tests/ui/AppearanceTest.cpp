// The desktop's appearance as the kit reads it: the environment's word on
// reduced motion, and the desktop portal's settings and their changes (a fake
// portal on the test's private session bus).
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
    QMap<QString, QVariant> values; // "namespace key" -> value
public slots:
    QDBusVariant Read(const QString &ns, const QString &key, const QDBusMessage &message)
    {
        const auto it = values.constFind(ns + QLatin1Char(' ') + key);
        if (it == values.constEnd()) {
            QDBusConnection::sessionBus().send(
                message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"), "no such key"));
            return {};
        }
        return QDBusVariant(QVariant::fromValue(QDBusVariant(*it)));
    }
};

void announce(const QString &ns, const QString &key, const QVariant &value)
{
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kPath),
                                                     QStringLiteral("org.freedesktop.portal.Settings"),
                                                     QStringLiteral("SettingChanged"));
    signal << ns << key << QVariant::fromValue(QDBusVariant(value));
    QDBusConnection::sessionBus().send(signal);
}

} // namespace

TEST(AppearanceTest, FollowsTheDesktopPortal)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface()->isServiceRegistered(QString::fromLatin1(kPortal)))
        GTEST_SKIP() << "needs a private session bus without a desktop portal";
    qunsetenv("VELTO_REDUCE_MOTION");
    FakePortalSettings portal;
    portal.values.insert(QStringLiteral("org.freedesktop.appearance color-scheme"), QVariant::fromValue(uint(1)));
    portal.values.insert(QStringLiteral("org.gnome.desktop.interface enable-animations"), true);
    ASSERT_TRUE(bus.registerObject(QString::fromLatin1(kPath), &portal, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(QString::fromLatin1(kPortal)));

    // The first read asks the portal (unless an earlier test read the desktop first).
    const bool first = Appearance::Hooks::desktopPrefersDark();
    QSignalSpy scheme(Appearance::shared(), &Appearance::colorSchemeChanged);
    QSignalSpy motion(Appearance::shared(), &Appearance::reduceMotionChanged);

    announce(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"),
             QVariant::fromValue(uint(first ? 2 : 1)));
    ASSERT_TRUE(TestKit::waitFor([&] { return scheme.count() == 1; }, 20000));
    EXPECT_EQ(Appearance::Hooks::desktopPrefersDark(), !first);

    // "No preference" falls back to GNOME's own word, read from the portal too.
    portal.values.insert(QStringLiteral("org.gnome.desktop.interface color-scheme"), QStringLiteral("prefer-dark"));
    announce(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"),
             QVariant::fromValue(uint(0)));
    TestKit::waitFor([&] { return Appearance::Hooks::desktopPrefersDark(); }, 3000);
    EXPECT_TRUE(Appearance::Hooks::desktopPrefersDark());

    announce(QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("enable-animations"), false);
    ASSERT_TRUE(TestKit::waitFor([&] { return motion.count() == 1; }, 20000));
    EXPECT_TRUE(Appearance::Hooks::desktopReduceMotion());
    announce(QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("enable-animations"), false);
    announce(QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("enable-animations"), true);
    ASSERT_TRUE(TestKit::waitFor([&] { return motion.count() >= 2; }, 20000));
    EXPECT_EQ(motion.count(), 2) << "an unchanged value is not announced";
    EXPECT_FALSE(Appearance::Hooks::desktopReduceMotion());

    qputenv("VELTO_REDUCE_MOTION", "1");
    EXPECT_TRUE(Appearance::Hooks::desktopReduceMotion()) << "the environment wins";
    qunsetenv("VELTO_REDUCE_MOTION");

    bus.unregisterService(QString::fromLatin1(kPortal));
    bus.unregisterObject(QString::fromLatin1(kPath));
}

#include "AppearanceTest.moc"
