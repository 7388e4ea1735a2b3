#pragma once
// The window in which the CA lists, adds, edits, enables and deletes the
// firm's integrations. Each save or delete writes the record file and applies
// the whole list to the engine configuration at once; the engine picks the
// change up at its next start. Main thread only.
#include "panels/IntegrationStore.h"

#include <QWidget>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStandardItemModel;
class QTableView;
class PanelStatusField;
class PanelThemeWatch;

class IntegrationsWindow : public QWidget {
    Q_OBJECT
public:
    // The list's second line and the colour of both lines.
    enum Role { DetailRole = Qt::UserRole + 1 };

    explicit IntegrationsWindow(QWidget *parent = nullptr);
    ~IntegrationsWindow() override;

    // Actions.
    void presetChanged();
    void newItem();
    void saveItem();
    void deleteItem();
    void repaint();

    // The second line of a record's row.
    static QString detailLine(const Integration &i);
    // The Id field cleaned: trimmed, lower-cased, spaces to "-", only letters,
    // digits and "-" kept.
    static QString cleanName(const QString &typed);

    // For the app and the tests.
    const QList<Integration> &items() const { return items_; }
    const std::optional<QString> &editing() const { return editing_; }
    QTableView *table() const { return table_; }
    QComboBox *preset() const { return preset_; }
    int kind() const { return kind_; }
    void setKind(int segment);
    QPushButton *kindButton(int segment) const { return segment == 0 ? mcpButton_ : cliButton_; }
    QLineEdit *titleField() const { return title_; }
    QLineEdit *nameField() const { return name_; }
    QLineEdit *commandField() const { return command_; }
    QLineEdit *argsField() const { return args_; }
    QPlainTextEdit *envField() const { return env_; }
    QPlainTextEdit *notesField() const { return notes_; }
    QCheckBox *enabledBox() const { return enabled_; }
    PanelStatusField *status() const { return status_; }
    void selectRow(int row);

private:
    void build();
    void reload();
    void selectionChanged();
    void paintKind();

    QList<Integration> items_;
    QTableView *table_ = nullptr;
    QStandardItemModel *model_ = nullptr;
    QComboBox *preset_ = nullptr;
    int kind_ = 0;
    QPushButton *mcpButton_ = nullptr;
    QPushButton *cliButton_ = nullptr;
    QLineEdit *title_ = nullptr;
    QLineEdit *name_ = nullptr;
    QLineEdit *command_ = nullptr;
    QLineEdit *args_ = nullptr;
    QPlainTextEdit *env_ = nullptr;
    QPlainTextEdit *notes_ = nullptr;
    QCheckBox *enabled_ = nullptr;
    PanelStatusField *status_ = nullptr;
    std::optional<QString> editing_;
    std::unique_ptr<PanelThemeWatch> watch_;
    QPushButton *newButton_ = nullptr;
    QPushButton *saveButton_ = nullptr;
    QPushButton *deleteButton_ = nullptr;
    QWidget *root_ = nullptr;
    bool quietSelection_ = false;
};
