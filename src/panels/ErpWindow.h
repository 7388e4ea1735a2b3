#pragma once
// The "Ledgora ERP" window: the ERP connections this computer holds on the
// left, and the two ways to pair a client's ERP on the right (an approval
// link the client opens, or a code the client made in their ERP).
// Main thread only.
#include "erp/ErpConnect.h"

#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStandardItemModel;
class QTableView;
class QTimer;
class PanelStatusField;
class PanelThemeWatch;

class ErpWindow : public QWidget {
    Q_OBJECT
public:
    explicit ErpWindow(QWidget *parent = nullptr);
    ~ErpWindow() override;

    // Seconds between two polls of a waiting link pairing (scaled by the
    // app's time scale).
    static constexpr double kPollSeconds = 5.0;
    // The address the WhatsApp share opens: the click-to-chat page with the
    // message as its "text" query item; nothing when none can be built.
    static std::optional<QUrl> whatsAppUrl(const QString &message);

    // Rebuilds the content in the current look; the pairing, the fields, the
    // selection and the status stay as they were.
    void repaint();

    // The button actions.
    void send();
    void redeemCode();
    void copyLink();
    void shareWhatsApp();
    void removeItem();

    // For the app and the tests.
    const std::vector<ErpConnection> &items() const { return items_; }
    const QList<QJsonObject> &clients() const { return clients_; }
    const std::optional<ErpConnect::Started> &started() const { return started_; }
    bool polling() const;
    QTableView *table() const { return table_; }
    QComboBox *clientPopUp() const { return client_; }
    QLineEdit *baseField() const { return base_; }
    QCheckBox *invoicesBox() const { return invoices_; }
    QLabel *codeLabel() const { return codeLabel_; }
    QLineEdit *linkField() const { return link_; }
    QWidget *linkBox() const { return linkBox_; }
    PanelStatusField *status() const { return status_; }
    QLineEdit *codeField() const { return codeField_; }
    QPushButton *sendButton() const { return sendButton_; }
    QPushButton *copyButton() const { return copyButton_; }
    QPushButton *shareButton() const { return shareButton_; }
    QPushButton *codeButton() const { return codeButton_; }
    QPushButton *removeButton() const { return removeButton_; }
    // Selects a row as the CA would (no row for an index out of range).
    void selectRow(int row);

private:
    void build();
    void loadClients();
    void tick();
    void finish(const QString &text);
    void reloadItems();
    void showLinkArea(bool shown);
    void pollAnswered(const ErpConnect::PollResult &result, qint64 secondsLeft, quint64 pairing);

    std::vector<ErpConnection> items_;
    QList<QJsonObject> clients_;
    QTableView *table_ = nullptr;
    QStandardItemModel *model_ = nullptr;
    QComboBox *client_ = nullptr;
    QLineEdit *base_ = nullptr;
    QCheckBox *invoices_ = nullptr;
    QLabel *codeLabel_ = nullptr;
    QLineEdit *link_ = nullptr;
    PanelStatusField *status_ = nullptr;
    QLineEdit *codeField_ = nullptr;
    QPushButton *sendButton_ = nullptr;
    QPushButton *copyButton_ = nullptr;
    QPushButton *shareButton_ = nullptr;
    QPushButton *codeButton_ = nullptr;
    QPushButton *removeButton_ = nullptr;
    std::optional<ErpConnect::Started> started_;
    QTimer *timer_ = nullptr;
    std::unique_ptr<PanelThemeWatch> watch_;
    QPointer<QWidget> linkBox_;
    QWidget *root_ = nullptr;

    // Each link pairing's number: an answer that comes back for a pairing
    // that is no longer the waiting one only refreshes the list.
    quint64 pairing_ = 0;
    // The pairing whose poll is on its way; the next tick waits for it.
    std::optional<quint64> pollingFor_;
    bool redeeming_ = false;
};
