#include "platform/Process.h"
#include "support/TestKit.h"

#include <QFile>
#include <csignal>

using TestKit::HomeTest;
using TestKit::waitFor;

namespace {

class ProcessTest : public HomeTest {};

TEST_F(ProcessTest, LaunchesWithArgumentsFolderAndEnvironment)
{
    const QString out = home->file("out.txt");
    Process::Spec spec;
    spec.program = "/bin/sh";
    spec.args = {"-c", "printf '%s|%s|%s' \"$1\" \"$PWD\" \"$ONLY\" > \"$OUT\"", "sh", "arg one"};
    spec.workDir = home->path();
    QProcessEnvironment env;
    env.insert("ONLY", "here");
    env.insert("OUT", out);
    spec.env = env;
    auto p = Process::launch(spec);
    ASSERT_TRUE(p);
    EXPECT_GT(p->pid(), 0);
    ASSERT_TRUE(waitFor([&] { return !p->isRunning(); }));
    EXPECT_EQ(p->exitCode(), 0);
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "arg one|" + home->path().toUtf8() + "|here");
}

TEST_F(ProcessTest, SignalEndsItAndFailuresAreReported)
{
    Process::Spec spec;
    spec.program = "/bin/sleep";
    spec.args = {"30"};
    auto p = Process::launch(spec);
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->isRunning());
    p->signal(SIGTERM);
    EXPECT_TRUE(waitFor([&] { return !p->isRunning(); }));

    QString error;
    spec.program = home->file("no-such-program");
    EXPECT_FALSE(Process::launch(spec, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(Process::runAndWait(spec), -1);

    spec.program = "/bin/sh";
    spec.args = {"-c", "exit 3"};
    EXPECT_EQ(Process::runAndWait(spec), 3);
}

TEST_F(ProcessTest, DroppingTheHandleLeavesTheChildRunning)
{
    Process::Spec spec;
    spec.program = "/bin/sleep";
    spec.args = {"30"};
    qint64 pid = 0;
    {
        auto p = Process::launch(spec);
        ASSERT_TRUE(p);
        pid = p->pid();
    }
    TestKit::spin(50);
    EXPECT_EQ(::kill(pid_t(pid), 0), 0) << "still alive";
    ::kill(pid_t(pid), SIGKILL);
}

} // namespace
