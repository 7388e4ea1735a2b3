// What a program killed mid-write leaves behind, put right at the next start.
#include "app/Leftovers.h"
#include "core/Globals.h"
#include "platform/Files.h"
#include "support/TestKit.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace TestKit;

namespace {

void age(const QString &path, int seconds)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-seconds), QFileDevice::FileModificationTime));
}

TEST(Leftovers, TheAtomicWritersTempFilesAreKnownByName)
{
    const std::pair<const char *, bool> names[] = {
        {".opencode.json.tmp-3k9x0a1b2c", true}, {".seat.env.tmp-1", true},     {"opencode.json.tmp-3k9", false},
        {".opencode.json.tmp-", false},          {".notes.tmp-UPPER", false},   {".x.tmp-abc.bak", false},
        {".tmp-abc", false},                     {"report.tmp-abc", false},     {".a.tmp-0123456789abcd", false},
    };
    for (const auto &[name, temp] : names)
        EXPECT_EQ(Files::isAtomicTemp(name), temp) << name;
}

// A kill between the temp file and its rename left an old MCP token behind.
TEST(Leftovers, StaleTempFilesGoAndEverythingElseStays)
{
    TempHome home;
    const QString stale = home.write(".velto/hallix/.opencode.json.tmp-3k9x0a1b2c", R"({"mcp":{"token":"old"}})");
    const QString deep = home.write(".velto/browser/a/b/.hosts.json.tmp-z1", "{}");
    const QString fresh = home.write(".velto/.seat.env.tmp-q7", "PAVI_SEAT_TOKEN=x"); // a write under way
    home.write(".velto/hallix/opencode.json", "{}");
    home.write(".velto/hallix/notes.tmp-abc", "not ours");
    age(stale, 3600);
    age(deep, 120);
    age(home.file(".velto/hallix/notes.tmp-abc"), 3600);

    const Leftovers::Outcome o = Leftovers::clean(VELTO_HOME, QString());
    EXPECT_EQ(o.removed.size(), 2);
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_FALSE(QFileInfo::exists(deep));
    EXPECT_TRUE(QFileInfo::exists(fresh));
    EXPECT_TRUE(QFileInfo::exists(home.file(".velto/hallix/opencode.json")));
    EXPECT_TRUE(QFileInfo::exists(home.file(".velto/hallix/notes.tmp-abc")));
}

// Each moment an install can be killed at, and what the next start leaves.
TEST(Leftovers, AnInterruptedSkillSwapIsCompletedOrRolledBack)
{
    struct Case {
        const char *what;
        QStringList before; // files under the skills folder
        QStringList after;
    };
    const QString tag = "0123456789ab";
    const QList<Case> cases{
        {"killed while writing the new copy",
         {"gst/SKILL.md:old", ".gst.new-" + tag + "/SKILL.md:half"},
         {"gst", "gst/SKILL.md:old"}},
        {"killed between the two renames",
         {".gst.old-" + tag + "/SKILL.md:old", ".gst.new-" + tag + "/SKILL.md:new"},
         {"gst", "gst/SKILL.md:new"}},
        {"killed between the renames, the new copy gone",
         {".gst.old-" + tag + "/SKILL.md:old"},
         {"gst", "gst/SKILL.md:old"}},
        {"killed before the old copy was removed",
         {"gst/SKILL.md:new", ".gst.old-" + tag + "/SKILL.md:old"},
         {"gst", "gst/SKILL.md:new"}},
        {"a first install killed while writing",
         {".tds.new-" + tag + "/SKILL.md:half", "gst/SKILL.md:kept"},
         {"gst", "gst/SKILL.md:kept"}},
        {"nothing interrupted",
         {"gst/SKILL.md:kept", ".hidden-by-the-ca/x.md:x"},
         {".hidden-by-the-ca", ".hidden-by-the-ca/x.md:x", "gst", "gst/SKILL.md:kept"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempHome home;
        const QString skills = home.file(".velto/hallix/skills");
        for (const QString &f : c.before) {
            const qsizetype colon = f.indexOf(':');
            home.write(".velto/hallix/skills/" + f.left(colon), f.mid(colon + 1).toUtf8());
        }
        Leftovers::clean(QString(), skills);
        QStringList after;
        for (const QString &e : TestKit::entriesUnder(skills)) {
            const QString path = skills + "/" + e;
            after << (QFileInfo(path).isDir() ? e : e + ":" + QString::fromUtf8(*Files::readAll(path)));
        }
        EXPECT_EQ(after, c.after);
    }
}

} // namespace
