#pragma once
// The single source of the app's look: colour tokens in a dark and a light
// value, the choice between them, the app's own fonts with a system fallback,
// the button, card and chip styles, and the CSS, font faces and inline mascot
// that web pages get. Main thread only.
#include <QColor>
#include <QFont>
#include <QObject>
#include <QPalette>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <optional>

class QAbstractButton;
class QWidget;

namespace Theme {

// --- the choice of scheme -------------------------------------------------

// The CA's appearance choice: "system" (the default), "light" or "dark".
QString mode();
void setMode(const QString &mode);

// The forced scheme, or none. Filled once, on first use, from VELTO_THEME;
// while set it wins over mode().
std::optional<QString> override();
void setOverride(const std::optional<QString> &value);
// What VELTO_THEME gives: its value lower-cased when that is "light" or "dark".
std::optional<QString> overrideFromEnvironment(const QProcessEnvironment &env);

// Whether the dark values apply now: the override, else the mode; "light" and
// "dark" (exactly) decide, anything else follows the desktop.
bool isDark();
// "dark" when isDark(), else "light": the scheme word given to web pages.
QString webScheme();
QString orbTheme();
// The desktop's reduce-motion setting, read anew on every call.
bool reduceMotion();

namespace detail {
struct OverrideScope {
    explicit OverrideScope(bool dark);
    ~OverrideScope();
    OverrideScope(const OverrideScope &) = delete;
    OverrideScope &operator=(const OverrideScope &) = delete;
    std::optional<QString> saved;
};
} // namespace detail

// Runs body with the scheme forced to dark or light and answers its result;
// every token read inside answers for that scheme. The override is restored
// afterwards, exactly as it was.
template <class Body>
auto tokens(bool dark, Body &&body) -> decltype(body())
{
    detail::OverrideScope scope(dark);
    return body();
}

// --- colour tokens: made afresh at every read, never cached ----------------

QColor bg();
QColor bg2();
QColor ink();
QColor ink2();
QColor muted();
QColor line();
QColor lineStrong();
QColor royal();
QColor royal2();
QColor royalSoft();
QColor seal();
QColor stamp();
QColor amber();
QColor glass();
QColor glassEdge();
QColor hover();
QColor panel();
QColor field();
// a laid over b at alpha, opaque.
QColor over(const QColor &b, const QColor &a, qreal alpha);
// Darker text variants of stamp, seal and amber in light mode; in dark mode
// the base tokens.
QColor stampInk();
QColor sealInk();
QColor amberInk();
// Second names.
QColor selected();   // royalSoft
QColor surface();    // panel
QColor surface2();   // field
QColor line2();      // lineStrong

// 0xRRGGBB and an alpha as an sRGB colour.
QColor hex(quint32 rgb, qreal alpha = 1.0);
// CSS colour text: "#RRGGBB" when opaque (alpha at least 0.999), else
// "rgba(r,g,b,a.aaa)"; "#000" for a colour that is not valid.
QString css(const QColor &color);

// A colour for a Qt style sheet: "rgba(r,g,b,a)" with the alpha as 0..255.
QString qss(const QColor &color);

// The Qt palette standing for the dark or the light desktop look, built from
// the tokens in force: what a window takes to look dark or light.
QPalette palette();

// --- fonts -----------------------------------------------------------------
// Sizes are given in the design's points (one point is one device-independent
// pixel at the desktop's standard 96 dpi); the font follows the desktop's text
// scaling.

// The app's text face: "Ubuntu-Medium" for Medium, "Ubuntu-Bold" for DemiBold
// and heavier, else "Ubuntu-Regular"; the system font when the app's faces
// are not registered.
QFont font(qreal size, QFont::Weight weight = QFont::Normal);
// The app's monospaced face: "UbuntuMono-Bold" for DemiBold, Bold and
// ExtraBold, else "UbuntuMono-Regular"; else the system's fixed font.
QFont mono(qreal size, QFont::Weight weight = QFont::Normal);
// A font's size in the design's points.
qreal fontSize(const QFont &font);

// Makes the app's font files usable by the process (once at launch, before any
// window is built). Files that fail are skipped silently.
void registerBundledFonts();
// The app's font files (".ttf" and ".otf" in the resource folder "fonts").
QStringList bundledFontFiles();
// The font files of one folder, in listing order.
QStringList fontFilesIn(const QString &dir);
// The face name (PostScript name) a font file declares; empty when unreadable.
QString faceNameOf(const QString &file);

// @font-face rules embedding the text faces as data addresses under the family
// 'Ubuntu'; built once, on first read.
const QString &chatFontFaceCSS();
// The rules for the given files (the build step of chatFontFaceCSS).
QString fontFaceRules(const QStringList &files);

// --- styles ------------------------------------------------------------------
// Each may be called again on the same control at any time (after a theme
// change, or once the control has its final size); it fully re-applies the
// style for the scheme in force.

// The buttons and chips are pills: their corner radius follows them to half
// of whatever height they are given, now or later.
void primaryButton(QAbstractButton *button);
void secondaryButton(QAbstractButton *button);
// The card look: corner radius, `panel` fill, a 1 pt `line` border, and in
// light mode a soft shadow (a graphics effect: keep web views out of cards).
void card(QWidget *view, qreal radius = 14);
void chip(QAbstractButton *button, bool on);

// --- web -----------------------------------------------------------------------

// The mascot as inline SVG for web pages; uid keeps the ids of several copies
// on one page apart; hue adds the hue-cycling class.
QString mascotSVG(const QString &uid, bool hue = false);
// The CSS that animates that SVG.
const QString &mascotCSS();

} // namespace Theme

// The theme-change broadcast: both notifications of a theme change, on one
// broadcaster object. Posted by whoever switches the theme.
class ThemeBroadcast : public QObject {
    Q_OBJECT
public:
    static ThemeBroadcast *shared();
    // "VeltoThemeDidChange": every PanelThemeWatch checks its panel.
    static void postThemeDidChange() { emit shared()->veltoThemeDidChange(); }
    // "veltoThemeChanged": posted last in every repaint.
    static void postThemeChanged() { emit shared()->veltoThemeChanged(); }

signals:
    void veltoThemeDidChange();
    void veltoThemeChanged();

private:
    ThemeBroadcast() = default;
};
