#include "browser/BrowserTab.h"
#include "browser/Downloads.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "platform/Desktop.h"
#include "platform/Dispatch.h"
#include "platform/WebView.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"

#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWebEngineProfile>

using namespace TestKit;

namespace {

struct FakePane : TabOwner {
    QStringList blocked;
    int refreshes = 0;
    std::vector<QUrl> opened;
    void showBlocked(const QString &host) override { blocked << host; }
    void refresh(BrowserTab *) override { ++refreshes; }
    int newTab(const QUrl &url, bool select) override
    {
        EXPECT_TRUE(select);
        opened.push_back(url);
        return int(opened.size());
    }
};

class BrowserTabTest : public HomeTest {
protected:
    FakeHttpServer server;
    FakePane pane;
    std::unique_ptr<BrowserTab> tab;
    std::vector<QUrl> systemOpened;
    decltype(Desktop::openUrl) savedOpen;

    void SetUp() override
    {
        HomeTest::SetUp();
        BrowserTab::profile = &TestKit::webProfile;
        savedOpen = Desktop::openUrl;
        Desktop::openUrl = [this](const QUrl &u) {
            systemOpened.push_back(u);
            return true;
        };
        Downloads::shared().reset();
        tab = std::make_unique<BrowserTab>(&pane);
        tab->web()->resize(800, 600);
        tab->web()->show();
    }
    void TearDown() override
    {
        tab.reset();
        Desktop::openUrl = savedOpen;
        HomeTest::TearDown();
    }

    void page(const QString &path, const QByteArray &html)
    {
        FakeReply r = FakeReply::text(html);
        r.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        server.on("GET", path, r);
    }
    bool open(const QString &path)
    {
        const int before = pane.refreshes;
        QSignalSpy spy(tab->web(), &QWebEngineView::loadFinished);
        tab->web()->load(QUrl(server.baseUrl() + path));
        // Finished once the tab has read the title and told the pane.
        return spy.wait(15000) && waitFor([&] { return !tab->loading && pane.refreshes >= before + 2; });
    }
    // A click as the CA's mouse makes it, on the element's centre.
    void clickElement(const QString &id)
    {
        const QStringList xy = js("(function(){var r=document.getElementById('" + id +
                                  "').getBoundingClientRect();return Math.round(r.x+r.width/2)+','+Math.round(r.y+r.height/2);})()")
                                   .split(',');
        ASSERT_EQ(xy.size(), 2);
        tab->web()->clickAt(QPoint(xy[0].toInt(), xy[1].toInt()));
    }
    QString js(const QString &script)
    {
        std::optional<QString> out;
        tab->web()->evaluate(script, [&](const WebView::ScriptResult &r) { out = r.value.toString(); },
                             WebView::World::Page);
        EXPECT_TRUE(waitFor([&] { return out.has_value(); }, 10000));
        return out.value_or(QString());
    }
};

TEST_F(BrowserTabTest, TheAllowListHoldsForEveryNavigation)
{
    page("/home", "<html><head><title>Home</title></head><body>"
                  "<iframe id=f src='http://127.0.0.2:9/frame'></iframe>"
                  "<a id=out href='http://127.0.0.2:9/x'>out</a>"
                  "<a id=pay href='https://hallix.in/wallet_pay'>pay</a>"
                  "<a id=paypop target=_blank href='https://hallix.in/velto_pay'>pay</a>"
                  "<a id=pop target=_blank href='/other'>pop</a></body></html>");
    ASSERT_TRUE(open("/home"));
    EXPECT_EQ(tab->title, "Home");
    EXPECT_FALSE(tab->loading);
    EXPECT_GT(pane.refreshes, 0);
    spin(100);
    EXPECT_TRUE(pane.blocked.isEmpty()) << "a refused frame goes quietly";

    js("document.getElementById('out').click()");
    ASSERT_TRUE(waitFor([&] { return !pane.blocked.isEmpty(); }));
    EXPECT_EQ(pane.blocked.first(), "127.0.0.2");
    spin(100);
    EXPECT_EQ(tab->web()->url().path(), "/home");

    js("document.getElementById('pay').click()");
    js("document.getElementById('paypop').click()");
    ASSERT_TRUE(waitFor([&] { return systemOpened.size() == 2; }));
    EXPECT_EQ(systemOpened[0], QUrl("https://hallix.in/wallet_pay"));
    EXPECT_EQ(systemOpened[1], QUrl("https://hallix.in/velto_pay"));

    js("document.getElementById('pop').click()");
    ASSERT_TRUE(waitFor([&] { return !pane.opened.empty(); }));
    EXPECT_EQ(pane.opened[0].path(), "/other");
    EXPECT_EQ(tab->web()->url().path(), "/home");
}

TEST_F(BrowserTabTest, AttachmentsBecomeDownloadsAndInlinePagesStay)
{
    writeSecret(WORK_ENV, "VELTO_WORK=\"" + home->file("Clients") + "\"\n");
    FakeReply att = FakeReply::text("<html>not shown</html>");
    att.headers = {{"Content-Type", "text/html"}, {"Content-Disposition", "ATTACHMENT; filename=\"challan.html\""}};
    server.on("GET", "/challan", att);
    page("/start", "<html><body><a id=a href='/challan'>c</a></body></html>");
    ASSERT_TRUE(open("/start"));
    js("document.getElementById('a').click()");
    ASSERT_TRUE(waitFor([] {
        return !Downloads::shared().items().empty() && Downloads::shared().items()[0].state == "done";
    }, 10000));
    EXPECT_EQ(Downloads::shared().items()[0].name, "challan.html");
    EXPECT_EQ(tab->web()->url().path(), "/start");
}

TEST_F(BrowserTabTest, FileChooserTakesTheArmedFileOnce)
{
    page("/up", "<html><body><input type=file id=f></body></html>");
    ASSERT_TRUE(open("/up"));
    const QString file = home->write("Clients/a.pdf", "%PDF");
    tab->armUpload({file, home->write("Clients/b.pdf", "%PDF")});
    clickElement("f");
    ASSERT_TRUE(waitFor([&] { return js("document.getElementById('f').files.length") == "1"; }));
    EXPECT_EQ(js("document.getElementById('f').files[0].name"), "a.pdf") << "a single input takes the first file";
    EXPECT_TRUE(tab->pendingUpload().isEmpty());

    DialogAnswers answers;
    answers.openFiles({});
    clickElement("f");
    ASSERT_TRUE(waitFor([&] { return answers.shownFilePanels.size() == 1; }));
    EXPECT_FALSE(answers.shownFilePanels[0].multiple);
}

TEST_F(BrowserTabTest, ArmedFilesAreDisarmedByNavigationAndTime)
{
    page("/a", "<html><head><title></title></head><body>a</body></html>");
    ASSERT_TRUE(open("/a"));
    EXPECT_EQ(tab->title, "") << "an untitled page shows as New tab in the strip";
    tab->armUpload({home->write("x.pdf", "x")});
    ASSERT_TRUE(open("/a"));
    EXPECT_TRUE(tab->pendingUpload().isEmpty()) << "navigation disarms";

    tab->armUpload({home->write("x.pdf", "x")});
    tab->armUpload({home->write("y.pdf", "y")});
    EXPECT_EQ(tab->pendingUpload().size(), 1);
    ASSERT_TRUE(waitFor([&] { return tab->pendingUpload().isEmpty(); },
                        Dispatch::scaledMs(BrowserTab::UPLOAD_ARM_SECONDS) + 2000));
}

TEST_F(BrowserTabTest, PageConfirmAnswersFalseOnCancel)
{
    page("/c", "<html><body>c</body></html>");
    ASSERT_TRUE(open("/c"));
    DialogAnswers answers;
    answers.confirm(false);
    EXPECT_EQ(js("String(confirm('Delete draft?'))"), "false");
    ASSERT_EQ(answers.shownConfirms.size(), 1u);
    EXPECT_EQ(answers.shownConfirms[0].title, "The page at 127.0.0.1 asks");
    EXPECT_EQ(answers.shownConfirms[0].text, "Delete draft?");
}

// A portal page that sets no background of its own is drawn on white, also
// when the app around it is dark.
TEST_F(BrowserTabTest, APageWithoutABackgroundIsDrawnOnWhite)
{
    EXPECT_EQ(tab->web()->page()->backgroundColor(), QColor(Qt::white));
    page("/plain", "<html><head><meta name=color-scheme content='light'></head><body><p>Return filed</p></body></html>");
    ASSERT_TRUE(open("/plain"));
    QImage shot;
    ASSERT_TRUE(waitFor([&] { return !(shot = tab->web()->snapshot()).isNull(); }, 10000));
    EXPECT_EQ(shot.pixelColor(shot.width() - 5, shot.height() - 5), QColor(Qt::white));
}

} // namespace
