#pragma once
#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QJsonValue>
#include <QUrl>
#include <QVariant>
#include <QWebEngineView>
#include <functional>
#include <map>
#include <vector>

class QAuthenticator;
class QWebEngineProfile;
class QWebEngineDownloadRequest;
class WebPage;
class WebBridge;

// A web view with what the program needs of one: user scripts, named message
// handlers reachable from page script as
// window.webkit.messageHandlers.NAME.postMessage(x), script evaluation that
// answers the value or an error with its line, navigation and new-window
// policy, downloads, the file chooser, page dialogs, snapshots and zoom.
class WebView : public QWebEngineView {
    Q_OBJECT
public:
    enum class When { DocumentStart, DocumentEnd };
    enum class Frames { MainOnly, All };
    // Page: shares globals with the page's own scripts. Isolated: sees the
    // same document but none of the page's globals (the program's default).
    enum class World { Page, Isolated };

    enum class NavigationKind { Link, Typed, Form, BackForward, Reload, Redirect, Other };
    struct Navigation {
        QUrl url;
        NavigationKind kind = NavigationKind::Other;
        bool mainFrame = true;
    };

    struct ScriptResult {
        QVariant value;       // undefined and null give an invalid QVariant
        QString error;        // empty on success
        int line = -1;        // the script's line of the error, when known
        bool ok() const { return error.isEmpty(); }
    };

    // profile: absent for the shared default (persistent) profile.
    explicit WebView(QWebEngineProfile *profile = nullptr, QWidget *parent = nullptr);
    ~WebView() override;

    // A named profile whose cookies, storage and cache live under
    // storagePath and survive a restart. One per name per process.
    static QWebEngineProfile *persistentProfile(const QString &name, const QString &storagePath);

    // User scripts, injected into every later page load in this order.
    void addUserScript(const QString &source, When when, Frames frames, World world = World::Isolated);
    void removeAllUserScripts();
    int userScriptCount() const;

    // A named handler; messages arrive on the main thread as JSON values.
    void addMessageHandler(const QString &name, std::function<void(const QJsonValue &)> handler);
    void removeMessageHandler(const QString &name);

    // Runs the script; done gets its completion value or the error. The
    // value of the last statement is the result, as for an eval.
    void evaluate(const QString &script, std::function<void(const ScriptResult &)> done,
                  World world = World::Isolated);
    // Runs the script and ignores its outcome.
    void evaluate(const QString &script, World world = World::Isolated);

    // Answers whether a navigation may go ahead (default: all).
    std::function<bool(const Navigation &)> navigationPolicy;
    // A page asked for a new window (target=_blank, window.open) to url; no
    // window is made. Default: load it in this view.
    std::function<void(const QUrl &)> newWindowRequested;
    // The page's file chooser: answers the files to give the page (empty: cancel).
    // Default: the desktop's file dialog (Dialogs::openFiles).
    std::function<QStringList(bool multiple, const QStringList &accepted)> chooseFiles;

    // The page's own alerts and confirms go to the dialog hooks, titled with
    // the page's host so they never pass for the program's own questions;
    // prompts get no answer. Such a dialog holds only this view: it opens no
    // modal session, so other work goes on, and work on this page waits for
    // it through whenNoPageDialog. A page that shows PAGE_DIALOG_BURST dialogs
    // within PAGE_DIALOG_SECONDS has its further dialogs dismissed unseen (an
    // alert closed, a confirm answered Cancel) until another address loads,
    // and pageDialogsSilenced is emitted once.
    static constexpr int PAGE_DIALOG_BURST = 3;
    static constexpr double PAGE_DIALOG_SECONDS = 10.0;
    bool pageDialogOpen() const { return pageDialogs_ > 0; }
    // Runs fn on the main thread once this view shows no page dialog: soon
    // when it shows none, else after it closes, or when the view goes.
    void whenNoPageDialog(std::function<void()> fn);

    // Answers HTTP authentication challenges (the page's own loads and its
    // script requests alike) from the given origins (scheme, host and port)
    // with these credentials, so the page loads without a login prompt. A
    // challenge from any other origin is not answered with them. A later call
    // replaces the rule; no origins removes it. The same request is answered
    // at most a few times, so refused credentials end in the server's answer
    // rather than a loop.
    void answerChallenges(const QList<QUrl> &origins, const QString &user, const QString &password);

    // A real left click at a point of the view (view coordinates), as the
    // CA's mouse would make it: pages treat it as a user gesture, which a
    // script's own click() is not (file choosers need one).
    void clickAt(const QPoint &pos);

    // The view's pixels; a null image when nothing could be drawn.
    QImage snapshot();

    WebPage *webPage() const { return page_; }

signals:
    // This page's dialogs are dismissed from now on; host names the page.
    void pageDialogsSilenced(const QString &host);
    // A download this view's page started. Accept or cancel it while the
    // signal runs: the request is gone afterwards.
    void downloadRequested(QWebEngineDownloadRequest *download);

private:
    friend class WebPage;
    friend class WebBridge;
    void installHandlerShim();

    WebPage *page_ = nullptr;
    WebBridge *bridge_ = nullptr;
    std::map<QString, std::function<void(const QJsonValue &)>> handlers_;
    struct Challenges {
        QList<QUrl> origins;
        QString user;
        QString password;
        QHash<QUrl, int> answered;
        bool watching = false;
    } challenges_;
    void challenged(const QUrl &url, QAuthenticator *auth);
    int ownScripts_ = 0;

    // The page's dialogs: how many are open, when the recent ones were shown,
    // and whether this page's are dismissed. Reset when another address loads.
    bool admitPageDialog(const QString &host);
    void pageDialogClosed();
    QString dialogHost(const QUrl &origin) const;
    int pageDialogs_ = 0;
    QList<qint64> pageDialogTimes_;
    bool pageDialogsSilenced_ = false;
    QUrl pageLife_;
    QElapsedTimer clock_;
    std::vector<std::function<void()>> afterPageDialog_;
};
