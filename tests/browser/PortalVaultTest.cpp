// The portal logins store: sorting, finding, saving over a login, passwords
// apart in the secret store, and never replacing a file it cannot read.
#include "browser/PortalVault.h"
#include "core/Globals.h"
#include "platform/SecretStore.h"
#include "support/TestKit.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

using namespace TestKit;

namespace {

PortalLogin login(const QString &id, const QString &client, const QString &portal, const QString &user = "user")
{
    return PortalLogin{id, client, portal, user, QString(), QString(), 0};
}

class PortalVaultTest : public HomeTest {
protected:
    void SetUp() override
    {
        HomeTest::SetUp();
        SecretStore::useMemory();
    }

    static QStringList order()
    {
        QStringList out;
        for (const PortalLogin &l : PortalVault::all())
            out.append(l.client + "/" + l.portal);
        return out;
    }
};

TEST_F(PortalVaultTest, SortedByClientThenPortal)
{
    EXPECT_TRUE(PortalVault::all().empty()) << "no file yet";
    for (const PortalLogin &l : {login("1", "beta", "GST"), login("2", "alpha", "MCA"), login("3", "Alpha", "GST"),
                                 login("4", "alpha", "EPFO"), login("5", "Alpha", "GST")})
        ASSERT_TRUE(PortalVault::upsert(l).ok());
    EXPECT_EQ(order(), (QStringList{"Alpha/GST", "Alpha/GST", "alpha/EPFO", "alpha/MCA", "beta/GST"}));
    EXPECT_EQ(PortalVault::all()[0].id, "3") << "equal keys keep their saved order";
}

TEST_F(PortalVaultTest, TheFileOnDisk)
{
    const double before = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    PortalLogin l = login("A1", "Quenby Exports", "GST", "quenby_gst");
    l.url = "https://services.gst.gov.in/services/login";
    l.note = "director's mobile for OTP";
    l.updated = 5;
    ASSERT_TRUE(PortalVault::upsert(l, QString("s3cret")).ok());

    const QString file = VELTO_HOME + "/portals.json";
    EXPECT_EQ(PortalVault::file(), file);
    EXPECT_EQ(QFileInfo(file).permissions() & 0x7777, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser |
                                                           QFile::WriteUser);
    const QJsonArray saved = QJsonDocument::fromJson(readFile(file)).array();
    ASSERT_EQ(saved.size(), 1);
    const QJsonObject o = saved[0].toObject();
    EXPECT_EQ(o.keys(), (QStringList{"client", "id", "note", "portal", "updated", "url", "username"}));
    EXPECT_GE(o.value("updated").toDouble(), before) << "stamped at the save";
    EXPECT_FALSE(readFile(file).contains("s3cret")) << "the password is not in the file";
    EXPECT_EQ(SecretStore::get("in.hallix.velto.portal", "A1"), QString("s3cret"));

    const PortalLogin back = PortalVault::all().at(0);
    l.updated = back.updated;
    EXPECT_EQ(back, l);
}

TEST_F(PortalVaultTest, SavingOverALoginAndItsPassword)
{
    ASSERT_TRUE(PortalVault::upsert(login("A1", "Quenby", "GST", "old"), QString("first")).ok());
    ASSERT_TRUE(PortalVault::upsert(login("B2", "Quenby", "MCA")).ok());
    const double firstSave = PortalVault::all()[0].updated;

    // Same id: replaced, one record; an empty password keeps the stored one.
    ASSERT_TRUE(PortalVault::upsert(login("A1", "Quenby", "Income Tax", "new"), QString()).ok());
    auto all = PortalVault::all();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].portal, "Income Tax");
    EXPECT_EQ(all[0].username, "new");
    EXPECT_GE(all[0].updated, firstSave);
    EXPECT_EQ(PortalVault::password("A1"), QString("first"));

    ASSERT_TRUE(PortalVault::upsert(login("A1", "Quenby", "Income Tax"), QString("second")).ok());
    EXPECT_EQ(PortalVault::password("A1"), QString("second"));
    EXPECT_TRUE(PortalVault::hasPassword("A1"));
    EXPECT_FALSE(PortalVault::hasPassword("B2"));

    // A password the store refuses: the record is saved all the same.
    SecretStore::set = [](const QString &, const QString &, const QString &) { return false; };
    const PortalVault::Saved refused = PortalVault::upsert(login("C3", "Zeta", "GST"), QString("x"));
    SecretStore::useMemory();
    EXPECT_TRUE(refused.saved);
    EXPECT_FALSE(refused.passwordStored);
    EXPECT_FALSE(refused.ok());
    EXPECT_FALSE(refused.problem.isEmpty());
    EXPECT_EQ(PortalVault::all().size(), 3u);

    // Removing drops the record and its password, and an unknown id still
    // clears its secret.
    SecretStore::set(PortalVault::service, "ghost", "left over");
    ASSERT_TRUE(PortalVault::upsert(login("A1", "Quenby", "Income Tax"), QString("pw")).ok());
    EXPECT_TRUE(PortalVault::remove("A1").ok());
    EXPECT_FALSE(PortalVault::password("A1"));
    EXPECT_EQ(PortalVault::all().size(), 2u);
    const QByteArray before = readFile(PortalVault::file());
    EXPECT_TRUE(PortalVault::remove("ghost").ok());
    EXPECT_FALSE(PortalVault::password("ghost"));
    EXPECT_EQ(QJsonDocument::fromJson(readFile(PortalVault::file())), QJsonDocument::fromJson(before));
}

TEST_F(PortalVaultTest, FindingALogin)
{
    for (const PortalLogin &l : {login("1", "Quenby Exports", "GST"), login("2", "Quenby Exports", "Income Tax"),
                                 login("3", "Patel & Sons", "GST"), login("4", "Patel & Sons HUF", "GST"),
                                 login("5", "Shah Traders", "GST"), login("6", "Shah Textiles", "GST"),
                                 login("7", "Mehta", "e-Invoice"), login("8", "Mehta", "e-Way Bill")})
        ASSERT_TRUE(PortalVault::upsert(l).ok());

    struct Case {
        const char *client, *portal;
        QStringList ids;
    };
    for (const Case &c : std::vector<Case>{
             {"quen", "gst", {"1"}},
             {"QUENBY EXPORTS", "income", {"2"}},
             {"patel & sons", "GST", {"3"}}, // named whole: the HUF is another client
             {"patel", "gst", {"3", "4"}},
             {"shah", "GST", {"6", "5"}}, // several, in the store's order: the caller asks which
             {"mehta", "e-", {"7", "8"}},
             {"mehta", "e-way bill", {"8"}},
             {"", "GST", {}},
             {"Quenby", "", {}},
             {"Nobody", "GST", {}},
         }) {
        QStringList ids;
        for (const PortalLogin &l : PortalVault::matches(c.client, c.portal))
            ids.append(l.id);
        EXPECT_EQ(ids, c.ids) << c.client << " / " << c.portal;
        const auto one = PortalVault::find(c.client, c.portal);
        EXPECT_EQ(one ? QStringList{one->id} : QStringList(), c.ids.size() == 1 ? c.ids : QStringList())
            << c.client << " / " << c.portal;
    }
}

TEST_F(PortalVaultTest, AFileItCannotReadIsNeverReplaced)
{
    ASSERT_TRUE(PortalVault::upsert(login("A1", "Quenby", "GST"), QString("pw")).ok());
    const QList<QByteArray> unreadable = {
        "[{\"id\":\"A1\"", // cut short
        "{\"id\":\"A1\"}",  // not a list
        "[{\"id\":\"A1\",\"client\":\"Quenby\",\"portal\":\"GST\",\"username\":\"u\",\"url\":\"\",\"note\":\"\"}]",
        "[{\"id\":1,\"client\":\"Quenby\",\"portal\":\"GST\",\"username\":\"u\",\"url\":\"\",\"note\":\"\","
        "\"updated\":1}]",
    };
    for (const QByteArray &content : unreadable) {
        QFile f(PortalVault::file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();

        EXPECT_TRUE(PortalVault::all().empty()) << content.toStdString();
        EXPECT_FALSE(PortalVault::find("Quenby", "GST"));

        const PortalVault::Saved saved = PortalVault::upsert(login("B2", "New", "GST"), QString("new pw"));
        EXPECT_FALSE(saved.saved);
        EXPECT_FALSE(saved.passwordStored);
        EXPECT_TRUE(saved.problem.contains(PortalVault::file())) << saved.problem.toStdString();
        EXPECT_FALSE(PortalVault::password("B2"));

        const PortalVault::Saved removed = PortalVault::remove("A1");
        EXPECT_FALSE(removed.saved);
        EXPECT_FALSE(removed.problem.isEmpty());
        EXPECT_EQ(readFile(PortalVault::file()), content) << "the file stays as it was";
        EXPECT_EQ(PortalVault::password("A1"), QString("pw")) << "and so does every password";
    }

    // A blank file holds nothing to lose.
    QFile f(PortalVault::file());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.close();
    EXPECT_TRUE(PortalVault::upsert(login("B2", "New", "GST")).ok());
    EXPECT_EQ(PortalVault::all().size(), 1u);
}

TEST(PortalCatalogue, NamesAndLoginPages)
{
    QStringList names;
    for (const auto &[name, url] : PortalCatalogue::list()) {
        names.append(name);
        if (name != "Other") {
            EXPECT_TRUE(url.startsWith("https://")) << name.toStdString();
        }
    }
    EXPECT_EQ(names, (QStringList{"GST", "Income Tax", "TRACES (TDS)", "MCA", "EPFO", "ESIC", "e-Way Bill", "e-Invoice",
                                  "DGFT", "IP India", "Udyam", "Other"}));
    EXPECT_EQ(PortalCatalogue::url("gst"), PortalCatalogue::url("GST"));
    EXPECT_FALSE(PortalCatalogue::url("GST").isEmpty());
    EXPECT_EQ(PortalCatalogue::url("Other"), "");
    EXPECT_EQ(PortalCatalogue::url("Professional Tax"), "");
}

// The desktop's secret service, in the private keyring of the test command.
TEST_F(PortalVaultTest, PasswordsInTheDesktopKeyring)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") || !qEnvironmentVariableIsSet("VELTO_TEST_KEYRING"))
        GTEST_SKIP() << "no private keyring in this run";
    SecretStore::useKeychain();
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    EXPECT_TRUE(PortalVault::upsert(login(id, "Quenby", "GST"), QString("pässwörd")).ok());
    EXPECT_EQ(PortalVault::password(id), QString("pässwörd"));
    EXPECT_TRUE(PortalVault::setPassword("second", id));
    EXPECT_EQ(PortalVault::password(id), QString("second"));
    EXPECT_TRUE(PortalVault::remove(id).ok());
    EXPECT_FALSE(PortalVault::hasPassword(id));
    SecretStore::useMemory();
}

} // namespace
