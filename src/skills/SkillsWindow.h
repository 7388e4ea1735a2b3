#pragma once
// The editor of the firm's own skills and agents. It lists only the items
// whose file carries the firm's mark ("owner: firm" within its first 700
// characters); the maker's skills beside them are neither listed nor touched.
// A skill is OC_DIR/skills/<name>/SKILL.md, an agent OC_DIR/agents/<name>.md.
// Every action checks the mark again on disk. The engine reads skills and
// agents when it starts, so new ones need a restart. Main thread only.
#include <QStringList>
#include <QWidget>
#include <memory>
#include <optional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStandardItemModel;
class QTableView;
class PanelThemeWatch;

class SkillsWindow : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Skill = 0, Agent = 1 };

    explicit SkillsWindow(QWidget *parent = nullptr);
    // `path` with a leading `home` folder shown as "~".
    static QString tilde(const QString &path, const QString &home);
    ~SkillsWindow() override;

    // Rebuilds the layout in the current look, keeping the selection and any
    // unsaved text.
    void repaint();
    // The chips' action: 1 shows agents, anything else skills.
    void switchKind(int tag);
    void newItem();
    void saveItem();
    void deleteItem();
    void reveal();

    // For the app and the tests.
    Kind kind() const { return kind_; }
    const QStringList &items() const { return items_; }
    const std::optional<QString> &current() const { return current_; }
    QTableView *table() const { return table_; }
    QPlainTextEdit *editor() const { return editor_; }
    QString pathText() const { return pathText_; }
    QLabel *emptyNote() const { return emptyNote_; }
    QPushButton *chip(Kind k) const { return k == Kind::Skill ? skillsChip_ : agentsChip_; }
    void selectRow(int row);

private:
    void build();
    void reload();
    void paintChips();
    void selectionChanged();
    void setPath(const QString &text);
    bool ownedByFirm(const QString &name) const;
    QString fileFor(const QString &name) const;
    QString targetFor(const QString &name) const;
    QString folder() const;
    bool nameTaken(const QString &name) const;

    Kind kind_ = Kind::Skill;
    QStringList items_;
    QTableView *table_ = nullptr;
    QStandardItemModel *model_ = nullptr;
    QPlainTextEdit *editor_ = nullptr;
    QPushButton *skillsChip_ = nullptr;
    QPushButton *agentsChip_ = nullptr;
    QPushButton *newButton_ = nullptr;
    QPushButton *saveButton_ = nullptr;
    QPushButton *deleteButton_ = nullptr;
    QPushButton *revealButton_ = nullptr;
    QLabel *pathLabel_ = nullptr;
    QString pathText_;
    QLabel *emptyNote_ = nullptr;
    std::optional<QString> current_;
    std::unique_ptr<PanelThemeWatch> watch_;
    QWidget *root_ = nullptr;
};
