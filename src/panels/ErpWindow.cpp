#include "panels/ErpWindow.h"

#include "core/JsonFields.h"
#include "erp/ErpText.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/Dispatch.h"
#include "ui/PanelKit.h"
#include "ui/Theme.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>
#include <QUrlQuery>
#include <QVBoxLayout>

using PanelKit::Anchor;
using PanelKit::anchorChildren;
using PanelKit::fromBottom;

namespace {

constexpr int kWidth = 880;
constexpr int kHeight = 640;
constexpr int kRowHeight = 52;
// WhatsApp's public click-to-chat page for sharing a text.
const QString kShareHost = QStringLiteral("wa.me");

enum Role { DetailRole = Qt::UserRole + 1 };

// The second line of a connection's row.
QString detailLine(const ErpConnection &c)
{
    return c.gstin + QStringLiteral(" · ") + c.allowed() + QStringLiteral(" · approved by ") + c.approvedBy;
}

// Two lines per connection: the company, then GSTIN, what it may do and who approved it.
class ErpRowView : public PanelRowView {
public:
    using PanelRowView::PanelRowView;

protected:
    void paintCell(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QRect r = option.rect;
        painter->save();
        const QFont first = Theme::font(13, QFont::Medium);
        painter->setFont(first);
        painter->setPen(Theme::ink());
        // 18, 28, 310, 17 and 18, 9, 310, 15 from the bottom of the row.
        const QRect top(r.x() + 18, r.bottom() + 1 - 28 - 17, std::min(310, r.width() - 18), 17);
        painter->drawText(top, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(first).elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                                         top.width()));
        const QFont second = Theme::font(11.5);
        painter->setFont(second);
        painter->setPen(Theme::muted());
        const QRect bottom(r.x() + 18, r.bottom() + 1 - 9 - 15, std::min(310, r.width() - 18), 15);
        painter->drawText(bottom, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(second).elidedText(index.data(DetailRole).toString(), Qt::ElideRight,
                                                          bottom.width()));
        painter->restore();
    }
};

double nowSeconds()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

} // namespace

ErpWindow::ErpWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Ledgora ERP"));
    setWindowFlag(Qt::WindowMinimizeButtonHint, false);
    resize(kWidth, kHeight);
    setMinimumSize(800, 600);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    table_ = new QTableView;
    table_->setObjectName(QStringLiteral("row"));
    model_ = new QStandardItemModel(0, 1, table_);
    table_->setModel(model_);
    table_->setItemDelegate(new ErpRowView(table_));
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(kRowHeight);

    client_ = new QComboBox;
    client_->addItem(QStringLiteral("Loading clients…"));
    base_ = new QLineEdit(ErpConnect::defaultBase);
    invoices_ = new QCheckBox(QStringLiteral("Also ask to raise sales invoices (the client decides)"));
    codeLabel_ = new QLabel;
    codeLabel_->setTextFormat(Qt::PlainText);
    codeLabel_->setTextInteractionFlags(Qt::NoTextInteraction);
    link_ = new QLineEdit;
    link_->setReadOnly(true);
    status_ = new PanelStatusField;
    status_->setWordWrap(true);
    codeField_ = new QLineEdit;
    codeField_->setPlaceholderText(QStringLiteral("ABCD-EFGH"));

    sendButton_ = new QPushButton(QStringLiteral("Send approval link"));
    copyButton_ = new QPushButton(QStringLiteral("Copy link"));
    shareButton_ = new QPushButton(QStringLiteral("Share on WhatsApp"));
    codeButton_ = new QPushButton(QStringLiteral("Connect with code"));
    removeButton_ = new QPushButton(QStringLiteral("Remove"));
    connect(sendButton_, &QPushButton::clicked, this, [this] { send(); });
    connect(copyButton_, &QPushButton::clicked, this, [this] { copyLink(); });
    connect(shareButton_, &QPushButton::clicked, this, [this] { shareWhatsApp(); });
    connect(codeButton_, &QPushButton::clicked, this, [this] { redeemCode(); });
    connect(removeButton_, &QPushButton::clicked, this, [this] { removeItem(); });
    // Return sends the approval link, as the window's default button.
    for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        auto *shortcut = new QShortcut(QKeySequence(key), this);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (sendButton_->isEnabled() && sendButton_->isVisible())
                sendButton_->click();
        });
    }

    timer_ = new QTimer(this);
    timer_->setInterval(std::max(1, Dispatch::scaledMs(kPollSeconds)));
    connect(timer_, &QTimer::timeout, this, [this] { tick(); });

    build();
    showLinkArea(false);
    QPointer<ErpWindow> self(this);
    watch_ = std::make_unique<PanelThemeWatch>(this, [self] {
        if (self)
            self->repaint();
    });
    reloadItems();
    loadClients();
}

ErpWindow::~ErpWindow() = default;

std::optional<QUrl> ErpWindow::whatsAppUrl(const QString &message)
{
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(kShareHost);
    url.setPath(QStringLiteral("/"));
    // Everything but the unreserved characters is encoded, so a "+", "&" or
    // "#" in the link reaches the chat as itself.
    url.setQuery(QStringLiteral("text=") + QString::fromLatin1(QUrl::toPercentEncoding(message)), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

bool ErpWindow::polling() const
{
    return timer_->isActive();
}

void ErpWindow::build()
{
    PanelKit::prepare(this);
    QWidget *old = root_;
    QWidget *root = PanelKit::root(QSize(kWidth, kHeight));
    std::vector<Anchor> anchors;

    QLabel *title = PanelKit::title(QStringLiteral("Connect a client's Ledgora ERP"));
    title->setParent(root);
    anchors.push_back({title, fromBottom(kHeight, 22, 592, 700, 28)});
    QLabel *subtitle = PanelKit::subtitle(
        QStringLiteral("The client decides. Velto sends them an approval link; they sign in to their own ERP and "
                       "approve read, or read and raise invoices. It only works for a client linked to you on Hallix, "
                       "and only if their ERP's GSTIN matches. You never see their password, and the model never "
                       "sees the connection."),
        true);
    subtitle->setParent(root);
    anchors.push_back({subtitle, fromBottom(kHeight, 22, 540, 836, 46), 0, 0, 1, 0});

    const QRect listFrame = fromBottom(kHeight, 22, 64, 360, 464);
    anchors.push_back({PanelKit::listCard(table_, listFrame, root), listFrame, 0, 0, 0, 1});

    const QRect cardFrame = fromBottom(kHeight, 396, 64, 462, 464);
    auto *card = new QWidget(root);
    card->setGeometry(cardFrame);
    Theme::card(card, 14);
    anchors.push_back({card, cardFrame, 0, 0, 1, 1});

    // Inside the card every row keeps its distance from the card's top; the
    // wide ones take the extra width.
    const int ch = cardFrame.height();
    std::vector<Anchor> inCard;
    auto place = [&](QWidget *w, QRect frame, double wide = 0) {
        w->setParent(card);
        inCard.push_back({w, frame, 0, 0, wide, 0});
    };
    auto field = [&](QWidget *f, QRect frame, double wide, std::optional<QFont> font = std::nullopt) {
        QWidget *box = PanelKit::input(f, frame, card, font);
        inCard.push_back({box, frame, 0, 0, wide, 0});
        return box;
    };

    place(PanelKit::caption(QStringLiteral("Client (linked to you on Hallix)")), fromBottom(ch, 18, 432, 426, 14));
    field(client_, fromBottom(ch, 16, 396, 430, 28), 1, Theme::font(12.5));
    place(PanelKit::caption(QStringLiteral("Their ERP address")), fromBottom(ch, 18, 368, 426, 14));
    field(base_, fromBottom(ch, 18, 332, 426, 30), 1);
    invoices_->setFont(Theme::font(12.5));
    PanelKit::setTextColor(invoices_, Theme::ink());
    PanelKit::checkBox(invoices_);
    place(invoices_, fromBottom(ch, 16, 296, 426, 20));
    Theme::primaryButton(sendButton_);
    place(sendButton_, fromBottom(ch, 18, 250, 176, 32));
    codeLabel_->setFont(Theme::mono(22, QFont::Bold));
    PanelKit::setTextColor(codeLabel_, Theme::royal());
    place(codeLabel_, fromBottom(ch, 18, 208, 426, 28));
    linkBox_ = field(link_, fromBottom(ch, 18, 174, 426, 28), 1, Theme::mono(11.5));
    PanelKit::setTextColor(link_, Theme::ink2());
    Theme::secondaryButton(copyButton_);
    place(copyButton_, fromBottom(ch, 18, 134, 110, 30));
    Theme::secondaryButton(shareButton_);
    place(shareButton_, fromBottom(ch, 136, 134, 160, 30));
    place(PanelKit::hairline(fromBottom(ch, 18, 108, 426, 1)), fromBottom(ch, 18, 108, 426, 1), 1);
    place(PanelKit::section(QStringLiteral("Or — the client sent you a code from their ERP")),
          fromBottom(ch, 18, 86, 426, 14));
    field(codeField_, fromBottom(ch, 18, 44, 180, 32), 0, Theme::mono(15, QFont::Bold));
    Theme::secondaryButton(codeButton_);
    place(codeButton_, fromBottom(ch, 208, 44, 160, 32));
    anchorChildren(card, cardFrame.size(), inCard);

    // The status follows the bottom edge and the width; Remove stays at the bottom left.
    status_->setParent(root);
    status_->setFont(Theme::font(11.5));
    anchors.push_back({status_, fromBottom(kHeight, 396, 12, 462, 44), 0, 1, 1, 0});
    Theme::secondaryButton(removeButton_);
    removeButton_->setParent(root);
    anchors.push_back({removeButton_, fromBottom(kHeight, 22, 20, 110, 32), 0, 1});

    anchorChildren(root, QSize(kWidth, kHeight), anchors);
    for (QWidget *parent : {root, card})
        for (QObject *o : parent->children())
            if (auto *w = qobject_cast<QWidget *>(o))
                w->show();

    PanelKit::replaceRoot(this, old, root);
    root_ = root;
}

void ErpWindow::showLinkArea(bool shown)
{
    for (QWidget *w : {static_cast<QWidget *>(link_), linkBox_.data(), static_cast<QWidget *>(copyButton_),
                       static_cast<QWidget *>(shareButton_)})
        if (w)
            w->setVisible(shown);
}

void ErpWindow::repaint()
{
    const int row = PanelKit::selectedRow(table_);
    const bool sendEnabled = sendButton_->isEnabled();
    const bool codeEnabled = codeButton_->isEnabled();
    const QString text = status_->stringValue();
    build();
    showLinkArea(started_.has_value());
    reloadItems();
    if (row >= 0)
        PanelKit::selectRow(table_, row);
    sendButton_->setEnabled(sendEnabled);
    codeButton_->setEnabled(codeEnabled);
    status_->setStringValue(text);
}

void ErpWindow::reloadItems()
{
    items_ = ErpVault::all();
    model_->removeRows(0, model_->rowCount());
    for (const ErpConnection &c : items_) {
        auto *item = new QStandardItem(c.company);
        item->setEditable(false);
        item->setData(detailLine(c), DetailRole);
        model_->appendRow(item);
    }
    table_->viewport()->update();
}

void ErpWindow::selectRow(int row)
{
    PanelKit::selectRow(table_, row);
}

void ErpWindow::loadClients()
{
    QPointer<ErpWindow> self(this);
    ErpConnect::clients([self](const QList<QJsonObject> &list, const std::optional<QString> &error) {
        if (!self)
            return;
        self->clients_ = list;
        self->client_->clear();
        for (const QJsonObject &c : list) {
            const QJsonValue name = c.value(QLatin1String("company_name"));
            QString item = name.isUndefined() ? QStringLiteral("?") : ErpText::plain(name);
            const QString gstin = JsonFields::text(c, "gstin").value_or(QString());
            item += gstin.isEmpty() ? QStringLiteral("  (no GSTIN on Hallix)") : QStringLiteral("  ·  ") + gstin;
            self->client_->addItem(item);
        }
        self->sendButton_->setEnabled(true);
        if (list.isEmpty()) {
            self->client_->addItem(error ? QStringLiteral("Could not load clients")
                                         : QStringLiteral("No clients linked to you on Hallix"));
            self->sendButton_->setEnabled(false);
            self->status_->setStringValue(error.value_or(QStringLiteral(
                "A client links you from their Hallix dashboard (Find CA). Once they have, they appear here.")));
        }
    });
}

void ErpWindow::send()
{
    const int index = client_->currentIndex();
    const std::optional<qint64> companyId =
        index >= 0 && index < clients_.size() ? JsonFields::integer(clients_[index], "id") : std::nullopt;
    if (!companyId) {
        status_->setStringValue(QStringLiteral("Pick a client."));
        return;
    }
    timer_->stop();
    sendButton_->setEnabled(false);
    status_->setStringValue(QStringLiteral("Asking Hallix and the ERP…"));
    const quint64 pairing = ++pairing_;
    QPointer<ErpWindow> self(this);
    ErpConnect::start(*companyId, base_->text(), invoices_->isChecked(),
                      [self, pairing](const std::optional<ErpConnect::Started> &s, const std::optional<QString> &error) {
                          if (!self || pairing != self->pairing_)
                              return;
                          if (!s) {
                              self->sendButton_->setEnabled(true);
                              self->status_->setStringValue(error.value_or(QStringLiteral("Could not start.")));
                              return;
                          }
                          self->started_ = s;
                          self->pollingFor_.reset();
                          self->codeLabel_->setText(s->code);
                          self->link_->setText(s->url);
                          self->link_->setCursorPosition(0);
                          self->showLinkArea(true);
                          self->status_->setStringValue(QStringLiteral("Send this link to ") + s->company +
                                                        QStringLiteral(". Waiting for them to approve in their ERP…"));
                          self->timer_->start();
                      });
}

void ErpWindow::tick()
{
    if (!started_) {
        timer_->stop();
        return;
    }
    // One poll at a time: a slow ERP is asked again only once it has answered.
    if (pollingFor_ == pairing_)
        return;
    const qint64 secondsLeft = qint64(started_->expires - nowSeconds());
    const quint64 pairing = pairing_;
    pollingFor_ = pairing;
    QPointer<ErpWindow> self(this);
    ErpConnect::poll(*started_, [self, secondsLeft, pairing](const ErpConnect::PollResult &result) {
        if (self)
            self->pollAnswered(result, secondsLeft, pairing);
    });
}

void ErpWindow::pollAnswered(const ErpConnect::PollResult &result, qint64 secondsLeft, quint64 pairing)
{
    using Kind = ErpConnect::PollResult::Kind;
    if (pollingFor_ == pairing)
        pollingFor_.reset();
    if (pairing != pairing_ || !started_) {
        // The pairing ended (or another began) while this poll was out; an
        // approval it brought is saved all the same, so the list shows it.
        if (result.kind == Kind::Connected)
            reloadItems();
        return;
    }
    switch (result.kind) {
    case Kind::Waiting: {
        const qint64 minutes = std::max<qint64>(0, secondsLeft / 60);
        status_->setStringValue(QStringLiteral("Waiting for ") + started_->company +
                                QStringLiteral(" to approve in their ERP… (link expires in ") +
                                QString::number(minutes) + QStringLiteral(" min)"));
        if (secondsLeft <= -31)
            finish(QStringLiteral("The link expired before the client approved. Send a new one."));
        return;
    }
    case Kind::Failed:
        finish(result.text);
        return;
    case Kind::Connected: {
        const ErpConnection c = result.connection.value_or(ErpConnection{});
        finish(QStringLiteral("Connected: ") + c.company + QStringLiteral(" (") + c.gstin +
               QStringLiteral("), approved by ") + c.approvedBy + QStringLiteral(" in ") + c.business +
               QStringLiteral(" — ") + c.allowed() + QStringLiteral(". Velto can use it now."));
        reloadItems();
        return;
    }
    }
}

void ErpWindow::finish(const QString &text)
{
    timer_->stop();
    started_.reset();
    pollingFor_.reset();
    sendButton_->setEnabled(true);
    showLinkArea(false);
    codeLabel_->clear();
    status_->setStringValue(text);
}

void ErpWindow::redeemCode()
{
    // A second click while the code is being checked would spend the code
    // twice and report the second, refused try.
    if (redeeming_)
        return;
    redeeming_ = true;
    codeButton_->setEnabled(false);
    status_->setStringValue(QStringLiteral("Checking the code with Hallix and the ERP…"));
    QPointer<ErpWindow> self(this);
    ErpConnect::redeem(base_->text(), codeField_->text(),
                       [self](const std::optional<ErpConnection> &c, const std::optional<QString> &error) {
                           if (!self)
                               return;
                           self->redeeming_ = false;
                           self->codeButton_->setEnabled(true);
                           if (!c) {
                               self->status_->setStringValue(
                                   error.value_or(QStringLiteral("The code was not accepted.")));
                               return;
                           }
                           self->codeField_->clear();
                           self->status_->setStringValue(
                               QStringLiteral("Connected: ") + c->company + QStringLiteral(" (") + c->gstin +
                               QStringLiteral("), attached by ") + c->approvedBy + QStringLiteral(" — ") +
                               c->allowed() + QStringLiteral(". Velto can use it now."));
                           self->reloadItems();
                       });
}

void ErpWindow::copyLink()
{
    if (QClipboard *clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(link_->text());
    }
    status_->setStringValue(QStringLiteral("Link copied. Waiting for the client to approve…"));
}

void ErpWindow::shareWhatsApp()
{
    if (!started_)
        return;
    const QString message = QStringLiteral("Please approve Velto access to ") + started_->company +
                            QStringLiteral("'s books in Ledgora. Sign in and review what is asked: ") + started_->url +
                            QStringLiteral(" (code ") + started_->code + QStringLiteral(", valid 15 minutes)");
    if (const auto url = whatsAppUrl(message))
        Desktop::openUrl(*url);
}

void ErpWindow::removeItem()
{
    const int row = PanelKit::selectedRow(table_);
    if (row < 0 || row >= int(items_.size())) {
        status_->setStringValue(QStringLiteral("Pick a connection on the left."));
        return;
    }
    const ErpConnection c = items_[size_t(row)];
    Dialogs::Alert question;
    question.title = QStringLiteral("Remove ") + c.company + QStringLiteral("'s ERP connection?");
    question.text = QStringLiteral("Velto forgets it on this computer at once. The client's approval still exists in "
                                   "their ERP until they remove it under Connected CAs — open that page to remove it "
                                   "there too.");
    question.style = Dialogs::Style::Warning;
    question.buttons = {QStringLiteral("Remove"), QStringLiteral("Remove and open Connected CAs"),
                        QStringLiteral("Cancel")};
    const int answer = Dialogs::ask(question);
    // Cancel, or the dialog closed without a choice, keeps the connection.
    if (answer != 0 && answer != 1)
        return;
    ErpVault::remove(c.id);
    if (answer == 1) {
        const QUrl page(c.base + QStringLiteral("/connect/connected"), QUrl::StrictMode);
        if (page.isValid() && !page.scheme().isEmpty() && !page.host().isEmpty())
            Desktop::openUrl(page);
    }
    status_->setStringValue(QStringLiteral("Removed ") + c.company + QStringLiteral("."));
    reloadItems();
}
