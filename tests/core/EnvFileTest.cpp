#include "core/EnvFile.h"
#include "core/Shell.h"
#include "support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

using TestKit::HomeTest;

namespace {

struct EnvCase {
    const char *name;
    QByteArray text;
    QMap<QString, QString> expected;
};

class EnvFileTest : public HomeTest {};

TEST_F(EnvFileTest, ReadsLinesAsSpecified)
{
    const std::vector<EnvCase> cases = {
        {"plain pairs", "A=1\nB=two\n", {{"A", "1"}, {"B", "two"}}},
        {"comments, blanks and lines without equals skipped", "# c=1\n\n   \nnoequals\nA=1\n", {{"A", "1"}}},
        {"indented comment", "   # X=1\nA=1", {{"A", "1"}}},
        {"leading equals gives the empty key", "=v\n", {{"", "v"}}},
        {"later line wins", "A=1\nA=2\n", {{"A", "2"}}},
        {"double quotes removed", "A=\"x y\"\n", {{"A", "x y"}}},
        {"lone double quote kept", "A=\"\n", {{"A", "\""}}},
        {"empty quoted value", "A=\"\"\n", {{"A", ""}}},
        {"single quotes kept", "A='x'\n", {{"A", "'x'"}}},
        {"inner quotes kept", "A=\"a\"b\"\n", {{"A", "a\"b"}}},
        {"spaces around equals kept", "A = b\n", {{"A ", " b"}}},
        {"outer blanks trimmed", "\t  A=b  \t\n", {{"A", "b"}}},
        {"further equals stay in the value", "A=b=c\n", {{"A", "b=c"}}},
        {"CRLF line ends", "A=1\r\nB=2\r\n", {{"A", "1"}, {"B", "2"}}},
        {"CR line ends and unicode breaks", "A=1\rB=2\xe2\x80\xa8" "C=3", {{"A", "1"}, {"B", "2"}, {"C", "3"}}},
        {"no backslash unescaping", "A=a\\nb\n", {{"A", "a\\nb"}}},
        {"unicode value", "A=\xe0\xa4\x95\n", {{"A", QString::fromUtf8("\xe0\xa4\x95")}}},
        {"quoted value keeps inner spaces", "A=\" x \"", {{"A", " x "}}},
    };
    for (const auto &c : cases) {
        const QString path = home->write("case.env", c.text);
        EXPECT_EQ(readEnvFile(path), c.expected) << c.name;
    }
}

TEST_F(EnvFileTest, UnreadableFilesGiveNothing)
{
    EXPECT_TRUE(readEnvFile(home->file("missing.env")).isEmpty());
    EXPECT_TRUE(readEnvFile(home->write("bad.env", "A=\xff\xfe\n")).isEmpty()) << "not UTF-8";
    EXPECT_TRUE(readEnvFile(home->path()).isEmpty()) << "a folder";
}

TEST_F(EnvFileTest, WriteSecretIsPrivateFromTheStart)
{
    const QString path = home->file(".velto/seat.env");
    EXPECT_TRUE(writeSecret(path, QStringLiteral("PAVI_SEAT_TOKEN=abc\n")));
    struct stat st{};
    ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &st), 0) << "the missing folder is made";
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(readEnvFile(path).value("PAVI_SEAT_TOKEN"), "abc");

    // An existing wider file is replaced by a private one.
    QFile f(path);
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    writeSecret(path, QStringLiteral("A=2\n"));
    ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(readEnvFile(path).value("A"), "2");

    // Even with a permissive umask the file never appears wider.
    const mode_t old = ::umask(0);
    writeSecret(path, QStringLiteral("A=3\n"));
    ::umask(old);
    ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A place that cannot take the file: false, and nothing half-written.
    QDir().mkpath(home->file(".velto/dir.env"));
    EXPECT_FALSE(writeSecret(home->file(".velto/dir.env"), QStringLiteral("A=4\n")));
    EXPECT_TRUE(QFileInfo(home->file(".velto/dir.env")).isDir());
}

TEST(Slug, IsUnpaddedUrlSafeBase64)
{
    EXPECT_EQ(slug(""), "");
    EXPECT_EQ(slug("/Users/ca/Velto Clients"), "L1VzZXJzL2NhL1ZlbHRvIENsaWVudHM");
    // Bytes that give + and / in standard Base64 come out as - and _.
    EXPECT_EQ(slug(QString::fromUtf8("\xef\xbf\xbe?")), "77--Pw");
    EXPECT_EQ(slug(QStringLiteral("\?\?>")), "Pz8-");
    EXPECT_EQ(slug(QStringLiteral("\?\?\?")), "Pz8_");
    for (const QString &s : {QStringLiteral("a"), QStringLiteral("ab"), QString::fromUtf8("\xe0\xa4\x95\xe0\xa4\xbe")}) {
        const QString out = slug(s);
        EXPECT_FALSE(out.contains('+') || out.contains('/') || out.contains('=')) << out.toStdString();
        EXPECT_EQ(QByteArray::fromBase64(out.toLatin1(), QByteArray::Base64UrlEncoding), s.toUtf8());
    }
}

TEST(FreePort, AnswersABindablePort)
{
    const int port = freePort();
    EXPECT_GT(port, 1024);
    EXPECT_LE(port, 65535);
}

} // namespace
