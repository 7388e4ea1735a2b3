// Signing in and the one authorised request of each books call, against fake
// Zoho and QuickBooks servers over HTTPS: the exact requests and every
// sentence a failure becomes.
#include "BooksFixture.h"

using namespace BooksTest;

namespace {

using BooksApi = BooksFixture;

TEST(BooksHosts, EachServiceIsReachedOnItsOwnPublicHosts)
{
    BooksConnection c{"zoho-1", "zoho", "Acme", "1", "cid", "in", 0};
    const struct {
        QString region, token, api;
    } zoho[] = {
        {"in", "https://accounts.zoho.in/oauth/v2/token", "https://www.zohoapis.in/books/v3"},
        {"com", "https://accounts.zoho.com/oauth/v2/token", "https://www.zohoapis.com/books/v3"},
        {"eu", "https://accounts.zoho.eu/oauth/v2/token", "https://www.zohoapis.eu/books/v3"},
        {"au", "https://accounts.zoho.com.au/oauth/v2/token", "https://www.zohoapis.com.au/books/v3"},
        {"evil.example/x", "", ""},
        {"us", "", ""},
    };
    for (const auto &z : zoho) {
        c.region = z.region;
        EXPECT_EQ(BooksTools::tokenHost(c), z.token) << z.region;
        EXPECT_EQ(BooksTools::apiBase(c), z.api) << z.region;
    }
    const BooksConnection qb{"quickbooks-9130350", "quickbooks", "Acme", "9130350", "cid", "xx", 0};
    EXPECT_EQ(BooksTools::tokenHost(qb), "https://oauth.platform.intuit.com/oauth2/v1/tokens/bearer");
    EXPECT_EQ(BooksTools::apiBase(qb), "https://quickbooks.api.intuit.com/v3/company/9130350");
    const BooksConnection odd{"quickbooks-1/../x?y", "quickbooks", "Acme", "1/../x?y", "cid", "in", 0};
    EXPECT_EQ(BooksTools::apiBase(odd), "https://quickbooks.api.intuit.com/v3/company/1%2F..%2Fx%3Fy")
        << "the realm stays one path segment";
}

TEST_F(BooksApi, ZohoSignsInWithTheFormGrantAndReadsWithItsOwnHeader)
{
    QJsonObject args = zoho();
    args["refresh_token"] = "1000.a/b+c=d&e f";
    args["client_secret"] = "s€cret:value";
    connect(args);
    grant("zoho-access-77");
    server->on("GET", "/books/v3/invoices",
               FakeReply::json(QJsonObject{
                   {"code", 0},
                   {"invoices", QJsonArray{QJsonObject{{"invoice_number", "INV-001"}, {"date", "2025-04-02"},
                                                       {"customer_name", "Zenith"}, {"total", 1180.5},
                                                       {"balance", 0}, {"status", "paid"}, {"tax_total", 180}},
                                           QJsonObject{{"invoice_number", "INV-002"}, {"total", QJsonValue()}}}}}));

    const Answer a = run("books_invoices", {{"from", "2025-04-01"}, {"to", "2025-04-30"}, {"status", "paid"}});
    ASSERT_FALSE(a.isError) << a.text;
    EXPECT_EQ(a.json(), (QJsonObject{{"count", 2},
                                     {"invoices", QJsonArray{QJsonObject{{"number", "INV-001"}, {"date", "2025-04-02"},
                                                                         {"party", "Zenith"}, {"total", 1180.5},
                                                                         {"balance", 0}, {"status", "paid"}},
                                                             QJsonObject{{"number", "INV-002"}, {"total", QJsonValue()}}}}}))
        << a.text;
    EXPECT_TRUE(a.text.contains("\n")) << "pretty-printed";

    const QList<RecordedRequest> all = server->requests();
    ASSERT_EQ(all.size(), 2);
    const RecordedRequest &token = all[0];
    EXPECT_EQ(token.method, "POST");
    EXPECT_EQ(token.path, "/oauth/v2/token");
    EXPECT_EQ(token.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(token.header("Authorization"), "");
    EXPECT_EQ(token.body, "grant_type=refresh_token&refresh_token=1000%2Ea%2Fb%2Bc%3Dd%26e%20f"
                          "&client_id=1000%2EZOHOCLIENT&client_secret=s%E2%82%ACcret%3Avalue");

    const RecordedRequest &get = all[1];
    EXPECT_EQ(get.method, "GET");
    EXPECT_EQ(get.path, "/books/v3/invoices");
    EXPECT_EQ(get.query, "date_end=2025-04-30&date_start=2025-04-01&organization_id=60001&per_page=50&status=paid")
        << "items sorted by name, the organisation among them";
    EXPECT_EQ(get.header("Authorization"), "Zoho-oauthtoken zoho-access-77");
    EXPECT_EQ(get.header("Accept"), "application/json");
}

TEST_F(BooksApi, QuickBooksSignsInWithBasicAuthAndKeepsARotatedRefreshToken)
{
    connect(quickbooks());
    server->on("POST", "/oauth2/v1/tokens/bearer",
               FakeReply::json(QJsonObject{{"access_token", "qb-access-1"}, {"refresh_token", "AB11qb-refresh-ROTATED"},
                                           {"x_refresh_token_expires_in", 8726400}}));
    server->on("GET", "/v3/company/9130350/query",
               FakeReply::json(QJsonObject{
                   {"QueryResponse",
                    QJsonObject{{"Customer", QJsonArray{QJsonObject{{"Id", "58"}, {"DisplayName", "O'Brien & Sons"},
                                                                    {"Balance", 2500}, {"PrimaryEmailAddr", "x"}}}}}}}));

    const Answer a = run("books_contacts", {{"search", "O'Brien & Sons+1"}, {"limit", 7}});
    ASSERT_FALSE(a.isError) << a.text;
    EXPECT_EQ(a.json(), (QJsonObject{{"count", 1},
                                     {"contacts", QJsonArray{QJsonObject{{"id", "58"}, {"name", "O'Brien & Sons"},
                                                                         {"type", "Customer"}, {"outstanding", 2500}}}}}));

    const QList<RecordedRequest> all = server->requests();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0].path, "/oauth2/v1/tokens/bearer");
    EXPECT_EQ(all[0].body, "grant_type=refresh_token&refresh_token=AB11qb%2Drefresh%2D000001");
    EXPECT_EQ(all[0].header("Authorization"), "Basic " + QByteArray("ABqbClientId:qb-secret-000001").toBase64());
    EXPECT_EQ(all[1].header("Authorization"), "Bearer qb-access-1");
    EXPECT_EQ(all[1].queryItems().queryItemValue("query", QUrl::FullyDecoded),
              "SELECT * FROM Customer WHERE DisplayName LIKE '%OBrien & Sons+1%' MAXRESULTS 7");
    EXPECT_FALSE(all[1].query.contains('+')) << "a plus in the statement is sent encoded: " << all[1].query;

    EXPECT_EQ(secret("quickbooks-9130350.refresh"), "AB11qb-refresh-ROTATED") << "the rotated token replaces the old";
    run("books_accounts");
    EXPECT_EQ(server->requestsTo("/oauth2/v1/tokens/bearer").last().body,
              "grant_type=refresh_token&refresh_token=AB11qb%2Drefresh%2DROTATED");
    EXPECT_EQ(server->requestsTo("/v3/company/9130350/query").last().queryItems().queryItemValue("query", QUrl::FullyDecoded),
              "SELECT * FROM Account MAXRESULTS 100");
}

TEST_F(BooksApi, SignInFailuresBecomeOneSentenceAndTheApiIsNotCalled)
{
    connect(zoho());
    connect(quickbooks());
    const struct {
        QString vendorPath;
        FakeReply reply;
        QString client;
        QString sentence;
    } cases[] = {
        {"/oauth/v2/token", FakeReply::json(QJsonObject{{"error", "invalid_code"}}, 200), "Acme",
         "Zoho Books refused the refresh token (invalid_code). The CA has to connect the books again."},
        {"/oauth2/v1/tokens/bearer", FakeReply::json(QJsonObject{{"message", "expired"}, {"error", 7}}, 400), "Bharat",
         "QuickBooks Online refused the refresh token (expired). The CA has to connect the books again."},
        {"/oauth/v2/token", FakeReply::json(QJsonObject{{"access_token", ""}}, 200), "Acme",
         "Zoho Books refused the refresh token (HTTP 200). The CA has to connect the books again."},
        {"/oauth/v2/token", FakeReply::text("<html>busy</html>", 200), "Acme",
         "Zoho Books sent something Velto could not read (HTTP 200)."},
        {"/oauth2/v1/tokens/bearer", FakeReply::json(QJsonDocument(QJsonArray{1}), 503), "Bharat",
         "QuickBooks Online sent something Velto could not read (HTTP 503)."},
    };
    for (const auto &c : cases) {
        server->clearRequests();
        server->on("POST", c.vendorPath, c.reply);
        const Answer a = run("books_accounts", {{"client", c.client}});
        EXPECT_TRUE(a.isError);
        EXPECT_EQ(a.text, c.sentence);
        EXPECT_EQ(server->requests().size(), 1);
        EXPECT_TRUE(apiRequests().isEmpty()) << c.sentence;
    }

    // A refresh token gone from the store: nothing is sent at all.
    server->clearRequests();
    BooksTools::store.remove("zoho-60001.refresh");
    const Answer gone = run("books_contacts", {{"client", "acme"}});
    EXPECT_TRUE(gone.isError);
    EXPECT_EQ(gone.text, "The refresh token for Acme Traders is not in the system keyring any more. Connect the books "
                         "again with books_connect.");
    EXPECT_TRUE(server->requests().isEmpty());

    // A missing client secret still signs in, with an empty one.
    BooksTools::store.remove("quickbooks-9130350.secret");
    grant();
    server->on("GET", "/v3/company/9130350/query", FakeReply::json(QJsonObject{{"QueryResponse", QJsonObject()}}));
    const Answer empty = run("books_contacts", {{"client", "Bharat"}});
    EXPECT_EQ(empty.json(), (QJsonObject{{"contacts", QJsonArray()}, {"count", 0}}));
    EXPECT_EQ(server->requests()[0].header("Authorization"), "Basic " + QByteArray("ABqbClientId:").toBase64());
}

TEST_F(BooksApi, RequestFailuresBecomeOneSentence)
{
    connect(zoho());
    connect(quickbooks());
    grant();
    const QJsonObject fault{
        {"Fault", QJsonObject{{"Error", QJsonArray{QJsonObject{{"Message", "Invalid query"}, {"code", "4000"}}}},
                              {"type", "ValidationFault"}}}};
    const struct {
        QString client;
        QString path;
        FakeReply reply;
        QString sentence;
    } cases[] = {
        {"Acme", "/books/v3/contacts", FakeReply::json(QJsonObject{{"code", 57}}, 401),
         "Zoho Books refused the request: HTTP 401"},
        {"Acme", "/books/v3/contacts", FakeReply::json(QJsonObject{{"code", 57}, {"message", "Not authorized"}}, 401),
         "Zoho Books refused the request: Not authorized"},
        {"Bharat", "/v3/company/9130350/query", FakeReply::json(fault, 400),
         "QuickBooks Online refused the request: Invalid query"},
        {"Acme", "/books/v3/contacts", FakeReply::json(QJsonDocument(QJsonArray{}), 200),
         "Zoho Books answered HTTP 200 with something Velto could not read."},
        {"Bharat", "/v3/company/9130350/query", FakeReply::text("", 204),
         "QuickBooks Online answered HTTP 204 with something Velto could not read."},
    };
    for (const auto &c : cases) {
        server->on("GET", c.path, c.reply);
        const Answer a = run("books_contacts", {{"client", c.client}});
        EXPECT_TRUE(a.isError);
        EXPECT_EQ(a.text, c.sentence);
    }

    // No server at all.
    quint16 closed = 0;
    {
        FakeHttpServer gone(FakeHttpServer::Mode::Https);
        closed = gone.port();
    }
    home->refill({{"VELTO_ZOHO_ACCOUNTS", QString("https://127.0.0.1:%1").arg(closed)}});
    const Answer a = run("books_contacts", {{"client", "Acme"}});
    EXPECT_TRUE(a.isError);
    EXPECT_TRUE(a.text.startsWith("Could not reach Zoho Books: ")) << a.text;
}

TEST_F(BooksApi, NoCredentialEverReachesAnAnswer)
{
    connect(zoho());
    // A hostile service echoes what it was sent.
    server->on("POST", "/oauth/v2/token", [](const RecordedRequest &r) {
        const QUrlQuery form(QString::fromUtf8(r.body));
        return FakeReply::json(QJsonObject{{"error", "bad grant " + form.queryItemValue("refresh_token", QUrl::FullyDecoded) +
                                                         " with " + form.queryItemValue("client_secret", QUrl::FullyDecoded)}},
                               400);
    });
    Answer a = run("books_contacts");
    EXPECT_TRUE(a.isError);
    EXPECT_FALSE(a.text.contains("zoho-refresh")) << a.text;
    EXPECT_FALSE(a.text.contains("zoho-secret")) << a.text;
    EXPECT_EQ(a.text, "Zoho Books refused the refresh token (bad grant [hidden] with [hidden]). The CA has to connect "
                      "the books again.");

    server->on("POST", "/oauth/v2/token",
               FakeReply::json(QJsonObject{{"access_token", "zoho-access-SECRET1"}, {"refresh_token", "1000.zoho-refresh-R2"}}));
    server->on("GET", "/books/v3/contacts", [](const RecordedRequest &r) {
        return FakeReply::json(QJsonObject{
            {"contacts", QJsonArray{QJsonObject{{"contact_id", "1"},
                                                {"contact_name", "token " + QString::fromUtf8(r.header("Authorization"))},
                                                {"gst_no", QJsonObject{{"1000.zoho-refresh-R2", "zoho-secret-0001"}}}}}}});
    });
    a = run("books_contacts");
    ASSERT_FALSE(a.isError) << a.text;
    for (const char *s : {"zoho-access-SECRET1", "zoho-refresh", "zoho-secret"})
        EXPECT_FALSE(a.text.contains(s)) << a.text;
    EXPECT_EQ(a.json()["contacts"][0]["name"], "token Zoho-oauthtoken [hidden]");

    server->on("GET", "/books/v3/contacts", [](const RecordedRequest &r) {
        return FakeReply::json(QJsonObject{{"message", "denied for " + QString::fromUtf8(r.header("Authorization"))}}, 403);
    });
    a = run("books_contacts");
    EXPECT_EQ(a.text, "Zoho Books refused the request: denied for Zoho-oauthtoken [hidden]");
}

TEST_F(BooksApi, AStoredRegionOutsideZohoSendsNothing)
{
    connect(zoho());
    QByteArray file = readFile(VELTO_HOME + "/books.json");
    file.replace("\"region\":\"in\"", "\"region\":\"attacker.example\"");
    home->write(".velto/books.json", file);
    grant();
    for (const char *tool : {"books_contacts", "books_invoices", "books_accounts"}) {
        const Answer a = run(tool);
        EXPECT_TRUE(a.isError);
        EXPECT_EQ(a.text, "The Zoho region of Acme Traders (attacker.example) is not one of Zoho's data centres: in, "
                          "com, eu or au. Connect the books again with books_connect.");
    }
    EXPECT_TRUE(server->requests().isEmpty());
}

} // namespace
