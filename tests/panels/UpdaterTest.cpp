// The updater: the version compare, the running version, the version request
// (no authorisation), the offer and its once-per-run rule, and the download:
// https only, a plain version, and a real Debian package before it is opened.
#include "PanelsTestKit.h"
#include "panels/Updater.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

using namespace PanelsTestKit;
using TestKit::FakeReply;
using TestKit::FakeHttpServer;

namespace {

// The smallest file that reads as a Debian package's start.
const QByteArray kPackage = QByteArray("!<arch>\ndebian-binary   1700000000  0     0     100644  4         `\n2.0\n") +
                            QByteArray(64, 'x');

class UpdaterTest : public PanelTest {
protected:
    std::unique_ptr<FakeHttpServer> files;
    TestKit::DialogAnswers *answers = nullptr;
    std::unique_ptr<TestKit::DialogAnswers> answerHolder;
    decltype(Updater::Hooks::progress) savedProgress;
    decltype(Updater::Hooks::quit) savedQuit;
    std::optional<QString> savedVersion;
    QStringList progressShown;
    int progressHidden = 0;
    int quits = 0;

    void SetUp() override
    {
        PanelTest::SetUp();
        FakeHttpServer::trustTestCa();
        files = std::make_unique<FakeHttpServer>(FakeHttpServer::Mode::Https);
        answerHolder = std::make_unique<TestKit::DialogAnswers>();
        answers = answerHolder.get();
        Updater::offered().clear();
        savedVersion = Updater::Hooks::packageVersion;
        Updater::Hooks::packageVersion = QStringLiteral("1.2.3");
        savedProgress = Updater::Hooks::progress;
        Updater::Hooks::progress = [this](QWidget *, const QString &title, const QString &) {
            progressShown << title;
            return std::function<void()>([this] { ++progressHidden; });
        };
        savedQuit = Updater::Hooks::quit;
        Updater::Hooks::quit = [this] { ++quits; };
    }
    void TearDown() override
    {
        Updater::Hooks::packageVersion = savedVersion;
        Updater::Hooks::progress = savedProgress;
        Updater::Hooks::quit = savedQuit;
        answerHolder.reset();
        files.reset();
        QFile::remove(Updater::packagePath(QStringLiteral("1.3.0")));
        PanelTest::TearDown();
    }
    void versionReply(const QJsonObject &reply) { cloud->on("GET", QStringLiteral("/cli/version"), FakeReply::json(reply)); }
    static QJsonObject offer(const QString &version, const QString &package = {})
    {
        QJsonObject r{{QStringLiteral("success"), true}, {QStringLiteral("version"), version}};
        if (!package.isEmpty())
            r.insert(QStringLiteral("downloads"), QJsonObject{{QStringLiteral("mac_pkg"), QStringLiteral("https://x/y.pkg")},
                                                              {QStringLiteral("linux_deb"), package}});
        return r;
    }
    // Runs one check and waits until the version request was answered.
    void checkOnce(QWidget *window = nullptr)
    {
        const int before = int(cloud->requestsTo(QStringLiteral("/cli/version")).size());
        Updater::checkAndOffer(window);
        ASSERT_TRUE(cloud->waitForRequests(before + 1));
        TestKit::spin(80);
    }
};

TEST_F(UpdaterTest, ComparesTheFirstThreeNumbers)
{
    struct Case {
        const char *a, *b;
        int answer;
    };
    const std::vector<Case> cases{
        {"1.2.10", "1.2.3", 1},  {"1.2", "1.2.0", 0},      {"2.0.0", "1.9.9", 1},  {"1.9.9", "2.0.0", -1},
        {"1.2.3.9", "1.2.3", 0}, {"1.2.x", "1.2.0", 0},    {"v1.2", "0.2", 0},     {"0.0.1", "", 1},
        {"1..2", "1.2.0", 0},    {"-1.0", "0.0", -1},      {"99999999999999999999.0", "99999999999999999998.9", 1},
        {"007.1", "7.1", 0},     {"1.2.3", "1.2.4", -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Updater::compare(QString::fromLatin1(c.a), QString::fromLatin1(c.b)), c.answer) << c.a << " vs " << c.b;
}

TEST_F(UpdaterTest, TheRunningVersionIsThePackageVersionElseTheVersionFile)
{
    Updater::Hooks::packageVersion = QStringLiteral(VELTO_VERSION);
    EXPECT_EQ(Updater::current(), QStringLiteral(VELTO_VERSION));
    Updater::Hooks::packageVersion.reset();
    EXPECT_EQ(Updater::current(), QStringLiteral("1.0.0"));
    home->write(QStringLiteral(".velto/VERSION"), " 2.4.1\n");
    EXPECT_EQ(Updater::current(), QStringLiteral("2.4.1"));
    home->write(QStringLiteral(".velto/VERSION"), "");
    EXPECT_EQ(Updater::current(), QString());
    EXPECT_EQ(Updater::compare(QStringLiteral("0.1"), Updater::current()), 1);
}

TEST_F(UpdaterTest, AsksWithoutAuthorisationAndOffersANewerVersionOnce)
{
    seat(QStringLiteral("secret-token"));
    const QString package = QStringLiteral("https://downloads.invalid/velto.deb");
    versionReply(offer(QStringLiteral("1.3.0"), package));
    answers->alert(1); // "Later"
    checkOnce();
    const TestKit::RecordedRequest req = cloud->requestsTo(QStringLiteral("/cli/version")).first();
    EXPECT_EQ(req.method, QByteArray("GET"));
    EXPECT_TRUE(req.header("authorization").isEmpty());
    EXPECT_TRUE(req.body.isEmpty());
    ASSERT_EQ(answers->shownAlerts.size(), 1u);
    EXPECT_EQ(answers->shownAlerts[0].title, QStringLiteral("Velto 1.3.0 is available"));
    EXPECT_EQ(answers->shownAlerts[0].text,
              QStringLiteral("You are on 1.2.3.\n\nVelto will download the installer and open it. Your work and sign-in "
                             "stay as they are."));
    EXPECT_EQ(answers->shownAlerts[0].buttons, (QStringList{QStringLiteral("Update now"), QStringLiteral("Later")}));

    // The same version again: nothing. A newer one in the same run: offered,
    // mandatory without "Later", with its notes.
    checkOnce();
    EXPECT_EQ(answers->shownAlerts.size(), 1u);
    QJsonObject newer = offer(QStringLiteral("1.4.0"), package);
    newer.insert(QStringLiteral("mandatory"), true);
    newer.insert(QStringLiteral("notes"), QStringLiteral("GSTR-1 fixes."));
    versionReply(newer);
    answers->alert(-1); // closed without a choice: nothing more
    checkOnce();
    ASSERT_EQ(answers->shownAlerts.size(), 2u);
    EXPECT_EQ(answers->shownAlerts[1].buttons, QStringList{QStringLiteral("Update now")});
    EXPECT_TRUE(answers->shownAlerts[1].text.startsWith(QStringLiteral("GSTR-1 fixes.\n\n")));
    EXPECT_TRUE(progressShown.isEmpty());
}

TEST_F(UpdaterTest, IgnoresRepliesThatOfferNothingUsable)
{
    const std::vector<QJsonObject> replies{
        QJsonObject{{QStringLiteral("success"), QStringLiteral("true")}, {QStringLiteral("version"), QStringLiteral("9.0")}},
        QJsonObject{{QStringLiteral("success"), false}, {QStringLiteral("version"), QStringLiteral("9.0")}},
        QJsonObject{{QStringLiteral("success"), true}, {QStringLiteral("version"), 9}},
        offer(QStringLiteral("1.2.3")),
        offer(QStringLiteral("1.2.0")),
        offer(QStringLiteral("9.0/../../evil")),
        offer(QStringLiteral("9.0-beta")),
        // No package for this computer, or none fetched over https.
        offer(QStringLiteral("1.3.0")),
        offer(QStringLiteral("1.3.0"), QStringLiteral("   ")),
        offer(QStringLiteral("1.3.0"), QStringLiteral("http://downloads.invalid/velto.deb")),
        QJsonObject{{QStringLiteral("success"), true},
                    {QStringLiteral("version"), QStringLiteral("1.3.0")},
                    {QStringLiteral("downloads"), QJsonObject{{QStringLiteral("mac_pkg"), QStringLiteral("https://x/y.pkg")}}}},
    };
    for (const QJsonObject &r : replies) {
        versionReply(r);
        checkOnce();
    }
    cloud->on("GET", QStringLiteral("/cli/version"), FakeReply::text("<html>oops</html>", 200));
    checkOnce();
    EXPECT_TRUE(answers->shownAlerts.empty());

    // Once the release has its package, it is offered after all.
    versionReply(offer(QStringLiteral("1.3.0"), QStringLiteral("https://downloads.invalid/velto.deb")));
    answers->alert(1); // "Later"
    checkOnce();
    EXPECT_EQ(answers->shownAlerts.size(), 1u);
}

TEST_F(UpdaterTest, DownloadsChecksAndOpensThePackage)
{
    files->on("GET", QStringLiteral("/velto_1.3.0_amd64.deb"), FakeReply::text(kPackage));
    versionReply(offer(QStringLiteral("1.3.0"), files->baseUrl() + QStringLiteral("/velto_1.3.0_amd64.deb")));
    answers->alert(0); // Update now
    answers->alert(0); // Quit Velto
    QWidget window;
    checkOnce(&window);
    ASSERT_TRUE(TestKit::waitFor([&] { return answers->shownAlerts.size() == 2; }));
    EXPECT_EQ(progressShown, QStringList{QStringLiteral("Downloading Velto 1.3.0\u2026")});
    EXPECT_EQ(progressHidden, 1);
    const QString path = Updater::packagePath(QStringLiteral("1.3.0"));
    EXPECT_EQ(QFileInfo(path).fileName(), QStringLiteral("Velto-1.3.0-linux.deb"));
    EXPECT_EQ(TestKit::readFile(path), kPackage);
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(path)});
    EXPECT_EQ(answers->shownAlerts[1].title, QStringLiteral("Installer is open"));
    EXPECT_EQ(answers->shownAlerts[1].buttons, (QStringList{QStringLiteral("Quit Velto"), QStringLiteral("Keep working")}));
    EXPECT_EQ(quits, 1);
}

TEST_F(UpdaterTest, OpensNothingThatFailedOrIsNotAPackage)
{
    files->on("GET", QStringLiteral("/missing.deb"), FakeReply::text("not here", 404));
    files->on("GET", QStringLiteral("/page.deb"), FakeReply::text("<html>a page, not a package</html>"));
    const QString failure = QStringLiteral("Could not download the update");
    int version = 3;
    for (const QString &file : {QStringLiteral("/missing.deb"), QStringLiteral("/page.deb")}) {
        SCOPED_TRACE(file.toStdString());
        const QString v = QStringLiteral("1.") + QString::number(++version) + QStringLiteral(".0");
        versionReply(offer(v, files->baseUrl() + file));
        answers->alert(0); // Update now
        answers->alert(0); // OK
        const size_t before = answers->shownAlerts.size();
        Updater::checkAndOffer(nullptr); // no window: no progress, the alerts still come
        ASSERT_TRUE(TestKit::waitFor([&] { return answers->shownAlerts.size() == before + 2; }));
        EXPECT_EQ(answers->shownAlerts.back().title, failure);
        EXPECT_EQ(answers->shownAlerts.back().text,
                  QStringLiteral("Check the internet connection, or download it from hallix.in/ca/cli."));
        EXPECT_FALSE(QFileInfo::exists(Updater::packagePath(v)));
    }
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(progressShown.isEmpty());

    // A package offered over plain http is neither offered nor fetched.
    const TestKit::FakeHttpServer plain;
    versionReply(offer(QStringLiteral("1.9.0"), plain.baseUrl() + QStringLiteral("/velto.deb")));
    const size_t shown = answers->shownAlerts.size();
    checkOnce();
    TestKit::spin(150);
    EXPECT_EQ(answers->shownAlerts.size(), shown);
    EXPECT_TRUE(plain.requests().isEmpty());
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(UpdaterTest, RecognisesADebianPackage)
{
    EXPECT_TRUE(Updater::looksLikePackage(kPackage));
    EXPECT_FALSE(Updater::looksLikePackage(QByteArray("!<arch>\nsomething-else  ")));
    EXPECT_FALSE(Updater::looksLikePackage(QByteArray("PK\x03\x04")));
    EXPECT_FALSE(Updater::looksLikePackage(QByteArray()));
    EXPECT_TRUE(Updater::plainVersion(QStringLiteral("10.0.12")));
    for (const char *bad : {"", "1.", ".1", "1..2", "1.2-rc1", "1.2/../x", " 1.2"})
        EXPECT_FALSE(Updater::plainVersion(QString::fromLatin1(bad))) << bad;
}

} // namespace
