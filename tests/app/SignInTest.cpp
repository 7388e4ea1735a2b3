// Sign-in against the stand-in cloud: what is sent, the seat env file's exact
// bytes and mode, the status texts, the window's state, and sign-out.
#include "AppTestKit.h"
#include "app/SignIn.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "platform/Files.h"
#include "ui/Mascot.h"
#include "ui/Theme.h"
#include "ui/ViewLayer.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSysInfo>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

using namespace AppTestKit;
using TestKit::waitFor;

namespace {

QJsonObject reply(const QJsonValue &body, int status = 200)
{
    return QJsonObject{{"status", status}, {"body", body}};
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 0777;
}

class SignInTest : public TestKit::HomeTest {
protected:
    // Loopback replies arrive long before a real time-out; the short test
    // scale would turn 30 s into 0.3 s.
    ScopedTimeScale scale{1.0};
    std::unique_ptr<StandinCloud> cloud;
    std::unique_ptr<QWidget> mainWindow;
    std::unique_ptr<LoginWindow> login;
    QList<bool> done;

    void SetUp() override
    {
        HomeTest::SetUp();
        mainWindow = std::make_unique<QWidget>();
        mainWindow->resize(800, 600);
        mainWindow->show();
    }
    void TearDown() override
    {
        login.reset();
        mainWindow.reset();
        cloud.reset();
        HomeTest::TearDown();
    }

    void startCloud(const QJsonObject &replies)
    {
        cloud = std::make_unique<StandinCloud>(*home, replies);
        ASSERT_TRUE(cloud->running());
        home->refill({{"VELTO_API", cloud->baseUrl()}});
    }
    void openWindow()
    {
        login = std::make_unique<LoginWindow>(mainWindow.get(), [this](bool ok) { done.append(ok); });
        login->present();
        ASSERT_TRUE(waitFor([&] { return login->isVisible(); }));
    }
    QList<QJsonObject> logins() const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &r : events(cloud->logPath(), "request"))
            if (r.value("path").toString() == "/cli/login")
                out.append(r);
        return out;
    }
    // Types, presses the button and waits for the answer to be handled.
    void signIn(const QString &email, const QString &password)
    {
        login->email()->setText(email);
        login->pass()->setText(password);
        login->button()->click();
        waitFor([&] { return login->button()->isEnabled() || !done.isEmpty(); }, 15000);
    }
    QByteArray seatBytes() const { return Files::readAll(SEAT_ENV).value_or("<none>"); }
};

TEST_F(SignInTest, SendsTheTrimmedEmailAndWritesTheSeatFileExactly)
{
    startCloud({{"POST /cli/login", reply(QJsonObject{{"token", "seat-1"}})}});
    openWindow();
    EXPECT_TRUE(login->isModal());
    EXPECT_EQ(login->windowModality(), Qt::WindowModal);
    EXPECT_EQ(login->parentWidget(), mainWindow.get());
    EXPECT_EQ(login->windowTitle(), "Velto");
    EXPECT_EQ(login->size(), QSize(460, 470));

    signIn("  CA@Firm.IN\t", " pass word ");
    ASSERT_EQ(done, QList<bool>{true});
    EXPECT_FALSE(login->isVisible());

    const auto sent = logins();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].value("method").toString(), "POST");
    const QJsonObject headers = sent[0].value("headers").toObject();
    EXPECT_EQ(headers.value("content-type").toString(), "application/json");
    EXPECT_FALSE(headers.contains("authorization"));
    const QJsonObject body = QJsonDocument::fromJson(sent[0].value("body").toString().toUtf8()).object();
    EXPECT_EQ(body.keys(), (QStringList{"device", "email", "os", "password"}));
    EXPECT_EQ(body.value("email").toString(), "ca@firm.in");
    EXPECT_EQ(body.value("password").toString(), " pass word ") << "the password goes as typed";
    EXPECT_EQ(body.value("os").toString(), "linux");
    EXPECT_EQ(body.value("device").toString(), QSysInfo::machineHostName());

    EXPECT_EQ(seatBytes(), "PAVI_SEAT_TOKEN=seat-1\nPAVI_SEAT_EMAIL=ca@firm.in\n");
    EXPECT_EQ(modeOf(SEAT_ENV), 0600u);
}

TEST_F(SignInTest, ASecondSignInReplacesTheSeatFileWhole)
{
    startCloud({{"POST /cli/login", reply(QJsonObject{{"token", "seat-2"}})}});
    home->write(".velto/seat.env", "PAVI_SEAT_TOKEN=old\nPAVI_SEAT_EMAIL=old@firm.in\nEXTRA=1\n");
    ::chmod(QFile::encodeName(SEAT_ENV).constData(), 0644);
    openWindow();
    signIn("new@firm.in", "pw");
    ASSERT_EQ(done, QList<bool>{true});
    EXPECT_EQ(seatBytes(), "PAVI_SEAT_TOKEN=seat-2\nPAVI_SEAT_EMAIL=new@firm.in\n");
    EXPECT_EQ(modeOf(SEAT_ENV), 0600u);
}

TEST_F(SignInTest, RepliesWithoutAUsableTokenShowTheirTextAndKeepTheWindow)
{
    struct Case {
        const char *name;
        QJsonObject reply;
        QString status;
    };
    const QList<Case> cases = {
        {"empty token", reply(QJsonObject{{"token", ""}}), "Sign in failed."},
        {"token not text", reply(QJsonObject{{"token", 42}}), "Sign in failed."},
        {"error message",
         reply(QJsonObject{{"error", QJsonObject{{"message", "Wrong email or password."}}}}, 401),
         "Wrong email or password."},
        {"error is plain text", reply(QJsonObject{{"error", "nope"}}, 401), "Sign in failed."},
        {"message not text", reply(QJsonObject{{"error", QJsonObject{{"message", 7}}}}, 400), "Sign in failed."},
        {"not JSON", QJsonObject{{"status", 502}, {"raw", "<html>Bad gateway</html>"}}, "Sign in failed."},
        {"empty body", QJsonObject{{"status", 500}}, "Sign in failed."},
        {"array", reply(QJsonArray{QJsonObject{{"token", "x"}}}), "Sign in failed."},
    };
    startCloud({});
    openWindow();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        cloud->setReplies({{"POST /cli/login", c.reply}});
        signIn("ca@firm.in", "secret");
        EXPECT_EQ(login->status()->text(), c.status);
        EXPECT_TRUE(login->isVisible());
        EXPECT_TRUE(login->button()->isEnabled());
        EXPECT_FALSE(login->mark()->busy());
        EXPECT_EQ(login->email()->text(), "ca@firm.in");
        EXPECT_EQ(login->pass()->text(), "secret");
    }
    EXPECT_TRUE(done.isEmpty());
    EXPECT_FALSE(QFile::exists(SEAT_ENV));
    EXPECT_EQ(logins().size(), cases.size());
}

TEST_F(SignInTest, NetworkProblemsAndEmptyFields)
{
    startCloud({{"POST /cli/login", QJsonObject{{"drop", true}}}});
    openWindow();

    for (const auto &[email, password] : QList<QPair<QString, QString>>{{" \t ", "pw"}, {"ca@firm.in", ""}, {"", ""}}) {
        login->email()->setText(email);
        login->pass()->setText(password);
        login->signIn();
        EXPECT_EQ(login->status()->text(), "Enter your email and password.");
        EXPECT_TRUE(login->button()->isEnabled());
    }
    EXPECT_TRUE(logins().isEmpty());

    signIn("ca@firm.in", "pw");
    EXPECT_TRUE(login->status()->text().startsWith("Network problem: ")) << login->status()->text().toStdString();
    EXPECT_GT(login->status()->text().size(), QString("Network problem: ").size());
    EXPECT_TRUE(login->isVisible());

    // Nothing listening at all.
    cloud.reset();
    signIn("ca@firm.in", "pw");
    EXPECT_TRUE(login->status()->text().startsWith("Network problem: "));
    EXPECT_TRUE(done.isEmpty());
}

TEST_F(SignInTest, WhileTheRequestIsOutTheButtonRestsAndReturnStartsNothingMore)
{
    startCloud({{"POST /cli/login", QJsonObject{{"delay_ms", 400}, {"body", QJsonObject{{"token", "t"}}}}}});
    openWindow();
    login->email()->setText("ca@firm.in");
    login->pass()->setText("pw");
    login->pass()->setFocus();
    // Return in the password field presses the button.
    QTest::keyClick(login->pass(), Qt::Key_Return);
    EXPECT_FALSE(login->button()->isEnabled());
    EXPECT_TRUE(login->mark()->busy());
    EXPECT_EQ(login->status()->text(), "");
    QTest::keyClick(login->email(), Qt::Key_Return);
    login->signIn();
    ASSERT_TRUE(waitFor([&] { return !done.isEmpty(); }, 15000));
    EXPECT_EQ(done, QList<bool>{true});
    EXPECT_EQ(logins().size(), 1);
}

TEST_F(SignInTest, ASeatFileThatCannotBeWrittenKeepsTheWindowOpen)
{
    startCloud({{"POST /cli/login", reply(QJsonObject{{"token", "seat-3"}})}});
    // A folder where the file belongs: it can never be written.
    QDir().mkpath(SEAT_ENV);
    openWindow();
    signIn("ca@firm.in", "pw");
    EXPECT_TRUE(done.isEmpty()) << "no success reported";
    EXPECT_TRUE(login->isVisible());
    EXPECT_TRUE(login->status()->text().startsWith("Could not save your sign-in in "));
    EXPECT_TRUE(login->status()->text().endsWith(". Check that the folder can be written, then sign in again."));
    EXPECT_TRUE(login->button()->isEnabled());

    // Once the folder is out of the way the CA signs in.
    QDir(SEAT_ENV).removeRecursively();
    signIn("ca@firm.in", "pw");
    EXPECT_EQ(done, QList<bool>{true});
    EXPECT_EQ(seatBytes(), "PAVI_SEAT_TOKEN=seat-3\nPAVI_SEAT_EMAIL=ca@firm.in\n");
}

TEST_F(SignInTest, ClosingTheWindowIsQuittingAndEscapeDoesNothing)
{
    startCloud({});
    openWindow();
    QTest::keyClick(login.get(), Qt::Key_Escape);
    EXPECT_TRUE(login->isVisible());
    EXPECT_TRUE(done.isEmpty());
    login->close();
    EXPECT_EQ(done, QList<bool>{false});
    login->close();
    EXPECT_EQ(done, QList<bool>{false}) << "reported once";
}

TEST_F(SignInTest, AThemeChangeRebuildsTheWindowKeepingWhatWasTyped)
{
    startCloud({{"POST /cli/login", QJsonObject{{"delay_ms", 600}, {"body", QJsonObject{{"token", "t"}}}}}});
    Theme::setOverride(QString("light"));
    openWindow();
    login->activateWindow();
    login->email()->setText("ca@firm.in");
    login->pass()->setText("pass");
    login->pass()->setFocus();
    login->pass()->setCursorPosition(2);
    login->button()->click();
    ASSERT_TRUE(login->mark()->busy());
    QPointer<PaviMarkView> before = login->mark();
    const QColor lightBg = ViewLayer::find(login->mark()->parentWidget())->background.color();

    Theme::setOverride(QString("dark"));
    login->repaint();
    EXPECT_TRUE(before.isNull()) << "a new mark";
    EXPECT_TRUE(login->mark()->busy()) << "still breathing";
    EXPECT_EQ(login->email()->text(), "ca@firm.in");
    EXPECT_EQ(login->pass()->text(), "pass");
    EXPECT_EQ(login->pass()->cursorPosition(), 2);
    EXPECT_TRUE(login->pass()->isVisible());
    EXPECT_EQ(login->focusWidget(), login->pass());
    EXPECT_EQ(ViewLayer::find(login->mark()->parentWidget())->background.color(), Theme::bg());
    EXPECT_NE(Theme::bg(), lightBg);
    EXPECT_EQ(login->email()->palette().color(QPalette::Text), Theme::ink());

    ASSERT_TRUE(waitFor([&] { return !done.isEmpty(); }, 15000));
    Theme::setOverride(std::nullopt);
}

TEST_F(SignInTest, TheMarkSmilesNowAndThen)
{
    startCloud({});
    openWindow();
    EXPECT_EQ(login->smileTimer()->interval(), 6500);
    // Under the test scale the timer fires every 65 ms.
    ScopedTimeScale quick(0.01);
    LoginWindow fast(mainWindow.get(), [](bool) {});
    EXPECT_FALSE(fast.mark()->happyEyesShown());
    fast.present();
    EXPECT_TRUE(waitFor([&] { return fast.mark()->happyEyesShown(); }, 3000));
    fast.close();
}

class SignOutTest : public TestKit::HomeTest {
protected:
    ScopedTimeScale scale{1.0};
};

TEST_F(SignOutTest, ReleasesTheSeatDeletesTheFileTellsTheCaAndQuits)
{
    StandinCloud cloud(*home, {{"POST /cli/logout", reply(QJsonObject{{"success", true}})}});
    ASSERT_TRUE(cloud.running());
    home->refill({{"VELTO_API", cloud.baseUrl()}});
    writeSecret(SEAT_ENV, "PAVI_SEAT_TOKEN=seat-9\nPAVI_SEAT_EMAIL=ca@firm.in\n");

    TestKit::DialogAnswers answers;
    answers.alert(0);
    int quits = 0;
    bool fileGoneAtAlert = false;
    Dialogs::Hooks::alert = [&, inner = Dialogs::Hooks::alert](const Dialogs::Alert &a) {
        fileGoneAtAlert = !QFile::exists(SEAT_ENV);
        EXPECT_EQ(quits, 0) << "quits only once the CA has closed the message";
        return inner(a);
    };
    SignIn::signOut([&] { ++quits; });
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(fileGoneAtAlert);
    ASSERT_EQ(answers.shownAlerts.size(), 1u);
    EXPECT_EQ(answers.shownAlerts[0].title, "Signed out");
    EXPECT_EQ(answers.shownAlerts[0].text, "This device's seat is released. Open Velto again to sign in.");
    EXPECT_EQ(answers.shownAlerts[0].style, Dialogs::Style::Informational);
    EXPECT_EQ(answers.shownAlerts[0].buttons, QStringList{"OK"});

    ASSERT_TRUE(waitForEvents(cloud.logPath(), "request"));
    const QJsonObject sent = events(cloud.logPath(), "request").first();
    EXPECT_EQ(sent.value("method").toString(), "POST");
    EXPECT_EQ(sent.value("path").toString(), "/cli/logout");
    EXPECT_EQ(sent.value("headers").toObject().value("authorization").toString(), "Bearer seat-9");
    EXPECT_EQ(sent.value("body").toString(), "");
}

TEST_F(SignOutTest, WithoutATokenOrNetworkItStillDeletesTellsAndQuits)
{
    // A cloud address nobody answers at: nothing may wait on it.
    home->refill({{"VELTO_API", "http://127.0.0.1:9"}});
    for (const QByteArray &seat : {QByteArray("PAVI_SEAT_EMAIL=ca@firm.in\n"), QByteArray("PAVI_SEAT_TOKEN=\n"),
                                    QByteArray("PAVI_SEAT_TOKEN=abc\n"), QByteArray()}) {
        if (!seat.isNull())
            writeSecret(SEAT_ENV, QString::fromUtf8(seat));
        TestKit::DialogAnswers answers;
        answers.alert(0);
        int quits = 0;
        SignIn::signOut([&] { ++quits; });
        EXPECT_EQ(quits, 1);
        EXPECT_FALSE(QFile::exists(SEAT_ENV));
        EXPECT_EQ(answers.shownAlerts.size(), 1u);
    }
}

} // namespace
