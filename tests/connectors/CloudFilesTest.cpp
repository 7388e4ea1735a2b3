// The cloud-drive roots and the cloud file tools on folders in a throwaway home.
#include "ToolRun.h"
#include "connectors/CloudFiles.h"
#include "support/TestKit.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <sys/stat.h>

using namespace TestKit;
using ConnectorTest::Reply;

namespace {

class CloudTest : public HomeTest {
protected:
    QString work;

    void SetUp() override
    {
        HomeTest::SetUp();
        CloudFiles::homePath = [this] { return home->path(); };
        CloudFiles::roots = &CloudFiles::defaultRoots;
        work = home->file("Clients");
        QDir().mkpath(work + "/Kelvar Steels");
        QDir().mkpath(work + "/Quenby");
        CloudFiles::workspace = [this] { return work; };
    }

    void TearDown() override
    {
        CloudFiles::homePath = &CloudFiles::defaultHomePath;
        CloudFiles::workspace = &CloudFiles::defaultWorkspace;
        HomeTest::TearDown();
    }

    QString file(const QString &rel, const QByteArray &data = "x") const { return home->write(rel, data); }

    Reply run(const QString &name, const QJsonObject &args = {})
    {
        return ConnectorTest::runTool(CloudFiles::family(), name, args);
    }

    static QStringList names(const Reply &r)
    {
        QStringList out;
        for (const QJsonValue &f : r.json()["files"].toArray())
            out << f["name"].toString();
        return out;
    }
};

TEST_F(CloudTest, RootsAreWhereTheLinuxSyncAppsPutThem)
{
    EXPECT_TRUE(CloudFiles::roots().isEmpty());
    Reply r = run("cloud_drives");
    EXPECT_TRUE(r.isError);
    EXPECT_TRUE(r.text.startsWith("No cloud folder is set up on this computer."));
    EXPECT_EQ(run("cloud_search", {{"query", "x"}}).text, r.text);
    r = run("cloud_fetch", {{"path", home->path() + "/a.pdf"}, {"client", "Quenby"}});
    EXPECT_EQ(r.text, "That path is not inside a synced cloud folder. cloud_search returns paths this tool will take.");

    file("Dropbox", "a plain file is not a drive");
    for (const char *folder : {"Dropbox (Asha & Co)", "Dropbox (Team)", "Dropbox ()", "OneDrive - Asha & Co",
                               "OneDrive", "Insync/ca@firm.in/Google Drive", "Insync/ca@firm.in/OneDrive",
                               "Insync/ca@firm.in/Shared with me", "Insync/audit@firm.in/Google Drive", "Nextcloud",
                               "pCloudDrive", "Library/CloudStorage/GoogleDrive-ca@firm.in", "Box"})
        QDir().mkpath(home->file(folder));
    // A link to a folder counts as the folder.
    ASSERT_TRUE(QFile::link(home->file("Insync/audit@firm.in/Google Drive"), home->file("Google Drive")));
    EXPECT_EQ(CloudFiles::roots(),
              (QStringList{home->file("Google Drive"), home->file("Insync/audit@firm.in/Google Drive"),
                           home->file("Insync/ca@firm.in/Google Drive"), home->file("Insync/ca@firm.in/OneDrive"),
                           home->file("OneDrive"), home->file("OneDrive - Asha & Co"),
                           home->file("Dropbox (Asha & Co)"), home->file("Dropbox (Team)"), home->file("Nextcloud"),
                           home->file("pCloudDrive")}));
    r = run("cloud_drives");
    EXPECT_FALSE(r.isError);
    const QJsonArray drives = r.json()["drives"].toArray();
    ASSERT_EQ(drives.size(), 10);
    EXPECT_EQ(drives[0].toObject(), (QJsonObject{{"drive", "Google Drive"}, {"path", home->file("Google Drive")}}));
    EXPECT_EQ(drives[3].toObject(), (QJsonObject{{"drive", "OneDrive"},
                                                 {"account", "ca@firm.in"},
                                                 {"path", home->file("Insync/ca@firm.in/OneDrive")}}));
    EXPECT_EQ(drives[6].toObject(), (QJsonObject{{"drive", "Dropbox"},
                                                 {"account", "Asha & Co"},
                                                 {"path", home->file("Dropbox (Asha & Co)")}}));
    EXPECT_FALSE(r.text.contains("\\/")) << "slashes stay as they are";

    // A team's folder is found by its team's name.
    file("Dropbox (Asha & Co)/Quenby/Form 16.pdf");
    file("Dropbox (Team)/Quenby/Form 16 old.pdf");
    r = run("cloud_search", {{"query", "form 16"}, {"drive", "asha"}});
    EXPECT_EQ(names(r), QStringList{"Form 16.pdf"});
}

TEST(CloudLabels, EachFolderIsNamedByItsService)
{
    struct Case {
        const char *path, *service, *account;
    };
    const Case cases[] = {
        {"/home/ca/Dropbox", "Dropbox", ""},
        {"/home/ca/Dropbox (Asha & Co)", "Dropbox", "Asha & Co"},
        {"/home/ca/Dropbox (Team)/", "Dropbox", "Team"},
        {"/home/ca/OneDrive", "OneDrive", ""},
        {"/home/ca/OneDrive - Asha & Co", "OneDrive", "Asha & Co"},
        {"/home/ca/Insync/ca@firm.in/Google Drive", "Google Drive", "ca@firm.in"},
        {"/home/ca/Insync/ca@firm.in/OneDrive", "OneDrive", "ca@firm.in"},
        {"/home/ca/Google Drive", "Google Drive", ""},
        {"/home/ca/Nextcloud", "Nextcloud", ""},
        {"/home/ca/pCloudDrive", "pCloud", ""},
        {"/home/ca/Elsewhere/Google Drive", "Google Drive", ""},
    };
    for (const Case &c : cases) {
        const CloudFiles::Label label = CloudFiles::label(QString::fromUtf8(c.path));
        EXPECT_EQ(label.service, c.service) << c.path;
        EXPECT_EQ(label.account, c.account) << c.path;
    }
}

TEST_F(CloudTest, SearchMatchesEveryWordBelowTheRootWithTheExtensionRules)
{
    const QString g = file("Google Drive/Kelvar Steels/FY 2024-25/GSTR2B_24AAQFK_042024.json");
    file("Google Drive/Kelvar Steels/FY 2024-25/Form 16 Ravi.PDF");
    file("Google Drive/Kelvar Steels/FY 2024-25/notes.pages");
    file("Google Drive/Kelvar Steels/FY 2024-25/README");
    file("Google Drive/.hidden/Kelvar secret.pdf");
    file("Google Drive/Kelvar Steels/.draft kelvar.pdf");
    file("Dropbox/Archive/kelvar steels ledger.csv");
    // Decomposed accent on disk, composed in the query.
    file(QString::fromUtf8("Dropbox/Cafe\u0301 Kelvar.pdf"));

    // The root's own path never matches a word; folders on the way do.
    Reply r = run("cloud_search", {{"query", "  KELVAR   steels "}});
    EXPECT_FALSE(r.isError);
    const QStringList all = names(r);
    EXPECT_EQ(QSet<QString>(all.begin(), all.end()),
              (QSet<QString>{"GSTR2B_24AAQFK_042024.json", "Form 16 Ravi.PDF", "kelvar steels ledger.csv"}));
    EXPECT_EQ(r.json()["count"], 3);
    const QJsonObject first = r.json()["files"][0].toObject();
    EXPECT_EQ(first["drive"], "Google Drive");
    EXPECT_TRUE(first["path"].toString().startsWith(home->file("Google Drive/Kelvar Steels/")));
    EXPECT_FALSE(first.contains("online_only"));

    r = run("cloud_search", {{"query", "gstr2b"}});
    ASSERT_EQ(r.json()["count"], 1);
    const QJsonObject found = r.json()["files"][0].toObject();
    EXPECT_EQ(found["path"], g);
    EXPECT_EQ(found["bytes"], 1);
    EXPECT_EQ(found["modified"], QFileInfo(g).lastModified().toUTC().toString("yyyy-MM-dd'T'HH:mm:ss'Z'"));

    EXPECT_EQ(names(run("cloud_search", {{"query", "caf\u00e9"}})), QStringList{QString::fromUtf8("Cafe\u0301 Kelvar.pdf")});

    struct Case {
        QJsonObject args;
        QSet<QString> files;
    };
    const Case cases[] = {
        {{{"query", "fy 2024"}, {"extension", ".PDF"}}, {"Form 16 Ravi.PDF"}},
        {{{"query", "fy 2024"}, {"extension", " . "}},
         {"GSTR2B_24AAQFK_042024.json", "Form 16 Ravi.PDF", "notes.pages", "README"}},
        {{{"query", "fy 2024"}}, {"GSTR2B_24AAQFK_042024.json", "Form 16 Ravi.PDF"}},
        {{{"query", "kelvar"}, {"drive", "DROPBOX"}}, {"kelvar steels ledger.csv", QString::fromUtf8("Cafe\u0301 Kelvar.pdf")}},
        {{{"query", "kelvar"}, {"drive", "google "}}, {"GSTR2B_24AAQFK_042024.json", "Form 16 Ravi.PDF"}},
        {{{"query", "kelvar"}, {"drive", "dropbox "}}, {}},
    };
    for (const Case &c : cases) {
        r = run("cloud_search", c.args);
        const QStringList got = names(r);
        EXPECT_EQ(QSet<QString>(got.begin(), got.end()), c.files) << QJsonDocument(c.args).toJson().toStdString();
    }

    r = run("cloud_search", {{"query", "  No  Such  "}});
    EXPECT_FALSE(r.isError);
    EXPECT_EQ(r.text, "Nothing in the cloud folders matches \"no  such\". Try fewer words, or cloud_drives to see what "
                      "is synced.");
    r = run("cloud_search", {{"query", " \t "}});
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, "query is required.");
}

TEST_F(CloudTest, SearchStopsAtItsLimit)
{
    for (int i = 0; i < 205; ++i)
        file(QString("Google Drive/bank/stmt %1.pdf").arg(i));
    file("OneDrive/bank/stmt later.pdf");
    const std::pair<QJsonValue, int> limits[] = {{QJsonValue(), 40}, {0, 1}, {-4, 1}, {500, 200}, {"3", 40}, {3, 3}};
    for (const auto &[limit, count] : limits) {
        QJsonObject args{{"query", "stmt"}};
        if (!limit.isNull())
            args.insert("limit", limit);
        const Reply r = run("cloud_search", args);
        EXPECT_EQ(r.json()["count"], count) << QJsonDocument(args).toJson().toStdString();
        EXPECT_FALSE(r.text.contains("stmt later")) << "later roots are not walked once the limit is reached";
    }
}

TEST_F(CloudTest, FetchCopiesIntoTheClientFolderAndNeverOverwrites)
{
    const QString source = file("Google Drive/Kelvar/2B April.json", "{\"b2b\": []}");
    const QString bare = file("Google Drive/Kelvar/LEDGER", "ledger");
    const QString folder = work + "/Kelvar Steels/FY 2026-27/gst";

    // Two levels of subfolder are made; a client's first word finds its folder.
    Reply r = run("cloud_fetch", {{"path", " " + source + " "}, {"client", " kelvar "}, {"subfolder", "FY 2026-27/gst"}});
    EXPECT_FALSE(r.isError) << r.text.toStdString();
    EXPECT_EQ(r.json(), (QJsonObject{{"copied_to", folder + "/2B April.json"},
                                     {"bytes", 11},
                                     {"note", "Copied, not moved \u2014 the cloud folder still has the original."}}));
    EXPECT_EQ(readFile(folder + "/2B April.json"), "{\"b2b\": []}");
    EXPECT_TRUE(QFile::exists(source));

    file("Clients/Kelvar Steels/FY 2026-27/gst/2B April (2).json", "older copy");
    r = run("cloud_fetch", {{"path", source}, {"client", "Kelvar Steels"}, {"subfolder", "FY 2026-27/gst"}});
    EXPECT_EQ(r.json()["copied_to"], folder + "/2B April (3).json");
    EXPECT_EQ(readFile(folder + "/2B April (2).json"), "older copy");

    // No extension: the number follows the whole name. Blank subfolder: the client folder itself.
    run("cloud_fetch", {{"path", bare}, {"client", "Kelvar Steels"}, {"subfolder", "  "}});
    r = run("cloud_fetch", {{"path", bare}, {"client", "Kelvar Steels"}});
    EXPECT_EQ(r.json()["copied_to"], work + "/Kelvar Steels/LEDGER (2)");

    // Every name up to 99 taken: the copy fails and nothing is replaced.
    file("Clients/Quenby/2B April.json", "keep");
    for (int n = 2; n <= 99; ++n)
        file(QString("Clients/Quenby/2B April (%1).json").arg(n), "keep");
    r = run("cloud_fetch", {{"path", source}, {"client", "Quenby"}});
    EXPECT_TRUE(r.isError);
    EXPECT_TRUE(r.text.startsWith("Could not copy it: ")) << r.text.toStdString();

    EXPECT_EQ(readFile(work + "/Quenby/2B April (99).json"), "keep");
}

TEST_F(CloudTest, FetchRefusesAClientNameTwoFoldersFit)
{
    QDir().mkpath(work + "/Shah Traders");
    QDir().mkpath(work + "/Shah & Co");
    const QString source = file("Dropbox/Shah/2B April.json", "2b");
    Reply r = run("cloud_fetch", {{"path", source}, {"client", "shah"}});
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, "'shah' could be Shah & Co or Shah Traders \u2014 say which. Nothing was copied.");
    EXPECT_FALSE(QFileInfo::exists(work + "/Shah & Co/2B April.json"));
    EXPECT_FALSE(QFileInfo::exists(work + "/Shah Traders/2B April.json"));

    r = run("cloud_fetch", {{"path", source}, {"client", "shah & co"}});
    EXPECT_EQ(r.json()["copied_to"], work + "/Shah & Co/2B April.json");
}

TEST_F(CloudTest, FetchNeverOpensAPipe)
{
    // Reading a pipe with no writer would wait for ever: it is refused on its
    // own and left behind when its folder is copied.
    file("OneDrive/Quenby/docs/Form 16.pdf", "pdf");
    const QString pipe = home->file("OneDrive/Quenby/docs/feed");
    ASSERT_EQ(::mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);

    Reply r = run("cloud_fetch", {{"path", pipe}, {"client", "Quenby"}});
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, "That is not a file or a folder (a pipe, a socket or a device), so nothing was copied.");
    EXPECT_FALSE(QFileInfo::exists(work + "/Quenby/feed"));

    r = run("cloud_fetch", {{"path", home->file("OneDrive/Quenby/docs")}, {"client", "Quenby"}});
    EXPECT_FALSE(r.isError) << r.text.toStdString();
    EXPECT_EQ(readFile(work + "/Quenby/docs/Form 16.pdf"), "pdf");
    EXPECT_FALSE(QFileInfo::exists(work + "/Quenby/docs/feed"));
}

TEST_F(CloudTest, FetchRefusesWhatIsOutsideACloudFolderOrTheClientsFolder)
{
    const QString source = file("Dropbox/q/Form 16.pdf");
    const QString outside = file("elsewhere/secret.pdf");
    QDir().mkpath(home->file("elsewhere/dir"));
    ASSERT_TRUE(QFile::link(outside, home->file("Dropbox/q/link.pdf")));
    struct Case {
        QJsonObject args;
        QString answer;
    };
    const Case cases[] = {
        {{{"client", "Quenby"}}, "path is required."},
        {{{"path", source}, {"client", " "}}, "client is required: say whose folder the file belongs in."},
        {{{"path", home->file("Dropbox/q/link.pdf")}, {"client", "Quenby"}},
         "That path is not inside a synced cloud folder. cloud_search returns paths this tool will take."},
        {{{"path", home->file("Dropbox")}, {"client", "Quenby"}},
         "That path is not inside a synced cloud folder. cloud_search returns paths this tool will take."},
        {{{"path", home->file("Dropbox/q/../../elsewhere/secret.pdf")}, {"client", "Quenby"}},
         "That path is not inside a synced cloud folder. cloud_search returns paths this tool will take."},
        {{{"path", home->file("Dropbox/q/gone.pdf")}, {"client", "Quenby"}},
         "There is no file at " + QFileInfo(home->file("Dropbox/q")).canonicalFilePath() + "/gone.pdf any more."},
        {{{"path", source}, {"client", "Zenith"}},
         "No folder for Zenith in the workspace. Use the client's folder name as it is on disk."},
        {{{"path", source}, {"client", "Quenby"}, {"subfolder", "../Kelvar Steels"}},
         "subfolder cannot climb out of the client folder."},
        {{{"path", source}, {"client", "Quenby"}, {"subfolder", "a..b"}}, "subfolder cannot climb out of the client folder."},
    };
    for (const Case &c : cases) {
        const Reply r = run("cloud_fetch", c.args);
        EXPECT_TRUE(r.isError);
        EXPECT_EQ(r.text, c.answer);
    }

    // A client folder, or a subfolder, that is a link out of the clients
    // folder is refused once the links are resolved.
    ASSERT_TRUE(QFile::link(home->file("elsewhere/dir"), work + "/Mallow"));
    ASSERT_TRUE(QFile::link(home->file("elsewhere/dir"), work + "/Quenby/out"));
    const QString leaves = " leads outside the clients folder, so nothing was copied.";
    Reply r = run("cloud_fetch", {{"path", source}, {"client", "Mallow"}});
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, "The folder for Mallow" + leaves);
    r = run("cloud_fetch", {{"path", source}, {"client", "Quenby"}, {"subfolder", "out/deeper"}});
    EXPECT_EQ(r.text, "The folder for Quenby" + leaves);
    EXPECT_EQ(QDir(home->file("elsewhere/dir")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    EXPECT_EQ(run("cloud_upload").text, "Unknown cloud tool: cloud_upload");
}

} // namespace
