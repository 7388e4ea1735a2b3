// Tally's XML interface and the Tally tools against a fake Tally on loopback
// that answers by the envelope's ID and keeps the exact request bytes.
#include "ToolRun.h"
#include "connectors/TallyTools.h"
#include "platform/Dispatch.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"

#include <QJsonArray>
#include <QMutex>
#include <QRegularExpression>

using namespace TestKit;
using ConnectorTest::Reply;

namespace {

class TallyTest : public HomeTest {
protected:
    std::unique_ptr<FakeHttpServer> tally;
    // Replies by the request's <ID>; read on the server's thread.
    std::shared_ptr<QMap<QString, FakeReply>> byId = std::make_shared<QMap<QString, FakeReply>>();
    std::shared_ptr<QMutex> lock = std::make_shared<QMutex>();

    void SetUp() override
    {
        HomeTest::SetUp();
        savedScale_ = Dispatch::timeScale;
        Dispatch::timeScale = 1.0;
        savedPort_ = qgetenv("VELTO_TALLY_PORT");
        tally = std::make_unique<FakeHttpServer>();
        tally->setFallback([byId = byId, lock = lock](const RecordedRequest &r) {
            static const QRegularExpression id(QStringLiteral("<ID>([^<]*)</ID>"));
            const QString key = id.match(QString::fromUtf8(r.body)).captured(1);
            QMutexLocker locked(lock.get());
            return byId->value(key, FakeReply::text("<ENVELOPE></ENVELOPE>"));
        });
        qputenv("VELTO_TALLY_PORT", QByteArray::number(tally->port()));
        TallyTools::send = &TallyTools::post;
        TallyTools::confirm = &TallyTools::confirmDialog;
    }

    void TearDown() override
    {
        tally.reset();
        if (savedPort_.isNull())
            qunsetenv("VELTO_TALLY_PORT");
        else
            qputenv("VELTO_TALLY_PORT", savedPort_);
        Dispatch::timeScale = savedScale_;
        HomeTest::TearDown();
    }

    void answer(const QString &id, const QByteArray &xml, int status = 200)
    {
        QMutexLocker locked(lock.get());
        byId->insert(id, FakeReply::text(xml, status));
    }

    Reply run(const QString &name, const QJsonObject &args = {})
    {
        return ConnectorTest::runTool(TallyTools::family(), name, args);
    }

    // The bodies Tally was sent, in order.
    QStringList sent() const
    {
        QStringList out;
        for (const RecordedRequest &r : tally->requests())
            out << QString::fromUtf8(r.body);
        return out;
    }

private:
    double savedScale_ = 1.0;
    QByteArray savedPort_;
};

TEST_F(TallyTest, TheEndpointFollowsThePortVariable)
{
    qunsetenv("VELTO_TALLY_PORT");
    EXPECT_EQ(TallyTools::endpoint(), "http://127.0.0.1:9000");
    qputenv("VELTO_TALLY_PORT", "9100");
    EXPECT_EQ(TallyTools::endpoint(), "http://127.0.0.1:9100");
    // A port that forms no address is an orderly "not running".
    qputenv("VELTO_TALLY_PORT", "90 00/x");
    const Reply r = run("tally_status");
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, TallyTools::notRunning);
}

TEST_F(TallyTest, TheCompanyListRequestIsExactAndItsNamesAreSortedOnce)
{
    answer("List of Companies", "<ENVELOPE><COMPANY><NAME>Zeta Exports</NAME></COMPANY><COMPANY><NAME>A &amp; B "
                                "Traders</NAME></COMPANY><COMPANY><NAME>Zeta Exports</NAME></COMPANY><NAME>&#4;</NAME>"
                                "<NAME TYPE=\"String\">Ignored</NAME></ENVELOPE>");
    const Reply r = run("tally_status");
    EXPECT_FALSE(r.isError) << r.text.toStdString();
    EXPECT_EQ(r.json(), (QJsonObject{{"running", true}, {"companies", QJsonArray{"A & B Traders", "Zeta Exports"}}}));

    const QList<RecordedRequest> requests = tally->requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/");
    EXPECT_EQ(requests[0].header("Content-Type"), "text/xml;charset=utf-8");
    EXPECT_EQ(sent()[0],
              "<ENVELOPE><HEADER><VERSION>1</VERSION><TALLYREQUEST>Export</TALLYREQUEST><TYPE>Collection</TYPE><ID>List "
              "of Companies</ID></HEADER><BODY><DESC><STATICVARIABLES><SVEXPORTFORMAT>$$SysName:XML</SVEXPORTFORMAT>"
              "</STATICVARIABLES><TDL><TDLMESSAGE><COLLECTION NAME=\"List of Companies\" ISMODIFY=\"No\" "
              "ISFIXED=\"No\"><TYPE>Company</TYPE><NATIVEMETHOD>NAME</NATIVEMETHOD></COLLECTION></TDLMESSAGE></TDL>"
              "</DESC></BODY></ENVELOPE>");

    answer("List of Companies", "<ENVELOPE></ENVELOPE>");
    const Reply none = run("tally_status", {{"company", "ignored"}});
    EXPECT_TRUE(none.isError);
    EXPECT_EQ(none.text, "Tally answered, but has no company open. Ask the CA to load the client's company in Tally.");
    EXPECT_FALSE(sent()[1].contains("SVCURRENTCOMPANY"));
}

TEST_F(TallyTest, LedgersAreReadPerBlockFilteredAndCut)
{
    answer("Ledgers",
           "<ENVELOPE><LEDGER NAME=\"Petty\"><NAME>Petty Box</NAME><PARENT>Cash-in-Hand</PARENT>"
           "<CLOSINGBALANCE>-1500.00</CLOSINGBALANCE><PARTYGSTIN></PARTYGSTIN></LEDGER>"
           "<LEDGER><NAME>Kelvar Steels</NAME><PARENT>Sundry Debtors</PARENT><CLOSINGBALANCE>25000.00</CLOSINGBALANCE>"
           "<PARTYGSTIN>24AAQFK1234A1Z5</PARTYGSTIN></LEDGER>"
           "<LEDGER><NAME></NAME><PARENT>Cash-in-Hand</PARENT></LEDGER>"
           "<LEDGER><NAME>Cash</NAME></LEDGER></ENVELOPE>");
    Reply r = run("tally_ledgers", {{"company", " \tA & B <Traders>  "}});
    EXPECT_EQ(r.json(),
              (QJsonObject{{"count", 3},
                           {"ledgers", QJsonArray{QJsonObject{{"ledger", "Petty Box"}, {"group", "Cash-in-Hand"}, {"closing_balance", "-1500.00"}},
                                                  QJsonObject{{"ledger", "Kelvar Steels"}, {"group", "Sundry Debtors"},
                                                              {"closing_balance", "25000.00"}, {"gstin", "24AAQFK1234A1Z5"}},
                                                  QJsonObject{{"ledger", "Cash"}, {"group", ""}, {"closing_balance", ""}}}}}));
    EXPECT_EQ(sent()[0],
              "<ENVELOPE><HEADER><VERSION>1</VERSION><TALLYREQUEST>Export</TALLYREQUEST><TYPE>Collection</TYPE><ID>Ledgers"
              "</ID></HEADER><BODY><DESC><STATICVARIABLES><SVEXPORTFORMAT>$$SysName:XML</SVEXPORTFORMAT>"
              "<SVCURRENTCOMPANY>A &amp; B &lt;Traders&gt;</SVCURRENTCOMPANY></STATICVARIABLES><TDL><TDLMESSAGE>"
              "<COLLECTION NAME=\"Ledgers\" ISMODIFY=\"No\" ISFIXED=\"No\"><TYPE>Ledger</TYPE><NATIVEMETHOD>NAME"
              "</NATIVEMETHOD><NATIVEMETHOD>PARENT</NATIVEMETHOD><NATIVEMETHOD>CLOSINGBALANCE</NATIVEMETHOD>"
              "<NATIVEMETHOD>PARTYGSTIN</NATIVEMETHOD></COLLECTION></TDLMESSAGE></TDL></DESC></BODY></ENVELOPE>");

    // The search matches the group as well as the name.
    r = run("tally_ledgers", {{"search", "CASH"}});
    EXPECT_EQ(r.json()["count"], 2);
    EXPECT_EQ(r.json()["ledgers"][0]["ledger"], "Petty Box");

    QByteArray many = "<ENVELOPE>";
    for (int i = 0; i < 1005; ++i)
        many += "<LEDGER><NAME>L" + QByteArray::number(i) + "</NAME></LEDGER>";
    answer("Ledgers", many + "</ENVELOPE>");
    const std::pair<QJsonValue, int> limits[] = {{QJsonValue(), 100}, {0, 1}, {5000, 1000}, {"5", 100}, {7, 7}};
    for (const auto &[limit, count] : limits) {
        QJsonObject args;
        if (!limit.isUndefined() && !limit.isNull())
            args.insert("limit", limit);
        EXPECT_EQ(run("tally_ledgers", args).json()["count"], count) << QJsonDocument(args).toJson().toStdString();
    }
}

TEST_F(TallyTest, VouchersNeedBothDatesInAFormTallyCannotMisread)
{
    struct Case {
        QJsonObject args;
        const char *answer;
    };
    const Case cases[] = {
        {{{"from", "2024-04-01"}}, "from and to dates are required (YYYY-MM-DD)."},
        {{{"from", "2024-04-01"}, {"to", 20240430}}, "from and to dates are required (YYYY-MM-DD)."},
        {{{"from", "01/04/2024"}, {"to", "2024-04-30"}},
         "from has to be a date written YYYY-MM-DD, like 2024-04-01 (\"01/04/2024\" is not). Nothing was asked of Tally."},
        {{{"from", "2024-04-01"}, {"to", "2024-02-30"}},
         "to has to be a date written YYYY-MM-DD, like 2024-04-01 (\"2024-02-30\" is not). Nothing was asked of Tally."},
        {{{"from", ""}, {"to", "2024-04-30"}},
         "from has to be a date written YYYY-MM-DD, like 2024-04-01 (\"\" is not). Nothing was asked of Tally."},
    };
    for (const Case &c : cases) {
        const Reply r = run("tally_vouchers", c.args);
        EXPECT_TRUE(r.isError);
        EXPECT_EQ(r.text, QString::fromUtf8(c.answer));
    }
    const Reply tb = run("tally_trial_balance", {{"to", "1-4-2024"}});
    EXPECT_TRUE(tb.isError);
    EXPECT_TRUE(tb.text.startsWith("to has to be a date written YYYY-MM-DD"));
    EXPECT_TRUE(tally->requests().isEmpty());
}

TEST_F(TallyTest, TheDayBookIsAskedForExactlyAndShapedPerVoucher)
{
    answer("DayBook",
           "<ENVELOPE><VOUCHER REMOTEID=\"1\" VCHTYPE=\"Sales\"><DATE>20240402</DATE><VOUCHERTYPENAME>Sales"
           "</VOUCHERTYPENAME><VOUCHERNUMBER>S-1</VOUCHERNUMBER><PARTYLEDGERNAME>Kelvar Steels</PARTYLEDGERNAME>"
           "<PARTYNAME>Kelvar</PARTYNAME><AMOUNT>-11800.00</AMOUNT><NARRATION>Bill&#13;&#10;1</NARRATION></VOUCHER>"
           "<VOUCHER><DATE>20240405</DATE><VOUCHERTYPENAME>Payment</VOUCHERTYPENAME><PARTYNAME>Rent &apos;April&apos;"
           "</PARTYNAME></VOUCHER></ENVELOPE>");
    Reply r = run("tally_vouchers", {{"company", "A & B Traders"}, {"from", "2024-04-01"}, {"to", "20240430"}});
    EXPECT_FALSE(r.isError);
    EXPECT_EQ(sent()[0],
              "<ENVELOPE><HEADER><VERSION>1</VERSION><TALLYREQUEST>Export</TALLYREQUEST><TYPE>Data</TYPE><ID>DayBook</ID>"
              "</HEADER><BODY><DESC><STATICVARIABLES><SVEXPORTFORMAT>$$SysName:XML</SVEXPORTFORMAT><SVCURRENTCOMPANY>A "
              "&amp; B Traders</SVCURRENTCOMPANY><SVFROMDATE>20240401</SVFROMDATE><SVTODATE>20240430</SVTODATE>"
              "</STATICVARIABLES></DESC></BODY></ENVELOPE>");
    EXPECT_EQ(r.json(),
              (QJsonObject{{"from", "2024-04-01"},
                           {"to", "20240430"},
                           {"count", 2},
                           {"vouchers", QJsonArray{QJsonObject{{"date", "20240402"}, {"type", "Sales"}, {"number", "S-1"},
                                                               {"party", "Kelvar Steels"}, {"amount", "-11800.00"},
                                                               {"narration", "Bill  1"}},
                                                   QJsonObject{{"date", "20240405"}, {"type", "Payment"}, {"number", ""},
                                                               {"party", "Rent 'April'"}, {"amount", ""},
                                                               {"narration", ""}}}}}));
    EXPECT_EQ(run("tally_vouchers", {{"from", "2024-04-01"}, {"to", "2024-04-30"}, {"limit", 1}}).json()["count"], 1);

    answer("DayBook", "<ENVELOPE></ENVELOPE>");
    r = run("tally_vouchers", {{"from", "2024-05-01"}, {"to", "2024-05-31"}});
    EXPECT_FALSE(r.isError);
    EXPECT_EQ(r.text, "Tally returned no vouchers between 2024-05-01 and 2024-05-31. Check the dates and that the right "
                      "company is open.");
}

TEST_F(TallyTest, TheTrialBalancePairsAmountsWithinEachGroupsRow)
{
    // Capital has no debit; the old reading by position would have lent it
    // Loans' debit and shifted every later row.
    answer("Trial Balance",
           "<ENVELOPE><DSPACCNAME><DSPDISPNAME>Capital Account</DSPDISPNAME></DSPACCNAME><DSPACCINFO>"
           "<DSPCLCRAMT>500000.00</DSPCLCRAMT></DSPACCINFO>"
           "<DSPACCNAME><DSPDISPNAME>Loans &amp; Advances</DSPDISPNAME></DSPACCNAME><DSPACCINFO><DSPCLDRAMT>-20000.00"
           "</DSPCLDRAMT><DSPCLCRAMT></DSPCLCRAMT></DSPACCINFO>"
           "<DSPACCNAME><DSPDISPNAME></DSPDISPNAME></DSPACCNAME><DSPACCINFO><DSPCLDRAMT>1</DSPCLDRAMT></DSPACCINFO>"
           "<DSPACCNAME><DSPDISPNAME>Sales Accounts</DSPDISPNAME></DSPACCNAME><DSPACCINFO><DSPCLDRAMT></DSPCLDRAMT>"
           "<DSPCLCRAMT>480000.00</DSPCLCRAMT></DSPACCINFO></ENVELOPE>");
    const Reply r = run("tally_trial_balance");
    EXPECT_FALSE(r.isError);
    EXPECT_EQ(r.json(),
              (QJsonObject{{"count", 3},
                           {"trial_balance",
                            QJsonArray{QJsonObject{{"group", "Capital Account"}, {"debit", ""}, {"credit", "500000.00"}},
                                       QJsonObject{{"group", "Loans & Advances"}, {"debit", "-20000.00"}, {"credit", ""}},
                                       QJsonObject{{"group", "Sales Accounts"}, {"debit", ""}, {"credit", "480000.00"}}}}}));
    // Without dates Tally's own period applies.
    EXPECT_EQ(sent()[0],
              "<ENVELOPE><HEADER><VERSION>1</VERSION><TALLYREQUEST>Export</TALLYREQUEST><TYPE>Data</TYPE><ID>Trial "
              "Balance</ID></HEADER><BODY><DESC><STATICVARIABLES><SVEXPORTFORMAT>$$SysName:XML</SVEXPORTFORMAT>"
              "</STATICVARIABLES></DESC></BODY></ENVELOPE>");

    answer("Trial Balance", "<ENVELOPE><DSPCLDRAMT>5</DSPCLDRAMT></ENVELOPE>");
    const Reply empty = run("tally_trial_balance", {{"from", "2024-04-01"}});
    EXPECT_FALSE(empty.isError);
    EXPECT_EQ(empty.text, "Tally answered but the trial balance came back empty. Check the company and the period.");
    EXPECT_TRUE(sent()[1].contains("<SVFROMDATE>20240401</SVFROMDATE></STATICVARIABLES>"));
}

const QString kVoucher = QStringLiteral(
    "<VOUCHER VCHTYPE=\"Receipt\"><DATE>20240410</DATE><VOUCHERTYPENAME>Receipt</VOUCHERTYPENAME>"
    "<ALLLEDGERENTRIES.LIST><LEDGERNAME>Kelvar Steels</LEDGERNAME><AMOUNT>25000.00</AMOUNT></ALLLEDGERENTRIES.LIST>"
    "</VOUCHER>");

TEST_F(TallyTest, AVoucherIsSentOnlyAfterTheCaApprovesTheExactXml)
{
    // Refused before any dialog.
    struct Case {
        QJsonObject args;
        const char *answer;
    };
    const Case refused[] = {
        {{{"summary", "s"}}, "voucher_xml is required."},
        {{{"voucher_xml", " \n "}, {"summary", "s"}}, "voucher_xml is required."},
        {{{"voucher_xml", kVoucher}, {"summary", " \t "}}, "summary is required: the CA has to read what they are approving."},
        {{{"voucher_xml", "<voucher/>"}, {"summary", "s"}}, "voucher_xml has to be one <VOUCHER>\u2026</VOUCHER> element."},
    };
    for (const Case &c : refused) {
        const Reply r = run("tally_import_voucher", c.args);
        EXPECT_TRUE(r.isError);
        EXPECT_EQ(r.text, QString::fromUtf8(c.answer));
    }

    const QJsonObject args{{"company", "  A & B Traders "}, {"voucher_xml", "\n" + kVoucher + "\n"},
                           {"summary", " Receipt of 25,000 from Kelvar Steels "}};
    {
        DialogAnswers answers;
        answers.confirm(false);
        const Reply r = run("tally_import_voucher", args);
        EXPECT_FALSE(r.isError);
        EXPECT_EQ(r.text, "The CA did not approve the voucher. Nothing was written to Tally.");
        ASSERT_EQ(answers.shownConfirms.size(), 1u);
        const Dialogs::Confirm &shown = answers.shownConfirms[0];
        EXPECT_EQ(shown.title, "Write this voucher into A & B Traders?");
        EXPECT_EQ(shown.text, "Receipt of 25,000 from Kelvar Steels\n\nThis is exactly what will be sent to Tally. "
                              "Tally has no undo, so read it before you approve.");
        EXPECT_EQ(shown.detail, kVoucher);
        EXPECT_EQ(shown.approve, "Write it");
        EXPECT_EQ(shown.cancel, "Cancel");
        EXPECT_EQ(shown.style, Dialogs::Style::Warning);
    }
    EXPECT_TRUE(tally->requests().isEmpty());

    answer("Vouchers", "<RESPONSE><CREATED>1</CREATED><ALTERED>0</ALTERED><LASTVCHID>123</LASTVCHID><ERRORS>0</ERRORS>"
                       "</RESPONSE>");
    DialogAnswers answers;
    answers.confirm(true);
    const Reply r = run("tally_import_voucher", args);
    EXPECT_FALSE(r.isError) << r.text.toStdString();
    EXPECT_EQ(r.text, "{\n    \"created\": \"1\",\n    \"note\": \"Written to Tally. Tally has no undo \u2014 check it in "
                      "the day book.\",\n    \"voucher_id\": \"123\"\n}");
    ASSERT_EQ(sent().size(), 1);
    EXPECT_EQ(sent()[0], "<ENVELOPE><HEADER><VERSION>1</VERSION><TALLYREQUEST>Import</TALLYREQUEST><TYPE>Data</TYPE>"
                         "<ID>Vouchers</ID></HEADER><BODY><DESC><STATICVARIABLES><SVCURRENTCOMPANY>A &amp; B Traders"
                         "</SVCURRENTCOMPANY></STATICVARIABLES></DESC><DATA><TALLYMESSAGE>" +
                             kVoucher + "</TALLYMESSAGE></DATA></BODY></ENVELOPE>");
}

TEST_F(TallyTest, ARefusedOrEmptyImportQuotesTallysReply)
{
    const QString padding(700, QLatin1Char('x'));
    struct Case {
        QString reply;
        QString start;
    };
    const Case cases[] = {
        {"<RESPONSE><CREATED>0</CREATED><ERRORS>1</ERRORS><EXCEPTIONS>0</EXCEPTIONS><LINEERROR>Ledger 'Kelvar' does "
         "not exist!</LINEERROR>" + padding + "</RESPONSE>",
         "Tally refused the voucher (1 error(s), 0 exception(s)). Nothing was created. Its reply: "},
        {"<RESPONSE><CREATED>0</CREATED><ERRORS>0</ERRORS>" + padding + "</RESPONSE>",
         "Tally created nothing and reported no error, which usually means the voucher type or a ledger name does not "
         "exist in this company. Its reply: "},
        {"<RESPONSE>" + padding + "</RESPONSE>",
         "Tally created nothing and reported no error, which usually means the voucher type or a ledger name does not "
         "exist in this company. Its reply: "},
    };
    for (const Case &c : cases) {
        answer("Vouchers", c.reply.toUtf8());
        DialogAnswers answers;
        answers.confirm(true);
        const Reply r = run("tally_import_voucher", {{"voucher_xml", kVoucher}, {"summary", "s"}});
        EXPECT_TRUE(r.isError);
        EXPECT_EQ(r.text, c.start + c.reply.left(600));
        EXPECT_EQ(answers.shownConfirms[0].title, "Write this voucher into Tally?");
    }
}

TEST_F(TallyTest, TallyDownOrFailingIsOneSentence)
{
    answer("List of Companies", "<ENVELOPE/>", 500);
    Reply r = run("tally_status");
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, "Tally answered HTTP 500.");

    // Latin-1 when the reply is not UTF-8.
    answer("List of Companies", "<NAME>Caf\xe9 Traders</NAME>");
    r = run("tally_status");
    EXPECT_EQ(r.json()["companies"], (QJsonArray{QString::fromUtf8("Caf\u00e9 Traders")}));

    quint16 closed = 0;
    {
        FakeHttpServer gone;
        closed = gone.port();
    }
    qputenv("VELTO_TALLY_PORT", QByteArray::number(closed));
    r = run("tally_ledgers");
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, "Tally is not answering on this computer. Ask the CA to open Tally Prime with the company "
                      "loaded, and to switch on F1 \u2192 Features \u2192 Enable ODBC/HTTP (port 9000). Velto only "
                      "talks to a Tally running here; it cannot reach one on another machine.");
    r = run("tally_export");
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, "Unknown Tally tool: tally_export");
}

// A Tally (or something on its port) that streams a ledger list without end,
// one that never finishes, and one that cuts its answer short: each is an
// error, never an empty list read from what arrived.
TEST_F(TallyTest, AnAnswerCutOffOrUnfinishedIsNeverAnEmptyList)
{
    const qint64 savedMax = TallyTools::maxReply;
    const double savedTimeout = TallyTools::timeout;
    TallyTools::maxReply = 256 * 1024;
    FakeReply endless = FakeReply::text("<ENVELOPE><LEDGER NAME=\"x\"></LEDGER>");
    endless.chunked = true;
    endless.endless = true;
    {
        QMutexLocker locked(lock.get());
        byId->insert("Ledgers", endless);
    }
    Reply r = run("tally_ledgers");
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, "Tally's answer was cut off: the answer was larger than 256 KB, the most Velto takes from it; "
                      "it was cut off. Nothing of it was read; ask for a shorter period or one company.");

    Dispatch::timeScale = 0.01;
    TallyTools::timeout = 50; // 0.5 s here
    FakeReply trickle = FakeReply::text(QByteArray(10000, ' '));
    trickle.trickleMs = 20;
    {
        QMutexLocker locked(lock.get());
        byId->insert("Ledgers", trickle);
    }
    r = run("tally_ledgers");
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, "Tally did not finish answering in time (50 s). Ask the CA whether Tally is busy or showing a "
                      "message, then try again.");
    Dispatch::timeScale = 1.0;
    TallyTools::timeout = savedTimeout;
    TallyTools::maxReply = savedMax;

    FakeReply cut = FakeReply::text("<ENVELOPE>");
    cut.headers.append(Header{"Content-Length", "4000"});
    {
        QMutexLocker locked(lock.get());
        byId->insert("Ledgers", cut);
        byId->insert("Vouchers", cut);
    }
    r = run("tally_ledgers");
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, "Tally's connection closed before its whole answer arrived.");

    // A voucher sent whose answer was lost may be in Tally already.
    DialogAnswers answers;
    answers.confirm(true);
    r = run("tally_import_voucher", {{"voucher_xml", kVoucher}, {"summary", "Receipt"}});
    EXPECT_TRUE(r.isError);
    EXPECT_EQ(r.text, "Tally's connection closed before its whole answer arrived. The voucher was sent and may have "
                      "been written: check Tally's day book before trying again.");
}

TEST(TallyXml, DatesEscapesAndScanners)
{
    const std::pair<const char *, const char *> dates[] = {
        {"2024-04-01", "20240401"}, {"1-4-2024", "1-4-2024"}, {"01/04/2024", "01042024"}, {"", ""}};
    for (const auto &[in, out] : dates)
        EXPECT_EQ(TallyTools::tallyDate(in), out) << in;
    const std::pair<const char *, bool> accepted[] = {
        {"2024-04-01", true}, {"20240401", true},    {"01/04/2024", false}, {"01042024", false},
        {"2024-4-1", false},  {"2024-02-30", false}, {" 2024-04-01", false}, {"", false}};
    for (const auto &[in, ok] : accepted)
        EXPECT_EQ(TallyTools::acceptedDate(in), ok) << in;

    const std::pair<const char *, const char *> unescaped[] = {
        {"&amp;lt;", "&lt;"},   {"A &amp; B", "A & B"},      {"&#4;", ""},
        {"&quot;x&quot;", "\"x\""}, {"a&#13;&#10;b", "a  b"}, {"  &lt;x&gt; \n", "<x>"}};
    for (const auto &[in, out] : unescaped)
        EXPECT_EQ(TallyTools::unescape(in), out) << in;

    EXPECT_EQ(TallyTools::values("<NAME> One </NAME><X/><NAME>Two &amp; Co</NAME><NAME TYPE=\"s\">3</NAME>", "NAME"),
              (QStringList{"One", "Two & Co"}));
    EXPECT_EQ(TallyTools::values("<NAME>open only", "NAME"), QStringList());
    EXPECT_EQ(TallyTools::blocks("<VOUCHER A=\"1\"><VOUCHERTYPENAME>Sales</VOUCHERTYPENAME></VOUCHER>x<VOUCHER>b"
                                 "</VOUCHER>",
                                 "VOUCHER"),
              (QStringList{"<VOUCHER A=\"1\"><VOUCHERTYPENAME>Sales</VOUCHERTYPENAME></VOUCHER>", "<VOUCHER>b</VOUCHER>"}));
    EXPECT_EQ(TallyTools::blocks("<VOUCHER>a</VOUCHER><VOUCHER>b</VOUCHER><VOUCHER>c</VOUCHER>", "VOUCHER", 2),
              (QStringList{"<VOUCHER>a</VOUCHER>", "<VOUCHER>b</VOUCHER>"}));
    EXPECT_EQ(TallyTools::blocks("<VOUCHER>a</VOUCHER>", "VOUCHER", 0), QStringList());
    // A date given empty still writes its element.
    EXPECT_TRUE(TallyTools::report("DayBook", std::nullopt, QString(""), std::nullopt)
                    .contains("<SVFROMDATE></SVFROMDATE></STATICVARIABLES>"));
}

TEST(TallyDefinitions, FiveToolsInTheirOrder)
{
    QStringList names;
    const QJsonArray tools = TallyTools::definitions(&Tool::obj);
    for (const QJsonValue &t : tools)
        names << t["name"].toString();
    EXPECT_EQ(names, (QStringList{"tally_status", "tally_ledgers", "tally_vouchers", "tally_trial_balance",
                                  "tally_import_voucher"}));
    EXPECT_EQ(tools[2]["inputSchema"]["required"].toArray(), (QJsonArray{"from", "to"}));
    EXPECT_EQ(tools[4]["inputSchema"]["properties"]["voucher_xml"]["description"],
              QString::fromUtf8("one <VOUCHER>\u2026</VOUCHER> element"));
}

} // namespace
