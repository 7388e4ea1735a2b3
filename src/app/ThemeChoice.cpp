// The CA's light/dark choice: kept in "app.json", applied to the application,
// every window the delegate owns, the chat page, the splash page and the
// browser tabs, and covered by the circular reveal from the top bar's switch.
#include "app/AppDelegate.h"
#include "app/ChatScripts.h"
#include "app/Sidebar.h"
#include "app/SignIn.h"
#include "browser/BrowserPane.h"
#include "core/Globals.h"
#include "platform/Appearance.h"
#include "platform/Files.h"
#include "platform/WebView.h"
#include "ui/Mascot.h"
#include "ui/Reveal.h"
#include "ui/Theme.h"
#include "ui/ThemeSwitch.h"

#include <QApplication>
#include <QDateTime>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPainter>
#include <QPointer>

namespace {

const QString kTheme = QStringLiteral("theme");

QString appJson()
{
    return joinPath(VELTO_HOME, QStringLiteral("app.json"));
}

bool validMode(const QString &mode)
{
    return mode == QLatin1String("light") || mode == QLatin1String("dark") || mode == QLatin1String("system");
}

// The choice in force: the environment's override, else the CA's choice.
QString effectiveChoice()
{
    const std::optional<QString> forced = Theme::override();
    return forced ? *forced : Theme::mode();
}

// A drawing of the view as it is painted, kept for demo recording.
struct ChromePicture {
    QPointer<QWidget> view;
    QImage rep;
    QSize size;
    double at = 0;
};

QHash<const QWidget *, ChromePicture> &chromeCache()
{
    static QHash<const QWidget *, ChromePicture> cache;
    return cache;
}

double now()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

// The web view's frame in the view's coordinates.
QRectF webFrameIn(QWidget *view, WebView *web)
{
    return QRectF(view->mapFromGlobal(web->mapToGlobal(QPoint(0, 0))), QSizeF(web->size()));
}

// Whether the web view can give a picture of its page.
bool snapshotable(WebView *web)
{
    return web && !web->isHidden() && web->window() && web->width() > 0;
}

void compose(QPainter &p, const QSizeF &size, const QColor &ground, const std::optional<QColor> &glass,
             const QImage &chrome, const QImage &web, const QRectF &webFrame)
{
    const QRectF all(QPointF(0, 0), size);
    p.fillRect(all, ground);
    if (glass)
        p.fillRect(all, *glass);
    p.drawImage(all, chrome);
    if (!web.isNull()) {
        p.setClipRect(webFrame);
        p.drawImage(webFrame, web);
    }
}

} // namespace

// --- the saved choice ------------------------------------------------------------

void AppDelegate::loadTheme()
{
    const std::optional<QByteArray> data = Files::readAll(appJson());
    if (!data)
        return;
    const QJsonDocument doc = QJsonDocument::fromJson(*data);
    if (!doc.isObject())
        return;
    const QJsonValue value = doc.object().value(kTheme);
    if (!value.isString() || !validMode(value.toString()))
        return;
    Theme::setMode(value.toString());
}

void AppDelegate::saveTheme(const QString &mode)
{
    QJsonObject object;
    if (const std::optional<QByteArray> data = Files::readAll(appJson())) {
        const QJsonDocument doc = QJsonDocument::fromJson(*data);
        if (doc.isObject())
            object = doc.object();
    }
    object.insert(kTheme, mode);
    Files::writeAtomicMakingFolder(appJson(), QJsonDocument(object).toJson(QJsonDocument::Indented), 0644);
}

void AppDelegate::applyAppearance()
{
    QApplication::setPalette(Theme::palette());
}

// --- choosing --------------------------------------------------------------------

void AppDelegate::setAppearanceDark()
{
    switchTheme(QStringLiteral("dark"));
}

void AppDelegate::setAppearanceLight()
{
    switchTheme(QStringLiteral("light"));
}

void AppDelegate::setAppearanceSystem()
{
    switchTheme(QStringLiteral("system"));
}

void AppDelegate::themeSwitchToggled()
{
    switchTheme(paintedDark_ ? QStringLiteral("light") : QStringLiteral("dark"));
}

void AppDelegate::switchTheme(const QString &mode)
{
    if (themeSwitching_) {
        pendingThemeMode_ = mode;
        return;
    }
    if (Theme::mode() == mode && !Theme::override())
        return;
    if (Theme::mode() != mode)
        saveTheme(mode);
    const bool dark = mode == QLatin1String("system") ? Appearance::prefersDark() : mode == QLatin1String("dark");
    if (dark == paintedDark_) {
        // Nothing visible changes.
        Theme::setOverride(std::nullopt);
        Theme::setMode(mode);
        applyAppearance();
        rebuildMenu();
        return;
    }
    themeSwitching_ = true;
    QPointer<AppDelegate> self(this);
    oldLookPicture([self, mode](const QImage &picture) {
        if (!self)
            return;
        Theme::setOverride(std::nullopt);
        Theme::setMode(mode);
        self->applyAppearance();
        self->rebuildMenu();
        self->repaintAll();
        self->reveal(picture, Theme::isDark());
    });
}

void AppDelegate::systemAppearanceChanged()
{
    if (!window_ || effectiveChoice() != QLatin1String("system") || themeSwitching_
        || Theme::isDark() == paintedDark_)
        return;
    themeSwitching_ = true;
    QPointer<AppDelegate> self(this);
    oldLookPicture([self](const QImage &picture) {
        if (!self)
            return;
        self->applyAppearance();
        self->rebuildMenu();
        self->repaintAll();
        self->reveal(picture, Theme::isDark());
    });
}

void AppDelegate::oldLookPicture(const std::function<void(const QImage &)> &done)
{
    if (!window_ || Theme::reduceMotion() || !window_->isVisible() || window_->isMinimized()) {
        done(QImage());
        return;
    }
    composite(window_, Theme::bg(), Theme::glass(), liveWeb(), done);
}

// --- repainting ----------------------------------------------------------------------

void AppDelegate::repaintAll()
{
    if (!window_)
        return;
    paintChrome();
    sidebar_->repaint();
    browser_->repaint();
    // Animated only when the state really changes; assistive technology hears
    // of the value either way.
    themeSwitch_->setOn(Theme::isDark(), true);
    // A later page load starts in the new theme; the page shown now switches
    // live.
    ChatScripts::installChatScripts(chat_);
    chat_->evaluate(ChatScripts::liveThemeCall(), WebView::World::Page);
    if (splashWeb_)
        splashWeb_->evaluate(ChatScripts::liveThemeCall(), WebView::World::Page);
    if (login_)
        login_->repaint();
    ThemeBroadcast::postThemeDidChange();
    rebuildStalePanels();
    ThemeBroadcast::postThemeChanged();
}

void AppDelegate::rebuildStalePanels()
{
    // A panel window that cannot repaint itself would be closed here and built
    // again in the new theme. Every panel the delegate opens today follows the
    // theme through its PanelThemeWatch ("VeltoThemeDidChange" above), so
    // there is nothing to rebuild.
}

// --- the reveal --------------------------------------------------------------------

void AppDelegate::reveal(const QImage &picture, bool toDark)
{
    if (brandMark_) {
        brandMark_->glow(toDark);
        brandMark_->happy(1.4);
    }
    if (picture.isNull() || !window_ || Theme::reduceMotion()) {
        finishThemeSwitch();
        return;
    }
    const QRectF switchFrame(QPointF(themeSwitch_->mapTo(window_, QPoint(0, 0))), QSizeF(themeSwitch_->size()));
    auto *cover = new RevealOverlay(window_, picture, switchFrame.center(), switchFrame, toDark);
    cover->show();
    connect(cover, &RevealOverlay::finished, this, [this, cover] {
        cover->hide();
        cover->deleteLater();
        finishThemeSwitch();
    });
    cover->start();
}

void AppDelegate::finishThemeSwitch()
{
    themeSwitching_ = false;
    if (pendingThemeMode_) {
        const QString next = *pendingThemeMode_;
        pendingThemeMode_.reset();
        switchTheme(next);
        return;
    }
    // Catches a desktop change that came during the switch.
    systemAppearanceChanged();
}

// --- window pictures ------------------------------------------------------------------

void AppDelegate::composite(QWidget *view, const QColor &ground, const std::optional<QColor> &glass, WebView *web,
                            const std::function<void(const QImage &)> &done)
{
    if (!view || view->width() <= 0) {
        done(QImage());
        return;
    }
    const QSizeF size(view->size());
    if (!demoRecordScale) {
        const QPixmap chrome = view->grab();
        if (chrome.isNull()) {
            done(QImage());
            return;
        }
        QImage snapshot;
        QRectF webFrame;
        if (snapshotable(web)) {
            snapshot = web->snapshot();
            webFrame = webFrameIn(view, web);
        }
        const QImage image = scaledImage(size, chrome.devicePixelRatio(), [&](QPainter &p) {
            compose(p, size, ground, glass, chrome.toImage(), snapshot, webFrame);
        });
        done(image);
        return;
    }

    // Demo recording: s pixels per point, the chrome drawn at most every 0.6 s.
    const qreal s = *demoRecordScale;
    auto &cache = chromeCache();
    auto it = cache.find(view);
    const bool fresh = it != cache.end() && it->view == view && it->size == view->size() && now() - it->at < 0.6;
    QImage chrome;
    if (fresh) {
        chrome = it->rep;
    } else {
        chrome = scaledImage(size, s, [view](QPainter &p) { view->render(&p); });
        if (chrome.isNull()) {
            done(QImage());
            return;
        }
        cache.insert(view, ChromePicture{view, chrome, view->size(), now()});
    }
    QImage snapshot;
    QRectF webFrame;
    if (snapshotable(web)) {
        snapshot = web->snapshot();
        if (!snapshot.isNull())
            snapshot = snapshot.scaled(QSize(int(web->width() * s), int(web->height() * s)), Qt::IgnoreAspectRatio,
                                       Qt::SmoothTransformation);
        webFrame = webFrameIn(view, web);
    }
    done(scaledImage(size, s, [&](QPainter &p) { compose(p, size, ground, glass, chrome, snapshot, webFrame); }));
}

QImage AppDelegate::scaledImage(const QSizeF &size, qreal scale, const std::function<void(QPainter &)> &draw)
{
    const QSize pixels(int(size.width() * scale), int(size.height() * scale));
    if (pixels.isEmpty() || scale <= 0)
        return QImage();
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return QImage();
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    p.end();
    return image;
}
