#include "browser/BrowserTab.h"
#include "browser/Downloads.h"
#include "browser/Hosts.h"
#include "browser/PageScripts.h"
#include "core/Globals.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/Dispatch.h"
#include "platform/WebView.h"

#include <QFile>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>

QWebEngineProfile *BrowserTab::defaultProfile()
{
    // One persistent store for every tab, so portal sign-ins and cookies are
    // shared by the tabs and survive a restart.
    return WebView::persistentProfile(QStringLiteral("portals"), joinPath(VELTO_HOME, QStringLiteral("browser")));
}

QString BrowserTab::bundleScripts()
{
    QStringList parts;
    for (const char *name : {":/web/thinking-orb.js", ":/web/pavi-avatar.js"}) {
        QFile f(QString::fromLatin1(name));
        if (f.open(QIODevice::ReadOnly))
            parts << QString::fromUtf8(f.readAll());
    }
    return parts.join(QLatin1Char('\n'));
}

QString BrowserTab::loadFailureText(const QWebEngineLoadingInfo &info)
{
    if (info.errorDomain() == QWebEngineLoadingInfo::CertificateErrorDomain)
        return QStringLiteral("the site's certificate was not accepted");
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
        return QStringLiteral("the site answered HTTP ") + QString::number(info.errorCode());
    switch (info.errorCode()) {
    case -102: return QStringLiteral("the connection was refused");
    case -105:
    case -137: return QStringLiteral("the host name was not found");
    case -106: return QStringLiteral("there is no network connection");
    case -7:
    case -118: return QStringLiteral("the connection timed out");
    case -100:
    case -101: return QStringLiteral("the connection was closed before the page arrived");
    case -3: return QStringLiteral("the load was stopped");
    default: break;
    }
    const QString said = info.errorString().trimmed();
    return said.isEmpty() ? QStringLiteral("the load failed (error %1)").arg(info.errorCode())
                          : QStringLiteral("the load failed (") + said + QLatin1Char(')');
}

BrowserTab::BrowserTab(TabOwner *pane) : pane_(pane)
{
    web_ = new WebView(profile());
    // Portal pages are made for a white page: one that sets no background of
    // its own stays readable when the app around it is dark.
    web_->page()->setBackgroundColor(Qt::white);

    // Remembers password fields from the start of every page, so a page
    // that unmasks one later cannot make its value readable.
    web_->addUserScript(secretWatchJS(), WebView::When::DocumentStart, WebView::Frames::MainOnly);

    const QString scripts = bundleScripts();
    if (!scripts.isEmpty())
        web_->addUserScript(scripts, WebView::When::DocumentEnd, WebView::Frames::MainOnly);

    web_->navigationPolicy = [this](const WebView::Navigation &nav) {
        if (opensInSystemBrowser(nav.url)) {
            Desktop::openUrl(nav.url);
            return false;
        }
        const QString scheme = nav.url.scheme();
        if ((scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
            !hostAllowed(nav.url.host().isEmpty() ? std::nullopt : std::optional<QString>(nav.url.host()))) {
            // Refused frames inside an allowed page go quietly.
            if (nav.mainFrame) {
                const QString host = nav.url.host().isEmpty() ? QStringLiteral("that site") : nav.url.host();
                failure = QStringLiteral("the tab was sent to ") + host +
                          QStringLiteral(", which is outside the allowed list");
                if (pane_)
                    pane_->showBlocked(host);
            }
            return false;
        }
        return true;
    };
    web_->newWindowRequested = [this](const QUrl &url) {
        if (url.isEmpty())
            return;
        if (opensInSystemBrowser(url)) {
            Desktop::openUrl(url);
            return;
        }
        if (pane_)
            pane_->newTab(url, true);
    };
    web_->chooseFiles = [this](bool multiple, const QStringList &accepted) {
        if (!pendingUpload_.isEmpty()) {
            QStringList files = multiple ? pendingUpload_ : QStringList{pendingUpload_.first()};
            disarmUpload();
            return files;
        }
        return Dialogs::openFiles(Dialogs::FilePanel{multiple, accepted});
    };
    connect(web_, &WebView::pageDialogsSilenced, this, [this](const QString &host) {
        if (pane_)
            pane_->showNote(host + QStringLiteral(" kept opening dialogs — Velto now closes them unseen until "
                                                  "the tab leaves this page."));
    });
    connect(web_, &WebView::downloadRequested, this,
            [](QWebEngineDownloadRequest *d) { Downloads::shared().track(d); });
    connect(web_->page(), &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &info) {
        // A refusal already said why this load stopped.
        if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus && !failure)
            failure = loadFailureText(info);
    });
    connect(web_, &QWebEngineView::loadStarted, this, [this] {
        loading = true;
        failure.reset();
        disarmUpload();
        if (pane_)
            pane_->refresh(this);
    });
    connect(web_, &QWebEngineView::loadFinished, this, [this](bool ok) {
        loading = false;
        if (!ok) {
            if (pane_)
                pane_->refresh(this);
            return;
        }
        // The page's own title, which may be empty; the view would make one
        // up from the address.
        QPointer<BrowserTab> self(this);
        web_->evaluate(QStringLiteral("document.title"), [self](const WebView::ScriptResult &r) {
            if (!self)
                return;
            if (r.ok())
                self->title = r.value.toString();
            if (self->pane_)
                self->pane_->refresh(self);
        });
    });
}

BrowserTab::~BrowserTab()
{
    delete web_;
}

void BrowserTab::armUpload(const QStringList &files)
{
    pendingUpload_ = files;
    const int generation = ++armGeneration_;
    QPointer<BrowserTab> self(this);
    Dispatch::after(UPLOAD_ARM_SECONDS, [self, generation] {
        if (self && self->armGeneration_ == generation)
            self->disarmUpload();
    });
}

void BrowserTab::disarmUpload()
{
    pendingUpload_.clear();
    ++armGeneration_;
}
