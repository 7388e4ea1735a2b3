#include "platform/Appearance.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QProcessEnvironment>
#include <algorithm>

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

// One question to the portal, answered when its reply is in.
struct Appearance::Read {
    QDBusPendingCall call;
    std::function<void(const std::optional<QVariant> &)> done;
};

void Appearance::askDesktop()
{
    shared()->load();
}

void Appearance::load()
{
    if (loaded_)
        return;
    loaded_ = true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        // The slot's argument type is found by its name, known only once registered.
        qRegisterMetaType<QDBusVariant>();
        bus.connect(kPortal, kPortalPath, kSettings, QStringLiteral("SettingChanged"), new PortalListener(this),
                    SLOT(settingChanged(QString, QString, QDBusVariant)));
    }
    const quint64 scheme = ++schemeTurn_;
    read(kAppearanceNs, QStringLiteral("color-scheme"), [this, scheme](const std::optional<QVariant> &v) {
        if (scheme == schemeTurn_)
            takeScheme(v, scheme, true);
    });
    const quint64 motion = ++motionTurn_;
    read(kGnomeNs, QStringLiteral("enable-animations"), [this, motion](const std::optional<QVariant> &v) {
        if (v && motion == motionTurn_)
            setAnimations(v->toBool(), true);
    });
}

// Sends the question and goes on; the answer is taken as soon as it is in,
// by the next read of a setting or by the watcher, whichever comes first.
// A portal that is started on demand may take a while, and nothing waits
// for it.
void Appearance::read(const QString &ns, const QString &key, std::function<void(const std::optional<QVariant> &)> done)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        done(std::nullopt);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kPortal, kPortalPath, kSettings, QStringLiteral("Read"));
    call << ns << key;
    auto r = std::make_shared<Read>(Read{bus.asyncCall(call, 5000), std::move(done)});
    reads_.push_back(r);
    auto *watcher = new QDBusPendingCallWatcher(r->call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        settle();
    });
    settle();
}

void Appearance::settle()
{
    // An answer may ask a further question, so the finished ones are taken
    // out before any is handled.
    for (;;) {
        const auto finished = std::find_if(reads_.begin(), reads_.end(),
                                           [](const std::shared_ptr<Read> &r) { return r->call.isFinished(); });
        if (finished == reads_.end())
            return;
        const std::shared_ptr<Read> r = *finished;
        reads_.erase(finished);
        const QDBusMessage reply = r->call.reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            r->done(unwrap(reply.arguments().constFirst()));
        else
            r->done(std::nullopt);
    }
}

// "No preference" falls back to GNOME's own word, read from the portal too.
void Appearance::takeScheme(const std::optional<QVariant> &value, quint64 turn, bool first)
{
    if (auto dark = value ? schemeFromPortal(*value) : std::nullopt) {
        setDark(*dark, first);
        return;
    }
    read(kGnomeNs, QStringLiteral("color-scheme"), [this, turn, first](const std::optional<QVariant> &g) {
        if (turn == schemeTurn_)
            setDark(g && darkFromGnomeScheme(g->toString()), first);
    });
}

void Appearance::setDark(bool dark, bool first)
{
    take(dark_, dark, first, darkRead_, &Appearance::colorSchemeChanged);
}

void Appearance::setAnimations(bool on, bool first)
{
    take(animations_, on, first, motionRead_, &Appearance::reduceMotionChanged);
}

// The first answer is news only to whoever read the setting before it came
// in; every change on the desktop is news. The news goes out on a later turn
// of the main loop: an answer may be taken in the middle of a read, from a
// paint or from a listener of these very signals.
void Appearance::take(bool &setting, bool value, bool first, bool wasRead, void (Appearance::*signal)())
{
    if (value == setting)
        return;
    setting = value;
    if (!first || wasRead)
        QMetaObject::invokeMethod(this, [this, signal] { emit(this->*signal)(); }, Qt::QueuedConnection);
}

void Appearance::settingChanged(const QString &ns, const QString &key, const QVariant &v)
{
    if (ns == kAppearanceNs && key == QLatin1String("color-scheme")) {
        takeScheme(v, ++schemeTurn_, false);
    } else if (ns == kGnomeNs && key == QLatin1String("enable-animations")) {
        ++motionTurn_;
        setAnimations(v.toBool(), false);
    }
}

void Appearance::Hooks::forget()
{
    Appearance *a = shared();
    qDeleteAll(a->findChildren<PortalListener *>());
    qDeleteAll(a->findChildren<QDBusPendingCallWatcher *>());
    a->reads_.clear();
    a->loaded_ = false;
    a->dark_ = false;
    a->animations_ = true;
    a->darkRead_ = false;
    a->motionRead_ = false;
    ++a->schemeTurn_;
    ++a->motionTurn_;
}

bool Appearance::Hooks::desktopPrefersDark()
{
    Appearance *a = shared();
    a->load();
    a->settle();
    a->darkRead_ = true;
    return a->dark_;
}

bool Appearance::Hooks::desktopReduceMotion()
{
    if (auto env = reduceMotionFromEnvironment(QProcessEnvironment::systemEnvironment()))
        return *env;
    Appearance *a = shared();
    a->load();
    a->settle();
    a->motionRead_ = true;
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
