// The books connections: what books.json and the secret store hold, which
// connection a call is about, and saves that must not lose anything.
#include "BooksFixture.h"

#include <QFile>

using namespace BooksTest;

namespace {

using BooksStore = BooksFixture;

QByteArray record(const QString &vendor, const QString &client, const QString &org)
{
    return QJsonDocument(BooksConnection{vendor + "-" + org, vendor, client, org, "cid", "in", 1.7e9}.toJson())
        .toJson(QJsonDocument::Compact);
}

void writeIndex(const TempHome &home, const QList<QByteArray> &records)
{
    home.write(".velto/books.json", "[" + records.join(",") + "]");
}

TEST_F(BooksStore, ConnectKeepsTheRecordInTheIndexAndTheSecretsInTheStore)
{
    QJsonObject args = zoho("  Acme Traders\t", " 60001 ");
    args["client_id"] = "\t1000.ZOHOCLIENT ";
    const Answer a = run("books_connect", args);
    ASSERT_FALSE(a.isError) << a.text;
    EXPECT_EQ(a.json(), (QJsonObject{{"connected", "Acme Traders"},
                                     {"vendor", "Zoho Books"},
                                     {"note", "The refresh token and secret are in the system keyring. Read "
                                              "books_contacts to check it works."}}));

    const QByteArray file = readFile(VELTO_HOME + "/books.json");
    EXPECT_FALSE(file.contains('\n')) << "written compact";
    EXPECT_FALSE(file.contains("zoho-secret")) << "no secret in the index";
    EXPECT_FALSE(file.contains("zoho-refresh"));
    const QJsonArray list = QJsonDocument::fromJson(file).array();
    ASSERT_EQ(list.size(), 1);
    QJsonObject rec = list[0].toObject();
    const double updated = rec.take("updated").toDouble();
    EXPECT_NEAR(updated, QDateTime::currentMSecsSinceEpoch() / 1000.0, 60);
    EXPECT_EQ(rec, (QJsonObject{{"id", "zoho-60001"}, {"vendor", "zoho"}, {"client", "Acme Traders"},
                                {"organisation", "60001"}, {"clientId", "1000.ZOHOCLIENT"}, {"region", "in"}}));
    EXPECT_EQ(secret("zoho-60001.refresh"), "1000.zoho-refresh-0001");
    EXPECT_EQ(secret("zoho-60001.secret"), "zoho-secret-0001");

    // The same books saved under another client now belong to that client,
    // with fresh secrets, and move to the end of the file.
    connect(quickbooks());
    QJsonObject again = zoho("Acme Traders LLP", "60001");
    again["refresh_token"] = "1000.zoho-refresh-0002";
    again["region"] = "eu";
    connect(again);
    const QJsonArray after = QJsonDocument::fromJson(readFile(VELTO_HOME + "/books.json")).array();
    ASSERT_EQ(after.size(), 2);
    EXPECT_EQ(after[0]["id"], "quickbooks-9130350");
    EXPECT_EQ(after[1]["client"], "Acme Traders LLP");
    EXPECT_EQ(after[1]["region"], "eu");
    EXPECT_EQ(secret("zoho-60001.refresh"), "1000.zoho-refresh-0002");
}

TEST_F(BooksStore, TheCallPicksItsConnectionByClient)
{
    writeIndex(*home, {record("zoho", "Bharat Steels", "1"), record("quickbooks", "acme traders", "2"),
                       record("zoho", "Bharat Steel Works", "3"), record("zoho", "Acme", "4"),
                       record("quickbooks", "Zenith Exports", "5"), record("zoho", "Zenith Exports", "6")});
    QStringList order;
    for (const BooksConnection &c : BooksTools::all())
        order << c.client;
    EXPECT_EQ(order, (QStringList{"Acme", "acme traders", "Bharat Steel Works", "Bharat Steels", "Zenith Exports",
                                  "Zenith Exports"}))
        << "sorted by lower-cased client; equal names keep their file order";

    const struct {
        std::optional<QString> asked;
        QString foundId;
        QString why;
    } cases[] = {
        {"ACME TRADERS", "quickbooks-2", {}},          // exact beats an earlier prefix (Acme)
        {"acme traders pvt ltd", "zoho-4", {}},        // the first stored name that is a prefix of the request
        {" Bharat Steel W", "zoho-3", {}},             // the request is a prefix of the stored name
        {"bharat", "zoho-3", {}},                      // the first in order: a space sorts before a letter
        {"zenith exports", "quickbooks-5", {}},        // the vendor plays no part
        {"Tata\n", {}, "No cloud books connected for Tata\n. Connected: Acme, acme traders, Bharat Steel Works, "
                       "Bharat Steels, Zenith Exports, Zenith Exports."},
        {"  \t ", {}, "Say whose books: Acme (Zoho Books), acme traders (QuickBooks Online), Bharat Steel Works (Zoho "
                      "Books), Bharat Steels (Zoho Books), Zenith Exports (QuickBooks Online), Zenith Exports (Zoho "
                      "Books)."},
        {std::nullopt, {}, "Say whose books: Acme (Zoho Books), acme traders (QuickBooks Online), Bharat Steel Works "
                           "(Zoho Books), Bharat Steels (Zoho Books), Zenith Exports (QuickBooks Online), Zenith "
                           "Exports (Zoho Books)."},
    };
    for (const auto &c : cases) {
        const BooksTools::Choice choice = BooksTools::connection(c.asked);
        EXPECT_EQ(choice.found ? choice.found->id : QString(), c.foundId) << c.asked.value_or("(none)");
        EXPECT_EQ(choice.why, c.why) << c.asked.value_or("(none)");
    }

    writeIndex(*home, {record("zoho", "Acme", "4")});
    EXPECT_EQ(BooksTools::connection(QString(" ")).found->id, "zoho-4") << "blank counts as no client";
    EXPECT_EQ(BooksTools::connection(std::nullopt).found->id, "zoho-4");
}

TEST_F(BooksStore, AnIndexThatCannotBeReadIsEmptyForReadsAndNeverOverwritten)
{
    const QString noConnection =
        "No cloud books are connected. The CA connects one with books_connect: for Zoho Books they make a Self "
        "Client in the Zoho API console (no app review) and pass its client id, secret and a refresh token; for "
        "QuickBooks the same from an app on the Intuit developer portal. Velto never registers anything itself.";
    const QString refused = "The list of connected books (books.json in the Velto folder) cannot be read, so the "
                            "books were not connected and nothing was changed. The CA has to repair or move that "
                            "file first.";
    QJsonObject missingRegion = BooksConnection{"zoho-1", "zoho", "Acme", "1", "c", "in", 1}.toJson();
    missingRegion.remove("region");
    const QByteArray broken[] = {
        "[" + QJsonDocument(missingRegion).toJson(QJsonDocument::Compact) + "," + record("zoho", "Tata", "2") + "]",
        "{\"not\":\"a list\"}",
        "[{\"id\":\"zoho-1\"",
    };
    for (const QByteArray &content : broken) {
        home->write(".velto/books.json", content);
        EXPECT_TRUE(BooksTools::all().isEmpty()) << content;
        const Answer list = run("books_connections");
        EXPECT_FALSE(list.isError);
        EXPECT_TRUE(list.text.startsWith("No cloud books are connected yet.")) << list.text;
        const Answer contacts = run("books_contacts");
        EXPECT_TRUE(contacts.isError);
        EXPECT_EQ(contacts.text, noConnection);

        const Answer a = run("books_connect", zoho("New Client", "77"));
        EXPECT_TRUE(a.isError);
        EXPECT_EQ(a.text, refused);
        EXPECT_EQ(readFile(VELTO_HOME + "/books.json"), content) << "the CA's connections stay on disk";
        EXPECT_EQ(secret("zoho-77.refresh"), std::nullopt) << "nothing stored for a refused save";
    }

    // A file that cannot even be opened is refused the same way.
    QFile::remove(VELTO_HOME + "/books.json");
    QDir().mkpath(VELTO_HOME + "/books.json");
    EXPECT_EQ(run("books_connect", zoho()).text, refused);

    // An empty file holds nothing to lose.
    QDir().rmdir(VELTO_HOME + "/books.json");
    home->write(".velto/books.json", "");
    connect(zoho());
    EXPECT_EQ(BooksTools::all().size(), 1);
}

TEST_F(BooksStore, AFailedSavePutsTheSecretsBackAndSaysSo)
{
    connect(zoho("Acme Traders", "60001"));
    const QByteArray before = readFile(VELTO_HOME + "/books.json");
    QJsonObject fresh = zoho("Acme Traders", "60001");
    fresh["refresh_token"] = "1000.zoho-refresh-NEW";
    fresh["client_secret"] = "zoho-secret-NEW1";

    // The second secret cannot be stored.
    const BooksTools::Store real = BooksTools::store;
    BooksTools::store.set = [real](const QString &value, const QString &account) {
        return account.endsWith(".secret") && value.endsWith("NEW1") ? false : real.set(value, account);
    };
    Answer a = run("books_connect", fresh);
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "Could not put the credentials in the system keyring, so the books were not connected.");
    EXPECT_EQ(secret("zoho-60001.refresh"), "1000.zoho-refresh-0001") << "the old pair stays whole";
    EXPECT_EQ(secret("zoho-60001.secret"), "zoho-secret-0001");
    EXPECT_EQ(readFile(VELTO_HOME + "/books.json"), before);
    BooksTools::store = real;

    // The index cannot be written: an error, never "connected".
    BooksTools::indexURL = [this] { return home->file("no such folder/books.json"); };
    a = run("books_connect", fresh);
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(a.text, "Could not save the list of connected books (books.json in the Velto folder), so the books "
                      "were not connected.");
    EXPECT_EQ(secret("zoho-60001.refresh"), "1000.zoho-refresh-0001");
    EXPECT_EQ(secret("zoho-60001.secret"), "zoho-secret-0001");
    a = run("books_connect", zoho("Other", "61"));
    EXPECT_TRUE(a.isError);
    EXPECT_EQ(secret("zoho-61.refresh"), std::nullopt) << "a new connection leaves nothing behind";
    EXPECT_EQ(secret("zoho-61.secret"), std::nullopt);
}

TEST_F(BooksStore, ConnectRefusesMissingArgumentsAndForeignRegions)
{
    const QString required = "client, vendor, organisation, client_id, client_secret and refresh_token are all required.";
    const struct {
        const char *key;
        QJsonValue value;
    } bad[] = {
        {"client", " \t "}, {"client", 5},          {"vendor", "Zoho"},        {"vendor", " zoho"},
        {"vendor", "tally"}, {"organisation", ""},  {"client_id", QJsonValue()}, {"client_secret", ""},
        {"refresh_token", QJsonArray{"x"}},
    };
    for (const auto &b : bad) {
        QJsonObject args = zoho();
        if (b.value.isNull())
            args.remove(b.key);
        else
            args[b.key] = b.value;
        const Answer a = run("books_connect", args);
        EXPECT_TRUE(a.isError) << b.key;
        EXPECT_EQ(a.text, required) << b.key;
    }
    for (const char *region : {"us", "IN", "zoho.in", "in/evil", ""}) {
        QJsonObject args = zoho();
        args["region"] = region;
        const Answer a = run("books_connect", args);
        EXPECT_TRUE(a.isError) << region;
        EXPECT_EQ(a.text, "region must be one of Zoho's data centres: in, com, eu or au. The books were not connected.");
    }
    EXPECT_FALSE(QFile::exists(VELTO_HOME + "/books.json"));
    EXPECT_EQ(secret("zoho-60001.refresh"), std::nullopt);

    // QuickBooks has no regions: whatever is given is kept and never used.
    QJsonObject qb = quickbooks();
    qb["region"] = "anything";
    connect(qb);
    EXPECT_EQ(BooksTools::all().first().region, "anything");
}

} // namespace
