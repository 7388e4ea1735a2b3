#include "erp/ErpVault.h"
#include "core/Globals.h"
#include "platform/SecretStore.h"
#include "support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <sys/stat.h>

using namespace TestKit;

namespace {

ErpConnection record(const QString &id, const QString &company, const QString &gstin, qint64 companyId = 0)
{
    return ErpConnection{id, companyId, company, gstin, "https://erp.example.in", company + " Pvt Ltd", gstin,
                         "owner@example.in", {"read"}, 0, 0};
}

class ErpVaultTest : public HomeTest {
protected:
    void SetUp() override
    {
        HomeTest::SetUp();
        SecretStore::useMemory();
        ErpVault::store = ErpVault::keychain();
    }
    void TearDown() override
    {
        ErpVault::store = ErpVault::keychain();
        HomeTest::TearDown();
    }
    static QStringList companies()
    {
        QStringList names;
        for (const auto &c : ErpVault::all())
            names.append(c.company);
        return names;
    }
    static QStringList asideFiles()
    {
        return QDir(VELTO_HOME).entryList({"erp.json.damaged-*"}, QDir::Files);
    }
};

TEST_F(ErpVaultTest, KeepsRecordsInTheFileAndTokensInTheSecretStore)
{
    EXPECT_TRUE(ErpVault::all().empty());
    const double before = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    ErpConnection quenby = record("ID-1", "Quenby", "24AAQFK5512M1Z8", 42);
    quenby.scopes = {"read", "write:sells"};
    quenby.expires = 1900000000.5;
    ASSERT_TRUE(ErpVault::upsert(quenby, "tok-1"));

    EXPECT_EQ(ErpVault::token("ID-1"), "tok-1");
    EXPECT_EQ(SecretStore::get(ErpVault::service, "ID-1"), "tok-1");
    struct stat st {};
    ASSERT_EQ(::stat(ErpVault::file().toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const QByteArray text = readFile(ErpVault::file());
    EXPECT_FALSE(text.contains("tok-1")) << "no secret in the list file";
    EXPECT_FALSE(text.contains('\n')) << "written compactly";

    const auto all = ErpVault::all();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_GE(all[0].updated, before);
    ErpConnection expected = quenby;
    expected.updated = all[0].updated;
    EXPECT_EQ(all[0], expected);
    EXPECT_TRUE(all[0].canInvoice());
    EXPECT_EQ(all[0].allowed(), "read, raise invoices");

    ErpVault::remove("ID-1");
    EXPECT_TRUE(ErpVault::all().empty());
    EXPECT_FALSE(ErpVault::token("ID-1"));
}

TEST_F(ErpVaultTest, PairingAClientAgainReplacesTheOldConnectionAndItsToken)
{
    ASSERT_TRUE(ErpVault::upsert(record("OLD", "Quenby", "24AAQFK5512M1Z8"), "old-token"));
    ASSERT_TRUE(ErpVault::upsert(record("OTHER", "Beta", "27AAAAA0000A1Z5"), "other-token"));
    ASSERT_TRUE(ErpVault::upsert(record("NEW", "Quenby India", "24AAQFK5512M1Z8"), "new-token"));

    const auto all = ErpVault::all();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].id, "OTHER");
    EXPECT_EQ(all[1].id, "NEW");
    EXPECT_FALSE(ErpVault::token("OLD"));
    EXPECT_EQ(ErpVault::token("NEW"), "new-token");
    EXPECT_EQ(ErpVault::token("OTHER"), "other-token");
}

TEST_F(ErpVaultTest, ATokenTheStoreRefusesSavesNothing)
{
    ASSERT_TRUE(ErpVault::upsert(record("A", "Alpha", "24AAQFK5512M1Z8"), "t"));
    const QByteArray before = readFile(ErpVault::file());
    ErpVault::store.set = [](const QString &, const QString &) { return false; };
    EXPECT_FALSE(ErpVault::upsert(record("B", "Alpha again", "24AAQFK5512M1Z8"), "t2"));
    EXPECT_EQ(readFile(ErpVault::file()), before);
    EXPECT_EQ(ErpVault::token("A"), "t");
}

TEST_F(ErpVaultTest, ListsByCompanyIgnoringCaseAndKeepingFileOrderForTies)
{
    QJsonArray array;
    for (const auto &[id, name] : std::vector<std::pair<QString, QString>>{{"1", "beta"}, {"2", "Alpha"}, {"3", "alpha"}})
        array.append(record(id, name, "G" + id).toJson());
    home->write(".velto/erp.json", QJsonDocument(array).toJson());
    EXPECT_EQ(companies(), QStringList({"Alpha", "alpha", "beta"}));
}

// A file the vault cannot read is moved aside as it is and every token is
// kept, so the CA can repair it and no pairing is lost.
TEST_F(ErpVaultTest, ADamagedFileIsMovedAsideAndNoTokenIsDeleted)
{
    QJsonObject older = record("ID-1", "Quenby", "24AAQFK5512M1Z8").toJson();
    older.remove("approvedBy");
    QJsonObject wrongType = record("ID-2", "Beta", "27AAAAA0000A1Z5").toJson();
    wrongType["companyId"] = "42";
    const std::vector<QByteArray> damaged = {
        QJsonDocument(QJsonArray{record("ID-0", "Fine", "G").toJson(), older}).toJson(),
        QJsonDocument(QJsonArray{wrongType}).toJson(),
        QJsonDocument(QJsonObject{{"id", "ID-1"}}).toJson(),
        "[{\"id\": \"ID-1\",",
        "not json at all",
    };
    for (const QByteArray &content : damaged) {
        SCOPED_TRACE(content.toStdString());
        for (const QString &f : asideFiles())
            QFile::remove(joinPath(VELTO_HOME, f));
        SecretStore::set(ErpVault::service, "ID-1", "tok-1");
        home->write(".velto/erp.json", content);

        EXPECT_TRUE(ErpVault::all().empty());
        EXPECT_FALSE(QFile::exists(ErpVault::file()));
        const QStringList aside = asideFiles();
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(readFile(joinPath(VELTO_HOME, aside[0])), content);
        EXPECT_EQ(ErpVault::token("ID-1"), "tok-1");
        EXPECT_EQ(ErpVault::pick("").second.left(40), "No client's Ledgora ERP is connected. Th");
    }

    // Pairing goes on from an empty list; the moved file stays.
    home->write(".velto/erp.json", "garbage");
    ASSERT_TRUE(ErpVault::upsert(record("ID-9", "Gamma", "G9"), "t9"));
    EXPECT_EQ(companies(), QStringList({"Gamma"}));
    EXPECT_EQ(asideFiles().size(), 2);
}

TEST_F(ErpVaultTest, PickNamesOneConnectionOrSaysWhy)
{
    EXPECT_EQ(ErpVault::pick("anything"),
              std::make_pair(std::optional<ErpConnection>(),
                             QString("No client's Ledgora ERP is connected. The CA connects one in Velto \u2192 "
                                     "Ledgora ERP\u2026 \u2014 the client approves it in their own ERP.")));

    ASSERT_TRUE(ErpVault::upsert(record("A", "Alpha Traders", "24AAQFK5512M1Z8", 42), "a"));
    EXPECT_EQ(ErpVault::pick(" \t ").first->id, "A") << "the only connection";

    ASSERT_TRUE(ErpVault::upsert(record("B", "Beta Traders", "27AAAAA0000A1Z5", 7), "b"));
    ASSERT_TRUE(ErpVault::upsert(record("Q", "Quenby", "29BBBBB1111B1Z3", 9), "q"));
    struct Case {
        QString client;
        QString id;      // empty: no connection
        QString message; // empty: no message
    };
    const std::vector<Case> cases = {
        {"", "",
         "More than one client's ERP is connected \u2014 pass `client`: \"Alpha Traders\" (24AAQFK5512M1Z8), "
         "\"Beta Traders\" (27AAAAA0000A1Z5), \"Quenby\" (29BBBBB1111B1Z3)"},
        {"24aaqfk5512m1z8", "A", ""},
        {"  24-AAQFK5512M1Z8 ", "A", ""},
        {"27 aaaaa 0000 a1z5", "B", ""},
        {"42", "A", ""},
        {"7", "B", ""},
        {"QUENBY", "Q", ""},
        {"alpha", "A", ""},
        {"quen", "Q", ""},
        {"traders", "",
         "\"traders\" fits more than one connected client \u2014 name one exactly or give its GSTIN: \"Alpha "
         "Traders\" (24AAQFK5512M1Z8), \"Beta Traders\" (27AAAAA0000A1Z5)"},
        {"  Gamma ", "",
         "\"  Gamma \" has no connected ERP. Connected clients: \"Alpha Traders\", \"Beta Traders\", \"Quenby\". To "
         "add one, the CA uses Velto \u2192 Ledgora ERP\u2026 and the client approves it."},
    };
    for (const Case &c : cases) {
        const auto [found, message] = ErpVault::pick(c.client);
        EXPECT_EQ(found ? found->id : QString(), c.id) << c.client.toStdString();
        EXPECT_EQ(message, c.message) << c.client.toStdString();
    }
}

TEST(ErpConnectionTest, InvoicesNeedTheExactScope)
{
    ErpConnection c;
    c.scopes = {"read", "Write:Sells"};
    EXPECT_FALSE(c.canInvoice());
    EXPECT_EQ(c.allowed(), "read only");
    c.scopes.append("write:sells");
    EXPECT_TRUE(c.canInvoice());
}

} // namespace
