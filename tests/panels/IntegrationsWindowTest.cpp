// The integrations window: the form's clean-up of the id, presets, save and
// delete through the store, the names and files it refuses to touch, the
// list's lines, and a theme change while the CA types.
#include "PanelsTestKit.h"
#include "core/OcConfig.h"
#include "panels/IntegrationsWindow.h"
#include "ui/PanelKit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>

using namespace PanelsTestKit;

namespace {

class IntegrationsWindowTest : public PanelTest {
protected:
    std::unique_ptr<IntegrationsWindow> window;
    void SetUp() override
    {
        PanelTest::SetUp();
        home->write(QStringLiteral(".velto/hallix/opencode.json"), "{}");
    }
    void TearDown() override
    {
        window.reset();
        PanelTest::TearDown();
    }
    IntegrationsWindow &open()
    {
        window = std::make_unique<IntegrationsWindow>();
        window->show();
        return *window;
    }
    static QString status(IntegrationsWindow &w) { return w.status()->stringValue(); }
    void choosePreset(const QString &title)
    {
        window->preset()->setCurrentIndex(window->preset()->findText(title));
        window->presetChanged();
    }
    QJsonArray fileRecords() const
    {
        return QJsonDocument::fromJson(TestKit::readFile(IntegrationStore::fileURL())).array();
    }
};

TEST_F(IntegrationsWindowTest, CleansTheId)
{
    const std::vector<std::pair<QString, QString>> cases{
        {QStringLiteral("  My Tally_Bridge 2 "), QStringLiteral("my-tallybridge-2")},
        {QStringLiteral("\tबही खाता"), QStringLiteral("बही-खाता")},
        {QStringLiteral("!!__??"), QString()},
        {QStringLiteral("already-kebab"), QStringLiteral("already-kebab")},
    };
    for (const auto &[typed, clean] : cases)
        EXPECT_EQ(IntegrationsWindow::cleanName(typed), clean) << typed.toStdString();
}

TEST_F(IntegrationsWindowTest, PresetsFillOnlyANewForm)
{
    IntegrationsWindow &w = open();
    // The first preset is in the form from the start.
    EXPECT_EQ(w.kind(), 0);
    EXPECT_EQ(w.titleField()->text(), QStringLiteral("Tally (MCP bridge)"));
    EXPECT_EQ(w.nameField()->text(), QStringLiteral("tally"));
    EXPECT_EQ(w.commandField()->text(), QStringLiteral("npx"));
    EXPECT_EQ(w.argsField()->text(), QStringLiteral("-y tally-mcp-server"));

    choosePreset(QStringLiteral("Bank statement converter"));
    EXPECT_EQ(w.kind(), 1);
    EXPECT_EQ(w.nameField()->text(), QStringLiteral("bank"));
    EXPECT_EQ(w.commandField()->text(), QStringLiteral("bank2csv"));

    w.envField()->setPlainText(QStringLiteral("KEEP=1"));
    choosePreset(QStringLiteral("Custom MCP server"));
    EXPECT_EQ(w.kind(), 0);
    for (const QString &text : {w.titleField()->text(), w.nameField()->text(), w.commandField()->text(),
                                w.argsField()->text(), w.notesField()->toPlainText()})
        EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(w.envField()->toPlainText(), QStringLiteral("KEEP=1"));

    // With a record loaded the pop-up leaves the form alone; New brings it back.
    w.titleField()->setText(QStringLiteral("Erp"));
    w.nameField()->setText(QStringLiteral("erp"));
    w.commandField()->setText(QStringLiteral("erp-export"));
    w.saveItem();
    choosePreset(QStringLiteral("Zoho Books (MCP)"));
    EXPECT_EQ(w.nameField()->text(), QStringLiteral("erp"));
    w.newItem();
    EXPECT_FALSE(w.editing());
    EXPECT_EQ(w.nameField()->text(), QStringLiteral("zoho"));
    EXPECT_TRUE(w.envField()->toPlainText().isEmpty());
}

TEST_F(IntegrationsWindowTest, SavesCleanRecordsAndUpdatesTheSameOneAgain)
{
    IntegrationsWindow &w = open();
    w.setKind(1);
    w.titleField()->clear();
    w.nameField()->setText(QStringLiteral(" ERP Export_3 "));
    w.commandField()->setText(QStringLiteral("  erp-export\t"));
    w.argsField()->setText(QStringLiteral(" ignored "));
    w.notesField()->setPlainText(QStringLiteral("\n  Sales to CSV.  \n"));
    w.enabledBox()->setChecked(false);
    w.saveItem();
    EXPECT_EQ(status(w), QStringLiteral("Saved into Velto's config. Quit and reopen Velto to load it."));
    QJsonArray records = fileRecords();
    ASSERT_EQ(records.size(), 1);
    const QJsonObject r = records.at(0).toObject();
    EXPECT_EQ(r.value(QStringLiteral("name")).toString(), QStringLiteral("erp-export3"));
    EXPECT_EQ(r.value(QStringLiteral("title")).toString(), QStringLiteral("erp-export3"));
    EXPECT_EQ(r.value(QStringLiteral("kind")).toString(), QStringLiteral("cli"));
    EXPECT_EQ(r.value(QStringLiteral("command")).toString(), QStringLiteral("erp-export"));
    EXPECT_EQ(r.value(QStringLiteral("args")).toString(), QStringLiteral("ignored"));
    EXPECT_EQ(r.value(QStringLiteral("notes")).toString(), QStringLiteral("Sales to CSV."));
    EXPECT_FALSE(r.value(QStringLiteral("enabled")).toBool());
    EXPECT_TRUE(QUuid::fromString(r.value(QStringLiteral("id")).toString()).toString(QUuid::WithoutBraces).toUpper() ==
                r.value(QStringLiteral("id")).toString());
    // A disabled record is listed in the muted colour.
    EXPECT_EQ(w.table()->model()->index(0, 0).data(Qt::ForegroundRole).value<QColor>(), Theme::muted());
    EXPECT_EQ(w.table()->model()->index(0, 0).data(IntegrationsWindow::DetailRole).toString(),
              QStringLiteral("CLI \u00b7 erp-export ignored"));

    w.enabledBox()->setChecked(true);
    w.saveItem();
    records = fileRecords();
    ASSERT_EQ(records.size(), 1);
    EXPECT_TRUE(records.at(0).toObject().value(QStringLiteral("enabled")).toBool());
    EXPECT_EQ(w.table()->model()->index(0, 0).data(Qt::ForegroundRole).value<QColor>(), Theme::ink());
    // Saved and applied at once.
    EXPECT_TRUE(TestKit::readFile(OC_JSON).contains("erp-export *"));
}

TEST_F(IntegrationsWindowTest, RefusesAMissingIdOrCommandAndANameTheAppOwns)
{
    IntegrationsWindow &w = open();
    const std::vector<std::pair<QString, QString>> incomplete{{QStringLiteral("?!"), QStringLiteral("npx")},
                                                              {QStringLiteral("tally"), QStringLiteral("  ")}};
    for (const auto &[id, command] : incomplete) {
        w.nameField()->setText(id);
        w.commandField()->setText(command);
        w.saveItem();
        EXPECT_EQ(status(w), QStringLiteral("Give it an id and a command."));
    }
    w.nameField()->setText(QStringLiteral("Browser"));
    w.commandField()->setText(QStringLiteral("npx"));
    w.saveItem();
    EXPECT_EQ(status(w), QStringLiteral("The id browser belongs to Velto's own setup. Could not save: choose another id."));
    EXPECT_EQ(PanelKit::tone(status(w)), Theme::stampInk());
    EXPECT_FALSE(QFileInfo::exists(IntegrationStore::fileURL()));
    EXPECT_FALSE(TestKit::readFile(OC_JSON).contains("npx"));
}

TEST_F(IntegrationsWindowTest, KeepsAnUnreadableRecordFileAndSaysSo)
{
    const QByteArray unreadable = "[{\"id\": \"X\", \"name\": \"half a record\"}]";
    home->write(QStringLiteral(".velto/integrations.json"), unreadable);
    IntegrationsWindow &w = open();
    EXPECT_EQ(w.table()->model()->rowCount(), 0);
    EXPECT_TRUE(status(w).startsWith(QStringLiteral("integrations.json could not be read. Velto keeps it as it is")));
    EXPECT_EQ(PanelKit::tone(status(w)), Theme::stampInk());
    w.saveItem();
    EXPECT_TRUE(status(w).startsWith(QStringLiteral("integrations.json could not be read, so nothing was saved.")));
    EXPECT_EQ(PanelKit::tone(status(w)), Theme::stampInk());
    w.selectRow(0);
    w.deleteItem(); // nothing loaded: nothing to delete either
    EXPECT_EQ(TestKit::readFile(IntegrationStore::fileURL()), unreadable);
    EXPECT_EQ(TestKit::readFile(OC_JSON), QByteArray("{}"));
}

TEST_F(IntegrationsWindowTest, DeletesTheLoadedRecordOnly)
{
    IntegrationsWindow &w = open();
    w.deleteItem(); // nothing loaded: nothing happens
    EXPECT_TRUE(status(w).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(IntegrationStore::fileURL()));

    for (const QString &name : {QStringLiteral("alpha"), QStringLiteral("beta")}) {
        w.newItem();
        w.titleField()->setText(name);
        w.nameField()->setText(name);
        w.saveItem();
    }
    ASSERT_EQ(w.items().size(), 2);
    w.selectRow(0);
    EXPECT_EQ(w.nameField()->text(), QStringLiteral("alpha"));
    EXPECT_TRUE(status(w).isEmpty());
    w.deleteItem();
    EXPECT_EQ(status(w), QStringLiteral("Removed. Quit and reopen Velto."));
    EXPECT_FALSE(w.editing());
    ASSERT_EQ(w.items().size(), 1);
    EXPECT_EQ(w.items().first().name, QStringLiteral("beta"));
    const QJsonObject mcp = OcConfig::read()->value(QStringLiteral("mcp")).toObject();
    EXPECT_EQ(mcp.keys(), QStringList{QStringLiteral("beta")});
}

TEST_F(IntegrationsWindowTest, ThemeChangeKeepsWhatTheCaTyped)
{
    IntegrationsWindow &w = open();
    w.nameField()->setText(QStringLiteral("first"));
    w.saveItem();
    w.newItem();
    w.nameField()->setText(QStringLiteral("second"));
    w.saveItem();
    w.selectRow(0);
    w.setKind(1);
    w.titleField()->setText(QStringLiteral("half typed"));
    w.envField()->setPlainText(QStringLiteral("K=v"));
    w.status()->setStringValue(QStringLiteral("Could not save."));

    dark(true);
    ThemeBroadcast::postThemeDidChange();
    ASSERT_TRUE(TestKit::waitFor([&] { return w.palette().color(QPalette::Window) == Theme::bg(); }, 20000));
    EXPECT_EQ(w.titleField()->text(), QStringLiteral("half typed"));
    // The rebuilt form sits where the first one did.
    EXPECT_EQ(w.status()->geometry().topLeft(), QPoint(336, 668));
    EXPECT_EQ(w.envField()->toPlainText(), QStringLiteral("K=v"));
    EXPECT_EQ(w.kind(), 1);
    EXPECT_EQ(w.table()->selectionModel()->selectedRows().value(0).row(), 0);
    EXPECT_EQ(status(w), QStringLiteral("Could not save."));
    EXPECT_EQ(w.status()->palette().color(QPalette::WindowText), Theme::stampInk());
}

TEST_F(IntegrationsWindowTest, LooksRightInBothThemes)
{
    for (bool isDark : {false, true}) {
        dark(isDark);
        IntegrationsWindow &w = open();
        w.saveItem();
        w.newItem();
        choosePreset(QStringLiteral("ERP export CLI"));
        w.enabledBox()->setChecked(false);
        w.saveItem();
        const QImage image = shot(&w, isDark ? QStringLiteral("integrations-dark") : QStringLiteral("integrations-light"));
        EXPECT_EQ(image.size() / image.devicePixelRatio(), QSize(900, 720));
        EXPECT_TRUE(paintedIn(image, isDark));
        window.reset();
        QFile::remove(IntegrationStore::fileURL());
    }
}

} // namespace
