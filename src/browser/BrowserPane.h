#pragma once
#include "browser/BrowserTab.h"

#include <QList>
#include <QSet>
#include <QUuid>
#include <QWidget>
#include <functional>
#include <memory>

class OrbView;
class QLabel;
class QLineEdit;
class QToolButton;
class WebView;

// The in-app portal browser: a strip of tabs, a tool bar (back, forward,
// reload, address, busy orb) and the shown tab's page. It opens only allowed
// hosts; anything else gets a short amber note and, once per host, the
// question whether to add the site. A fresh or emptied tab shows the start
// page. The CA and the agent's tools drive it through the same members.
// Main thread only.
class BrowserPane : public QWidget, public TabOwner {
    Q_OBJECT
public:
    // Lays out the chrome for frame and paints it. Its first start-page tab
    // opens when the pane is first shown or anything asks for its tabs: that
    // web view and its page are the heaviest part of start-up, and the chat
    // page comes first.
    explicit BrowserPane(const QRect &frame = QRect(0, 0, 1100, 760), QWidget *parent = nullptr);
    ~BrowserPane() override;

    // The open tabs in strip order, and the index of the shown one. The
    // pane's own operations never leave it without a tab.
    const QList<BrowserTab *> &tabs() const
    {
        openFirstTab();
        return tabs_;
    }
    int current() const
    {
        openFirstTab();
        return current_;
    }
    // The tab at current, or none.
    BrowserTab *activeTab() const;
    // Opens the start-page tab the pane was built without, if it has not
    // opened yet.
    void openFirstTab() const;
    // The shown tab's web view; with no tab, a spare one in no window.
    WebView *web();

    // Appends a tab showing url when its host is allowed, else the start
    // page (no note); selects it when asked. Answers its index.
    int newTab(const QUrl &url = QUrl(), bool select = true) override;
    // Out-of-range indexes do nothing.
    void select(int index);
    // Closing the only tab keeps it and shows the start page.
    void closeTab(int index);
    void nextTab();
    // Opens url in the shown tab when its host is allowed (false and the
    // blocked note otherwise).
    bool load(const QUrl &url);

    // TabOwner: a tab's title or loading state changed; a page went to a
    // host outside the list.
    void refresh(BrowserTab *tab) override;
    void showBlocked(const QString &host) override;
    // The amber note above the page, for six seconds.
    void showNote(const QString &text) override;

    // Re-applies the theme to the chrome and to every start page, in place.
    // (Hides QWidget::repaint, which nothing calls on the pane.)
    void repaint();

    // Called with the shown tab's title whenever the chrome follows it.
    std::function<void(const QString &title)> onTitleChange;

    // --- what the agent's page tools use -------------------------------------

    // The page-snapshot script (see PageScripts).
    static QString snapshotJS(bool full = true);
    // Runs a script in the shown tab; done gets its outcome as one line of
    // text, or "ERROR: …" ("ERROR: no tab" without a tab).
    void evalJS(const QString &script, std::function<void(const QString &outcome)> done);
    // Arms the shown tab's next file chooser with file and clicks the file
    // input numbered ref as the CA's mouse would. done gets "no_tab",
    // "gone", "not_file", "clicked" or an error text; on anything but
    // "clicked" nothing stays armed.
    void upload(const QString &ref, const QString &file, std::function<void(const QString &outcome)> done);
    // One line per tab: "index[ (active)] title — url", or "no tabs".
    QString tabList() const;

    // The tab strip's labels as shown ("Loading…", a title, "New tab").
    QStringList stripLabels() const;

    // What the address field shows for a page address: nothing for the start
    // page; in demo mode a locally served demo page as the maker's site.
    static QString displayAddress(const QUrl &url);

    // The chrome's own actions.
    void addTab();
    void tabClicked(int index);
    void tabClosed(int index);
    void goBack();
    void goForward();
    void reloadPage();
    void go();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void layoutChrome();
    void paintChrome();
    void syncChrome();
    void rebuildStrip();
    void showStartPage(BrowserTab *tab);
    // The tab at current, or none, without opening the first one.
    BrowserTab *shownTab() const;
    // The tab's address; "about:blank" as soon as the start page is asked
    // for, before the view itself has moved there.
    QUrl addressOf(const BrowserTab *tab) const;
    void askToAdd(const QString &host);

    QList<BrowserTab *> tabs_;
    int current_ = 0;
    bool firstTabDue_ = true;

    QWidget *strip_;
    QWidget *stack_;
    QLineEdit *urlField_;
    QWidget *urlBox_;
    QWidget *bar_;
    QWidget *barHair_;
    QToolButton *plus_;
    QToolButton *backBtn_, *fwdBtn_, *reloadBtn_;
    OrbView *orb_;
    QLabel *blocked_;
    QWidget *holder_;
    QUuid lastBlock_ = QUuid::createUuid();
    QSet<QString> askedAbout_;
    QSet<const BrowserTab *> startPending_;
    std::unique_ptr<WebView> spare_;
};
