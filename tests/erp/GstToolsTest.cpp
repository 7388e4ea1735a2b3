// The GST return tools as the engine reaches them: GSTR-1 from the client's
// ERP, the GSTR-2B reconciliation and the bank-statement conversion, each
// through the fake cloud's engine, with their files in a clients folder of
// the test's own.
#include "ErpToolsFixture.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "platform/Http.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

const QString kGstr1 = "/cli/gstr1_build";
const QString k2b = "/cli/gstr2b_reconcile";
const QString kBank = "/cli/bank_statement";
const QString kFolderRule = "folder is a path inside the clients folder, like Quenby/GST/2026-08.";
const QString kMonthRule = "month is the return period as YYYY-MM, e.g. 2026-08.";

class GstToolsTest : public ErpToolsTest {
protected:
    QString work;    // the clients folder
    QString outside; // a folder beside it
    std::function<QString()> savedRoot;

    void SetUp() override
    {
        ErpToolsTest::SetUp();
        work = home->path() + "/Clients";
        outside = home->path() + "/Elsewhere";
        QDir().mkpath(work + "/01 Inbox");
        QDir().mkpath(outside);
        savedRoot = ErpTools::workRoot;
        ErpTools::workRoot = [this] { return work; };
    }

    void TearDown() override
    {
        ErpTools::workRoot = savedRoot;
        ErpToolsTest::TearDown();
    }

    QString put(const QString &rel, const QByteArray &bytes)
    {
        const QString path = work + "/" + rel;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
        f.write(bytes);
        return path;
    }

    // A file of that many bytes that takes no room on disk.
    void putSized(const QString &rel, qint64 size)
    {
        put(rel, {});
        QFile f(work + "/" + rel);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.resize(size));
    }

    QByteArray contents(const QString &rel) const
    {
        QFile f(work + "/" + rel);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
    }
    bool exists(const QString &rel) const { return QFileInfo::exists(work + "/" + rel); }

    void engine(const QString &path, const QJsonObject &reply, int status = 200)
    {
        cloud->setEngine(path, FakeReply::json(reply, status));
    }
    QList<RecordedRequest> sent(const QString &path) const { return cloud->server.requestsTo(path); }
    QJsonObject lastBody(const QString &path) const
    {
        const auto list = sent(path);
        return list.isEmpty() ? QJsonObject() : list.last().json();
    }

    static QJsonObject file(const QString &name, const QByteArray &bytes)
    {
        return QJsonObject{{"name", name}, {"data", QString::fromLatin1(bytes.toBase64())}};
    }
    static QString b64(const QByteArray &bytes) { return QString::fromLatin1(bytes.toBase64()); }

    void signOut() { writeSecret(SEAT_ENV, "PAVI_SEAT_TOKEN=\n"); }
};

void expectCloudHeaders(const RecordedRequest &r)
{
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.header("Authorization"), "Bearer seat-1");
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.header("Accept"), "application/json");
    EXPECT_EQ(r.header("X-Client"), "Velto");
    EXPECT_FALSE(r.body.contains('\n')) << "compact JSON";
}

// ---- GSTR-1 ------------------------------------------------------------------

TEST_F(GstToolsTest, Gstr1SendsTheMonthsRegisterAndFilesTheBuildersAnswer)
{
    connect();
    const QJsonArray rows{QJsonObject{{"invoice_no", "S-1"}, {"taxable", 1000}}};
    erp->answer("reports/gst/sales", QJsonObject{{"success", true},
                                                 {"register", rows},
                                                 {"invoices", QJsonArray{1, 2}},
                                                 {"totals", QJsonObject{{"taxable", 1000}}}});
    engine(kGstr1, {{"text", "B2B 1 invoice, ₹1,000.00."},
                    {"json", "{\"gstin\":\"24AAQFK5512M1Z8\"}"},
                    {"csv", "invoice_no,taxable\nS-1,1000\n"},
                    {"next", "  Upload the JSON on the GST portal.\n"}});
    const Answer a = run("erp_gstr1", {{"month", " 2026-8\t"},
                                       {"hsn_for_products", QJsonArray{QJsonObject{{"product", "Tea"}, {"code", 998555}},
                                                                       QJsonObject{{"product", " "}, {"code", "1"}}}}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();

    ASSERT_EQ(asks().size(), 1);
    EXPECT_EQ(asks().first().path, "/erp/api/cli/v1/reports/gst/sales");
    EXPECT_EQ(asks().first().query, "from=2026-08-01&register=1&to=2026-08-31");
    EXPECT_EQ(asks().first().header("Authorization"), "Bearer tok-" + kGstin);

    ASSERT_EQ(sent(kGstr1).size(), 1);
    expectCloudHeaders(sent(kGstr1).first());
    const QJsonObject want{{"gstin", kGstin},
                           {"fp", "082026"},
                           {"company", "Quenby Foods"},
                           {"erp", QJsonObject{{"success", true}, {"register", rows}, {"totals", QJsonObject{{"taxable", 1000}}}}},
                           {"hsn_map", QJsonObject{{"Tea", "998555"}}}};
    EXPECT_EQ(lastBody(kGstr1), want) << show(lastBody(kGstr1));

    const QString dir = "Quenby Foods/GST/2026-08/";
    const QString stem = "GSTR1_" + kGstin + "_082026";
    EXPECT_EQ(contents(dir + stem + ".json"), "{\"gstin\":\"24AAQFK5512M1Z8\"}");
    EXPECT_EQ(contents(dir + stem + "_register.csv"), "invoice_no,taxable\nS-1,1000\n");
    EXPECT_EQ(contents(dir + stem + "_summary.txt"), "B2B 1 invoice, ₹1,000.00.");
    EXPECT_EQ(a.text, header() + "B2B 1 invoice, ₹1,000.00.\n\nFiles:\n"
                                 "- " + dir + stem + ".json  ← upload this on the GST portal\n"
                                 "- " + dir + stem + "_register.csv\n"
                                 "- " + dir + stem + "_summary.txt\n\n"
                                 "Upload the JSON on the GST portal.");
}

TEST_F(GstToolsTest, Gstr1WithoutPortalJsonRemovesTheOneLeftFromAnEarlierRun)
{
    connect("A/B: Traders?");
    erp->answer("reports/gst/sales", QJsonObject{{"register", QJsonArray{}}});
    const QString stem = "GSTR1_" + kGstin + "_022028";
    // The company's name makes the default folder: each forbidden character one space.
    put("A B  Traders/GST/2028-02/" + stem + ".json", "old");
    engine(kGstr1, {{"text", "2 errors stop the JSON."}, {"csv", ""}, {"next", " \n "}});
    Answer a = run("erp_gstr1", {{"month", "2028-02"}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();
    EXPECT_EQ(asks().last().query, "from=2028-02-01&register=1&to=2028-02-29");
    EXPECT_FALSE(lastBody(kGstr1).contains("hsn_map"));
    EXPECT_FALSE(exists("A B  Traders/GST/2028-02/" + stem + ".json"));
    EXPECT_EQ(contents("A B  Traders/GST/2028-02/" + stem + "_register.csv"), "");
    EXPECT_EQ(a.text, header("A/B: Traders?") + "2 errors stop the JSON.\n\nFiles:\n"
                                                "- A B  Traders/GST/2028-02/" + stem + "_register.csv\n"
                                                "- A B  Traders/GST/2028-02/" + stem + "_summary.txt");

    // A folder as the engine wrote it is listed as written.
    a = run("erp_gstr1", {{"month", "022028"}, {"folder", " x//y "}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();
    EXPECT_TRUE(a.text.contains("\n- x//y/" + stem + "_summary.txt")) << a.text.toStdString();
    EXPECT_TRUE(exists("x/y/" + stem + "_summary.txt"));
}

TEST_F(GstToolsTest, Gstr1RefusesBeforeSendingAndReportsEachFailure)
{
    connect();
    ASSERT_TRUE(QFile::link(outside, work + "/out"));
    struct Case {
        QJsonObject args;
        QString text;
    };
    const Case before[] = {
        {{}, kMonthRule},
        {{{"month", "202608"}}, kMonthRule},
        {{{"month", "2026-13"}}, kMonthRule},
        {{{"month", "2016-12"}}, kMonthRule},
        {{{"month", "2101-01"}}, kMonthRule},
        {{{"month", 202608}}, kMonthRule},
        {{{"month", "2026-08"}, {"folder", "../x"}}, kFolderRule},
        {{{"month", "2026-08"}, {"folder", "a/../b"}}, kFolderRule},
        {{{"month", "2026-08"}, {"folder", "/tmp/x"}}, kFolderRule},
        {{{"month", "2026-08"}, {"folder", "~/x"}}, kFolderRule},
        // A link inside the clients folder that leads out of it.
        {{{"month", "2026-08"}, {"folder", "out/GST"}}, kFolderRule},
    };
    for (const Case &c : before) {
        const Answer a = run("erp_gstr1", c.args);
        EXPECT_TRUE(a.isError);
        EXPECT_EQ(a.text, c.text) << show(c.args);
    }
    signOut();
    Answer a = run("erp_gstr1", {{"month", "2026-08"}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "Not signed in to Hallix.");
    EXPECT_TRUE(asks().isEmpty());
    EXPECT_TRUE(sent(kGstr1).isEmpty());
    EXPECT_TRUE(QDir(outside).isEmpty());
    writeSecret(SEAT_ENV, "PAVI_SEAT_TOKEN=seat-1\n");

    // The ERP's failures, and a report without its register.
    erp->answer("reports/gst/sales", QJsonObject{{"success", true}, {"rows", QJsonArray{}}});
    a = run("erp_gstr1", {{"month", "2026-08"}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, header() + "The ERP sent no register.");
    erp->fail(ErpFakes::Failure::NotFoundBare); // the identity is still fresh
    a = run("erp_gstr1", {{"month", "2026-08"}});
    EXPECT_EQ(a.text, header() + "This ERP address does not have the Velto API (HTTP 404).");
    EXPECT_TRUE(sent(kGstr1).isEmpty());
    erp->fail(ErpFakes::Failure::None);

    // The builder's failures write nothing.
    erp->answer("reports/gst/sales", QJsonObject{{"register", QJsonArray{}}});
    engine(kGstr1, {{"message", "The builder is down."}}, 503);
    a = run("erp_gstr1", {{"month", "2026-08"}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, header() + "The Hallix GSTR-1 builder did not answer: The builder is down.");
    engine(kGstr1, {{"json", "{}"}});
    a = run("erp_gstr1", {{"month", "2026-08"}});
    EXPECT_EQ(a.text, header() + "The Hallix GSTR-1 builder did not answer: no reply");
    EXPECT_FALSE(exists("Quenby Foods"));

    // A file where the folder should be.
    put("Blocked", "a file");
    engine(kGstr1, {{"text", "Summary."}});
    a = run("erp_gstr1", {{"month", "2026-08"}, {"folder", "Blocked/GST"}});
    EXPECT_TRUE(a.isError);
    EXPECT_TRUE(a.text.startsWith(header() + "Summary.\n\nThe files could not be written to Blocked/GST: "))
        << a.text.toStdString();
    EXPECT_GT(a.text.size(), (header() + "Summary.\n\nThe files could not be written to Blocked/GST: ").size());
}

// ---- GSTR-2B -----------------------------------------------------------------

TEST_F(GstToolsTest, ReconcilesA2bFileAgainstARegisterFoundInTheClientsFolder)
{
    const QByteArray g2b = R"({"data":{"docdata":{}}})";
    const QByteArray books = "Invoice,Supplier GSTIN,Taxable\nB-12,27AAACB2222C1Z5,1000\n";
    put("Acme Traders/GST/2026-08/returns_2b_082026.json", g2b);
    put("Acme Traders/Books/purchase-register.csv", books);
    put("Acme Traders/Books/old_register.csv", "our own output: never the register");
    engine(k2b, {{"summary", "ITC per books ₹180.00; per 2B ₹180.00."},
                 {"xlsx", b64("PK-workbook")},
                 {"next", "Claim ₹180.00 in 3B Table 4."}});
    const QJsonObject args{{"month", " 2026-08 "},
                           {"client", "acme"},
                           {"gstin", "24aaqfk5512m1z8"},
                           {"tolerance", 0},
                           {"ai_matches", QJsonArray{QJsonObject{{"gstin", kOther},
                                                                 {"books", 12},
                                                                 {"g2b", "B-12"},
                                                                 {"reason", "same amount"},
                                                                 {"sure", true},
                                                                 {"none", QJsonValue::Null}},
                                                     "not a pair"}}};
    Answer a = run("gstr2b_reconcile", args);
    ASSERT_FALSE(a.isError) << a.text.toStdString();

    ASSERT_EQ(sent(k2b).size(), 1);
    expectCloudHeaders(sent(k2b).first());
    const QJsonObject want{
        {"gstin", kGstin},
        {"fp", "082026"},
        {"company", "Acme Traders"},
        {"g2b", file("returns_2b_082026.json", g2b)},
        {"books", file("purchase-register.csv", books)},
        {"tolerance", 0},
        {"ai_matches", QJsonArray{QJsonObject{{"gstin", kOther}, {"books", "12"}, {"g2b", "B-12"}, {"reason", "same amount"}}}}};
    EXPECT_EQ(lastBody(k2b), want) << show(lastBody(k2b));

    const QString dir = "Acme Traders/GST/2026-08/";
    const QString base = "GSTR2B_recon_" + kGstin + "_082026";
    const QString copy = "GSTR2B_" + kGstin + "_082026.json";
    EXPECT_EQ(contents(dir + base + ".xlsx"), "PK-workbook");
    EXPECT_EQ(contents(dir + base + "_summary.txt"), "ITC per books ₹180.00; per 2B ₹180.00.");
    EXPECT_EQ(contents(dir + copy), g2b);
    EXPECT_EQ(a.text, "(Purchase register found in the client's folder: Acme Traders/Books/purchase-register.csv.)\n"
                      "ITC per books ₹180.00; per 2B ₹180.00.\n\n"
                      "Books from: Acme Traders/Books/purchase-register.csv\n"
                      "Files:\n"
                      "- " + dir + base + ".xlsx\n"
                      "- " + dir + base + "_summary.txt\n"
                      "- " + dir + copy + "  (the 2B used)\n\n"
                      "Claim ₹180.00 in 3B Table 4.");

    // Run again: the kept copy is now the newest 2B file; it is not copied
    // onto itself. A reply without a workbook leaves none from the first run.
    QFile::remove(work + "/" + dir + "returns_2b_082026.json");
    engine(k2b, {{"summary", "Done again."}, {"xlsx", 12}, {"next", " \n"}});
    a = run("gstr2b_reconcile", QJsonObject{{"month", "2026-08"}, {"client", "Acme"}, {"gstin", kGstin},
                                            {"books_file", "Acme Traders/Books/purchase-register.csv"},
                                            {"tolerance", "1"}, {"ai_matches", "none"}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();
    EXPECT_EQ(lastBody(k2b).value("g2b").toObject(), file(copy, g2b));
    EXPECT_FALSE(lastBody(k2b).contains("tolerance")) << "only a number is sent";
    EXPECT_FALSE(lastBody(k2b).contains("ai_matches")) << "only a list is sent";
    EXPECT_FALSE(exists(dir + base + ".xlsx"));
    EXPECT_EQ(contents(dir + copy), g2b);
    EXPECT_EQ(a.text, "Done again.\n\nBooks from: Acme Traders/Books/purchase-register.csv\nFiles:\n"
                      "- " + dir + base + "_summary.txt\n"
                      "- " + dir + copy + "  (the 2B used)");

    // A file the engine named as the 2B file is never removed as a stale workbook.
    put(dir + base + ".xlsx", "named as the 2B");
    a = run("gstr2b_reconcile", QJsonObject{{"month", "2026-08"}, {"gstin", kGstin},
                                            {"books_file", "Acme Traders/Books/purchase-register.csv"},
                                            {"g2b_file", dir + base + ".xlsx"}, {"folder", dir}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();
    EXPECT_EQ(contents(dir + base + ".xlsx"), "named as the 2B");
    EXPECT_EQ(contents(dir + "GSTR2B_" + kGstin + "_082026.xlsx"), "named as the 2B");
}

TEST_F(GstToolsTest, TheRegisterComesFromTheConnectedErpAsItsRows)
{
    connect();
    const QJsonArray rows{QJsonObject{{"invoice", "P-7"}, {"supplier_gstin", kOther}, {"taxable", 500}}};
    erp->answer("reports/gst/purchases", QJsonObject{{"success", true}, {"register", rows}, {"totals", 1}});
    const QByteArray g2b = "PK-2b-zip";
    put("01 Inbox/GSTR2B_" + kGstin.toLower() + ".zip", g2b);
    put("01 Inbox/someone-else-2B.zip", "not this client's");
    engine(k2b, {{"summary", "All matched."}});
    const Answer a = run("gstr2b_reconcile", {{"month", "082026"}, {"ai_matches", QJsonArray{}}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();

    EXPECT_EQ(whoamis(), 1);
    ASSERT_EQ(asks().size(), 1);
    EXPECT_EQ(asks().first().path, "/erp/api/cli/v1/reports/gst/purchases");
    EXPECT_EQ(asks().first().query, "from=2026-08-01&register=1&to=2026-08-31");
    EXPECT_EQ(asks().first().header("Authorization"), "Bearer tok-" + kGstin);
    const QJsonObject want{{"gstin", kGstin},
                           {"fp", "082026"},
                           {"company", "Quenby Foods"},
                           {"g2b", file("GSTR2B_" + kGstin.toLower() + ".zip", g2b)},
                           {"books", QJsonObject{{"erp", rows}}},
                           {"ai_matches", QJsonArray{}}};
    EXPECT_EQ(lastBody(k2b), want) << show(lastBody(k2b));
    const QString dir = "Quenby Foods/GST/2026-08/";
    EXPECT_EQ(contents(dir + "GSTR2B_" + kGstin + "_082026.zip"), g2b) << "the inbox download is kept with the return";
    EXPECT_EQ(a.text, "All matched.\n\nBooks from: Ledgora ERP (Quenby Foods LLP)\nFiles:\n"
                      "- " + dir + "GSTR2B_recon_" + kGstin + "_082026_summary.txt\n"
                      "- " + dir + "GSTR2B_" + kGstin + "_082026.zip  (the 2B used)");
}

TEST_F(GstToolsTest, TheErpPathStopsOnEachOfItsFailures)
{
    const ErpConnection c = connect();
    put("Quenby Foods/GST/2026-08/2b.json", "{}");
    const QJsonObject args{{"month", "2026-08"}, {"client", "quenby"}};

    ErpTools::tokenFor = [](const QString &) { return std::nullopt; };
    Answer a = run("gstr2b_reconcile", args);
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "The connection for Quenby Foods is missing its token on this computer. The CA reconnects from "
                      "Velto → Ledgora ERP….");
    ErpTools::tokenFor = &ErpVault::token;
    EXPECT_TRUE(erp->server.requests().isEmpty());

    erp->answer("whoami", QJsonObject{{"business", "Bharat Steels"}, {"business_gstin", kOther}});
    a = run("gstr2b_reconcile", args);
    EXPECT_TRUE(a.isError);
    EXPECT_TRUE(a.text.startsWith("Stopped: Quenby Foods's GSTIN is " + kGstin + ", but this ERP connection now opens "
                                  "the books of Bharat Steels (GSTIN " + kOther + ").")) << a.text.toStdString();
    EXPECT_TRUE(asks().isEmpty());

    erp->answer("whoami", QJsonObject{{"business", "Quenby Foods LLP"}, {"business_gstin", kGstin}});
    erp->answer("reports/gst/purchases", QJsonObject{{"success", true}, {"rows", 3}});
    a = run("gstr2b_reconcile", args);
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "The ERP sent no purchase register.");
    EXPECT_TRUE(ErpTools::verified.contains(c.id));
    erp->fail(ErpFakes::Failure::NotFoundBare);
    a = run("gstr2b_reconcile", args);
    EXPECT_EQ(a.text, "This ERP address does not have the Velto API (HTTP 404).");
    EXPECT_TRUE(a.isError);
    EXPECT_TRUE(sent(k2b).isEmpty());
}

TEST_F(GstToolsTest, AConnectedErpOfAnotherGstinIsNeverReconciledInItsPlace)
{
    connect();
    put(kOther + "/GST/2026-08/2B.json", "{}");
    put("Bharat Steels/purchases.csv", "b");

    // The one connection is picked when no client is named: without a
    // register file the books would have come from Quenby's ERP.
    Answer a = run("gstr2b_reconcile", {{"month", "2026-08"}, {"gstin", kOther}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "The connected ERP of Quenby Foods belongs to another GSTIN (" + kGstin + ", not " + kOther +
                          "). Nothing was sent. To reconcile " + kOther + ", pass books_file (that client's purchase "
                          "register in the clients folder) with gstin.");
    EXPECT_TRUE(erp->server.requests().isEmpty());
    EXPECT_TRUE(sent(k2b).isEmpty());

    // With a register file the connection is set aside, its name too: the
    // GSTIN named is the client's.
    a = run("gstr2b_reconcile", {{"month", "2026-08"}, {"gstin", kOther}, {"books_file", "Bharat Steels/purchases.csv"}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();
    EXPECT_EQ(lastBody(k2b).value("gstin").toString(), kOther);
    EXPECT_EQ(lastBody(k2b).value("company").toString(), "");
    EXPECT_EQ(lastBody(k2b).value("books").toObject(), file("purchases.csv", "b"));
    EXPECT_TRUE(erp->server.requests().isEmpty());
    EXPECT_TRUE(a.text.contains("- " + kOther + "/GST/2026-08/GSTR2B_" + kOther + "_082026.json  (the 2B used)"))
        << a.text.toStdString();
}

TEST_F(GstToolsTest, ARegisterIsReconciledForTheClientWhoseFolderHoldsIt)
{
    connect();
    put("Bharat Steels/purchases.csv", "b");
    put("Quenby Foods/GST/2026-08/2B.json", "{}");
    put("Quenby Foods/purchases.csv", "q");
    put("01 Inbox/purchases.csv", "i");
    put("loose.csv", "l");
    put("Shah & Co/purchases.csv", "s");
    put("Shah Traders/purchases.csv", "t");
    const QString noClient = " is in no client's folder — which client is it for? Pass client (the client's folder "
                             "name) or gstin. Nothing was sent.";
    const struct {
        QJsonObject args;
        QString text;
    } refused[] = {
        // Bharat Steels' register is never reconciled as Quenby Foods', the
        // one client whose ERP is connected.
        {{{"books_file", "Bharat Steels/purchases.csv"}}, "gstin is needed — the client's 15-character GSTIN."},
        {{{"books_file", "loose.csv"}}, "books_file loose.csv" + noClient},
        {{{"books_file", "01 Inbox/purchases.csv"}}, "books_file 01 Inbox/purchases.csv" + noClient},
        {{{"books_file", "Shah & Co/purchases.csv"}, {"client", "Shah"}, {"gstin", kOther}},
         "'Shah' could be Shah & Co or Shah Traders — say which. Nothing was sent."},
        {{{"client", "shah"}},
         " 'shah' could be Shah & Co or Shah Traders — say which. Without a connected ERP, pass books_file (the "
         "purchase register in the clients folder) and gstin."},
    };
    for (const auto &c : refused) {
        QJsonObject args = c.args;
        args.insert("month", "2026-08");
        const Answer a = run("gstr2b_reconcile", args);
        EXPECT_TRUE(a.isError) << a.text.toStdString();
        EXPECT_EQ(a.text, c.text);
    }
    EXPECT_TRUE(erp->server.requests().isEmpty());
    EXPECT_TRUE(sent(k2b).isEmpty());
    EXPECT_FALSE(exists("Shah/GST")) << "nothing written under a name no folder has";

    // The register in the connected client's own folder is that client's.
    engine(k2b, {{"summary", "Matched."}});
    const Answer a = run("gstr2b_reconcile", {{"month", "2026-08"}, {"books_file", "Quenby Foods/purchases.csv"}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();
    EXPECT_EQ(lastBody(k2b).value("gstin").toString(), kGstin);
    EXPECT_EQ(lastBody(k2b).value("books").toObject(), file("purchases.csv", "q"));
}

TEST_F(GstToolsTest, AMissing2bFileIsANextStepNotAnError)
{
    // The label splits at slash and colon; the missing books file is looked
    // at only once there is a 2B file.
    Answer a = run("gstr2b_reconcile",
                   {{"month", "2026-8"}, {"client", "Alpha/Beta:Gamma"}, {"gstin", kGstin}, {"books_file", "no.csv"}});
    EXPECT_FALSE(a.isError);
    EXPECT_EQ(a.text, "[Alpha Beta Gamma · " + kGstin + "]\n"
                      "No GSTR-2B file for 2026-08 in Alpha Beta Gamma/GST/2026-08/ or 01 Inbox.\n\n"
                      "NEXT STEP (Velto, not the CA): download it from the GST portal in the Velto browser — follow the "
                      "hallix-gst-2b-download skill (Returns Dashboard → 2026-08 → GSTR-2B → Download → JSON), save it "
                      "into Alpha Beta Gamma/GST/2026-08/ with browser_downloads, then call gstr2b_reconcile again.");

    // No label at all: the GSTIN names the folder. A reconciliation workbook
    // is never taken for the 2B file; an inbox file must name the client.
    put(kGstin + "/GST/2026-08/GSTR2B_recon_" + kGstin + "_082026.xlsx", "old workbook");
    put("01 Inbox/returns-2B.json", "someone's");
    put("reg.csv", "r");
    a = run("gstr2b_reconcile", {{"month", "2026-08"}, {"gstin", kGstin}, {"books_file", "reg.csv"}});
    EXPECT_FALSE(a.isError);
    EXPECT_TRUE(a.text.startsWith("[" + kGstin + " · " + kGstin + "]\nNo GSTR-2B file for 2026-08 in " + kGstin +
                                  "/GST/2026-08/ or 01 Inbox.")) << a.text.toStdString();

    // A found register's note opens the next step too.
    put("Delta/purchase.xlsx", "p");
    a = run("gstr2b_reconcile", {{"month", "2026-08"}, {"client", "Delta"}, {"gstin", kGstin}});
    EXPECT_FALSE(a.isError);
    EXPECT_TRUE(a.text.startsWith("(Purchase register found in the client's folder: Delta/purchase.xlsx.)\n[Delta · " +
                                  kGstin + "]\nNo GSTR-2B file")) << a.text.toStdString();
    EXPECT_TRUE(sent(k2b).isEmpty());
}

TEST_F(GstToolsTest, ReconciliationRefusalsComeInOrder)
{
    ASSERT_TRUE(QFile::link(outside, work + "/out"));
    put("Acme/GST/2026-08/2B.json", "{}");
    put("Acme/purchases.csv", "p");
    const QString notFile = " is not a file inside the clients folder.";
    struct Case {
        QJsonObject args;
        QString text;
    };
    const Case cases[] = {
        {{{"month", "August"}}, kMonthRule},
        {{{"month", "2026-08"}, {"client", "Nobody"}},
         " No folder named Nobody in the clients folder. Without a connected ERP, pass books_file (the purchase "
         "register in the clients folder) and gstin."},
        {{{"month", "2026-08"}, {"client", "Empty"}, {"books_file", "x.csv"}, {"gstin", "24AAQFK5512M1Z"}},
         "gstin is needed — the client's 15-character GSTIN."},
        // The register found passes every check; only the seat stops it.
        {{{"month", "2026-08"}, {"client", "Acme"}, {"gstin", kGstin}}, "Not signed in to Hallix."},
        {{{"month", "2026-08"}, {"client", "Acme"}, {"gstin", kGstin}, {"folder", "../Acme"}}, kFolderRule},
        {{{"month", "2026-08"}, {"client", "Acme"}, {"gstin", kGstin}, {"folder", "out/GST"}}, kFolderRule},
        {{{"month", "2026-08"}, {"client", "Acme"}, {"gstin", kGstin}, {"folder", outside}}, kFolderRule},
        {{{"month", "2026-08"}, {"client", "Acme"}, {"gstin", kGstin}, {"g2b_file", "nope.json"}}, "g2b_file nope.json" + notFile},
        {{{"month", "2026-08"}, {"client", "Acme"}, {"gstin", kGstin}, {"books_file", "gone.csv"}}, "books_file gone.csv" + notFile},
    };
    signOut();
    for (const Case &c : cases) {
        const Answer a = run("gstr2b_reconcile", c.args);
        EXPECT_TRUE(a.isError) << show(c.args);
        EXPECT_EQ(a.text, c.text) << show(c.args);
    }
    EXPECT_TRUE(sent(k2b).isEmpty());
    EXPECT_TRUE(QDir(outside).isEmpty());
    writeSecret(SEAT_ENV, "PAVI_SEAT_TOKEN=seat-1\n");

    // The engine's failures carry the search note and write nothing.
    engine(k2b, {{"message", "The 2B file is not a GSTR-2B download."}}, 422);
    Answer a = run("gstr2b_reconcile", {{"month", "2026-08"}, {"client", "Acme"}, {"gstin", kGstin}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "(Purchase register found in the client's folder: Acme/purchases.csv.)\n"
                      "The Hallix reconciliation did not run: The 2B file is not a GSTR-2B download.");
    engine(k2b, {{"xlsx", b64("x")}});
    a = run("gstr2b_reconcile", {{"month", "2026-08"}, {"client", "Acme"}, {"gstin", kGstin}, {"books_file", "Acme/purchases.csv"}});
    EXPECT_EQ(a.text, "The Hallix reconciliation did not run: no reply");
    EXPECT_EQ(QDir(work + "/Acme/GST/2026-08").entryList(QDir::Files), QStringList{"2B.json"});

    // A 2B file given by a name found elsewhere is said so.
    engine(k2b, {{"summary", "ok"}});
    a = run("gstr2b_reconcile", {{"month", "2026-08"}, {"client", "Acme"}, {"gstin", kGstin},
                                 {"books_file", "purchases.csv"}, {"g2b_file", "Inbox/2B.json"}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();
    EXPECT_TRUE(a.text.startsWith("(Inbox/2B.json was not there — used Acme/GST/2026-08/2B.json, the only file of that "
                                  "name in the clients folder.)\nok\n\nBooks from: purchases.csv → purchases.csv (found "
                                  "by name)\nFiles:\n")) << a.text.toStdString();

    // A file where the output folder should be.
    put("Blocked", "a file");
    a = run("gstr2b_reconcile", {{"month", "2026-08"}, {"client", "Acme"}, {"gstin", kGstin},
                                 {"books_file", "Acme/purchases.csv"}, {"g2b_file", "Acme/GST/2026-08/2B.json"},
                                 {"folder", "Blocked/GST"}});
    EXPECT_TRUE(a.isError);
    EXPECT_TRUE(a.text.startsWith("ok\n\nThe files could not be written to Blocked/GST: ")) << a.text.toStdString();
}

// ---- Bank statement ------------------------------------------------------------

TEST_F(GstToolsTest, AStatementIsSentAndItsOutputsWrittenBesideIt)
{
    const QByteArray csv = "Date,Narration,Debit,Credit,Balance\n01/04,UPI-ZOMATO,500,,9500\n";
    put("Quenby/Bank/HDFC-Apr.csv", csv);
    put("Quenby/Bank/HDFC-Apr_books.xlsx", "our own output: never the statement");
    engine(kBank, {{"summary", "Booked 1 line; 1 in Suspense."},
                   {"xlsx", b64("PK-books")},
                   {"tally", "<ENVELOPE/>"},
                   {"next", "Give Zomato a ledger.\n"}});
    Answer a = run("bank_statement", {{"client", " Quenby "},
                                      {"bank_ledger", " HDFC Bank "},
                                      {"ledger_map", QJsonArray{QJsonObject{{"counterparty", "Swiggy"}, {"ledger", "Staff Welfare"}},
                                                                QJsonObject{{"counterparty", "Blank"}, {"ledger", " "}}}}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();
    ASSERT_EQ(sent(kBank).size(), 1);
    expectCloudHeaders(sent(kBank).first());
    EXPECT_EQ(lastBody(kBank), (QJsonObject{{"file", file("HDFC-Apr.csv", csv)},
                                            {"company", "Quenby"},
                                            {"bank_ledger", "HDFC Bank"},
                                            {"ledger_map", QJsonObject{{"Swiggy", "Staff Welfare"}}}}))
        << show(lastBody(kBank));
    EXPECT_EQ(contents("Quenby/Bank/HDFC-Apr_books.xlsx"), "PK-books");
    EXPECT_EQ(contents("Quenby/Bank/HDFC-Apr_tally.xml"), "<ENVELOPE/>");
    EXPECT_EQ(contents("Quenby/Bank/HDFC-Apr_summary.txt"), "Booked 1 line; 1 in Suspense.");
    EXPECT_EQ(a.text, "(Statement found in the client's folder: Quenby/Bank/HDFC-Apr.csv.)\n"
                      "Booked 1 line; 1 in Suspense.\n\nFiles:\n"
                      "- Quenby/Bank/HDFC-Apr_books.xlsx\n"
                      "- Quenby/Bank/HDFC-Apr_tally.xml  ← import in Tally (Gateway of Tally → Import → Vouchers)\n"
                      "- Quenby/Bank/HDFC-Apr_summary.txt\n\n"
                      "Give Zomato a ledger.");

    // Named by the engine, without a Tally file this time: the old one goes.
    engine(kBank, {{"summary", "Booked again."}, {"xlsx", b64("PK-2")}, {"next", "  "}});
    a = run("bank_statement", {{"file", "Quenby/Bank/HDFC-Apr.csv"}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();
    EXPECT_EQ(lastBody(kBank), (QJsonObject{{"file", file("HDFC-Apr.csv", csv)}, {"company", ""}, {"bank_ledger", ""}}));
    EXPECT_FALSE(exists("Quenby/Bank/HDFC-Apr_tally.xml"));
    EXPECT_EQ(a.text, "Booked again.\n\nFiles:\n- Quenby/Bank/HDFC-Apr_books.xlsx\n- Quenby/Bank/HDFC-Apr_summary.txt");

    // Nor a workbook: the old one goes too.
    engine(kBank, {{"summary", "Nothing to book."}, {"xlsx", "%%% not base64"}});
    a = run("bank_statement", {{"file", "Quenby/Bank/HDFC-Apr.csv"}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();
    EXPECT_FALSE(exists("Quenby/Bank/HDFC-Apr_books.xlsx"));
    EXPECT_EQ(a.text, "Nothing to book.\n\nFiles:\n- Quenby/Bank/HDFC-Apr_summary.txt");
}

TEST_F(GstToolsTest, StatementRefusalsAndFailures)
{
    const QByteArray csv = "Date,Balance\n";
    put("Quenby/Bank/HDFC-Apr.csv", csv);
    QDir().mkpath(work + "/Empty");
    ASSERT_EQ(::mkfifo(QFile::encodeName(work + "/Quenby/pipe.csv").constData(), 0600), 0);
    const QString none = " No bank statement (.csv/.xlsx/.xls) in Empty/ — ask the CA for the net-banking download.";
    struct Case {
        QJsonObject args;
        QString text;
    };
    const Case cases[] = {
        {{}, "No file given. Name the client or the file."},
        {{{"client", "Empty"}}, "No file given." + none},
        {{{"file", "x.csv"}}, "file must be a bank statement inside the clients folder — x.csv was not found."},
        {{{"file", "x.csv"}, {"client", "Empty"}},
         "file must be a bank statement inside the clients folder — x.csv was not found." + none},
        // A pipe is never waited on, a folder never read.
        {{{"file", "Quenby/pipe.csv"}}, "file must be a bank statement inside the clients folder — Quenby/pipe.csv was not found."},
        {{{"file", "Quenby/Bank"}}, "file must be a bank statement inside the clients folder — Quenby/Bank was not found."},
        {{{"file", "Quenby/Bank/HDFC-Apr.csv"}, {"ledger_map", QJsonArray{}}},
         "ledger_map is empty — give each counterparty listed in the last NEXT STEP a ledger ([{\"counterparty\": "
         "\"as listed\", \"ledger\": \"Ledger name\"}]), or leave the ones you cannot tell in Suspense and say so "
         "without calling again."},
        {{{"file", "Quenby/Bank/HDFC-Apr.csv"}}, "Not signed in to Hallix."},
    };
    signOut();
    for (const Case &c : cases) {
        const Answer a = run("bank_statement", c.args);
        EXPECT_TRUE(a.isError) << show(c.args);
        EXPECT_EQ(a.text, c.text) << show(c.args);
    }
    EXPECT_TRUE(sent(kBank).isEmpty());
    writeSecret(SEAT_ENV, "PAVI_SEAT_TOKEN=seat-1\n");

    // A named file that is not there, and the client's one statement instead.
    engine(kBank, {{"summary", "Booked."}});
    Answer a = run("bank_statement", {{"file", "/elsewhere/stmt.csv"}, {"client", "Quenby"}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();
    EXPECT_EQ(lastBody(kBank).value("file").toObject(), file("HDFC-Apr.csv", csv));
    EXPECT_TRUE(a.text.startsWith("(/elsewhere/stmt.csv is not in the clients folder. Statement found in the client's "
                                  "folder: Quenby/Bank/HDFC-Apr.csv.)\nBooked.\n\nFiles:\n")) << a.text.toStdString();

    // The engine's failures write nothing.
    QFile::remove(work + "/Quenby/Bank/HDFC-Apr_summary.txt");
    engine(kBank, {{"message", "The file is not a bank statement."}}, 422);
    a = run("bank_statement", {{"file", "Quenby/Bank/HDFC-Apr.csv"}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "The Hallix statement engine did not read it: The file is not a bank statement.");
    engine(kBank, {});
    a = run("bank_statement", {{"file", "Quenby/Bank/HDFC-Apr.csv"}});
    EXPECT_EQ(a.text, "The Hallix statement engine did not read it: no reply");
    EXPECT_FALSE(exists("Quenby/Bank/HDFC-Apr_summary.txt"));

    // An output that cannot be replaced stops the writing.
    QDir().mkpath(work + "/Quenby/Bank/HDFC-Apr_tally.xml/inside");
    engine(kBank, {{"summary", "Booked."}, {"xlsx", b64("PK")}, {"tally", "<ENVELOPE/>"}});
    a = run("bank_statement", {{"file", "Quenby/Bank/HDFC-Apr.csv"}});
    EXPECT_TRUE(a.isError);
    EXPECT_TRUE(a.text.startsWith("Booked.\n\nThe files could not be written next to the statement: ")) << a.text.toStdString();
    EXPECT_EQ(contents("Quenby/Bank/HDFC-Apr_books.xlsx"), "PK") << "files written before the failure stay";
    EXPECT_FALSE(exists("Quenby/Bank/HDFC-Apr_summary.txt"));
}

// ---- Size caps ---------------------------------------------------------------

// The uploads at the caps: the cloud is answered in-process, so tens of
// megabytes never cross a socket.
TEST_F(GstToolsTest, InputsAreRefusedAtTheirCapsAndSentJustBelow)
{
    QList<qsizetype> bodies;
    const auto savedSend = Http::Hooks::send;
    Http::Hooks::send = [&bodies](const Http::Request &r, Http::Done done) {
        bodies << r.body.size();
        Http::Response ok;
        ok.status = 200;
        ok.body = R"({"summary":"ok"})";
        done(ok);
    };
    const auto base64Size = [](qint64 n) { return (n + 2) / 3 * 4; };
    put("Acme/purchases.csv", "p");
    const QJsonObject recon{{"month", "2026-08"}, {"client", "Acme"}, {"gstin", kGstin},
                            {"g2b_file", "Acme/2B.json"}, {"books_file", "Acme/purchases.csv"}};

    putSized("Acme/2B.json", 40000000);
    Answer a = run("gstr2b_reconcile", recon);
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "The 2B file is over 40 MB — split the period.");
    putSized("Acme/2B.json", 39999999);
    a = run("gstr2b_reconcile", recon);
    EXPECT_FALSE(a.isError) << a.text.toStdString();
    ASSERT_EQ(bodies.size(), 1);
    EXPECT_GT(bodies.last(), base64Size(39999999));

    // The register is bounded the same way.
    putSized("Acme/2B.json", 10);
    putSized("Acme/purchases.csv", 40000000);
    a = run("gstr2b_reconcile", recon);
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "books_file Acme/purchases.csv is over 40 MB — export the purchase register for this month only.");

    putSized("Acme/Bank/stmt.csv", 25000000);
    a = run("bank_statement", {{"file", "Acme/Bank/stmt.csv"}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "The statement is over 25 MB — split it by month.");
    putSized("Acme/Bank/stmt.csv", 24999999);
    a = run("bank_statement", {{"file", "Acme/Bank/stmt.csv"}});
    EXPECT_FALSE(a.isError) << a.text.toStdString();
    ASSERT_EQ(bodies.size(), 2);
    EXPECT_GT(bodies.last(), base64Size(24999999));
    Http::Hooks::send = savedSend;
}

} // namespace
