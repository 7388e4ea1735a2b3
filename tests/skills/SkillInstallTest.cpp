#include "skills/SkillInstall.h"
#include "support/TestKit.h"

using TestKit::HomeTest;

namespace {

TEST(SkillFrontMatter, ReadsValuesOfTheHeadOnly)
{
    const QString text = "---\nname: \"GST filing\"\ndescription: 'Files returns'\nmetadata:\n  area: gst\n"
                         "namespace: other\n---\n\nowner: body\n";
    EXPECT_EQ(SkillInstall::front(text, "name"), "GST filing");
    EXPECT_EQ(SkillInstall::front(text, "description"), "Files returns");
    EXPECT_EQ(SkillInstall::front(text, "area"), "gst");       // nested keys by the same rule
    EXPECT_EQ(SkillInstall::front(text, "owner"), std::nullopt); // only in the body
    EXPECT_EQ(SkillInstall::front(text, "names"), std::nullopt);
    EXPECT_EQ(SkillInstall::front("---\nnamespace: x\nname: y\n---", "name"), "y");

    EXPECT_EQ(SkillInstall::front("\n---\nname: x\n---", "name"), std::nullopt); // starts with a blank line
    EXPECT_EQ(SkillInstall::front("name: x", "name"), std::nullopt);
    // CR LF line ends make the head one line: no value for any key.
    EXPECT_EQ(SkillInstall::front("---\r\nname: x\r\n---\r\n", "name"), std::nullopt);
    // The first matching line wins; the value is never unfolded.
    EXPECT_EQ(SkillInstall::front("---\nname: a\nname: b\n---", "name"), "a");
}

TEST(SkillFrontMatter, StampPutsOwnershipFirst)
{
    EXPECT_EQ(SkillInstall::stamp("---\nname: x\nowner: maker\n---\nBody", "n", "d", "github.com/o/r@main/skills/x"),
              "---\nowner: firm\nsource: github.com/o/r@main/skills/x\nname: x\nowner: maker\n---\nBody");
    EXPECT_EQ(SkillInstall::front(SkillInstall::stamp("---\nowner: maker\n---\n", "n", "d", "s"), "owner"), "firm");

    EXPECT_EQ(SkillInstall::stamp("Just steps.", "GST", "Files GST", "h/o/r@v1"),
              "---\nname: GST\ndescription: \"Files GST\"\nowner: firm\nsource: h/o/r@v1\n---\n\nJust steps.");
    // CR LF after the opening delimiter is not front matter: a new block goes in front.
    EXPECT_EQ(SkillInstall::stamp("---\r\nname: x\r\n---\r\n", "n", "d", "s"),
              "---\nname: n\ndescription: \"d\"\nowner: firm\nsource: s\n---\n\n---\r\nname: x\r\n---\r\n");
}

class SkillStampedTest : public HomeTest {};

TEST_F(SkillStampedTest, MarkCountsWithinTheFirst700Characters)
{
    const QString at700 = home->write("a.md", QByteArray(689, 'x') + "owner: firm");  // ends at 700
    const QString at701 = home->write("b.md", QByteArray(690, 'x') + "owner: firm");  // ends at 701
    // Characters, not bytes: 689 two-byte characters still leave the mark inside.
    const QString wide = home->write("c.md", QString(689, QChar(0x00e9)).toUtf8() + "  owner: firm");
    EXPECT_TRUE(SkillInstall::stamped(at700));
    EXPECT_FALSE(SkillInstall::stamped(at701));
    EXPECT_FALSE(SkillInstall::stamped(wide)); // 689 + 2 spaces pushes it past 700
    const QString wideInside = home->write("d.md", QString(600, QChar(0x00e9)).toUtf8() + "\n  owner: firm");
    EXPECT_TRUE(SkillInstall::stamped(wideInside));
    EXPECT_FALSE(SkillInstall::stamped(home->file("missing.md")));
}

TEST(SkillSafeName, FolderNames)
{
    const std::vector<std::pair<QString, QString>> cases = {
        {"GST Return: Monthly (B2B)", "gst-return-monthly-b2b"},
        {"--already-safe--", "already-safe"},
        {"---", ""},
        {"जीएसटी", ""},
        {"Tally 9 — ERP", "tally-9-erp"},
        {"a__b", "a-b"},
    };
    for (const auto &[in, out] : cases)
        EXPECT_EQ(SkillInstall::safeName(in), out) << in.toStdString();
}

} // namespace
