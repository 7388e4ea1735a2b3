#include "platform/Files.h"
#include "support/TestKit.h"

#include <QDir>
#include <QFile>
#include <sys/stat.h>

using TestKit::HomeTest;

namespace {

class FilesTest : public HomeTest {};

TEST_F(FilesTest, WriteAtomicReplacesWholeWithTheMode)
{
    const QString p = home->file("a.json");
    ASSERT_TRUE(Files::writeAtomic(p, "first", 0600));
    ASSERT_TRUE(Files::writeAtomic(p, "second", 0644));
    EXPECT_EQ(Files::readAll(p), QByteArray("second"));
    struct stat st{};
    ASSERT_EQ(::stat(p.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(QDir(home->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.json"});
}

TEST_F(FilesTest, FailureKeepsTheOldFile)
{
    const QString p = home->file("a.json");
    ASSERT_TRUE(Files::writeAtomic(p, "old", 0600));
    EXPECT_FALSE(Files::writeAtomic(home->file("new/folder/b.json"), "x")) << "no folder is made";
    EXPECT_TRUE(Files::writeAtomicMakingFolder(home->file("new/folder/b.json"), "x"));
    EXPECT_FALSE(Files::writeAtomicMakingFolder(home->file("a.json/b.json"), "x")) << "a file in the folder's place";
    // A folder in the target's place: the rename fails and nothing leaks.
    QDir().mkpath(home->file("dir.json/inner"));
    EXPECT_FALSE(Files::writeAtomic(home->file("dir.json"), "x"));
    EXPECT_EQ(Files::readAll(p), QByteArray("old"));
    EXPECT_EQ(QDir(home->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.json"});
    EXPECT_EQ(QDir(home->file("new/folder")).entryList(QDir::Files | QDir::Hidden), QStringList{"b.json"});
    EXPECT_FALSE(Files::readAll(home->file("nothing")));
}

} // namespace
