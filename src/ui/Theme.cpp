#include "ui/Theme.h"
#include "ui/ViewLayer.h"
#include "platform/Appearance.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QHash>
#include <QRawFont>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QSet>
#include <QWidget>
#include <QtEndian>
#include <cmath>
#include <mutex>

namespace Theme {

namespace {

// A face the app registered, found by its face name.
struct Face {
    QString family;
    int weight = QFont::Normal;
};

struct State {
    QString mode = QStringLiteral("system");
    std::optional<QString> override;
    std::once_flag overrideOnce;
    QHash<QString, Face> faces;
    QSet<QString> registeredFiles;
};

State &state()
{
    static State s;
    return s;
}

void ensureOverride()
{
    State &s = state();
    std::call_once(s.overrideOnce, [&s] {
        s.override = overrideFromEnvironment(QProcessEnvironment::systemEnvironment());
    });
}

QColor pick(quint32 darkRgb, qreal darkAlpha, quint32 lightRgb, qreal lightAlpha)
{
    return isDark() ? hex(darkRgb, darkAlpha) : hex(lightRgb, lightAlpha);
}

// Design points to Qt points: one design point is one pixel at 96 dpi.
constexpr qreal kPointsPerDesignPoint = 72.0 / 96.0;

std::optional<QFont> face(const QString &name, qreal size)
{
    const auto it = state().faces.constFind(name);
    if (it == state().faces.constEnd())
        return std::nullopt;
    QFont f(it->family);
    f.setWeight(QFont::Weight(it->weight));
    f.setStyle(QFont::StyleNormal);
    f.setPointSizeF(size * kPointsPerDesignPoint);
    return f;
}

bool ubuntuAvailable()
{
    return state().faces.contains(QStringLiteral("Ubuntu-Regular"));
}

QFont systemFont(QFont base, qreal size, QFont::Weight weight)
{
    base.setPointSizeF(size * kPointsPerDesignPoint);
    base.setWeight(weight);
    base.setStyle(QFont::StyleNormal);
    return base;
}

const QString kShadowName = QStringLiteral("velto-shadow");

// Sets or removes the kit's drop shadow on a widget; a caller's own effect is
// left alone unless a shadow is wanted.
void shadow(QWidget *w, std::optional<QColor> color, qreal radius, QPointF offset)
{
    auto *current = qobject_cast<QGraphicsDropShadowEffect *>(w->graphicsEffect());
    const bool ours = current && current->objectName() == kShadowName;
    if (!color) {
        if (ours)
            w->setGraphicsEffect(nullptr);
        return;
    }
    auto *e = ours ? current : new QGraphicsDropShadowEffect;
    e->setObjectName(kShadowName);
    e->setColor(*color);
    // Qt's blur radius spans about twice the layer's shadow radius.
    e->setBlurRadius(radius * 2);
    e->setOffset(offset);
    if (!ours)
        w->setGraphicsEffect(e);
}

qreal pillRadius(const QWidget *w, qreal fallback)
{
    return w->height() > 0 ? w->height() / 2.0 : fallback;
}

// Keeps a styled button a pill whatever height it is given later: a button
// is often styled before it is placed, and a style sheet whose radius is
// more than half the height draws square corners. On every change of
// height the radius in the button's style sheet (and only the radius, so a
// caller's additions stay) becomes half the new height.
class PillKeeper : public QObject {
public:
    explicit PillKeeper(QAbstractButton *button) : QObject(button) { button->installEventFilter(this); }

    static void keep(QAbstractButton *button)
    {
        if (button->property("veltoPillKept").toBool())
            return;
        button->setProperty("veltoPillKept", true);
        new PillKeeper(button);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize) {
            auto *b = static_cast<QAbstractButton *>(watched);
            const auto *resize = static_cast<QResizeEvent *>(event);
            if (resize->size().height() != resize->oldSize().height() && b->height() > 0) {
                static const QRegularExpression radius(QStringLiteral("border-radius:[0-9.]+px"));
                QString sheet = b->styleSheet();
                sheet.replace(radius, QStringLiteral("border-radius:%1px").arg(pillRadius(b, 16)));
                if (sheet != b->styleSheet())
                    b->setStyleSheet(sheet);
            }
        }
        return false;
    }
};

qreal titleSize(const QWidget *w, qreal fallback)
{
    return w->testAttribute(Qt::WA_SetFont) ? fontSize(w->font()) : fallback;
}

// Sets the title colour that style-sheet-less painting would use too.
void tint(QAbstractButton *b, const QColor &c)
{
    QPalette p = b->palette();
    p.setColor(QPalette::ButtonText, c);
    p.setColor(QPalette::WindowText, c);
    b->setPalette(p);
}

} // namespace

QColor over(const QColor &b, const QColor &a, qreal alpha)
{
    auto mix = [alpha](float x, float y) { return float(x + (y - x) * alpha); };
    return QColor::fromRgbF(mix(b.redF(), a.redF()), mix(b.greenF(), a.greenF()), mix(b.blueF(), a.blueF()), 1.0f);
}

QString qss(const QColor &c)
{
    const QColor s = c.toRgb();
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(s.red()).arg(s.green()).arg(s.blue()).arg(s.alpha());
}

namespace detail {
OverrideScope::OverrideScope(bool dark)
{
    ensureOverride();
    saved = state().override;
    state().override = dark ? QStringLiteral("dark") : QStringLiteral("light");
}
OverrideScope::~OverrideScope()
{
    state().override = saved;
}
} // namespace detail

QString mode()
{
    return state().mode;
}

void setMode(const QString &mode)
{
    state().mode = mode;
}

std::optional<QString> override()
{
    ensureOverride();
    return state().override;
}

void setOverride(const std::optional<QString> &value)
{
    ensureOverride();
    state().override = value;
}

std::optional<QString> overrideFromEnvironment(const QProcessEnvironment &env)
{
    if (!env.contains(QStringLiteral("VELTO_THEME")))
        return std::nullopt;
    const QString v = env.value(QStringLiteral("VELTO_THEME")).toLower();
    if (v == QLatin1String("light") || v == QLatin1String("dark"))
        return v;
    return std::nullopt;
}

bool isDark()
{
    const std::optional<QString> o = override();
    const QString choice = o ? *o : state().mode;
    if (choice == QLatin1String("light"))
        return false;
    if (choice == QLatin1String("dark"))
        return true;
    if (!QCoreApplication::instance())
        return false;
    return Appearance::prefersDark();
}

QString webScheme()
{
    return isDark() ? QStringLiteral("dark") : QStringLiteral("light");
}

QString orbTheme()
{
    return webScheme();
}

bool reduceMotion()
{
    return Appearance::reduceMotion();
}

QColor bg() { return pick(0x06070B, 1, 0xF6F5F1, 1); }
QColor bg2() { return pick(0x0B0D14, 1, 0xEEEDE7, 1); }
QColor ink() { return pick(0xF1F3F9, 1, 0x0E1220, 1); }
QColor ink2() { return pick(0xC2C7D6, 1, 0x3A4053, 1); }
QColor muted() { return pick(0x8A91A6, 1, 0x5F6578, 1); }
QColor line() { return pick(0xFFFFFF, 0.08, 0x0E1220, 0.08); }
QColor lineStrong() { return pick(0xFFFFFF, 0.14, 0x0E1220, 0.14); }
QColor royal() { return pick(0x6C8BFF, 1, 0x3257E0, 1); }
QColor royal2() { return pick(0x4D6CF0, 1, 0x2340B8, 1); }
QColor royalSoft() { return pick(0x6C8BFF, 0.14, 0x3257E0, 0.10); }
QColor seal() { return hex(0x15B877); }
QColor stamp() { return pick(0xF0677A, 1, 0xD9344C, 1); }
QColor amber() { return pick(0xE9B040, 1, 0xE0A016, 1); }
QColor glass() { return pick(0x161A26, 0.45, 0xFFFFFF, 0.55); }
QColor glassEdge() { return pick(0xFFFFFF, 0.16, 0xFFFFFF, 0.85); }
QColor hover() { return pick(0xFFFFFF, 0.045, 0x0E1220, 0.045); }
QColor panel() { return pick(0x10131C, 1, 0xFFFFFF, 1); }
QColor field() { return pick(0x0C0F17, 1, 0xFAFAF7, 1); }
QColor stampInk() { return isDark() ? stamp() : hex(0xC22A40); }
QColor sealInk() { return isDark() ? seal() : hex(0x0E7C52); }
QColor amberInk() { return isDark() ? amber() : hex(0x8A5B00); }
QColor selected() { return royalSoft(); }
QColor surface() { return panel(); }
QColor surface2() { return field(); }
QColor line2() { return lineStrong(); }

QColor hex(quint32 rgb, qreal alpha)
{
    return QColor::fromRgbF(float(((rgb >> 16) & 0xFF) / 255.0), float(((rgb >> 8) & 0xFF) / 255.0),
                            float((rgb & 0xFF) / 255.0), float(alpha));
}

QString css(const QColor &color)
{
    if (!color.isValid())
        return QStringLiteral("#000");
    const QColor c = color.toRgb();
    // halves away from zero
    const long r = std::lround(c.redF() * 255.0);
    const long g = std::lround(c.greenF() * 255.0);
    const long b = std::lround(c.blueF() * 255.0);
    const double a = c.alphaF();
    if (a >= 0.999)
        return QString::asprintf("#%02lX%02lX%02lX", r, g, b);
    return QString::asprintf("rgba(%ld,%ld,%ld,%.3f)", r, g, b, a);
}

QPalette palette()
{
    const QColor window = bg(), text = ink(), base = field(), button = panel();
    QPalette p;
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(g, QPalette::Window, window);
        p.setColor(g, QPalette::Base, base);
        p.setColor(g, QPalette::AlternateBase, bg2());
        p.setColor(g, QPalette::Button, button);
        p.setColor(g, QPalette::ToolTipBase, button);
        p.setColor(g, QPalette::ToolTipText, text);
        p.setColor(g, QPalette::Highlight, selected());
        p.setColor(g, QPalette::HighlightedText, text);
        p.setColor(g, QPalette::Link, royal());
        p.setColor(g, QPalette::LinkVisited, royal2());
        p.setColor(g, QPalette::PlaceholderText, muted());
        p.setColor(g, QPalette::BrightText, hex(0xFFFFFF));
        p.setColor(g, QPalette::Light, isDark() ? hex(0x1B2030) : hex(0xFFFFFF));
        p.setColor(g, QPalette::Midlight, isDark() ? hex(0x161A26) : hex(0xF2F1EC));
        p.setColor(g, QPalette::Mid, isDark() ? hex(0x2A3042) : hex(0xC9CBD3));
        p.setColor(g, QPalette::Dark, isDark() ? hex(0x05060B) : hex(0x9FA3B0));
        p.setColor(g, QPalette::Shadow, hex(0x000000));
        const QColor t = g == QPalette::Disabled ? muted() : text;
        p.setColor(g, QPalette::WindowText, t);
        p.setColor(g, QPalette::Text, t);
        p.setColor(g, QPalette::ButtonText, t);
    }
    return p;
}

// --- fonts ---------------------------------------------------------------------

QFont font(qreal size, QFont::Weight weight)
{
    if (ubuntuAvailable()) {
        QString name = QStringLiteral("Ubuntu-Regular");
        if (weight == QFont::Medium)
            name = QStringLiteral("Ubuntu-Medium");
        else if (weight == QFont::DemiBold || weight == QFont::Bold || weight == QFont::ExtraBold ||
                 weight == QFont::Black)
            name = QStringLiteral("Ubuntu-Bold");
        if (auto f = face(name, size))
            return *f;
    }
    return systemFont(QGuiApplication::font(), size, weight);
}

QFont mono(qreal size, QFont::Weight weight)
{
    const bool bold = weight == QFont::Bold || weight == QFont::DemiBold || weight == QFont::ExtraBold;
    if (auto f = face(bold ? QStringLiteral("UbuntuMono-Bold") : QStringLiteral("UbuntuMono-Regular"), size))
        return *f;
    return systemFont(QFontDatabase::systemFont(QFontDatabase::FixedFont), size, weight);
}

qreal fontSize(const QFont &f)
{
    if (f.pointSizeF() > 0)
        return f.pointSizeF() / kPointsPerDesignPoint;
    return f.pixelSize();
}

QStringList fontFilesIn(const QString &dir)
{
    QStringList out;
    const QDir d(dir);
    if (!d.exists())
        return out;
    for (const QFileInfo &fi : d.entryInfoList(QDir::Files, QDir::Name)) {
        const QString ext = fi.suffix().toLower();
        if (ext == QLatin1String("ttf") || ext == QLatin1String("otf"))
            out << fi.absoluteFilePath();
    }
    return out;
}

QStringList bundledFontFiles()
{
    return fontFilesIn(QStringLiteral(":/fonts"));
}

QString faceNameOf(const QString &file)
{
    const QRawFont raw(file, 12);
    if (!raw.isValid())
        return {};
    const QByteArray t = raw.fontTable("name");
    auto u16 = [&t](qsizetype at) -> int {
        return at + 2 <= t.size() ? qFromBigEndian<quint16>(t.constData() + at) : -1;
    };
    const int count = u16(2), strings = u16(4);
    if (count < 0 || strings < 0)
        return {};
    QString mac;
    for (int i = 0; i < count; ++i) {
        const qsizetype rec = 6 + qsizetype(i) * 12;
        const int platform = u16(rec), nameId = u16(rec + 6), len = u16(rec + 8), off = u16(rec + 10);
        if (nameId != 6 || len < 0 || off < 0 || strings + off + len > t.size())
            continue;
        const char *p = t.constData() + strings + off;
        if (platform == 3 || platform == 0) {
            QString s;
            for (int k = 0; k + 1 < len; k += 2)
                s.append(QChar(qFromBigEndian<quint16>(p + k)));
            return s;
        }
        if (platform == 1 && mac.isEmpty())
            mac = QString::fromLatin1(p, len);
    }
    return mac;
}

namespace {
// The weight class a font file declares (its OS/2 table), 400 when it declares none.
int weightOf(const QString &file)
{
    const QByteArray os2 = QRawFont(file, 12).fontTable("OS/2");
    if (os2.size() < 6)
        return QFont::Normal;
    const int w = qFromBigEndian<quint16>(os2.constData() + 4);
    return w >= 1 && w <= 1000 ? w : int(QFont::Normal);
}
} // namespace

void registerBundledFonts()
{
    State &s = state();
    for (const QString &file : bundledFontFiles()) {
        if (s.registeredFiles.contains(file))
            continue;
        const int id = QFontDatabase::addApplicationFont(file);
        if (id < 0)
            continue;
        s.registeredFiles.insert(file);
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        const QString name = faceNameOf(file);
        if (families.isEmpty() || name.isEmpty())
            continue;
        s.faces.insert(name, Face{families.first(), weightOf(file)});
    }
}

QString fontFaceRules(const QStringList &files)
{
    static const QHash<QString, int> weights{{QStringLiteral("Ubuntu-Regular"), 400},
                                             {QStringLiteral("Ubuntu-Medium"), 500},
                                             {QStringLiteral("Ubuntu-Bold"), 700}};
    QString css;
    for (const QString &file : files) {
        const QString name = QFileInfo(file).completeBaseName();
        const auto w = weights.constFind(name);
        if (w == weights.constEnd())
            continue;
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = f.readAll();
        css += QStringLiteral("@font-face{font-family:'Ubuntu';font-style:normal;font-weight:") +
               QString::number(*w) + QStringLiteral(";font-display:block;") +
               QStringLiteral("src:url(data:font/ttf;base64,") + QString::fromLatin1(bytes.toBase64()) +
               QStringLiteral(") format('truetype')}");
    }
    return css;
}

const QString &chatFontFaceCSS()
{
    static const QString css = fontFaceRules(bundledFontFiles());
    return css;
}

// --- styles ------------------------------------------------------------------------

void primaryButton(QAbstractButton *b)
{
    const qreal r = pillRadius(b, 16);
    const QColor base = hex(0x3558E3);
    // The sheen: white at 0.14 at the top, clear in the middle, black at 0.07
    // at the bottom, over the button's blue.
    const QColor top = over(base, hex(0xFFFFFF), 0.14);
    const QColor bottom = over(base, hex(0x000000), 0.07);
    const QColor pressed = over(base, hex(0x000000), 0.12);
    b->setStyleSheet(QStringLiteral("QAbstractButton{border:1px solid %1;border-radius:%2px;color:#FFFFFF;"
                                    "padding:0 14px;background:qlineargradient(x1:0,y1:0,x2:0,y2:1,"
                                    "stop:0 %3,stop:0.5 %4,stop:1 %5)}"
                                    "QAbstractButton:pressed{background:%6}"
                                    "QAbstractButton:disabled{color:rgba(255,255,255,140)}")
                         .arg(qss(hex(0xFFFFFF, 0.22)), QString::number(r), qss(top), qss(base), qss(bottom),
                              qss(pressed)));
    shadow(b, hex(0x3257E0, isDark() ? 0.45 : 0.32), 8, QPointF(0, 3));
    tint(b, hex(0xFFFFFF));
    b->setFont(font(titleSize(b, 13), QFont::Medium));
    b->setProperty("veltoStyle", QStringLiteral("primary"));
    PillKeeper::keep(b);
}

void secondaryButton(QAbstractButton *b)
{
    const qreal r = pillRadius(b, 16);
    b->setStyleSheet(QStringLiteral("QAbstractButton{border:1px solid %1;border-radius:%2px;color:%3;"
                                    "padding:0 14px;background:%4}"
                                    "QAbstractButton:pressed{background:%5}"
                                    "QAbstractButton:disabled{color:%6}")
                         .arg(qss(lineStrong()), QString::number(r), qss(ink()), qss(field()),
                              qss(over(field(), ink(), 0.06)), qss(muted())));
    shadow(b, std::nullopt, 0, {});
    tint(b, ink2());
    b->setFont(font(titleSize(b, 13), QFont::Medium));
    b->setProperty("veltoStyle", QStringLiteral("secondary"));
    PillKeeper::keep(b);
}

void card(QWidget *view, qreal radius)
{
    ViewLayer *l = ViewLayer::of(view);
    l->cornerRadius = radius;
    l->background = panel();
    l->borderWidth = 1;
    l->borderColor = line();
    if (isDark())
        shadow(view, std::nullopt, 0, {});
    else
        shadow(view, hex(0x0E1220, 0.07), 12, QPointF(0, 4));
    l->apply();
}

void chip(QAbstractButton *b, bool on)
{
    const qreal r = pillRadius(b, 13);
    const QColor bgc = on ? royalSoft() : field();
    const QColor border = on ? [] { QColor c = royal(); c.setAlphaF(0.35f); return c; }() : line();
    const QColor text = on ? royal() : ink2();
    b->setStyleSheet(QStringLiteral("QAbstractButton{border:1px solid %1;border-radius:%2px;color:%3;"
                                    "padding:0 10px;background:%4}"
                                    "QAbstractButton:pressed{background:%5}")
                         .arg(qss(border), QString::number(r), qss(text), qss(bgc), qss(hover())));
    shadow(b, std::nullopt, 0, {});
    tint(b, text);
    b->setFont(font(titleSize(b, 12), on ? QFont::Medium : QFont::Normal));
    b->setProperty("veltoStyle", on ? QStringLiteral("chip-on") : QStringLiteral("chip-off"));
    PillKeeper::keep(b);
}

// --- web ------------------------------------------------------------------------------

QString mascotSVG(const QString &uid, bool hue)
{
    static const QString P = QStringLiteral("M50 11C63 11 87 45 87 62C87 80 70 91 50 91C30 91 13 80 13 62C13 45 37 11 50 11Z");
    const QString u = uid;
    QString s;
    s += QStringLiteral("<svg viewBox=\"0 0 100 100\" class=\"vo-mascot") +
         (hue ? QStringLiteral(" vo-hue") : QString()) +
         QStringLiteral("\" aria-hidden=\"true\" style=\"overflow:visible\">");
    s += QStringLiteral("<defs>");
    s += QStringLiteral("<linearGradient id=\"") + u + QStringLiteral("g\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">"
         "<stop offset=\"0\" stop-color=\"#4E75F2\"/><stop offset=\"1\" stop-color=\"#2340B8\"/></linearGradient>");
    s += QStringLiteral("<radialGradient id=\"") + u + QStringLiteral("h\" cx=\".32\" cy=\".26\" r=\".42\">"
         "<stop offset=\"0\" stop-color=\"#fff\" stop-opacity=\".65\"/>"
         "<stop offset=\"1\" stop-color=\"#fff\" stop-opacity=\"0\"/></radialGradient>");
    s += QStringLiteral("<linearGradient id=\"") + u + QStringLiteral("s\" x1=\"0\" y1=\"0\" x2=\"1\" y2=\"0\">"
         "<stop offset=\"0\" stop-color=\"#fff\" stop-opacity=\"0\"/>"
         "<stop offset=\".5\" stop-color=\"#fff\" stop-opacity=\".55\"/>"
         "<stop offset=\"1\" stop-color=\"#fff\" stop-opacity=\"0\"/></linearGradient>");
    s += QStringLiteral("<clipPath id=\"") + u + QStringLiteral("c\"><path d=\"") + P +
         QStringLiteral("\"/></clipPath>");
    s += QStringLiteral("</defs>");
    s += QStringLiteral("<g class=\"vo-body\">");
    s += QStringLiteral("<path d=\"") + P + QStringLiteral("\" fill=\"url(#") + u + QStringLiteral("g)\"/>");
    s += QStringLiteral("<path d=\"") + P + QStringLiteral("\" fill=\"url(#") + u + QStringLiteral("h)\"/>");
    s += QStringLiteral("<g clip-path=\"url(#") + u + QStringLiteral("c)\">") +
         QStringLiteral("<rect class=\"vo-shine\" x=\"-60\" y=\"0\" width=\"34\" height=\"100\" fill=\"url(#") + u +
         QStringLiteral("s)\" transform=\"skewX(-18)\"/></g>");
    s += QStringLiteral("<g class=\"vo-eyes\">"
                        "<rect y=\"44\" width=\"9\" height=\"16\" rx=\"4.5\" fill=\"#fff\" x=\"35.5\"/>"
                        "<rect y=\"44\" width=\"9\" height=\"16\" rx=\"4.5\" fill=\"#fff\" x=\"55.5\"/></g>");
    s += QStringLiteral("</g></svg>");
    return s;
}

const QString &mascotCSS()
{
    static const QString css = QStringList{
        QStringLiteral(".vo-mascot{display:block;overflow:visible}"),
        // It plays its loops a few times when it appears, then keeps still.
        QStringLiteral(".vo-body{transform-origin:50px 91px;transform-box:view-box;animation:vo-breathe 3.4s ease-in-out 4}"),
        QStringLiteral(".vo-eyes{transform-origin:50px 52px;transform-box:view-box;animation:vo-blink 4.6s 3}"),
        QStringLiteral(".vo-shine{animation:vo-shine 6s cubic-bezier(.22,1,.36,1) 2}"),
        QStringLiteral(".vo-hue{animation:vo-hue 16s ease-in-out 1}"),
        QStringLiteral("@keyframes vo-breathe{0%,100%{transform:scale(1)}50%{transform:scale(1.04)}}"),
        QStringLiteral("@keyframes vo-blink{0%,94%,100%{transform:scaleY(1)}96.5%{transform:scaleY(.12)}}"),
        QStringLiteral("@keyframes vo-shine{0%{transform:skewX(-18deg) translateX(0)}24%,100%{transform:skewX(-18deg) translateX(190px)}}"),
        QStringLiteral("@keyframes vo-hue{0%,45%{filter:hue-rotate(0deg) saturate(1.05)}100%{filter:hue-rotate(360deg) saturate(1.05)}}"),
        QStringLiteral("@media (prefers-reduced-motion: reduce){.vo-body,.vo-eyes,.vo-hue,.vo-shine{animation:none}}"),
        QStringLiteral("[data-velto-still] .vo-body,[data-velto-still] .vo-eyes,[data-velto-still] .vo-hue,"
                       "[data-velto-still] .vo-shine{animation:none}"),
    }.join(QLatin1Char('\n'));
    return css;
}

} // namespace Theme

ThemeBroadcast *ThemeBroadcast::shared()
{
    static ThemeBroadcast *instance = [] {
        auto *b = new ThemeBroadcast;
        if (QCoreApplication::instance())
            b->setParent(QCoreApplication::instance());
        return b;
    }();
    return instance;
}
