// The skills and agents editor offscreen: which items it lists, New with its
// templates and alerts, Save, Delete, Reveal, and a theme change while the CA
// has unsaved text.
#include "panels/PanelsTestKit.h"

#include "skills/SkillsWindow.h"

#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>

using namespace PanelsTestKit;
using namespace TestKit;

namespace {

class SkillsWindowTest : public PanelTest {
protected:
    std::unique_ptr<SkillsWindow> window;
    std::unique_ptr<DialogAnswers> dialogs;
    decltype(Desktop::reveal) savedReveal;
    QStringList revealed;

    void SetUp() override
    {
        PanelTest::SetUp();
        dialogs = std::make_unique<DialogAnswers>();
        savedReveal = Desktop::reveal;
        Desktop::reveal = [this](const QString &path) {
            revealed << path;
            return true;
        };
    }
    void TearDown() override
    {
        window.reset();
        Desktop::reveal = savedReveal;
        dialogs.reset();
        PanelTest::TearDown();
    }
    SkillsWindow &open()
    {
        window = std::make_unique<SkillsWindow>();
        window->show();
        return *window;
    }
    QString skill(const QString &name, const QByteArray &text) const
    {
        return home->write(".velto/hallix/skills/" + name + "/SKILL.md", text);
    }
    QString agent(const QString &file, const QByteArray &text) const
    {
        return home->write(".velto/hallix/agents/" + file, text);
    }
    static QString text(const QString &path) { return QString::fromUtf8(readFile(path)); }
};

TEST_F(SkillsWindowTest, ListsOnlyTheFirmsOwnItems)
{
    SkillsWindow &w = open();
    EXPECT_TRUE(w.items().isEmpty());
    EXPECT_FALSE(w.emptyNote()->isHidden());
    EXPECT_EQ(w.emptyNote()->text(),
              "Nothing here yet. New writes a procedure of your own; Hallix's own skills run in the background.");
    EXPECT_EQ(w.pathText(), "~/.velto/hallix/skills");

    skill("synced", "---\nname: synced\n---\n");
    skill("late-mark", QByteArray(690, 'x') + "owner: firm");
    skill("nested", "---\nname: nested\nmetadata:\n  owner: firm\n---\n");
    skill("Zeta", "owner: firm");
    skill("alpha", "owner: firm");
    skill(".hidden", "owner: firm");
    home->write(".velto/hallix/skills/no-skill-file/README.md", "owner: firm");
    agent("reviewer.md", "---\nowner: firm\n---\n");
    agent("notes.txt", "owner: firm");
    agent("LOUD.MD", "owner: firm");
    agent("maker.md", "---\nmode: primary\n---\n");
    w.switchKind(0);
    EXPECT_EQ(w.items(), (QStringList{"Zeta", "alpha", "nested"}));
    EXPECT_TRUE(w.emptyNote()->isHidden());
    EXPECT_EQ(w.table()->model()->rowCount(), 3);

    w.chip(SkillsWindow::Kind::Agent)->click();
    EXPECT_EQ(w.kind(), SkillsWindow::Kind::Agent);
    EXPECT_EQ(w.items(), QStringList{"reviewer"});
    EXPECT_EQ(w.pathText(), "~/.velto/hallix/agents");
    EXPECT_EQ(w.chip(SkillsWindow::Kind::Agent)->accessibleDescription(), "selected");
    EXPECT_EQ(w.chip(SkillsWindow::Kind::Skill)->accessibleDescription(), "");
}

TEST_F(SkillsWindowTest, NewSkillFromTheTemplate)
{
    home->write(".velto/seat.env", "PAVI_SEAT_EMAIL=ca@firm.in\n");
    SkillsWindow &w = open();
    dialogs->textPrompt(QString("  GST Annual Return "));
    dialogs->alert(0);
    w.newItem();
    ASSERT_EQ(dialogs->shownPrompts.size(), 1u);
    EXPECT_EQ(dialogs->shownPrompts[0].title, "New skill");
    EXPECT_EQ(dialogs->shownPrompts[0].text, "A short name in kebab-case, e.g. gst-annual-return. Velto loads it when "
                                             "the work matches the description.");
    EXPECT_EQ(dialogs->shownPrompts[0].accept, "Create");
    EXPECT_EQ(dialogs->shownPrompts[0].cancel, "Cancel");
    const QString file = OC_DIR + "/skills/gst-annual-return/SKILL.md";
    EXPECT_EQ(text(file), "---\nname: gst-annual-return\ndescription: When to use this skill — one or two lines. "
                          "Velto reads this to decide.\nlicense: Proprietary\nmetadata:\n  author: ca@firm.in\n"
                          "  owner: firm\n  area: gst\n---\n\n# Gst Annual Return\n\n## When this applies\n\n"
                          "(the situation)\n\n## Steps\n\n1.\n2.\n\n## Check before filing\n\n-");
    EXPECT_EQ(w.items(), QStringList{"gst-annual-return"});
    EXPECT_EQ(w.current(), "gst-annual-return");
    EXPECT_EQ(w.editor()->toPlainText(), text(file));
    ASSERT_EQ(dialogs->shownAlerts.size(), 1u);
    EXPECT_EQ(dialogs->shownAlerts[0].title, "Restart Velto to load it");
    EXPECT_EQ(dialogs->shownAlerts[0].text, "New skills are picked up when Velto starts. Quit and open it again once "
                                            "you have written this one.");
    EXPECT_EQ(dialogs->shownAlerts[0].style, Dialogs::Style::Informational);
    EXPECT_FALSE(QFileInfo::exists(OC_DIR + "/skills/gst-annual-return/LOCAL.md"));

    // Without the seat's e-mail the firm is the author.
    QFile::remove(SEAT_ENV);
    dialogs->textPrompt(QString("Tds"));
    dialogs->alert(0);
    w.newItem();
    EXPECT_TRUE(text(OC_DIR + "/skills/tds/SKILL.md").contains("\n  author: the firm\n"));
}

TEST_F(SkillsWindowTest, NamesAreCleanedAndTakenNamesRefused)
{
    skill("synced", "---\nname: synced\n---\n"); // the maker's, not listed
    SkillsWindow &w = open();
    const std::vector<std::pair<QString, QString>> cases{{"a/b.c", "abc"}, {"Déjà vu", "déjà-vu"}};
    for (const auto &[typed, name] : cases) {
        dialogs->textPrompt(typed);
        dialogs->alert(0);
        w.newItem();
        EXPECT_TRUE(QFile::exists(OC_DIR + "/skills/" + name + "/SKILL.md")) << name.toStdString();
    }
    // Only punctuation, or cancelling, ends silently.
    const size_t alerts = dialogs->shownAlerts.size();
    dialogs->textPrompt(QString("!!!"));
    w.newItem();
    dialogs->textPrompt(std::nullopt);
    w.newItem();
    EXPECT_EQ(dialogs->shownAlerts.size(), alerts);

    dialogs->textPrompt(QString("Synced"));
    dialogs->alert(0);
    w.newItem();
    ASSERT_EQ(dialogs->shownAlerts.size(), alerts + 1);
    EXPECT_EQ(dialogs->shownAlerts.back().title, "That name is already in use");
    EXPECT_EQ(dialogs->shownAlerts.back().text,
              "Velto already has a skill called synced. Pick another name — yours will run alongside it.");
    EXPECT_EQ(dialogs->shownAlerts.back().style, Dialogs::Style::Warning);
    EXPECT_EQ(text(OC_DIR + "/skills/synced/SKILL.md"), "---\nname: synced\n---\n");
}

TEST_F(SkillsWindowTest, NewAgentFromTheTemplate)
{
    SkillsWindow &w = open();
    w.switchKind(1);
    dialogs->textPrompt(QString("Reviewer"));
    dialogs->alert(0);
    w.newItem();
    EXPECT_EQ(dialogs->shownPrompts.at(0).title, "New agent");
    EXPECT_EQ(text(OC_DIR + "/agents/reviewer.md"),
              "---\ndescription: What this agent is for\nmode: primary\nmodel: hallix/pavi-smart\ntemperature: 0.3\n"
              "owner: firm\n---\n\nYou are …\n\nRules:\n-");
    EXPECT_EQ(w.current(), "reviewer");
    EXPECT_EQ(dialogs->shownAlerts.at(0).text, "New agents are picked up when Velto starts. Quit and open it again "
                                               "once you have written this one.");
    dialogs->textPrompt(QString("reviewer"));
    dialogs->alert(0);
    w.newItem();
    EXPECT_EQ(dialogs->shownAlerts.back().text,
              "Velto already has a agent called reviewer. Pick another name — yours will run alongside it.");
}

TEST_F(SkillsWindowTest, SaveDeleteAndReveal)
{
    const QString gst = skill("gst", "---\nowner: firm\n---\nOld");
    home->write(".velto/hallix/skills/gst/LOCAL.md", "- note");
    skill("tds", "owner: firm\nTDS");
    SkillsWindow &w = open();

    // Nothing loaded: Save and Delete say nothing, Reveal says so.
    w.saveItem();
    w.deleteItem();
    dialogs->alert(0);
    w.reveal();
    ASSERT_EQ(dialogs->shownAlerts.size(), 1u);
    EXPECT_EQ(dialogs->shownAlerts[0].title, "Nothing selected");
    EXPECT_EQ(dialogs->shownAlerts[0].text, "Pick one of your own skills to show it in the file manager.");

    w.selectRow(0);
    EXPECT_EQ(w.current(), "gst");
    EXPECT_EQ(w.editor()->toPlainText(), "---\nowner: firm\n---\nOld");
    w.editor()->setPlainText("---\nowner: firm\n---\nNew “quotes” -- kept");
    w.saveItem();
    EXPECT_EQ(text(gst), "---\nowner: firm\n---\nNew “quotes” -- kept");
    EXPECT_EQ(w.pathText(), "saved · ~/.velto/hallix/skills/gst/SKILL.md");
    w.reveal();
    EXPECT_EQ(revealed, QStringList{OC_DIR + "/skills/gst"});

    // A row whose file lost its mark is not loaded; Save still writes the previous item.
    skill("tds", "TDS without the mark");
    w.selectRow(1);
    EXPECT_EQ(w.current(), "gst");
    w.saveItem();
    EXPECT_EQ(text(gst), "---\nowner: firm\n---\nNew “quotes” -- kept");

    // Delete asks, then removes the whole folder.
    dialogs->alert(1);
    w.deleteItem();
    EXPECT_EQ(dialogs->shownAlerts.back().title, "Delete gst?");
    EXPECT_EQ(dialogs->shownAlerts.back().text, "This removes your own skill from this computer.");
    EXPECT_EQ(dialogs->shownAlerts.back().buttons, (QStringList{"Delete", "Cancel"}));
    EXPECT_EQ(dialogs->shownAlerts.back().style, Dialogs::Style::Warning);
    EXPECT_TRUE(QFile::exists(gst));
    dialogs->alert(0);
    w.deleteItem();
    EXPECT_FALSE(QFileInfo::exists(OC_DIR + "/skills/gst"));
    EXPECT_FALSE(w.current());
    EXPECT_TRUE(w.editor()->toPlainText().isEmpty());
    EXPECT_TRUE(w.items().isEmpty()); // tds lost its mark
    w.saveItem();
    EXPECT_FALSE(QFileInfo::exists(OC_DIR + "/skills/gst"));

    // Saving a text without the mark writes it; the item then leaves the list.
    w.switchKind(1);
    const QString reviewer = agent("reviewer.md", "owner: firm");
    w.switchKind(1);
    w.selectRow(0);
    w.editor()->setPlainText("no mark");
    w.saveItem();
    EXPECT_EQ(text(reviewer), "no mark");
    w.switchKind(1);
    EXPECT_TRUE(w.items().isEmpty());
}

TEST_F(SkillsWindowTest, AFailedSaveAlertsAndKeepsTheText)
{
    // A file whose name leaves no room for the temporary file beside it cannot
    // be written, whoever runs the tests (a read-only folder stops no root).
    const QString name(250, QChar('a'));
    const QString file = agent(name + ".md", "owner: firm\nold");
    SkillsWindow &w = open();
    w.switchKind(1);
    w.selectRow(0);
    ASSERT_EQ(w.current(), name);
    const QString before = w.pathText();
    w.editor()->setPlainText("owner: firm\nnew");
    dialogs->alert(0);
    w.saveItem();
    ASSERT_EQ(dialogs->shownAlerts.size(), 1u);
    EXPECT_EQ(dialogs->shownAlerts[0].title, "Could not save");
    EXPECT_EQ(dialogs->shownAlerts[0].text, "~/.velto/hallix/agents/" + name + ".md could not be written.");
    EXPECT_EQ(dialogs->shownAlerts[0].style, Dialogs::Style::Warning);
    EXPECT_EQ(w.editor()->toPlainText(), "owner: firm\nnew");
    EXPECT_EQ(w.pathText(), before);
    EXPECT_EQ(text(file), "owner: firm\nold");
}

TEST(SkillsWindowTilde, OnlyALeadingHomeFolder)
{
    struct Case {
        QString path, home, shown;
    };
    const std::vector<Case> cases{
        {"/home/a/x", "/home/a", "~/x"},
        {"/home/a", "/home/a", "~"},
        {"/home/ab/x", "/home/a", "/home/ab/x"},
        {"/srv/home/a/x", "/home/a", "/srv/home/a/x"},
        {"/home/a/home/a/x", "/home/a", "~/home/a/x"},
        {"/home/a/x", "", "/home/a/x"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SkillsWindow::tilde(c.path, c.home), c.shown) << c.path.toStdString();
}

TEST_F(SkillsWindowTest, AThemeChangeKeepsUnsavedText)
{
    skill("gst", "owner: firm\nsaved");
    skill("itr", "owner: firm\nitr");
    SkillsWindow &w = open();
    w.selectRow(1);
    w.editor()->setPlainText("owner: firm\nunsaved edit");
    EXPECT_TRUE(paintedIn(shot(&w, "skills-light"), false));
    dark(true);
    ThemeBroadcast::postThemeDidChange();
    EXPECT_TRUE(waitFor([&] { return paintedIn(shot(&w, "skills-dark"), true); }, 20000));
    EXPECT_EQ(w.editor()->toPlainText(), "owner: firm\nunsaved edit");
    EXPECT_EQ(w.current(), "itr");
    EXPECT_EQ(w.table()->selectionModel()->selectedRows().at(0).row(), 1);
    EXPECT_EQ(w.pathText(), "~/.velto/hallix/skills");
}

} // namespace
