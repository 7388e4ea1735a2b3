// The list of tools the engine is given: the 27 own tools word for word,
// then the families in their listing order.
#include "ServerFixture.h"

#include <QFile>

using namespace McpTest;

namespace {

QJsonArray expectedOwnTools()
{
    QFile file(QStringLiteral(TOOLSERVER_TEST_DIR "/own-tools.json"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(file.readAll()).array();
}

TEST(ToolTable, OwnToolsComeFirstExactlyAsWritten)
{
    const QJsonArray expected = expectedOwnTools();
    ASSERT_EQ(expected.size(), 27);
    const QJsonArray tools = BrowserMCP::tools();
    ASSERT_GE(tools.size(), 27);
    for (qsizetype i = 0; i < 27; ++i) {
        const QJsonObject tool = tools[i].toObject();
        EXPECT_EQ(tool.keys(), (QStringList{"description", "inputSchema", "name"}));
        EXPECT_EQ(tools[i], expected[i]) << "#" << i + 1 << "\n got:  " << show(tools[i])
                                         << "\n want: " << show(expected[i]);
    }
    EXPECT_EQ(tools.first()["name"], "browser_open");
    EXPECT_EQ(tools[26]["name"], "record_render");
}

TEST_F(ServerTest, TheBooksFamilyIsListedAndRouted)
{
    QStringList listed;
    for (const QJsonValue &t : BrowserMCP::tools())
        if (t["name"].toString().startsWith("books_"))
            listed << t["name"].toString();
    EXPECT_EQ(listed, (QStringList{"books_connections", "books_connect", "books_contacts", "books_invoices",
                                   "books_accounts", "books_create_invoice"}));
    const QJsonObject result = callTool("books_connections");
    EXPECT_EQ(result["isError"], false);
    EXPECT_EQ(result["content"][0]["text"], "No cloud books are connected yet. books_connect adds one, with "
                                            "credentials the CA makes in their own Zoho or Intuit account.");
}

TEST(ToolTable, SchemaBuilderAddsRequiredOnlyWhenNeeded)
{
    EXPECT_EQ(Tool::obj({}, {}), (QJsonObject{{"type", "object"}, {"properties", QJsonObject()}}));
    const QJsonObject props{{"ref", QJsonObject{{"type", "string"}}}, {"text", QJsonObject{{"type", "string"}}}};
    EXPECT_EQ(Tool::obj(props, {"text", "ref"}),
              (QJsonObject{{"type", "object"}, {"properties", props}, {"required", QJsonArray{"text", "ref"}}}));
}

TEST_F(ServerTest, TheStandardFamiliesAreListedAndRouted)
{
    Families::listed = Families::standardListed();
    Families::routed = Families::standardRouted();
    QStringList names;
    for (const QJsonValue &tool : BrowserMCP::tools())
        names << tool["name"].toString();
    // The ERP family comes straight after the own tools, then the local
    // connectors, the books, the e-invoice tools and the skill installer.
    const QStringList erp{"erp_connections", "erp_resources", "erp_schema",  "erp_list",          "erp_gst",
                          "erp_gstr1",       "gstr2b_reconcile", "bank_statement", "erp_get", "erp_trial_balance",
                          "erp_prepare",     "erp_commit",    "erp_connect_code"};
    const QStringList connectors{"mail_accounts", "mail_search", "mail_thread", "mail_message", "mail_contacts",
                                 "mail_calendar", "mail_compose", "tally_status", "tally_ledgers", "tally_vouchers",
                                 "tally_trial_balance", "tally_import_voucher", "cloud_drives", "cloud_search",
                                 "cloud_fetch", "books_connections", "books_connect", "books_contacts",
                                 "books_invoices", "books_accounts", "books_create_invoice", "einvoice_status",
                                 "einvoice_connect", "einvoice_get", "einvoice_generate", "einvoice_cancel",
                                 "skill_install"};
    EXPECT_EQ(names.mid(27), erp + connectors);

    // Routed without the browser window, to the family's own answer.
    pane.reset();
    const QJsonObject result = callTool("einvoice_status");
    EXPECT_TRUE(result["isError"].toBool());
    EXPECT_TRUE(result["content"][0]["text"].toString().startsWith("e-invoicing is not set up."));
    const QJsonObject unknown = callTool("tally_export");
    EXPECT_TRUE(unknown["isError"].toBool());
    EXPECT_EQ(unknown["content"][0]["text"], "Browser window is not open.");
    const QJsonObject mail = callTool("mail_search", {{"query", " "}});
    EXPECT_EQ(mail["content"][0]["text"], "Say what to search for.");
    const QJsonObject cloud = callTool("cloud_search", {});
    EXPECT_EQ(cloud["content"][0]["text"], "query is required.");
}

TEST_F(ServerTest, FamiliesFollowInTheirListingOrder)
{
    auto family = [](const QString &name) {
        return ToolFamily{[name] { return QSet<QString>{name}; },
                          [name](Tool::Obj obj) {
                              return QJsonArray{
                                  QJsonObject{{"name", name},
                                              {"description", "d"},
                                              {"inputSchema", obj({{"id", QJsonObject{{"type", "integer"}}}}, {"id"})}},
                                  QJsonObject{{"name", name + "_2"}, {"description", "e"}, {"inputSchema", obj({}, {})}}};
                          },
                          [](const QString &, const QJsonObject &, const Tool::Done &done) { done("", false); }};
    };
    Families::listed = {family("erp_list"), family("mail_search"), family("skill_install")};
    Families::routed = {family("mail_search"), family("erp_list"), family("skill_install")};

    const QJsonArray tools = BrowserMCP::tools();
    ASSERT_EQ(tools.size(), 33);
    QStringList tail;
    for (qsizetype i = 27; i < tools.size(); ++i)
        tail << tools[i]["name"].toString();
    EXPECT_EQ(tail, (QStringList{"erp_list", "erp_list_2", "mail_search", "mail_search_2", "skill_install",
                                 "skill_install_2"}));
    EXPECT_EQ(tools[27]["inputSchema"], (QJsonObject{{"type", "object"},
                                                     {"properties", QJsonObject{{"id", QJsonObject{{"type", "integer"}}}}},
                                                     {"required", QJsonArray{"id"}}}));

    // The engine sees the same list over the wire.
    EXPECT_EQ(ask("tools/list").json()["result"].toObject()["tools"].toArray(), tools);
}

} // namespace
