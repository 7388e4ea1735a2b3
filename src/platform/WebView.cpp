#include "platform/WebView.h"
#include "platform/Dialogs.h"
#include "platform/Dispatch.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QHash>
#include <QJsonArray>
#include <QMouseEvent>
#include <QJsonDocument>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QWebChannel>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <algorithm>

namespace {

// The name of the internal script that provides window.webkit.messageHandlers.
const QString kShimName = QStringLiteral("velto-message-handlers");

quint32 worldId(WebView::World w)
{
    return w == WebView::World::Page ? QWebEngineScript::MainWorld : QWebEngineScript::ApplicationWorld;
}

// The same origin: scheme, host and port (the scheme's own when none is given).
bool sameOrigin(const QUrl &a, const QUrl &b)
{
    const auto port = [](const QUrl &u) {
        const QString scheme = u.scheme().toLower();
        return u.port(scheme == QLatin1String("https") ? 443 : scheme == QLatin1String("http") ? 80 : -1);
    };
    return !a.host().isEmpty() && a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && port(a) == port(b);
}

// How often one address is answered with the same credentials.
constexpr int kAnswersPerAddress = 3;

QString jsString(const QString &s)
{
    // A JSON string is a valid JavaScript string literal, except for the two
    // line separators, which JSON leaves raw.
    QString out = QString::fromUtf8(QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact));
    out = out.mid(1, out.size() - 2);
    out.replace(QChar(0x2028), QStringLiteral("\\u2028"));
    out.replace(QChar(0x2029), QStringLiteral("\\u2029"));
    return out;
}

} // namespace

// Receives the messages posted from page script.
class WebBridge : public QObject {
    Q_OBJECT
public:
    explicit WebBridge(WebView *view) : QObject(view), view_(view) {}
public slots:
    void post(const QString &name, const QString &json)
    {
        auto it = view_->handlers_.find(name);
        if (it == view_->handlers_.end())
            return;
        QJsonParseError err{};
        const QJsonDocument doc = QJsonDocument::fromJson("[" + json.toUtf8() + "]", &err);
        if (err.error != QJsonParseError::NoError)
            return;
        auto handler = it->second; // the handler may remove itself
        handler(doc.array().at(0));
    }

private:
    WebView *view_;
};

class WebPage : public QWebEnginePage {
    Q_OBJECT
public:
    WebPage(QWebEngineProfile *profile, WebView *view) : QWebEnginePage(profile, view), view_(view) {}

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        if (!view_->navigationPolicy)
            return true;
        WebView::Navigation nav{url, kindOf(type), isMainFrame};
        return view_->navigationPolicy(nav);
    }

    QWebEnginePage *createWindow(WebWindowType) override
    {
        // Catch the address the new window would load, hand it over, and
        // throw the page away: the program never opens windows of its own.
        auto *catcher = new Catcher(profile(), view_);
        return catcher;
    }

    QStringList chooseFiles(FileSelectionMode mode, const QStringList &oldFiles, const QStringList &accepted) override
    {
        Q_UNUSED(oldFiles);
        const bool multiple = mode == FileSelectOpenMultiple;
        if (view_->chooseFiles)
            return view_->chooseFiles(multiple, accepted);
        return Dialogs::openFiles(Dialogs::FilePanel{multiple, accepted});
    }

    // Marks a page dialog open until the guard goes; the view may go while
    // the dialog is shown.
    auto held()
    {
        ++view_->pageDialogs_;
        return qScopeGuard([view = QPointer<WebView>(view_)] {
            if (view)
                view->pageDialogClosed();
        });
    }

    // The page's words under a heading and a window title that name its
    // host, with plain OK and Cancel: a page cannot dress its dialog as one
    // of the program's questions.
    void javaScriptAlert(const QUrl &origin, const QString &msg) override
    {
        const QString host = view_->dialogHost(origin);
        if (!view_->admitPageDialog(host))
            return;
        const auto open = held();
        Dialogs::askUnheld(Dialogs::Alert{QStringLiteral("Message from the page at ") + host, msg,
                                          Dialogs::Style::Informational, {QStringLiteral("OK")}, 0, host});
    }

    bool javaScriptConfirm(const QUrl &origin, const QString &msg) override
    {
        const QString host = view_->dialogHost(origin);
        if (!view_->admitPageDialog(host))
            return false;
        const auto open = held();
        Dialogs::Confirm c{QStringLiteral("The page at ") + host + QStringLiteral(" asks"), msg, QStringLiteral("OK"),
                           QStringLiteral("Cancel"), Dialogs::Style::Informational};
        c.windowTitle = host;
        return Dialogs::confirmUnheld(c);
    }

    // Page prompts get no answer, as if the CA dismissed them.
    bool javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *) override { return false; }

private:
    static WebView::NavigationKind kindOf(NavigationType t)
    {
        switch (t) {
        case NavigationTypeLinkClicked: return WebView::NavigationKind::Link;
        case NavigationTypeTyped: return WebView::NavigationKind::Typed;
        case NavigationTypeFormSubmitted: return WebView::NavigationKind::Form;
        case NavigationTypeBackForward: return WebView::NavigationKind::BackForward;
        case NavigationTypeReload: return WebView::NavigationKind::Reload;
        case NavigationTypeRedirect: return WebView::NavigationKind::Redirect;
        default: return WebView::NavigationKind::Other;
        }
    }

    class Catcher : public QWebEnginePage {
    public:
        Catcher(QWebEngineProfile *profile, WebView *view) : QWebEnginePage(profile, view), view_(view) {}

    protected:
        bool acceptNavigationRequest(const QUrl &url, NavigationType, bool) override
        {
            if (!done_) {
                done_ = true;
                QPointer<WebView> view(view_);
                QMetaObject::invokeMethod(view_, [view, url] {
                    if (!view)
                        return;
                    if (view->newWindowRequested)
                        view->newWindowRequested(url);
                    else
                        view->load(url);
                }, Qt::QueuedConnection);
                deleteLater();
            }
            return false;
        }

    private:
        WebView *view_;
        bool done_ = false;
    };

    WebView *view_;
};

WebView::WebView(QWebEngineProfile *profile, QWidget *parent) : QWebEngineView(parent)
{
    page_ = new WebPage(profile ? profile : QWebEngineProfile::defaultProfile(), this);
    setPage(page_);
    clock_.start();
    // A page's life, for its dialogs, ends when another address loads.
    connect(page_, &QWebEnginePage::loadStarted, this, [this] {
        const QUrl next = page_->requestedUrl().adjusted(QUrl::RemoveFragment);
        if (next == pageLife_)
            return;
        pageLife_ = next;
        pageDialogTimes_.clear();
        pageDialogsSilenced_ = false;
    });
    connect(page_->profile(), &QWebEngineProfile::downloadRequested, this,
            [this](QWebEngineDownloadRequest *download) {
                if (download->page() == page_)
                    emit downloadRequested(download);
            });
}

void WebView::answerChallenges(const QList<QUrl> &origins, const QString &user, const QString &password)
{
    // Views that never set a rule keep the web engine's own handling.
    if (!challenges_.watching)
        connect(page_, &QWebEnginePage::authenticationRequired, this,
                [this](const QUrl &url, QAuthenticator *auth) { challenged(url, auth); });
    challenges_ = Challenges{origins, user, password, {}, true};
}

void WebView::challenged(const QUrl &url, QAuthenticator *auth)
{
    Challenges &c = challenges_;
    const bool ours = std::any_of(c.origins.cbegin(), c.origins.cend(),
                                  [&](const QUrl &origin) { return sameOrigin(origin, url); });
    // Unanswered, the challenge is cancelled and the page shows the server's answer.
    if (!ours || c.answered.value(url) >= kAnswersPerAddress) {
        *auth = QAuthenticator();
        return;
    }
    c.answered[url] += 1;
    auth->setUser(c.user);
    auth->setPassword(c.password);
}

WebView::~WebView()
{
    // Work waiting on this page's dialog goes on without it.
    for (auto &fn : afterPageDialog_)
        Dispatch::onMain(std::move(fn));
}

QString WebView::dialogHost(const QUrl &origin) const
{
    QString host = origin.host();
    if (host.isEmpty())
        host = url().host();
    return host.isEmpty() ? QStringLiteral("this address") : host;
}

bool WebView::admitPageDialog(const QString &host)
{
    if (pageDialogsSilenced_)
        return false;
    const qint64 now = clock_.elapsed();
    const qint64 window = qint64(PAGE_DIALOG_SECONDS * 1000.0);
    pageDialogTimes_.removeIf([&](qint64 t) { return now - t >= window; });
    if (pageDialogTimes_.size() >= PAGE_DIALOG_BURST) {
        pageDialogsSilenced_ = true;
        emit pageDialogsSilenced(host);
        return false;
    }
    pageDialogTimes_.append(now);
    return true;
}

void WebView::pageDialogClosed()
{
    if (--pageDialogs_ > 0)
        return;
    auto waiting = std::move(afterPageDialog_);
    afterPageDialog_.clear();
    for (auto &fn : waiting)
        Dispatch::onMain(std::move(fn));
}

void WebView::whenNoPageDialog(std::function<void()> fn)
{
    if (pageDialogs_ > 0)
        afterPageDialog_.push_back(std::move(fn));
    else
        Dispatch::onMain(std::move(fn));
}

QWebEngineProfile *WebView::persistentProfile(const QString &name, const QString &storagePath)
{
    static QHash<QString, QWebEngineProfile *> profiles;
    if (auto *p = profiles.value(name))
        return p;
    auto *p = new QWebEngineProfile(name, QCoreApplication::instance());
    p->setPersistentStoragePath(storagePath);
    p->setCachePath(storagePath + QStringLiteral("/cache"));
    p->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    profiles.insert(name, p);
    return p;
}

void WebView::addUserScript(const QString &source, When when, Frames frames, World world)
{
    QWebEngineScript s;
    s.setName(QStringLiteral("velto-user-%1").arg(++ownScripts_));
    s.setSourceCode(source);
    s.setInjectionPoint(when == When::DocumentStart ? QWebEngineScript::DocumentCreation
                                                    : QWebEngineScript::DocumentReady);
    s.setRunsOnSubFrames(frames == Frames::All);
    s.setWorldId(worldId(world));
    page_->scripts().insert(s);
}

void WebView::removeAllUserScripts()
{
    for (const QWebEngineScript &s : page_->scripts().toList())
        if (s.name() != kShimName)
            page_->scripts().remove(s);
    ownScripts_ = 0;
}

int WebView::userScriptCount() const
{
    int n = 0;
    for (const QWebEngineScript &s : page_->scripts().toList())
        if (s.name() != kShimName)
            ++n;
    return n;
}

void WebView::addMessageHandler(const QString &name, std::function<void(const QJsonValue &)> handler)
{
    handlers_[name] = std::move(handler);
    if (!bridge_) {
        bridge_ = new WebBridge(this);
        auto *channel = new QWebChannel(this);
        channel->registerObject(QStringLiteral("veltoBridge"), bridge_);
        page_->setWebChannel(channel, QWebEngineScript::MainWorld);
    }
    installHandlerShim();
}

void WebView::removeMessageHandler(const QString &name)
{
    handlers_.erase(name);
    installHandlerShim();
}

void WebView::installHandlerShim()
{
    for (const QWebEngineScript &s : page_->scripts().find(kShimName))
        page_->scripts().remove(s);

    QFile lib(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    lib.open(QIODevice::ReadOnly);
    QJsonArray names;
    for (const auto &h : handlers_)
        names.append(h.first);

    // Messages posted before the channel is up are queued, then sent in order.
    const QString shim = QStringLiteral(R"JS(
(function () {
  var names = %1;
  var queue = [], bridge = null;
  var handlers = {};
  names.forEach(function (n) {
    handlers[n] = { postMessage: function (m) {
      var json = JSON.stringify(m === undefined ? null : m);
      if (json === undefined) json = 'null';
      if (bridge) bridge.post(n, json); else queue.push([n, json]);
    } };
  });
  window.webkit = window.webkit || {};
  window.webkit.messageHandlers = handlers;
  function connect() {
    if (typeof qt === 'undefined' || !qt.webChannelTransport) { setTimeout(connect, 10); return; }
    new QWebChannel(qt.webChannelTransport, function (channel) {
      bridge = channel.objects.veltoBridge;
      queue.forEach(function (q) { bridge.post(q[0], q[1]); });
      queue = [];
    });
  }
  connect();
})();
)JS").arg(QString::fromUtf8(QJsonDocument(names).toJson(QJsonDocument::Compact)));

    QWebEngineScript s;
    s.setName(kShimName);
    s.setSourceCode(QString::fromUtf8(lib.readAll()) + QLatin1Char('\n') + shim);
    s.setInjectionPoint(QWebEngineScript::DocumentCreation);
    s.setRunsOnSubFrames(false);
    s.setWorldId(QWebEngineScript::MainWorld);
    page_->scripts().insert(s);
}

void WebView::evaluate(const QString &script, std::function<void(const ScriptResult &)> done, World world)
{
    // The engine's own call reports no error detail, so the script runs
    // inside a try block that hands back the message and the line.
    const QString wrapped = QStringLiteral(
        "(function(){try{var __v=eval(%1);"
        "return {ok:true,value:(__v===undefined?null:__v)};}"
        "catch(e){var m=(e&&e.message!==undefined)?String(e.message):String(e);"
        "var s=(e&&e.stack)?String(e.stack):'';var r=/<anonymous>:(\\d+):\\d+/.exec(s);"
        "return {ok:false,message:(e&&e.name&&e.name!=='Error'?e.name+': ':'')+m,line:r?parseInt(r[1],10):-1};}})()")
                                .arg(jsString(script));
    QPointer<WebView> self(this);
    page_->runJavaScript(wrapped, worldId(world), [self, done = std::move(done)](const QVariant &v) {
        ScriptResult r;
        const QVariantMap m = v.toMap();
        if (!self) {
            r.error = QStringLiteral("The web view is gone.");
        } else if (m.value(QStringLiteral("ok")).toBool()) {
            r.value = m.value(QStringLiteral("value"));
        } else if (m.contains(QStringLiteral("message"))) {
            r.error = m.value(QStringLiteral("message")).toString();
            if (r.error.isEmpty())
                r.error = QStringLiteral("A JavaScript exception occurred");
            r.line = m.value(QStringLiteral("line"), -1).toInt();
        } else {
            r.error = QStringLiteral("A JavaScript exception occurred");
        }
        if (done)
            done(r);
    });
}

void WebView::evaluate(const QString &script, World world)
{
    page_->runJavaScript(script, worldId(world));
}

void WebView::clickAt(const QPoint &pos)
{
    QWidget *target = focusProxy() ? focusProxy() : this;
    const QPointF local = target->mapFrom(this, pos);
    const QPointF global = target->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
}

QImage WebView::snapshot()
{
    const QPixmap px = grab();
    return px.isNull() ? QImage() : px.toImage();
}

#include "WebView.moc"
