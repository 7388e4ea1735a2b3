#include "browser/Hosts.h"
#include "core/Globals.h"
#include "support/TestKit.h"

#include <QFile>

using TestKit::HomeTest;

namespace {

class HostsTest : public HomeTest {};

TEST_F(HostsTest, TheBuiltInListHoldsItsFiftyEightSuffixes)
{
    const QStringList &hosts = ALLOWED_HOSTS();
    EXPECT_EQ(hosts.size(), 58);
    EXPECT_EQ(hosts.first(), "gov.in");
    EXPECT_EQ(hosts.last(), "npci.org.in");
    for (const QString &h : hosts)
        EXPECT_EQ(h, h.toLower());
}

TEST_F(HostsTest, HostAllowed)
{
    home->write(".velto/sites.json", R"(["example.co.in"])");
    struct Case {
        std::optional<QString> host;
        bool allowed;
    };
    const std::vector<Case> cases = {
        {std::nullopt, false},
        {"", false},
        {"127.0.0.1", true},
        {"LOCALHOST", true},
        {"gst.gov.in", true},
        {"services.gst.gov.in", true},
        {"anything.gov.in", true},
        {"GST.GOV.IN", true},
        {"evilgov.in", false},
        {"gov.in.evil.com", false},
        {"notzoho.com", false},
        {"books.zoho.com", true},
        {"example.co.in", true},
        {"a.example.co.in", true},
        {"badexample.co.in", false},
        {"example.com", false},
        {"127.0.0.2", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(hostAllowed(c.host), c.allowed) << (c.host ? c.host->toStdString() : "<none>");

    // A hand edit takes effect at the next check.
    home->write(".velto/sites.json", R"(["example.com"])");
    EXPECT_TRUE(hostAllowed(QString("example.com")));
    EXPECT_FALSE(hostAllowed(QString("example.co.in")));
}

TEST_F(HostsTest, OpensInSystemBrowser)
{
    struct Case {
        const char *url;
        bool system;
    };
    const std::vector<Case> cases = {
        {"https://hallix.in/wallet_pay", true},
        {"https://HALLIX.IN/velto_pay.php?x=1", true},
        {"https://hallix.in/wallet_pay.php", true},
        {"https://hallix.in/velto_pay", true},
        {"http://hallix.in/wallet_pay", false},
        {"https://hallix.in/wallet", false},
        {"https://hallix.in/wallet_pay/", false},
        {"https://www.hallix.in/wallet_pay", false},
        {"https://gst.gov.in/wallet_pay", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(opensInSystemBrowser(QUrl(c.url)), c.system) << c.url;

    // The built-in host counts even when the environment points the app elsewhere.
    home->refill({{"VELTO_API", "http://127.0.0.1:9"}});
    EXPECT_TRUE(opensInSystemBrowser(QUrl("https://hallix.in/wallet_pay")));
}

TEST_F(HostsTest, Clean)
{
    struct Case {
        const char *text;
        std::optional<QString> host;
    };
    const std::vector<Case> cases = {
        {"  https://WWW.Example.co.in:8443/path/x?q=1  \n", "example.co.in"},
        {"*.portal.example.com", "portal.example.com"},
        {"example.com", "example.com"},
        {"http://www.example.com", "example.com"},
        {"192.168.1.10", std::nullopt},
        {"localhost", std::nullopt},
        {".example.com", std::nullopt},
        {"example.com.", std::nullopt},
        {"my_site.com", std::nullopt},
        {"that site", std::nullopt},
        {"", std::nullopt},
        {"bücher.de", QString::fromUtf8("bücher.de")},
        {"a..b.com", "a..b.com"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ExtraSites::clean(c.text), c.host) << c.text;
    EXPECT_FALSE(ExtraSites::clean(QString(250, 'a') + ".com"));
}

TEST_F(HostsTest, AddAndRemove)
{
    const QString file = home->file(".velto/sites.json");
    EXPECT_TRUE(ExtraSites::all().isEmpty()) << "a missing file is an empty list";

    EXPECT_EQ(ExtraSites::add("https://www.Zeta.in/x"), QString("zeta.in"));
    EXPECT_EQ(ExtraSites::add("alpha.in"), QString("alpha.in"));
    EXPECT_EQ(TestKit::readFile(file), R"(["alpha.in","zeta.in"])");
    EXPECT_EQ(ExtraSites::add("zeta.in"), QString("zeta.in"));
    EXPECT_EQ(TestKit::readFile(file), R"(["alpha.in","zeta.in"])");

    const QByteArray before = TestKit::readFile(file);
    EXPECT_FALSE(ExtraSites::add("that site"));
    EXPECT_EQ(TestKit::readFile(file), before) << "bad text writes nothing";

    // Hand-edited order is kept by remove; entries that no longer clean are dropped.
    home->write(".velto/sites.json", R"(["m.in","b.in","bad_host","a.in","b.in"])");
    EXPECT_EQ(ExtraSites::all(), (QStringList{"m.in", "b.in", "a.in", "b.in"}));
    ExtraSites::remove("B.IN");
    EXPECT_EQ(TestKit::readFile(file), R"(["m.in","a.in"])");

    // A malformed file reads as empty and is replaced whole by the next add.
    home->write(".velto/sites.json", "{not json");
    EXPECT_TRUE(ExtraSites::all().isEmpty());
    ExtraSites::add("c.in");
    EXPECT_EQ(TestKit::readFile(file), R"(["c.in"])");
}

} // namespace
