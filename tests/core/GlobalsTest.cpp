#include "core/Globals.h"
#include "support/TestKit.h"

#include <QDir>
#include <QFile>

using TestKit::HomeTest;

namespace {

QProcessEnvironment envOf(const QMap<QString, QString> &vars)
{
    QProcessEnvironment env;
    for (auto it = vars.begin(); it != vars.end(); ++it)
        env.insert(it.key(), it.value());
    return env;
}

class GlobalsTest : public HomeTest {};

TEST_F(GlobalsTest, DemoHomeMovesEveryPath)
{
    const QString h = home->path();
    EXPECT_EQ(DEMO_HOME, h);
    EXPECT_EQ(HOME, h);
    EXPECT_EQ(VELTO_HOME, h + "/.velto");
    EXPECT_EQ(ENGINE, h + "/.velto/bin/velto-engine");
    EXPECT_EQ(LAUNCHER, h + "/.velto/bin/velto");
    EXPECT_EQ(SEAT_ENV, h + "/.velto/seat.env");
    EXPECT_EQ(WORK_ENV, h + "/.velto/velto.env");
    EXPECT_EQ(KEYS_ENV, h + "/.velto/keys.env");
    EXPECT_EQ(OC_DIR, h + "/.velto/hallix");
    EXPECT_EQ(OC_JSON, h + "/.velto/hallix/opencode.json");
    EXPECT_EQ(API, "https://hallix.in");
    EXPECT_EQ(AREAS.join(' '), "gst itr tds mca payroll audit books bank notices correspondence");
    EXPECT_EQ(ROOT_DIRS.join('|'), "00 Firm/letterheads|00 Firm/templates|00 Firm/engagement letters|"
                                   "00 Firm/staff|00 Firm/SOPs|01 Inbox|02 Clients|03 Calendar|04 Research|05 Archive");
}

TEST_F(GlobalsTest, EnvironmentSwitches)
{
    // Empty demo home is the same as none.
    initGlobals(envOf({{"VELTO_DEMO_HOME", ""}, {"VELTO_RECORD_SCALE", "2"}}));
    EXPECT_FALSE(DEMO_HOME.has_value());
    EXPECT_FALSE(demoRecordScale.has_value()) << "no scale outside demo mode";
    EXPECT_EQ(HOME, QDir::homePath());

    // VELTO_API is used unchanged, even when empty.
    initGlobals(envOf({{"VELTO_API", ""}}));
    EXPECT_EQ(API, "");
    initGlobals(envOf({{"VELTO_API", "http://127.0.0.1:9/x"}}));
    EXPECT_EQ(API, "http://127.0.0.1:9/x");

    struct ScaleCase {
        const char *text;
        std::optional<double> expected;
    };
    const std::vector<ScaleCase> scales = {
        {"5", 3.0}, {"0.5", 1.0}, {"2.5", 2.5}, {"1", 1.0}, {"-4", 1.0}, {"abc", std::nullopt},
        {"", std::nullopt}, {" 2", std::nullopt},
    };
    for (const auto &c : scales) {
        initGlobals(envOf({{"VELTO_DEMO_HOME", home->path()}, {"VELTO_RECORD_SCALE", c.text}}));
        EXPECT_EQ(demoRecordScale, c.expected) << c.text;
    }
    initGlobals(envOf({{"VELTO_DEMO_HOME", home->path()}}));
    EXPECT_FALSE(demoRecordScale.has_value());
}

TEST_F(GlobalsTest, LegacyConfigFolderMovesOnce)
{
    home->write(".velto/opencode/opencode.json", "{\"a\":1}");
    home->refill();
    EXPECT_TRUE(QFile::exists(home->file(".velto/hallix/opencode.json")));
    EXPECT_FALSE(QFile::exists(home->file(".velto/opencode")));
    EXPECT_EQ(OC_DIR, home->file(".velto/hallix"));

    // With both present nothing moves.
    home->write(".velto/opencode/other.json", "{}");
    home->refill();
    EXPECT_TRUE(QFile::exists(home->file(".velto/opencode/other.json")));
    EXPECT_FALSE(QFile::exists(home->file(".velto/hallix/other.json")));
    EXPECT_TRUE(QFile::exists(home->file(".velto/hallix/opencode.json")));
}

} // namespace
