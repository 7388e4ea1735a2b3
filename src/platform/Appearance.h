#pragma once
#include <QObject>
#include <QProcessEnvironment>
#include <QVariant>
#include <functional>
#include <optional>

// What the desktop asks of the app's look: a dark or a light colour scheme,
// and whether motion should be reduced, from the desktop portal's settings
// over D-Bus. Nothing waits for the desktop: the first read asks the portal
// without blocking and answers the defaults (light, motion on) until the
// portal replies; a reply or a later change that differs is announced by the
// signals below, so every read answers the setting in force once known.
// Main thread only.
class Appearance : public QObject {
    Q_OBJECT
public:
    // The one broadcaster of the two changes below.
    static Appearance *shared();

    // Whether the desktop prefers dark: the desktop portal's colour scheme,
    // then GNOME's interface colour scheme (as the portal gives it), else light.
    static bool prefersDark();
    // Whether motion should be reduced: VELTO_REDUCE_MOTION when it says so
    // ("1", "true", "yes", "on" or "0", "false", "no", "off"), else GNOME's
    // enable-animations switched off.
    static bool reduceMotion();

    // Asks the portal again for every setting, without waiting; the
    // answers are announced as changes when they differ.
    void refresh();

    // The environment's word on reduced motion, when it gives one.
    static std::optional<bool> reduceMotionFromEnvironment(const QProcessEnvironment &env);

    // The sources; tests replace them and emit the signals themselves.
    struct Hooks {
        static bool desktopPrefersDark();
        static bool desktopReduceMotion();
        static inline std::function<bool()> prefersDark = &Hooks::desktopPrefersDark;
        static inline std::function<bool()> reduceMotion = &Hooks::desktopReduceMotion;
    };

signals:
    // The desktop's preferred colour scheme changed.
    void colorSchemeChanged();
    // The reduce-motion setting changed.
    void reduceMotionChanged();

private:
    Appearance();
    void load();
    void settingChanged(const QString &ns, const QString &key, const QVariant &value);
    // The portal's scheme decides; "no preference" or none falls to GNOME's.
    void resolveDark();
    void setAnimations(bool on);
    bool loaded_ = false;
    bool dark_ = false;
    bool animations_ = true;
    std::optional<bool> portalDark_; // 1 or 2 from the portal; none for 0 or no answer
    bool gnomeDark_ = false;
    friend struct Hooks;
    friend class PortalListener;
};
