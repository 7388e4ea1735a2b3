#include "browser/PortalLoginsWindow.h"

#include "platform/Dialogs.h"
#include "ui/PanelKit.h"
#include "ui/Theme.h"
#include "ui/ViewLayer.h"

#include <QComboBox>
#include <QDateTime>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QUuid>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 860;
constexpr int kHeight = 560;
const QString kNoPassword = QStringLiteral(" · no password saved");

using PanelKit::Anchor;
using PanelKit::anchorChildren;
using PanelKit::fromBottom;

QColor detailColor(const QString &line)
{
    return line.endsWith(QStringLiteral("no password saved")) ? Theme::amberInk() : Theme::muted();
}

// The two lines of a login's row.
class LoginRowView : public PanelRowView {
public:
    using PanelRowView::PanelRowView;

protected:
    void paintCell(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QRect r = option.rect;
        painter->save();
        QFont first = Theme::font(13, QFont::Medium);
        painter->setFont(first);
        painter->setPen(index.data(Qt::ForegroundRole).value<QColor>());
        // 18, 26, 330, 17 and 18, 8, 330, 15 from the bottom of a 50-point row.
        QRect top(r.x() + 18, r.y() + r.height() - 26 - 17, std::min(330, r.width() - 18), 17);
        painter->drawText(top, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(first).elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                                         top.width()));
        QFont second = Theme::font(11.5);
        painter->setFont(second);
        painter->setPen(index.data(PortalLoginsWindow::DetailColorRole).value<QColor>());
        QRect bottom(r.x() + 18, r.y() + r.height() - 8 - 15, std::min(330, r.width() - 18), 15);
        painter->drawText(bottom, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(second).elidedText(index.data(PortalLoginsWindow::DetailRole).toString(),
                                                          Qt::ElideRight, bottom.width()));
        painter->restore();
    }
};

QString trimmed(const QString &text)
{
    return text.trimmed();
}

} // namespace

PortalLoginsWindow::PortalLoginsWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Portal Logins"));
    resize(kWidth, kHeight);
    setMinimumSize(760, 520);
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    table_ = new QTableView;
    table_->setObjectName(QStringLiteral("row"));
    model_ = new QStandardItemModel(0, 1, table_);
    table_->setModel(model_);
    table_->setItemDelegate(new LoginRowView(table_));
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(50);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { selectionChanged(); });

    client_ = new QLineEdit;
    client_->setPlaceholderText(QStringLiteral("e.g. Quenby Exports Pvt Ltd"));
    portal_ = new QComboBox;
    for (const auto &[name, url] : PortalCatalogue::list())
        portal_->addItem(name);
    connect(portal_, &QComboBox::activated, this, [this] { portalChanged(); });
    username_ = new QLineEdit;
    username_->setPlaceholderText(QStringLiteral("GSTIN user id / PAN / login id"));
    password_ = new QLineEdit;
    password_->setEchoMode(QLineEdit::Password);
    password_->setPlaceholderText(QStringLiteral("kept in the system keyring"));
    urlField_ = new QLineEdit;
    urlField_->setPlaceholderText(QStringLiteral("https://"));
    note_ = new QLineEdit;
    note_->setPlaceholderText(QStringLiteral("e.g. uses the client's mobile for OTP"));
    // Return in the form saves.
    for (QLineEdit *f : {client_, username_, password_, urlField_, note_})
        connect(f, &QLineEdit::returnPressed, this, [this] { saveItem(); });

    status_ = new PanelStatusField;
    status_->setWordWrap(true);

    newButton_ = new QPushButton(QStringLiteral("New"));
    saveButton_ = new QPushButton(QStringLiteral("Save"));
    deleteButton_ = new QPushButton(QStringLiteral("Delete"));
    signInButton_ = new QPushButton(PanelKit::asWritten(QStringLiteral("Open & sign in")));
    connect(newButton_, &QPushButton::clicked, this, [this] { newItem(); });
    connect(saveButton_, &QPushButton::clicked, this, [this] { saveItem(); });
    connect(deleteButton_, &QPushButton::clicked, this, [this] { deleteItem(); });
    connect(signInButton_, &QPushButton::clicked, this, [this] { signIn(); });

    build();
    QPointer<PortalLoginsWindow> self(this);
    watch_ = std::make_unique<PanelThemeWatch>(this, [self] {
        if (self)
            self->repaint();
    });
    reload();
}

PortalLoginsWindow::~PortalLoginsWindow() = default;

QString PortalLoginsWindow::detailLine(const PortalLogin &login)
{
    QString line = login.portal + QStringLiteral(" · ") + login.username;
    if (!PortalVault::hasPassword(login.id))
        line += kNoPassword;
    return line;
}

void PortalLoginsWindow::build()
{
    PanelKit::prepare(this);
    QWidget *old = root_;
    QWidget *root = PanelKit::root(QSize(kWidth, kHeight));
    std::vector<Anchor> anchors;

    QLabel *title = PanelKit::title(QStringLiteral("Client portal logins"));
    title->setParent(root);
    anchors.push_back({title, fromBottom(kHeight, 22, 512, 600, 28)});
    QLabel *subtitle = PanelKit::subtitle(
        QStringLiteral("Passwords are kept in the system keyring of this computer — not in a file, not on Hallix servers, and never "
                       "shown to Velto. Velto types them into its own browser when you ask it to sign in. Captcha "
                       "and OTP always come back to you."),
        true);
    subtitle->setParent(root);
    anchors.push_back({subtitle, fromBottom(kHeight, 22, 466, 816, 40), 0, 0, 1, 0});

    const QRect listFrame = fromBottom(kHeight, 22, 64, 380, 390);
    QWidget *list = PanelKit::listCard(table_, listFrame, root);
    anchors.push_back({list, listFrame, 0, 0, 0, 1});

    const QRect cardFrame = fromBottom(kHeight, 416, 64, 422, 390);
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
    caption(QStringLiteral("Client"), fromBottom(ch, 18, 356, 380, 14), 0, 1);
    field(client_, fromBottom(ch, 18, 320, 386, 30), 0, 1);
    caption(QStringLiteral("Portal"), fromBottom(ch, 18, 292, 380, 14), 0, 1);
    field(portal_, fromBottom(ch, 16, 256, 390, 28), 0, 1, Theme::font(12.5));
    // The user id and password columns share the extra width.
    caption(QStringLiteral("User ID"), fromBottom(ch, 18, 228, 187, 14), 0, 0.5);
    field(username_, fromBottom(ch, 18, 192, 187, 30), 0, 0.5);
    caption(QStringLiteral("Password"), fromBottom(ch, 217, 228, 187, 14), 0.5, 0.5);
    field(password_, fromBottom(ch, 217, 192, 187, 30), 0.5, 0.5);
    caption(QStringLiteral("Login page"), fromBottom(ch, 18, 164, 380, 14), 0, 1);
    field(urlField_, fromBottom(ch, 18, 128, 386, 30), 0, 1);
    caption(QStringLiteral("Note (optional)"), fromBottom(ch, 18, 100, 380, 14), 0, 1);
    field(note_, fromBottom(ch, 18, 64, 386, 30), 0, 1);
    anchorChildren(card, cardFrame.size(), inCard);

    status_->setParent(root);
    status_->setFont(Theme::font(11.5));
    status_->setMaximumHeight(QFontMetrics(status_->font()).lineSpacing() * 2 + 2);
    anchors.push_back({status_, fromBottom(kHeight, 416, 20, 280, 34), 0, 1, 1, 0});

    Theme::secondaryButton(newButton_);
    Theme::primaryButton(saveButton_);
    Theme::secondaryButton(deleteButton_);
    Theme::primaryButton(signInButton_);
    for (QPushButton *b : {newButton_, saveButton_, deleteButton_, signInButton_})
        b->setParent(root);
    anchors.push_back({newButton_, fromBottom(kHeight, 22, 20, 118, 32), 0, 1});
    anchors.push_back({saveButton_, fromBottom(kHeight, 148, 20, 118, 32), 0, 1});
    anchors.push_back({deleteButton_, fromBottom(kHeight, 274, 20, 128, 32), 0, 1});
    anchors.push_back({signInButton_, fromBottom(kHeight, 708, 20, 130, 32), 1, 1});

    anchorChildren(root, QSize(kWidth, kHeight), anchors);
    for (QObject *o : root->children())
        if (auto *w = qobject_cast<QWidget *>(o))
            w->show();

    PanelKit::replaceRoot(this, old, root);
    root_ = root;
}

void PortalLoginsWindow::reload()
{
    items_ = PortalVault::all();
    quietSelection_ = true;
    model_->removeRows(0, model_->rowCount());
    for (const PortalLogin &l : items_) {
        auto *item = new QStandardItem(l.client);
        item->setEditable(false);
        const QString detail = detailLine(l);
        item->setData(detail, DetailRole);
        model_->appendRow(item);
    }
    recolourRows();
    // The login in the form stays selected in the list.
    if (editing_) {
        for (size_t i = 0; i < items_.size(); ++i)
            if (items_[i].id == *editing_)
                table_->selectRow(int(i));
    }
    quietSelection_ = false;
}

void PortalLoginsWindow::recolourRows()
{
    for (int r = 0; r < model_->rowCount(); ++r) {
        QStandardItem *item = model_->item(r);
        item->setData(Theme::ink(), Qt::ForegroundRole);
        item->setData(detailColor(item->data(DetailRole).toString()), DetailColorRole);
    }
    table_->viewport()->update();
}

void PortalLoginsWindow::selectRow(int row)
{
    PanelKit::selectRow(table_, row);
}

void PortalLoginsWindow::selectionChanged()
{
    if (quietSelection_)
        return;
    const int row = PanelKit::selectedRow(table_);
    if (row < 0 || row >= int(items_.size()))
        return;
    const PortalLogin &l = items_[size_t(row)];
    editing_ = l.id;
    client_->setText(l.client);
    username_->setText(l.username);
    urlField_->setText(l.url);
    note_->setText(l.note);
    const int p = portal_->findText(l.portal, Qt::MatchExactly);
    if (p >= 0)
        portal_->setCurrentIndex(p);
    password_->clear();
    status_->setStringValue(PortalVault::hasPassword(l.id)
                                ? QStringLiteral("Password is in the system keyring. Leave the box empty to keep it.")
                                : QStringLiteral("No password saved yet for this login."));
}

void PortalLoginsWindow::portalChanged()
{
    if (urlField_->text().isEmpty())
        urlField_->setText(PortalCatalogue::url(portal_->currentText()));
}

void PortalLoginsWindow::newItem()
{
    editing_.reset();
    quietSelection_ = true;
    table_->clearSelection();
    quietSelection_ = false;
    client_->clear();
    username_->clear();
    password_->clear();
    note_->clear();
    urlField_->setText(PortalCatalogue::url(portal_->currentText()));
    status_->setStringValue(QString());
    client_->setFocus();
}

void PortalLoginsWindow::saveItem()
{
    const QString client = trimmed(client_->text());
    const QString username = trimmed(username_->text());
    if (client.isEmpty() || username.isEmpty()) {
        status_->setStringValue(QStringLiteral("Client and user id are needed."));
        return;
    }
    PortalLogin login;
    login.id = editing_ ? *editing_ : QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    login.client = client;
    login.portal = portal_->currentIndex() >= 0 ? portal_->currentText() : QStringLiteral("Other");
    login.username = username;
    login.url = trimmed(urlField_->text());
    login.note = note_->text();
    login.updated = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    std::optional<QString> password;
    if (!password_->text().isEmpty())
        password = password_->text();

    const PortalVault::Saved saved = PortalVault::upsert(login, password);
    if (!saved.saved) {
        // Nothing was written: the form keeps what the CA typed, password too,
        // so that the save can be tried again.
        status_->setStringValue(saved.problem);
        return;
    }
    editing_ = login.id;
    password_->clear();
    if (saved.passwordStored)
        status_->setStringValue(QStringLiteral("Saved. Velto can sign in to ") + login.portal + QStringLiteral(" for ") +
                                login.client + QStringLiteral("."));
    else
        status_->setStringValue(saved.problem);
    reload();
}

const PortalLogin *PortalLoginsWindow::loaded() const
{
    if (!editing_)
        return nullptr;
    for (const PortalLogin &l : items_)
        if (l.id == *editing_)
            return &l;
    return nullptr;
}

void PortalLoginsWindow::deleteItem()
{
    const PortalLogin *found = loaded();
    if (!found)
        return;
    const PortalLogin login = *found;
    Dialogs::Alert question;
    question.title = QStringLiteral("Delete the ") + login.portal + QStringLiteral(" login for ") + login.client +
                     QStringLiteral("?");
    question.text = QStringLiteral("The password is removed from the system keyring of this computer too.");
    question.style = Dialogs::Style::Warning;
    question.buttons = {QStringLiteral("Delete"), QStringLiteral("Cancel")};
    if (Dialogs::ask(question) != 0)
        return;
    const PortalVault::Saved removed = PortalVault::remove(login.id);
    if (!removed.saved) {
        // The login is still there: keep it in the form and say why.
        status_->setStringValue(removed.problem);
        reload();
        return;
    }
    newItem();
    if (!removed.passwordStored)
        status_->setStringValue(removed.problem);
    reload();
}

void PortalLoginsWindow::signIn()
{
    const PortalLogin *login = loaded();
    if (!login) {
        status_->setStringValue(QStringLiteral("Pick a saved login first."));
        return;
    }
    if (onSignIn)
        onSignIn(*login);
}

void PortalLoginsWindow::repaint()
{
    const QString text = status_->stringValue();
    build();
    recolourRows();
    status_->setStringValue(text);
}
