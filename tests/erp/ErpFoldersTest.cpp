#include "erp/ErpTools.h"
#include "support/TestKit.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <utime.h>

using namespace TestKit;

namespace {

// A clients folder of its own under a throwaway home, reached through a
// symbolic link so that every answer must come back resolved.
class ErpFoldersTest : public HomeTest {
protected:
    QString root;     // the real folder
    QString linked;   // the link the work root names
    std::function<QString()> savedRoot;

    void SetUp() override
    {
        HomeTest::SetUp();
        root = QFileInfo(home->path()).canonicalFilePath() + "/Work";
        QDir().mkpath(root);
        linked = home->path() + "/WorkLink";
        QFile::link(root, linked);
        savedRoot = ErpTools::workRoot;
        ErpTools::workRoot = [this] { return linked + "/./"; };
    }
    void TearDown() override
    {
        ErpTools::workRoot = savedRoot;
        HomeTest::TearDown();
    }
    QString file(const QString &rel, const QByteArray &data = "x") const
    {
        const QString path = root + "/" + rel;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(data);
        return path;
    }
    QString folder(const QString &rel) const
    {
        QDir().mkpath(root + "/" + rel);
        return root + "/" + rel;
    }
    static void age(const QString &path, qint64 secondsAgo)
    {
        const qint64 t = QDateTime::currentSecsSinceEpoch() - secondsAgo;
        utimbuf times{time_t(t), time_t(t)};
        ::utime(path.toLocal8Bit().constData(), &times);
    }
};

TEST_F(ErpFoldersTest, ClientFolderMatchesExactlyFirstThenByPrefix)
{
    folder("quenby traders");
    folder("Beta Exports");
    folder(".hidden client");
    folder("02 Clients/Deep Client");
    file("Plain File");
    const auto path = [](const QString &name) { return ErpTools::clientFolder(name).path; };
    EXPECT_EQ(path("  QUENBY TRADERS\t"), root + "/quenby traders");
    EXPECT_EQ(path("Quenby"), root + "/quenby traders") << "the first word finds the folder";
    EXPECT_EQ(path("beta exports pvt ltd"), root + "/Beta Exports") << "extra words after it";
    for (const QString none : {"", "   ", ".hidden client", "Deep Client", "plain file", "Gamma"}) {
        const auto found = ErpTools::clientFolder(none);
        EXPECT_FALSE(found.path) << none.toStdString();
        EXPECT_TRUE(found.refusal.isEmpty()) << none.toStdString();
    }

    ErpTools::workRoot = [this] { return home->path() + "/missing"; };
    EXPECT_FALSE(path("Quenby"));
}

// Two clients sharing a first word: a short name never picks one of them by
// the order the disk lists them in; the exact name still wins.
TEST_F(ErpFoldersTest, ClientFolderRefusesANameSeveralFoldersFit)
{
    // Made in reverse order so that the disk order is unlikely to be sorted.
    folder("Shah Traders");
    folder("Shah & Co");
    folder("shah");
    folder("Sharma Textiles");
    const struct {
        QString name;
        std::optional<QString> path;
        QString refusal;
    } cases[] = {
        {"Shah & Co", root + "/Shah & Co", {}},
        {" shah traders ", root + "/Shah Traders", {}},
        {"SHAH", root + "/shah", {}},
        {"Shah &", std::nullopt, "'Shah &' could be shah or Shah & Co \u2014 say which."},
        {"Shah T", std::nullopt, "'Shah T' could be shah or Shah Traders \u2014 say which."},
        {"Sha", std::nullopt, "'Sha' could be shah, Shah & Co, Shah Traders or Sharma Textiles \u2014 say which."},
        {"Sharma", root + "/Sharma Textiles", {}},
    };
    for (const auto &c : cases) {
        const ErpTools::ClientFolder found = ErpTools::clientFolder(c.name);
        EXPECT_EQ(found.path, c.path) << c.name.toStdString();
        EXPECT_EQ(found.refusal, c.refusal) << c.name.toStdString();
    }
}

TEST_F(ErpFoldersTest, ClientHoldingIsTheTopFolderUnlessItIsAStandardOne)
{
    file("Shah & Co/2025/purchases.csv");
    file("01 Inbox/purchases.csv");
    file("02 Clients/Shah & Co/purchases.csv");
    file("loose.csv");
    EXPECT_EQ(ErpTools::clientHolding("Shah & Co/2025/purchases.csv"), QString("Shah & Co"));
    EXPECT_EQ(ErpTools::clientHolding(linked + "/Shah & Co/2025/purchases.csv"), QString("Shah & Co"));
    for (const QString none : {"01 Inbox/purchases.csv", "02 Clients/Shah & Co/purchases.csv", "loose.csv",
                               "/etc/passwd", ""})
        EXPECT_FALSE(ErpTools::clientHolding(none)) << none.toStdString();
}

TEST_F(ErpFoldersTest, InWorkKeepsEveryPathInsideTheResolvedRoot)
{
    folder("Quenby/GST");
    QDir().mkpath(home->path() + "/Work2/secret");
    QFile::link(home->path() + "/Work2", root + "/Quenby/escape");
    QFile::link(root + "/Quenby/GST", root + "/inner-link");
    const std::vector<std::pair<QString, std::optional<QString>>> cases = {
        {"", root},
        {".", root},
        {root, root},
        {linked, root},
        {"Quenby/GST", root + "/Quenby/GST"},
        {"Quenby//GST/./", root + "/Quenby/GST"},
        {"Quenby/not yet/file.xlsx", root + "/Quenby/not yet/file.xlsx"},
        {linked + "/Quenby/GST", root + "/Quenby/GST"},
        {"inner-link/out.json", root + "/Quenby/GST/out.json"},
        {"Quenby/../Quenby", root + "/Quenby"},
        {"../Work2/secret", std::nullopt},
        {"..", std::nullopt},
        {"Quenby/escape/secret", std::nullopt},
        {home->path() + "/Work2/secret", std::nullopt},
        {root + "2", std::nullopt},
        {"/", std::nullopt},
        {"/etc/passwd", std::nullopt},
        {"~/x", root + "/~/x"},
    };
    for (const auto &[path, want] : cases)
        EXPECT_EQ(ErpTools::inWork(path), want) << path.toStdString();
}

TEST_F(ErpFoldersTest, LocateFindsTheNamedFileOrListsTheCandidates)
{
    const QString sheet = file("Quenby/2026/Sales.xlsx");
    EXPECT_EQ(ErpTools::locate("Quenby/2026/Sales.xlsx").url, sheet);
    EXPECT_EQ(ErpTools::locate("Quenby/2026/Sales.xlsx").note, "");
    EXPECT_EQ(ErpTools::locate("Quenby/2026").url, root + "/Quenby/2026");

    const auto moved = ErpTools::locate("Downloads/sales.XLSX");
    EXPECT_EQ(moved.url, sheet);
    EXPECT_EQ(moved.note, "(Downloads/sales.XLSX was not there \u2014 used Quenby/2026/Sales.xlsx, the only file of "
                          "that name in the clients folder.)\n");

    // Hidden folders are never searched; a link that leads out is never offered.
    file(".cache/Ledger.csv");
    QDir().mkpath(home->path() + "/Outside");
    QFile(home->path() + "/Outside/ledger.csv").open(QIODevice::WriteOnly);
    QFile::link(home->path() + "/Outside/ledger.csv", root + "/Ledger.csv");
    QFile::link(home->path() + "/Outside", root + "/outside-folder");
    const auto none = ErpTools::locate("ledger.csv");
    EXPECT_FALSE(none.url);
    EXPECT_EQ(none.note, "");
    EXPECT_EQ(ErpTools::locate("Ledger.csv").url, std::nullopt) << "the link itself is out";

    for (int i = 1; i <= 7; ++i)
        file(QString("Client %1/gstr2b.json").arg(i));
    const auto many = ErpTools::locate("gstr2b.json");
    EXPECT_FALSE(many.url);
    ASSERT_TRUE(many.note.startsWith(" Files of that name: ")) << many.note.toStdString();
    ASSERT_TRUE(many.note.endsWith(" \u2014 call again with the right one."));
    const QStringList listed =
        many.note.mid(21).chopped(QString(" \u2014 call again with the right one.").size()).split("; ");
    EXPECT_EQ(listed.size(), 6);
    for (const QString &p : listed)
        EXPECT_TRUE(QRegularExpression("^Client [1-7]/gstr2b\\.json$").match(p).hasMatch()) << p.toStdString();

    EXPECT_EQ(ErpTools::locate("").url, root) << "the clients folder itself";
    EXPECT_EQ(ErpTools::locate("../Outside/nothing-here.txt").note, "");
}

TEST_F(ErpFoldersTest, Find2bTakesTheNewestDownloadOfTheReturn)
{
    const QString ret = folder("Quenby/GST/2026-08");
    age(file("Quenby/GST/2026-08/returns_2b_older.json"), 3600);
    const QString newer = file("Quenby/GST/2026-08/GSTR2B_24AAQFK5512M1Z8_082026.zip");
    age(newer, 60);
    age(file("Quenby/GST/2026-08/GSTR2B_recon_24AAQFK5512M1Z8_082026.xlsx"), 0);
    age(file("Quenby/GST/2026-08/notes-2b.pdf"), 0);
    age(file("Quenby/GST/2026-08/sub/2B-deeper.json"), 0);
    EXPECT_EQ(ErpTools::find2b(ret, "24AAQFK5512M1Z8", "082026"), newer);

    // Nothing in the return folder: the inbox, when the name holds the GSTIN
    // or the period.
    const QString empty = folder("Beta/GST/2026-08");
    EXPECT_FALSE(ErpTools::find2b(empty, "27AAAAA0000A1Z5", "082026"));
    age(file("01 Inbox/2B other client 29BBBBB1111B1Z3.json"), 0);
    EXPECT_FALSE(ErpTools::find2b(empty, "27AAAAA0000A1Z5", "082026"));
    const QString byGstin = file("01 Inbox/gstr2b_27aaaaa0000a1z5.json");
    age(byGstin, 600);
    EXPECT_EQ(ErpTools::find2b(empty, "27AAAAA0000A1Z5", "082026"), byGstin);
    const QString byPeriod = file("01 Inbox/GSTR2B_recon_082026.xlsx");
    age(byPeriod, 30);
    EXPECT_EQ(ErpTools::find2b(empty, "27AAAAA0000A1Z5", "082026"), byPeriod);
    EXPECT_FALSE(ErpTools::find2b(empty, "", "")) << "an empty GSTIN and period name no file";
}

TEST_F(ErpFoldersTest, FileInFindsTheOneStatementOrRegister)
{
    folder("Quenby Traders");
    EXPECT_EQ(ErpTools::statementIn(" \t ").note, " Name the client or the file.");
    EXPECT_EQ(ErpTools::statementIn("Gamma ").note, " No folder named Gamma  in the clients folder.");
    EXPECT_EQ(ErpTools::statementIn("quenby").note,
              " No bank statement (.csv/.xlsx/.xls) in Quenby Traders/ \u2014 ask the CA for the net-banking "
              "download.");

    // Found through its folder's name; the program's own outputs, GSTR files,
    // words inside longer words and other kinds of file are never offered.
    const QString april = file("Quenby Traders/Bank/April.xlsx");
    file("Quenby Traders/bankers.csv");
    file("Quenby Traders/bank_books.xlsx");
    file("Quenby Traders/bank_summary.csv");
    file("Quenby Traders/bank_tally.csv");
    file("Quenby Traders/bank_recon_2026.xlsx");
    file("Quenby Traders/gstr-bank.csv");
    file("Quenby Traders/statement.pdf");
    file("Quenby Traders/.old/bank.csv");
    QDir().mkpath(root + "/Quenby Traders/statement.csv");
    auto found = ErpTools::statementIn("Quenby");
    EXPECT_EQ(found.url, april);
    EXPECT_EQ(found.note, "(Statement found in the client's folder: Quenby Traders/Bank/April.xlsx.)\n");

    file("Quenby Traders/hdfc2024.csv");
    found = ErpTools::statementIn("Quenby Traders");
    EXPECT_FALSE(found.url);
    const QString head = " Statements in Quenby Traders/: ";
    const QString tail = " \u2014 call again with file set to the one to use.";
    ASSERT_TRUE(found.note.startsWith(head) && found.note.endsWith(tail)) << found.note.toStdString();
    QStringList listed = found.note.mid(head.size()).chopped(tail.size()).split("; ");
    listed.sort();
    EXPECT_EQ(listed, QStringList({"Quenby Traders/Bank/April.xlsx", "Quenby Traders/hdfc2024.csv"}));

    const QString register_ = file("Quenby Traders/Purchase-Register 2026.XLSX");
    file("Quenby Traders/2026_register.csv");
    found = ErpTools::registerIn("quenby traders");
    EXPECT_EQ(found.url, register_);
    EXPECT_EQ(found.note,
              "(Purchase register found in the client's folder: Quenby Traders/Purchase-Register 2026.XLSX.)\n");
}

TEST_F(ErpFoldersTest, FileInListsAtMostNineAndNeverALinkOut)
{
    for (int i = 1; i <= 10; ++i)
        file(QString("Beta/stmt %1.csv").arg(i, 2, 10, QChar('0')));
    const auto found = ErpTools::statementIn("Beta");
    EXPECT_FALSE(found.url);
    const QString tail = " \u2014 call again with file set to the one to use.";
    ASSERT_TRUE(found.note.startsWith(" Statements in Beta/: ")) << found.note.toStdString();
    ASSERT_TRUE(found.note.endsWith(tail));
    EXPECT_EQ(found.note.mid(22).chopped(tail.size()).split("; ").size(), 9);

    folder("Gamma");
    QDir().mkpath(home->path() + "/Elsewhere");
    QFile(home->path() + "/Elsewhere/bank.csv").open(QIODevice::WriteOnly);
    QFile::link(home->path() + "/Elsewhere/bank.csv", root + "/Gamma/bank.csv");
    EXPECT_FALSE(ErpTools::statementIn("Gamma").url);
    const QString registers = file("Gamma/purchases/jan.csv");
    EXPECT_EQ(ErpTools::registerIn("Gamma").url, registers);
}

} // namespace
