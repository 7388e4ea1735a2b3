#include "browser/BrowserPane.h"
#include "browser/Hosts.h"
#include "browser/PageScripts.h"
#include "browser/PortalHome.h"
#include "core/Globals.h"
#include "platform/Appearance.h"
#include "platform/Desktop.h"
#include "platform/Dispatch.h"
#include "platform/WebView.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"
#include "ui/Busy.h"
#include "ui/Theme.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QToolButton>

using namespace TestKit;

namespace {

class BrowserPaneTest : public HomeTest {
protected:
    FakeHttpServer server;
    std::unique_ptr<BrowserPane> pane;
    std::optional<QString> savedOverride;

    void SetUp() override
    {
        HomeTest::SetUp();
        BrowserTab::profile = [] { return webProfile(); };
        savedOverride = Theme::override();
        Theme::setOverride(QStringLiteral("light"));
        pane = makePane();
        ASSERT_TRUE(settled());
    }
    void TearDown() override
    {
        pane.reset();
        Theme::setOverride(savedOverride);
        HomeTest::TearDown();
    }

    static std::unique_ptr<BrowserPane> makePane()
    {
        auto p = std::make_unique<BrowserPane>(QRect(0, 0, 1000, 700));
        p->show();
        return p;
    }

    void page(const QString &path, const QByteArray &html, int delayMs = 0)
    {
        FakeReply r = FakeReply::text(html);
        r.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        r.delayMs = delayMs;
        server.on("GET", path, r);
    }
    QUrl at(const QString &path) const { return QUrl(server.baseUrl() + path); }

    // Every tab done loading and its title read.
    bool settled(BrowserPane *p = nullptr)
    {
        p = p ? p : pane.get();
        return waitFor([p] {
            for (BrowserTab *t : p->tabs())
                if (t->loading || t->web()->url().isEmpty())
                    return false;
            return !p->stripLabels().contains("Loading…");
        }, 15000);
    }
    bool openInActive(const QString &path)
    {
        QSignalSpy spy(pane->web(), &QWebEngineView::loadFinished);
        EXPECT_TRUE(pane->load(at(path)));
        return spy.wait(15000) && settled();
    }

    QString js(WebView *view, const QString &script)
    {
        std::optional<QString> out;
        view->evaluate(script, [&](const WebView::ScriptResult &r) { out = scriptOutcome(r); }, WebView::World::Page);
        EXPECT_TRUE(waitFor([&] { return out.has_value(); }, 10000));
        return out.value_or("no answer");
    }
    QString address() const { return pane->findChild<QLineEdit *>("address")->text(); }
    QLabel *note() const { return pane->findChild<QLabel *>("blocked"); }
};

TEST_F(BrowserPaneTest, ANewPaneShowsTheStartPage)
{
    ASSERT_EQ(pane->tabs().size(), 1);
    EXPECT_EQ(pane->current(), 0);
    EXPECT_EQ(pane->activeTab()->title, "Velto Browser");
    EXPECT_EQ(pane->stripLabels(), QStringList{"Velto Browser"});
    EXPECT_EQ(pane->web()->url().scheme(), "about") << pane->web()->url().toString().left(80).toStdString();
    EXPECT_EQ(address(), "");
    EXPECT_EQ(js(pane->web(), "document.title"), "Velto Browser");
    EXPECT_EQ(js(pane->web(), "document.documentElement.getAttribute('data-theme')"), "light");
    EXPECT_EQ(js(pane->web(), "document.querySelectorAll('.grid a').length"), "8");
    EXPECT_TRUE(note()->isHidden());
}

// The start tab's web view waits until the pane is shown or asked for a
// tab, so building a hidden pane at start-up costs no web view.
TEST_F(BrowserPaneTest, AHiddenPaneOpensItsStartTabWhenFirstNeeded)
{
    const auto views = [](const BrowserPane &p) { return p.findChildren<QWebEngineView *>().size(); };
    BrowserPane shown(QRect(0, 0, 800, 600));
    EXPECT_EQ(views(shown), 0);
    shown.show();
    EXPECT_EQ(views(shown), 1);
    EXPECT_EQ(shown.tabs().size(), 1);

    BrowserPane asked(QRect(0, 0, 800, 600));
    asked.resize(900, 640);
    EXPECT_EQ(views(asked), 0) << "laying out the chrome opens no tab";
    BrowserTab *tab = asked.activeTab();
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tab->title, "Velto Browser");
    EXPECT_EQ(asked.tabs().size(), 1);
    EXPECT_EQ(views(asked), 1);

    BrowserPane opened(QRect(0, 0, 800, 600));
    opened.newTab(at("/"), true);
    EXPECT_EQ(opened.tabs().size(), 2) << "a new tab comes after the start tab, as on a pane that was shown";
    EXPECT_EQ(opened.current(), 1);
}

TEST_F(BrowserPaneTest, TabsOpenSelectCloseAndWrap)
{
    page("/a", "<html><head><title>A</title></head><body>a</body></html>");
    page("/b", "<html><head><title>B</title></head><body>b</body></html>");
    page("/c", "<html><head><title>C</title></head><body>c</body></html>");

    // A background tab adds a cell and leaves the shown page and address alone.
    EXPECT_EQ(pane->newTab(at("/a"), false), 1);
    ASSERT_TRUE(settled());
    EXPECT_EQ(pane->current(), 0);
    EXPECT_EQ(pane->stripLabels(), (QStringList{"Velto Browser", "A"}));
    EXPECT_EQ(address(), "");
    EXPECT_TRUE(pane->tabs()[1]->web()->isHidden());

    // A refused host gives a start-page tab and no note.
    EXPECT_EQ(pane->newTab(QUrl("https://example.com/x"), true), 2);
    ASSERT_TRUE(settled());
    EXPECT_EQ(pane->activeTab()->title, "Velto Browser");
    EXPECT_EQ(pane->web()->url(), QUrl("about:blank"));
    EXPECT_TRUE(note()->isHidden());

    std::vector<QString> titles;
    pane->onTitleChange = [&](const QString &t) { titles.push_back(t); };
    pane->nextTab();
    EXPECT_EQ(pane->current(), 0) << "the last tab wraps to the first";
    pane->select(1);
    EXPECT_EQ(titles.back(), "A");
    EXPECT_EQ(address(), at("/a").toString());
    EXPECT_FALSE(pane->tabs()[1]->web()->isHidden());
    EXPECT_TRUE(pane->tabs()[0]->web()->isHidden());
    pane->select(7);
    pane->select(-1);
    pane->closeTab(3);
    EXPECT_EQ(pane->current(), 1) << "out of range does nothing";

    // [start, A, start2] showing A: closing tab 0 shows what moved into index 1.
    pane->closeTab(0);
    ASSERT_EQ(pane->tabs().size(), 2);
    EXPECT_EQ(pane->current(), 1);
    EXPECT_EQ(pane->activeTab()->title, "Velto Browser");
    pane->closeTab(1);
    EXPECT_EQ(pane->current(), 0);
    EXPECT_EQ(pane->activeTab()->title, "A");

    // Closing the only tab keeps it, on the start page.
    BrowserTab *last = pane->activeTab();
    pane->closeTab(0);
    ASSERT_EQ(pane->tabs().size(), 1);
    EXPECT_EQ(pane->activeTab(), last);
    EXPECT_EQ(pane->stripLabels(), QStringList{"Velto Browser"});
    ASSERT_TRUE(waitFor([&] { return address().isEmpty(); }));

    const QString list = pane->tabList();
    EXPECT_EQ(list, "0 (active) Velto Browser — about:blank");
}

TEST_F(BrowserPaneTest, LoadingShowsInTheStripAndTheOrbOfTheShownTabOnly)
{
    page("/slow", "<html><head><title>Slow</title></head><body>s</body></html>", 1500);
    auto *orb = pane->findChild<OrbView *>("orb");
    pane->newTab(at("/slow"), false);
    ASSERT_TRUE(waitFor([&] { return pane->stripLabels().value(1) == "Loading…"; }));
    EXPECT_FALSE(orb->busy()) << "a tab loading behind the shown one leaves the orb at rest";
    ASSERT_TRUE(settled());
    EXPECT_EQ(pane->stripLabels().value(1), "Slow");

    pane->select(1);
    QSignalSpy spy(pane->web(), &QWebEngineView::loadFinished);
    pane->reloadPage();
    ASSERT_TRUE(waitFor([&] { return orb->busy(); }));
    EXPECT_EQ(pane->stripLabels().value(1), "Loading…");
    ASSERT_TRUE(spy.wait(15000));
    ASSERT_TRUE(waitFor([&] { return !orb->busy(); }));
}

TEST_F(BrowserPaneTest, AddressFieldOpensWhatIsTyped)
{
    page("/p", "<html><head><title>P</title></head><body>p</body></html>");
    auto *field = pane->findChild<QLineEdit *>("address");
    auto type = [&](const QString &text) {
        field->setText(text);
        emit field->returnPressed();
    };

    // Text that names a scheme is used as it is.
    QSignalSpy spy(pane->web(), &QWebEngineView::loadFinished);
    type(" \t" + at("/p").toString() + " ");
    ASSERT_TRUE(spy.wait(15000));
    ASSERT_TRUE(settled());
    EXPECT_EQ(pane->web()->url(), at("/p"));
    EXPECT_EQ(pane->activeTab()->title, "P");
    EXPECT_TRUE(pane->findChild<QToolButton *>("back")->isEnabled());

    // A bare host goes over https.
    std::vector<QUrl> asked;
    auto policy = pane->web()->navigationPolicy;
    pane->web()->navigationPolicy = [&](const WebView::Navigation &nav) {
        asked.push_back(nav.url);
        return false;
    };
    QSignalSpy refused(pane->web(), &QWebEngineView::loadFinished);
    type(QString("127.0.0.1:%1/p").arg(server.port()));
    ASSERT_TRUE(waitFor([&] { return !asked.empty(); }));
    EXPECT_EQ(asked[0], QUrl(QString("https://127.0.0.1:%1/p").arg(server.port())));
    pane->web()->navigationPolicy = policy;
    // The refused load ends (and the chrome follows it) before the next text
    // is typed, so its end cannot rewrite that text.
    ASSERT_TRUE(!refused.isEmpty() || refused.wait(15000));
    EXPECT_FALSE(refused.last().first().toBool());
    ASSERT_TRUE(settled());

    // Blanks, or text that is no address, do nothing and keep the text.
    const QUrl before = pane->web()->url();
    type("   ");
    type("https://exa mple.in");
    spin(100);
    EXPECT_EQ(pane->web()->url(), before);
    EXPECT_EQ(field->text(), "https://exa mple.in");
    EXPECT_TRUE(note()->isHidden());
}

TEST_F(BrowserPaneTest, DemoAddressesShowTheMakersSite)
{
    ASSERT_TRUE(DEMO_HOME.has_value()) << "every test runs in a demo home";
    struct Case {
        QString url, shown;
    } cases[] = {
        {"http://127.0.0.1:8123/demo/guide/step.html", "https://hallix.in/guide/step"},
        {"http://127.0.0.1:1/demo/a.html/b.html?x=1", "https://hallix.in/a/b?x=1"},
        {"http://127.0.0.1:8123/demos/step.html", "http://127.0.0.1:8123/demos/step.html"},
        {"http://localhost:8123/demo/step.html", "http://localhost:8123/demo/step.html"},
        {"https://127.0.0.1:8123/demo/step.html", "https://127.0.0.1:8123/demo/step.html"},
        {"about:blank", ""},
        {"", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(BrowserPane::displayAddress(QUrl(c.url)), c.shown) << c.url.toStdString();

    const auto saved = DEMO_HOME;
    DEMO_HOME.reset();
    EXPECT_EQ(BrowserPane::displayAddress(QUrl(cases[0].url)), cases[0].url) << "shown as it is outside demo mode";
    DEMO_HOME = saved;

    page("/demo/guide/step.html", "<html><head><title>Step</title></head><body>s</body></html>");
    ASSERT_TRUE(openInActive("/demo/guide/step.html"));
    EXPECT_EQ(address(), "https://hallix.in/guide/step");
}

TEST_F(BrowserPaneTest, RefusedSitesGetTheNoteAndOneQuestion)
{
    DialogAnswers answers;
    answers.alert(1); // "Keep it blocked"
    EXPECT_FALSE(pane->load(QUrl("https://www.example.com/page")));
    EXPECT_FALSE(note()->isHidden());
    EXPECT_EQ(note()->text(),
              "www.example.com is outside the allowed list — Velto only opens Indian government and Hallix sites.");
    ASSERT_TRUE(waitFor([&] { return answers.shownAlerts.size() == 1; }));
    const Dialogs::Alert &q = answers.shownAlerts[0];
    EXPECT_EQ(q.title, "Let Velto open example.com?");
    EXPECT_TRUE(q.text.endsWith("It stays added until you remove it from sites.json in the Velto folder."));
    EXPECT_EQ(q.buttons, (QStringList{"Add example.com", "Keep it blocked"}));
    EXPECT_EQ(q.defaultButton, 1) << "Enter keeps it blocked";
    EXPECT_EQ(q.style, Dialogs::Style::Warning);
    EXPECT_TRUE(ExtraSites::all().isEmpty());

    // The same host (however written) is not asked about again by this pane,
    // and a page's own link to it is refused the same way.
    page("/links", "<html><body><a id=out href='https://example.com/'>out</a></body></html>");
    ASSERT_TRUE(openInActive("/links"));
    EXPECT_TRUE(note()->isHidden()) << "an allowed load hides the note";
    js(pane->web(), "document.getElementById('out').click()");
    ASSERT_TRUE(waitFor([&] { return !note()->isHidden(); }));
    EXPECT_TRUE(note()->text().startsWith("example.com is outside"));
    spin(100);
    EXPECT_EQ(answers.shownAlerts.size(), 1u);
    EXPECT_EQ(pane->web()->url(), at("/links"));

    // No host: "that site", and nothing to ask.
    EXPECT_FALSE(pane->load(QUrl("https://")));
    EXPECT_TRUE(note()->text().startsWith("that site is outside"));
    spin(50);
    EXPECT_EQ(answers.shownAlerts.size(), 1u);

    // A new pane asks again; adding stores the host and says so.
    answers.alert(0);
    auto other = makePane();
    ASSERT_TRUE(settled(other.get()));
    EXPECT_FALSE(other->load(QUrl("https://example.com")));
    ASSERT_TRUE(waitFor([&] { return answers.shownAlerts.size() == 2; }));
    EXPECT_EQ(ExtraSites::all(), QStringList{"example.com"});
    EXPECT_EQ(other->findChild<QLabel *>("blocked")->text(), "example.com added. Open it again.");
    EXPECT_TRUE(hostAllowed(QStringLiteral("www.example.com")));
}

TEST_F(BrowserPaneTest, ANewerNoteKeepsItsOwnFullTime)
{
    // Seconds here are tenths of real ones: the note stays 600 ms.
    const double savedScale = Dispatch::timeScale;
    Dispatch::timeScale = 0.1;
    QElapsedTimer clock;
    clock.start();
    pane->showBlocked("127.0.0.2");
    waitFor([&] { return clock.elapsed() >= 300; }, 1000);
    pane->showBlocked("127.0.0.3");
    const qint64 second = clock.elapsed();
    waitFor([&] { return clock.elapsed() >= 750; }, 1000);
    if (clock.elapsed() - second < 550) {
        EXPECT_FALSE(note()->isHidden()) << "the first note's timer must not hide the second";
    }
    EXPECT_TRUE(waitFor([&] { return note()->isHidden(); }, 20000));
    EXPECT_TRUE(note()->text().startsWith("127.0.0.3 is outside"));
    Dispatch::timeScale = savedScale;
}

TEST_F(BrowserPaneTest, RepaintSwitchesTheStartPageInPlace)
{
    WebView *start = pane->web();
    js(start, "window.__marker = 42");
    Theme::setOverride(QStringLiteral("dark"));
    pane->repaint();
    ASSERT_TRUE(waitFor([&] { return js(start, "document.documentElement.getAttribute('data-theme')") == "dark"; }));
    EXPECT_EQ(js(start, "String(window.__marker)"), "42") << "not reloaded";
    EXPECT_EQ(js(start, "getComputedStyle(document.body).getPropertyValue('--bg').trim()"), "#06070B");

    // The hook: exactly "dark" is dark, anything else light.
    for (const char *word : {"Dark", "night", ""}) {
        js(start, "window.__veltoSetTheme('dark'); window.__veltoSetTheme('" + QString(word) + "')");
        EXPECT_EQ(js(start, "document.documentElement.getAttribute('data-theme')"), "light") << word;
    }

    // Portal pages are left alone.
    page("/portal", "<html><head><title>Portal</title></head><body><script>window.__veltoSetTheme=function(t){"
                    "document.title='touched '+t;};</script></body></html>");
    ASSERT_TRUE(openInActive("/portal"));
    pane->repaint();
    spin(200);
    EXPECT_EQ(js(pane->web(), "document.title"), "Portal");
}

TEST_F(BrowserPaneTest, UploadArmsTheChooserAndClicksTheInput)
{
    // Enough above the input that it has to be scrolled into view.
    page("/up", "<html><body><div style='height:1600px'></div><input type=file id=f>"
                "<input type=text id=t></body></html>");
    ASSERT_TRUE(openInActive("/up"));
    // Numbered as the page tools number it, in their own script world.
    std::optional<QString> numbered;
    pane->evalJS(snapshotJS(true), [&](const QString &o) { numbered = o; });
    ASSERT_TRUE(waitFor([&] { return numbered.has_value(); }));
    const QString file = home->write("Clients/Quenby/GST/challan.pdf", "%PDF-1.4");

    std::optional<QString> outcome;
    pane->upload("r1", file, [&](const QString &o) { outcome = o; });
    ASSERT_TRUE(waitFor([&] { return outcome.has_value(); }));
    EXPECT_EQ(*outcome, "clicked");
    ASSERT_TRUE(waitFor([&] { return js(pane->web(), "document.getElementById('f').files.length") == "1"; }));
    EXPECT_EQ(js(pane->web(), "document.getElementById('f').files[0].name"), "challan.pdf");
    EXPECT_TRUE(pane->activeTab()->pendingUpload().isEmpty());

    // Not a file input, a ref that is gone, or one that tries to break out of
    // its quotes: nothing stays armed.
    for (const auto &[ref, expected] : std::vector<std::pair<QString, QString>>{
             {"r2", "not_file"}, {"r9", "gone"}, {"r1'\");throw 1;//", "gone"}}) {
        outcome.reset();
        pane->upload(ref, file, [&](const QString &o) { outcome = o; });
        ASSERT_TRUE(waitFor([&] { return outcome.has_value(); }));
        EXPECT_EQ(*outcome, expected) << ref.toStdString();
        EXPECT_TRUE(pane->activeTab()->pendingUpload().isEmpty()) << ref.toStdString();
    }
}

TEST_F(BrowserPaneTest, EvalAndTabListForTheTools)
{
    std::optional<QString> out;
    pane->evalJS("var a = 1;\nundefinedThing();", [&](const QString &o) { out = o; });
    ASSERT_TRUE(waitFor([&] { return out.has_value(); }));
    EXPECT_TRUE(out->startsWith("ERROR: ReferenceError: undefinedThing is not defined")) << out->toStdString();
    EXPECT_TRUE(out->endsWith("(line 2)"));

    page("/t", "<html><head><title>Returns</title></head><body>t</body></html>");
    pane->newTab(at("/t"), true);
    ASSERT_TRUE(settled());
    EXPECT_EQ(pane->tabList(), "0 Velto Browser — about:blank\n1 (active) Returns — " + at("/t").toString());
}

} // namespace
