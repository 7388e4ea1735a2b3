// The integration records and their projection into the engine's
// configuration: decoding, order, the exact entries, permissions and
// instruction file written, idempotence, cleaning up, and the entries and
// files the store must never take over or replace.
#include "core/Globals.h"
#include "core/OcConfig.h"
#include "panels/IntegrationStore.h"
#include "support/TestKit.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

using namespace TestKit;

namespace {

Integration record(const QString &kind, const QString &name, const QString &command, const QString &args = {},
                   const QString &env = {}, bool enabled = true)
{
    Integration i;
    i.id = name.toUpper() + QStringLiteral("-ID");
    i.kind = kind;
    i.name = name;
    i.title = name + QStringLiteral(" title");
    i.command = command;
    i.args = args;
    i.env = env;
    i.notes = name + QStringLiteral(" notes");
    i.enabled = enabled;
    return i;
}

class IntegrationStoreTest : public HomeTest {
protected:
    void config(const QJsonObject &root) const
    {
        home->write(QStringLiteral(".velto/hallix/opencode.json"), OcConfig::serialise(root));
    }
    static QJsonObject config() { return OcConfig::read().value_or(QJsonObject{}); }
    static QString mdPath() { return IntegrationStore::instructionsURL(); }
};

TEST_F(IntegrationStoreTest, ReadsWholeFileOrNothingAndSortsByTitleIgnoringCase)
{
    QJsonArray list;
    for (const QString &title : {QStringLiteral("beta"), QStringLiteral("Alpha two"), QStringLiteral("alpha two"),
                                 QStringLiteral("apple")}) {
        Integration i = record(QStringLiteral("mcp"), QStringLiteral("x"), QStringLiteral("npx"));
        i.title = title;
        i.id = title;
        list.append(i.toJson());
    }
    home->write(QStringLiteral(".velto/integrations.json"), QJsonDocument(list).toJson());
    QStringList titles;
    for (const Integration &i : IntegrationStore::all())
        titles << i.title;
    // Equal lower-cased titles keep their file order; "apple" before "beta".
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Alpha two"), QStringLiteral("alpha two"), QStringLiteral("apple"),
                                   QStringLiteral("beta")}));
    EXPECT_TRUE(IntegrationStore::readable());

    // One record without "notes" spoils the whole file.
    QJsonObject broken = list.at(1).toObject();
    broken.remove(QStringLiteral("notes"));
    list.replace(1, broken);
    home->write(QStringLiteral(".velto/integrations.json"), QJsonDocument(list).toJson());
    EXPECT_TRUE(IntegrationStore::all().isEmpty());
    EXPECT_FALSE(IntegrationStore::readable());
}

TEST_F(IntegrationStoreTest, AppliesEntriesPermissionsAndInstructionsExactly)
{
    config(QJsonObject{{QStringLiteral("mcp"),
                        QJsonObject{{QStringLiteral("browser"), QJsonObject{{QStringLiteral("type"), QStringLiteral("remote")}}}}},
                       {QStringLiteral("model"), QStringLiteral("pavi/lite")}});
    const QList<Integration> list{
        record(QStringLiteral("mcp"), QStringLiteral("tally"), QStringLiteral("npx"),
               QStringLiteral("-y   tally-mcp-server"),
               QStringLiteral("A=1\n\nB = two\nno equals sign\nA=3")),
        record(QStringLiteral("cli"), QStringLiteral("erp"), QStringLiteral(" erp-export ")),
        record(QStringLiteral("mcp"), QStringLiteral("plain"), QStringLiteral("run"), {}, QStringLiteral("just text")),
        record(QStringLiteral("mcp"), QStringLiteral("off"), QStringLiteral("npx"), {}, {}, false),
        record(QStringLiteral("cli"), QStringLiteral("empty"), QString()),
    };
    IntegrationStore::apply(list);
    const QJsonObject root = config();

    const QJsonObject mcp = root.value(QStringLiteral("mcp")).toObject();
    EXPECT_EQ(mcp.keys(), (QStringList{QStringLiteral("browser"), QStringLiteral("plain"), QStringLiteral("tally")}));
    EXPECT_EQ(mcp.value(QStringLiteral("browser")).toObject().value(QStringLiteral("type")).toString(),
              QStringLiteral("remote"));
    const QJsonObject tally{
        {QStringLiteral("type"), QStringLiteral("local")},
        {QStringLiteral("enabled"), true},
        {QStringLiteral("timeout"), 60000},
        {QStringLiteral("command"), QJsonArray{QStringLiteral("npx"), QStringLiteral("-y"), QStringLiteral("tally-mcp-server")}},
        {QStringLiteral("managed_by"), QStringLiteral("velto-integrations")},
        {QStringLiteral("environment"), QJsonObject{{QStringLiteral("A"), QStringLiteral("3")}, {QStringLiteral("B"), QStringLiteral("two")}}}};
    EXPECT_EQ(mcp.value(QStringLiteral("tally")).toObject(), tally);
    EXPECT_FALSE(mcp.value(QStringLiteral("plain")).toObject().contains(QStringLiteral("environment")));

    const QJsonObject bash = root.value(QStringLiteral("permission")).toObject().value(QStringLiteral("bash")).toObject();
    EXPECT_EQ(bash, (QJsonObject{{QStringLiteral("erp-export *"), QStringLiteral("allow")},
                                 {QStringLiteral("__velto_cli__"), QStringLiteral("erp-export *")}}));
    const QString path = QFileInfo(mdPath()).absoluteFilePath();
    EXPECT_EQ(root.value(QStringLiteral("instructions")).toArray(), QJsonArray{path});
    EXPECT_EQ(root.value(QStringLiteral("model")).toString(), QStringLiteral("pavi/lite"));

    const QString header = QStringLiteral(
        "# Firm integrations\n\nThese tools belong to this firm and are approved by the CA. Use them only for the "
        "client work at hand, inside the workspace.\n\n");
    EXPECT_EQ(header.size(), 147);
    EXPECT_EQ(QString::fromUtf8(readFile(mdPath())),
              header + QStringLiteral("- **tally title** (tools prefixed `tally_`): tally notes\n"
                                      "- **erp title** (run with ` erp-export  \u2026`): erp notes\n"
                                      "- **plain title** (tools prefixed `plain_`): plain notes\n"));

    // The same list again leaves the same bytes.
    const QByteArray json = readFile(OC_JSON), md = readFile(mdPath());
    IntegrationStore::apply(list);
    IntegrationStore::apply(list);
    EXPECT_EQ(readFile(OC_JSON), json);
    EXPECT_EQ(readFile(mdPath()), md);
    EXPECT_EQ(config().value(QStringLiteral("instructions")).toArray().size(), 1);
}

TEST_F(IntegrationStoreTest, EmptyListRemovesOnlyWhatTheStoreAdded)
{
    const QString path = QFileInfo(mdPath()).absoluteFilePath();
    config(QJsonObject{
        {QStringLiteral("instructions"), QJsonArray{QStringLiteral("/firm/own.md")}},
        {QStringLiteral("permission"),
         QJsonObject{{QStringLiteral("bash"), QJsonObject{{QStringLiteral("git *"), QStringLiteral("ask")},
                                                          {QStringLiteral("bank2csv *"), QStringLiteral("deny")},
                                                          {QStringLiteral("#velto old"), QStringLiteral("allow")},
                                                          {QStringLiteral("#velto kept"), QStringLiteral("deny")}}},
                     {QStringLiteral("edit"), QStringLiteral("ask")}}}});
    // A record takes over a pattern the CA had set by hand; removing the
    // record removes the pattern with it.
    IntegrationStore::apply({record(QStringLiteral("cli"), QStringLiteral("bank"), QStringLiteral("bank2csv")),
                             record(QStringLiteral("mcp"), QStringLiteral("tally"), QStringLiteral("npx"))});
    EXPECT_EQ(config().value(QStringLiteral("permission")).toObject().value(QStringLiteral("bash")).toObject().value(
                  QStringLiteral("bank2csv *")),
              QJsonValue(QStringLiteral("allow")));
    EXPECT_TRUE(QFileInfo::exists(mdPath()));

    IntegrationStore::apply({});
    const QJsonObject root = config();
    EXPECT_EQ(root.value(QStringLiteral("mcp")).toObject(), QJsonObject{});
    EXPECT_EQ(root.value(QStringLiteral("permission")).toObject(),
              (QJsonObject{{QStringLiteral("bash"), QJsonObject{{QStringLiteral("git *"), QStringLiteral("ask")},
                                                                 {QStringLiteral("#velto kept"), QStringLiteral("deny")}}},
                           {QStringLiteral("edit"), QStringLiteral("ask")}}));
    EXPECT_EQ(root.value(QStringLiteral("instructions")).toArray(), QJsonArray{QStringLiteral("/firm/own.md")});
    EXPECT_FALSE(root.value(QStringLiteral("instructions")).toArray().contains(path));
    EXPECT_FALSE(QFileInfo::exists(mdPath()));

    // Nothing to remove still leaves the keys in place, typed right.
    config(QJsonObject{{QStringLiteral("mcp"), QStringLiteral("wrong")}});
    IntegrationStore::apply({});
    EXPECT_EQ(config(), (QJsonObject{{QStringLiteral("mcp"), QJsonObject{}},
                                     {QStringLiteral("permission"), QJsonObject{{QStringLiteral("bash"), QJsonObject{}}}},
                                     {QStringLiteral("instructions"), QJsonArray{}}}));
}

TEST_F(IntegrationStoreTest, NeverTakesOverAnEntryTheAppDoesNotManage)
{
    const QJsonObject own{{QStringLiteral("type"), QStringLiteral("remote")},
                          {QStringLiteral("url"), QStringLiteral("http://127.0.0.1:7777/mcp")}};
    config(QJsonObject{{QStringLiteral("mcp"), QJsonObject{{QStringLiteral("browser"), own},
                                                            {QStringLiteral("books"), QJsonObject{}}}}});
    EXPECT_TRUE(IntegrationStore::nameTaken(QStringLiteral("browser")));
    EXPECT_TRUE(IntegrationStore::nameTaken(QStringLiteral("books")));
    EXPECT_FALSE(IntegrationStore::nameTaken(QStringLiteral("tally")));

    IntegrationStore::apply({record(QStringLiteral("mcp"), QStringLiteral("browser"), QStringLiteral("evil")),
                             record(QStringLiteral("mcp"), QStringLiteral("books"), QStringLiteral("npx")),
                             record(QStringLiteral("mcp"), QStringLiteral("tally"), QStringLiteral("npx"))});
    const QJsonObject mcp = config().value(QStringLiteral("mcp")).toObject();
    EXPECT_EQ(mcp.value(QStringLiteral("browser")).toObject(), own);
    EXPECT_EQ(mcp.value(QStringLiteral("books")).toObject(), QJsonObject{});
    EXPECT_TRUE(IntegrationStore::nameTaken(QStringLiteral("books")));
    // Its own entry is the store's to replace.
    EXPECT_FALSE(IntegrationStore::nameTaken(QStringLiteral("tally")));
    EXPECT_FALSE(QString::fromUtf8(readFile(mdPath())).contains(QStringLiteral("browser")));

    // Even with no configuration written yet, "browser" belongs to the tool server.
    QFile::remove(OC_JSON);
    EXPECT_TRUE(IntegrationStore::nameTaken(QStringLiteral("browser")));
}

TEST_F(IntegrationStoreTest, WritesNothingWithoutAReadableConfiguration)
{
    for (const QByteArray &bad : {QByteArray(), QByteArray("not json"), QByteArray("[1,2]")}) {
        SCOPED_TRACE(bad.toStdString());
        QFile::remove(OC_JSON);
        if (!bad.isNull())
            home->write(QStringLiteral(".velto/hallix/opencode.json"), bad);
        IntegrationStore::apply({record(QStringLiteral("mcp"), QStringLiteral("tally"), QStringLiteral("npx"))});
        EXPECT_EQ(readFile(OC_JSON), bad);
        EXPECT_FALSE(QFileInfo::exists(mdPath()));
    }
}

TEST_F(IntegrationStoreTest, SaveWritesAndAppliesButNeverReplacesAnUnreadableFile)
{
    config(QJsonObject{});
    const QList<Integration> list{record(QStringLiteral("cli"), QStringLiteral("erp"), QStringLiteral("erp-export"))};
    ASSERT_TRUE(IntegrationStore::save(list));
    const QJsonArray saved = QJsonDocument::fromJson(readFile(IntegrationStore::fileURL())).array();
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(Integration::fromJson(saved.at(0).toObject()), list.first());
    EXPECT_FALSE(readFile(IntegrationStore::fileURL()).contains('\n')); // compact
    EXPECT_TRUE(config().value(QStringLiteral("permission")).toObject().value(QStringLiteral("bash")).toObject().contains(
        QStringLiteral("erp-export *")));

    const QByteArray unreadable = "[{\"id\":\"A\",\"title\":\"lost if replaced\"}]";
    home->write(QStringLiteral(".velto/integrations.json"), unreadable);
    const QByteArray before = readFile(OC_JSON);
    EXPECT_FALSE(IntegrationStore::save({}));
    EXPECT_EQ(readFile(IntegrationStore::fileURL()), unreadable);
    EXPECT_EQ(readFile(OC_JSON), before);
}

} // namespace
