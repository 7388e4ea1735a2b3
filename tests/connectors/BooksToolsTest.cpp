// The six books tools: their table, the arguments they read, what each sends
// to each service, and the invoice the CA approves before it is raised.
#include "BooksFixture.h"

using namespace BooksTest;

namespace {

using BooksToolCalls = BooksFixture;

TEST(BooksDefinitions, SixToolsInTheirOrderWithTheirSchemas)
{
    const QJsonArray tools = BooksTools::definitions(&Tool::obj);
    QStringList names;
    for (const QJsonValue &t : tools) {
        names << t["name"].toString();
        EXPECT_EQ(t.toObject().keys(), (QStringList{"description", "inputSchema", "name"}));
    }
    EXPECT_EQ(names, (QStringList{"books_connections", "books_connect", "books_contacts", "books_invoices",
                                  "books_accounts", "books_create_invoice"}));
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()), BooksTools::names());

    EXPECT_EQ(tools[0]["inputSchema"], (QJsonObject{{"type", "object"}, {"properties", QJsonObject()}}));
    EXPECT_EQ(tools[0]["description"], "The cloud books connected on this computer \u2014 Zoho Books or QuickBooks "
                                       "Online \u2014 and which client each belongs to. Call this before the other "
                                       "books tools.");
    const QJsonObject connect = tools[1]["inputSchema"].toObject();
    EXPECT_EQ(connect["required"], (QJsonArray{"client", "vendor", "organisation", "client_id", "client_secret",
                                              "refresh_token"}));
    EXPECT_EQ(connect["properties"]["vendor"], (QJsonObject{{"type", "string"}, {"enum", QJsonArray{"zoho", "quickbooks"}}}));
    EXPECT_EQ(connect["properties"]["client_secret"], (QJsonObject{{"type", "string"}}));
    EXPECT_EQ(tools[3]["inputSchema"]["properties"]["limit"],
              (QJsonObject{{"type", "integer"}, {"description", "default 50, up to 200"}}));
    EXPECT_EQ(tools[4]["inputSchema"]["properties"]["client"],
              (QJsonObject{{"type", "string"}, {"description", "the client whose books; omit when only one is connected"}}));
    EXPECT_FALSE(tools[4]["inputSchema"].toObject().contains("required"));
    const QJsonObject create = tools[5]["inputSchema"].toObject();
    EXPECT_EQ(create["required"], (QJsonArray{"customer_id", "line_items"}));
    EXPECT_EQ(create["properties"]["line_items"],
              (QJsonObject{{"type", "array"},
                           {"description", "each with name, quantity and rate"},
                           {"items", QJsonObject{{"type", "object"},
                                                 {"properties", QJsonObject{{"name", QJsonObject{{"type", "string"}}},
                                                                            {"quantity", QJsonObject{{"type", "number"}}},
                                                                            {"rate", QJsonObject{{"type", "number"}}}}},
                                                 {"required", QJsonArray{"name", "quantity", "rate"}}}}}));
}

TEST(BooksValues, NumbersAndPaise)
{
    const struct {
        QJsonValue in;
        std::optional<double> out;
    } numbers[] = {
        {150, 150.0},      {2.5, 2.5},          {" 2\t", 2.0},         {"-1.25", -1.25}, {"1,200", std::nullopt},
        {"", std::nullopt}, {"two", std::nullopt}, {"1e3", 1000.0},    {true, std::nullopt},
        {QJsonValue(), std::nullopt}, {"nan", std::nullopt}, {"2\n", std::nullopt},
    };
    for (const auto &n : numbers)
        EXPECT_EQ(BooksTools::number(n.in), n.out) << QJsonDocument(QJsonArray{n.in}).toJson().toStdString();

    const std::pair<double, double> money[] = {
        {3 * 1.1, 3.3}, {1.005, 1.01}, {2.675, 2.68}, {-1.005, -1.01}, {1180, 1180}, {0.004, 0}, {99.995, 100},
    };
    for (const auto &[in, out] : money)
        EXPECT_EQ(BooksTools::paise(in), out) << in;

    EXPECT_EQ(BooksTools::trimmed({{"a", QJsonValue(1)}, {"b", std::nullopt}, {"c", QJsonValue()}}),
              (QJsonObject{{"a", 1}, {"c", QJsonValue()}}));
}

TEST_F(BooksToolCalls, ConnectionsAreListedWithoutSecretsAndUnknownToolsRefused)
{
    Answer a = run("books_connections");
    EXPECT_FALSE(a.isError);
    EXPECT_EQ(a.text, "No cloud books are connected yet. books_connect adds one, with credentials the CA makes in "
                      "their own Zoho or Intuit account.");
    connect(zoho());
    connect(quickbooks());
    a = run("books_connections");
    EXPECT_FALSE(a.isError);
    EXPECT_EQ(a.json(), (QJsonObject{{"connections", QJsonArray{QJsonObject{{"client", "Acme Traders"},
                                                                            {"vendor", "Zoho Books"},
                                                                            {"organisation", "60001"}},
                                                                QJsonObject{{"client", "Bharat Steels"},
                                                                            {"vendor", "QuickBooks Online"},
                                                                            {"organisation", "9130350"}}}}}));

    a = run("books_delete");
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "Unknown books tool: books_delete");
    a = run("books_contacts");
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "Say whose books: Acme Traders (Zoho Books), Bharat Steels (QuickBooks Online).");
    EXPECT_TRUE(server->requests().isEmpty());
}

TEST_F(BooksToolCalls, LimitsAreClampedAndOnlyIntegralNumbersCount)
{
    connect(zoho());
    grant();
    server->on("GET", "/books/v3/contacts", FakeReply::json(QJsonObject{{"contacts", QJsonArray()}}));
    server->on("GET", "/books/v3/chartofaccounts", FakeReply::json(QJsonObject{{"chartofaccounts", "oops"}}));
    const struct {
        const char *tool;
        QJsonValue limit;
        QString sent;
    } cases[] = {
        {"books_contacts", 0, "1"},      {"books_contacts", 500, "200"},     {"books_contacts", 25.5, "50"},
        {"books_contacts", "25", "50"},  {"books_contacts", 25.0, "25"},     {"books_contacts", -3, "1"},
        {"books_accounts", QJsonValue(), "100"}, {"books_accounts", 150, "150"},
    };
    for (const auto &c : cases) {
        server->clearRequests();
        QJsonObject args;
        if (!c.limit.isNull())
            args["limit"] = c.limit;
        const Answer a = run(c.tool, args);
        ASSERT_FALSE(a.isError) << a.text;
        EXPECT_EQ(a.json()["count"], 0) << "a reply without the list gives none";
        ASSERT_EQ(apiRequests().size(), 1);
        EXPECT_EQ(apiRequests()[0].queryItems().queryItemValue("per_page"), c.sent) << c.tool << " " << c.sent;
    }
    server->clearRequests();
    run("books_contacts", {{"search", "Zen ith"}});
    EXPECT_EQ(apiRequests()[0].query, "organization_id=60001&per_page=50&search_text=Zen%20ith");
}

TEST_F(BooksToolCalls, QuickBooksInvoicesFilterOnlyOnBothDatesWrittenAsIso)
{
    connect(quickbooks());
    grant();
    server->on("GET", "/v3/company/9130350/query",
               FakeReply::json(QJsonObject{
                   {"QueryResponse",
                    QJsonObject{{"Invoice", QJsonArray{QJsonObject{{"DocNumber", "1001"}, {"TxnDate", "2025-04-03"},
                                                                   {"CustomerRef", QJsonObject{{"value", "58"}, {"name", "Zenith"}}},
                                                                   {"TotalAmt", 5900}, {"Balance", 5900}}}}}}}));
    const struct {
        QJsonObject args;
        QString statement;
    } reads[] = {
        {{{"from", "2025-04-01"}, {"to", "2025-04-30"}, {"status", "paid"}},
         "SELECT * FROM Invoice WHERE TxnDate >= '2025-04-01' AND TxnDate <= '2025-04-30' MAXRESULTS 50"},
        {{{"from", "2025-04-01"}, {"limit", 10}}, "SELECT * FROM Invoice MAXRESULTS 10"},
    };
    for (const auto &r : reads) {
        server->clearRequests();
        const Answer a = run("books_invoices", r.args);
        ASSERT_FALSE(a.isError) << a.text;
        EXPECT_EQ(a.json()["invoices"][0], (QJsonObject{{"number", "1001"}, {"date", "2025-04-03"}, {"party", "Zenith"},
                                                        {"total", 5900}, {"balance", 5900}}));
        EXPECT_EQ(apiRequests()[0].queryItems().queryItemValue("query", QUrl::FullyDecoded), r.statement);
    }
    for (const QJsonObject &bad : {QJsonObject{{"from", "01-04-2025"}, {"to", "2025-04-30"}},
                                   QJsonObject{{"from", "2025-04-01"}, {"to", "2025-04-30' OR 1=1 --"}},
                                   QJsonObject{{"to", "2025-02-30"}}}) {
        server->clearRequests();
        const Answer a = run("books_invoices", bad);
        EXPECT_TRUE(a.isError);
        EXPECT_EQ(a.text, "from and to must be dates written YYYY-MM-DD. Nothing was asked of QuickBooks Online.");
        EXPECT_TRUE(server->requests().isEmpty());
    }
}

TEST_F(BooksToolCalls, AZohoInvoiceIsShownExactlyAndRaisedOnlyOnYes)
{
    connect(zoho());
    grant();
    server->on("POST", "/books/v3/invoices",
               FakeReply::json(QJsonObject{{"code", 0}, {"invoice", QJsonObject{{"invoice_number", "INV-000123"}}}}, 201));
    const QJsonObject args{{"client", "acme"},
                           {"customer_id", "  4600000000123 "},
                           {"date", "2025-04-05"},
                           {"notes", "Thank you / dhanyavaad"},
                           {"line_items", QJsonArray{QJsonObject{{"name", "Audit fee"}, {"quantity", "2"}, {"rate", 150}},
                                                     QJsonObject{{"quantity", 1}, {"rate", "1.1"}}}}};
    const QJsonObject body{{"customer_id", "4600000000123"},
                           {"date", "2025-04-05"},
                           {"notes", "Thank you / dhanyavaad"},
                           {"line_items", QJsonArray{QJsonObject{{"name", "Audit fee"}, {"quantity", 2}, {"rate", 150}},
                                                     QJsonObject{{"name", ""}, {"quantity", 1}, {"rate", 1.1}}}}};

    {
        DialogAnswers answers;
        answers.confirm(false);
        const Answer a = run("books_create_invoice", args);
        EXPECT_FALSE(a.isError) << "a decline is not an error";
        EXPECT_EQ(a.text, "The CA did not approve the invoice. Nothing was written to Zoho Books.");
        EXPECT_TRUE(server->requests().isEmpty()) << "a declined write sends nothing, not even the sign-in";
        ASSERT_EQ(answers.shownConfirms.size(), 1u);
        const Dialogs::Confirm &c = answers.shownConfirms[0];
        EXPECT_EQ(c.title, "Raise this invoice in Acme Traders's Zoho Books?");
        EXPECT_EQ(c.text, "This is exactly what will be sent. An invoice raised in a client's books is theirs to see, "
                          "so read it before you approve.");
        EXPECT_EQ(c.approve, "Raise it");
        EXPECT_EQ(c.cancel, "Cancel");
        EXPECT_EQ(QJsonDocument::fromJson(c.detail.toUtf8()).object(), body);
        EXPECT_TRUE(c.detail.contains("Thank you / dhanyavaad")) << "slashes stay as they are";
    }
    {
        DialogAnswers answers;
        answers.confirm(true);
        const Answer a = run("books_create_invoice", args);
        ASSERT_FALSE(a.isError) << a.text;
        EXPECT_EQ(a.json(), (QJsonObject{{"created", true},
                                         {"invoice_number", "INV-000123"},
                                         {"note", "Raised in Zoho Books. Check it there before telling the client."}}));
        const QList<RecordedRequest> sent = apiRequests();
        ASSERT_EQ(sent.size(), 1);
        EXPECT_EQ(sent[0].method, "POST");
        EXPECT_EQ(sent[0].path, "/books/v3/invoices");
        EXPECT_EQ(sent[0].query, "organization_id=60001");
        EXPECT_EQ(sent[0].header("Content-Type"), "application/json");
        EXPECT_EQ(sent[0].header("Accept"), "application/json");
        EXPECT_EQ(sent[0].header("Authorization"), "Zoho-oauthtoken access-token-0001");
        EXPECT_FALSE(sent[0].body.contains('\n')) << "compact";
        EXPECT_EQ(sent[0].json(), body);
        EXPECT_EQ(QJsonDocument::fromJson(answers.shownConfirms[0].detail.toUtf8()).object(), sent[0].json())
            << "the CA saw what was sent";
    }
}

TEST_F(BooksToolCalls, AQuickBooksInvoiceRoundsLineAmountsToPaiseAndChecksItsDate)
{
    connect(quickbooks());
    grant();
    server->on("POST", "/v3/company/9130350/invoice", FakeReply::json(QJsonObject{{"time", "2025-04-05"}}));
    const QJsonObject args{{"customer_id", "58"},
                           {"date", "2025-04-05"},
                           {"notes", "not for QuickBooks"},
                           {"line_items", QJsonArray{QJsonObject{{"name", "Steel rods"}, {"quantity", 3}, {"rate", 1.1}},
                                                     QJsonObject{{"name", "Cutting"}, {"quantity", "1"}, {"rate", 1.005}}}}};
    DialogAnswers answers;
    answers.confirm(true);
    const Answer a = run("books_create_invoice", args);
    ASSERT_FALSE(a.isError) << a.text;
    EXPECT_EQ(a.json()["invoice_number"], "") << "a reply without the invoice still counts";
    EXPECT_EQ(a.json()["note"], "Raised in QuickBooks Online. Check it there before telling the client.");

    const QJsonObject expected{
        {"CustomerRef", QJsonObject{{"value", "58"}}},
        {"TxnDate", "2025-04-05"},
        {"Line", QJsonArray{QJsonObject{{"DetailType", "SalesItemLineDetail"}, {"Amount", 3.3}, {"Description", "Steel rods"},
                                        {"SalesItemLineDetail", QJsonObject{{"Qty", 3}, {"UnitPrice", 1.1}}}},
                            QJsonObject{{"DetailType", "SalesItemLineDetail"}, {"Amount", 1.01}, {"Description", "Cutting"},
                                        {"SalesItemLineDetail", QJsonObject{{"Qty", 1}, {"UnitPrice", 1.005}}}}}}};
    const QList<RecordedRequest> sent = apiRequests();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].path, "/v3/company/9130350/invoice");
    EXPECT_EQ(sent[0].query, "");
    EXPECT_EQ(sent[0].header("Authorization"), "Bearer access-token-0001");
    EXPECT_EQ(sent[0].json(), expected);
    EXPECT_TRUE(sent[0].body.contains("\"Amount\":3.3,")) << sent[0].body;
    ASSERT_EQ(answers.shownConfirms.size(), 1u);
    EXPECT_EQ(answers.shownConfirms[0].title, "Raise this invoice in Bharat Steels's QuickBooks Online?");
    EXPECT_TRUE(answers.shownConfirms[0].detail.contains("\"Amount\": 3.3,")) << answers.shownConfirms[0].detail;
    EXPECT_FALSE(answers.shownConfirms[0].detail.contains("not for QuickBooks"));

    // A refused invoice: the service's own fault shape is not read for writes.
    server->on("POST", "/v3/company/9130350/invoice",
               FakeReply::json(QJsonObject{{"Fault", QJsonObject{{"Error", QJsonArray{QJsonObject{{"Message", "Bad"}}}}}}}, 400));
    answers.confirm(true);
    const Answer refused = run("books_create_invoice", args);
    EXPECT_TRUE(refused.isError);
    EXPECT_EQ(refused.text, "QuickBooks Online refused the invoice: HTTP 400. Nothing was created.");

    // Sent, and the connection failed before the answer: it may be there.
    FakeReply drop;
    drop.drop = true;
    server->on("POST", "/v3/company/9130350/invoice", drop);
    answers.confirm(true);
    const Answer lost = run("books_create_invoice", args);
    EXPECT_TRUE(lost.isError);
    EXPECT_TRUE(lost.text.startsWith("The connection to QuickBooks Online failed before its whole answer arrived: "))
        << lost.text;
    EXPECT_TRUE(lost.text.endsWith(" The invoice was sent and may have been created in QuickBooks Online: check "
                                   "there before trying again."))
        << lost.text;
    EXPECT_FALSE(lost.text.contains("Nothing was created"));
}

TEST_F(BooksToolCalls, AnInvoiceThatCannotBeRaisedStopsBeforeTheCaIsAsked)
{
    connect(quickbooks());
    const QJsonArray good{QJsonObject{{"name", "Fee"}, {"quantity", 1}, {"rate", 100}}};
    const QString lines = "line_items is required, with a name, quantity and rate on each.";
    const QString numeric = "Every line needs a numeric quantity and rate. Nothing was sent to QuickBooks Online.";
    const struct {
        QJsonObject args;
        QString sentence;
    } cases[] = {
        {{{"line_items", good}}, "customer_id is required \u2014 take it from books_contacts."},
        {{{"customer_id", " \t"}, {"line_items", good}}, "customer_id is required \u2014 take it from books_contacts."},
        {{{"customer_id", "58"}}, lines},
        {{{"customer_id", "58"}, {"line_items", QJsonArray()}}, lines},
        {{{"customer_id", "58"}, {"line_items", QJsonObject{{"name", "Fee"}}}}, lines},
        {{{"customer_id", "58"}, {"line_items", QJsonArray{good[0], "Fee"}}}, lines},
        {{{"customer_id", "58"}, {"line_items", QJsonArray{QJsonObject{{"quantity", "two"}, {"rate", 100}}}}}, numeric},
        {{{"customer_id", "58"}, {"line_items", QJsonArray{QJsonObject{{"quantity", 1}}}}}, numeric},
        {{{"customer_id", "58"}, {"date", "5 April 2025"}, {"line_items", good}},
         "date must be written YYYY-MM-DD. Nothing was sent to QuickBooks Online."},
    };
    for (const auto &c : cases) {
        const Answer a = run("books_create_invoice", c.args);
        EXPECT_TRUE(a.isError);
        EXPECT_EQ(a.text, c.sentence);
    }
    EXPECT_TRUE(server->requests().isEmpty());

    // Approved, but the sign-in fails: nothing is created.
    server->on("POST", "/oauth2/v1/tokens/bearer", FakeReply::json(QJsonObject{{"error", "invalid_grant"}}, 400));
    DialogAnswers answers;
    answers.confirm(true);
    const Answer a = run("books_create_invoice", {{"customer_id", "58"}, {"line_items", good}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "QuickBooks Online refused the refresh token (invalid_grant). The CA has to connect the books again.");
    EXPECT_TRUE(apiRequests().isEmpty());
}

} // namespace
