// The menu bar of AppDelegate, the account menu and the actions they reach:
// folders, the browser tab commands, reload and zoom, the cloud's Case Board
// and Wallet pages, the mail app, About and help.
#include "app/AppDelegate.h"
#include "app/MailApp.h"
#include "app/Sidebar.h"
#include "app/SignIn.h"
#include "browser/BrowserPane.h"
#include "connectors/MailTools.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "core/Shell.h"
#include "erp/ErpClient.h"
#include "erp/ErpConnect.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/WebView.h"
#include "ui/PanelKit.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

// Where the mail app is offered for download.
const QString MAIL_DOWNLOAD = QStringLiteral("https://hallix.in/mail");

// A key equivalent as the menus name it: a lower-case letter or a sign is
// pressed with Ctrl, an upper-case letter with Ctrl+Shift.
QKeySequence keyFor(const QString &key)
{
    if (key.isEmpty())
        return {};
    const QChar c = key.at(0);
    if (c.isLetter() && c.isUpper())
        return QKeySequence(QStringLiteral("Ctrl+Shift+") + key);
    return QKeySequence(QStringLiteral("Ctrl+") + key.toUpper());
}

// The window a window command acts on: the active one, else the main window.
QWidget *keyWindow(QWidget *main)
{
    QWidget *active = QApplication::activeWindow();
    return active ? active : main;
}

// An editing command for the focused view: a web page takes it as its own
// action; a text field as its slot of that name.
void editCommand(QWebEnginePage::WebAction action, const char *slot)
{
    QWidget *focus = QApplication::focusWidget();
    for (QWidget *w = focus; w; w = w->parentWidget()) {
        if (auto *web = qobject_cast<QWebEngineView *>(w)) {
            web->page()->triggerAction(action);
            return;
        }
        if (w->isWindow())
            break;
    }
    if (!focus)
        return;
    const QByteArray signature = QByteArray(slot) + "()";
    if (focus->metaObject()->indexOfMethod(signature.constData()) >= 0)
        QMetaObject::invokeMethod(focus, slot);
}

// The seat env file's e-mail, when the key is there at all.
std::optional<QString> seatEmail()
{
    return readEnvKey(SEAT_ENV, QStringLiteral("PAVI_SEAT_EMAIL"));
}

} // namespace

// --- the menu bar ------------------------------------------------------------------

void AppDelegate::buildMenu()
{
    if (!window_)
        return;
    if (!menuBar_)
        menuBar_ = new QMenuBar(window_);
    // The old menus go once the action that may have asked for this is over.
    for (QAction *a : menuBar_->actions())
        if (QMenu *m = a->menu())
            m->deleteLater();
    menuBar_->clear();

    QPointer<AppDelegate> self(this);
    auto command = [](QMenu *menu, const QString &title, const QString &key, std::function<void()> fn) {
        QAction *a = menu->addAction(PanelKit::asWritten(title));
        if (!key.isEmpty()) {
            a->setShortcut(keyFor(key));
            a->setShortcutContext(Qt::ApplicationShortcut);
        }
        QObject::connect(a, &QAction::triggered, a, std::move(fn));
        return a;
    };
    auto item = [self, command](QMenu *menu, const QString &title, const QString &key,
                                void (AppDelegate::*action)()) {
        return command(menu, title, key, [self, action] {
            if (self)
                (self.data()->*action)();
        });
    };

    QMenu *app = menuBar_->addMenu(QStringLiteral("Velto"));
    item(app, QStringLiteral("About Velto"), {}, &AppDelegate::about);
    app->addSeparator();
    item(app, QStringLiteral("Open Clients Folder"), QStringLiteral("o"), &AppDelegate::openWorkspace);
    item(app, QStringLiteral("Change Clients Folder…"), {}, &AppDelegate::changeWorkspace);
    item(app, QStringLiteral("New Session"), QStringLiteral("n"), &AppDelegate::newSessionMenu);
    item(app, QStringLiteral("Open Another Folder…"), QStringLiteral("O"), &AppDelegate::openProject);
    item(app, QStringLiteral("Sync Clients from Hallix"), {}, &AppDelegate::manualSync);
    app->addSeparator();
    item(app, QStringLiteral("Usage & Plan…"), QStringLiteral("u"), &AppDelegate::showUsage);
    item(app, QStringLiteral("Upgrade Plan…"), {}, &AppDelegate::showPlans);
    item(app, QStringLiteral("Skills…"), QStringLiteral("k"), &AppDelegate::showGallery);
    item(app, QStringLiteral("Edit Skills & Agents…"), {}, &AppDelegate::showSkills);
    item(app, QStringLiteral("Portal Logins…"), QStringLiteral("l"), &AppDelegate::showPortals);
    item(app, QStringLiteral("Integrations (ERP, Tally, CLI)…"), QStringLiteral("i"), &AppDelegate::showIntegrations);
    item(app, QStringLiteral("Ledgora ERP…"), {}, &AppDelegate::showErp);
    item(app, QStringLiteral("Network Activity…"), {}, &AppDelegate::showActivity);
    app->addSeparator();
    item(app, QStringLiteral("Sign Out"), {}, &AppDelegate::signOut);
    app->addSeparator();
    // This desktop has no hidden applications: hiding sets every window aside.
    command(app, QStringLiteral("Hide Velto"), QStringLiteral("h"), [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowType() != Qt::ToolTip && w->windowType() != Qt::Popup)
                w->showMinimized();
    });
    item(app, QStringLiteral("Quit Velto"), QStringLiteral("q"), &AppDelegate::quit);

    QMenu *edit = menuBar_->addMenu(QStringLiteral("Edit"));
    command(edit, QStringLiteral("Undo"), QStringLiteral("z"), [] { editCommand(QWebEnginePage::Undo, "undo"); });
    command(edit, QStringLiteral("Redo"), QStringLiteral("Z"), [] { editCommand(QWebEnginePage::Redo, "redo"); });
    edit->addSeparator();
    command(edit, QStringLiteral("Cut"), QStringLiteral("x"), [] { editCommand(QWebEnginePage::Cut, "cut"); });
    command(edit, QStringLiteral("Copy"), QStringLiteral("c"), [] { editCommand(QWebEnginePage::Copy, "copy"); });
    command(edit, QStringLiteral("Paste"), QStringLiteral("v"), [] { editCommand(QWebEnginePage::Paste, "paste"); });
    command(edit, QStringLiteral("Select All"), QStringLiteral("a"),
            [] { editCommand(QWebEnginePage::SelectAll, "selectAll"); });

    QMenu *view = menuBar_->addMenu(QStringLiteral("View"));
    QMenu *appearance = view->addMenu(QStringLiteral("Appearance"));
    // The mark sits on the theme in force: the override while there is one.
    const QString inForce = Theme::override().value_or(Theme::mode());
    for (const auto &[title, action] :
         {std::pair{QStringLiteral("Light"), &AppDelegate::setAppearanceLight},
          std::pair{QStringLiteral("Dark"), &AppDelegate::setAppearanceDark},
          std::pair{QStringLiteral("Match System"), &AppDelegate::setAppearanceSystem}}) {
        QAction *a = item(appearance, title, {}, action);
        a->setCheckable(true);
        a->setChecked(title.toLower().remove(QStringLiteral("match ")) == inForce);
    }
    view->addSeparator();
    item(view, QStringLiteral("Toggle Sidebar"), QStringLiteral("b"), &AppDelegate::toggleSidebar);
    view->addSeparator();
    item(view, QStringLiteral("Chat"), QStringLiteral("1"), &AppDelegate::showChat);
    item(view, QStringLiteral("Browser"), QStringLiteral("2"), &AppDelegate::showBrowser);
    view->addSeparator();
    item(view, QStringLiteral("New Browser Tab"), QStringLiteral("t"), &AppDelegate::newBrowserTab);
    item(view, QStringLiteral("Close Browser Tab"), QStringLiteral("w"), &AppDelegate::closeBrowserTab);
    item(view, QStringLiteral("Next Browser Tab"), QStringLiteral("]"), &AppDelegate::nextBrowserTab);
    view->addSeparator();
    item(view, QStringLiteral("Reload"), QStringLiteral("r"), &AppDelegate::reload);
    item(view, QStringLiteral("Actual Size"), QStringLiteral("0"), &AppDelegate::zoomReset);
    QAction *in = item(view, QStringLiteral("Zoom In"), QStringLiteral("+"), &AppDelegate::zoomIn);
    // "+" shares its key with "=" on most keyboards.
    in->setShortcuts({keyFor(QStringLiteral("+")), keyFor(QStringLiteral("="))});
    item(view, QStringLiteral("Zoom Out"), QStringLiteral("-"), &AppDelegate::zoomOut);
    view->addSeparator();
    QPointer<QWidget> main(window_);
    command(view, QStringLiteral("Enter Full Screen"), QStringLiteral("f"), [main] {
        if (QWidget *w = keyWindow(main))
            w->setWindowState(w->windowState() ^ Qt::WindowFullScreen);
    });

    QMenu *windows = menuBar_->addMenu(QStringLiteral("Window"));
    command(windows, QStringLiteral("Minimize"), QStringLiteral("m"), [main] {
        if (QWidget *w = keyWindow(main))
            w->showMinimized();
    });
    command(windows, QStringLiteral("Zoom"), {}, [main] {
        if (QWidget *w = keyWindow(main))
            w->setWindowState(w->windowState() ^ Qt::WindowMaximized);
    });

    QMenu *help = menuBar_->addMenu(QStringLiteral("Help"));
    item(help, QStringLiteral("Velto help on Hallix"), QStringLiteral("?"), &AppDelegate::openHelp);
    item(help, QStringLiteral("Usage & Plan…"), {}, &AppDelegate::showUsage);
    // The window's views move under the bar once it has its height.
    menuBar_->show();
    layoutWindow();
}

QMenu *AppDelegate::accountMenu()
{
    auto *menu = new QMenu(window_);
    const QString email = seatEmail().value_or(QString());
    menu->addAction(email.isEmpty() ? QStringLiteral("signed in") : PanelKit::asWritten(email))->setEnabled(false);
    menu->addSeparator();
    QPointer<AppDelegate> self(this);
    auto item = [menu, self](const QString &title, void (AppDelegate::*action)()) {
        QObject::connect(menu->addAction(PanelKit::asWritten(title)), &QAction::triggered, menu, [self, action] {
            if (self)
                (self.data()->*action)();
        });
    };
    item(QStringLiteral("Usage & Plan…"), &AppDelegate::showUsage);
    item(QStringLiteral("Upgrade Plan…"), &AppDelegate::showPlans);
    item(QStringLiteral("Skills & Agents…"), &AppDelegate::showSkills);
    item(QStringLiteral("Portal Logins…"), &AppDelegate::showPortals);
    item(QStringLiteral("Integrations…"), &AppDelegate::showIntegrations);
    item(QStringLiteral("Ledgora ERP…"), &AppDelegate::showErp);
    item(QStringLiteral("Open Clients Folder"), &AppDelegate::openWorkspace);
    item(QStringLiteral("Sync Clients from Hallix"), &AppDelegate::manualSync);
    menu->addSeparator();
    item(QStringLiteral("Hallix dashboard"), &AppDelegate::openHelp);
    item(QStringLiteral("Sign Out"), &AppDelegate::signOut);
    return menu;
}

// --- simple actions -------------------------------------------------------------------

void AppDelegate::about()
{
    QString version = QStringLiteral("1.0.0");
    QFile file(joinPath(VELTO_HOME, QStringLiteral("VERSION")));
    // A version is one short line; a large file is not read.
    if (file.size() <= 4096 && file.open(QIODevice::ReadOnly))
        version = QString::fromUtf8(file.readAll()).trimmed();
    const QString email = seatEmail().value_or(QStringLiteral("-"));
    ::alert(QStringLiteral("Velto ") + version,
            QStringLiteral("A work agent for Chartered Accountants, by Hallix.\n\nSigned in as ") + email +
                QStringLiteral("\nWorkspace: ") + (work_ ? *work_ : QStringLiteral("not set")),
            Dialogs::Style::Informational);
}

void AppDelegate::openWorkspace()
{
    if (work_)
        Desktop::openUrl(QUrl::fromLocalFile(*work_));
}

void AppDelegate::newSessionMenu()
{
    sessions_.startNewSession();
}

void AppDelegate::manualSync()
{
    syncClients();
}

void AppDelegate::signOut()
{
    QPointer<AppDelegate> self(this);
    SignIn::signOut([self] {
        if (self)
            self->quit();
    });
}

void AppDelegate::openHelp()
{
    const QUrl url(API + QStringLiteral("/ca/cli"), QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty())
        Desktop::openUrl(url);
}

// --- the browser's tabs, reload and zoom ----------------------------------------------

void AppDelegate::newBrowserTab()
{
    showBrowser();
    browser_->newTab(QUrl(), true);
}

void AppDelegate::closeBrowserTab()
{
    if (showingBrowser_)
        browser_->closeTab(browser_->current());
}

void AppDelegate::nextBrowserTab()
{
    showBrowser();
    browser_->nextTab();
}

WebView *AppDelegate::frontWeb() const
{
    return showingBrowser_ ? browser_->web() : chat_;
}

void AppDelegate::reload()
{
    if (WebView *web = frontWeb())
        web->reload();
}

void AppDelegate::zoomIn()
{
    if (WebView *web = frontWeb())
        web->setZoomFactor(std::min(web->zoomFactor() + 0.1, 2.0));
}

void AppDelegate::zoomOut()
{
    if (WebView *web = frontWeb()) {
        const qreal z = web->zoomFactor() - 0.1;
        web->setZoomFactor(z <= 0.6 ? 0.6 : z);
    }
}

void AppDelegate::zoomReset()
{
    if (WebView *web = frontWeb())
        web->setZoomFactor(1.0);
}

// --- folders ------------------------------------------------------------------------------

void AppDelegate::openFolder(const QString &folder)
{
    const QString path = QDir::cleanPath(folder);
    recentFolders_.removeAll(path);
    recentFolders_.prepend(path);
    sidebar_->setFolders(recentFolders_, path);
    statusLabel_->setText(QFileInfo(path).fileName());
    openNewestSession(path, sessions_.enginePort ? sessions_.enginePort() : engine_.port());
}

void AppDelegate::openNewestSession(const QString &folder, int port)
{
    QPointer<AppDelegate> self(this);
    sidebar_->refreshSessions(port, [self, folder] {
        if (!self)
            return;
        for (const SessionRow &row : self->sidebar_->sessions()) {
            if (row.directory == folder) {
                self->sessions_.openSession(row);
                return;
            }
        }
        self->sessions_.startNewSession();
    });
}

void AppDelegate::openProject()
{
    Dialogs::FolderPanel panel;
    panel.prompt = QStringLiteral("Open in Velto");
    panel.message = QStringLiteral("Pick any folder — a client folder, a downloads folder, anything you want Velto to work in.");
    panel.startDir = work_ ? *work_ : HOME;
    panel.canCreateFolders = true;
    const std::optional<QString> chosen = Dialogs::openFolder(panel);
    if (chosen && !chosen->isEmpty())
        openFolder(*chosen);
}

// --- the cloud's pages ----------------------------------------------------------------------

namespace {

// The Case Board and the Wallet: the cloud answers a short-lived address of
// the page, which opens in a browser tab.
void openCloudPage(QPointer<AppDelegate> self, const QString &name, const QString &path, int board)
{
    const std::optional<QString> token = ErpConnect::seatToken();
    const QUrl url(ErpConnect::hallix() + path, QUrl::StrictMode);
    if (!token || token->isEmpty() || !url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        ::alert(name, QStringLiteral("Sign in to Hallix first."), Dialogs::Style::Warning);
        return;
    }
    self->splashMessage(QStringLiteral("Opening ") + name + QStringLiteral("…"));
    QJsonObject body{{QStringLiteral("theme"), self->paintedDark() ? QStringLiteral("dark") : QStringLiteral("light")}};
    if (board >= 1)
        body.insert(QStringLiteral("board_id"), board);
    ErpClient::request(url, token, QStringLiteral("POST"), std::nullopt, body, [self, name](const ErpClient::Answer &a) {
        if (!self)
            return;
        const QJsonValue link = a.json ? a.json->value(QStringLiteral("url")) : QJsonValue();
        const QUrl page(link.toString(), QUrl::StrictMode);
        self->splashMessage(QString());
        if (link.isString() && page.isValid() && !page.isEmpty()) {
            self->showBrowser();
            self->browser()->newTab(page, true);
            return;
        }
        ::alert(name,
                QStringLiteral("Hallix did not open ") + name + QStringLiteral(": ") +
                    a.error.value_or(QStringLiteral("no reply")) + QStringLiteral(". Try again in a moment."),
                Dialogs::Style::Warning);
    });
}

} // namespace

void AppDelegate::openCaseBoard(int board)
{
    openCloudPage(this, QStringLiteral("Case Board"), QStringLiteral("/cli/case_link"), board);
}

void AppDelegate::openWallet()
{
    openCloudPage(this, QStringLiteral("Wallet"), QStringLiteral("/cli/wallet_link"), 0);
}

// --- the mail app ----------------------------------------------------------------------------

void AppDelegate::openMail()
{
    const bool door = MailBridge::doorFor().has_value();
    const std::optional<MailApp::Found> app = MailApp::locate();
    if (!app) {
        ::alert(QStringLiteral("Mail"),
                QStringLiteral("Hallix Mail is not on this computer yet. It keeps the firm's mailbox, calendar and contacts "
                               "here rather than on a server, and Velto reads it only while you leave its Velto bridge "
                               "on. Download it from ") +
                    MAIL_DOWNLOAD + QStringLiteral(", install it, then open Mail again."),
                Dialogs::Style::Warning);
        return;
    }
    const QString error = MailApp::open(*app);
    if (!error.isEmpty()) {
        ::alert(QStringLiteral("Mail"), QStringLiteral("Hallix Mail did not open: ") + error, Dialogs::Style::Warning);
        return;
    }
    splashMessage(door ? QStringLiteral("Hallix Mail is open — Velto can read this mailbox.")
                       : QStringLiteral("Hallix Mail is open. Turn on Settings → General → Velto bridge there, then "
                                        "restart Hallix Mail, to let Velto read the mailbox."));
}
