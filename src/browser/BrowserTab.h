#pragma once
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class WebView;
class QWebEngineProfile;
class QWebEngineLoadingInfo;
class BrowserTab;

// What a tab needs of the pane that holds it.
class TabOwner {
public:
    virtual ~TabOwner() = default;
    // A main-frame navigation to a host outside the allow-list was refused.
    virtual void showBlocked(const QString &host) = 0;
    // The tab's title or loading state changed.
    virtual void refresh(BrowserTab *tab) = 0;
    // Opens a new tab at url (the start page for an empty or refused one);
    // answers its index. A page's new window comes here.
    virtual int newTab(const QUrl &url, bool select) = 0;
    // A short note for the CA about what a page did.
    virtual void showNote(const QString &text) { Q_UNUSED(text); }
};

// One tab of the portal browser: its web view, the allow-list on every
// navigation, downloads into the inbox, new windows as new tabs, the page's
// file chooser (first from a file the agent armed) and page dialogs.
class BrowserTab : public QObject {
    Q_OBJECT
public:
    explicit BrowserTab(TabOwner *pane);
    ~BrowserTab() override;

    WebView *web() const { return web_; }
    QString title = QStringLiteral("New tab");
    bool loading = false;

    // Why the tab's latest navigation did not arrive, when it did not: the
    // load failed (what happened, in words) or the tab was sent to a host
    // outside the allow-list. Cleared when the next load starts, and by the
    // agent's tools as they navigate.
    std::optional<QString> failure;

    // Files for the page's next file chooser. Disarmed when the tab navigates
    // or after 30 s, so a later choice by the CA never sends the agent's file.
    void armUpload(const QStringList &files);
    void disarmUpload();
    const QStringList &pendingUpload() const { return pendingUpload_; }

    // Set once by the pane that owns this tab, so the tab can tell it.
    void setOwner(TabOwner *pane) { pane_ = pane; }

    static constexpr double UPLOAD_ARM_SECONDS = 30.0;

    // The web profile of every tab: one persistent store under the product's
    // home folder. Tests point it at a private one.
    static QWebEngineProfile *defaultProfile();
    static inline std::function<QWebEngineProfile *()> profile = &BrowserTab::defaultProfile;

    // The shared scripts that portal pages and the chat view get (mascot and
    // busy marks), joined; empty when the resources hold none.
    static QString bundleScripts();

    // A failed load in words: "the connection was refused", …
    static QString loadFailureText(const QWebEngineLoadingInfo &info);

private:
    WebView *web_;
    TabOwner *pane_;
    QStringList pendingUpload_;
    int armGeneration_ = 0;
};
