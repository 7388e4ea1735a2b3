#include "skills/SkillCorrections.h"
#include "support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>

using TestKit::HomeTest;

namespace {

QString readText(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("<missing>");
    return QString::fromUtf8(f.readAll());
}

class SkillCorrectionsTest : public HomeTest {
protected:
    QString dir;
    void SetUp() override
    {
        HomeTest::SetUp();
        dir = home->file("skills/gst-filing");
        QDir().mkpath(dir);
        SkillCorrections::now = [] { return QDateTime(QDate(2025, 3, 14), QTime(9, 0), QTimeZone::utc()); };
    }
    void TearDown() override
    {
        SkillCorrections::now = [] { return QDateTime::currentDateTimeUtc(); };
        HomeTest::TearDown();
    }
    void put(const QString &name, const QByteArray &text) { home->write("skills/gst-filing/" + name, text); }
    QString skill() const { return readText(dir + "/SKILL.md"); }
    QString local() const { return readText(dir + "/LOCAL.md"); }
};

TEST_F(SkillCorrectionsTest, MergesCorrectionsBelowTheFreshTextOnce)
{
    put("SKILL.md", "---\nname: GST filing\n---\n\nFile it.\n\n\n");
    put("LOCAL.md", "\n\n- **2025-01-02** — Use the new portal.\n");
    SkillCorrections::apply(dir);
    const QString merged = "---\nname: GST filing\n---\n\nFile it.\n\n## What this machine has learned since\n\n"
                           "- **2025-01-02** — Use the new portal.\n";
    EXPECT_EQ(skill(), merged);

    // Applying again changes nothing.
    SkillCorrections::apply(dir);
    EXPECT_EQ(skill(), merged);

    // A fresh copy from the cloud gets the section back.
    put("SKILL.md", "---\nname: GST filing\n---\n\nFile it.\n");
    SkillCorrections::apply(dir);
    EXPECT_EQ(skill(), merged);

    // Whatever stands after the first marker is replaced by the current corrections.
    put("SKILL.md", "Body\n## What this machine has learned since\n\nold\n## What this machine has learned since\nolder");
    SkillCorrections::apply(dir);
    EXPECT_EQ(skill(), "Body\n\n## What this machine has learned since\n\n- **2025-01-02** — Use the new portal.\n");
}

TEST_F(SkillCorrectionsTest, HeadingOnTheFirstLineIsNotTheMarker)
{
    put("SKILL.md", "## What this machine has learned since\n\nx");
    put("LOCAL.md", "fix");
    SkillCorrections::apply(dir);
    EXPECT_EQ(skill(), "## What this machine has learned since\n\nx\n\n## What this machine has learned since\n\nfix\n");
}

TEST_F(SkillCorrectionsTest, LeavesSkillAloneWhenThereIsNothingToMerge)
{
    struct Case {
        const char *name;
        std::optional<QByteArray> local;
        std::optional<QByteArray> skill;
    };
    const std::vector<Case> cases = {
        {"no LOCAL.md", std::nullopt, QByteArray("text")},
        {"blank LOCAL.md", QByteArray("\n \n\t\n"), QByteArray("text\n## What this machine has learned since\n\nold\n")},
        {"LOCAL.md not UTF-8", QByteArray("\xff\xfe bad"), QByteArray("text")},
        {"no SKILL.md", QByteArray("fix"), std::nullopt},
        {"SKILL.md not UTF-8", QByteArray("fix"), QByteArray("\xc3\x28")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(dir + "/LOCAL.md");
        QFile::remove(dir + "/SKILL.md");
        if (c.local)
            put("LOCAL.md", *c.local);
        if (c.skill)
            put("SKILL.md", *c.skill);
        SkillCorrections::apply(dir);
        if (c.skill) {
            QFile f(dir + "/SKILL.md");
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), *c.skill);
        } else {
            EXPECT_FALSE(QFile::exists(dir + "/SKILL.md"));
        }
    }
}

TEST_F(SkillCorrectionsTest, RecordAppendsDatedEntriesAndMerges)
{
    put("SKILL.md", "Steps.");
    const QString sentence = SkillCorrections::record(dir, "  Use the new portal.\n");
    EXPECT_EQ(sentence, "Recorded against that skill, and it survives the next sync from Hallix.");
    EXPECT_EQ(local(), "- **2025-03-14** — Use the new portal.");
    EXPECT_EQ(skill(), "Steps.\n\n## What this machine has learned since\n\n- **2025-03-14** — Use the new portal.\n");

    // A three-line correction with an empty middle line stays one list item.
    SkillCorrections::record(dir, "Open GSTR-1.\n\nThen check B2B.");
    EXPECT_EQ(local(), "- **2025-03-14** — Use the new portal.\n- **2025-03-14** — Open GSTR-1.\n  \n  Then check B2B.");
    EXPECT_TRUE(skill().endsWith("- **2025-03-14** — Open GSTR-1.\n  \n  Then check B2B.\n"));
}

TEST_F(SkillCorrectionsTest, RecordKeepsWhatTheCATypedAndDatesInUtc)
{
    put("LOCAL.md", "\nMy own note\n\n");
    // 02:00 in India is 20:30 UTC the day before.
    SkillCorrections::now = [] {
        return QDateTime(QDate(2025, 4, 1), QTime(2, 0), QTimeZone(QByteArrayLiteral("Asia/Kolkata")));
    };
    SkillCorrections::record(dir, "Late fee applies.");
    EXPECT_EQ(local(), "My own note\n- **2025-03-31** — Late fee applies.");
    // No SKILL.md: nothing to merge into, and nothing is made.
    EXPECT_FALSE(QFile::exists(dir + "/SKILL.md"));
}

TEST_F(SkillCorrectionsTest, RecordIntoAMissingFolderStillAnswers)
{
    const QString gone = home->file("skills/none");
    EXPECT_EQ(SkillCorrections::record(gone, "x"),
              "Recorded against that skill, and it survives the next sync from Hallix.");
    EXPECT_FALSE(QFile::exists(gone + "/LOCAL.md"));
    EXPECT_EQ(SkillCorrections::file(gone), gone + "/LOCAL.md");
}

} // namespace
