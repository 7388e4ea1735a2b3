// Colour tokens, the choice of scheme, fonts, styles and the texts handed to
// web pages.
#include "ui/Theme.h"
#include "ui/ViewLayer.h"
#include "support/TestKit.h"
#include "UiTestKit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QGraphicsDropShadowEffect>
#include <QPushButton>
#include <QRawFont>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>

using namespace UiTestKit;

namespace {

struct TokenCase {
    const char *name;
    QColor (*token)();
    const char *dark;
    const char *light;
};

class ThemeTest : public UiTest {};

} // namespace

TEST_F(ThemeTest, TokensHaveTheirDarkAndLightValues)
{
    const TokenCase cases[] = {
        {"bg", Theme::bg, "#06070B", "#F6F5F1"},
        {"bg2", Theme::bg2, "#0B0D14", "#EEEDE7"},
        {"ink", Theme::ink, "#F1F3F9", "#0E1220"},
        {"ink2", Theme::ink2, "#C2C7D6", "#3A4053"},
        {"muted", Theme::muted, "#8A91A6", "#5F6578"},
        {"line", Theme::line, "rgba(255,255,255,0.080)", "rgba(14,18,32,0.080)"},
        {"lineStrong", Theme::lineStrong, "rgba(255,255,255,0.140)", "rgba(14,18,32,0.140)"},
        {"royal", Theme::royal, "#6C8BFF", "#3257E0"},
        {"royal2", Theme::royal2, "#4D6CF0", "#2340B8"},
        {"royalSoft", Theme::royalSoft, "rgba(108,139,255,0.140)", "rgba(50,87,224,0.100)"},
        {"seal", Theme::seal, "#15B877", "#15B877"},
        {"stamp", Theme::stamp, "#F0677A", "#D9344C"},
        {"amber", Theme::amber, "#E9B040", "#E0A016"},
        {"glass", Theme::glass, "rgba(22,26,38,0.450)", "rgba(255,255,255,0.550)"},
        {"glassEdge", Theme::glassEdge, "rgba(255,255,255,0.160)", "rgba(255,255,255,0.850)"},
        {"hover", Theme::hover, "rgba(255,255,255,0.045)", "rgba(14,18,32,0.045)"},
        {"panel", Theme::panel, "#10131C", "#FFFFFF"},
        {"field", Theme::field, "#0C0F17", "#FAFAF7"},
        {"stampInk", Theme::stampInk, "#F0677A", "#C22A40"},
        {"sealInk", Theme::sealInk, "#15B877", "#0E7C52"},
        {"amberInk", Theme::amberInk, "#E9B040", "#8A5B00"},
        {"selected", Theme::selected, "rgba(108,139,255,0.140)", "rgba(50,87,224,0.100)"},
        {"surface", Theme::surface, "#10131C", "#FFFFFF"},
        {"surface2", Theme::surface2, "#0C0F17", "#FAFAF7"},
        {"line2", Theme::line2, "rgba(255,255,255,0.140)", "rgba(14,18,32,0.140)"},
    };
    for (const TokenCase &c : cases) {
        EXPECT_EQ(Theme::tokens(true, [&] { return Theme::css(c.token()); }), QString::fromLatin1(c.dark)) << c.name;
        EXPECT_EQ(Theme::tokens(false, [&] { return Theme::css(c.token()); }), QString::fromLatin1(c.light)) << c.name;
        // Components are whole multiples of 1/255.
        const QColor v = Theme::tokens(true, c.token);
        EXPECT_DOUBLE_EQ(std::round(v.redF() * 255), v.redF() * 255) << c.name;
    }
}

TEST_F(ThemeTest, TokensAreReadAfreshAfterASchemeChange)
{
    scheme(false);
    const QColor lightBg = Theme::bg();
    scheme(true);
    EXPECT_NE(Theme::bg(), lightBg);
    EXPECT_EQ(Theme::css(Theme::bg()), "#06070B");
}

TEST_F(ThemeTest, CssWritesOpaqueColoursAsHexAndOthersAsRgba)
{
    scheme(false);
    EXPECT_EQ(Theme::css(Theme::ink()), "#0E1220");
    EXPECT_EQ(Theme::css(Theme::line()), "rgba(14,18,32,0.080)");
    EXPECT_EQ(Theme::css(Theme::hex(0x123456, 0.9995)), "#123456");
    EXPECT_EQ(Theme::css(Theme::hex(0x123456, 0.5)), "rgba(18,52,86,0.500)");
    EXPECT_EQ(Theme::css(QColor()), "#000");
    // Another colour model is converted first; halves round away from zero.
    EXPECT_EQ(Theme::css(QColor::fromHsv(0, 255, 255)), "#FF0000");
    EXPECT_EQ(Theme::css(QColor::fromRgbF(0.5f / 255.0f + 1e-4f, 0, 0)), "#010000");
    EXPECT_EQ(Theme::hex(0xFF8000, 0.25), QColor::fromRgbF(1.0f, 128 / 255.0f, 0, 0.25f));
}

TEST_F(ThemeTest, OverrideComesFromVeltoThemeOnlyForLightOrDark)
{
    const struct {
        const char *value; // null: unset
        std::optional<QString> expected;
    } cases[] = {
        {nullptr, std::nullopt},
        {"DARK", QStringLiteral("dark")},
        {"Light", QStringLiteral("light")},
        {"dark", QStringLiteral("dark")},
        {" dark", std::nullopt},
        {"dark ", std::nullopt},
        {"system", std::nullopt},
        {"blue", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &c : cases) {
        QProcessEnvironment env;
        if (c.value)
            env.insert(QStringLiteral("VELTO_THEME"), QString::fromLatin1(c.value));
        EXPECT_EQ(Theme::overrideFromEnvironment(env), c.expected) << (c.value ? c.value : "(unset)");
    }
}

TEST_F(ThemeTest, IsDarkTakesTheOverrideThenTheModeThenTheDesktop)
{
    const struct {
        std::optional<QString> override;
        const char *mode;
        bool desktop;
        bool dark;
    } cases[] = {
        {std::nullopt, "light", true, false},
        {std::nullopt, "dark", false, true},
        {std::nullopt, "system", true, true},
        {std::nullopt, "system", false, false},
        {std::nullopt, "Dark", true, true},   // not "dark": follows the desktop
        {std::nullopt, "Dark", false, false},
        {QStringLiteral("light"), "dark", true, false},
        {QStringLiteral("dark"), "light", false, true},
    };
    for (const auto &c : cases) {
        Theme::setOverride(c.override);
        Theme::setMode(QString::fromLatin1(c.mode));
        desktopDark = c.desktop;
        EXPECT_EQ(Theme::isDark(), c.dark) << c.mode << " desktop " << c.desktop;
        EXPECT_EQ(Theme::webScheme(), c.dark ? "dark" : "light");
        EXPECT_EQ(Theme::orbTheme(), Theme::webScheme());
    }
}

TEST_F(ThemeTest, TokensForcesTheSchemeOnlyForItsBody)
{
    for (const std::optional<QString> &before : {std::optional<QString>(), std::optional<QString>(QStringLiteral("light"))}) {
        Theme::setOverride(before);
        Theme::setMode(QStringLiteral("light"));
        const QString inside = Theme::tokens(true, [] {
            EXPECT_TRUE(Theme::isDark());
            // nested: the inner scheme wins inside, the outer returns after
            EXPECT_EQ(Theme::tokens(false, [] { return Theme::css(Theme::bg()); }), "#F6F5F1");
            EXPECT_TRUE(Theme::isDark());
            return Theme::css(Theme::bg());
        });
        EXPECT_EQ(inside, "#06070B");
        EXPECT_EQ(Theme::override(), before);
        EXPECT_FALSE(Theme::isDark());
    }
}

TEST_F(ThemeTest, ReduceMotionIsReadAnewOnEveryCall)
{
    desktopReduceMotion = true;
    EXPECT_TRUE(Theme::reduceMotion());
    desktopReduceMotion = false;
    EXPECT_FALSE(Theme::reduceMotion());
}

// --- fonts ---------------------------------------------------------------------------

namespace {
// The face actually chosen: family, style and the font's weight.
QString faceOf(const QFont &f)
{
    const QRawFont raw = QRawFont::fromFont(f);
    return raw.familyName() + QLatin1Char('/') + raw.styleName() + QLatin1Char('/') + QString::number(f.weight());
}
} // namespace

TEST_F(ThemeTest, BundledFontsAreTheFiveFacesAndCoverTheRupee)
{
    const QStringList files = Theme::bundledFontFiles();
    QStringList names;
    for (const QString &f : files) {
        names << QFileInfo(f).completeBaseName();
        EXPECT_EQ(Theme::faceNameOf(f), QFileInfo(f).completeBaseName()) << f.toStdString();
        EXPECT_TRUE(QRawFont(f, 12).supportsCharacter(QChar(0x20B9))) << f.toStdString();
    }
    EXPECT_EQ(names, QStringList({"Ubuntu-Bold", "Ubuntu-Medium", "Ubuntu-Regular", "UbuntuMono-Bold",
                                  "UbuntuMono-Regular"}));
}

TEST_F(ThemeTest, FontPicksTheFaceByWeight)
{
    Theme::registerBundledFonts();
    Theme::registerBundledFonts(); // a second call registers nothing twice
    const struct {
        QFont::Weight weight;
        const char *face; // family/style/weight as the chosen file declares
    } text[] = {
        {QFont::Thin, "Ubuntu/Regular/400"},      {QFont::Light, "Ubuntu/Regular/400"},
        {QFont::Normal, "Ubuntu/Regular/400"},    {QFont::Medium, "Ubuntu Medium/Regular/500"},
        {QFont::DemiBold, "Ubuntu/Bold/700"},     {QFont::Bold, "Ubuntu/Bold/700"},
        {QFont::ExtraBold, "Ubuntu/Bold/700"},    {QFont::Black, "Ubuntu/Bold/700"},
    };
    for (const auto &c : text)
        EXPECT_EQ(faceOf(Theme::font(13, c.weight)), QString::fromLatin1(c.face)) << int(c.weight);
    const struct {
        QFont::Weight weight;
        const char *face;
    } mono[] = {
        {QFont::Normal, "Ubuntu Mono/Regular/400"}, {QFont::Medium, "Ubuntu Mono/Regular/400"},
        {QFont::Black, "Ubuntu Mono/Regular/400"},  {QFont::DemiBold, "Ubuntu Mono/Bold/700"},
        {QFont::Bold, "Ubuntu Mono/Bold/700"},      {QFont::ExtraBold, "Ubuntu Mono/Bold/700"},
    };
    for (const auto &c : mono)
        EXPECT_EQ(faceOf(Theme::mono(13, c.weight)), QString::fromLatin1(c.face)) << int(c.weight);
    EXPECT_DOUBLE_EQ(Theme::fontSize(Theme::font(12.5)), 12.5);
    EXPECT_DOUBLE_EQ(Theme::fontSize(Theme::mono(11, QFont::Bold)), 11);
}

TEST_F(ThemeTest, ChatFontFaceCssEmbedsTheTextFacesOnce)
{
    const QString &css = Theme::chatFontFaceCSS();
    EXPECT_EQ(&css, &Theme::chatFontFaceCSS());
    const QRegularExpression rule(QStringLiteral(
        "@font-face\\{font-family:'Ubuntu';font-style:normal;font-weight:(\\d+);font-display:block;"
        "src:url\\(data:font/ttf;base64,([A-Za-z0-9+/=]+)\\) format\\('truetype'\\)\\}"));
    QStringList weights;
    qsizetype consumed = 0;
    auto it = rule.globalMatch(css);
    const QStringList faces{"Ubuntu-Bold", "Ubuntu-Medium", "Ubuntu-Regular"};
    while (it.hasNext()) {
        const auto m = it.next();
        EXPECT_EQ(m.capturedStart(), consumed) << "rules follow each other with nothing between";
        consumed = m.capturedEnd();
        weights << m.captured(1);
        QFile f(QStringLiteral(":/fonts/") + faces.value(weights.size() - 1) + QStringLiteral(".ttf"));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(QByteArray::fromBase64(m.captured(2).toLatin1()), f.readAll());
    }
    EXPECT_EQ(consumed, css.size());
    EXPECT_EQ(weights, QStringList({"700", "500", "400"}));
}

TEST_F(ThemeTest, FontFaceRulesSkipFacesOutsideTheWeightTable)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::copy(":/fonts/Ubuntu-Regular.ttf", dir.filePath("Ubuntu-Regular.ttf")));
    ASSERT_TRUE(QFile::copy(":/fonts/Ubuntu-Regular.ttf", dir.filePath("Ubuntu-Light.ttf")));
    ASSERT_TRUE(QFile::copy(":/fonts/Ubuntu-Bold.ttf", dir.filePath("EXTRA.TTF")));
    QFile notes(dir.filePath("notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("not a font");
    notes.close();

    const QStringList files = Theme::fontFilesIn(dir.path());
    QStringList names;
    for (const QString &f : files)
        names << QFileInfo(f).fileName();
    EXPECT_EQ(names, QStringList({"EXTRA.TTF", "Ubuntu-Light.ttf", "Ubuntu-Regular.ttf"}));

    const QString css = Theme::fontFaceRules(files + QStringList{dir.filePath("Ubuntu-Medium.ttf")} /* missing */);
    EXPECT_EQ(css.count(QStringLiteral("@font-face")), 1);
    EXPECT_TRUE(css.contains(QStringLiteral("font-weight:400;")));
    EXPECT_TRUE(Theme::fontFaceRules({}).isEmpty());
    EXPECT_TRUE(Theme::fontFilesIn(dir.filePath("none")).isEmpty());
}

// --- styles ----------------------------------------------------------------------------

namespace {
QGraphicsDropShadowEffect *shadowOf(QWidget *w)
{
    return qobject_cast<QGraphicsDropShadowEffect *>(w->graphicsEffect());
}
} // namespace

TEST_F(ThemeTest, PrimaryButtonRestylesCleanlyAndSecondaryUndoesIt)
{
    for (bool dark : {false, true}) {
        scheme(dark);
        QPushButton b(QStringLiteral("Save"));
        b.resize(90, 30);
        Theme::primaryButton(&b);
        QGraphicsDropShadowEffect *first = shadowOf(&b);
        Theme::primaryButton(&b);
        ASSERT_NE(shadowOf(&b), nullptr);
        EXPECT_EQ(shadowOf(&b), first) << "restyling keeps one shadow";
        EXPECT_NEAR(shadowOf(&b)->color().alphaF(), dark ? 0.45 : 0.32, 0.01);
        EXPECT_EQ(Theme::css(QColor(shadowOf(&b)->color().rgb())), "#3257E0");
        EXPECT_TRUE(b.styleSheet().contains(QStringLiteral("border-radius:15px")));
        EXPECT_EQ(b.font().weight(), QFont::Medium);
        EXPECT_DOUBLE_EQ(Theme::fontSize(b.font()), 13);

        const QImage img = grab(&b);
        EXPECT_TRUE(near(img.pixelColor(10, 15), Theme::hex(0x3558E3), 14)) << "the blue body";

        Theme::secondaryButton(&b);
        EXPECT_EQ(b.graphicsEffect(), nullptr);
        EXPECT_FALSE(b.styleSheet().contains(QStringLiteral("qlineargradient")));
        EXPECT_TRUE(near(grab(&b).pixelColor(8, 15), Theme::field(), 6)) << "the field fill";
    }
}

TEST_F(ThemeTest, StylesKeepAnExplicitTitleSizeAndFallBackWithoutHeight)
{
    QPushButton b(QStringLiteral("Go"));
    b.resize(80, 0);
    Theme::secondaryButton(&b);
    EXPECT_TRUE(b.styleSheet().contains(QStringLiteral("border-radius:16px")));
    QPushButton chip(QStringLiteral("GST"));
    chip.resize(60, 0);
    Theme::chip(&chip, false);
    EXPECT_TRUE(chip.styleSheet().contains(QStringLiteral("border-radius:13px")));
    EXPECT_DOUBLE_EQ(Theme::fontSize(chip.font()), 12);
    chip.setFont(Theme::font(15));
    chip.resize(60, 26);
    Theme::chip(&chip, true);
    EXPECT_TRUE(chip.styleSheet().contains(QStringLiteral("border-radius:13px")));
    EXPECT_DOUBLE_EQ(Theme::fontSize(chip.font()), 15);
    EXPECT_EQ(chip.font().weight(), QFont::Medium);
    Theme::chip(&chip, false);
    EXPECT_EQ(chip.font().weight(), QFont::Normal);
}

TEST_F(ThemeTest, ButtonsStayPillsAtTheHeightTheyAreGivenLater)
{
    // Styled first and placed later, as the panels do; a caller's own
    // addition to the style sheet stays.
    const QList<std::pair<const char *, std::function<void(QAbstractButton *)>>> styles{
        {"primary", [](QAbstractButton *b) { Theme::primaryButton(b); }},
        {"secondary", [](QAbstractButton *b) { Theme::secondaryButton(b); }},
        {"chip", [](QAbstractButton *b) { Theme::chip(b, true); }},
    };
    for (const auto &[name, style] : styles) {
        QWidget host;
        host.resize(200, 100);
        host.show();
        QPushButton b(QStringLiteral("Save"), &host);
        b.show();
        style(&b);
        b.setStyleSheet(b.styleSheet() + QStringLiteral("QAbstractButton{padding:0 4px}"));
        for (const auto &[height, radius] : {std::pair{28, "14"}, std::pair{32, "16"}, std::pair{21, "10.5"}}) {
            b.setGeometry(10, 10, 120, height);
            QCoreApplication::sendPostedEvents();
            EXPECT_TRUE(b.styleSheet().contains(QStringLiteral("border-radius:%1px").arg(radius)))
                << name << " at " << height << ": " << b.styleSheet().toStdString();
            EXPECT_FALSE(b.styleSheet().contains(QStringLiteral("border-radius:15px"))) << name;
            EXPECT_TRUE(b.styleSheet().endsWith(QStringLiteral("QAbstractButton{padding:0 4px}"))) << name;
        }
        // Restyled at its height, it keeps the one watch and the radius.
        style(&b);
        b.setGeometry(10, 10, 120, 30);
        EXPECT_TRUE(b.styleSheet().contains(QStringLiteral("border-radius:15px"))) << name;
    }
}

TEST_F(ThemeTest, ChipShowsItsState)
{
    scheme(false);
    QWidget host;
    backdrop(host, Theme::bg(), QSize(100, 40));
    QPushButton chip(QStringLiteral("  "), &host);
    chip.setGeometry(10, 7, 60, 26);
    Theme::chip(&chip, true);
    const QImage on = grab(&host);
    EXPECT_TRUE(near(on.pixelColor(40, 20), composite(Theme::royalSoft(), Theme::bg()), 6));
    Theme::chip(&chip, false);
    const QImage off = grab(&host);
    EXPECT_TRUE(near(off.pixelColor(40, 20), Theme::field(), 6));
}

TEST_F(ThemeTest, CardHasAShadowOnlyInLightMode)
{
    QWidget view;
    view.resize(120, 60);
    scheme(false);
    Theme::card(&view);
    ViewLayer *l = ViewLayer::find(&view);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->cornerRadius, 14);
    EXPECT_EQ(l->background.color(), Theme::panel());
    EXPECT_EQ(l->borderColor, Theme::line());
    ASSERT_NE(shadowOf(&view), nullptr);
    EXPECT_NEAR(shadowOf(&view)->color().alphaF(), 0.07, 0.01);

    scheme(true);
    Theme::card(&view, 8);
    EXPECT_EQ(ViewLayer::find(&view), l);
    EXPECT_EQ(l->cornerRadius, 8);
    EXPECT_EQ(view.graphicsEffect(), nullptr);
    EXPECT_TRUE(near(grab(&view).pixelColor(60, 30), Theme::panel(), 2));

    // A caller's own effect is not the kit's to remove.
    auto *own = new QGraphicsDropShadowEffect;
    view.setGraphicsEffect(own);
    Theme::card(&view);
    EXPECT_EQ(view.graphicsEffect(), own);
}

TEST_F(ThemeTest, PaletteStandsForTheScheme)
{
    for (bool dark : {false, true}) {
        scheme(dark);
        const QPalette p = Theme::palette();
        EXPECT_EQ(p.color(QPalette::Window), Theme::bg());
        EXPECT_EQ(p.color(QPalette::WindowText), Theme::ink());
        EXPECT_EQ(p.color(QPalette::Base), Theme::field());
        EXPECT_EQ(p.color(QPalette::Disabled, QPalette::Text), Theme::muted());
    }
}

// --- web ---------------------------------------------------------------------------------

TEST_F(ThemeTest, MascotSvgIsTheExactMarkup)
{
    const QString P = "M50 11C63 11 87 45 87 62C87 80 70 91 50 91C30 91 13 80 13 62C13 45 37 11 50 11Z";
    const QString expected =
        "<svg viewBox=\"0 0 100 100\" class=\"vo-mascot\" aria-hidden=\"true\" style=\"overflow:visible\">"
        "<defs>"
        "<linearGradient id=\"m1g\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">"
        "<stop offset=\"0\" stop-color=\"#4E75F2\"/><stop offset=\"1\" stop-color=\"#2340B8\"/></linearGradient>"
        "<radialGradient id=\"m1h\" cx=\".32\" cy=\".26\" r=\".42\">"
        "<stop offset=\"0\" stop-color=\"#fff\" stop-opacity=\".65\"/>"
        "<stop offset=\"1\" stop-color=\"#fff\" stop-opacity=\"0\"/></radialGradient>"
        "<linearGradient id=\"m1s\" x1=\"0\" y1=\"0\" x2=\"1\" y2=\"0\">"
        "<stop offset=\"0\" stop-color=\"#fff\" stop-opacity=\"0\"/>"
        "<stop offset=\".5\" stop-color=\"#fff\" stop-opacity=\".55\"/>"
        "<stop offset=\"1\" stop-color=\"#fff\" stop-opacity=\"0\"/></linearGradient>"
        "<clipPath id=\"m1c\"><path d=\"" + P + "\"/></clipPath>"
        "</defs>"
        "<g class=\"vo-body\">"
        "<path d=\"" + P + "\" fill=\"url(#m1g)\"/>"
        "<path d=\"" + P + "\" fill=\"url(#m1h)\"/>"
        "<g clip-path=\"url(#m1c)\"><rect class=\"vo-shine\" x=\"-60\" y=\"0\" width=\"34\" height=\"100\" "
        "fill=\"url(#m1s)\" transform=\"skewX(-18)\"/></g>"
        "<g class=\"vo-eyes\">"
        "<rect y=\"44\" width=\"9\" height=\"16\" rx=\"4.5\" fill=\"#fff\" x=\"35.5\"/>"
        "<rect y=\"44\" width=\"9\" height=\"16\" rx=\"4.5\" fill=\"#fff\" x=\"55.5\"/>"
        "</g></g></svg>";
    EXPECT_EQ(Theme::mascotSVG("m1"), expected);
    QString hued = expected;
    hued.replace("class=\"vo-mascot\"", "class=\"vo-mascot vo-hue\"");
    EXPECT_EQ(Theme::mascotSVG("m1", true), hued);
    EXPECT_FALSE(Theme::mascotSVG("a").contains("m1"));
}

// The page mascot plays its loops a few times and then keeps still; with
// reduced motion (the system's or the page's word) nothing of it moves.
TEST_F(ThemeTest, MascotCssSettlesAndKeepsStillWithReducedMotion)
{
    const QString css = Theme::mascotCSS();
    EXPECT_FALSE(css.contains("infinite")) << css.toStdString();
    for (const char *rule : {"animation:vo-breathe 3.4s ease-in-out 4", "animation:vo-blink 4.6s 3",
                             "animation:vo-shine 6s cubic-bezier(.22,1,.36,1) 2", "animation:vo-hue 16s ease-in-out 1",
                             "@keyframes vo-breathe{", "@keyframes vo-blink{", "@keyframes vo-shine{",
                             "@keyframes vo-hue{"})
        EXPECT_TRUE(css.contains(rule)) << rule;
    EXPECT_TRUE(css.contains(
        "@media (prefers-reduced-motion: reduce){.vo-body,.vo-eyes,.vo-hue,.vo-shine{animation:none}}"));
    EXPECT_TRUE(css.contains("[data-velto-still] .vo-body,[data-velto-still] .vo-eyes,[data-velto-still] .vo-hue,"
                             "[data-velto-still] .vo-shine{animation:none}"));
}
