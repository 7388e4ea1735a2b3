// The sign-in and the signed call against the fake IRP: the exact requests,
// the crypto round trip, and every failure sentence.
#include "EInvoiceFixture.h"
#include "platform/Crypto.h"

#include <QUrlQuery>

namespace {

struct CallResult {
    std::optional<QJsonObject> reply;
    QString error;
};

class EInvoiceCallTest : public EInvoiceTest {
protected:
    EInvoiceConnection conn() const { return *EInvoiceTools::connection(); }

    CallResult signedCall(const QString &path, const QByteArray &method, const std::optional<QJsonValue> &payload = {},
                          const QMap<QString, QString> &query = {})
    {
        auto out = std::make_shared<std::optional<CallResult>>();
        EInvoiceTools::call(conn(), path, method, payload, query,
                            [out](const std::optional<QJsonObject> &reply, const QString &error) {
                                *out = CallResult{reply, error};
                            });
        EXPECT_TRUE(TestKit::waitFor([out] { return out->has_value(); }, 20000));
        return out->value_or(CallResult{std::nullopt, "(no answer)"});
    }
};

TEST_F(EInvoiceCallTest, SignsInWithTheSealedEnvelopeThenCallsWithTheSessionKey)
{
    connectTo();
    const QByteArray appKey = QByteArray("AppKey-made-for-this-sign-in-32b");
    EInvoiceTools::appKeyBytes = [appKey] { return std::optional<QByteArray>(appKey); };
    irp->onCall([this](const FakeIrp::Request &, const std::optional<QJsonObject> &payload) {
        return irp->sealed(QJsonObject{{"Echo", payload.value_or(QJsonObject{{"none", true}})}});
    });

    const CallResult r = signedCall("/eicore/v1.03/Invoice", "POST", QJsonObject{{"Version", "1.1"}});
    ASSERT_TRUE(r.reply) << r.error.toStdString();
    EXPECT_EQ(*r.reply, (QJsonObject{{"Echo", QJsonObject{{"Version", "1.1"}}}}));

    // The sign-in: its headers, and the object the IRP opened with its private key.
    const auto auth = irp->server.requestsTo("/eivital/v1.04/auth");
    ASSERT_EQ(auth.size(), 1);
    EXPECT_EQ(auth[0].method, "POST");
    EXPECT_EQ(auth[0].header("Content-Type"), "application/json");
    EXPECT_EQ(auth[0].header("client_id"), "AAACH29TXPV2ZR5");
    EXPECT_EQ(auth[0].header("client_secret"), "cs-9f8e7d6c5b4a");
    EXPECT_EQ(auth[0].header("gstin"), "29AAACH1234K1Z5");
    EXPECT_EQ(auth[0].json().keys(), QStringList{"Data"});
    EXPECT_EQ(QByteArray::fromBase64(auth[0].json()["Data"].toString().toLatin1()).size(), irp->rsa().bytes);
    ASSERT_EQ(irp->signIns().size(), 1);
    EXPECT_EQ(irp->signIns()[0], (QJsonObject{{"UserName", "velto_api"},
                                              {"Password", "Pa55-word!x"},
                                              {"AppKey", QString::fromLatin1(appKey.toBase64())},
                                              {"ForceRefreshAccessToken", false}}));

    // The business call: six headers, the payload sealed with the session key.
    const auto calls = irp->calls();
    ASSERT_EQ(calls.size(), 1);
    const auto &call = calls[0];
    EXPECT_EQ(call.method, "POST");
    EXPECT_EQ(call.path, "/eicore/v1.03/Invoice");
    EXPECT_EQ(call.query, "");
    EXPECT_EQ(call.header("Content-Type"), "application/json");
    EXPECT_EQ(call.header("client_id"), "AAACH29TXPV2ZR5");
    EXPECT_EQ(call.header("client_secret"), "cs-9f8e7d6c5b4a");
    EXPECT_EQ(call.header("Gstin"), "29AAACH1234K1Z5");
    EXPECT_EQ(call.header("user_name"), "velto_api");
    EXPECT_EQ(call.header("AuthToken"), FakeIrp::TOKEN.toUtf8());
    EXPECT_EQ(call.json().keys(), QStringList{"Data"});
    EXPECT_EQ(irp->opened(call), (QJsonObject{{"Version", "1.1"}}));
}

TEST_F(EInvoiceCallTest, EverySignInUsesAFreshRandomAppKey)
{
    connectTo();
    ASSERT_TRUE(signedCall("/x", "GET").reply);
    ASSERT_TRUE(signedCall("/x", "GET").reply);
    const auto signIns = irp->signIns();
    ASSERT_EQ(signIns.size(), 2);
    const QByteArray first = QByteArray::fromBase64(signIns[0]["AppKey"].toString().toLatin1());
    EXPECT_EQ(first.size(), 32);
    EXPECT_NE(signIns[0]["AppKey"], signIns[1]["AppKey"]);
}

TEST_F(EInvoiceCallTest, QueryIsSortedByNameAndGetHasNoBody)
{
    connectTo();
    ASSERT_TRUE(signedCall("/eivital/v1.04/Invoice/irnbydocdetails", "GET", std::nullopt,
                           {{"doctype", "INV"}, {"docnum", "A&B 1"}, {"docdate", "01/04/2026"}})
                    .reply);
    ASSERT_TRUE(signedCall("/eivital/v1.04/Invoice/irn/abc", "GET").reply);
    const auto calls = irp->calls();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[0].method, "GET");
    EXPECT_EQ(calls[0].query, "docdate=01%2F04%2F2026&docnum=A%26B%201&doctype=INV");
    EXPECT_EQ(calls[0].queryItems().queryItemValue("docnum", QUrl::FullyDecoded), "A&B 1");
    EXPECT_TRUE(calls[0].body.isEmpty());
    EXPECT_EQ(calls[1].query, "");
    EXPECT_TRUE(calls[1].body.isEmpty());
}

TEST_F(EInvoiceCallTest, SignInFailuresSendNothingOrSayWhyTheIrpRefused)
{
    connectTo();
    // Sign-in failures that leave nothing sent.
    EInvoiceTools::appKeyBytes = [] { return std::optional<QByteArray>(); };
    EXPECT_EQ(signedCall("/x", "GET").error, "Could not make a fresh key for the IRP sign-in, so nothing was sent.");
    EInvoiceTools::appKeyBytes = &EInvoiceTools::randomKey;

    // A password too long for PKCS#1 v1.5 under NIC's key.
    SecretStore::set(EInvoiceTools::SERVICE, "password", QString(irp->rsa().bytes, 'p'));
    EXPECT_EQ(signedCall("/x", "GET").error,
              "Could not encrypt the sign-in for the IRP. Check that NIC's public key is the one they publish, in PEM "
              "form.");
    SecretStore::remove(EInvoiceTools::SERVICE, "password");
    EXPECT_EQ(signedCall("/x", "GET").error,
              "The e-invoicing credentials are not in the system keyring any more. Connect again with einvoice_connect.");
    EXPECT_TRUE(irp->server.requests().isEmpty());
}

TEST_F(EInvoiceCallTest, SignInRepliesAreReadOrWorded)
{
    connectTo();
    struct Case {
        const char *label;
        FakeIrp::Reply reply;
        QString error;
    };
    const QJsonObject twoErrors{{"Status", "0"},
                                {"ErrorDetails", QJsonArray{QJsonObject{{"ErrorCode", "X1"}, {"ErrorMessage", "bad value"}},
                                                            QJsonObject{{"error_message", "second"}}}}};
    const QList<Case> cases{
        {"text 502", FakeIrp::Reply::text("Bad Gateway", 502), "The IRP answered HTTP 502 with something Velto could not read."},
        {"json array", FakeIrp::Reply::json(QJsonDocument(QJsonArray{1})), "The IRP answered HTTP 200 with something Velto could not read."},
        {"two errors", FakeIrp::Reply::json(twoErrors, 401), "The IRP refused the sign-in: X1 bad value; second"},
        {"no Data", FakeIrp::Reply::json(QJsonObject{{"Status", "1"}}), "The IRP refused the sign-in: status 1"},
        {"Sek not sealed with the app key",
         FakeIrp::Reply::json(QJsonObject{{"Status", "1"},
                                          {"Data", QJsonObject{{"AuthToken", "t"}, {"Sek", QString(QByteArray(20, 'A').toBase64())}}}}),
         "The IRP refused the sign-in: status 1"},
        {"Sek not Base64",
         FakeIrp::Reply::json(QJsonObject{{"Data", QJsonObject{{"AuthToken", "t"}, {"Sek", "***"}}}}),
         "The IRP refused the sign-in: no reason given"},
    };
    for (const Case &c : cases) {
        irp->onSignIn([reply = c.reply](const FakeIrp::Request &) { return std::optional<FakeIrp::Reply>(reply); });
        EXPECT_EQ(signedCall("/x", "GET").error, c.error) << c.label;
    }
    EXPECT_TRUE(irp->calls().isEmpty());

    FakeIrp::Reply drop;
    drop.drop = true;
    irp->onSignIn([drop](const FakeIrp::Request &) { return std::optional<FakeIrp::Reply>(drop); });
    EXPECT_TRUE(signedCall("/x", "GET").error.startsWith("The connection to the IRP failed before its whole answer arrived: "));
}

TEST_F(EInvoiceCallTest, BusinessRepliesAreOpenedOrWorded)
{
    connectTo();
    struct Case {
        const char *label;
        FakeIrp::Reply reply;
        QString error;
    };
    const QList<Case> cases{
        {"html", FakeIrp::Reply::text("<html>down</html>", 503), "The IRP answered HTTP 503 with something Velto could not read."},
        {"refusal",
         FakeIrp::Reply::json(QJsonObject{{"Status", "0"},
                                          {"ErrorDetails", QJsonArray{QJsonObject{{"ErrorCode", "2150"},
                                                                                  {"ErrorMessage", "Duplicate IRN"}}}}}),
         "The IRP refused it: 2150 Duplicate IRN"},
        {"Data sealed under another key",
         FakeIrp::Reply::json(QJsonObject{{"Status", "1"},
                                          {"Data", QString(Crypto::aes256Ecb("{}", QByteArray(32, 'w'), true)->toBase64())}}),
         "The IRP refused it: status 1"},
        {"numeric Status", FakeIrp::Reply::json(QJsonObject{{"Status", 0}}), "The IRP refused it: no reason given"},
    };
    for (const Case &c : cases) {
        irp->onCall([reply = c.reply](const FakeIrp::Request &, const std::optional<QJsonObject> &) { return reply; });
        EXPECT_EQ(signedCall("/x", "GET").error, c.error) << c.label;
    }
}

// A report or cancellation that left and lost its answer may stand at the
// IRP; a read that lost its answer says nothing of the kind.
TEST_F(EInvoiceCallTest, AWriteWhoseAnswerWasLostMayHaveHappened)
{
    connectTo();
    FakeIrp::Reply drop;
    drop.drop = true;
    irp->onCall([drop](const FakeIrp::Request &, const std::optional<QJsonObject> &) { return drop; });
    const QString may = " The request was sent and the IRP may have carried it out: check on the IRP portal before "
                        "trying again.";
    const QString write = signedCall("/eicore/v1.03/Invoice", "POST", QJsonObject{{"a", 1}}).error;
    EXPECT_TRUE(write.startsWith("The connection to the IRP failed before its whole answer arrived: "))
        << write.toStdString();
    EXPECT_TRUE(write.endsWith(may)) << write.toStdString();
    const QString read = signedCall("/x", "GET").error;
    EXPECT_FALSE(read.contains("may have")) << read.toStdString();
}

TEST_F(EInvoiceCallTest, ASessionKeyOfTheWrongLengthFailsBeforeAnyPayloadIsSent)
{
    connectTo();
    irp->sek = QByteArray(16, 'k');
    EXPECT_EQ(signedCall("/eicore/v1.03/Invoice", "POST", QJsonObject{{"a", 1}}).error,
              "Could not encrypt the request for the IRP.");
    EXPECT_TRUE(irp->calls().isEmpty());
    // A GET still goes out, and its reply cannot be opened.
    EXPECT_EQ(signedCall("/x", "GET").error, "The IRP refused it: status 1");
    EXPECT_EQ(irp->calls().size(), 1);
}

TEST_F(EInvoiceCallTest, NoSecretOfTheExchangeComesBackWhateverTheIrpSays)
{
    connectTo();
    const QByteArray appKey = QByteArray("AppKey-made-for-this-sign-in-32b");
    EInvoiceTools::appKeyBytes = [appKey] { return std::optional<QByteArray>(appKey); };
    const QString appKeyText = QString::fromLatin1(appKey.toBase64());
    const QString sekText = QString::fromLatin1(irp->sek.toBase64());
    const QStringList secrets{"Pa55-word!x", "cs-9f8e7d6c5b4a", appKeyText, sekText, FakeIrp::TOKEN};

    // A hostile IRP echoes everything it was told, in a reply and in a refusal.
    irp->onCall([&](const FakeIrp::Request &, const std::optional<QJsonObject> &) {
        return irp->sealed(QJsonObject{{"Irn", "irn-1"}, {"Echo", secrets.join(" | ")}, {secrets[1], QJsonArray{secrets[0]}}});
    });
    const CallResult ok = signedCall("/x", "GET");
    ASSERT_TRUE(ok.reply);
    const QString okText = QString::fromUtf8(QJsonDocument(*ok.reply).toJson());
    EXPECT_TRUE(okText.contains("irn-1"));
    for (const QString &s : secrets)
        EXPECT_FALSE(okText.contains(s)) << s.toStdString();

    irp->onSignIn([&](const FakeIrp::Request &) {
        return std::optional<FakeIrp::Reply>(FakeIrp::Reply::json(QJsonObject{{"ErrorDetails", secrets.join(" | ")}}));
    });
    const CallResult refused = signedCall("/x", "GET");
    ASSERT_TRUE(refused.error.startsWith("The IRP refused the sign-in: "));
    for (const QString &s : {secrets[0], secrets[1], secrets[2]})
        EXPECT_FALSE(refused.error.contains(s)) << s.toStdString();
}

TEST(EInvoiceIrpError, WordsTheRefusal)
{
    struct Case {
        const char *json;
        QString text;
    };
    for (const Case &c : {
             Case{R"({"ErrorDetails":[{"ErrorCode":"X1","ErrorMessage":"bad value"}]})", "X1 bad value"},
             Case{R"({"ErrorDetails":[{"ErrorCode":"A"},{"error_message":"b"},{}]})", "A; b; "},
             Case{R"({"ErrorDetails":[{"ErrorCode":1,"ErrorMessage":"m"}]})", "m"},
             Case{R"({"ErrorDetails":[],"Status":"0"})", "status 0"},
             Case{R"({"ErrorDetails":["text"],"Status":"0"})", "status 0"},
             Case{R"({"ErrorDetails":"Invalid login"})", "Invalid login"},
             Case{R"({"ErrorDetails":"","Status":"0"})", "status 0"},
             Case{R"({"Status":"0"})", "status 0"},
             Case{R"({"Status":0})", "no reason given"},
             Case{R"({})", "no reason given"},
         })
        EXPECT_EQ(EInvoiceTools::irpError(QJsonDocument::fromJson(c.json).object()), c.text) << c.json;
}

} // namespace
