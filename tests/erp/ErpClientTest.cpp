#include "ErpFixture.h"
#include "platform/Http.h"

#include <QUrlQuery>

using namespace ErpFakes;
using namespace TestKit;

namespace {

using Answer = ErpClient::Answer;

Answer call(const QString &base, const QString &method, const QString &path, const QMap<QString, QString> &query = {},
            const std::optional<ErpClient::Form> &form = std::nullopt)
{
    return await<Answer>([&](auto done) {
        ErpClient::call(base, QStringLiteral("tok-1"), method, path, query, form, done);
    });
}

Answer request(const QUrl &url, const QString &method = QStringLiteral("GET"))
{
    return await<Answer>([&](auto done) { ErpClient::request(url, std::nullopt, method, std::nullopt, std::nullopt, done); });
}

TEST(ErpClientBase, NormalisesTypedAddresses)
{
    const std::vector<std::pair<QString, std::optional<QString>>> cases = {
        {"  erp.example.in/  ", "https://erp.example.in"},
        {"erp.example.in\n", "https://erp.example.in"},
        {"https://erp.example.in/books/api/cli/v1/", "https://erp.example.in/books"},
        {"https://erp.example.in:8443/books/api/cli/v1", "https://erp.example.in:8443/books"},
        {"https://erp.example.in//api/cli/v1", "https://erp.example.in/"},
        {"https://erp.example.in/erpdev///", "https://erp.example.in/erpdev"},
        {"http://erp.example.in", std::nullopt},
        {"HTTPS://erp.example.in", std::nullopt},
        {"ftp://erp.example.in", std::nullopt},
        {"https://", std::nullopt},
        {"https:///path", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"https://erp example.in", std::nullopt},
    };
    for (const auto &[raw, want] : cases)
        EXPECT_EQ(ErpClient::normalisedBase(raw), want) << raw.toStdString();
}

TEST(ErpClientBase, FormValuesLoseEveryDelimiter)
{
    EXPECT_EQ(ErpClient::formBody({{"data", "&=+ /?"}, {"a b", "x~y.z-_"}}), "a b=x~y.z-_&data=%26%3D%2B%20%2F%3F");
    EXPECT_EQ(ErpClient::formBody({{"name", QStringLiteral("Quenby \u20B9")}}), "name=Quenby%20%E2%82%B9");
}

using ErpClientTest = ErpTest;

TEST_F(ErpClientTest, SendsTheHeadersFormAndSortedQuery)
{
    const Answer a = call(erp->base(), "POST", "write/sells/create", {{"b", "2"}, {"a", "1 & 2"}},
                          ErpClient::Form{{"data", "{\"x\":1}"}, {"commit", "1"}});
    ASSERT_TRUE(a.json) << a.error.value_or("").toStdString();
    EXPECT_FALSE(a.error);
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.json->value("path").toString(), "write/sells/create");
    EXPECT_EQ(a.json->value("query").toString(), "a=1%20%26%202&b=2");

    const auto sent = erp->server.requests();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].method, "POST");
    EXPECT_EQ(sent[0].path, "/erp/api/cli/v1/write/sells/create");
    EXPECT_EQ(sent[0].header("Accept"), "application/json");
    EXPECT_EQ(sent[0].header("X-Client"), "Velto");
    EXPECT_EQ(sent[0].header("Authorization"), "Bearer tok-1");
    EXPECT_EQ(sent[0].header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(sent[0].body, "commit=1&data=%7B%22x%22:1%7D");
}

TEST_F(ErpClientTest, AJsonBodyGoesOnlyWithoutAForm)
{
    const QUrl url(erp->base() + "/api/cli/v1/echo");
    Answer a = await<Answer>([&](auto done) {
        ErpClient::request(url, QStringLiteral("seat"), "POST", std::nullopt, QJsonObject{{"company_id", 42}}, done);
    });
    ASSERT_TRUE(a.json);
    EXPECT_EQ(erp->server.requests().last().header("Content-Type"), "application/json");
    EXPECT_EQ(erp->server.requests().last().body, R"({"company_id":42})");

    a = await<Answer>([&](auto done) {
        ErpClient::request(url, std::nullopt, "POST", ErpClient::Form{{"k", "v"}}, QJsonObject{{"x", 1}}, done);
    });
    EXPECT_EQ(erp->server.requests().last().body, "k=v");
    EXPECT_TRUE(erp->server.requests().last().header("Authorization").isEmpty());
}

// What the client makes of each kind of answer, straight and through the
// API call (which words 401, 429 and a bare 404 for the engine).
TEST_F(ErpClientTest, EveryAnswerIsAnObjectOrOneSentence)
{
    const QString host = "127.0.0.1";
    const QString approval =
        "The client's approval has been removed or has expired. Nothing can be read until they approve again "
        "\u2014 the CA reconnects from Velto \u2192 Ledgora ERP\u2026.";
    struct Case {
        Failure failure;
        int status;
        QString requestError; // empty: a JSON object
        QString callError;
    };
    const std::vector<Case> cases = {
        {Failure::None, 200, "", ""},
        {Failure::Unauthorized, 401, "token revoked", approval},
        {Failure::NotFoundBare, 404, "HTTP 404 from " + host + ".",
         "This ERP address does not have the Velto API (HTTP 404)."},
        {Failure::NotFoundMessage, 404, "No sell with id 9.", "No sell with id 9."},
        {Failure::RateLimited, 429, "slow down",
         "The ERP is rate-limiting (60 requests a minute). Wait a minute, and fetch larger pages rather than many "
         "small ones."},
        {Failure::ServerEmpty, 500, "HTTP 500 from " + host + ".", "HTTP 500 from " + host + "."},
        {Failure::ServerInner, 500, "Database is busy.", "Database is busy."},
        {Failure::ErrorText, 400, "HTTP 400 from " + host + ".", "HTTP 400 from " + host + "."},
        {Failure::SuccessFalse, 200, "Invoice date is in a locked period.", "Invoice date is in a locked period."},
        {Failure::NotJson, 200, "The answer from " + host + " was not JSON (HTTP 200).",
         "The answer from " + host + " was not JSON (HTTP 200)."},
        {Failure::ArrayBody, 200, "The answer from " + host + " was not JSON (HTTP 200).",
         "The answer from " + host + " was not JSON (HTTP 200)."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.failure));
        erp->fail(c.failure);
        const Answer direct = request(QUrl(erp->base() + "/api/cli/v1/whoami"));
        EXPECT_EQ(direct.status, c.status);
        EXPECT_EQ(direct.json.has_value(), c.requestError.isEmpty());
        EXPECT_EQ(direct.error.value_or(""), c.requestError);

        const Answer viaCall = call(erp->base(), "GET", "whoami");
        EXPECT_EQ(viaCall.json.has_value(), c.callError.isEmpty());
        EXPECT_EQ(viaCall.error.value_or(""), c.callError);
    }
}

TEST_F(ErpClientTest, AnEmptyObjectIsASuccessAndALostWriteIsNotRetried)
{
    erp->answer("empty", QJsonObject{});
    Answer a = call(erp->base(), "GET", "empty");
    ASSERT_TRUE(a.json);
    EXPECT_TRUE(a.json->isEmpty());

    erp->fail(Failure::Drop);
    erp->server.clearRequests();
    a = call(erp->base(), "POST", "write/sells/create", {}, ErpClient::Form{{"commit", "1"}});
    EXPECT_FALSE(a.json);
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.error.value_or(""), "Could not reach 127.0.0.1: the connection closed before a reply");
    spin(100);
    EXPECT_EQ(erp->server.requests().size(), 1);
}

TEST_F(ErpClientTest, ABadAddressAnswersAtOnceAndSendsNothing)
{
    std::optional<Answer> got;
    ErpClient::call("https://erp example.in", "tok", "GET", "whoami", {}, std::nullopt,
                    [&](const Answer &a) { got = a; });
    ASSERT_TRUE(got);
    EXPECT_FALSE(got->json);
    EXPECT_EQ(got->error.value_or(""), "Bad ERP address.");
}

TEST_F(ErpClientTest, AnAddressWithoutAHostIsCalledTheServer)
{
    const auto saved = Http::Hooks::send;
    Http::Hooks::send = [](const Http::Request &, Http::Done done) {
        Http::Response r;
        r.status = 502;
        done(r);
    };
    const Answer answered = request(QUrl("file:///api"));
    Http::Hooks::send = [](const Http::Request &, Http::Done done) {
        Http::Response r;
        r.error = "Host not found";
        done(r);
    };
    const Answer unreachable = request(QUrl("file:///api"));
    Http::Hooks::send = saved;
    EXPECT_EQ(answered.error.value_or(""), "HTTP 502 from the server.");
    EXPECT_EQ(unreachable.error.value_or(""), "Could not reach the server: Host not found");
}

} // namespace
