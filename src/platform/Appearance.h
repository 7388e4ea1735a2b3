#pragma once
#include <QObject>
#include <QProcessEnvironment>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// What the desktop asks of the app's look: a dark or a light colour scheme,
// and whether motion should be reduced. The desktop portal's settings are
// asked once, without waiting for the answer, and then kept current through
// its change signal. Until the portal answers, a read gives light with
// motion; an answer that differs from what was already read is announced by
// the signals below, as a change on the desktop would be. Main thread only.
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

    // Asks the desktop now, so that its answers are in by the time the
    // window is built. Called once, as soon as the application exists;
    // reading a setting does the same.
    static void askDesktop();

    // The environment's word on reduced motion, when it gives one.
    static std::optional<bool> reduceMotionFromEnvironment(const QProcessEnvironment &env);

    // The sources; tests replace them and emit the signals themselves.
    struct Hooks {
        static bool desktopPrefersDark();
        static bool desktopReduceMotion();
        static inline std::function<bool()> prefersDark = &Hooks::desktopPrefersDark;
        static inline std::function<bool()> reduceMotion = &Hooks::desktopReduceMotion;
        // Starts over: the desktop is asked afresh by the next read.
        static void forget();
    };

signals:
    // The desktop's preferred colour scheme changed.
    void colorSchemeChanged();
    // The reduce-motion setting changed.
    void reduceMotionChanged();

private:
    struct Read;
    Appearance();
    void load();
    void read(const QString &ns, const QString &key, std::function<void(const std::optional<QVariant> &)> done);
    void settle();
    void takeScheme(const std::optional<QVariant> &value, quint64 turn, bool first);
    void setDark(bool dark, bool first);
    void setAnimations(bool on, bool first);
    void take(bool &setting, bool value, bool first, bool wasRead, void (Appearance::*signal)());
    void settingChanged(const QString &ns, const QString &key, const QVariant &value);
    bool loaded_ = false;
    bool dark_ = false;
    bool animations_ = true;
    // Whether the value has been read: the first answer is news only then.
    bool darkRead_ = false;
    bool motionRead_ = false;
    // A later change makes the answers still coming for an earlier one stale.
    quint64 schemeTurn_ = 0;
    quint64 motionTurn_ = 0;
    std::vector<std::shared_ptr<Read>> reads_;
    friend struct Hooks;
    friend class PortalListener;
};
