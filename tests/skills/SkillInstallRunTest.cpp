// skill_install against a loopback stand-in for the code-hosting service:
// reading sources, the three kinds of request, finding skill folders within
// the limits, the CA's dialog, the files written and every answer.
#include "core/Globals.h"
#include "core/OcConfig.h"
#include "platform/Dispatch.h"
#include "skills/SkillCorrections.h"
#include "skills/SkillInstall.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QThread>

using namespace TestKit;

namespace {

const QString kLabel = QStringLiteral("github.com/acme/skills");

TEST(SkillInstallParse, Sources)
{
    using S = SkillInstall::Source;
    struct Case {
        QString source;
        std::optional<QString> path;
        std::optional<S> want;
    };
    const std::vector<Case> cases{
        {"  https://www.github.com/Acme/Skills\n", {}, S{"Acme", "Skills", {}, ""}},
        {"HTTP://github.com/acme/skills/", {}, S{"acme", "skills", {}, ""}},
        {"github.com//acme//skills.git", {}, S{"acme", "skills", {}, ""}},
        {"acme/skills", {}, S{"acme", "skills", {}, ""}},
        {"gitlab.com/acme/skills", {}, std::nullopt},
        {"acme", {}, std::nullopt},
        {"github.com/acme", {}, std::nullopt},
        {"acme/my skills", {}, std::nullopt},
        {"acme/c++", {}, std::nullopt},
        {"acme/..", {}, std::nullopt},
        {"कमल/खत", {}, S{"कमल", "खत", {}, ""}},
        {"github.com/acme/skills/tree/v2/gst/monthly", {}, S{"acme", "skills", "v2", "gst/monthly"}},
        {"github.com/acme/skills/blob/main/gst/monthly/SKILL.md", {}, S{"acme", "skills", "main", "gst/monthly"}},
        {"github.com/acme/skills/blob/main/SKILL.md", {}, S{"acme", "skills", "main", ""}},
        {"github.com/acme/skills/Tree/main/gst", {}, S{"acme", "skills", {}, ""}},
        {"github.com/acme/skills/issues/4", {}, S{"acme", "skills", {}, ""}},
        {"github.com/acme/skills/tree/main", {}, S{"acme", "skills", "main", ""}},
        // A branch with a slash cannot be given in a link: its second part is the folder.
        {"github.com/acme/skills/tree/feature/x", {}, S{"acme", "skills", "feature", "x"}},
        {"github.com/acme/skills/tree/main/gst", QString(" / tds/quarterly/ "), S{"acme", "skills", "main", "tds/quarterly"}},
        {"acme/skills", QString("/ /"), S{"acme", "skills", {}, ""}},
        {"acme/skills", QString("gst/../../x"), std::nullopt},
        {"github.com/acme/skills/tree/main/gst/../x", {}, std::nullopt},
        {"acme/skills", QString("./gst"), S{"acme", "skills", {}, "./gst"}},
    };
    for (const Case &c : cases) {
        const auto got = SkillInstall::parse(c.source, c.path);
        EXPECT_EQ(got.has_value(), c.want.has_value()) << c.source.toStdString();
        if (got && c.want) {
            EXPECT_TRUE(*got == *c.want) << c.source.toStdString() << " -> " << got->owner.toStdString() << " / "
                                         << got->repo.toStdString() << " @ " << got->ref.value_or("-").toStdString()
                                         << " / " << got->path.toStdString();
        }
    }
}

TEST(SkillInstallStamp, DescriptionAndSourceReadBackUnchanged)
{
    const QString description = "When: the client says \"file it\"\nand # the rest";
    const QString stamped = SkillInstall::stamp("Steps.", "gst", description, "github.com/o/r@main/a: b");
    const QStringList lines = stamped.split('\n');
    ASSERT_GE(lines.size(), 6);
    EXPECT_EQ(lines[0], "---");
    EXPECT_EQ(lines[1], "name: gst");
    EXPECT_EQ(lines[3], "owner: firm");
    EXPECT_EQ(lines[5], "---");
    // The quoted values read back as the very texts (the escapes are JSON's).
    auto value = [&](int line, const QString &key) {
        const QString raw = lines[line].mid(key.size() + 2);
        return QJsonDocument::fromJson(("[" + raw + "]").toUtf8()).array().at(0).toString();
    };
    EXPECT_EQ(value(2, "description"), description);
    EXPECT_EQ(value(4, "source"), "github.com/o/r@main/a: b");
    // A plain source stays plain.
    EXPECT_TRUE(SkillInstall::stamp("x", "n", "d", "github.com/o/r@v1/gst/monthly")
                    .contains("\nsource: github.com/o/r@v1/gst/monthly\n"));
}

// One file of the stand-in repository; a size of -1 leaves "size" out.
struct RepoFile {
    QString path;
    QByteArray bytes;
    qint64 size = -2; // -2: the real size
};

QByteArray skillMd(const QString &name, const QString &description = "Use it for GST.", const QString &body = "Steps.")
{
    return ("---\nname: " + name + "\ndescription: " + description + "\n---\n\n" + body + "\n").toUtf8();
}

class SkillInstallRun : public ::testing::Test {
protected:
    std::unique_ptr<FakeHttpServer> server;
    std::unique_ptr<TempHome> home;
    std::unique_ptr<DialogAnswers> dialogs;

    void SetUp() override
    {
        // Whole trees and megabytes go over TLS here: at the suite's shortened
        // clock a loaded machine would hit the fetch time-outs.
        Dispatch::timeScale = 1;
        FakeHttpServer::trustTestCa();
        server = std::make_unique<FakeHttpServer>(FakeHttpServer::Mode::Https);
        const QString host = QStringLiteral("127.0.0.1:%1").arg(server->port());
        home = std::make_unique<TempHome>(
            QMap<QString, QString>{{"VELTO_GITHUB_API_HOST", host}, {"VELTO_GITHUB_RAW_HOST", host}});
        home->write(".velto/hallix/opencode.json", R"({"model": "hallix/pavi-smart", "permission": {"bash": "ask"}})");
        dialogs = std::make_unique<DialogAnswers>();
    }
    void TearDown() override
    {
        dialogs.reset();
        home.reset();
        server.reset();
        Dispatch::timeScale = 0.01;
    }

    // The repository acme/skills at `ref` (its default branch "main").
    void serve(const QList<RepoFile> &files, const QString &ref = "main")
    {
        server->on("GET", "/repos/acme/skills", FakeReply::json(QJsonObject{{"default_branch", "main"}}));
        QJsonArray tree{QJsonObject{{"type", "tree"}, {"path", "folders/are/not/files"}}};
        for (const RepoFile &f : files) {
            QJsonObject entry{{"type", "blob"}, {"path", f.path}};
            if (f.size != -1)
                entry.insert("size", f.size == -2 ? f.bytes.size() : f.size);
            tree.append(entry);
            server->on("GET",
                       "/acme/skills/" + ref + "/" + QString::fromLatin1(QUrl::toPercentEncoding(f.path, "/!$&'()*+,;=:@~")),
                       FakeReply::text(f.bytes));
        }
        server->on("GET", "/repos/acme/skills/git/trees/" + ref, FakeReply::json(QJsonObject{{"tree", tree}}));
    }

    std::pair<QString, bool> install(const QJsonObject &args)
    {
        std::optional<std::pair<QString, bool>> got;
        SkillInstall::call("skill_install", args, [&](const QString &text, bool isError) {
            EXPECT_TRUE(QThread::currentThread() == QCoreApplication::instance()->thread());
            EXPECT_FALSE(got.has_value()) << "answered twice";
            got = {text, isError};
        });
        EXPECT_TRUE(waitFor([&] { return got.has_value(); }, 20000));
        return got.value_or(std::pair<QString, bool>{"(no answer)", true});
    }
    std::pair<QString, bool> install(const QString &source) { return install(QJsonObject{{"source", source}}); }

    static QString skillFile(const QString &name, const QString &file = "SKILL.md")
    {
        return OC_DIR + "/skills/" + name + "/" + file;
    }
    static QString text(const QString &path) { return QString::fromUtf8(readFile(path)); }
    static QJsonObject config() { return OcConfig::read().value_or(QJsonObject()); }
    int downloads() const
    {
        int n = 0;
        for (const RecordedRequest &r : server->requests())
            n += !r.path.startsWith("/repos/");
        return n;
    }
};

TEST_F(SkillInstallRun, InstallsAfterTheCAApproves)
{
    serve({{"gst-monthly/SKILL.md", skillMd("GST Monthly Return", "Use it for GSTR-3B.")},
           {"gst-monthly/scripts/check v2.py", "print(1)\n"},
           {"README.md", "not part of a skill"}});
    dialogs->confirm(true);
    const auto [answer, isError] = install(QJsonObject{{"source", "https://github.com/acme/skills"}});
    EXPECT_FALSE(isError);
    EXPECT_EQ(answer, "Installed gst-monthly-return from " + kLabel +
                          ". It works from the next session — start a new one to use it. It shows in Skills & Agents "
                          "as the firm's own.");

    // The three kinds of request, with the service's headers and no credentials.
    const QList<RecordedRequest> requests = server->requests();
    ASSERT_EQ(requests.size(), 4);
    EXPECT_EQ(requests[0].path, "/repos/acme/skills");
    EXPECT_EQ(requests[1].path, "/repos/acme/skills/git/trees/main");
    EXPECT_EQ(requests[1].query, "recursive=1");
    QStringList files{requests[2].path, requests[3].path};
    files.sort();
    EXPECT_EQ(files, (QStringList{"/acme/skills/main/gst-monthly/SKILL.md", "/acme/skills/main/gst-monthly/scripts/check%20v2.py"}));
    for (const RecordedRequest &r : requests) {
        EXPECT_EQ(r.method, "GET");
        EXPECT_EQ(r.header("user-agent"), "Velto");
        EXPECT_EQ(r.header("accept"), "application/vnd.github+json");
        EXPECT_TRUE(r.header("authorization").isEmpty());
    }

    // The dialog: what the skill tells Velto, before anything is written.
    ASSERT_EQ(dialogs->shownConfirms.size(), 1u);
    const Dialogs::Confirm &c = dialogs->shownConfirms[0];
    EXPECT_EQ(c.title, "Install the skill gst-monthly-return from " + kLabel + "?");
    EXPECT_EQ(c.text, "Read what it tells Velto to do. It runs in client work from the next session.");
    EXPECT_EQ(c.approve, "Install");
    EXPECT_EQ(c.cancel, "Cancel");
    EXPECT_EQ(c.detail, "From " + kLabel +
                            " at main. Velto will follow these instructions in client work, so install only from a "
                            "source you trust. Scripts inside are copied but Velto cannot run them.\n"
                            "\n━━ gst-monthly-return (2 files)\nUse it for GSTR-3B.\n\n" +
                            QString::fromUtf8(skillMd("GST Monthly Return", "Use it for GSTR-3B.")) + "\n");

    EXPECT_EQ(text(skillFile("gst-monthly-return")),
              "---\nowner: firm\nsource: " + kLabel + "@main/gst-monthly\nname: GST Monthly Return\n"
              "description: Use it for GSTR-3B.\n---\n\nSteps.\n");
    EXPECT_EQ(readFile(skillFile("gst-monthly-return", "scripts/check v2.py")), "print(1)\n");
    EXPECT_EQ(TestKit::entriesUnder(OC_DIR + "/skills"),
              (QStringList{"gst-monthly-return", "gst-monthly-return/SKILL.md", "gst-monthly-return/scripts",
                           "gst-monthly-return/scripts/check v2.py"}));

    // The engine may use it without asking; nothing else in the file changed.
    EXPECT_EQ(config(), QJsonObject::fromVariantMap(
                            {{"model", "hallix/pavi-smart"},
                             {"permission", QVariantMap{{"bash", "ask"},
                                                        {"skill", QVariantMap{{"gst-monthly-return", "allow"}}}}}}));
    EXPECT_EQ(readFile(OC_JSON), OcConfig::serialise(config()));
}

TEST_F(SkillInstallRun, RootSkillWithRefAndPlainSkillFile)
{
    // A root "SKILL.md" makes the whole repository one skill, even with skill
    // folders inside; without front matter it gets a whole block.
    serve({{"SKILL.md", "Just steps."}, {"inner/SKILL.md", skillMd("inner")}}, "v1.2");
    dialogs->confirm(true);
    const auto [answer, isError] = install("github.com/acme/skills/tree/v1.2");
    EXPECT_FALSE(isError) << answer.toStdString();
    EXPECT_EQ(server->requestsTo("/repos/acme/skills/git/trees/v1.2").size(), 1);
    EXPECT_EQ(dialogs->shownConfirms.at(0).title, "Install the skill skills from " + kLabel + "?");
    EXPECT_EQ(text(skillFile("skills")), "---\nname: skills\ndescription: \"\"\nowner: firm\nsource: " + kLabel +
                                             "@v1.2\n---\n\nJust steps.");
    EXPECT_EQ(text(skillFile("skills", "inner/SKILL.md")), QString::fromUtf8(skillMd("inner")));
}

TEST_F(SkillInstallRun, FindsOutermostFoldersUnderThePath)
{
    QList<RepoFile> files;
    for (const char *dir : {"pack/b", "pack/a", "pack/a/deeper", "other/c"})
        files.append({QString(dir) + "/SKILL.md", skillMd(QString(dir).replace('/', '-'))});
    serve(files);
    dialogs->confirm(true);
    const auto [answer, isError] = install(QJsonObject{{"source", "acme/skills"}, {"path", "/pack/"}});
    EXPECT_FALSE(isError) << answer.toStdString();
    EXPECT_EQ(dialogs->shownConfirms.at(0).title, "Install 2 skills from " + kLabel + "?");
    EXPECT_TRUE(dialogs->shownConfirms.at(0).detail.contains("\n━━ pack-a (2 files)\n"));
    EXPECT_TRUE(QFile::exists(skillFile("pack-a", "deeper/SKILL.md")));
    EXPECT_TRUE(QFile::exists(skillFile("pack-b")));
    EXPECT_FALSE(QFileInfo::exists(skillFile("other-c")));
    EXPECT_TRUE(answer.startsWith("Installed pack-a, pack-b from "));

    // A link to a skill's SKILL.md installs that folder.
    server->clearRequests();
    dialogs->confirm(true);
    EXPECT_FALSE(install("github.com/acme/skills/blob/main/other/c/SKILL.md").second);
    EXPECT_TRUE(QFile::exists(skillFile("other-c")));

    EXPECT_EQ(install(QJsonObject{{"source", "acme/skills"}, {"path", "nowhere"}}),
              (std::pair<QString, bool>{"There is no SKILL.md in " + kLabel +
                                            "/nowhere. A skill is a folder with a SKILL.md in it.",
                                        true}));
}

TEST_F(SkillInstallRun, NestedFoldersTable)
{
    // Only a parent folder hides a skill folder; a name that merely starts
    // the same ("aa" and "aab") does not.
    QList<RepoFile> files;
    for (const char *dir : {"aa", "aa/b", "aab", "x/y", "x/y/z", "x/yz", "p/q/r", "p/q/r/s/t"})
        files.append({QString(dir) + "/SKILL.md", skillMd(QString(dir).replace('/', '-'))});
    serve(files);
    dialogs->confirm(false);
    install("acme/skills");
    ASSERT_EQ(dialogs->shownConfirms.size(), 1u);
    EXPECT_EQ(dialogs->shownConfirms[0].title, "Install 5 skills from " + kLabel + "?");
    const QString detail = dialogs->shownConfirms[0].detail;
    for (const char *outer : {"aa (2 files)", "aab (1 file)", "x-y (2 files)", "x-yz (1 file)", "p-q-r (2 files)"})
        EXPECT_TRUE(detail.contains(QString("\n━━ ") + outer + "\n")) << outer;
}

TEST_F(SkillInstallRun, AVeryLargeTreeIsSortedQuickly)
{
    // 20,000 skill folders, half of them inside the others: the outermost are
    // found without comparing every folder with every other.
    QJsonArray tree;
    for (int i = 0; i < 10000; ++i) {
        const QString dir = QString("d%1").arg(i, 5, 10, QChar('0'));
        tree.append(QJsonObject{{"type", "blob"}, {"path", dir + "/SKILL.md"}, {"size", 10}});
        tree.append(QJsonObject{{"type", "blob"}, {"path", dir + "/in/SKILL.md"}, {"size", 10}});
    }
    server->on("GET", "/repos/acme/skills", FakeReply::json(QJsonObject{{"default_branch", "main"}}));
    server->on("GET", "/repos/acme/skills/git/trees/main", FakeReply::json(QJsonObject{{"tree", tree}}));
    EXPECT_EQ(install("acme/skills"),
              (std::pair<QString, bool>{"That repository holds 10000 skills. Say which folder to install with "
                                        "`path`, e.g. d00000, d00001, d00002, d00003, d00004.",
                                        true}));
    EXPECT_EQ(downloads(), 0);
}

TEST_F(SkillInstallRun, TenSkillsAtMost)
{
    QList<RepoFile> files;
    for (int i = 10; i >= 0; --i)
        files.append({QString("s%1/SKILL.md").arg(i, 2, 10, QChar('0')), skillMd(QString("skill-%1").arg(i))});
    serve(files);
    EXPECT_EQ(install("acme/skills"),
              (std::pair<QString, bool>{"That repository holds 11 skills. Say which folder to install with `path`, "
                                        "e.g. s00, s01, s02, s03, s04.",
                                        true}));
    EXPECT_EQ(downloads(), 0);

    files.removeFirst(); // s10
    server = std::make_unique<FakeHttpServer>(FakeHttpServer::Mode::Https);
    home->refill({{"VELTO_GITHUB_API_HOST", QString("127.0.0.1:%1").arg(server->port())},
                  {"VELTO_GITHUB_RAW_HOST", QString("127.0.0.1:%1").arg(server->port())}});
    serve(files);
    dialogs->confirm(true);
    const auto [answer, isError] = install("acme/skills");
    EXPECT_FALSE(isError) << answer.toStdString();
    EXPECT_EQ(dialogs->shownConfirms.at(0).title, "Install 10 skills from " + kLabel + "?");
}

TEST_F(SkillInstallRun, FileCountAndSizeLimitsSkipAFolder)
{
    QList<RepoFile> files{{"big/SKILL.md", skillMd("big")},
                          {"many/SKILL.md", skillMd("many")},
                          {"edge/SKILL.md", skillMd("edge")},
                          {"edge/data.bin", QByteArray(256000, 'x')},
                          {"nosize/SKILL.md", skillMd("nosize"), -1},
                          {"nosize/data.bin", QByteArray(300000, 'y'), -1},
                          {"big/data.bin", QByteArray(10, 'z'), 256001}};
    for (int i = 0; i < 80; ++i)
        files.append({QString("many/f%1.txt").arg(i), "x"});
    serve(files);
    dialogs->confirm(true);
    const auto [answer, isError] = install("acme/skills");
    EXPECT_FALSE(isError);
    EXPECT_EQ(answer, "Installed edge, nosize from " + kLabel +
                          ". It works from the next session — start a new one to use it. It shows in Skills & Agents "
                          "as the firm's own. Skipped: big: a file is larger than 256 KB; many: 81 files, more "
                          "than 80.");
    EXPECT_EQ(readFile(skillFile("edge", "data.bin")).size(), 256000);
    EXPECT_EQ(readFile(skillFile("nosize", "data.bin")).size(), 300000);
    EXPECT_TRUE(server->requestsTo("/acme/skills/main/big/data.bin").isEmpty());
    // A folder skipped for a file's size fetches none of its files.
    EXPECT_TRUE(server->requestsTo("/acme/skills/main/big/SKILL.md").isEmpty());
    EXPECT_TRUE(server->requestsTo("/acme/skills/main/many/f0.txt").isEmpty());

    // The root's folder is named "(root)".
    QList<RepoFile> root{{"SKILL.md", skillMd("root")}};
    for (int i = 0; i < 80; ++i)
        root.append({QString("f%1").arg(i), "x"});
    serve(root, "wide");
    EXPECT_EQ(install("github.com/acme/skills/tree/wide"),
              (std::pair<QString, bool>{"Nothing to install from " + kLabel + ". (root): 81 files, more than 80", true}));

    // A folder of exactly 80 files is installed.
    root.removeLast();
    serve(root, "eighty");
    dialogs->confirm(true);
    EXPECT_FALSE(install("github.com/acme/skills/tree/eighty").second);
    EXPECT_EQ(QDir(OC_DIR + "/skills/root").entryList(QDir::Files).size(), 80);
}

TEST_F(SkillInstallRun, ThreeMegabytesInAll)
{
    const QString tooMuch = "The skills add up to more than 3 MB. Pick one folder with `path`.";
    serve({{"a/SKILL.md", skillMd("alpha")}, {"a/blob", QByteArray(3000000 - int(skillMd("alpha").size()), 'a'), -1}},
          "exact");
    dialogs->confirm(true);
    EXPECT_FALSE(install("github.com/acme/skills/tree/exact").second);

    // One byte more, in a folder that would be skipped later for its name.
    serve({{"a/SKILL.md", skillMd("!")}, {"a/blob", QByteArray(3000001 - int(skillMd("!").size()), 'a'), -1}}, "over");
    EXPECT_EQ(install("github.com/acme/skills/tree/over"), (std::pair<QString, bool>{tooMuch, true}));
    EXPECT_EQ(dialogs->shownConfirms.size(), 1u);
}

TEST_F(SkillInstallRun, ServiceFailures)
{
    const QString notFound =
        kLabel + " was not found. Check the name — private repositories cannot be installed from here.";
    struct Case {
        const char *what;
        FakeReply repo;
        QString answer;
    };
    const std::vector<Case> cases{
        {"rate limit", FakeReply::json(QJsonObject{{"message", "rate"}}, 403),
         "GitHub is limiting requests from this network right now. Try again in a few minutes."},
        {"missing", FakeReply::json(QJsonObject{{"message", "Not Found"}}, 404), notFound},
        {"server error", FakeReply::text("oops", 500), notFound},
        {"not an object", FakeReply::text("[1, 2]"), notFound},
    };
    for (const Case &c : cases) {
        server->on("GET", "/repos/acme/skills", c.repo);
        EXPECT_EQ(install("acme/skills"), (std::pair<QString, bool>{c.answer, true})) << c.what;
    }
    // A connection that fails is not a missing repository.
    FakeReply gone;
    gone.drop = true;
    server->on("GET", "/repos/acme/skills", gone);
    auto unreached = install("acme/skills");
    EXPECT_TRUE(unreached.second);
    EXPECT_TRUE(unreached.first.startsWith("Could not reach 127.0.0.1: ")) << unreached.first.toStdString();
    EXPECT_TRUE(unreached.first.endsWith(". Check this computer's connection and try again."));
    quint16 closed = 0;
    {
        FakeHttpServer nobody;
        closed = nobody.port();
    }
    const QByteArray apiHost = qgetenv("VELTO_GITHUB_API_HOST");
    qputenv("VELTO_GITHUB_API_HOST", "127.0.0.1:" + QByteArray::number(closed));
    unreached = install("acme/skills");
    qputenv("VELTO_GITHUB_API_HOST", apiHost);
    EXPECT_TRUE(unreached.first.startsWith("Could not reach 127.0.0.1: ")) << unreached.first.toStdString();

    // The tree.
    server->on("GET", "/repos/acme/skills", FakeReply::json(QJsonObject{{"default_branch", "trunk"}}));
    const QString unreadable = "Could not read the files of " + kLabel + " at trunk.";
    for (const FakeReply &tree : {FakeReply::json(QJsonObject{{"message", "x"}}, 404),
                                  FakeReply::json(QJsonObject{{"tree", "none"}}),
                                  FakeReply::json(QJsonObject{{"tree", QJsonArray{1}}})}) {
        server->on("GET", "/repos/acme/skills/git/trees/trunk", tree);
        EXPECT_EQ(install("acme/skills"), (std::pair<QString, bool>{unreadable, true}));
    }

    // A download.
    serve({{"a/SKILL.md", skillMd("alpha")}, {"a/z.txt", "z"}});
    server->on("GET", "/acme/skills/main/a/z.txt", FakeReply::text("gone", 404));
    EXPECT_EQ(install("acme/skills"),
              (std::pair<QString, bool>{"Could not download a/z.txt from GitHub (HTTP 404). Nothing was installed.", true}));

    // A file longer than the repository listed is stopped at the file bound.
    serve({{"a/SKILL.md", skillMd("alpha")}, {"a/big.txt", QByteArray(600000, 'b'), 10}});
    EXPECT_EQ(install("acme/skills"),
              (std::pair<QString, bool>{"a/big.txt is larger than 256 KB, though GitHub listed it as 10 bytes; the "
                                        "download stopped there. Nothing was installed.",
                                        true}));

    EXPECT_EQ(install(QJsonObject{{"source", "gitlab.com/acme/skills"}}),
              (std::pair<QString, bool>{"Give a GitHub repository: github.com/owner/repo, a github.com/…/tree/<branch>/"
                                        "<folder> link, or owner/repo. Only GitHub is supported.",
                                        true}));
    EXPECT_TRUE(install(QJsonObject{{"source", 5}}).second);
    EXPECT_TRUE(dialogs->shownConfirms.empty());
    EXPECT_FALSE(QFileInfo::exists(OC_DIR + "/skills"));
}

TEST_F(SkillInstallRun, DecliningWritesNothing)
{
    serve({{"a/SKILL.md", skillMd("alpha")}});
    dialogs->confirm(false);
    EXPECT_EQ(install("acme/skills"),
              (std::pair<QString, bool>{"The CA did not approve it. Nothing was installed.", false}));
    EXPECT_FALSE(QFileInfo::exists(OC_DIR + "/skills"));
    EXPECT_FALSE(config().contains("skill"));
    EXPECT_FALSE(config()["permission"].toObject().contains("skill"));
}

TEST_F(SkillInstallRun, NamesThatAreTakenOrRepeated)
{
    // The maker's skills, a folder without the firm's mark (with or without a
    // SKILL.md, or a plain file) are never replaced.
    home->write(".velto/harness.json", R"(["skill/maker-one", "agent/alpha"])");
    home->write(".velto/hallix/skills/synced/SKILL.md", "---\nname: synced\n---\n");
    home->write(".velto/hallix/skills/bare/notes.txt", "kept");
    home->write(".velto/hallix/skills/plain", "a file");
    serve({{"a/SKILL.md", skillMd("Maker One")},
           {"b/SKILL.md", skillMd("synced")},
           {"c/SKILL.md", skillMd("bare")},
           {"d/SKILL.md", skillMd("plain")},
           {"e/SKILL.md", skillMd("x")}});
    EXPECT_EQ(install("acme/skills"),
              (std::pair<QString, bool>{"Nothing to install from " + kLabel +
                                            ". maker-one: a Hallix skill already has that name; synced: a Hallix "
                                            "skill already has that name; bare: a Hallix skill already has that name; "
                                            "plain: a Hallix skill already has that name; e: no usable name",
                                        true}));
    EXPECT_EQ(text(OC_DIR + "/skills/synced/SKILL.md"), "---\nname: synced\n---\n");
    EXPECT_EQ(text(OC_DIR + "/skills/bare/notes.txt"), "kept");

    // Two folders whose names reduce to one skill install once.
    serve({{"x/SKILL.md", skillMd("Tax Audit")}, {"y/SKILL.md", skillMd("tax audit!")}}, "twice");
    dialogs->confirm(true);
    const auto [answer, isError] = install("github.com/acme/skills/tree/twice");
    EXPECT_FALSE(isError);
    EXPECT_TRUE(answer.startsWith("Installed tax-audit from ")) << answer.toStdString();
    EXPECT_TRUE(answer.endsWith(" Skipped: y: the same skill name as x.")) << answer.toStdString();
    EXPECT_TRUE(text(skillFile("tax-audit")).contains("source: " + kLabel + "@twice/x\n"));
}

TEST_F(SkillInstallRun, ReinstallKeepsTheCorrections)
{
    home->write(".velto/hallix/skills/gst/SKILL.md", "---\nowner: firm\nname: gst\n---\nOld steps.\n");
    home->write(".velto/hallix/skills/gst/old-only.txt", "old");
    home->write(".velto/hallix/skills/gst/LOCAL.md", "- **2026-01-02** — Use the new portal.");
    serve({{"gst/SKILL.md", skillMd("gst", "Use it.", "New steps.")}, {"gst/new.txt", "new"}});
    dialogs->confirm(true);
    EXPECT_FALSE(install("acme/skills").second);
    EXPECT_EQ(TestKit::entriesUnder(OC_DIR + "/skills"),
              (QStringList{"gst", "gst/LOCAL.md", "gst/SKILL.md", "gst/new.txt"}));
    EXPECT_EQ(text(skillFile("gst", "LOCAL.md")), "- **2026-01-02** — Use the new portal.");
    EXPECT_EQ(text(skillFile("gst")), "---\nowner: firm\nsource: " + kLabel +
                                          "@main/gst\nname: gst\ndescription: Use it.\n---\n\nNew steps.\n\n" +
                                          SkillCorrections::heading + "\n\n- **2026-01-02** — Use the new portal.\n");
}

TEST_F(SkillInstallRun, AFailedWriteLeavesTheEarlierVersion)
{
    home->write(".velto/hallix/skills/gst/SKILL.md", "---\nowner: firm\n---\nOld steps.\n");
    home->write(".velto/hallix/skills/gst/LOCAL.md", "- **2026-01-02** — Keep this.");
    // "a" is both a file and a folder: the second write cannot be made.
    serve({{"gst/SKILL.md", skillMd("gst")}, {"gst/a", "file"}, {"gst/a/b", "inside"}});
    dialogs->confirm(true);
    const auto [answer, isError] = install("acme/skills");
    EXPECT_TRUE(isError);
    EXPECT_TRUE(answer.startsWith("Could not write gst: ")) << answer.toStdString();
    EXPECT_TRUE(answer.endsWith(".")) << answer.toStdString();
    EXPECT_EQ(TestKit::entriesUnder(OC_DIR + "/skills"), (QStringList{"gst", "gst/LOCAL.md", "gst/SKILL.md"}));
    EXPECT_EQ(text(skillFile("gst")), "---\nowner: firm\n---\nOld steps.\n");
    EXPECT_FALSE(config()["permission"].toObject().contains("skill"));
}

TEST_F(SkillInstallRun, AFailedWriteNamesAndAllowsTheSkillsBeforeIt)
{
    // "alpha" is written; "beta" cannot be ("x" is both a file and a folder).
    serve({{"a/SKILL.md", skillMd("alpha")}, {"b/SKILL.md", skillMd("beta")}, {"b/x", "file"}, {"b/x/y", "inside"}});
    dialogs->confirm(true);
    const auto [answer, isError] = install("acme/skills");
    EXPECT_TRUE(isError);
    EXPECT_TRUE(answer.startsWith("Could not write beta: ")) << answer.toStdString();
    EXPECT_TRUE(answer.endsWith(". Installed before it: alpha.")) << answer.toStdString();
    EXPECT_TRUE(QFile::exists(skillFile("alpha")));
    EXPECT_EQ(config()["permission"].toObject()["skill"].toObject(), (QJsonObject{{"alpha", "allow"}}));
}

TEST_F(SkillInstallRun, RepositoryPathsStayInsideTheSkill)
{
    serve({{"s/SKILL.md", skillMd("safe")}, {"s/../../escape.md", "out"}, {"s/ok/../kept.md", "in"}});
    server->setFallback([](const RecordedRequest &) { return FakeReply::text("anything"); });
    dialogs->confirm(true);
    EXPECT_FALSE(install("acme/skills").second);
    EXPECT_EQ(TestKit::entriesUnder(OC_DIR + "/skills"), (QStringList{"safe", "safe/SKILL.md", "safe/kept.md"}));
    EXPECT_FALSE(QFileInfo::exists(OC_DIR + "/escape.md"));
}

TEST_F(SkillInstallRun, LongInstructionsAreCutInTheDialog)
{
    const QString body = QString(1500, QChar('x'));
    const QByteArray file = ("---\nname: long\n---\n" + body).toUtf8();
    serve({{"l/SKILL.md", file}});
    dialogs->confirm(false);
    install("acme/skills");
    const QString detail = dialogs->shownConfirms.at(0).detail;
    EXPECT_TRUE(detail.endsWith("\n━━ long (1 file)\n\n\n" + QString::fromUtf8(file).left(1400) + "\n…\n"));
}

TEST_F(SkillInstallRun, AFetchWithoutAnswerGivesUp)
{
    Dispatch::timeScale = 0.01;
    FakeReply hang;
    hang.hang = true;
    server->on("GET", "/slow", hang);
    std::optional<SkillInstall::Fetched> got;
    QThread *worker = QThread::create([&] {
        got = SkillInstall::fetch(QUrl(server->baseUrl() + "/slow"), 0);
    });
    worker->start();
    EXPECT_TRUE(waitFor([&] { return worker->isFinished(); }, 10000));
    delete worker;
    ASSERT_TRUE(got.has_value());
    EXPECT_FALSE(got->body.has_value());
    EXPECT_EQ(got->status, 0);
    EXPECT_TRUE(got->unreached.has_value());
    // Never on the main thread.
    EXPECT_EQ(SkillInstall::fetch(QUrl(server->baseUrl() + "/repos/x"), 0).status, 0);
    EXPECT_TRUE(server->requestsTo("/repos/x").isEmpty());
}

} // namespace
