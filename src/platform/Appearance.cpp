#include "platform/Appearance.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcessEnvironment>

namespace {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettings = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearanceNs = QStringLiteral("org.freedesktop.appearance");
const QString kGnomeNs = QStringLiteral("org.gnome.desktop.interface");

// Unwraps the variant-in-variant that the portal's Read answers.
QVariant unwrap(QVariant v)
{
    while (v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>())
        v = v.value<QDBusVariant>().variant();
    return v;
}

std::optional<QVariant> portalRead(const QString &ns, const QString &key)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(kPortal, kPortalPath, kSettings, QStringLiteral("Read"));
    call << ns << key;
    const QDBusMessage reply = bus.call(call, QDBus::Block, 500);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return unwrap(reply.arguments().constFirst());
}

// The portal's colour scheme: 1 prefers dark, 2 prefers light, 0 no preference.
std::optional<bool> schemeFromPortal(const QVariant &v)
{
    bool ok = false;
    const uint n = v.toUInt(&ok);
    if (!ok || (n != 1 && n != 2))
        return std::nullopt;
    return n == 1;
}

bool darkFromGnomeScheme(const QString &s)
{
    return s == QLatin1String("prefer-dark");
}

} // namespace

// Receives the portal's change signal (a D-Bus slot needs a QObject of its own).
class PortalListener : public QObject {
    Q_OBJECT
public:
    explicit PortalListener(Appearance *owner) : QObject(owner), owner_(owner) {}
public slots:
    void settingChanged(const QString &ns, const QString &key, const QDBusVariant &value)
    {
        owner_->settingChanged(ns, key, unwrap(value.variant()));
    }
private:
    Appearance *owner_;
};

Appearance::Appearance() = default;

Appearance *Appearance::shared()
{
    static Appearance *instance = [] {
        auto *a = new Appearance;
        if (QCoreApplication::instance())
            a->setParent(QCoreApplication::instance());
        return a;
    }();
    return instance;
}

void Appearance::load()
{
    if (loaded_)
        return;
    loaded_ = true;

    std::optional<bool> dark;
    if (auto v = portalRead(kAppearanceNs, QStringLiteral("color-scheme")))
        dark = schemeFromPortal(*v);
    // GNOME's own words come through the same portal; no settings program is
    // run, so nothing here waits for a child process.
    if (!dark)
        if (auto v = portalRead(kGnomeNs, QStringLiteral("color-scheme")))
            dark = darkFromGnomeScheme(v->toString());
    dark_ = dark.value_or(false);

    if (auto v = portalRead(kGnomeNs, QStringLiteral("enable-animations")))
        animations_ = v->toBool();

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.connect(kPortal, kPortalPath, kSettings, QStringLiteral("SettingChanged"), new PortalListener(this),
                    SLOT(settingChanged(QString, QString, QDBusVariant)));
}

void Appearance::settingChanged(const QString &ns, const QString &key, const QVariant &v)
{
    if (ns == kAppearanceNs && key == QLatin1String("color-scheme")) {
        // "No preference" falls back to GNOME's own word.
        bool dark = false;
        if (auto d = schemeFromPortal(v))
            dark = *d;
        else if (auto g = portalRead(kGnomeNs, QStringLiteral("color-scheme")))
            dark = darkFromGnomeScheme(g->toString());
        if (dark != dark_) {
            dark_ = dark;
            emit colorSchemeChanged();
        }
    } else if (ns == kGnomeNs && key == QLatin1String("enable-animations")) {
        const bool on = v.toBool();
        if (on != animations_) {
            animations_ = on;
            emit reduceMotionChanged();
        }
    }
}

bool Appearance::Hooks::desktopPrefersDark()
{
    Appearance *a = shared();
    a->load();
    return a->dark_;
}

bool Appearance::Hooks::desktopReduceMotion()
{
    if (auto env = reduceMotionFromEnvironment(QProcessEnvironment::systemEnvironment()))
        return *env;
    Appearance *a = shared();
    a->load();
    return !a->animations_;
}

std::optional<bool> Appearance::reduceMotionFromEnvironment(const QProcessEnvironment &env)
{
    const QString v = env.value(QStringLiteral("VELTO_REDUCE_MOTION")).trimmed().toLower();
    if (v == QLatin1String("1") || v == QLatin1String("true") || v == QLatin1String("yes") || v == QLatin1String("on"))
        return true;
    if (v == QLatin1String("0") || v == QLatin1String("false") || v == QLatin1String("no") || v == QLatin1String("off"))
        return false;
    return std::nullopt;
}

bool Appearance::prefersDark()
{
    return Hooks::prefersDark ? Hooks::prefersDark() : false;
}

bool Appearance::reduceMotion()
{
    return Hooks::reduceMotion ? Hooks::reduceMotion() : false;
}

#include "Appearance.moc"
