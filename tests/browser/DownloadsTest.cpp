#include "browser/Downloads.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "platform/WebView.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"

#include <QFile>
#include <QSignalSpy>
#include <QWebEngineProfile>

using namespace TestKit;

namespace {

class DownloadsTest : public HomeTest {
protected:
    FakeHttpServer server;
    std::unique_ptr<WebView> view;
    QString work;

    void SetUp() override
    {
        HomeTest::SetUp();
        Downloads::shared().reset();
        work = home->file("Clients");
        writeSecret(WORK_ENV, "VELTO_WORK=\"" + work + "\"\n");
        view = std::make_unique<WebView>(TestKit::webProfile());
        QObject::connect(view.get(), &WebView::downloadRequested,
                         [](QWebEngineDownloadRequest *d) { Downloads::shared().track(d); });
        FakeReply page = FakeReply::text("<html><body>files</body></html>");
        page.headers = {{"Content-Type", "text/html"}};
        server.on("GET", "/", page);
        QSignalSpy spy(view.get(), &QWebEngineView::loadFinished);
        view->load(QUrl(server.baseUrl() + "/"));
        ASSERT_TRUE(spy.wait(15000));
    }

    void serveFile(const QString &path, const QByteArray &filename, const QByteArray &body, int delayMs = 0)
    {
        FakeReply r = FakeReply::text(body);
        r.headers = {{"Content-Type", "application/octet-stream"},
                     {"Content-Disposition", "attachment; filename=\"" + filename + "\""}};
        r.delayMs = delayMs;
        server.on("GET", path, r);
    }

    void fetch(const QString &path)
    {
        view->page()->download(QUrl(server.baseUrl() + path));
    }

    static bool allFinished()
    {
        for (const auto &i : Downloads::shared().items())
            if (i.state == "downloading")
                return false;
        return true;
    }
};

TEST_F(DownloadsTest, NamingInTheInbox)
{
    home->write("Clients/01 Inbox/ret.pdf", "x");
    home->write("Clients/01 Inbox/ret (2).pdf", "x");
    home->write("Clients/01 Inbox/notes", "x");
    struct Case {
        const char *suggested;
        const char *name;
    };
    const std::vector<Case> cases = {
        {"ret.pdf", "ret (3).pdf"},
        {"notes", "notes (2)"},
        {"a/b\\c:d.csv", "a_b_c_d.csv"},
        {"", "download"},
        {".env", ".env"},
        {"archive.tar.gz", "archive.tar.gz"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Downloads::shared().destinationFor(c.suggested), work + "/01 Inbox/" + c.name) << c.suggested;

    // Without a clients folder the inbox is in the home folder.
    QFile::remove(WORK_ENV);
    EXPECT_EQ(Downloads::inbox(), HOME + "/01 Inbox");
}

TEST_F(DownloadsTest, DownloadsLandWithUniqueNamesEvenInFlight)
{
    // Two downloads with the same name running at once must not share a file.
    serveFile("/slow", "GSTR2B.json", "slow body", 300);
    serveFile("/fast", "GSTR2B.json", "fast");
    fetch("/slow");
    ASSERT_TRUE(waitFor([] { return Downloads::shared().items().size() == 1; }, 10000));
    fetch("/fast");
    ASSERT_TRUE(waitFor([] { return Downloads::shared().items().size() == 2 && allFinished(); }, 10000));

    const auto &items = Downloads::shared().items();
    EXPECT_EQ(items[0].id, 1);
    EXPECT_EQ(items[0].name, "GSTR2B.json");
    EXPECT_EQ(items[1].name, "GSTR2B (2).json");
    EXPECT_EQ(items[0].state, "done");
    EXPECT_EQ(items[0].bytes, 9);
    EXPECT_EQ(items[1].bytes, 4);
    EXPECT_EQ(items[0].source, "127.0.0.1");
    QFile a(work + "/01 Inbox/GSTR2B.json");
    ASSERT_TRUE(a.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), "slow body");

    Downloads::shared().moveItem(2, work + "/02 Clients/Acme/GSTR2B.json");
    EXPECT_EQ(items[1].state, "filed");
    EXPECT_EQ(items[1].name, "GSTR2B.json");
    Downloads::shared().moveItem(99, "/nowhere");
    EXPECT_EQ(items.size(), 2u);
}

TEST_F(DownloadsTest, TheFiftyItemWindow)
{
    serveFile("/f", "f.txt", "1");
    for (int i = 0; i < Downloads::MAX_ITEMS; ++i)
        fetch("/f");
    ASSERT_TRUE(waitFor([] { return Downloads::shared().items().size() == 50 && allFinished(); }, 30000));
    fetch("/f");
    ASSERT_TRUE(waitFor([] { return Downloads::shared().items().back().id == 51 && allFinished(); }, 10000));
    EXPECT_EQ(Downloads::shared().items().size(), 50u);
    EXPECT_EQ(Downloads::shared().items().front().id, 2);
    EXPECT_EQ(Downloads::shared().items().back().name, "f (51).txt");
}

} // namespace
