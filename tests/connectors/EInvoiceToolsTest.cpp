// The five e-invoice tools: their descriptors, answers and refusals, and the
// CA's approval of every report and cancellation.
#include "EInvoiceFixture.h"

#include <QFile>
#include <QFileInfo>

using TestKit::DialogAnswers;

namespace {

const QString kNotSetUp = QStringLiteral(
    "e-invoicing is not set up. The CA registers for API access against their own GSTIN on the e-invoice portal (or "
    "through their GSP), then connects it with einvoice_connect: GSTIN, the API user name and password, the client id "
    "and secret, and NIC's public key. It starts on NIC's sandbox — production has to be asked for by name.");
const QString kConnectNeeds = QStringLiteral(
    "gstin (15 characters), username, password, client_id, client_secret and nic_public_key (PEM) are all required.");

const QJsonObject kInvoice{{"Version", "1.1"},
                           {"DocDtls", QJsonObject{{"Typ", "INV"}, {"No", "INV/0042"}, {"Dt", "10/12/2026"}}},
                           {"ValDtls", QJsonObject{{"TotInvVal", 118000}}}};

QString secretOf(const char *account)
{
    return SecretStore::get(EInvoiceTools::SERVICE, account).value_or("(none)");
}

class EInvoiceToolsTest : public EInvoiceTest {};

TEST_F(EInvoiceToolsTest, DescribesFiveToolsInOrder)
{
    EXPECT_EQ(EInvoiceTools::names(), (QSet<QString>{"einvoice_status", "einvoice_connect", "einvoice_get",
                                                     "einvoice_generate", "einvoice_cancel"}));
    const QJsonArray defs = EInvoiceTools::definitions(&Tool::obj);
    QStringList names;
    for (const QJsonValue &d : defs)
        names << d["name"].toString();
    EXPECT_EQ(names, (QStringList{"einvoice_status", "einvoice_connect", "einvoice_get", "einvoice_generate",
                                  "einvoice_cancel"}));
    EXPECT_EQ(defs[0]["inputSchema"], (QJsonObject{{"type", "object"}, {"properties", QJsonObject()}}));
    EXPECT_EQ(defs[1]["description"],
              "Set up e-invoicing with the firm's own IRP API credentials. The password, client secret and NIC public "
              "key go to the system keyring. Ask the CA for these — never invent them. Defaults to NIC's sandbox; "
              "production must be asked for by name.");
    EXPECT_EQ(defs[1]["inputSchema"]["required"],
              (QJsonArray{"gstin", "username", "password", "client_id", "client_secret", "nic_public_key"}));
    EXPECT_EQ(defs[1]["inputSchema"]["properties"]["environment"],
              (QJsonObject{{"type", "string"},
                           {"description", "sandbox unless the CA says production"},
                           {"enum", QJsonArray{"sandbox", "production"}}}));
    EXPECT_FALSE(defs[2]["inputSchema"].toObject().contains("required"));
    EXPECT_EQ(defs[3]["inputSchema"]["properties"]["invoice"]["type"], "object");
    EXPECT_EQ(defs[4]["inputSchema"]["properties"]["reason_code"]["enum"], (QJsonArray{"1", "2", "3", "4"}));
    EXPECT_EQ(defs[4]["inputSchema"]["required"], (QJsonArray{"irn", "reason_code"}));
}

TEST_F(EInvoiceToolsTest, WithoutARecordEveryToolButConnectSaysHowToSetUp)
{
    for (const char *name : {"einvoice_status", "einvoice_get", "einvoice_generate", "einvoice_cancel"}) {
        const ToolAnswer a = run(name, {{"irn", "x"}, {"reason_code", "1"}});
        EXPECT_EQ(a.text, kNotSetUp) << name;
        EXPECT_TRUE(a.isError) << name;
    }
    const ToolAnswer unknown = run("einvoice_delete");
    EXPECT_EQ(unknown.text, "Unknown e-invoice tool: einvoice_delete");
    EXPECT_TRUE(unknown.isError);
    EXPECT_TRUE(irp->server.requests().isEmpty());
}

TEST_F(EInvoiceToolsTest, ConnectStoresTheSecretsApartFromTheRecord)
{
    QJsonObject args = credentials("");
    args["gstin"] = " \t29aaach1234k1z5\u00a0";
    args["username"] = "  velto_api ";
    args["client_id"] = "\tAAACH29TXPV2ZR5 ";
    args["password"] = " spaced pass ";
    const ToolAnswer a = run("einvoice_connect", args);
    ASSERT_FALSE(a.isError) << a.text.toStdString();
    EXPECT_EQ(a.json(), (QJsonObject{{"connected", "29AAACH1234K1Z5"},
                                     {"environment", "sandbox"},
                                     {"endpoint", irp->base()},
                                     {"note", "NIC's sandbox. Run a real invoice through it before switching to production."}}));

    const QByteArray file = TestKit::readFile(VELTO_HOME + "/einvoice.json");
    const QJsonObject record = QJsonDocument::fromJson(file).object();
    EXPECT_EQ(record.keys(), (QStringList{"clientId", "environment", "gstin", "updated", "username"}));
    EXPECT_EQ(record["gstin"], "29AAACH1234K1Z5");
    EXPECT_EQ(record["username"], "velto_api");
    EXPECT_EQ(record["clientId"], "AAACH29TXPV2ZR5");
    EXPECT_NEAR(record["updated"].toDouble(), QDateTime::currentMSecsSinceEpoch() / 1000.0, 60);
    for (const char *secret : {"spaced pass", "cs-9f8e7d6c5b4a", "BEGIN PUBLIC KEY"})
        EXPECT_FALSE(file.contains(secret)) << secret;

    EXPECT_EQ(secretOf("password"), " spaced pass ");
    EXPECT_EQ(secretOf("client_secret"), "cs-9f8e7d6c5b4a");
    EXPECT_EQ(secretOf("nic_public_key"), QString::fromLatin1(irp->rsa().publicPem));
    EXPECT_FALSE(a.text.contains("cs-9f8e7d6c5b4a") || a.text.contains("spaced pass"));
    // Connecting tries nothing against the IRP.
    EXPECT_TRUE(irp->server.requests().isEmpty());

    const ToolAnswer status = run("einvoice_status");
    EXPECT_FALSE(status.isError);
    EXPECT_EQ(status.json(), (QJsonObject{{"gstin", "29AAACH1234K1Z5"},
                                          {"environment", "sandbox"},
                                          {"endpoint", irp->base()},
                                          {"note", "Pointed at NIC's sandbox. Nothing here has any legal effect."}}));
}

TEST_F(EInvoiceToolsTest, OnlyProductionByNameIsLive)
{
    for (const QJsonValue &environment : {QJsonValue("Production"), QJsonValue(true), QJsonValue("live")}) {
        QJsonObject args = credentials("");
        args["environment"] = environment;
        EXPECT_EQ(run("einvoice_connect", args).json()["environment"], "sandbox");
    }
    const ToolAnswer live = run("einvoice_connect", credentials("production"));
    EXPECT_EQ(live.json()["note"], "Live IRP. This connector has never been run against one — try the sandbox first.");
    const ToolAnswer status = run("einvoice_status");
    EXPECT_EQ(status.json()["environment"], "production");
    EXPECT_EQ(status.json()["note"], "Pointed at the live IRP. An IRN generated here is real.");
}

TEST_F(EInvoiceToolsTest, ConnectRefusesIncompleteCredentialsAndStoresNothing)
{
    struct Case {
        const char *key;
        QJsonValue value;
    };
    const QList<Case> cases{
        {"gstin", "29AAACH1234K1Z"},            // 14 characters
        {"gstin", "29AAACH1234K1Z55"},          // 16
        {"gstin", QJsonValue(29)},              // not text
        {"gstin", "29AAACH1234\r\nZ5"},         // a line break would split the header
        {"username", "   "},
        {"password", ""},
        {"client_id", QJsonValue()},
        {"client_secret", ""},
        {"client_secret", "cs\nX-Other: 1"},
        {"nic_public_key", "MIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKCAQEA"},  // no "-----"
    };
    for (const Case &c : cases) {
        QJsonObject args = credentials();
        if (c.value.isNull())
            args.remove(c.key);
        else
            args[c.key] = c.value;
        const ToolAnswer a = run("einvoice_connect", args);
        EXPECT_EQ(a.text, kConnectNeeds) << c.key;
        EXPECT_TRUE(a.isError);
    }
    EXPECT_FALSE(QFileInfo::exists(VELTO_HOME + "/einvoice.json"));
    EXPECT_EQ(secretOf("password"), "(none)");
}

TEST_F(EInvoiceToolsTest, ConnectSaysSoWhenTheKeyringOrTheFileFails)
{
    // The keyring refuses the second item: the first stays, no record is written.
    const auto realSet = SecretStore::set;
    SecretStore::set = [realSet](const QString &s, const QString &a, const QString &v) {
        return a == "client_secret" ? false : realSet(s, a, v);
    };
    ToolAnswer a = run("einvoice_connect", credentials());
    SecretStore::set = realSet;
    EXPECT_EQ(a.text, "Could not put the credentials in the system keyring, so nothing was connected.");
    EXPECT_TRUE(a.isError);
    EXPECT_FALSE(QFileInfo::exists(VELTO_HOME + "/einvoice.json"));

    // The record cannot be written: no "connected", and an old record stays.
    connectTo();
    const QByteArray before = TestKit::readFile(VELTO_HOME + "/einvoice.json");
    const auto realPath = EInvoiceTools::indexPath;
    EInvoiceTools::indexPath = [this] { return home->file("no-such-folder/einvoice.json"); };
    a = run("einvoice_connect", credentials("production"));
    EInvoiceTools::indexPath = realPath;
    EXPECT_EQ(a.text, "Could not save the connection.");
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(TestKit::readFile(VELTO_HOME + "/einvoice.json"), before);
}

TEST_F(EInvoiceToolsTest, GetByIrnSendsItAsOnePathSegment)
{
    connectTo();
    irp->onCall([this](const FakeIrp::Request &, const std::optional<QJsonObject> &) {
        return irp->sealed(QJsonObject{{"Irn", "a1b2"}, {"Status", "ACT"}, {"SignedQRCode", "eyJ/x"}});
    });
    struct Case {
        QString irn;
        QString path;
    };
    for (const Case &c : {Case{"  a1b2c3\t", "/eivital/v1.04/Invoice/irn/a1b2c3"},
                          Case{"../../auth?x=1#y", "/eivital/v1.04/Invoice/irn/..%2F..%2Fauth%3Fx%3D1%23y"},
                          Case{"with space", "/eivital/v1.04/Invoice/irn/with%20space"}}) {
        irp->server.clearRequests();
        const ToolAnswer a = run("einvoice_get", {{"irn", c.irn}});
        EXPECT_FALSE(a.isError) << a.text.toStdString();
        const auto calls = irp->calls();
        ASSERT_EQ(calls.size(), 1) << c.irn.toStdString();
        EXPECT_EQ(calls[0].method, "GET");
        EXPECT_EQ(calls[0].path, c.path);
        EXPECT_EQ(calls[0].query, "");
    }
    // A segment of dots would be folded into the path above it.
    irp->server.clearRequests();
    for (const char *dots : {".", " .. "}) {
        const ToolAnswer a = run("einvoice_get", {{"irn", dots}});
        EXPECT_EQ(a.text, "That irn is not an IRN: it is only dots.");
        EXPECT_TRUE(a.isError);
    }
    EXPECT_TRUE(irp->server.requests().isEmpty());

    // The IRP's object as it gave it, slashes unescaped.
    const ToolAnswer a = run("einvoice_get", {{"irn", "a1b2"}});
    EXPECT_EQ(a.json(), (QJsonObject{{"Irn", "a1b2"}, {"Status", "ACT"}, {"SignedQRCode", "eyJ/x"}}));
    EXPECT_TRUE(a.text.contains("\"eyJ/x\""));
}

TEST_F(EInvoiceToolsTest, GetFallsBackToTheDocumentOrAsksForOne)
{
    connectTo();
    const ToolAnswer a = run("einvoice_get", {{"irn", "   "},
                                              {"document_type", "INV"},
                                              {"document_number", "INV/0042"},
                                              {"document_date", "10/12/2026"}});
    EXPECT_FALSE(a.isError) << a.text.toStdString();
    const auto calls = irp->calls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].path, "/eivital/v1.04/Invoice/irnbydocdetails");
    EXPECT_EQ(calls[0].query, "docdate=10%2F12%2F2026&docnum=INV%2F0042&doctype=INV");

    for (const QJsonObject &args : {QJsonObject{}, QJsonObject{{"document_type", "INV"}, {"document_number", "1"}},
                                    QJsonObject{{"irn", 5}, {"document_type", "INV"}}}) {
        const ToolAnswer refused = run("einvoice_get", args);
        EXPECT_EQ(refused.text, "Give an irn, or document_type with document_number and document_date.");
        EXPECT_TRUE(refused.isError);
    }
    EXPECT_EQ(irp->calls().size(), 1);
}

TEST_F(EInvoiceToolsTest, GenerateRefusesBeforeAskingTheCa)
{
    connectTo();
    // No dialog hook is installed: any dialog would fail the test.
    struct Case {
        QJsonObject args;
        QString text;
    };
    for (const Case &c : {Case{{{"invoice", QJsonObject()}, {"summary", "  "}}, "invoice is required, in NIC's e-invoice schema."},
                          Case{{{"invoice", "{\"Version\":\"1.1\"}"}, {"summary", "x"}}, "invoice is required, in NIC's e-invoice schema."},
                          Case{{{"invoice", kInvoice}, {"summary", " \t "}}, "summary is required: the CA has to read what they are reporting."},
                          Case{{{"invoice", kInvoice}}, "summary is required: the CA has to read what they are reporting."}}) {
        const ToolAnswer a = run("einvoice_generate", c.args);
        EXPECT_EQ(a.text, c.text);
        EXPECT_TRUE(a.isError);
    }
    EXPECT_TRUE(irp->server.requests().isEmpty());
}

TEST_F(EInvoiceToolsTest, GenerateShowsTheCaTheInvoiceAndADeclineSendsNothing)
{
    connectTo();
    DialogAnswers dialogs;
    dialogs.confirm(false);
    const ToolAnswer a = run("einvoice_generate", {{"invoice", kInvoice}, {"summary", " Acme Ltd, 100 chairs, ₹1,18,000 "}});
    EXPECT_EQ(a.text, "The CA did not approve it. Nothing was reported to the IRP.");
    EXPECT_FALSE(a.isError);
    EXPECT_TRUE(irp->server.requests().isEmpty());

    ASSERT_EQ(dialogs.shownConfirms.size(), 1u);
    const Dialogs::Confirm &c = dialogs.shownConfirms[0];
    EXPECT_EQ(c.title, "Report this invoice to NIC's sandbox?");
    EXPECT_EQ(c.text, "Acme Ltd, 100 chairs, ₹1,18,000\n\nThis is NIC's sandbox — it has no legal effect.");
    // The invoice itself in the dialog's box for the exact data.
    EXPECT_EQ(c.detail, QString::fromUtf8(QJsonDocument(kInvoice).toJson()).trimmed());
    EXPECT_TRUE(c.detail.contains("\"No\": \"INV/0042\""));
    EXPECT_EQ(c.approve, "Report it");
    EXPECT_EQ(c.cancel, "Cancel");
    EXPECT_EQ(c.style, Dialogs::Style::Critical);
}

TEST_F(EInvoiceToolsTest, GenerateReportsTheApprovedInvoiceAndAnswersItsIrn)
{
    connectTo("production");
    std::optional<QJsonObject> received;
    irp->onCall([&](const FakeIrp::Request &, const std::optional<QJsonObject> &payload) {
        received = payload;
        return irp->sealed(QJsonObject{{"Irn", "e7f1c0ffee"}, {"AckNo", 112610000042.0}, {"AckDt", "2026-12-11 09:15:00"}});
    });
    DialogAnswers dialogs;
    dialogs.confirm(true);
    const ToolAnswer a = run("einvoice_generate", {{"invoice", kInvoice}, {"summary", "Acme Ltd, ₹1,18,000"}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();
    EXPECT_EQ(a.json(), (QJsonObject{{"irn", "e7f1c0ffee"},
                                     {"ack_no", 112610000042.0},
                                     {"ack_date", "2026-12-11 09:15:00"},
                                     {"signed_qr", ""},
                                     {"environment", "production"},
                                     {"note", "Reported to the live IRP. Give the CA the IRN and the QR for the invoice copy."}}));
    EXPECT_TRUE(a.text.contains("112610000042")) << "the number stays a number";

    const auto calls = irp->calls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].method, "POST");
    EXPECT_EQ(calls[0].path, "/eicore/v1.03/Invoice");
    EXPECT_EQ(received, kInvoice);

    ASSERT_EQ(dialogs.shownConfirms.size(), 1u);
    EXPECT_EQ(dialogs.shownConfirms[0].title, "Report this invoice to the LIVE IRP?");
    EXPECT_EQ(dialogs.shownConfirms[0].text,
              "Acme Ltd, ₹1,18,000\n\nThis is real. An IRN can be cancelled only within 24 hours, and not at all once a "
              "return is filed against it.");
    EXPECT_TRUE(dialogs.shownConfirms[0].detail.startsWith("{"));
}

TEST_F(EInvoiceToolsTest, CancelChecksItsArgumentsBeforeAskingTheCa)
{
    connectTo();
    for (const QJsonObject &args : {QJsonObject{{"irn", "abc"}, {"reason_code", 2}},
                                    QJsonObject{{"irn", "abc"}, {"reason_code", "5"}},
                                    QJsonObject{{"irn", "abc"}, {"reason_code", " 2"}},
                                    QJsonObject{{"irn", "  "}, {"reason_code", "2"}},
                                    QJsonObject{{"reason_code", "1"}}}) {
        const ToolAnswer a = run("einvoice_cancel", args);
        EXPECT_EQ(a.text, "irn and reason_code (1 duplicate, 2 data entry mistake, 3 order cancelled, 4 other) are required.");
        EXPECT_TRUE(a.isError);
    }
    EXPECT_TRUE(irp->server.requests().isEmpty());
}

TEST_F(EInvoiceToolsTest, CancelAsksWithItsOwnButtonAndADeclineSendsNothing)
{
    connectTo();
    DialogAnswers dialogs;
    dialogs.confirm(false);
    const ToolAnswer a = run("einvoice_cancel", {{"irn", " e7f1c0ffee "}, {"reason_code", "2"}});
    EXPECT_EQ(a.text, "The CA did not approve the cancellation. The IRN stands.");
    EXPECT_FALSE(a.isError);
    EXPECT_TRUE(irp->server.requests().isEmpty());
    ASSERT_EQ(dialogs.shownConfirms.size(), 1u);
    const Dialogs::Confirm &c = dialogs.shownConfirms[0];
    EXPECT_EQ(c.title, "Cancel this IRN on NIC's sandbox?");
    EXPECT_EQ(c.text, "");
    EXPECT_EQ(c.detail, "{\n    \"CnlRem\": \"Cancelled by the firm\",\n    \"CnlRsn\": \"2\",\n    \"Irn\": \"e7f1c0ffee\"\n}");
    EXPECT_EQ(c.approve, "Cancel IRN");
    EXPECT_EQ(c.cancel, "Cancel");
    EXPECT_EQ(c.style, Dialogs::Style::Critical);
}

TEST_F(EInvoiceToolsTest, CancelSendsTheApprovedBodyAndWordsTheOutcome)
{
    connectTo();
    QList<std::optional<QJsonObject>> received;
    QList<FakeIrp::Reply> replies{
        irp->sealed(QJsonObject{{"Irn", "e7f1c0ffee"}, {"CancelDate", "2026-12-11 10:00:00"}}),
        irp->sealed(QJsonObject{}),
        FakeIrp::Reply::json(QJsonObject{{"Status", "0"},
                                         {"ErrorDetails", QJsonArray{QJsonObject{{"ErrorCode", "9999"},
                                                                                 {"ErrorMessage", "Invoice is not active"}}}}}),
    };
    irp->onCall([&](const FakeIrp::Request &, const std::optional<QJsonObject> &payload) {
        received.append(payload);
        return replies.takeFirst();
    });
    DialogAnswers dialogs;
    for (int i = 0; i < 3; ++i)
        dialogs.confirm(true);

    ToolAnswer a = run("einvoice_cancel", {{"irn", "e7f1c0ffee"}, {"reason_code", "1"}, {"remarks", ""}});
    EXPECT_FALSE(a.isError);
    EXPECT_EQ(a.json(), (QJsonObject{{"cancelled", "e7f1c0ffee"}, {"cancelled_at", "2026-12-11 10:00:00"}}));

    a = run("einvoice_cancel", {{"irn", "asked-irn"}, {"reason_code", "4"}, {"remarks", 7}});
    EXPECT_EQ(a.json(), (QJsonObject{{"cancelled", "asked-irn"}, {"cancelled_at", ""}}));

    a = run("einvoice_cancel", {{"irn", "old-irn"}, {"reason_code", "3"}, {"remarks", "order withdrawn"}});
    EXPECT_EQ(a.text, "The IRP refused it: 9999 Invoice is not active An IRN older than 24 hours cannot be cancelled — "
                      "a credit note is the way then.");
    EXPECT_TRUE(a.isError);

    ASSERT_EQ(received.size(), 3);
    EXPECT_EQ(received[0], (QJsonObject{{"Irn", "e7f1c0ffee"}, {"CnlRsn", "1"}, {"CnlRem", ""}}));
    EXPECT_EQ(received[1], (QJsonObject{{"Irn", "asked-irn"}, {"CnlRsn", "4"}, {"CnlRem", "Cancelled by the firm"}}));
    EXPECT_EQ(received[2], (QJsonObject{{"Irn", "old-irn"}, {"CnlRsn", "3"}, {"CnlRem", "order withdrawn"}}));
    for (const auto &call : irp->calls()) {
        EXPECT_EQ(call.method, "POST");
        EXPECT_EQ(call.path, "/eicore/v1.03/Invoice/Cancel");
    }
}

TEST_F(EInvoiceToolsTest, ToolAnswersNeverCarryTheSecrets)
{
    connectTo();
    // A hostile IRP that puts the credentials it was sent into its refusal.
    irp->onCall([](const FakeIrp::Request &r, const std::optional<QJsonObject> &) {
        return FakeIrp::Reply::json(QJsonObject{
            {"ErrorDetails", QString::fromUtf8("secret " + r.header("client_secret") + " token " + r.header("AuthToken"))}});
    });
    const ToolAnswer a = run("einvoice_get", {{"irn", "x"}});
    EXPECT_TRUE(a.isError);
    EXPECT_TRUE(a.text.startsWith("The IRP refused it: secret "));
    EXPECT_FALSE(a.text.contains("cs-9f8e7d6c5b4a"));
    EXPECT_FALSE(a.text.contains(FakeIrp::TOKEN));
}

} // namespace
