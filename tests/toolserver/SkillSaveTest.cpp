// skill_save: the CA's yes, the name rules, the file it writes, the engine's
// permission, and the maker's skills kept as corrections.
#include "ToolFixture.h"

#include "core/OcConfig.h"
#include "skills/SkillCorrections.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>

using namespace McpTest;
using namespace TestKit;

namespace {

QString readText(const QString &path)
{
    return QString::fromUtf8(readFile(path));
}

class SkillSaveTest : public ToolTest {
protected:
    const QString body = "1. Open the portal and sign in.\n" + QString(200, QLatin1Char('.'));

    QJsonObject args(const QString &name, const QString &description, const QString &text) const
    {
        return {{"name", name}, {"description", description}, {"body", text}, {"confirmed_by_ca", true}};
    }
    QString skillFile(const QString &name) const { return OC_DIR + "/skills/" + name + "/SKILL.md"; }
    QString saved(const QString &verb, const QString &name) const
    {
        return verb + " skill " + name + " at " + skillFile(name) +
               ". It is available from the next session — start a new one to use it. Tell the CA it is on this "
               "machine only; Hallix can publish it to the whole firm.";
    }
    void writeConfig(const QByteArray &json) const { home->write(".velto/hallix/opencode.json", json); }
};

TEST_F(SkillSaveTest, NeedsTheCAsYesAndARealProcedure)
{
    const QString refused =
        "Refused: show the CA the procedure and get a yes, then call again with confirmed_by_ca true.";
    for (const QJsonValue &yes : {QJsonValue(), QJsonValue(false), QJsonValue("true"), QJsonValue(1)}) {
        QJsonObject a = args("gst-return", "When filing", body);
        if (yes.isUndefined())
            a.remove("confirmed_by_ca");
        else
            a.insert("confirmed_by_ca", yes);
        const ToolAnswer answer = run("skill_save", a);
        EXPECT_EQ(answer.text, refused) << show(yes);
        EXPECT_TRUE(answer.isError);
    }

    const QString need =
        "Need a kebab-case name, a one-line description and a real procedure (at least a few hundred characters).";
    struct Case {
        QJsonValue name, description, body;
    };
    const QString e = QStringLiteral("e\u0301"); // one character as seen, two code points
    for (const Case &c : std::vector<Case>{
             {"--a--", "d", body},
             {"ab!", "d", body},
             {QJsonValue(), "d", body},
             {"gst-return", "", body},
             {"gst-return", 5, body},
             {"gst-return", "d", e.repeated(199)},
             {"gst-return", "d", QJsonValue()},
         }) {
        QJsonObject a{{"confirmed_by_ca", true}};
        for (auto [key, value] : {std::pair{"name", c.name}, {"description", c.description}, {"body", c.body}})
            if (!value.isUndefined())
                a.insert(key, value);
        const ToolAnswer answer = run("skill_save", a);
        EXPECT_EQ(answer.text, need) << show(c.name) << show(c.description);
        EXPECT_TRUE(answer.isError);
    }
    EXPECT_FALSE(QFileInfo::exists(OC_DIR + "/skills")) << "nothing written";

    // Exactly 200 characters is enough.
    EXPECT_FALSE(run("skill_save", args("gst-return", "d", e.repeated(200))).isError);
}

TEST_F(SkillSaveTest, WritesTheSkillAndAllowsIt)
{
    writeConfig(R"({"model":"m","permission":{"webfetch":"allow","skill":{"old":"allow"}},"mcp":{"velto":{}}})");
    const QString today = QDateTime::currentDateTimeUtc().toString(Qt::ISODate).left(10);

    // A description that would break an unquoted front matter: a colon, a
    // leading symbol, quotes, a backslash and line breaks.
    const ToolAnswer first = run("skill_save", args("GST Return / Monthly",
                                                    "# GSTR-1: file \"B2B\" first\nthen C:\\x\r\nend", body));
    EXPECT_EQ(first.text, saved("Saved", "gst-return-monthly"));
    EXPECT_FALSE(first.isError);
    const QString expected = "---\nname: gst-return-monthly\n"
                             "description: \"# GSTR-1: file \\\"B2B\\\" first then C:\\\\x end\"\n"
                             "license: Proprietary\nmetadata:\n  author: learned on this machine\n  owner: firm\n"
                             "  learned_on: " +
                             today + "\n---\n" + body + "\n";
    EXPECT_EQ(readText(skillFile("gst-return-monthly")), expected);

    const QJsonObject config = OcConfig::read().value_or(QJsonObject());
    EXPECT_EQ(config.value("model"), QJsonValue("m"));
    EXPECT_EQ(config.value("mcp"), QJsonValue(QJsonObject{{"velto", QJsonObject()}}));
    EXPECT_EQ(config.value("permission"),
              QJsonValue(QJsonObject{{"webfetch", "allow"},
                                     {"skill", QJsonObject{{"old", "allow"}, {"gst-return-monthly", "allow"}}}}));
    EXPECT_EQ(readText(OC_JSON).toUtf8(), OcConfig::serialise(config)) << "pretty-printed, keys sorted";

    // Saving again replaces the body.
    const QString newer = body + "\n2. Download the acknowledgement.";
    const ToolAnswer second = run("skill_save", args("gst-return-monthly", "Monthly GSTR-1", newer));
    EXPECT_EQ(second.text, saved("Updated", "gst-return-monthly"));
    EXPECT_TRUE(readText(skillFile("gst-return-monthly")).endsWith("---\n" + newer + "\n"));
}

TEST_F(SkillSaveTest, AConfigurationThatCannotBeReadIsLeftAlone)
{
    for (const QByteArray &config : {QByteArray("{not json"), QByteArray("[1,2]")}) {
        writeConfig(config);
        const ToolAnswer answer = run("skill_save", args("tds-return", "Quarterly TDS", body));
        EXPECT_FALSE(answer.isError) << answer.text.toStdString();
        EXPECT_EQ(readText(OC_JSON).toUtf8(), config);
    }
    QFile::remove(OC_JSON);
    EXPECT_FALSE(run("skill_save", args("tds-return", "Quarterly TDS", body)).isError);
    EXPECT_FALSE(QFileInfo::exists(OC_JSON)) << "no configuration is made up";
}

TEST_F(SkillSaveTest, TheMakersSkillsGetCorrectionsNotReplacements)
{
    home->write(".velto/harness.json", R"(["skill/hallix-gst-2b-download","agent/reviewer","skill/hallix-itr"])");
    const QString managed = "---\nname: hallix-gst-2b-download\n---\n\nDownload the 2B.\n";
    home->write(".velto/hallix/skills/hallix-gst-2b-download/SKILL.md", managed.toUtf8());
    writeConfig(R"({"model":"m"})");

    const ToolAnswer fixed =
        run("skill_save", args("Hallix GST 2B Download", "2B download", "The menu moved to Returns. " + body));
    EXPECT_EQ(fixed.text, "hallix-gst-2b-download is a Hallix skill, so this was saved as a correction to it rather "
                          "than a replacement. Recorded against that skill, and it survives the next sync from Hallix.");
    EXPECT_FALSE(fixed.isError);
    const QString folder = OC_DIR + "/skills/hallix-gst-2b-download";
    EXPECT_TRUE(readText(SkillCorrections::file(folder)).contains("The menu moved to Returns."));
    const QString skill = readText(folder + "/SKILL.md");
    EXPECT_TRUE(skill.startsWith(managed.trimmed())) << "the maker's text stays";
    EXPECT_TRUE(skill.contains(SkillCorrections::heading));
    EXPECT_EQ(readText(OC_JSON), R"({"model":"m"})") << "its permission comes with the sync";

    const ToolAnswer missing = run("skill_save", args("hallix-itr", "ITR", body));
    EXPECT_EQ(missing.text, "hallix-itr is a Hallix skill but is not installed here, so there is nothing to correct.");
    EXPECT_TRUE(missing.isError);
    EXPECT_FALSE(QFileInfo::exists(OC_DIR + "/skills/hallix-itr"));

    // A list that is not an array of names manages nothing.
    for (const QByteArray &list : {QByteArray(R"({"skill/hallix-itr":1})"), QByteArray("nonsense"),
                                   QByteArray(R"(["skill/hallix-itr", 3])")}) {
        home->write(".velto/harness.json", list);
        EXPECT_EQ(run("skill_save", args("hallix-itr", "ITR", body)).text.left(5), "Saved") << list.toStdString();
        QDir(OC_DIR + "/skills/hallix-itr").removeRecursively();
    }
}

TEST_F(SkillSaveTest, AManagedSkillIsFoundWhateverItsRunsOfDashes)
{
    // The cloud's "GST & 2B Recon" is kept as gst---2b-recon; the engine says
    // it back as "GST 2B Recon" or "gst-2b--recon".
    home->write(".velto/harness.json", R"(["skill/gst---2b-recon"])");
    const QString managed = "---\nname: GST & 2B Recon\n---\n\nReconcile.\n";
    home->write(".velto/hallix/skills/gst---2b-recon/SKILL.md", managed.toUtf8());
    writeConfig(R"({"permission":{"skill":{"gst---2b-recon":"allow"}}})");
    for (const QString name : {"GST 2B Recon", "gst-2b--recon", "GST & 2B Recon"}) {
        const ToolAnswer fixed = run("skill_save", args(name, "2B recon", "Match on invoice number first. " + body));
        EXPECT_FALSE(fixed.isError) << fixed.text.toStdString();
        EXPECT_TRUE(fixed.text.startsWith("gst---2b-recon is a Hallix skill, so this was saved as a correction"))
            << fixed.text.toStdString();
    }
    EXPECT_EQ(QDir(OC_DIR + "/skills").entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"gst---2b-recon"})
        << "no second folder";
    EXPECT_EQ(readText(OC_JSON), R"({"permission":{"skill":{"gst---2b-recon":"allow"}}})") << "no second allow entry";

    // A name that differs by more than its dashes is a skill of its own.
    EXPECT_EQ(run("skill_save", args("gst-2b-recons", "other", body)).text.left(5), "Saved");
}

TEST_F(SkillSaveTest, AFailedWriteSaysSoAndTouchesNoConfiguration)
{
    writeConfig(R"({"model":"m"})");
    home->write(".velto/hallix/skills", "a file where the skills folder belongs");
    const ToolAnswer answer = run("skill_save", args("tds-return", "Quarterly TDS", body));
    EXPECT_TRUE(answer.text.startsWith("Could not write the skill: " + OC_DIR + "/skills/tds-return: "))
        << answer.text.toStdString();
    EXPECT_TRUE(answer.isError);
    EXPECT_EQ(readText(OC_JSON), R"({"model":"m"})");
}

} // namespace
