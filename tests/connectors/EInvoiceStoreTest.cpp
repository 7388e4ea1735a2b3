// The e-invoice record on disk, the hosts it points at, and NIC's key as the
// CA pastes it.
#include "EInvoiceFixture.h"

#include <QFile>

using TestKit::TestRsa;

namespace {

TEST(EInvoiceRecord, ReadsOnlyCompleteRecordsOfTheRightTypes)
{
    const QByteArray good =
        R"({"gstin":"29AAACH1234K1Z5","username":"u","clientId":"c","environment":"sandbox","updated":1765400000.25})";
    const auto c = EInvoiceConnection::decode(good);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->gstin, "29AAACH1234K1Z5");
    EXPECT_EQ(c->updated, 1765400000.25);
    EXPECT_EQ(EInvoiceConnection::decode(c->encode())->encode(), c->encode());

    for (const QByteArray &bad : {
             QByteArray(R"([{"gstin":"G","username":"u","clientId":"c","environment":"sandbox","updated":1}])"),
             QByteArray(R"({"gstin":"G","username":"u","clientId":"c","environment":"sandbox"})"),
             QByteArray(R"({"gstin":"G","username":"u","clientId":"c","environment":"sandbox","updated":"1"})"),
             QByteArray(R"({"gstin":15,"username":"u","clientId":"c","environment":"sandbox","updated":1})"),
             QByteArray(R"({"gstin":"G","username":"u","environment":"sandbox","updated":1})"),
             QByteArray("not json"), QByteArray()})
        EXPECT_FALSE(EInvoiceConnection::decode(bad)) << bad.toStdString();
}

TEST(EInvoiceRecord, OnlyExactProductionIsLive)
{
    qunsetenv("VELTO_IRP_SANDBOX");
    qunsetenv("VELTO_IRP_PRODUCTION");
    struct Case {
        const char *environment;
        bool live;
        QString base;
    };
    for (const Case &c : {Case{"production", true, "https://api.einvoice1.gst.gov.in"},
                          Case{"Production", false, "https://einv-apisandbox.nic.in"},
                          Case{"sandbox", false, "https://einv-apisandbox.nic.in"},
                          Case{"", false, "https://einv-apisandbox.nic.in"}}) {
        const EInvoiceConnection conn{"G", "u", "c", c.environment, 0};
        EXPECT_EQ(conn.isLive(), c.live) << c.environment;
        EXPECT_EQ(conn.base(), c.base) << c.environment;
    }
}

TEST(EInvoiceRecord, HostOverridesMustBeHttps)
{
    const EInvoiceConnection sandbox{"G", "u", "c", "sandbox", 0};
    struct Case {
        const char *value;
        QString base;
    };
    for (const Case &c : {Case{"https://127.0.0.1:4443/", "https://127.0.0.1:4443"},
                          Case{"https://irp.test", "https://irp.test"},
                          Case{"http://127.0.0.1:8080", "https://einv-apisandbox.nic.in"},
                          Case{"", "https://einv-apisandbox.nic.in"}}) {
        qputenv("VELTO_IRP_SANDBOX", c.value);
        EXPECT_EQ(sandbox.base(), c.base) << c.value;
    }
    qunsetenv("VELTO_IRP_SANDBOX");
}

TEST_F(EInvoiceTest, MissingOrBrokenRecordFileIsNoConnection)
{
    EXPECT_EQ(EInvoiceTools::indexPath(), VELTO_HOME + "/einvoice.json");
    EXPECT_FALSE(EInvoiceTools::connection());
    home->write(".velto/einvoice.json", R"({"gstin":"G","username":"u","clientId":"c","environment":"sandbox"})");
    EXPECT_FALSE(EInvoiceTools::connection());
}

// NIC's key opened by the fake IRP's private key, whatever form it came in.
void expectSealsFor(const TestRsa &rsa, const QString &pem)
{
    const auto cipher = EInvoiceTools::rsa("sign-in", pem);
    ASSERT_TRUE(cipher) << pem.toStdString();
    EXPECT_EQ(rsa.decrypt(*cipher), QByteArray("sign-in"));
}

TEST(EInvoiceRsa, TakesAPublicKeyOrACertificateInPem)
{
    const TestRsa &rsa = TestRsa::get();
    expectSealsFor(rsa, QString::fromLatin1(rsa.publicPem));
    expectSealsFor(rsa, QString::fromLatin1(rsa.certificatePem));
    // The body's line breaks, spaces and tabs are not part of the key.
    const QString body = QString::fromLatin1(rsa.publicDer.toBase64());
    expectSealsFor(rsa, "-----BEGIN PUBLIC KEY-----\r\n" + body.left(30) + " \t" + body.mid(30, 40) + "\n  "
                            + body.mid(70) + "\r\n-----END PUBLIC KEY-----");
    // No markers at all is still the key.
    expectSealsFor(rsa, body);
}

TEST(EInvoiceRsa, RefusesWhatIsNotTheKey)
{
    const TestRsa &rsa = TestRsa::get();
    QString oneBad = QString::fromLatin1(rsa.publicPem);
    oneBad.replace(40, 1, "*");
    const QString tooLong(rsa.bytes, 'p');
    for (const QString &pem : {oneBad, QString::fromLatin1(rsa.rsaPublicPem), QString("-----"), QString()})
        EXPECT_FALSE(EInvoiceTools::rsa("x", pem)) << pem.left(60).toStdString();
    EXPECT_FALSE(EInvoiceTools::rsa(tooLong.toLatin1(), QString::fromLatin1(rsa.publicPem)));
}

} // namespace
