#include "core/EnvFile.h"
#include "core/Globals.h"
#include "core/Workspace.h"
#include "support/TestKit.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

using TestKit::DialogAnswers;
using TestKit::HomeTest;

namespace {

// Every entry under root with its size and modification time.
QMap<QString, QString> snapshot(const QString &root)
{
    QMap<QString, QString> out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo fi = it.fileInfo();
        out.insert(QDir(root).relativeFilePath(fi.filePath()),
                   QString::number(fi.size()) + "@" + QString::number(fi.lastModified().toMSecsSinceEpoch()));
    }
    return out;
}

class WorkspaceTest : public HomeTest {};

TEST_F(WorkspaceTest, ReadmeTextIsExact)
{
    const QByteArray expected =
        "# Velto workspace\n"
        "\n"
        "00 Firm/       letterheads, templates, engagement letters, staff, SOPs\n"
        "01 Inbox/      drop unsorted client files here; ask Velto to file them\n"
        "02 Clients/    one folder per client -> FY yyyy-yy/ -> gst itr tds mca payroll audit books bank notices correspondence\n"
        "               Permanent/ holds PAN, COI, MOA-AOA, GST certificate, KYC\n"
        "03 Calendar/   weekly plans and deadline digests\n"
        "04 Research/   research notes with citations\n"
        "05 Archive/    closed years\n"
        "\n"
        "Velto writes its own output into a `_velto/` sub-folder with a date prefix.\n"
        "Raw client files are never renamed or deleted.";
    const QString root = home->file("Clients");
    buildStructure(root);
    EXPECT_EQ(TestKit::readFile(root + "/README-Velto.md"), expected);
}

TEST_F(WorkspaceTest, BuildStructureIsIdempotentAndAdditive)
{
    home->write(".velto/AGENTS.md", "firm rules");
    const QString root = home->file("Clients");
    buildStructure(root);
    for (const QString &d : ROOT_DIRS)
        EXPECT_TRUE(QFileInfo(root + "/" + d).isDir()) << d.toStdString();
    EXPECT_EQ(TestKit::readFile(root + "/AGENTS.md"), "firm rules");
    QDir rootDir(root);
    EXPECT_EQ(rootDir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 8)
        << "six top folders, AGENTS.md and the README; nothing else";

    const auto before = snapshot(root);
    buildStructure(root);
    EXPECT_EQ(snapshot(root), before) << "a complete folder is left as it is";

    QDir(root + "/03 Calendar").removeRecursively();
    buildStructure(root);
    EXPECT_EQ(snapshot(root).keys(), before.keys()) << "only the missing folder comes back";

    // The CA's own files are never overwritten.
    home->write("Clients/AGENTS.md", "mine");
    home->write("Clients/README-Velto.md", "edited");
    home->write(".velto/AGENTS.md", "new firm rules");
    buildStructure(root);
    EXPECT_EQ(TestKit::readFile(root + "/AGENTS.md"), "mine");
    EXPECT_EQ(TestKit::readFile(root + "/README-Velto.md"), "edited");
}

TEST_F(WorkspaceTest, ChooseAsksWithTheExactTexts)
{
    DialogAnswers answers;
    answers.alert(1);
    const auto chosen = chooseWorkspace();
    ASSERT_EQ(answers.shownAlerts.size(), 1u);
    const auto &a = answers.shownAlerts[0];
    EXPECT_EQ(a.title, "Choose your clients folder");
    EXPECT_EQ(a.text, QString::fromUtf8(
                          "Velto works inside one folder. It gets full access there and asks you first before "
                          "touching anything outside it.\n\nPick an existing folder, or let Velto create "
                          "\xe2\x80\x9cVelto Clients\xe2\x80\x9d in your home folder."));
    EXPECT_EQ(a.style, Dialogs::Style::Informational);
    EXPECT_EQ(a.buttons, (QStringList{QString::fromUtf8("Choose Folder\xe2\x80\xa6"),
                                      QString::fromUtf8("Create \xe2\x80\x9cVelto Clients\xe2\x80\x9d")}));
    ASSERT_TRUE(chosen);
    EXPECT_EQ(*chosen, home->file("Velto Clients"));
}

TEST_F(WorkspaceTest, CreateUsesAnExistingFolderAndRecordsIt)
{
    home->write("Velto Clients/02 Clients/Acme/notes.txt", "keep");
    DialogAnswers answers;
    answers.alert(1);
    const auto chosen = chooseWorkspace();
    ASSERT_TRUE(chosen);
    EXPECT_EQ(TestKit::readFile(*chosen + "/02 Clients/Acme/notes.txt"), "keep");
    EXPECT_TRUE(QFileInfo(*chosen + "/05 Archive").isDir());
    EXPECT_EQ(TestKit::readFile(WORK_ENV), "VELTO_WORK=\"" + home->file("Velto Clients").toUtf8() + "\"\n");
    EXPECT_EQ(readEnvFile(WORK_ENV).value("VELTO_WORK"), *chosen);
    EXPECT_EQ(QFileInfo(WORK_ENV).permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ReadUser | QFileDevice::WriteUser);
}

TEST_F(WorkspaceTest, ChooseFolderPanel)
{
    {
        DialogAnswers answers;
        answers.alert(0);
        answers.openFolder(home->file("My Firm"));
        const auto chosen = chooseWorkspace();
        ASSERT_TRUE(chosen);
        EXPECT_EQ(*chosen, home->file("My Firm"));
        ASSERT_EQ(answers.shownFolderPanels.size(), 1u);
        const auto &p = answers.shownFolderPanels[0];
        EXPECT_EQ(p.prompt, "Use This Folder");
        EXPECT_EQ(p.message, "Velto will keep all client work inside this folder.");
        EXPECT_EQ(p.startDir, HOME);
        EXPECT_TRUE(p.canCreateFolders);
        EXPECT_TRUE(QFileInfo(*chosen + "/01 Inbox").isDir());
        EXPECT_EQ(readEnvFile(WORK_ENV).value("VELTO_WORK"), home->file("My Firm"));
    }
    {
        // Cancelling the panel changes nothing.
        QFile::remove(WORK_ENV);
        DialogAnswers answers;
        answers.alert(0);
        answers.openFolder(std::nullopt);
        EXPECT_FALSE(chooseWorkspace());
        EXPECT_FALSE(QFile::exists(WORK_ENV));
        EXPECT_FALSE(QFile::exists(home->file("Velto Clients")));
    }
}

} // namespace
