#include "core/Globals.h"
#include "core/OcConfig.h"
#include "support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>
#include <sys/stat.h>

using TestKit::HomeTest;

namespace {

bool setSkill(QJsonObject &root, const QString &name)
{
    QJsonObject perm = root.value("permission").toObject();
    QJsonObject skill = perm.value("skill").toObject();
    skill.insert(name, "allow");
    perm.insert("skill", skill);
    root.insert("permission", perm);
    return true;
}

class OcConfigTest : public HomeTest {};

TEST_F(OcConfigTest, ChangesOnlyTheCallersEntriesSortedAndPrivate)
{
    home->write(".velto/hallix/opencode.json",
                R"({"z":1,"mcp":{"other":{"type":"local"}},"permission":{"skill":{"mine":"deny"},"bash":"ask"},"a":[1,2]})");
    ASSERT_TRUE(OcConfig::update([](QJsonObject &root) { return setSkill(root, "gst-filing"); }));

    const QByteArray text = TestKit::readFile(OC_JSON);
    const QJsonObject root = QJsonDocument::fromJson(text).object();
    EXPECT_EQ(root.value("z").toInt(), 1);
    EXPECT_EQ(root.value("a").toArray().size(), 2);
    EXPECT_EQ(root.value("mcp").toObject().value("other").toObject().value("type").toString(), "local");
    EXPECT_EQ(root.value("permission").toObject().value("bash").toString(), "ask");
    const QJsonObject skill = root.value("permission").toObject().value("skill").toObject();
    EXPECT_EQ(skill.value("mine").toString(), "deny");
    EXPECT_EQ(skill.value("gst-filing").toString(), "allow");

    // Indented with sorted keys.
    EXPECT_TRUE(text.contains("\n    \"a\": ["));
    EXPECT_LT(text.indexOf("\"a\""), text.indexOf("\"mcp\""));
    EXPECT_LT(text.indexOf("\"permission\""), text.indexOf("\"z\""));

    struct stat st{};
    ASSERT_EQ(::stat(OC_JSON.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(OcConfigTest, WritesNothingWhenTheFileIsNotAnObject)
{
    struct Case {
        const char *name;
        std::optional<QByteArray> content;
    };
    const std::vector<Case> cases = {
        {"missing", std::nullopt},
        {"not JSON", QByteArray("{oops")},
        {"an array", QByteArray("[1,2]")},
        {"empty", QByteArray("")},
    };
    for (const auto &c : cases) {
        QFile::remove(OC_JSON);
        if (c.content)
            home->write(".velto/hallix/opencode.json", *c.content);
        bool called = false;
        EXPECT_FALSE(OcConfig::update([&](QJsonObject &root) {
            called = true;
            return setSkill(root, "x");
        })) << c.name;
        EXPECT_FALSE(called) << c.name;
        if (c.content)
            EXPECT_EQ(TestKit::readFile(OC_JSON), *c.content) << c.name;
        else
            EXPECT_FALSE(QFile::exists(OC_JSON)) << c.name;
    }
}

TEST_F(OcConfigTest, ConcurrentWritersLoseNothing)
{
    home->write(".velto/hallix/opencode.json", "{}");
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back(QThread::create([t] {
            for (int i = 0; i < 25; ++i)
                OcConfig::update([&](QJsonObject &root) { return setSkill(root, QString("s%1-%2").arg(t).arg(i)); });
        }));
        threads.back()->start();
    }
    for (auto &th : threads)
        th->wait();
    const QJsonObject skill = OcConfig::read()->value("permission").toObject().value("skill").toObject();
    EXPECT_EQ(skill.size(), 100);
    EXPECT_TRUE(QDir(OC_DIR).entryList(QDir::Hidden | QDir::Files).filter(".tmp-").isEmpty())
        << "no temporary files left behind";
}

} // namespace
