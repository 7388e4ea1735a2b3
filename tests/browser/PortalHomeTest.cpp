#include "browser/Hosts.h"
#include "browser/PortalHome.h"
#include "core/Globals.h"
#include "support/TestKit.h"
#include "ui/Theme.h"

#include <QRegularExpression>
#include <QUrl>

using namespace TestKit;

namespace {

class PortalHomeTest : public HomeTest {
protected:
    std::optional<QString> saved;
    void SetUp() override
    {
        HomeTest::SetUp();
        saved = Theme::override();
    }
    void TearDown() override
    {
        Theme::setOverride(saved);
        HomeTest::TearDown();
    }
    static QString read(bool dark)
    {
        Theme::setOverride(dark ? QStringLiteral("dark") : QStringLiteral("light"));
        return PORTAL_HOME();
    }
};

TEST_F(PortalHomeTest, CarriesBothPalettesAndStartsInTheThemeInForce)
{
    const QString light = read(false);
    const QString dark = read(true);
    EXPECT_TRUE(light.startsWith("<!doctype html><html data-theme=\"light\">"));
    EXPECT_TRUE(dark.startsWith("<!doctype html><html data-theme=\"dark\">"));
    const QString lightVars = ":root{--bg:#F6F5F1;--surface:#FFFFFF;--ink:#0E1220;--ink2:#3A4053;--muted:#5F6578;"
                              "--line:rgba(14,18,32,0.080);--line2:rgba(14,18,32,0.140);--royal:#3257E0;"
                              "--royal-soft:rgba(50,87,224,0.100);color-scheme:light}";
    const QString darkVars = ":root[data-theme=\"dark\"]{--bg:#06070B;--surface:#10131C;--ink:#F1F3F9;--ink2:#C2C7D6;"
                             "--muted:#8A91A6;--line:rgba(255,255,255,0.080);--line2:rgba(255,255,255,0.140);"
                             "--royal:#6C8BFF;--royal-soft:rgba(108,139,255,0.140);color-scheme:dark}";
    for (const QString &page : {light, dark}) {
        EXPECT_TRUE(page.contains("\n" + lightVars + "\n" + darkVars)) << "both palettes, whatever the theme";
        EXPECT_TRUE(page.contains("<title>Velto Browser</title>"));
        EXPECT_TRUE(page.contains("<h1>Vel<i>to</i> Browser</h1>"));
        EXPECT_TRUE(page.contains("class=\"vo-mascot vo-hue\""));
        EXPECT_TRUE(page.contains("id=\"spg\"")) << "the mascot's ids carry the page's prefix";
        EXPECT_TRUE(page.contains("window.__veltoSetTheme=function(t)"));
        // Reduced motion stills the links, the page and the mascot.
        EXPECT_TRUE(page.contains("@media (prefers-reduced-motion: reduce){a,body{transition:none}a:hover{transform:none}}"));
        EXPECT_TRUE(page.contains("@media (prefers-reduced-motion: reduce){.vo-body,.vo-eyes,.vo-hue,.vo-shine{animation:none}}"));
    }
}

TEST_F(PortalHomeTest, EveryLinkIsAnAllowedPortal)
{
    // The maker's link stays on the built-in host when the cloud is elsewhere.
    home->refill({{"VELTO_API", "http://127.0.0.1:9"}});
    const QString page = read(false);
    QStringList labels, hrefs;
    static const QRegularExpression link("<a href=\"([^\"]+)\">([^<]+)</a>");
    for (auto it = link.globalMatch(page); it.hasNext();) {
        const auto m = it.next();
        hrefs << m.captured(1);
        labels << m.captured(2);
    }
    EXPECT_EQ(labels, (QStringList{"GST portal", "Income Tax", "MCA", "TRACES", "EPFO", "ESIC", "e-Way Bill", "Hallix"}));
    ASSERT_EQ(hrefs.size(), 8);
    for (const QString &href : hrefs) {
        const QUrl url(href);
        EXPECT_EQ(url.scheme(), "https") << href.toStdString();
        EXPECT_TRUE(hostAllowed(url.host())) << href.toStdString();
    }
    EXPECT_EQ(hrefs[0], "https://services.gst.gov.in/services/login");
    EXPECT_EQ(QUrl(hrefs[1]).fragment(), "/login");
    EXPECT_EQ(hrefs[7], "https://hallix.in/ca/cli");
}

} // namespace
