// The ERP tools as the engine reaches them: every call goes through the tool
// server's dispatch to a fake client ERP over HTTPS.
#include "ErpToolsFixture.h"
#include "core/Characters.h"
#include "erp/ErpText.h"
#include "erp/ErpConnect.h"
#include "core/JsonFields.h"
#include "erp/ErpTools.h"
#include "platform/Dialogs.h"
#include "platform/Http.h"
#include "toolserver/BrowserMCP.h"
#include "toolserver/Families.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QUrlQuery>

using namespace TestKit;

namespace {

TEST_F(ErpToolsTest, WithNoConnectionOnlyTheListAnswersWithoutAnError)
{
    Answer a = run("erp_connections");
    EXPECT_FALSE(a.isError);
    EXPECT_EQ(a.text, "No client's ERP is connected. If the client sent the CA a code from their ERP (Settings → CA & "
                      "Velto), ask the CA for it and call erp_connect_code — never ask for a token. Otherwise the CA "
                      "sends an approval link from Velto → Ledgora ERP….");
    for (const QString tool : {"erp_resources", "erp_list", "erp_prepare", "erp_gstr1"}) {
        a = run(tool, {{"resource", "sells"}});
        EXPECT_TRUE(a.isError) << tool.toStdString();
        EXPECT_EQ(a.text, "No client's Ledgora ERP is connected. The CA connects one in Velto → Ledgora ERP… — the "
                          "client approves it in their own ERP.");
    }
    // The cloud tools choose their own inputs: no connection is picked for them.
    a = run("gstr2b_reconcile", {{"month", "2026-08"}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, " Name the client or the file. Without a connected ERP, pass books_file (the purchase register in "
                      "the clients folder) and gstin.");
    a = run("bank_statement");
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "No file given. Name the client or the file.");
    EXPECT_TRUE(erp->server.requests().isEmpty());
}

TEST_F(ErpToolsTest, ConnectionsAreListedOneLineEachWithoutTokens)
{
    const double expires = 1950000000;
    connect("Quenby Foods", kGstin, {"read", "write:sells"}, expires);
    connect("Bharat Steels", kOther, {"read"});
    const Answer a = run("erp_connections");
    EXPECT_FALSE(a.isError);
    const QString until =
        QLocale().toString(QDateTime::fromMSecsSinceEpoch(qint64(expires) * 1000), QStringLiteral("d MMM yy"));
    EXPECT_EQ(a.text, "Bharat Steels — GSTIN " + kOther + " — ERP business Bharat Steels LLP, approved by Asha Mehta "
                      "— read only\n"
                      "Quenby Foods — GSTIN " + kGstin + " — ERP business Quenby Foods LLP, approved by Asha Mehta "
                      "— read, raise invoices — until " + until);
    EXPECT_FALSE(a.text.contains("tok-"));
}

TEST_F(ErpToolsTest, AClientsCodeConnectsItsErp)
{
    cloud->setClients(QJsonArray{QJsonObject{{"id", 42}, {"company_name", "Quenby Foods"}, {"gstin", kGstin}}});
    erp->answer("connect/redeem", QJsonObject{{"token", "erp-token"},
                                              {"business", "Quenby Foods LLP"},
                                              {"business_gstin", kGstin},
                                              {"approved_by", "Asha"},
                                              {"scopes", QJsonArray{"read", "write:sells"}}});
    Answer a = run("erp_connect_code", {{"code", "abcd-efgh"}, {"erp_address", "  " + erp->base() + "  "}});
    EXPECT_FALSE(a.isError);
    EXPECT_EQ(a.text, "Connected: Quenby Foods — GSTIN " + kGstin + " — ERP business Quenby Foods LLP, attached by "
                      "Asha — read, raise invoices. Use client \"" + kGstin + "\" with the erp_ tools.");
    EXPECT_FALSE(a.text.contains("erp-token"));
    ASSERT_EQ(ErpVault::all().size(), 1u);

    a = run("erp_connect_code", {{"code", "ABC-DEF"}, {"erp_address", erp->base()}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "Not connected: The code is 8 letters and numbers, like ABCD-EFGH.");

    // No address, or only spaces: the default ERP address (never reached here).
    QList<QUrl> sent;
    const auto savedSend = Http::Hooks::send;
    Http::Hooks::send = [&sent](const Http::Request &r, Http::Done done) {
        sent << r.url;
        if (r.url.path() == "/cli/erp_ticket") {
            Http::Response ok;
            ok.status = 200;
            ok.body = R"({"ticket":"id-ticket"})";
            return done(ok);
        }
        Http::Response none;
        none.error = "offline";
        done(none);
    };
    for (const QJsonValue &address : {QJsonValue(), QJsonValue("   "), QJsonValue(7)}) {
        QJsonObject args{{"code", "ABCDEFGH"}};
        if (!address.isUndefined())
            args.insert("erp_address", address);
        a = run("erp_connect_code", args);
        EXPECT_TRUE(a.isError);
        EXPECT_TRUE(a.text.startsWith("Not connected: Could not reach erp.hallix.in")) << a.text.toStdString();
        ASSERT_FALSE(sent.isEmpty());
        EXPECT_EQ(sent.last().toString(), ErpConnect::defaultBase + "/api/cli/v1/connect/redeem");
    }
    Http::Hooks::send = savedSend;
}

TEST_F(ErpToolsTest, TheConnectionIsSettledInOrderBeforeAnythingIsRead)
{
    const ErpConnection c = connect();
    connect("Bharat Steels", kOther);

    // 1. Which client.
    Answer a = run("erp_resources");
    EXPECT_TRUE(a.isError);
    EXPECT_TRUE(a.text.startsWith("More than one client's ERP is connected — pass `client`: ")) << a.text.toStdString();
    // 2. Its token, before the resource name is looked at.
    ErpTools::tokenFor = [](const QString &) { return std::nullopt; };
    a = run("erp_list", {{"client", "quenby"}, {"resource", "Sells!"}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "The connection for Quenby Foods is missing its token on this computer. The CA reconnects from "
                      "Velto → Ledgora ERP….");
    ErpTools::tokenFor = &ErpVault::token;
    // 3. The resource name.
    for (const QString bad : {"Sells", "sell s", "sells!", "sells.x", "séll"}) {
        a = run("erp_schema", {{"client", kGstin}, {"resource", bad}});
        EXPECT_TRUE(a.isError);
        EXPECT_EQ(a.text, "Resource names are lowercase letters and underscores, e.g. sells. Call erp_resources.")
            << bad.toStdString();
    }
    EXPECT_TRUE(erp->server.requests().isEmpty()) << "nothing is asked before the connection is settled";
    // Good names, trimmed of spaces and tabs, and the empty name pass.
    for (const QString good : {" sell_lines\t", "tax-rates", "a1"}) {
        a = run("erp_schema", {{"client", kGstin}, {"resource", good}});
        EXPECT_FALSE(a.isError) << a.text.toStdString();
        EXPECT_EQ(asks().last().path, "/erp/api/cli/v1/schema/" + good.trimmed());
    }
    a = run("erp_schema", {{"client", kGstin}, {"resource", " "}});
    EXPECT_EQ(a.text, "resource is required.");
    EXPECT_TRUE(a.isError);
    // 4. The ERP's identity, once for all these calls: it is fresh.
    EXPECT_EQ(whoamis(), 1);
    EXPECT_EQ(erp->server.requests().first().header("Authorization"), "Bearer tok-" + kGstin);
    EXPECT_TRUE(ErpTools::verified.contains(c.id));
}

TEST_F(ErpToolsTest, AnErpThatNoLongerOpensTheClientsBooksIsStopped)
{
    const ErpConnection c = connect();
    erp->answer("whoami", QJsonObject{{"business", "Other Works"}, {"business_gstin", kOther.toLower()}});
    Answer a = run("erp_resources");
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "Stopped: Quenby Foods's GSTIN is " + kGstin + ", but this ERP connection now opens the books of "
                      "Other Works (GSTIN " + kOther + "). Nothing was read. Tell the CA; they should remove this "
                      "connection and ask the client to approve again.");
    EXPECT_TRUE(asks().isEmpty());
    EXPECT_FALSE(ErpTools::verified.contains(c.id));

    erp->answer("whoami", QJsonObject{{"business", 17}});
    a = run("erp_resources");
    EXPECT_TRUE(a.text.contains("now opens the books of 17 (GSTIN none)")) << a.text.toStdString();
    erp->answer("whoami", QJsonObject{});
    a = run("erp_resources");
    EXPECT_TRUE(a.text.contains("now opens the books of another business (GSTIN none)")) << a.text.toStdString();

    // A revoked token: the header and the client's sentence.
    erp->fail(ErpFakes::Failure::Unauthorized);
    a = run("erp_resources");
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, header() + "The client's approval has been removed or has expired. Nothing can be read until "
                                 "they approve again — the CA reconnects from Velto → Ledgora ERP….");
    EXPECT_TRUE(asks().isEmpty());

    // The ERP may spell its GSTIN in lower case.
    erp->fail(ErpFakes::Failure::None);
    erp->answer("whoami", QJsonObject{{"business_gstin", kGstin.toLower()}});
    a = run("erp_resources");
    EXPECT_FALSE(a.isError) << a.text.toStdString();
}

TEST_F(ErpToolsTest, AVerifiedConnectionIsTrustedForTenMinutes)
{
    const ErpConnection c = connect();
    const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    ErpTools::verified[c.id] = now - 599;
    EXPECT_FALSE(run("erp_resources").isError);
    EXPECT_EQ(whoamis(), 0);
    ErpTools::verified[c.id] = now - 600;
    EXPECT_FALSE(run("erp_resources").isError);
    EXPECT_EQ(whoamis(), 1);
    EXPECT_GE(ErpTools::verified[c.id], now);
}

TEST_F(ErpToolsTest, ListQueriesFollowTheirRules)
{
    connect();
    struct Case {
        QJsonObject args;
        QList<QPair<QString, QString>> expected; // name, value; an empty value: not sent
    };
    const QList<Case> cases = {
        {{}, {{"limit", "100"}, {"desc", "1"}, {"offset", ""}, {"filters", ""}, {"search", ""}}},
        {{{"limit", 0}}, {{"limit", "1"}}},
        {{{"limit", -5}}, {{"limit", "1"}}},
        {{{"limit", 1000}}, {{"limit", "500"}}},
        {{{"limit", "25"}}, {{"limit", "25"}}},
        {{{"limit", 12.9}}, {{"limit", "12"}}},
        {{{"limit", "25 "}}, {{"limit", "100"}}},
        {{{"offset", 0}}, {{"offset", ""}}},
        {{{"offset", "40"}}, {{"offset", "40"}}},
        {{{"oldest_first", true}}, {{"desc", "0"}}},
        {{{"oldest_first", "true"}}, {{"desc", "1"}}},
        {{{"search", "Acme & Co"}, {"from", "2026-08-01"}, {"to", ""}},
         {{"search", "Acme & Co"}, {"from", "2026-08-01"}, {"to", ""}}},
        {{{"filters", QJsonArray{QJsonObject{{"field", "payment_status"}, {"value", "due"}},
                                 QJsonObject{{"field", " payment_status "}, {"value", "partial"}},
                                 QJsonObject{{"field", "  "}, {"value", "x"}},
                                 QJsonObject{{"field", "location"}, {"value", QJsonValue::Null}},
                                 QJsonObject{{"field", "contact_id"}, {"value", 12}}}}},
         {{"filters", R"({"contact_id":12,"payment_status":["due","partial"]})"}}},
        {{{"filters", QJsonObject{{"_", "x"}}}}, {{"filters", ""}}},
        {{{"filters", QJsonObject{{"_", "x"}, {"status", "final"}}}}, {{"filters", R"({"status":"final"})"}}},
    };
    for (const Case &c : cases) {
        QJsonObject args = c.args;
        args.insert("resource", "sells");
        const Answer a = run("erp_list", args);
        ASSERT_FALSE(a.isError) << a.text.toStdString();
        EXPECT_EQ(asks().last().path, "/erp/api/cli/v1/list/sells");
        const QUrlQuery q = lastQuery();
        for (const auto &[name, value] : c.expected) {
            const QString sent = q.queryItemValue(name, QUrl::FullyDecoded);
            EXPECT_EQ(sent, value) << name.toStdString() << " for " << show(c.args);
            EXPECT_EQ(q.hasQueryItem(name), !value.isEmpty()) << name.toStdString() << " for " << show(c.args);
        }
    }
    EXPECT_EQ(run("erp_list", {{"resource", ""}}).text, "resource is required.");
}

TEST_F(ErpToolsTest, ListRowsKeepOnlyTheColumnsAsked)
{
    connect();
    const QJsonArray rows{QJsonObject{{"id", 1}, {"invoice_no", "S-1"}, {"total", 100}},
                          QJsonObject{{"id", 2}, {"total", 50}}};
    erp->answer("list/sells", QJsonObject{{"success", true}, {"rows", rows}, {"total", 2}});
    Answer a = run("erp_list", {{"resource", "sells"}, {"columns", QJsonArray{"invoice_no", "id", 5}}});
    ASSERT_FALSE(a.isError);
    ASSERT_TRUE(a.text.startsWith(header()));
    EXPECT_EQ(QJsonDocument::fromJson(a.text.mid(header().size()).toUtf8()).object(),
              (QJsonObject{{"rows", QJsonArray{QJsonObject{{"id", 1}, {"invoice_no", "S-1"}}, QJsonObject{{"id", 2}}}},
                           {"total", 2}}));
    EXPECT_FALSE(a.text.contains("success"));
    EXPECT_FALSE(lastQuery().hasQueryItem("columns"));

    a = run("erp_list", {{"resource", "sells"}, {"columns", QJsonArray{"nothing"}}});
    EXPECT_EQ(QJsonDocument::fromJson(a.text.mid(header().size()).toUtf8())["rows"],
              (QJsonArray{QJsonObject(), QJsonObject()}));
    a = run("erp_list", {{"resource", "sells"}, {"columns", QJsonArray()}});
    EXPECT_EQ(QJsonDocument::fromJson(a.text.mid(header().size()).toUtf8())["rows"], rows);
    // Other reads are indented, with sorted keys.
    EXPECT_TRUE(a.text.startsWith(header() + "{\n    \"rows\": [")) << a.text.toStdString();
}

TEST_F(ErpToolsTest, GstGetAndTrialBalanceAskTheirOwnWay)
{
    connect();
    const QString kindRule = "kind is sales or purchases.", idRule = "id is required.";
    const QList<std::tuple<QString, QJsonObject, QString>> refused = {
        {"erp_gst", {{"from", "2026-08-01"}}, kindRule},
        {"erp_gst", {{"kind", "Sales"}}, kindRule},
        {"erp_gst", {{"kind", "b2b"}}, kindRule},
        {"erp_get", {{"resource", "sells"}}, idRule},
        {"erp_get", {{"resource", "sells"}, {"id", 0}}, idRule},
        {"erp_get", {{"resource", "sells"}, {"id", "0"}}, idRule},
        {"erp_get", {{"resource", "sells"}, {"id", -2}}, idRule},
        {"erp_get", {{"resource", "sells"}, {"id", "x"}}, idRule},
    };
    for (const auto &[tool, args, sentence] : refused) {
        const Answer a = run(tool, args);
        EXPECT_TRUE(a.isError);
        EXPECT_EQ(a.text, sentence) << show(args);
    }
    EXPECT_TRUE(asks().isEmpty()) << "refused before anything was asked";

    erp->answer("reports/gst/sales", QJsonObject{{"success", true}, {"totals", QJsonObject{{"taxable", 1000}}}, {"b2b", 2}});
    Answer a = run("erp_gst", {{"kind", "sales"}, {"to", "2026-08-31"}, {"invoice_detail", true}});
    EXPECT_FALSE(a.isError);
    EXPECT_EQ(a.text, header() + R"({"b2b":2,"totals":{"taxable":1000}})");
    EXPECT_EQ(lastQuery().toString(), "detail=1&from=&to=2026-08-31");
    run("erp_gst", {{"kind", "purchases"}, {"invoice_detail", "true"}});
    EXPECT_EQ(asks().last().path, "/erp/api/cli/v1/reports/gst/purchases");
    EXPECT_EQ(lastQuery().toString(), "from=&to=");

    a = run("erp_get", {{"resource", "sells"}, {"id", "7"}});
    EXPECT_FALSE(a.isError);
    EXPECT_EQ(asks().last().path, "/erp/api/cli/v1/get/sells/7");
    run("erp_get", {{"resource", "sells"}, {"id", 9.7}});
    EXPECT_EQ(asks().last().path, "/erp/api/cli/v1/get/sells/9");

    run("erp_trial_balance", {{"from", ""}, {"to", "2026-03-31"}});
    EXPECT_EQ(asks().last().path, "/erp/api/cli/v1/accounting/trial-balance");
    EXPECT_EQ(lastQuery().toString(), "to=2026-03-31");
    run("erp_resources");
    EXPECT_EQ(asks().last().path, "/erp/api/cli/v1/resources");
    EXPECT_EQ(asks().last().method, "GET");
}

TEST_F(ErpToolsTest, FailuresAnswerTheHeaderAndOneSentence)
{
    connect();
    run("erp_resources"); // verified: the failures below hit the read itself
    const QString host = "127.0.0.1";
    const QList<QPair<ErpFakes::Failure, QString>> cases = {
        {ErpFakes::Failure::SuccessFalse, "Invoice date is in a locked period."},
        {ErpFakes::Failure::NotFoundMessage, "No sell with id 9."},
        {ErpFakes::Failure::NotFoundBare, "This ERP address does not have the Velto API (HTTP 404)."},
        {ErpFakes::Failure::ServerInner, "Database is busy."},
        {ErpFakes::Failure::ServerEmpty, "HTTP 500 from " + host + "."},
        {ErpFakes::Failure::NotJson, "The answer from " + host + " was not JSON (HTTP 200)."},
        {ErpFakes::Failure::RateLimited, "The ERP is rate-limiting (60 requests a minute). Wait a minute, and fetch "
                                         "larger pages rather than many small ones."},
    };
    for (const auto &[failure, sentence] : cases) {
        erp->fail(failure);
        const Answer a = run("erp_get", {{"resource", "sells"}, {"id", 9}});
        EXPECT_TRUE(a.isError) << sentence.toStdString();
        EXPECT_EQ(a.text, header() + sentence);
    }
}

TEST_F(ErpToolsTest, LongAnswersAreCutAtSixtyThousandCharactersNeverInsideOne)
{
    connect();
    const QString e = "e\u0301"; // one character, two code units
    const QString frame = header() + "{\n    \"note\": \"\"\n}";
    const int room = 60000 - Characters::count(frame);
    erp->answer("resources", QJsonObject{{"note", e.repeated(room)}});
    Answer a = run("erp_resources");
    EXPECT_FALSE(a.isError);
    EXPECT_EQ(Characters::count(a.text), 60000);
    EXPECT_FALSE(a.text.contains("cut at")) << "exactly 60000 characters stay whole";

    // One character more, anywhere: the cut falls inside the note.
    erp->answer("resources", QJsonObject{{"note", e.repeated(room + 1)}});
    a = run("erp_resources");
    EXPECT_TRUE(a.text.contains("cut at"));
    erp->answer("resources", QJsonObject{{"note", e.repeated(room + 40)}});
    a = run("erp_resources");
    EXPECT_FALSE(a.isError);
    const QString hint = "\n… cut at 60000 characters. Ask for fewer rows (limit), fewer columns (columns), or a "
                         "narrower from/to.";
    ASSERT_TRUE(a.text.endsWith(hint));
    const QString kept = a.text.chopped(hint.size());
    EXPECT_EQ(Characters::count(kept), 60000);
    EXPECT_TRUE(kept.endsWith(e)) << "the last character is whole";
    EXPECT_TRUE(kept.startsWith(header()));
}

TEST_F(ErpToolsTest, APreparedWriteIsADryRunWithAPendingId)
{
    connect("Quenby Foods", kGstin, {"read", "write:sells"});
    erp->answer("write/sells/create", QJsonObject{{"success", true}, {"result", QJsonObject{{"final_total", 118}}}});
    const QJsonObject data{{"contact_id", 12}, {"products", QJsonArray{QJsonObject{{"product_id", 3}, {"quantity", 1}}}}};
    const Answer a = run("erp_prepare", {{"resource", "sells"}, {"data", data}});
    ASSERT_FALSE(a.isError) << a.text.toStdString();
    const QRegularExpression shape(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(header() + "DRY RUN — nothing was written.\n\n{\n    \"final_total\": 118\n}\n\n"
                                              "pending_id: ") +
        "p[0-9a-f]{12}" +
        QRegularExpression::escape("\nShow the CA what this will do. When they want it, call erp_commit with this "
                                   "pending_id — Velto will ask them to approve it in a dialog.")));
    EXPECT_TRUE(shape.match(a.text).hasMatch()) << a.text.toStdString();
    ASSERT_EQ(ErpTools::pending.size(), 1);
    const ErpPending stored = ErpTools::pending.begin().value();
    EXPECT_EQ(stored.action, "create");
    EXPECT_EQ(stored.resource, "sells");
    EXPECT_EQ(stored.preview, QJsonObject({{"final_total", 118}}));

    // The same data as JSON text sends the same form, and the ERP is only asked to try.
    const QByteArray asObject = asks().last().body;
    run("erp_prepare", {{"resource", "sells"}, {"data", QString::fromUtf8(QJsonDocument(data).toJson())}});
    EXPECT_EQ(asks().last().body, asObject);
    const QUrlQuery form(QString::fromUtf8(asObject));
    EXPECT_EQ(form.queryItemValue("commit"), "0");
    EXPECT_EQ(QJsonDocument::fromJson(form.queryItemValue("data", QUrl::FullyDecoded).toUtf8()).object(), data);
    EXPECT_EQ(asks().last().method, "POST");
    EXPECT_EQ(asks().last().path, "/erp/api/cli/v1/write/sells/create");

    // No "result": an empty preview, still a pending id.
    erp->answer("write/sells/update", QJsonObject{{"ok", true}});
    const Answer u = run("erp_prepare", {{"resource", "sells"}, {"action", "update"}, {"data", R"({"id": 5})"}});
    EXPECT_TRUE(u.text.startsWith(header() + "DRY RUN — nothing was written.\n\n{\n}\n\npending_id: p"))
        << u.text.toStdString();
    EXPECT_EQ(ErpTools::pending.size(), 3);
}

TEST_F(ErpToolsTest, APrepareIsRefusedBeforeTheErpIsAskedToWrite)
{
    connect("Quenby Foods", kGstin, {"read"});
    Answer a = run("erp_prepare", {{"resource", "sells"}, {"action", "delete"}, {"data", 5}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, header() + "Quenby Foods allowed Velto to read only. Writing sells needs their approval — the CA "
                                 "sends a new request from Velto → Ledgora ERP… with \"raise invoices\" ticked, and the "
                                 "client ticks it when approving.");

    connect("Quenby Foods", kGstin, {"read", "write:sells"});
    const QString dataRule = "data must be a JSON object with the fields erp_schema lists.";
    const QList<QPair<QJsonObject, QString>> cases = {
        {{{"action", "Create"}, {"data", R"({"a":1})"}}, "action is create or update."},
        {{{"action", "update "}, {"data", R"({"a":1})"}}, "action is create or update."},
        {{{"data", QJsonObject()}}, dataRule},
        {{{"data", "{}"}}, dataRule},
        {{{"data", QJsonArray{1}}}, dataRule},
        {{{"data", "[1]"}}, dataRule},
        {{{"data", 5}}, dataRule},
        {{{"data", "contact 12"}}, dataRule},
        {{}, dataRule},
    };
    for (const auto &[args, sentence] : cases) {
        QJsonObject withResource = args;
        withResource.insert("resource", "sells");
        a = run("erp_prepare", withResource);
        EXPECT_TRUE(a.isError);
        EXPECT_EQ(a.text, sentence) << show(args);
    }
    EXPECT_TRUE(asks().isEmpty());

    // A refused dry run keeps nothing, whether the ERP says so in a 200 or in an error status.
    erp->fail(ErpFakes::Failure::SuccessFalse);
    a = run("erp_prepare", {{"resource", "sells"}, {"data", R"({"a":1})"}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, header() + "The ERP refused the dry run: Invoice date is in a locked period.\nFix the data "
                                 "(erp_schema says what it needs) and prepare again.");
    erp->fail(ErpFakes::Failure::ServerInner);
    a = run("erp_prepare", {{"resource", "sells"}, {"data", R"({"a":1})"}});
    EXPECT_TRUE(a.isError);
    EXPECT_TRUE(a.text.contains("The ERP refused the dry run: Database is busy.")) << a.text.toStdString();
    EXPECT_FALSE(a.text.contains("pending_id"));
    EXPECT_TRUE(ErpTools::pending.isEmpty());
}

TEST_F(ErpToolsTest, ACommitWritesOnlyWhatTheCaApproved)
{
    connect("Quenby Foods", kGstin, {"read", "write:sell_lines"});
    const QJsonObject preview{{"contact", "Acme Stores"}, {"final_total", 1180}};
    erp->answer("write/sell_lines/create", QJsonObject{{"result", preview}});
    const QString id = prepare({{"resource", "sell_lines"}, {"data", R"({"contact_id":12})"}});
    ASSERT_EQ(id.size(), 13);
    erp->answer("write/sell_lines/create", QJsonObject{{"success", true}, {"result", QJsonObject{{"id", 77}}}});

    Answer a = run("erp_commit", {{"pending_id", id}});
    EXPECT_FALSE(a.isError) << a.text.toStdString();
    EXPECT_EQ(a.text, "Written to Quenby Foods's books.\n\n{\n    \"id\": 77\n}");
    ASSERT_EQ(asked.size(), 1);
    const Dialogs::Confirm &d = asked.first();
    EXPECT_EQ(d.title, "Create sell lines for Quenby Foods?");
    EXPECT_EQ(d.text, "GSTIN " + kGstin + " ✓ matches the ERP business Quenby Foods LLP. The client approved this "
                      "connection (Asha Mehta). What is written is exactly the preview below — nothing else will be "
                      "sent.");
    EXPECT_EQ(d.approve, "Create");
    EXPECT_EQ(d.cancel, "Cancel");
    EXPECT_EQ(d.style, Dialogs::Style::Warning);
    EXPECT_EQ(d.detail, "Client     Quenby Foods\nGSTIN      " + kGstin + "\nParty      Acme Stores\n"
                        "TOTAL      ₹1,180.00\n");
    const RecordedRequest write = asks().last();
    EXPECT_EQ(write.method, "POST");
    const QUrlQuery form(QString::fromUtf8(write.body));
    EXPECT_EQ(form.queryItemValue("commit"), "1");
    EXPECT_EQ(form.queryItemValue("data", QUrl::FullyDecoded), R"({"contact_id":12})");
    EXPECT_EQ(write.header("Authorization"), "Bearer tok-" + kGstin);
    // The identity was checked afresh although it was fresh.
    EXPECT_EQ(whoamis(), 2);

    // Single use.
    a = run("erp_commit", {{"pending_id", id}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "No prepared write with that id — it may have expired (20 minutes) or already been used. Call "
                      "erp_prepare again.");
    EXPECT_EQ(run("erp_commit").text, a.text);
    EXPECT_EQ(asked.size(), 1);
}

TEST_F(ErpToolsTest, ADeclinedOrRefusedWriteWritesNothingAndSpendsTheId)
{
    connect("Quenby Foods", kGstin, {"read", "write:sells"});
    const QString noId = "No prepared write with that id — it may have expired (20 minutes) or already been used. "
                         "Call erp_prepare again.";
    QString id = prepare({{"resource", "sells"}, {"action", "update"}, {"data", R"({"id":5})"}});
    yes = false;
    const int before = int(asks().size());
    Answer a = run("erp_commit", {{"pending_id", id}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "The CA did not approve this write. Nothing was written. Stop, and ask them what to change.");
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].title, "Update sells for Quenby Foods?");
    EXPECT_EQ(asked[0].approve, "Update");
    EXPECT_EQ(asks().size(), before) << "nothing was sent";
    EXPECT_EQ(run("erp_commit", {{"pending_id", id}}).text, noId);

    // An ERP that now opens another business's books: the CA is never asked.
    yes = true;
    id = prepare({{"resource", "sells"}, {"data", R"({"id":5})"}});
    erp->answer("whoami", QJsonObject{{"business", "Other Works"}, {"business_gstin", kOther}});
    a = run("erp_commit", {{"pending_id", id}});
    EXPECT_TRUE(a.isError);
    EXPECT_TRUE(a.text.startsWith("Stopped: Quenby Foods's GSTIN is")) << a.text.toStdString();
    EXPECT_EQ(asked.size(), 1);
    EXPECT_EQ(run("erp_commit", {{"pending_id", id}}).text, noId);

    // No token: this sentence stops short.
    erp->answer("whoami", QJsonObject{{"business_gstin", kGstin}});
    id = prepare({{"resource", "sells"}, {"data", R"({"id":5})"}});
    ErpTools::tokenFor = [](const QString &) { return std::nullopt; };
    a = run("erp_commit", {{"pending_id", id}});
    EXPECT_EQ(a.text, "The connection for Quenby Foods is missing its token on this computer.");
    EXPECT_TRUE(a.isError);
    ErpTools::tokenFor = &ErpVault::token;

    // Approved, but the ERP refuses.
    id = prepare({{"resource", "sells"}, {"data", R"({"id":5})"}});
    erp->answer("write/sells/create", QJsonObject{{"success", false}, {"message", "Stock is short."}});
    a = run("erp_commit", {{"pending_id", id}});
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "The CA approved, but the ERP refused the write: Stock is short.. Nothing was written — tell the CA.");
    EXPECT_EQ(run("erp_commit", {{"pending_id", id}}).text, noId);
}

// The write left and its answer was lost: it may be in the books already,
// so the answer never says nothing was written.
TEST_F(ErpToolsTest, AWriteWhoseAnswerWasLostMayHaveHappened)
{
    connect("Quenby Foods", kGstin, {"read", "write:sells"});
    erp->answer("whoami", QJsonObject{{"business", "Quenby Foods LLP"}, {"business_gstin", kGstin}});
    const QString id = prepare({{"resource", "sells"}, {"data", R"({"id":5})"}});
    FakeReply drop;
    drop.drop = true;
    erp->server.on("POST", "/erp/api/cli/v1/write/sells/create", drop);
    erp->server.clearRequests(); // the dry run went to the same address
    const Answer a = run("erp_commit", {{"pending_id", id}});
    EXPECT_TRUE(a.isError);
    EXPECT_TRUE(a.text.startsWith("The CA approved and the write was sent, but no whole answer came back: "))
        << a.text.toStdString();
    EXPECT_TRUE(a.text.endsWith(" The write may have reached the ERP: check Quenby Foods's books there before trying "
                                "again — tell the CA."))
        << a.text.toStdString();
    EXPECT_FALSE(a.text.contains("Nothing was written"));
    EXPECT_TRUE(a.text.contains("before a reply. The write may")) << "the reason is a sentence of its own";
    EXPECT_EQ(erp->server.requestsTo("/erp/api/cli/v1/write/sells/create").size(), 1);
}

TEST_F(ErpToolsTest, APreparedWriteLastsTwentyMinutes)
{
    connect("Quenby Foods", kGstin, {"read", "write:sells"});
    const QString fresh = prepare({{"resource", "sells"}, {"data", R"({"id":5})"}});
    const QString stale = prepare({{"resource", "sells"}, {"data", R"({"id":6})"}});
    const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    ErpTools::pending[fresh].created = now - 1199;
    ErpTools::pending[stale].created = now - 1200;
    EXPECT_TRUE(run("erp_commit", {{"pending_id", stale}}).text.startsWith("No prepared write with that id"));
    EXPECT_FALSE(ErpTools::pending.contains(stale)) << "swept";
    const Answer a = run("erp_commit", {{"pending_id", fresh}});
    EXPECT_TRUE(a.text.startsWith("Written to Quenby Foods's books.")) << a.text.toStdString();

    // Preparing sweeps too.
    const QString old = prepare({{"resource", "sells"}, {"data", R"({"id":7})"}});
    ErpTools::pending[old].created = now - 5000;
    prepare({{"resource", "sells"}, {"data", R"({"id":8})"}});
    EXPECT_FALSE(ErpTools::pending.contains(old));
}

TEST(ErpSummary, ThePreviewTheCaReads)
{
    const ErpConnection c{"ID", 1, "Quenby Foods", kGstin, "https://erp.example.in", "Quenby Foods LLP", kGstin, "Asha",
                          {"read"}, 0, 0};
    const QString top = "Client     Quenby Foods\nGSTIN      " + kGstin + "\n";
    const QJsonObject invoice{
        {"contact", "Acme Stores"},
        {"location", 3},
        {"status", "final"},
        {"lines", QJsonArray{QJsonObject{{"name", "Basmati rice premium quality 25 kg bag, export grade"},
                                         {"quantity", 2},
                                         {"unit_price", 1500},
                                         {"line_total", 3000}},
                             QJsonObject{{"variation_id", 41}, {"quantity", 1.5}, {"unit_price", 200.5}},
                             QJsonObject{{"line_total", 10}}}},
        {"subtotal", 3310.75},
        {"discount", 0},
        {"shipping", 0},
        {"final_total", 3906.69},
        {"paying_now", 0},
    };
    struct Case {
        QJsonValue preview;
        QString expected;
    };
    const QList<Case> cases = {
        {invoice, top + "Party      Acme Stores\nLocation   3\nStatus     final\n\n"
                        "  Basmati rice premium quality 25 kg 2 × ₹1,500.00 = ₹3,000.00\n"
                        "  41                                 1.5 × ₹200.50 = \n"
                        "  item                                ×  = ₹10.00\n"
                        "\nBefore tax ₹3,310.75\nTOTAL      ₹3,906.69\nPaid now   ₹0.00\n"},
        {QJsonObject{{"lines", QJsonArray()}, {"discount", 5}, {"shipping", "x"}, {"final_total", 10}},
         top + "\n\nDiscount   ₹5.00\nTOTAL      ₹10.00\n"},
        {QJsonObject{{"final_total", 10}}, top + "TOTAL      ₹10.00\n"},
        {QJsonObject{{"id", 5}, {"name", "x"}}, top + "\n{\n    \"id\": 5,\n    \"name\": \"x\"\n}"},
        {QJsonValue("queued"), top + "\nqueued"},
        {QJsonValue(12.5), top + "\n12.5"},
    };
    for (const Case &k : cases)
        EXPECT_EQ(ErpTools::summary(ErpPending{c, "sells", "create", "{}", k.preview, 0}), k.expected)
            << show(k.preview);
}

TEST(ErpArguments, WholeNumbersAndPairs)
{
    const QList<QPair<QJsonValue, std::optional<qint64>>> ints = {
        {12, 12},
        {12.9, 12},
        {-3.5, -3},
        {"+7", 7},
        {"-7", -7},
        {"7 ", std::nullopt},
        {"", std::nullopt},
        {"1e3", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {1e300, std::nullopt},
        {QJsonValue(qint64(9007199254740993)), 9007199254740993},
        {true, std::nullopt},
        {QJsonValue::Null, std::nullopt},
        {QJsonArray{1}, std::nullopt},
        {QJsonValue(), std::nullopt},
    };
    for (const auto &[value, expected] : ints)
        EXPECT_EQ(JsonFields::wholeNumber(value), expected) << show(value);

    const QJsonObject asObject{{"Rice", " 1006 "}, {"Oil", 1507}, {"_", "x"}, {"Salt", ""}, {"Sugar", true}};
    EXPECT_EQ(ErpTools::pairs(asObject, "product", "code"), (QMap<QString, QString>{{"Rice", "1006"}}));
    EXPECT_EQ(ErpTools::pairs(asObject, "product", "code", true),
              (QMap<QString, QString>{{"Oil", "1507"}, {"Rice", "1006"}}));
    const QJsonArray asList{QJsonObject{{"counterparty", "Acme"}, {"ledger", "Sundry Debtors"}},
                            QJsonObject{{"counterparty", "Acme"}, {"ledger", "Acme Ltd"}},
                            QJsonObject{{"counterparty", " "}, {"ledger", "x"}},
                            QJsonObject{{"counterparty", "Zed"}}, QJsonValue("loose")};
    EXPECT_EQ(ErpTools::pairs(asList, "counterparty", "ledger"), (QMap<QString, QString>{{"Acme", "Acme Ltd"}}));
    EXPECT_TRUE(ErpTools::pairs("text", "a", "b").isEmpty());
}

TEST(ErpDefinitions, ThirteenToolsInTheirOrder)
{
    const QJsonArray tools = ErpTools::definitions(&Tool::obj);
    QStringList names;
    for (const QJsonValue &t : tools)
        names << t["name"].toString();
    EXPECT_EQ(names, (QStringList{"erp_connections", "erp_resources", "erp_schema", "erp_list", "erp_gst", "erp_gstr1",
                                  "gstr2b_reconcile", "bank_statement", "erp_get", "erp_trial_balance", "erp_prepare",
                                  "erp_commit", "erp_connect_code"}));
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()), ErpTools::names());
    EXPECT_EQ(tools[0]["inputSchema"], (QJsonObject{{"type", "object"}, {"properties", QJsonObject()}}));
    const QJsonObject list = tools[3]["inputSchema"].toObject();
    EXPECT_EQ(list["required"], (QJsonArray{"resource"}));
    EXPECT_EQ(list["properties"]["filters"]["items"]["required"], (QJsonArray{"field", "value"}));
    EXPECT_EQ(list["properties"]["columns"]["items"], (QJsonObject{{"type", "string"}}));
    EXPECT_EQ(list["properties"]["limit"],
              (QJsonObject{{"type", "integer"}, {"description", "up to 500, default 100"}}));
    EXPECT_EQ(tools[4]["inputSchema"]["required"], (QJsonArray{"kind", "from", "to"}));
    EXPECT_EQ(tools[10]["inputSchema"]["properties"]["action"],
              (QJsonObject{{"type", "string"}, {"enum", QJsonArray{"create", "update"}}}));
    EXPECT_EQ(tools[12]["inputSchema"]["properties"]["erp_address"]["description"],
              "the client's ERP address, only if the CA named one; default " + ErpConnect::defaultBase);
    EXPECT_EQ(tools[6]["inputSchema"]["properties"]["ai_matches"]["items"]["required"],
              (QJsonArray{"gstin", "books", "g2b", "reason"}));
}

} // namespace
