#include "platform/Appearance.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusPendingCallWatcher>

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

// Asks the portal for one setting without waiting; answer gets the value,
// or nothing when the portal is absent or does not know the key.
void portalRead(QObject *context, const QString &ns, const QString &key,
                std::function<void(const std::optional<QVariant> &)> answer)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kPortal, kPortalPath, kSettings, QStringLiteral("Read"));
    call << ns << key;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 2000), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [answer = std::move(answer)](QDBusPendingCallWatcher *w) {
                         w->deleteLater();
                         const QDBusMessage reply = w->reply();
                         if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
                             answer(std::nullopt);
                             return;
                         }
                         answer(unwrap(reply.arguments().constFirst()));
                     });
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
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.connect(kPortal, kPortalPath, kSettings, QStringLiteral("SettingChanged"), new PortalListener(this),
                    SLOT(settingChanged(QString, QString, QDBusVariant)));
    refresh();
}

void Appearance::refresh()
{
    loaded_ = true;
    portalRead(this, kGnomeNs, QStringLiteral("color-scheme"), [this](const std::optional<QVariant> &v) {
        if (!v)
            return;
        gnomeDark_ = darkFromGnomeScheme(v->toString());
        resolveDark();
    });
    portalRead(this, kAppearanceNs, QStringLiteral("color-scheme"), [this](const std::optional<QVariant> &v) {
        if (!v)
            return;
        portalDark_ = schemeFromPortal(*v);
        resolveDark();
    });
    portalRead(this, kGnomeNs, QStringLiteral("enable-animations"), [this](const std::optional<QVariant> &v) {
        if (v)
            setAnimations(v->toBool());
    });
}

void Appearance::resolveDark()
{
    const bool dark = portalDark_.value_or(gnomeDark_);
    if (dark != dark_) {
        dark_ = dark;
        emit colorSchemeChanged();
    }
}

void Appearance::setAnimations(bool on)
{
    if (on != animations_) {
        animations_ = on;
        emit reduceMotionChanged();
    }
}

void Appearance::settingChanged(const QString &ns, const QString &key, const QVariant &v)
{
    if (ns == kAppearanceNs && key == QLatin1String("color-scheme")) {
        portalDark_ = schemeFromPortal(v);
        if (portalDark_) {
            resolveDark();
            return;
        }
        // "No preference" falls back to GNOME's own word, asked afresh.
        portalRead(this, kGnomeNs, QStringLiteral("color-scheme"), [this](const std::optional<QVariant> &g) {
            if (g)
                gnomeDark_ = darkFromGnomeScheme(g->toString());
            resolveDark();
        });
    } else if (ns == kGnomeNs && key == QLatin1String("color-scheme")) {
        gnomeDark_ = darkFromGnomeScheme(v.toString());
        resolveDark();
    } else if (ns == kGnomeNs && key == QLatin1String("enable-animations")) {
        setAnimations(v.toBool());
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
