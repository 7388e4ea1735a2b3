#include "skills/SkillsWindow.h"

#include "core/Characters.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "skills/Catalog.h"
#include "skills/SkillInstall.h"
#include "skills/SkillText.h"
#include "ui/PanelKit.h"
#include "ui/Theme.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

using PanelKit::Anchor;
using PanelKit::fromBottom;

namespace {

constexpr int kWidth = 900;
constexpr int kHeight = 600;
constexpr int kMinWidth = 600;
constexpr int kMinHeight = 400;

// One name per row, 12.5 pt ink, cut at the tail.
class NameRowView : public PanelRowView {
public:
    using PanelRowView::PanelRowView;

protected:
    void paintCell(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        painter->save();
        const QFont font = Theme::font(12.5);
        painter->setFont(font);
        painter->setPen(Theme::ink());
        const QRect r(option.rect.x() + 16, option.rect.y() + 7, 200, 18);
        painter->drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(font).elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                                        r.width()));
        painter->restore();
    }
};

// A label that cuts its text at the head, so a long path keeps its end.
class HeadCutLabel : public QLabel {
public:
    void setFullText(const QString &text)
    {
        full_ = text;
        cut();
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        cut();
    }

private:
    void cut() { setText(fontMetrics().elidedText(full_, Qt::ElideLeft, std::max(0, width()))); }
    QString full_;
};

QString agentTemplate()
{
    return QStringLiteral("---\ndescription: What this agent is for\nmode: primary\nmodel: hallix/pavi-smart\n"
                          "temperature: 0.3\nowner: firm\n---\n\nYou are \u2026\n\nRules:\n-");
}

QString skillTemplate(const QString &name, const QString &author, const QString &title)
{
    return QStringLiteral("---\nname: ") + name +
           QStringLiteral("\ndescription: When to use this skill \u2014 one or two lines. Velto reads this to decide.\n"
                          "license: Proprietary\nmetadata:\n  author: ") +
           author + QStringLiteral("\n  owner: firm\n  area: gst\n---\n\n# ") + title +
           QStringLiteral("\n\n## When this applies\n\n(the situation)\n\n## Steps\n\n1.\n2.\n\n## Check before filing\n\n-");
}

} // namespace

QString SkillsWindow::tilde(const QString &path, const QString &home)
{
    // Only a leading home folder, as a whole folder, is shortened.
    if (home.isEmpty())
        return path;
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/')))
        return QStringLiteral("~") + path.mid(home.size());
    return path;
}

SkillsWindow::SkillsWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Skills & Agents"));
    setWindowFlag(Qt::WindowMinimizeButtonHint, false);
    resize(kWidth, kHeight);
    setMinimumSize(kMinWidth, kMinHeight);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    table_ = new QTableView;
    model_ = new QStandardItemModel(0, 1, table_);
    model_->setHorizontalHeaderLabels({QStringLiteral("name")});
    table_->setModel(model_);
    table_->setItemDelegate(new NameRowView(table_));
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(32);
    table_->horizontalHeader()->setDefaultSectionSize(220);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { selectionChanged(); });

    editor_ = new QPlainTextEdit;

    skillsChip_ = new QPushButton(QStringLiteral("Skills"));
    agentsChip_ = new QPushButton(QStringLiteral("Agents"));
    skillsChip_->setProperty("tag", 0);
    agentsChip_->setProperty("tag", 1);
    connect(skillsChip_, &QPushButton::clicked, this, [this] { switchKind(0); });
    connect(agentsChip_, &QPushButton::clicked, this, [this] { switchKind(1); });

    newButton_ = new QPushButton(QStringLiteral("New"));
    saveButton_ = new QPushButton(QStringLiteral("Save"));
    deleteButton_ = new QPushButton(QStringLiteral("Delete"));
    revealButton_ = new QPushButton(QStringLiteral("Reveal"));
    connect(newButton_, &QPushButton::clicked, this, [this] { newItem(); });
    connect(saveButton_, &QPushButton::clicked, this, [this] { saveItem(); });
    connect(deleteButton_, &QPushButton::clicked, this, [this] { deleteItem(); });
    connect(revealButton_, &QPushButton::clicked, this, [this] { reveal(); });

    pathLabel_ = new HeadCutLabel;
    emptyNote_ = new QLabel(QStringLiteral(
        "Nothing here yet. New writes a procedure of your own; Hallix's own skills run in the background."));
    emptyNote_->setWordWrap(true);
    emptyNote_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    build();
    QPointer<SkillsWindow> self(this);
    watch_ = std::make_unique<PanelThemeWatch>(this, [self] {
        if (self)
            self->repaint();
    });
    reload();
}

SkillsWindow::~SkillsWindow() = default;

QString SkillsWindow::folder() const
{
    return joinPath(OC_DIR, kind_ == Kind::Skill ? QStringLiteral("skills") : QStringLiteral("agents"));
}

QString SkillsWindow::fileFor(const QString &name) const
{
    return kind_ == Kind::Skill ? joinPath(joinPath(folder(), name), QStringLiteral("SKILL.md"))
                                : joinPath(folder(), name + QStringLiteral(".md"));
}

QString SkillsWindow::targetFor(const QString &name) const
{
    return kind_ == Kind::Skill ? joinPath(folder(), name) : fileFor(name);
}

bool SkillsWindow::ownedByFirm(const QString &name) const
{
    return SkillInstall::stamped(fileFor(name));
}

bool SkillsWindow::nameTaken(const QString &name) const
{
    const QFileInfo info(targetFor(name));
    return info.exists() || info.isSymLink();
}

void SkillsWindow::setPath(const QString &text)
{
    pathText_ = text;
    static_cast<HeadCutLabel *>(pathLabel_)->setFullText(text);
}

void SkillsWindow::build()
{
    PanelKit::prepare(this);
    const int W = std::max(width() > 0 ? width() : kWidth, kMinWidth);
    const int H = std::max(height() > 0 ? height() : kHeight - 30, kMinHeight);
    QWidget *old = root_;
    QWidget *root = PanelKit::root(QSize(W, H));
    std::vector<Anchor> anchors;

    for (QPushButton *chip : {skillsChip_, agentsChip_})
        chip->setParent(root);
    anchors.push_back({skillsChip_, fromBottom(H, 18, H - 40, 86, 26)});
    anchors.push_back({agentsChip_, fromBottom(H, 110, H - 40, 86, 26)});
    int x = 214;
    for (QPushButton *b : {newButton_, saveButton_, deleteButton_, revealButton_}) {
        b->setParent(root);
        anchors.push_back({b, fromBottom(H, x, H - 42, 88, 30)});
        x += 94;
    }

    pathLabel_->setParent(root);
    pathLabel_->setFont(Theme::mono(11));
    PanelKit::setTextColor(pathLabel_, Theme::muted());
    pathLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    anchors.push_back({pathLabel_, fromBottom(H, 596, H - 34, W - 614, 16), 0, 0, 1, 0});

    emptyNote_->setParent(root);
    emptyNote_->setFont(Theme::font(11.5));
    PanelKit::setTextColor(emptyNote_, Theme::muted());
    anchors.push_back({emptyNote_, fromBottom(H, 16, H - 150, 230, 54)});

    const QRect listFrame = fromBottom(H, 18, 18, 240, H - 74);
    QWidget *list = PanelKit::listCard(table_, listFrame, root);
    anchors.push_back({list, listFrame, 0, 0, 0, 1});

    const QRect editorFrame = fromBottom(H, 272, 18, W - 290, H - 74);
    QWidget *area = PanelKit::textArea(editor_, editorFrame, root, Theme::mono(12.5));
    Theme::card(area, 14);
    editor_->document()->setDocumentMargin(11); // the text sits 12 in from the sides, 10 from the top
    anchors.push_back({area, editorFrame, 0, 0, 1, 1});

    PanelKit::anchorChildren(root, QSize(W, H), anchors);
    // Styled once placed: the rounding follows the size.
    paintChips();
    Theme::secondaryButton(newButton_);
    Theme::primaryButton(saveButton_);
    Theme::secondaryButton(deleteButton_);
    Theme::secondaryButton(revealButton_);
    for (QObject *o : root->children())
        if (auto *w = qobject_cast<QWidget *>(o))
            w->show();
    emptyNote_->raise();
    emptyNote_->setVisible(items_.isEmpty());
    PanelKit::replaceRoot(this, old, root);
    root_ = root;
}

void SkillsWindow::paintChips()
{
    for (QPushButton *chip : {skillsChip_, agentsChip_}) {
        const bool on = (chip == agentsChip_) == (kind_ == Kind::Agent);
        QColor border = on ? Theme::royal() : Theme::line();
        if (on)
            border.setAlphaF(0.35f);
        chip->setFlat(true);
        chip->setStyleSheet(
            QStringLiteral("QPushButton{border:1px solid %1;border-radius:13px;background:%2;color:%3;padding:0}")
                .arg(Theme::qss(border), Theme::qss(on ? Theme::selected() : Theme::surface2()),
                     Theme::qss(on ? Theme::royal() : Theme::ink2())));
        chip->setFont(Theme::font(12.5, on ? QFont::Medium : QFont::Normal));
        chip->setAccessibleDescription(on ? QStringLiteral("selected") : QString());
    }
}

void SkillsWindow::reload()
{
    const QString dir = folder();
    QDir().mkpath(dir);
    QStringList names;
    for (const QString &entry :
         QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (kind_ == Kind::Skill) {
            if (!entry.startsWith(QLatin1Char('.')))
                names << entry;
        } else if (entry.endsWith(QStringLiteral(".md"))) {
            names << entry.chopped(3);
        }
    }
    names.removeIf([this](const QString &name) { return !ownedByFirm(name); });
    // Code point order, no locale rules.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return a.toUcs4() < b.toUcs4(); });
    items_ = names;

    const QSignalBlocker quiet(table_->selectionModel());
    model_->removeRows(0, model_->rowCount());
    for (const QString &name : items_) {
        auto *item = new QStandardItem(name);
        item->setEditable(false);
        model_->appendRow(item);
    }
    table_->viewport()->update();
    setPath(tilde(dir, HOME));
    emptyNote_->setVisible(items_.isEmpty());
}

void SkillsWindow::selectRow(int row)
{
    PanelKit::selectRow(table_, row);
}

void SkillsWindow::selectionChanged()
{
    const int row = PanelKit::selectedRow(table_);
    if (row < 0 || row >= items_.size())
        return;
    const QString name = items_[row];
    if (!ownedByFirm(name))
        return;
    current_ = name;
    editor_->setPlainText(SkillText::readUtf8(fileFor(name)).value_or(QString()));
}

void SkillsWindow::switchKind(int tag)
{
    kind_ = tag == 1 ? Kind::Agent : Kind::Skill;
    paintChips();
    current_.reset();
    editor_->clear();
    reload();
}

void SkillsWindow::newItem()
{
    const bool skill = kind_ == Kind::Skill;
    Dialogs::TextPrompt prompt;
    prompt.title = skill ? QStringLiteral("New skill") : QStringLiteral("New agent");
    prompt.text = skill ? QStringLiteral("A short name in kebab-case, e.g. gst-annual-return. Velto loads it when the "
                                         "work matches the description.")
                        : QStringLiteral("A short name, e.g. reviewer. Agents are alternative personalities you can "
                                         "pick in the chat.");
    prompt.accept = QStringLiteral("Create");
    prompt.cancel = QStringLiteral("Cancel");
    const auto typed = Dialogs::textPrompt(prompt);
    if (!typed)
        return;
    const QString name = Characters::kebabName(*typed);
    if (name.isEmpty())
        return;
    const QString word = skill ? QStringLiteral("skill") : QStringLiteral("agent");
    if (nameTaken(name)) {
        Dialogs::alert(QStringLiteral("That name is already in use"),
                       QStringLiteral("Velto already has a ") + word + QStringLiteral(" called ") + name +
                           QStringLiteral(". Pick another name \u2014 yours will run alongside it."),
                       Dialogs::Style::Warning);
        return;
    }
    QString content;
    if (skill) {
        QDir().mkpath(targetFor(name));
        const QString author =
            readEnvFile(SEAT_ENV).value(QStringLiteral("PAVI_SEAT_EMAIL"), QStringLiteral("the firm"));
        const QString title = Catalog::capitalised(QString(name).replace(u'-', u' '));
        content = skillTemplate(name, author, title);
    } else {
        QDir().mkpath(folder());
        content = agentTemplate();
    }
    SkillText::writeUtf8(fileFor(name), content); // a failure shows as an item that is not listed
    reload();
    const qsizetype row = items_.indexOf(name);
    if (row >= 0)
        table_->selectRow(int(row));
    Dialogs::alert(QStringLiteral("Restart Velto to load it"),
                   QStringLiteral("New ") + word + QStringLiteral("s are picked up when Velto starts. Quit and open it "
                                                                  "again once you have written this one."),
                   Dialogs::Style::Informational);
}

void SkillsWindow::saveItem()
{
    if (!current_ || !ownedByFirm(*current_))
        return;
    const QString file = fileFor(*current_);
    if (!SkillText::writeUtf8(file, editor_->toPlainText())) {
        // The editor keeps the text, so nothing typed is lost.
        Dialogs::alert(QStringLiteral("Could not save"), tilde(file, HOME) + QStringLiteral(" could not be written."),
                       Dialogs::Style::Warning);
        return;
    }
    setPath(QStringLiteral("saved \u00b7 ") + tilde(file, HOME));
}

void SkillsWindow::deleteItem()
{
    if (!current_ || !ownedByFirm(*current_))
        return;
    const QString word = kind_ == Kind::Skill ? QStringLiteral("skill") : QStringLiteral("agent");
    const int answer = Dialogs::ask(Dialogs::Alert{
        QStringLiteral("Delete ") + *current_ + QLatin1Char('?'),
        QStringLiteral("This removes your own ") + word + QStringLiteral(" from this computer."),
        Dialogs::Style::Warning,
        {QStringLiteral("Delete"), QStringLiteral("Cancel")}});
    if (answer != 0)
        return;
    SkillText::removeItem(targetFor(*current_));
    current_.reset();
    editor_->clear();
    reload();
}

void SkillsWindow::reveal()
{
    if (current_ && ownedByFirm(*current_)) {
        Desktop::reveal(targetFor(*current_));
        return;
    }
    Dialogs::alert(QStringLiteral("Nothing selected"),
                   QStringLiteral("Pick one of your own ") +
                       (kind_ == Kind::Skill ? QStringLiteral("skills") : QStringLiteral("agents")) +
                       QStringLiteral(" to show it in the file manager."),
                   Dialogs::Style::Informational);
}

void SkillsWindow::repaint()
{
    const int row = PanelKit::selectedRow(table_);
    const QString path = pathText_;
    build();
    if (row >= 0) {
        // Re-selecting the row must not load the file again over the CA's
        // unsaved text (and its undo history).
        const QSignalBlocker quiet(table_->selectionModel());
        table_->clearSelection();
        table_->selectRow(row);
    }
    table_->viewport()->update();
    setPath(path);
}
