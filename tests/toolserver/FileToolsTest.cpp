// browser_downloads: the list, filing into the clients folder without losing
// a file or leaving it, and the wait for a download still running.
#include "ToolFixture.h"

#include "browser/Downloads.h"
#include "platform/Dispatch.h"
#include "platform/WebView.h"
#include "support/FakeHttpServer.h"
#include "toolserver/FileTools.h"

#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>

using namespace McpTest;
using namespace TestKit;

namespace {

class FileToolsTest : public ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        Downloads::shared().reset();
    }
    void TearDown() override
    {
        Downloads::shared().reset();
        ToolTest::TearDown();
    }

    // A download as the inbox lists it; a finished one has its file there.
    Downloads::Item &stage(const QString &name, const QString &state = "done", const QByteArray &body = "%PDF")
    {
        auto &items = Downloads::shared().testItems();
        Downloads::Item item;
        item.id = int(items.size()) + 1;
        item.name = name;
        item.state = state;
        item.started = QDateTime(QDate(2025, 7, 11), QTime(9, 5, 7 + item.id));
        item.source = "services.gst.gov.in";
        if (!name.isEmpty()) {
            item.url = root + "/01 Inbox/" + name;
            if (state == "done") {
                put("01 Inbox/" + name, body);
                item.bytes = body.size();
            }
        }
        items.push_back(item);
        return items.back();
    }

    ToolAnswer file(const QString &moveTo, const QJsonValue &id = QJsonValue())
    {
        QJsonObject args{{"move_to", moveTo}};
        if (!id.isUndefined())
            args.insert("id", id);
        return run("browser_downloads", args);
    }
};

TEST_F(FileToolsTest, TheListNewestFirst)
{
    EXPECT_EQ(run("browser_downloads", {}).text, "Nothing downloaded in this session yet.");
    for (int i = 1; i <= 11; ++i)
        stage(QString("ret%1.pdf").arg(i));
    stage("", "downloading");
    const ToolAnswer a = run("browser_downloads", {{"move_to", ""}});
    EXPECT_FALSE(a.isError);
    const QStringList lines = a.text.split('\n');
    ASSERT_EQ(lines.size(), 10);
    EXPECT_EQ(lines[0], "#12 (starting) — downloading, 0 bytes, 09:05:19, from services.gst.gov.in");
    EXPECT_EQ(lines[1], "#11 ret11.pdf — done, 4 bytes, 09:05:18, from services.gst.gov.in");
    EXPECT_EQ(lines[9], "#3 ret3.pdf — done, 4 bytes, 09:05:10, from services.gst.gov.in");
    EXPECT_EQ(FileTools::downloadList(), a.text);
}

TEST_F(FileToolsTest, FilesIntoFoldersBesideFilesOfTheSameName)
{
    stage("GSTR2B.json", "done", "first");
    stage("notice.pdf", "done", "second!");

    // A folder, made as needed; the newest download by default.
    ToolAnswer a = file("Quenby/GST/2024-25/");
    EXPECT_EQ(a.text, "Filed download #2 as Quenby/GST/2024-25/notice.pdf (7 bytes).");
    EXPECT_FALSE(a.isError);
    EXPECT_EQ(readFile(root + "/Quenby/GST/2024-25/notice.pdf"), "second!");
    EXPECT_FALSE(QFileInfo::exists(root + "/01 Inbox/notice.pdf"));
    const Downloads::Item &filed = Downloads::shared().items().back();
    EXPECT_EQ(filed.state, "filed");
    EXPECT_EQ(filed.url, root + "/Quenby/GST/2024-25/notice.pdf");

    // A client's file of that name is never replaced: the next free name is.
    put("Quenby/GST/GSTR2B_082026.json", "old 2B");
    put("Quenby/GST/GSTR2B_082026 (2).json", "older 2B");
    a = file("Quenby/GST/GSTR2B_082026.json", 1.0);
    EXPECT_EQ(a.text, "Filed download #1 as Quenby/GST/GSTR2B_082026 (3).json (5 bytes). GSTR2B_082026.json was "
                      "there already and is kept as it was.");
    EXPECT_FALSE(a.isError);
    EXPECT_EQ(readFile(root + "/Quenby/GST/GSTR2B_082026.json"), "old 2B");
    EXPECT_EQ(readFile(root + "/Quenby/GST/GSTR2B_082026 (2).json"), "older 2B");
    EXPECT_EQ(readFile(root + "/Quenby/GST/GSTR2B_082026 (3).json"), "first");
    EXPECT_EQ(Downloads::shared().items().front().url, root + "/Quenby/GST/GSTR2B_082026 (3).json");
    EXPECT_EQ(QDir(root + "/Quenby/GST").entryList(QDir::Files | QDir::Hidden).size(), 3) << "nothing left behind";

    // A filed download is not filed twice.
    a = file("Quenby/", 1);
    EXPECT_TRUE(a.isError);
    EXPECT_TRUE(a.text.startsWith("Download #1 is filed.\n#2 notice.pdf — filed")) << a.text.toStdString();
}

TEST_F(FileToolsTest, NeverDeletesAFolderNorLosesAFile)
{
    // A folder whose name looks like a file is filed into.
    stage("ret.pdf", "done", "one");
    QDir().mkpath(root + "/Quenby/FY.2024");
    put("Quenby/FY.2024/keep.txt", "keep");
    EXPECT_EQ(file("Quenby/FY.2024").text, "Filed download #1 as Quenby/FY.2024/ret.pdf (3 bytes).");
    EXPECT_EQ(readFile(root + "/Quenby/FY.2024/keep.txt"), "keep");

    // A folder standing where the file would go stays; the download goes beside it.
    stage("ack.pdf", "done", "two");
    put("Quenby/ack.pdf/inside.txt", "inside");
    const ToolAnswer a = file("Quenby/");
    EXPECT_EQ(a.text, "Filed download #2 as Quenby/ack (2).pdf (3 bytes). ack.pdf was there already and is kept as "
                      "it was.");
    EXPECT_FALSE(a.isError);
    EXPECT_EQ(readFile(root + "/Quenby/ack.pdf/inside.txt"), "inside");
    EXPECT_EQ(readFile(root + "/Quenby/ack (2).pdf"), "two");
    EXPECT_EQ(Downloads::shared().items().back().state, "filed");

    // Filing a download where it already is moves nothing.
    stage("reply.pdf", "done", "three");
    EXPECT_EQ(file("01 Inbox/", 3).text, "Filed download #3 as 01 Inbox/reply.pdf (5 bytes).");
    EXPECT_EQ(file("01 Inbox/reply.pdf", 3).text.left(16), "Download #3 is f");
    EXPECT_EQ(readFile(root + "/01 Inbox/reply.pdf"), "three");
}

TEST_F(FileToolsTest, RefusesEverythingOutsideTheClientsFolder)
{
    stage("ret.pdf");
    QDir().mkpath(home->file("Elsewhere"));
    const QString elsewhere = QFileInfo(home->file("Elsewhere")).canonicalFilePath();
    ASSERT_TRUE(QFile::link(elsewhere, root + "/Quenby"));
    const QString refused = " is outside the clients folder.";
    struct Case {
        QString moveTo;
        QString shown;
    };
    for (const Case &c : std::vector<Case>{
             {"../Elsewhere/", elsewhere},
             {elsewhere + "/ret.pdf", elsewhere + "/ret.pdf"},
             {"Quenby/GST/", elsewhere + "/GST"}, // a link inside that leads out
             {"/", "/"},
             {".", root},
         }) {
        const ToolAnswer a = file(c.moveTo);
        EXPECT_EQ(a.text.toStdString(), ("Refused: " + c.shown + refused).toStdString()) << c.moveTo.toStdString();
        EXPECT_TRUE(a.isError);
    }
    EXPECT_EQ(readFile(root + "/01 Inbox/ret.pdf"), "%PDF");
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
}

TEST_F(FileToolsTest, WhichDownload)
{
    EXPECT_EQ(file("Quenby/").text, "Nothing has been downloaded yet. Click the portal's download link first.");
    stage("ret.pdf");
    Downloads::Item &failed = stage("2b.zip", "failed: Server response had no data");

    ToolAnswer a = file("Quenby/", 9);
    EXPECT_EQ(a.text, "There is no download #9.\n" + FileTools::downloadList());
    EXPECT_TRUE(a.isError);
    EXPECT_TRUE(QFileInfo::exists(root + "/01 Inbox/ret.pdf")) << "no other download is filed instead";

    a = file("Quenby/");
    EXPECT_EQ(a.text.toStdString(), ("Download #2 is failed: Server response had no data.\n" + FileTools::downloadList()).toStdString());
    EXPECT_TRUE(a.isError);

    failed.url.reset();
    failed.state = "done";
    EXPECT_EQ(file("Quenby/").text.left(22), "Download #2 is done.\n#");
    EXPECT_EQ(file("Quenby/", "1").text.left(22), "Download #2 is done.\n#") << "an id as text is no id";
}

TEST_F(FileToolsTest, WaitsForADownloadStillRunning)
{
    Downloads::Item &running = stage("slow.pdf", "downloading");
    auto result = std::make_shared<std::optional<QJsonObject>>();
    server->call("browser_downloads", {{"move_to", "Quenby/"}}, [result](const QJsonObject &r) { *result = r; });
    spin(100);
    EXPECT_FALSE(result->has_value()) << "still waiting";
    put("01 Inbox/slow.pdf", "done now");
    running.state = "done";
    running.bytes = 8;
    ASSERT_TRUE(waitFor([result] { return result->has_value(); }));
    EXPECT_EQ(**result, textResult("Filed download #1 as Quenby/slow.pdf (8 bytes).", false));

    // Ninety seconds (scaled for the test) is as long as it waits.
    stage("stuck.pdf", "downloading");
    const ToolAnswer a = run("browser_downloads", {{"move_to", "Quenby/"}});
    EXPECT_EQ(a.text, "Download #2 is downloading.\n" + FileTools::downloadList());
    EXPECT_TRUE(a.isError);
}

TEST_F(FileToolsTest, ARealDownloadFromAPortalPage)
{
    // Time enough for the browser engine on a busy machine.
    const double scale = Dispatch::timeScale;
    Dispatch::timeScale = 0.2;
    auto restore = qScopeGuard([scale] { Dispatch::timeScale = scale; });
    WebView view(webProfile());
    QObject::connect(&view, &WebView::downloadRequested,
                     [](QWebEngineDownloadRequest *d) { Downloads::shared().track(d); });
    FakeHttpServer portal;
    FakeReply page = FakeReply::text("<html><body>returns</body></html>");
    page.headers = {{"Content-Type", "text/html"}};
    portal.on("GET", "/", page);
    FakeReply file = FakeReply::text("2B json");
    file.headers = {{"Content-Type", "application/octet-stream"},
                    {"Content-Disposition", "attachment; filename=\"GSTR2B.json\""}};
    file.delayMs = 300;
    portal.on("GET", "/2b", file);
    QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
    view.load(QUrl(portal.baseUrl() + "/"));
    ASSERT_TRUE(loaded.wait(15000));

    put("01 Inbox/GSTR2B.json", "an older one");
    view.page()->download(QUrl(portal.baseUrl() + "/2b"));
    ASSERT_TRUE(waitFor([] { return !Downloads::shared().items().empty(); }, 10000));
    const ToolAnswer a = run("browser_downloads", {{"move_to", "Quenby/GST/2026-08/GSTR2B_082026.json"}});
    EXPECT_EQ(a.text, "Filed download #1 as Quenby/GST/2026-08/GSTR2B_082026.json (7 bytes).");
    EXPECT_EQ(readFile(root + "/Quenby/GST/2026-08/GSTR2B_082026.json"), "2B json");
    EXPECT_EQ(readFile(root + "/01 Inbox/GSTR2B.json"), "an older one");
}

TEST_F(FileToolsTest, PathsAsTheEngineSeesThem)
{
    EXPECT_EQ(BrowserMCP::relative(std::nullopt), "—");
    EXPECT_EQ(BrowserMCP::relative(root + "/Quenby/GST/a.pdf"), "Quenby/GST/a.pdf");
    EXPECT_EQ(BrowserMCP::relative(root), QFileInfo(root).fileName());
    EXPECT_EQ(BrowserMCP::relative(root + "x/a.pdf"), "a.pdf");
    EXPECT_EQ(BrowserMCP::relative("/elsewhere/b.pdf"), "b.pdf");
}

} // namespace
