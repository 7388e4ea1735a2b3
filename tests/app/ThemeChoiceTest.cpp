// The CA's light/dark choice: the saved file, the switch queue with its
// reveal, the repaint of the pages, and the window picture.
#include "AppTestKit.h"
#include "support/FakeHttpServer.h"

#include "app/AppDelegate.h"
#include "browser/BrowserPane.h"
#include "browser/BrowserTab.h"
#include "core/Globals.h"
#include "platform/Appearance.h"
#include "platform/WebView.h"
#include "ui/Mascot.h"
#include "ui/Reveal.h"
#include "ui/Theme.h"
#include "ui/ThemeSwitch.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainterPath>
#include <QSignalSpy>
#include <QWebEnginePage>

using TestKit::waitFor;

namespace {

bool desktopDark = false;
bool desktopReduceMotion = false;

// What the theme notifications saw: the choice in force at each one.
struct Broadcasts {
    QStringList didChange, changed;
    Broadcasts()
    {
        QObject::connect(ThemeBroadcast::shared(), &ThemeBroadcast::veltoThemeDidChange, &guard,
                         [this] { didChange << Theme::mode(); });
        QObject::connect(ThemeBroadcast::shared(), &ThemeBroadcast::veltoThemeChanged, &guard,
                         [this] { changed << Theme::mode(); });
    }
    QObject guard;
};

class ThemeChoiceTest : public TestKit::HomeTest {
protected:
    std::unique_ptr<AppDelegate> app;
    int quits = 0;

    void SetUp() override
    {
        HomeTest::SetUp();
        savedMode_ = Theme::mode();
        savedOverride_ = Theme::override();
        savedDark_ = Appearance::Hooks::prefersDark;
        savedMotion_ = Appearance::Hooks::reduceMotion;
        savedPalette_ = QApplication::palette();
        desktopDark = false;
        desktopReduceMotion = false;
        Appearance::Hooks::prefersDark = [] { return desktopDark; };
        Appearance::Hooks::reduceMotion = [] { return desktopReduceMotion; };
        Theme::setMode(QStringLiteral("light"));
        Theme::setOverride(std::nullopt);
        AppDelegate::terminate = [this] { ++quits; };
        AppDelegate::chatProfile = [] { return TestKit::webProfile(); };
        app = std::make_unique<AppDelegate>();
    }
    void TearDown() override
    {
        app.reset();
        AppDelegate::terminate = nullptr;
        AppDelegate::chatProfile = nullptr;
        demoRecordScale.reset();
        Theme::setMode(savedMode_);
        Theme::setOverride(savedOverride_);
        Appearance::Hooks::prefersDark = savedDark_;
        Appearance::Hooks::reduceMotion = savedMotion_;
        QApplication::setPalette(savedPalette_);
        HomeTest::TearDown();
    }

    QString appJson() const { return home->file(".velto/app.json"); }
    QJsonObject saved() const { return QJsonDocument::fromJson(TestKit::readFile(appJson())).object(); }
    RevealOverlay *cover() const { return app->window()->findChild<RevealOverlay *>(); }
    // Waits until no switch runs and none waits.
    bool settled(int ms = 5000) const
    {
        return waitFor([&] { return !app->themeSwitching() && !app->pendingThemeMode() && !cover(); }, ms);
    }
    // Loads a page and waits for it.
    static bool loadAndWait(WebView *web, const QUrl &url)
    {
        QSignalSpy done(web, &QWebEngineView::loadFinished);
        web->load(url);
        return waitFor([&] { return !done.isEmpty(); }, 20000) && done.first().first().toBool();
    }
    // The value of a script run in the page's own world.
    static QVariant run(WebView *web, const QString &script)
    {
        std::optional<WebView::ScriptResult> result;
        web->evaluate(script, [&](const WebView::ScriptResult &r) { result = r; }, WebView::World::Page);
        waitFor([&] { return result.has_value(); }, 10000);
        return result ? result->value : QVariant();
    }

private:
    QString savedMode_;
    std::optional<QString> savedOverride_;
    std::function<bool()> savedDark_, savedMotion_;
    QPalette savedPalette_;
};

TEST_F(ThemeChoiceTest, LoadingTakesOnlyExactChoices)
{
    const struct {
        const char *file; // nullptr: no file
        const char *mode; // the mode after loading
    } cases[] = {
        {R"({"theme": "dark", "other": 1})", "dark"},
        {R"({"theme": "light"})", "light"},
        {R"({"theme": "system"})", "system"},
        {R"({"theme": "Dark"})", "unchanged"},
        {R"({"theme": " dark"})", "unchanged"},
        {R"({"theme": 2})", "unchanged"},
        {R"({"theme": null})", "unchanged"},
        {R"({"other": "dark"})", "unchanged"},
        {R"(["dark"])", "unchanged"},
        {"theme=dark", "unchanged"},
        {"", "unchanged"},
        {nullptr, "unchanged"},
    };
    for (const auto &c : cases) {
        QFile::remove(appJson());
        if (c.file)
            home->write(".velto/app.json", c.file);
        Theme::setMode(QStringLiteral("unchanged"));
        app->loadTheme();
        EXPECT_EQ(Theme::mode(), QString::fromUtf8(c.mode)) << (c.file ? c.file : "(no file)");
    }

    // A file that cannot be read (here a folder) keeps the default too, and
    // saving over it fails quietly.
    QFile::remove(appJson());
    ASSERT_TRUE(QDir().mkpath(appJson()));
    app->loadTheme();
    EXPECT_EQ(Theme::mode(), QStringLiteral("unchanged"));
    app->saveTheme(QStringLiteral("dark"));
    EXPECT_TRUE(QFileInfo(appJson()).isDir());
}

TEST_F(ThemeChoiceTest, SavingKeepsTheOtherKeys)
{
    home->write(".velto/app.json", R"({"theme": "dark", "window": {"w": 1280}, "seen": [1, 2]})");
    app->saveTheme(QStringLiteral("light"));
    EXPECT_EQ(saved(), (QJsonObject{{"theme", "light"},
                                    {"window", QJsonObject{{"w", 1280}}},
                                    {"seen", QJsonArray{1, 2}}}));

    // Whatever is not a JSON object is replaced by a fresh one.
    for (const char *bad : {"not json", "[1,2]", "\"dark\""}) {
        home->write(".velto/app.json", bad);
        app->saveTheme(QStringLiteral("system"));
        EXPECT_EQ(saved(), (QJsonObject{{"theme", "system"}})) << bad;
    }
    QFile::remove(appJson());
    app->saveTheme(QStringLiteral("dark"));
    EXPECT_EQ(saved(), (QJsonObject{{"theme", "dark"}}));
    EXPECT_TRUE(TestKit::readFile(appJson()).contains("\n    \"theme\"")) << "pretty-printed";
}

TEST_F(ThemeChoiceTest, StartUpPaintsTheSavedChoice)
{
    home->write(".velto/app.json", R"({"theme": "dark"})");
    TestKit::DialogAnswers answers;
    answers.alert(0); // no engine is installed: start-up stops there
    app->applicationDidFinishLaunching();
    EXPECT_EQ(Theme::mode(), QStringLiteral("dark"));
    EXPECT_TRUE(app->paintedDark());
    EXPECT_TRUE(app->themeSwitch()->isOn());
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), Theme::tokens(true, [] { return Theme::bg(); }));
    EXPECT_TRUE(waitFor([&] { return quits == 1; }));

    // The first press of the switch then chooses light.
    app->themeSwitchToggled();
    ASSERT_TRUE(settled());
    EXPECT_EQ(Theme::mode(), QStringLiteral("light"));
    EXPECT_FALSE(app->paintedDark());
    EXPECT_EQ(saved().value("theme"), "light");
}

TEST_F(ThemeChoiceTest, TheSwitchChoosesTheOppositeOfWhatIsPainted)
{
    Theme::setMode(QStringLiteral("system"));
    desktopDark = true;
    app->buildWindow();
    ASSERT_TRUE(app->paintedDark());
    Broadcasts seen;
    emit app->themeSwitch()->triggered();
    ASSERT_TRUE(settled());
    EXPECT_EQ(Theme::mode(), QStringLiteral("light")) << "a press leaves \"system\" for an explicit mode";
    EXPECT_FALSE(app->themeSwitch()->isOn());
    emit app->themeSwitch()->triggered();
    ASSERT_TRUE(settled());
    EXPECT_EQ(Theme::mode(), QStringLiteral("dark"));
    EXPECT_EQ(seen.changed, (QStringList{"light", "dark"}));
}

TEST_F(ThemeChoiceTest, ASwitchRepaintsWithTheRevealAndNotifiesOnce)
{
    app->buildWindow();
    ASSERT_FALSE(app->paintedDark());
    Broadcasts seen;
    QStringList order;
    QObject guard;
    QObject::connect(ThemeBroadcast::shared(), &ThemeBroadcast::veltoThemeDidChange, &guard, [&] { order << "did"; });
    QObject::connect(ThemeBroadcast::shared(), &ThemeBroadcast::veltoThemeChanged, &guard, [&] { order << "changed"; });

    app->setAppearanceDark();
    // Repainted at once, the cover of the old look over the window meanwhile.
    EXPECT_TRUE(app->themeSwitching());
    EXPECT_TRUE(app->paintedDark());
    EXPECT_TRUE(app->themeSwitch()->isOn());
    RevealOverlay *overlay = cover();
    ASSERT_TRUE(overlay);
    EXPECT_TRUE(overlay->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(overlay->geometry(), app->window()->rect());
    EXPECT_TRUE(overlay->toDark());
    // The switch's pill never lies under the cover.
    QPainterPath pill;
    pill.addRoundedRect(QRectF(app->themeSwitch()->mapTo(app->window(), QPoint(0, 0)), QSizeF(66, 34)), 17, 17);
    for (double t : {0.0, 0.3, 1.0})
        EXPECT_FALSE(overlay->coverPath(t).intersects(pill)) << "the switch shows through at " << t;
    EXPECT_TRUE(overlay->coverPath(0).contains(QPointF(10, 300))) << "the rest is covered at first";
    EXPECT_TRUE(app->brandMark()->happyEyesShown());

    ASSERT_TRUE(settled());
    EXPECT_FALSE(cover()) << "the cover is gone after the reveal";
    EXPECT_EQ(order, (QStringList{"did", "changed"}));
    EXPECT_EQ(saved().value("theme"), "dark");
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), Theme::tokens(true, [] { return Theme::bg(); }));
}

TEST_F(ThemeChoiceTest, ChoicesDuringARevealWaitAndTheLastWins)
{
    app->buildWindow();
    {
        Broadcasts seen;
        app->setAppearanceDark();
        ASSERT_TRUE(cover());
        app->setAppearanceLight();
        EXPECT_EQ(app->pendingThemeMode(), QStringLiteral("light"));
        EXPECT_EQ(seen.changed, (QStringList{"dark"})) << "the second waits for the reveal";
        ASSERT_TRUE(settled());
        EXPECT_EQ(seen.changed, (QStringList{"dark", "light"})) << "and runs right after it";
        EXPECT_EQ(seen.didChange, seen.changed);
        EXPECT_FALSE(app->paintedDark());
    }
    {
        Broadcasts seen;
        app->setAppearanceDark();
        app->setAppearanceLight();
        app->setAppearanceSystem(); // the desktop is light
        EXPECT_EQ(app->pendingThemeMode(), QStringLiteral("system"));
        ASSERT_TRUE(settled());
        EXPECT_EQ(seen.changed, (QStringList{"dark", "system"})) << "\"light\" never ran";
        EXPECT_EQ(Theme::mode(), QStringLiteral("system"));
        EXPECT_EQ(saved().value("theme"), "system");
        EXPECT_FALSE(app->paintedDark());
    }
}

TEST_F(ThemeChoiceTest, AChoiceThatChangesNothingVisibleHasNoReveal)
{
    app->buildWindow();
    Broadcasts seen;
    app->setAppearanceSystem(); // the desktop is light, as painted
    EXPECT_FALSE(app->themeSwitching());
    EXPECT_FALSE(cover());
    EXPECT_EQ(Theme::mode(), QStringLiteral("system"));
    EXPECT_EQ(saved().value("theme"), "system");
    app->setAppearanceSystem(); // the same again: nothing at all
    TestKit::spin(50);
    EXPECT_TRUE(seen.changed.isEmpty());
    EXPECT_TRUE(seen.didChange.isEmpty());
}

TEST_F(ThemeChoiceTest, TheEnvironmentsOverrideEndsWithAMenuChoice)
{
    // VELTO_THEME forces dark while the file holds light.
    home->write(".velto/app.json", R"({"theme": "light"})");
    Theme::setOverride(Theme::overrideFromEnvironment(
        [] { QProcessEnvironment e; e.insert("VELTO_THEME", "DARK"); return e; }()));
    app->loadTheme();
    app->applyAppearance();
    app->buildWindow();
    EXPECT_TRUE(app->paintedDark());

    Broadcasts seen;
    app->setAppearanceLight(); // the saved value already
    ASSERT_TRUE(settled());
    EXPECT_FALSE(Theme::override());
    EXPECT_FALSE(app->paintedDark());
    EXPECT_EQ(seen.changed, (QStringList{"light"}));
    EXPECT_EQ(saved(), (QJsonObject{{"theme", "light"}}));
}

TEST_F(ThemeChoiceTest, WithoutMotionOrAVisibleWindowTheRepaintIsImmediate)
{
    const struct {
        const char *name;
        bool reduceMotion;
        bool hide;
        bool minimise;
    } cases[] = {
        {"reduce motion", true, false, false},
        {"hidden window", false, true, false},
        {"minimised window", false, false, true},
    };
    for (const auto &c : cases) {
        Theme::setMode(QStringLiteral("light"));
        app = std::make_unique<AppDelegate>();
        app->buildWindow();
        desktopReduceMotion = c.reduceMotion;
        if (c.hide)
            app->window()->hide();
        if (c.minimise)
            app->window()->showMinimized();
        Broadcasts seen;
        app->setAppearanceDark();
        EXPECT_FALSE(cover()) << c.name;
        EXPECT_FALSE(app->themeSwitching()) << c.name << ": done at once";
        EXPECT_TRUE(app->paintedDark()) << c.name;
        EXPECT_EQ(seen.changed, (QStringList{"dark"})) << c.name;
        EXPECT_EQ(seen.didChange, (QStringList{"dark"})) << c.name;
        if (c.reduceMotion) {
            EXPECT_FALSE(app->themeSwitch()->animation("state")) << "the switch jumps";
        }
        desktopReduceMotion = false;
    }
}

TEST_F(ThemeChoiceTest, TheDesktopsSchemeIsFollowedOnlyUnderSystem)
{
    Theme::setMode(QStringLiteral("system"));
    app->buildWindow();
    Broadcasts seen;

    desktopDark = true;
    emit Appearance::shared()->colorSchemeChanged();
    ASSERT_TRUE(waitFor([&] { return app->paintedDark(); }));
    // A change during that reveal is caught when it ends.
    desktopDark = false;
    emit Appearance::shared()->colorSchemeChanged();
    ASSERT_TRUE(waitFor([&] { return seen.changed.size() == 2; }));
    ASSERT_TRUE(settled());
    EXPECT_FALSE(app->paintedDark());
    EXPECT_EQ(seen.didChange.size(), 2);

    // Under an explicit choice the desktop is ignored.
    app->setAppearanceLight();
    desktopDark = true;
    emit Appearance::shared()->colorSchemeChanged();
    TestKit::spin(100);
    EXPECT_FALSE(app->paintedDark());
    EXPECT_EQ(seen.changed.size(), 2);
}

TEST_F(ThemeChoiceTest, PagesAreToldTheNewScheme)
{
    TestKit::FakeHttpServer fake;
    fake.on("GET", "/chat", [](const TestKit::RecordedRequest &) {
        TestKit::FakeReply r;
        r.headers << TestKit::Header("Content-Type", "text/html; charset=utf-8");
        r.body = "<!doctype html><html><body><p>chat</p></body></html>";
        return r;
    });
    app->buildWindow();
    ASSERT_TRUE(loadAndWait(app->chat(), QUrl(fake.baseUrl() + "/chat")));
    app->browser()->newTab();
    WebView *tab = app->browser()->activeTab()->web();
    ASSERT_TRUE(waitFor([&] { return run(tab, "typeof window.__veltoSetTheme") == "function"; }, 20000));
    ASSERT_TRUE(waitFor([&] { return run(app->splashWeb(), "document.readyState") == "complete"; }, 20000));

    // Each page records the calls of its theme hook.
    const QString record = "window.__calls = []; (function(){ var f = window.__veltoSetTheme;"
                           " window.__veltoSetTheme = function(t){ window.__calls.push(t); if (f) f(t); }; })(); 1";
    const struct {
        const char *name;
        WebView *web;
    } pages[] = {{"chat", app->chat()}, {"splash", app->splashWeb()}, {"browser tab", tab}};
    for (const auto &p : pages)
        ASSERT_EQ(run(p.web, record), 1) << p.name;

    app->setAppearanceDark();
    for (const auto &p : pages)
        EXPECT_TRUE(waitFor([&] { return run(p.web, "window.__calls.join(',')") == "dark"; })) << p.name;
    ASSERT_TRUE(settled());
    EXPECT_EQ(run(tab, "document.documentElement.getAttribute('data-theme')"), "dark");
    app->setAppearanceLight();
    for (const auto &p : pages)
        EXPECT_TRUE(waitFor([&] { return run(p.web, "window.__calls.join(',')") == "dark,light"; })) << p.name;
}

TEST_F(ThemeChoiceTest, ThePictureAnswersExactlyOnce)
{
    QWidget plain;
    plain.resize(120, 80);
    plain.setAutoFillBackground(true);
    QPalette pal = plain.palette();
    pal.setColor(QPalette::Window, QColor(10, 200, 10));
    plain.setPalette(pal);
    QWidget empty;
    empty.resize(0, 50);

    const struct {
        const char *name;
        QWidget *view;
        QSize size; // empty: no picture
    } cases[] = {
        {"no view", nullptr, QSize()},
        {"no width", &empty, QSize()},
        {"a plain view", &plain, QSize(120, 80)},
    };
    for (const auto &c : cases) {
        int calls = 0;
        QImage got;
        AppDelegate::composite(c.view, Qt::red, std::nullopt, nullptr, [&](const QImage &image) {
            ++calls;
            got = image;
        });
        TestKit::spin(30);
        EXPECT_EQ(calls, 1) << c.name;
        EXPECT_EQ(got.isNull(), c.size.isEmpty()) << c.name;
        if (!c.size.isEmpty()) {
            EXPECT_EQ(got.deviceIndependentSize().toSize(), c.size) << c.name;
            EXPECT_EQ(got.pixelColor(got.width() / 2, got.height() / 2), QColor(10, 200, 10)) << c.name;
        }
    }
}

TEST_F(ThemeChoiceTest, ThePictureCarriesTheLiveWebContent)
{
    TestKit::FakeHttpServer fake;
    fake.on("GET", "/red", [](const TestKit::RecordedRequest &) {
        TestKit::FakeReply r;
        r.headers << TestKit::Header("Content-Type", "text/html; charset=utf-8");
        r.body = "<!doctype html><html><body style='margin:0;background:#ff0000'></body></html>";
        return r;
    });
    app->buildWindow();
    // A web view of its own over the window's content.
    auto *web = new WebView(TestKit::webProfile(), app->window());
    web->setGeometry(300, 100, 200, 150);
    web->show();
    web->raise();
    ASSERT_TRUE(loadAndWait(web, QUrl(fake.baseUrl() + "/red")));
    const QPoint mid = web->geometry().center();
    ASSERT_TRUE(waitFor([&] {
        const QImage s = web->snapshot();
        return !s.isNull() && s.pixelColor(s.width() / 2, s.height() / 2) == QColor(255, 0, 0);
    }, 20000)) << "the page never painted";

    int calls = 0;
    QImage got;
    AppDelegate::composite(app->window(), Qt::black, QColor(0, 0, 255, 40), web, [&](const QImage &image) {
        ++calls;
        got = image;
    });
    TestKit::spin(30);
    ASSERT_EQ(calls, 1);
    ASSERT_FALSE(got.isNull());
    EXPECT_EQ(got.deviceIndependentSize().toSize(), app->window()->size());
    const qreal dpr = got.devicePixelRatio();
    const QColor c = got.pixelColor(int(mid.x() * dpr), int(mid.y() * dpr));
    EXPECT_GT(c.red(), 240);
    EXPECT_LT(c.green(), 20);
}

TEST_F(ThemeChoiceTest, DemoRecordingPicturesAreScaledAndReuseTheChrome)
{
    demoRecordScale = 2.0;
    QWidget view;
    view.resize(100, 60);
    view.setAutoFillBackground(true);
    auto paint = [&](const QColor &c) {
        QPalette pal = view.palette();
        pal.setColor(QPalette::Window, c);
        view.setPalette(pal);
    };
    auto picture = [&] {
        int calls = 0;
        QImage got;
        AppDelegate::composite(&view, Qt::black, std::nullopt, nullptr, [&](const QImage &image) {
            ++calls;
            got = image;
        });
        EXPECT_EQ(calls, 1);
        return got;
    };
    paint(Qt::blue);
    const QImage first = picture();
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first.size(), QSize(200, 120)) << "two pixels per point";
    EXPECT_EQ(first.deviceIndependentSize().toSize(), QSize(100, 60));
    EXPECT_EQ(first.pixelColor(100, 60), QColor(Qt::blue));

    paint(Qt::green);
    EXPECT_EQ(picture().pixelColor(100, 60), QColor(Qt::blue)) << "the chrome drawn just now is reused";
    view.resize(110, 60);
    const QImage resized = picture();
    EXPECT_EQ(resized.size(), QSize(220, 120));
    EXPECT_EQ(resized.pixelColor(100, 60), QColor(Qt::green)) << "a new size draws anew";

    const QImage tiny = AppDelegate::scaledImage(QSizeF(10.7, 3.2), 1.5, [](QPainter &) {});
    EXPECT_EQ(tiny.size(), QSize(16, 4)) << "whole pixels, truncated";
    EXPECT_TRUE(AppDelegate::scaledImage(QSizeF(0, 10), 2, [](QPainter &) {}).isNull());
}

} // namespace
