#pragma once
// The sessions sidebar: the left column of the main window. From top to
// bottom a "New session" button, a scrolling list (Work links, the client
// folders the CA has opened, the engine's sessions of the current folder,
// newest first) and, pinned to the bottom, the account box (initial, name,
// firm, plan chip, usage bar, wallet line).
//
// The sidebar acts on no click itself: every click goes to a callback the main
// window sets. It shows what four operations feed it: setFolders,
// setCurrentSession, refreshSessions (it fetches the engine's list itself) and
// setAccount. The main window makes it 256 wide and as tall as the area under
// the top bar; on a theme change the app calls repaint(). Main thread only.
#include "app/EngineApi.h"

#include <QAbstractButton>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

// One clickable line of the list: an icon and a title in a rounded row that
// lights up under the mouse and when selected.
class HoverRow : public QWidget {
    Q_OBJECT
public:
    // symbol names a bundled icon; the button carries the tag and calls action
    // when clicked.
    HoverRow(const QString &title, const QString &symbol, int tag, bool selected, std::function<void(int tag)> action,
             QWidget *parent = nullptr);

    QAbstractButton *button() const { return button_; }
    QString label() const { return label_; }
    int tag() const { return tag_; }
    bool selected() const { return selected_; }
    // Every assignment repaints the row, even to the same value.
    void setSelected(bool selected);
    bool hovering() const { return hovering_; }
    // Paints the row for its state in the theme in force.
    void paint();

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QAbstractButton *button_;
    QString label_;
    int tag_;
    bool selected_ = false;
    bool hovering_ = false;
};

class Sidebar : public QWidget {
    Q_OBJECT
public:
    explicit Sidebar(const QRect &frame, QWidget *parent = nullptr);

    // paintChrome() then rebuild(): on every theme change.
    void repaint();

    // --- data (each stores what it is given, then repaints or rebuilds) --------
    // The client folders, in the order given (most recent first), and the
    // current folder's path.
    void setFolders(const QStringList &folders, const QString &current);
    // The session open in the chat view.
    void setCurrentSession(const QString &id);
    // Fetches the engine's session list (GET /session, 8 s) and rebuilds; done
    // runs on the main thread after the rebuild. Nothing at all, done
    // included, when the port is below 1. A failed fetch empties the list.
    void refreshSessions(int enginePort, std::function<void()> done);
    // The cloud service's account reply (GET /cli/whoami), or none when the
    // request failed or its body was not a JSON object.
    void setAccount(const std::optional<QJsonObject> &account);

    // The last reply given to setAccount, and every session the engine listed,
    // newest first. Only the sidebar writes them.
    const std::optional<QJsonObject> &account() const { return account_; }
    const QList<SessionRow> &sessions() const { return sessions_; }

    // --- callbacks (each fires only when set) ------------------------------------
    std::function<void()> onNewSession;               // the "New session" button
    std::function<void()> onSkills;                   // "Skills — start a job"
    std::function<void()> onCaseBoard;                // "Case Board"
    std::function<void()> onMail;                     // "Mail"
    std::function<void()> onWallet;                   // the "Wallet" row and the wallet line
    std::function<void(const SessionRow &)> onOpenSession;   // a session row
    std::function<void(const QString &folder)> onOpenFolder; // a folder row
    std::function<void()> onPickFolder;               // the add button of "Folders"
    std::function<void(QAbstractButton *)> onAccountMenu;    // the avatar or the chevron
    std::function<void(QWidget *)> onPlanClick;       // the plan area: anchor for a popover

    // --- what is shown, for the app's checks and tests ----------------------------
    QStringList folders() const { return folders_; }
    QString currentDir() const { return currentDir_; }
    QString currentSession() const { return currentSession_; }
    QString initial() const { return initial_; }
    double usagePct() const { return usagePct_; }
    QString walletTitle() const { return walletTitle_; }
    // The list's views in order: headers, HoverRows and the no-sessions note.
    QList<QWidget *> listViews() const;
    QList<HoverRow *> rows() const;
    QPushButton *newButton() const { return newBtn_; }
    QWidget *accountBox() const { return accountBox_; }
    QLabel *nameLabel() const { return nameLabel_; }
    QLabel *firmLabel() const { return firmLabel_; }
    QWidget *planChip() const { return planChip_; }
    QLabel *planLabel() const { return planLabel_; }
    QPushButton *planButton() const { return planButton_; }
    QWidget *usageTrack() const { return usageTrack_; }
    QWidget *usageFill() const { return usageFill_; }
    QLabel *usageText() const { return usageText_; }
    QPushButton *walletButton() const { return walletBtn_; }
    QPushButton *avatar() const { return avatar_; }
    QPushButton *chevron() const { return chev_; }
    QScrollArea *scrollView() const { return scroll_; }
    // The usage bar's colours, left and right.
    QPair<QColor, QColor> usageColors() const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void build();
    void layoutParts();
    void layoutAccountBox();
    void paintChrome();
    void sizePlanChip();
    void paintUsage();
    void paintWallet();
    void rebuild();
    QWidget *header(const QString &title, std::function<void()> add = nullptr);
    QWidget *emptyNote();

    // The clicks.
    void newSession();
    void skillsClicked();
    void caseBoardClicked();
    void walletClicked();
    void mailClicked();
    void pickFolder();
    void folderClicked(int tag);
    void sessionClicked(int tag);
    void accountClicked(QAbstractButton *sender);
    void planClicked(QWidget *sender);

    QScrollArea *scroll_ = nullptr;
    QVBoxLayout *stack_ = nullptr;
    QWidget *listDoc_ = nullptr;
    QWidget *accountBox_ = nullptr;
    QLabel *nameLabel_ = nullptr;
    QLabel *firmLabel_ = nullptr;
    QLabel *planLabel_ = nullptr;
    QWidget *planChip_ = nullptr;
    QPushButton *planButton_ = nullptr;
    QWidget *usageTrack_ = nullptr;
    QWidget *usageFill_ = nullptr;
    QLabel *usageText_ = nullptr;
    QPushButton *walletBtn_ = nullptr;
    QString walletTitle_;
    QWidget *separator_ = nullptr;
    QWidget *edge_ = nullptr;
    QPushButton *newBtn_ = nullptr;
    QPushButton *avatar_ = nullptr;
    QPushButton *chev_ = nullptr;
    double usagePct_ = 0;
    QString initial_ = QStringLiteral("S");

    std::optional<QJsonObject> account_;
    QList<SessionRow> sessions_;
    QStringList folders_;
    QString currentDir_;
    QString currentSession_;
};
