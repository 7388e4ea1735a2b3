// The hooks that let demo and test runs drive the app without a person.
#include "app/AppDelegate.h"
#include "app/Shutdown.h"
#include "app/Sidebar.h"
#include "browser/BrowserPane.h"
#include "browser/PortalLoginsWindow.h"
#include "core/JsonFields.h"
#include "panels/ActivityLogWindow.h"
#include "panels/ErpWindow.h"
#include "panels/IntegrationsWindow.h"
#include "panels/PlansWindow.h"
#include "panels/UsageWindow.h"
#include "platform/Dispatch.h"
#include "platform/WebView.h"
#include "skills/GalleryWindow.h"
#include "skills/SkillsWindow.h"
#include "toolserver/BrowserMCP.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QJsonArray>
#include <QMap>
#include <QProcessEnvironment>
#include <QSaveFile>
#include <QScreen>
#include <QWindow>
#include <cstdlib>
#include <limits>

double AppDelegate::demoRingClock()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

void AppDelegate::armExitFallback()
{
    // Off the main thread: a main loop that has ended (or is stuck on the
    // way out) could not run a timer. The guard ends the engine's group and
    // the process.
    Shutdown::begin(2);
}

namespace {

// The application's windows in the order they were made.
QList<QWidget *> appWindows()
{
    QList<QWidget *> out;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWindow *handle : QGuiApplication::topLevelWindows()) {
        for (QWidget *w : widgets) {
            if (w->windowHandle() == handle) {
                out << w;
                break;
            }
        }
    }
    return out;
}

} // namespace

QList<QWidget *> AppDelegate::otherVisibleWindows(QWidget *main)
{
    QList<QWidget *> out;
    for (QWidget *w : appWindows())
        if (w != main && w->isVisible() && w->windowType() != Qt::ToolTip)
            out << w;
    return out;
}

void AppDelegate::demoAction(const QString &name, const QJsonObject &args)
{
    if (name == QLatin1String("chat")) {
        showChat();
    } else if (name == QLatin1String("browser")) {
        showBrowser();
    } else if (name == QLatin1String("newSession")) {
        sessions_.startNewSession();
    } else if (name == QLatin1String("gallery")) {
        showGallery();
    } else if (name == QLatin1String("caseboard")) {
        const std::optional<qint64> board = JsonFields::integer(args, "board");
        openCaseBoard(board && *board >= 0 && *board <= std::numeric_limits<int>::max() ? int(*board) : 0);
    } else if (name == QLatin1String("wallet")) {
        openWallet();
    } else if (name == QLatin1String("plans")) {
        showPlans();
    } else if (name == QLatin1String("usage")) {
        showUsage();
    } else if (name == QLatin1String("skills")) {
        showSkills();
    } else if (name == QLatin1String("integrations")) {
        showIntegrations();
    } else if (name == QLatin1String("activity")) {
        showActivity();
    } else if (name == QLatin1String("erp")) {
        showErp();
    } else if (name == QLatin1String("portals")) {
        showPortals();
    } else if (name == QLatin1String("limits")) {
        showLimits(sidebar_);
    } else if (name == QLatin1String("job")) {
        if (const std::optional<QString> text = JsonFields::text(args, "text"))
            sessions_.startJob(*text);
    } else if (name == QLatin1String("gallerySearch")) {
        const std::optional<QString> text = JsonFields::text(args, "text");
        if (text && galleryPanel_)
            galleryPanel_->demoType(*text);
    } else if (name == QLatin1String("size")) {
        const QJsonArray wh = args.value(QStringLiteral("wh")).toArray();
        if (wh.size() != 2 || !wh.at(0).isDouble() || !wh.at(1).isDouble() || !window_)
            return;
        QScreen *screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
        if (!screen)
            return;
        const QRect visible = screen->availableGeometry();
        const double w = wh.at(0).toDouble(), h = wh.at(1).toDouble();
        window_->setGeometry(qRound(visible.x() + (visible.width() - w) * 0.5),
                             qRound(visible.y() + (visible.height() - h) * 0.5), qRound(w), qRound(h));
        window_->update();
    } else if (name == QLatin1String("tab")) {
        const std::optional<QString> open = JsonFields::text(args, "open");
        const QUrl url(open.value_or(QString()), QUrl::StrictMode);
        if (!open || !url.isValid() || url.isEmpty())
            return;
        showBrowser();
        browser_->newTab(url, true);
    } else if (name == QLatin1String("closePanels")) {
        for (QWidget *w : otherVisibleWindows(window_))
            w->hide();
    } else if (name == QLatin1String("panelJS")) {
        const std::optional<QString> js = JsonFields::text(args, "js");
        const QList<QWidget *> others = otherVisibleWindows(window_);
        if (!js || others.isEmpty())
            return;
        if (WebView *web = firstWeb(others.first()))
            web->evaluate(*js, WebView::World::Page);
    }
}

WebView *AppDelegate::firstWeb(QWidget *view)
{
    if (!view)
        return nullptr;
    if (auto *web = qobject_cast<WebView *>(view))
        return web;
    for (QObject *child : view->children()) {
        auto *w = qobject_cast<QWidget *>(child);
        if (!w || w->isWindow())
            continue;
        if (WebView *found = firstWeb(w))
            return found;
    }
    return nullptr;
}

QColor AppDelegate::groundOf(QWidget *window)
{
    if (window && window->autoFillBackground())
        return window->palette().color(window->backgroundRole());
    return Theme::bg();
}

// --- the launch hooks -------------------------------------------------------------

void AppDelegate::scheduleSnapshotHooks()
{
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString panel = env.value(QStringLiteral("VELTO_OPEN_PANEL"));
    QPointer<AppDelegate> self(this);
    if (env.contains(QStringLiteral("VELTO_OPEN_PANEL")))
        Dispatch::after(1.2, [self, panel] {
            if (self)
                self->openPanelNamed(panel);
        });
    const QString prefix = env.value(QStringLiteral("VELTO_SNAPSHOT"));
    if (!prefix.isEmpty()) {
        // The cloud's pages open 5 s after the panel hook and then load.
        const bool page = panel == QLatin1String("caseboard") || panel == QLatin1String("wallet");
        Dispatch::after(page ? 14 : 6, [self, prefix] {
            if (self)
                self->writeSnapshots(prefix);
        });
    }
}

void AppDelegate::openPanelNamed(const QString &name)
{
    QPointer<AppDelegate> self(this);
    if (name == QLatin1String("caseboard") || name == QLatin1String("wallet")) {
        Dispatch::after(5, [self, name] {
            if (!self)
                return;
            if (name == QLatin1String("caseboard"))
                self->openCaseBoard(0);
            else
                self->openWallet();
        });
        return;
    }
    static const QMap<QString, void (AppDelegate::*)()> panels{
        {QStringLiteral("plans"), &AppDelegate::showPlans},
        {QStringLiteral("usage"), &AppDelegate::showUsage},
        {QStringLiteral("skills"), &AppDelegate::showSkills},
        {QStringLiteral("gallery"), &AppDelegate::showGallery},
        {QStringLiteral("activity"), &AppDelegate::showActivity},
        {QStringLiteral("portals"), &AppDelegate::showPortals},
        {QStringLiteral("integrations"), &AppDelegate::showIntegrations},
        // The snapshots name the ERP window among the panels, so it opens too.
        {QStringLiteral("erp"), &AppDelegate::showErp},
    };
    if (const auto show = panels.value(name))
        (this->*show)();
}

// --- the window snapshots -----------------------------------------------------------

namespace {

// prefix-name.png, replaced whole; nothing without an image, and a failed
// write is let go.
void savePicture(const QImage &image, const QString &prefix, const QString &name)
{
    if (image.isNull())
        return;
    QSaveFile file(prefix + QLatin1Char('-') + name + QStringLiteral(".png"));
    if (file.open(QIODevice::WriteOnly) && image.save(&file, "PNG"))
        file.commit();
}

} // namespace

void AppDelegate::writeSnapshots(const QString &prefix)
{
    QPointer<AppDelegate> self(this);
    composite(window_, Theme::bg(), Theme::glass(), liveWeb(), [self, prefix](const QImage &image) {
        if (!self)
            return;
        savePicture(image, prefix, QStringLiteral("main"));
        const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString name = env.value(QStringLiteral("VELTO_OPEN_PANEL"));
        if (!env.contains(QStringLiteral("VELTO_OPEN_PANEL")) || name == QLatin1String("caseboard")
            || name == QLatin1String("wallet")) {
            self->quitFromHook();
            return;
        }
        const QMap<QString, QWidget *> panels{
            {QStringLiteral("plans"), self->plansPanel_},
            {QStringLiteral("usage"), self->usagePanel_},
            {QStringLiteral("skills"), self->skillsPanel_},
            {QStringLiteral("portals"), self->portalPanel_},
            {QStringLiteral("integrations"), self->integrationsPanel_},
            {QStringLiteral("gallery"), self->galleryPanel_},
            {QStringLiteral("erp"), self->erpPanel_},
            {QStringLiteral("activity"), self->activityPanel_},
            {QStringLiteral("login"), self->login_.data()},
        };
        QWidget *panel = panels.value(name);
        if (!panel) {
            const QList<QWidget *> others = otherVisibleWindows(self->window_);
            panel = others.isEmpty() ? nullptr : others.first();
        }
        if (!panel) {
            self->quitFromHook();
            return;
        }
        composite(panel, groundOf(panel), std::nullopt, nullptr, [self, prefix](const QImage &picture) {
            if (!self)
                return;
            savePicture(picture, prefix, QStringLiteral("panel"));
            self->quitFromHook();
        });
    });
}

void AppDelegate::quitFromHook()
{
    // A window-modal dialog (the sign-in window) is this desktop's sheet.
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *dialog = qobject_cast<QDialog *>(w); dialog && dialog->isVisible() && dialog->windowModality() == Qt::WindowModal)
            dialog->hide();
    quit();
    armExitFallback();
}
