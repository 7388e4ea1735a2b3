#include "panels/IntegrationsWindow.h"

#include "core/Characters.h"
#include "ui/PanelKit.h"
#include "ui/Theme.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QUuid>
#include <QVBoxLayout>

using PanelKit::Anchor;
using PanelKit::fromBottom;

namespace {

constexpr int kWidth = 900;
constexpr int kHeight = 720;

const QString kUnreadable = QStringLiteral(
    "integrations.json could not be read, so nothing was saved. Move or mend the file, then try again.");

// Two lines per record: the title, then kind and command.
class IntegrationRowView : public PanelRowView {
public:
    using PanelRowView::PanelRowView;

protected:
    void paintCell(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QRect r = option.rect;
        painter->save();
        const QFont first = Theme::font(13, QFont::Medium);
        painter->setFont(first);
        painter->setPen(index.data(Qt::ForegroundRole).value<QColor>());
        const QRect top(r.x() + 18, r.bottom() + 1 - 25 - 17, std::min(250, r.width() - 18), 17);
        painter->drawText(top, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(first).elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                                         top.width()));
        const QFont second = Theme::mono(11);
        painter->setFont(second);
        painter->setPen(Theme::muted());
        const QRect bottom(r.x() + 18, r.bottom() + 1 - 8 - 14, std::min(250, r.width() - 18), 14);
        painter->drawText(bottom, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(second).elidedText(index.data(IntegrationsWindow::DetailRole).toString(),
                                                          Qt::ElideRight, bottom.width()));
        painter->restore();
    }
};

} // namespace

IntegrationsWindow::IntegrationsWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Integrations"));
    setWindowFlag(Qt::WindowMinimizeButtonHint, false);
    resize(kWidth, kHeight);
    setMinimumSize(820, 680);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    table_ = new QTableView;
    table_->setObjectName(QStringLiteral("row"));
    model_ = new QStandardItemModel(0, 1, table_);
    table_->setModel(model_);
    table_->setItemDelegate(new IntegrationRowView(table_));
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(48);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { selectionChanged(); });

    preset_ = new QComboBox;
    for (const IntegrationPreset &p : IntegrationStore::presets())
        preset_->addItem(p.title);
    connect(preset_, &QComboBox::activated, this, [this] { presetChanged(); });

    mcpButton_ = new QPushButton(QStringLiteral("MCP server"));
    cliButton_ = new QPushButton(QStringLiteral("CLI tool"));
    connect(mcpButton_, &QPushButton::clicked, this, [this] { setKind(0); });
    connect(cliButton_, &QPushButton::clicked, this, [this] { setKind(1); });

    title_ = new QLineEdit;
    title_->setPlaceholderText(QStringLiteral("Tally at the office"));
    name_ = new QLineEdit;
    name_->setPlaceholderText(QStringLiteral("tally"));
    command_ = new QLineEdit;
    command_->setPlaceholderText(QStringLiteral("npx  \u00b7  /usr/local/bin/erp-export  \u00b7  python3"));
    args_ = new QLineEdit;
    args_->setPlaceholderText(QStringLiteral("-y tally-mcp-server"));
    env_ = new QPlainTextEdit;
    notes_ = new QPlainTextEdit;
    enabled_ = new QCheckBox(QStringLiteral("enabled"));
    enabled_->setChecked(true);

    status_ = new PanelStatusField;
    status_->setWordWrap(true);

    newButton_ = new QPushButton(QStringLiteral("New"));
    saveButton_ = new QPushButton(QStringLiteral("Save"));
    deleteButton_ = new QPushButton(QStringLiteral("Delete"));
    connect(newButton_, &QPushButton::clicked, this, [this] { newItem(); });
    connect(saveButton_, &QPushButton::clicked, this, [this] { saveItem(); });
    connect(deleteButton_, &QPushButton::clicked, this, [this] { deleteItem(); });

    build();
    presetChanged();
    QPointer<IntegrationsWindow> self(this);
    watch_ = std::make_unique<PanelThemeWatch>(this, [self] {
        if (self)
            self->repaint();
    });
    reload();
    if (!IntegrationStore::readable())
        status_->setStringValue(QStringLiteral("integrations.json could not be read. Velto keeps it as it is: mend or "
                                               "move it to add integrations here."));
}

IntegrationsWindow::~IntegrationsWindow() = default;

QString IntegrationsWindow::detailLine(const Integration &i)
{
    QString line = (i.kind == QStringLiteral("mcp") ? QStringLiteral("MCP \u00b7 ") : QStringLiteral("CLI \u00b7 ")) +
                   i.command;
    if (!i.args.isEmpty())
        line += u' ' + i.args;
    return line;
}

QString IntegrationsWindow::cleanName(const QString &typed)
{
    return Characters::kebabName(typed);
}

void IntegrationsWindow::build()
{
    PanelKit::prepare(this);
    QWidget *old = root_;
    QWidget *root = PanelKit::root(QSize(kWidth, kHeight));
    std::vector<Anchor> anchors;

    QLabel *title = PanelKit::title(QStringLiteral("Connect the firm's own tools"));
    title->setParent(root);
    anchors.push_back({title, fromBottom(kHeight, 22, 672, 600, 28)});
    QLabel *subtitle = PanelKit::subtitle(
        QStringLiteral("An MCP server becomes tools Velto can call (Tally, Zoho, your own scripts). A CLI tool is a "
                       "command Velto may run inside the workspace (an ERP export, a converter). Everything stays on "
                       "this computer. Restart Velto after saving."),
        true);
    subtitle->setParent(root);
    anchors.push_back({subtitle, fromBottom(kHeight, 22, 626, 856, 40), 0, 0, 1, 0});

    const QRect listFrame = fromBottom(kHeight, 22, 64, 300, 550);
    QWidget *list = PanelKit::listCard(table_, listFrame, root);
    anchors.push_back({list, listFrame, 0, 0, 0, 1});

    const QRect cardFrame = fromBottom(kHeight, 336, 64, 542, 550);
    auto *card = new QWidget(root);
    card->setGeometry(cardFrame);
    Theme::card(card, 14);
    anchors.push_back({card, cardFrame, 0, 0, 1, 1});

    const int ch = cardFrame.height();
    std::vector<Anchor> inCard;
    auto caption = [&](const QString &text, QRect frame, double x, double w) {
        QLabel *l = PanelKit::caption(text);
        l->setParent(card);
        inCard.push_back({l, frame, x, 0, w, 0});
    };
    auto field = [&](QWidget *f, QRect frame, double x, double w, std::optional<QFont> font = std::nullopt) {
        inCard.push_back({PanelKit::input(f, frame, card, font), frame, x, 0, w, 0});
    };
    caption(QStringLiteral("Start from"), fromBottom(ch, 18, 510, 480, 14), 0, 0);
    field(preset_, fromBottom(ch, 16, 474, 510, 28), 0, 1, Theme::font(12.5));
    caption(QStringLiteral("Kind"), fromBottom(ch, 18, 446, 480, 14), 0, 0);
    for (QPushButton *b : {mcpButton_, cliButton_})
        b->setParent(card);
    inCard.push_back({mcpButton_, fromBottom(ch, 18, 411, 118, 26)});
    inCard.push_back({cliButton_, fromBottom(ch, 140, 411, 118, 26)});
    paintKind();
    caption(QStringLiteral("Title"), fromBottom(ch, 18, 382, 247, 14), 0, 0.5);
    caption(QStringLiteral("Id (kebab-case)"), fromBottom(ch, 277, 382, 247, 14), 0.5, 0.5);
    field(title_, fromBottom(ch, 18, 346, 247, 30), 0, 0.5);
    field(name_, fromBottom(ch, 277, 346, 247, 30), 0.5, 0.5);
    caption(QStringLiteral("Command / executable"), fromBottom(ch, 18, 318, 247, 14), 0, 0.5);
    caption(QStringLiteral("Arguments (MCP)"), fromBottom(ch, 277, 318, 247, 14), 0.5, 0.5);
    field(command_, fromBottom(ch, 18, 282, 247, 30), 0, 0.5);
    field(args_, fromBottom(ch, 277, 282, 247, 30), 0.5, 0.5);
    caption(QStringLiteral("Environment (MCP, KEY=value per line)"), fromBottom(ch, 18, 254, 480, 14), 0, 0);
    const QRect envFrame = fromBottom(ch, 18, 192, 506, 56);
    inCard.push_back({PanelKit::textArea(env_, envFrame, card, Theme::mono(12)), envFrame, 0, 0, 1, 0});
    caption(QStringLiteral("What it does (Velto reads this)"), fromBottom(ch, 18, 178, 480, 14), 0, 0);
    const QRect notesFrame = fromBottom(ch, 18, 92, 506, 80);
    inCard.push_back({PanelKit::textArea(notes_, notesFrame, card, Theme::font(12.5)), notesFrame, 0, 0, 1, 0});
    enabled_->setParent(card);
    enabled_->setFont(Theme::font(12.5));
    PanelKit::setTextColor(enabled_, Theme::ink());
    PanelKit::checkBox(enabled_);
    inCard.push_back({enabled_, fromBottom(ch, 16, 60, 160, 20)});
    PanelKit::anchorChildren(card, cardFrame.size(), inCard);

    status_->setParent(root);
    status_->setFont(Theme::font(11.5));
    status_->setMaximumHeight(QFontMetrics(status_->font()).lineSpacing() * 2 + 2);
    anchors.push_back({status_, fromBottom(kHeight, 336, 20, 542, 32), 0, 1, 1, 0});

    Theme::secondaryButton(newButton_);
    Theme::primaryButton(saveButton_);
    Theme::secondaryButton(deleteButton_);
    for (QPushButton *b : {newButton_, saveButton_, deleteButton_})
        b->setParent(root);
    anchors.push_back({newButton_, fromBottom(kHeight, 22, 20, 92, 32), 0, 1});
    anchors.push_back({saveButton_, fromBottom(kHeight, 124, 20, 92, 32), 0, 1});
    anchors.push_back({deleteButton_, fromBottom(kHeight, 226, 20, 92, 32), 0, 1});

    PanelKit::anchorChildren(root, QSize(kWidth, kHeight), anchors);
    for (QObject *o : root->children())
        if (auto *w = qobject_cast<QWidget *>(o))
            w->show();
    for (QObject *o : card->children())
        if (auto *w = qobject_cast<QWidget *>(o))
            w->show();

    PanelKit::replaceRoot(this, old, root);
    root_ = root;
}

void IntegrationsWindow::paintKind()
{
    Theme::chip(mcpButton_, kind_ == 0);
    Theme::chip(cliButton_, kind_ == 1);
}

void IntegrationsWindow::setKind(int segment)
{
    kind_ = segment == 0 ? 0 : 1;
    paintKind();
}

void IntegrationsWindow::reload()
{
    items_ = IntegrationStore::all();
    quietSelection_ = true;
    model_->removeRows(0, model_->rowCount());
    for (const Integration &i : items_) {
        auto *item = new QStandardItem(i.title);
        item->setEditable(false);
        item->setData(detailLine(i), DetailRole);
        item->setData(i.enabled ? Theme::ink() : Theme::muted(), Qt::ForegroundRole);
        model_->appendRow(item);
    }
    if (editing_)
        for (qsizetype k = 0; k < items_.size(); ++k)
            if (items_[k].id == *editing_)
                table_->selectRow(int(k));
    quietSelection_ = false;
    table_->viewport()->update();
}

void IntegrationsWindow::selectRow(int row)
{
    PanelKit::selectRow(table_, row);
}

void IntegrationsWindow::selectionChanged()
{
    if (quietSelection_)
        return;
    const int row = PanelKit::selectedRow(table_);
    if (row < 0 || row >= items_.size())
        return;
    const Integration &i = items_[row];
    editing_ = i.id;
    setKind(i.kind == QStringLiteral("mcp") ? 0 : 1);
    title_->setText(i.title);
    name_->setText(i.name);
    command_->setText(i.command);
    args_->setText(i.args);
    env_->setPlainText(i.env);
    notes_->setPlainText(i.notes);
    enabled_->setChecked(i.enabled);
    status_->setStringValue(QString());
}

void IntegrationsWindow::presetChanged()
{
    if (editing_)
        return;
    const QList<IntegrationPreset> &presets = IntegrationStore::presets();
    const int index = preset_->currentIndex() >= 0 && preset_->currentIndex() < presets.size()
                          ? preset_->currentIndex()
                          : 0;
    const IntegrationPreset &p = presets[index];
    setKind(p.kind == QStringLiteral("mcp") ? 0 : 1);
    if (p.title.startsWith(QStringLiteral("Custom"))) {
        title_->clear();
        name_->clear();
    } else {
        title_->setText(p.title);
        name_->setText(p.title.toLower().split(u' ').value(0));
    }
    command_->setText(p.command);
    args_->setText(p.args);
    notes_->setPlainText(p.notes);
}

void IntegrationsWindow::newItem()
{
    editing_.reset();
    quietSelection_ = true;
    table_->clearSelection();
    quietSelection_ = false;
    env_->clear();
    presetChanged();
    status_->setStringValue(QString());
}

void IntegrationsWindow::saveItem()
{
    const QString name = cleanName(name_->text());
    const QString command = Characters::trimSpacesTabs(command_->text());
    if (name.isEmpty() || command.isEmpty()) {
        status_->setStringValue(QStringLiteral("Give it an id and a command."));
        return;
    }
    if (IntegrationStore::nameTaken(name)) {
        status_->setStringValue(QStringLiteral("The id ") + name +
                                QStringLiteral(" belongs to Velto's own setup. Could not save: choose another id."));
        return;
    }
    if (!IntegrationStore::readable()) {
        status_->setStringValue(kUnreadable);
        return;
    }
    Integration record;
    record.id = editing_ ? *editing_ : QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    record.kind = kind_ == 0 ? QStringLiteral("mcp") : QStringLiteral("cli");
    record.name = name;
    record.title = title_->text().isEmpty() ? name : title_->text();
    record.command = command;
    record.args = Characters::trimSpacesTabs(args_->text());
    record.env = env_->toPlainText();
    record.notes = notes_->toPlainText().trimmed();
    record.enabled = enabled_->isChecked();

    QList<Integration> list = IntegrationStore::all();
    list.removeIf([&](const Integration &i) { return i.id == record.id; });
    list << record;
    if (!IntegrationStore::save(list)) {
        status_->setStringValue(kUnreadable);
        return;
    }
    editing_ = record.id;
    reload();
    status_->setStringValue(QStringLiteral("Saved into Velto's config. Quit and reopen Velto to load it."));
}

void IntegrationsWindow::deleteItem()
{
    if (!editing_)
        return;
    if (!IntegrationStore::readable()) {
        status_->setStringValue(kUnreadable);
        return;
    }
    QList<Integration> list = IntegrationStore::all();
    const QString id = *editing_;
    list.removeIf([&](const Integration &i) { return i.id == id; });
    if (!IntegrationStore::save(list)) {
        status_->setStringValue(kUnreadable);
        return;
    }
    newItem();
    reload();
    status_->setStringValue(QStringLiteral("Removed. Quit and reopen Velto."));
}

void IntegrationsWindow::repaint()
{
    const int row = PanelKit::selectedRow(table_);
    const QString statusText = status_->stringValue();
    build();
    quietSelection_ = true;
    const std::optional<QString> editing = editing_;
    reload();
    if (row >= 0)
        table_->selectRow(row);
    editing_ = editing;
    quietSelection_ = false;
    status_->setStringValue(statusText);
}
