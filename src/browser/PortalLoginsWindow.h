#pragma once
// The window in which the CA keeps the clients' portal logins: the saved
// logins on the left, an edit form on the right, and buttons to start a new
// login, save, delete, and open the portal and sign in. Passwords go straight
// to the secret store through PortalVault; the window never shows one. It
// does not sign in by itself: "Open & sign in" hands the loaded login to
// onSignIn, which the app points at the browser pane and PortalSignIn::run.
// Main thread only.
#include "browser/PortalVault.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QStandardItemModel;
class QTableView;
class PanelStatusField;
class PanelThemeWatch;

class PortalLoginsWindow : public QWidget {
    Q_OBJECT
public:
    // Roles of the list's one column: the first line is Qt::DisplayRole with
    // its colour in Qt::ForegroundRole; the second line and its colour:
    enum Role { DetailRole = Qt::UserRole + 1, DetailColorRole };

    explicit PortalLoginsWindow(QWidget *parent = nullptr);
    ~PortalLoginsWindow() override;

    // Called with the loaded login by "Open & sign in"; nothing when unset.
    std::function<void(const PortalLogin &)> onSignIn;

    // The second line of a login's row: portal · user id, and a warning when
    // the secret store holds no password for it.
    static QString detailLine(const PortalLogin &login);

    // The button actions.
    void newItem();
    void saveItem();
    void deleteItem();
    void signIn();
    void portalChanged();
    // Rebuilds the content in the current appearance; the fields keep their contents.
    void repaint();

    // For the app and the tests.
    const std::vector<PortalLogin> &items() const { return items_; }
    const std::optional<QString> &editing() const { return editing_; }
    QTableView *table() const { return table_; }
    QLineEdit *clientField() const { return client_; }
    QComboBox *portalField() const { return portal_; }
    QLineEdit *usernameField() const { return username_; }
    QLineEdit *passwordField() const { return password_; }
    QLineEdit *urlField() const { return urlField_; }
    QLineEdit *noteField() const { return note_; }
    PanelStatusField *status() const { return status_; }
    QPushButton *newButton() const { return newButton_; }
    QPushButton *saveButton() const { return saveButton_; }
    QPushButton *deleteButton() const { return deleteButton_; }
    QPushButton *signInButton() const { return signInButton_; }
    // Selects a row as the CA would (no row for an index out of range).
    void selectRow(int row);

private:
    void build();
    void reload();
    void selectionChanged();
    void recolourRows();
    const PortalLogin *loaded() const;

    std::vector<PortalLogin> items_;
    QTableView *table_ = nullptr;
    QStandardItemModel *model_ = nullptr;
    QLineEdit *client_ = nullptr;
    QComboBox *portal_ = nullptr;
    QLineEdit *username_ = nullptr;
    QLineEdit *password_ = nullptr;
    QLineEdit *urlField_ = nullptr;
    QLineEdit *note_ = nullptr;
    PanelStatusField *status_ = nullptr;
    std::optional<QString> editing_;
    std::unique_ptr<PanelThemeWatch> watch_;

    QPushButton *newButton_ = nullptr;
    QPushButton *saveButton_ = nullptr;
    QPushButton *deleteButton_ = nullptr;
    QPushButton *signInButton_ = nullptr;
    QWidget *root_ = nullptr;
    bool quietSelection_ = false; // reselecting after a reload loads nothing
};
