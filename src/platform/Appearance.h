#pragma once
#include <QObject>
#include <QProcessEnvironment>
#include <QVariant>
#include <functional>
#include <optional>

// What the desktop asks of the app's look: a dark or a light colour scheme,
// and whether motion should be reduced. The desktop is read once and then
// kept current through its change signal (the desktop portal's settings), so
// every read answers the setting in force. Main thread only.
class Appearance : public QObject {
    Q_OBJECT
public:
    // The one broadcaster of the two changes below.
    static Appearance *shared();

    // Whether the desktop prefers dark: the desktop portal's colour scheme,
    // then GNOME's interface colour scheme, else light.
    static bool prefersDark();
    // Whether motion should be reduced: VELTO_REDUCE_MOTION when it says so
    // ("1", "true", "yes", "on" or "0", "false", "no", "off"), else GNOME's
    // enable-animations switched off.
    static bool reduceMotion();

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
    bool loaded_ = false;
    bool dark_ = false;
    bool animations_ = true;
    friend struct Hooks;
    friend class PortalListener;
};
