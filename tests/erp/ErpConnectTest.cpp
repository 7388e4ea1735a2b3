#include "ErpFixture.h"
#include "erp/ErpConnect.h"

#include <QJsonArray>
#include <QUrlQuery>

using namespace ErpFakes;
using namespace TestKit;

namespace {

const QString kGstin = "24AAQFK5512M1Z8";

using StartAnswer = std::pair<std::optional<ErpConnect::Started>, std::optional<QString>>;
using RedeemAnswer = std::pair<std::optional<ErpConnection>, std::optional<QString>>;

class ErpConnectTest : public ErpTest {
protected:
    void SetUp() override
    {
        ErpTest::SetUp();
        cloud->setClients(QJsonArray{
            QJsonObject{{"id", 42}, {"company_name", "Quenby Traders"}, {"gstin", kGstin}},
            QJsonObject{{"id", 43}, {"company_name", "No Gstin Co"}},
        });
        erp->answer("connect/start", QJsonObject{{"request_id", "req-1"},
                                                 {"poll_secret", "sec-1"},
                                                 {"code", "K7Q2-M9XD"},
                                                 {"approve_url", erp->base() + "/connect/req-1"},
                                                 {"expires_at", 1900000000}});
    }

    StartAnswer start(qint64 companyId, const QString &base, bool invoices = false)
    {
        return await<StartAnswer>([&](auto done) {
            ErpConnect::start(companyId, base, invoices,
                              [done](const auto &s, const auto &e) { done(StartAnswer{s, e}); });
        });
    }
    ErpConnect::PollResult poll(const ErpConnect::Started &s)
    {
        return await<ErpConnect::PollResult>([&](auto done) { ErpConnect::poll(s, done); });
    }
    RedeemAnswer redeem(const QString &base, const QString &code)
    {
        return await<RedeemAnswer>([&](auto done) {
            ErpConnect::redeem(base, code, [done](const auto &c, const auto &e) { done(RedeemAnswer{c, e}); });
        });
    }
    ErpConnect::Started started()
    {
        const auto [s, error] = start(42, erp->base());
        EXPECT_TRUE(s) << error.value_or("").toStdString();
        return s.value_or(ErpConnect::Started{});
    }
    int requestsSent() const { return cloud->server.requests().size() + erp->server.requests().size(); }
};

TEST_F(ErpConnectTest, ClientsComeFromTheCloudWithTheSeatToken)
{
    using Clients = std::pair<QList<QJsonObject>, std::optional<QString>>;
    const auto list = [] {
        return await<Clients>([](auto done) {
            ErpConnect::clients([done](const auto &l, const auto &e) { done(Clients{l, e}); });
        });
    };
    Clients got = list();
    ASSERT_EQ(got.first.size(), 2);
    EXPECT_EQ(got.first[0].value("company_name").toString(), "Quenby Traders");
    EXPECT_FALSE(got.second);
    EXPECT_EQ(cloud->server.requests().last().header("Authorization"), "Bearer seat-1");

    QFile::remove(SEAT_ENV);
    cloud->server.clearRequests();
    got = list();
    EXPECT_TRUE(got.first.isEmpty());
    EXPECT_EQ(got.second.value_or(""), "Not signed in to Hallix.");
    EXPECT_EQ(cloud->server.requests().size(), 0);
}

TEST_F(ErpConnectTest, StartAsksTheCloudForATicketAndTheErpForARequest)
{
    const auto [s, error] = start(42, erp->base() + "/api/cli/v1/", true);
    ASSERT_TRUE(s) << error.value_or("").toStdString();
    EXPECT_FALSE(error);
    EXPECT_EQ(s->base, erp->base());
    EXPECT_EQ(s->requestId, "req-1");
    EXPECT_EQ(s->secret, "sec-1");
    EXPECT_EQ(s->code, "K7Q2-M9XD");
    EXPECT_EQ(s->url, erp->base() + "/connect/req-1");
    EXPECT_EQ(s->expires, 1900000000.0);
    EXPECT_EQ(s->companyId, 42);
    EXPECT_EQ(s->company, "Quenby Traders");
    EXPECT_EQ(s->gstin, kGstin);

    const auto ticket = cloud->server.requestsTo("/cli/erp_ticket");
    ASSERT_EQ(ticket.size(), 1);
    EXPECT_EQ(ticket[0].method, "POST");
    EXPECT_EQ(ticket[0].header("Authorization"), "Bearer seat-1");
    EXPECT_EQ(ticket[0].header("Content-Type"), "application/json");
    EXPECT_EQ(ticket[0].json(), QJsonObject({{"company_id", 42}}));

    const auto connect = erp->server.requestsTo("/erp/api/cli/v1/connect/start");
    ASSERT_EQ(connect.size(), 1);
    EXPECT_TRUE(connect[0].header("Authorization").isEmpty());
    EXPECT_EQ(connect[0].header("Content-Type"), "application/x-www-form-urlencoded");
    const QUrlQuery form(QString::fromUtf8(connect[0].body));
    EXPECT_EQ(form.queryItemValue("ticket"), "co-ticket");
    EXPECT_EQ(form.queryItemValue("want_write"), "1");

    start(42, erp->base(), false);
    EXPECT_EQ(QUrlQuery(QString::fromUtf8(erp->server.requests().last().body)).queryItemValue("want_write"), "0");
}

TEST_F(ErpConnectTest, StartFailuresAreOneSentenceEach)
{
    // Found before any request: still answered later, on the main thread.
    EXPECT_EQ(start(42, "http://erp.example.in").second.value_or(""), "The ERP address must be an https:// address.");
    QFile::remove(SEAT_ENV);
    EXPECT_EQ(start(42, erp->base()).second.value_or(""), "Not signed in to Hallix.");
    EXPECT_EQ(requestsSent(), 0);
    writeSecret(SEAT_ENV, "PAVI_SEAT_TOKEN=seat-1\n");

    EXPECT_EQ(start(99, erp->base()).second.value_or(""),
              "Hallix would not issue the request: That company is not linked to you.");
    cloud->setTicket(QJsonObject{{"ticket", "t"}});
    EXPECT_EQ(start(42, erp->base()).second.value_or(""), "Hallix would not issue the request: no ticket");
    cloud->setTicket(QJsonObject{{"ticket", "t"}, {"company", QJsonObject{{"name", "Quenby Traders"}}}});

    erp->fail(Failure::NotFoundBare);
    EXPECT_EQ(start(42, erp->base()).second.value_or(""), "This ERP does not support Velto connect yet (HTTP 404).");
    erp->fail(Failure::ServerInner);
    EXPECT_EQ(start(42, erp->base()).second.value_or(""), "The ERP would not start the request: Database is busy.");
    erp->fail(Failure::None);

    const QString elsewhere = "The ERP returned an approval link for a different address. Not using it.";
    for (const QString &link : {QString("https://evil.example/connect/req-1"), erp->base() + "/settings/req-1",
                                erp->base() + "x/connect/req-1"}) {
        erp->answer("connect/start",
                    QJsonObject{{"request_id", "r"}, {"poll_secret", "s"}, {"code", "c"}, {"approve_url", link}});
        const auto [s, error] = start(42, erp->base());
        EXPECT_FALSE(s) << link.toStdString();
        EXPECT_EQ(error.value_or(""), elsewhere) << link.toStdString();
    }

    // Without "expires_at" the request has no known expiry; the company id
    // falls back to the one asked for.
    erp->answer("connect/start", QJsonObject{{"request_id", "r"},
                                             {"poll_secret", "s"},
                                             {"code", "c"},
                                             {"approve_url", erp->base() + "/connect/r"}});
    const auto [s, error] = start(42, erp->base());
    ASSERT_TRUE(s) << error.value_or("").toStdString();
    EXPECT_EQ(s->expires, 0);
    EXPECT_EQ(s->companyId, 42);
    EXPECT_EQ(s->gstin, "");

    erp->answer("connect/start", QJsonObject{{"request_id", "r"}, {"code", "c"}, {"approve_url", "x"}});
    EXPECT_EQ(start(42, erp->base()).second.value_or(""), "The ERP would not start the request: unknown error");
}

TEST_F(ErpConnectTest, PollWaitsUntilTheClientDecides)
{
    using Kind = ErpConnect::PollResult::Kind;
    const ErpConnect::Started s = started();
    struct Case {
        QJsonObject reply;
        Kind kind;
        QString text;
    };
    const std::vector<Case> cases = {
        {{{"status", "pending"}}, Kind::Waiting, "pending"},
        {{{"status", "thinking"}}, Kind::Waiting, "pending"},
        {{}, Kind::Waiting, "pending"},
        {{{"status", 3}}, Kind::Waiting, "pending"},
        {{{"status", "denied"}}, Kind::Failed, "The client declined. Nothing was shared."},
        {{{"status", "expired"}}, Kind::Failed, "The link expired before the client approved. Send a new one."},
        {{{"status", "collected"}},
         Kind::Failed,
         "This approval was already collected somewhere else. Remove it in the ERP (Connected CAs) and send a new "
         "request."},
        {{{"status", "approved"}}, Kind::Failed, "The ERP approved but sent no token."},
        {{{"status", "approved"}, {"token", "t"}, {"business_gstin", "27AAAAA0000A1Z5"}},
         Kind::Failed,
         "The approval came from a business with GSTIN 27AAAAA0000A1Z5, not Quenby Traders's " + kGstin
             + ". Not saved."},
        {{{"status", "approved"}, {"token", "t"}},
         Kind::Failed,
         "The approval came from a business with GSTIN none, not Quenby Traders's " + kGstin + ". Not saved."},
    };
    for (const Case &c : cases) {
        erp->answer("connect/poll", c.reply);
        const auto r = poll(s);
        EXPECT_EQ(int(r.kind), int(c.kind)) << QJsonDocument(c.reply).toJson().toStdString();
        EXPECT_EQ(r.text, c.text);
        EXPECT_FALSE(r.connection);
    }
    EXPECT_TRUE(ErpVault::all().empty());

    const auto form = QUrlQuery(QString::fromUtf8(erp->server.requestsTo("/erp/api/cli/v1/connect/poll").last().body));
    EXPECT_EQ(form.queryItemValue("request_id"), "req-1");
    EXPECT_EQ(form.queryItemValue("poll_secret"), "sec-1");

    // A failed request is not the end of the pairing.
    erp->fail(Failure::Drop);
    auto r = poll(s);
    EXPECT_EQ(int(r.kind), int(Kind::Waiting));
    EXPECT_TRUE(r.text.startsWith("Could not reach 127.0.0.1: ")) << r.text.toStdString();
    erp->fail(Failure::ArrayBody);
    r = poll(s);
    EXPECT_EQ(int(r.kind), int(Kind::Waiting));
    EXPECT_EQ(r.text, "The answer from 127.0.0.1 was not JSON (HTTP 200).");
}

TEST_F(ErpConnectTest, AnApprovalIsCheckedAndSaved)
{
    using Kind = ErpConnect::PollResult::Kind;
    const ErpConnect::Started s = started();
    erp->answer("connect/poll", QJsonObject{{"status", "approved"},
                                            {"token", "erp-token"},
                                            {"business", "Quenby Traders LLP"},
                                            {"business_gstin", kGstin.toLower()},
                                            {"approved_by", "Asha (owner)"},
                                            {"scopes", QJsonArray{"read", "write:sells"}},
                                            {"token_expires_at", 1950000000.5}});
    auto r = poll(s);
    ASSERT_EQ(int(r.kind), int(Kind::Connected)) << r.text.toStdString();
    ASSERT_TRUE(r.connection);
    const ErpConnection c = *r.connection;
    EXPECT_EQ(c.id.size(), 36);
    EXPECT_EQ(c.id, c.id.toUpper());
    EXPECT_EQ(c.companyId, 42);
    EXPECT_EQ(c.company, "Quenby Traders");
    EXPECT_EQ(c.gstin, kGstin);
    EXPECT_EQ(c.base, erp->base());
    EXPECT_EQ(c.business, "Quenby Traders LLP");
    EXPECT_EQ(c.businessGstin, kGstin);
    EXPECT_EQ(c.approvedBy, "Asha (owner)");
    EXPECT_EQ(c.scopes, QStringList({"read", "write:sells"}));
    EXPECT_EQ(c.expires, 1950000000.5);
    ASSERT_EQ(ErpVault::all().size(), 1u);
    EXPECT_EQ(ErpVault::all()[0].id, c.id);
    EXPECT_EQ(ErpVault::token(c.id), "erp-token");

    // The same client again replaces the first pairing.
    r = poll(s);
    ASSERT_EQ(int(r.kind), int(Kind::Connected));
    ASSERT_EQ(ErpVault::all().size(), 1u);
    EXPECT_EQ(ErpVault::all()[0].id, r.connection->id);
    EXPECT_FALSE(ErpVault::token(c.id));

    ErpVault::store.set = [](const QString &, const QString &) { return false; };
    r = poll(s);
    EXPECT_EQ(int(r.kind), int(Kind::Failed));
    EXPECT_EQ(r.text, "Approved, but the system keyring would not store the connection. Nothing was saved.");
}

TEST_F(ErpConnectTest, AClientWithoutAGstinOnTheCloudCannotBePairedByLink)
{
    const auto [s, error] = start(43, erp->base());
    ASSERT_TRUE(s) << error.value_or("").toStdString();
    erp->answer("connect/poll",
                QJsonObject{{"status", "approved"}, {"token", "t"}, {"business_gstin", "29BBBBB1111B1Z3"}});
    const auto r = poll(*s);
    EXPECT_EQ(int(r.kind), int(ErpConnect::PollResult::Kind::Failed));
    EXPECT_EQ(r.text, "The approval came from a business with GSTIN 29BBBBB1111B1Z3, not No Gstin Co's . Not saved.");
    EXPECT_TRUE(ErpVault::all().empty());
}

TEST_F(ErpConnectTest, RedeemExchangesTheCodeAndNamesTheClient)
{
    erp->answer("connect/redeem", QJsonObject{{"token", "erp-token"},
                                              {"business", "Quenby Traders LLP"},
                                              {"business_gstin", kGstin.toLower()},
                                              {"approved_by", "Asha"},
                                              {"scopes", QJsonArray{"read"}},
                                              {"token_expires_at", 1950000000}});
    auto [c, error] = redeem(" " + erp->base() + "/ ", "abcd-efgh");
    ASSERT_TRUE(c) << error.value_or("").toStdString();
    EXPECT_FALSE(error);
    EXPECT_EQ(c->companyId, 42);
    EXPECT_EQ(c->company, "Quenby Traders");
    EXPECT_EQ(c->gstin, kGstin);
    EXPECT_EQ(c->businessGstin, kGstin);
    EXPECT_EQ(c->base, erp->base());
    EXPECT_EQ(c->business, "Quenby Traders LLP");
    EXPECT_EQ(c->approvedBy, "Asha");
    EXPECT_EQ(c->scopes, QStringList({"read"}));
    EXPECT_EQ(c->expires, 1950000000.0);
    EXPECT_EQ(ErpVault::token(c->id), "erp-token");

    const auto ticket = cloud->server.requestsTo("/cli/erp_ticket");
    ASSERT_EQ(ticket.size(), 1);
    EXPECT_EQ(ticket[0].json(), QJsonObject({{"purpose", "identity"}}));
    const auto sent = erp->server.requestsTo("/erp/api/cli/v1/connect/redeem");
    ASSERT_EQ(sent.size(), 1);
    const QUrlQuery form(QString::fromUtf8(sent[0].body));
    EXPECT_EQ(form.queryItemValue("code"), "ABCDEFGH");
    EXPECT_EQ(form.queryItemValue("ticket"), "id-ticket");

    // A business the CA's client list does not know still connects, under
    // the ERP's name for it, or its GSTIN when the ERP gives none.
    const QString other = "29BBBBB1111B1Z3";
    erp->answer("connect/redeem", QJsonObject{{"token", "t2"}, {"business", "Unlisted Works"}, {"business_gstin", other}});
    std::tie(c, error) = redeem(erp->base(), "ABCD EFGH");
    ASSERT_TRUE(c) << error.value_or("").toStdString();
    EXPECT_EQ(c->companyId, 0);
    EXPECT_EQ(c->company, "Unlisted Works");
    erp->answer("connect/redeem", QJsonObject{{"token", "t3"}, {"business_gstin", other}});
    std::tie(c, error) = redeem(erp->base(), "ABCDEFGH");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->company, other);
    EXPECT_EQ(ErpVault::all().size(), 2u);
}

TEST_F(ErpConnectTest, RedeemFailuresAreOneSentenceEach)
{
    const QString codeRule = "The code is 8 letters and numbers, like ABCD-EFGH.";
    EXPECT_EQ(redeem("http://erp.example.in", "ABCDEFGH").second.value_or(""),
              "The ERP address must be an https:// address.");
    EXPECT_EQ(redeem(erp->base(), "abc-defg").second.value_or(""), codeRule);
    EXPECT_EQ(redeem(erp->base(), "ABCDEFGHJ").second.value_or(""), codeRule);
    QFile::remove(SEAT_ENV);
    EXPECT_EQ(redeem(erp->base(), "ABCDEFGH").second.value_or(""), "Not signed in to Hallix.");
    EXPECT_EQ(requestsSent(), 0);
    writeSecret(SEAT_ENV, "PAVI_SEAT_TOKEN=seat-1\n");

    cloud->setTicket(QJsonObject{{"message", "Seat expired."}});
    EXPECT_EQ(redeem(erp->base(), "ABCDEFGH").second.value_or(""), "Hallix would not confirm who you are: no ticket");
    cloud->setTicket(QJsonObject{{"success", false}, {"message", "Seat expired."}});
    EXPECT_EQ(redeem(erp->base(), "ABCDEFGH").second.value_or(""),
              "Hallix would not confirm who you are: Seat expired.");
    cloud->setTicket(QJsonObject{{"ticket", "id-ticket"}});

    const std::vector<std::pair<Failure, QString>> failures = {
        {Failure::NotFoundBare, "This ERP does not support Velto connect yet (HTTP 404)."},
        {Failure::NotFoundMessage, "No sell with id 9."},
        {Failure::SuccessFalse, "Invoice date is in a locked period."},
        {Failure::ServerEmpty, "HTTP 500 from 127.0.0.1."},
    };
    for (const auto &[failure, sentence] : failures) {
        erp->fail(failure);
        EXPECT_EQ(redeem(erp->base(), "ABCDEFGH").second.value_or(""), sentence);
    }
    erp->fail(Failure::None);
    erp->answer("connect/redeem", QJsonObject{{"business", "x"}});
    EXPECT_EQ(redeem(erp->base(), "ABCDEFGH").second.value_or(""), "The ERP would not accept the code.");

    const QString noGstin =
        "The ERP business has no valid GSTIN, so Velto cannot tell whose books these are. Not saved.";
    for (const QString &g : {QString(), QString("24AAQFK5512M1Y8"), QString("24AAQFK5512M1Z"), QString("URP")}) {
        erp->answer("connect/redeem", QJsonObject{{"token", "t"}, {"business_gstin", g}});
        EXPECT_EQ(redeem(erp->base(), "ABCDEFGH").second.value_or(""), noGstin) << g.toStdString();
    }
    EXPECT_TRUE(ErpVault::all().empty());

    erp->answer("connect/redeem", QJsonObject{{"token", "t"}, {"business_gstin", kGstin}});
    ErpVault::store.set = [](const QString &, const QString &) { return false; };
    EXPECT_EQ(redeem(erp->base(), "ABCDEFGH").second.value_or(""),
              "Connected, but the system keyring would not store it. Nothing was saved.");
    EXPECT_TRUE(ErpVault::all().empty());
}

} // namespace
