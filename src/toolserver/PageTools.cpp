#include "toolserver/PageTools.h"
#include "browser/BrowserPane.h"
#include "browser/BrowserTab.h"
#include "browser/Hosts.h"
#include "browser/PageScripts.h"
#include "platform/WebView.h"
#include "toolserver/PaneTool.h"

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <limits>

namespace PageTools {

namespace {

const QString &kNoWindow = PaneTool::NO_WINDOW;
using PaneTool::answer;
using PaneTool::paneOf;

// Arguments are read by key and type; another type counts as absent.
std::optional<QString> stringArg(const QJsonObject &args, const char *key)
{
    const QJsonValue v = args.value(QLatin1String(key));
    return v.isString() ? std::optional<QString>(v.toString()) : std::nullopt;
}

std::optional<double> numberArg(const QJsonObject &args, const char *key)
{
    const QJsonValue v = args.value(QLatin1String(key));
    return v.isDouble() ? std::optional<double>(v.toDouble()) : std::nullopt;
}

// A whole number only: 1.5 or "1" count as absent.
std::optional<int> intArg(const QJsonObject &args, const char *key)
{
    const QJsonValue v = args.value(QLatin1String(key));
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (d != std::trunc(d) || d < std::numeric_limits<int>::min() || d > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(d);
}

std::optional<QString> hostOf(const QUrl &url)
{
    return url.host().isEmpty() ? std::nullopt : std::optional<QString>(url.host());
}

// What the engine typed as an address: "https://" unless it names a scheme.
QUrl addressFrom(QString text)
{
    if (!text.contains(QStringLiteral("://")))
        text.prepend(QStringLiteral("https://"));
    return QUrl(text, QUrl::StrictMode);
}

QString hostOrThatHost(const QUrl &url)
{
    return url.host().isEmpty() ? QStringLiteral("that host") : url.host();
}

// Snapshot now, no settling.
void readNow(BrowserPane &pane, bool full, std::function<void(const QString &)> done)
{
    pane.evalJS(BrowserPane::snapshotJS(full), [done = std::move(done)](const QString &out) { done(pretty(out)); });
}

// The answer of a tool that moved the shown tab (or waited on it): an error
// naming what happened and where the tab is when its latest navigation did
// not arrive, else the answer as it is.
BrowserMCP::Done unlessLoadFailed(BrowserPane &pane, const BrowserMCP::Done &done)
{
    QPointer<BrowserPane> p(&pane);
    return [p, done](const QJsonObject &result) {
        BrowserTab *tab = p ? p->activeTab() : nullptr;
        if (!tab || !tab->failure || result.value(QStringLiteral("isError")).toBool()) {
            done(result);
            return;
        }
        // Where the tab is, without what a query or fragment may carry.
        const QUrl url = tab->web()->url().adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo);
        done(answer(QStringLiteral("The page did not load: ") + *tab->failure + QStringLiteral(". The tab's address is ") +
                        (url.isEmpty() ? QStringLiteral("blank") : url.toString(QUrl::FullyEncoded)) +
                        QStringLiteral("."),
                    true));
    };
}

// The shown tab is about to be moved by a tool: an earlier failure is not this one's.
void forgetFailure(BrowserPane &pane)
{
    if (BrowserTab *tab = pane.activeTab())
        tab->failure.reset();
}

} // namespace

QString decimal(double y)
{
    QString s = QString::number(y, 'g', QLocale::FloatingPointShortest);
    if (!s.contains(QLatin1Char('.')) && !s.contains(QLatin1Char('e')) && !s.contains(QLatin1Char('n')))
        s += QStringLiteral(".0");
    return s;
}

QString pretty(const QString &snapshot)
{
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(snapshot.toUtf8(), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return snapshot;
    const QJsonObject o = doc.object();
    auto text = [&o](const char *key) {
        const QJsonValue v = o.value(QLatin1String(key));
        return v.isString() ? v.toString() : QString();
    };
    QStringList elements;
    const QJsonValue ev = o.value(QStringLiteral("elements"));
    if (ev.isArray()) {
        const QJsonArray arr = ev.toArray();
        // A list holding anything but texts is no list of lines.
        if (std::all_of(arr.begin(), arr.end(), [](const QJsonValue &v) { return v.isString(); }))
            for (const QJsonValue &v : arr)
                elements << v.toString();
    }
    QString cap;
    const QJsonValue total = o.value(QStringLiteral("total"));
    if (total.isDouble() && total.toDouble() == std::trunc(total.toDouble()) && elements.size() < total.toDouble())
        cap = QStringLiteral("\n… %1 of %2 controls shown — browser_read for the full page")
                  .arg(elements.size())
                  .arg(qint64(total.toDouble()));
    return QStringLiteral("URL: ") + text("url") + QStringLiteral("\nTitle: ") + text("title") +
           QStringLiteral("\n\n--- controls ---\n") + elements.join(QLatin1Char('\n')) + cap +
           QStringLiteral("\n\n--- page text ---\n") + text("text");
}

void settle(BrowserPane &pane, double seconds, bool full, const BrowserMCP::Done &done,
            std::function<QString(const QString &)> reply)
{
    QPointer<BrowserPane> p(&pane);
    delay(seconds, [p, full, done, reply = std::move(reply)] {
        if (!p) {
            done(answer(kNoWindow, true));
            return;
        }
        whenLoaded(*p, [p, full, done, reply] {
            if (!p) {
                done(answer(kNoWindow, true));
                return;
            }
            readNow(*p, full, [done, reply](const QString &page) { done(answer(reply ? reply(page) : page)); });
        });
    });
}

void whenLoaded(BrowserPane &pane, std::function<void()> then)
{
    BrowserTab *tab = pane.activeTab();
    if (!tab || !tab->loading) {
        then();
        return;
    }
    // Whichever comes first, once: the load ends, the tab is closed, or the
    // bound passes.
    auto pending = std::make_shared<std::function<void()>>(std::move(then));
    auto finish = [pending] {
        if (!*pending)
            return;
        const std::function<void()> run = std::move(*pending);
        *pending = nullptr;
        run();
    };
    QPointer<QObject> watcher = new QObject(tab->web());
    QObject::connect(tab->web(), &QWebEngineView::loadFinished, watcher, [watcher, finish] {
        watcher->deleteLater();
        finish();
    });
    // Gone with its view: answered from the tab shown once the closing is done.
    QObject::connect(watcher, &QObject::destroyed, [finish] { Dispatch::onMain(finish); });
    QTimer::singleShot(int(loadWaitSeconds * 1000.0), watcher, [watcher, finish] {
        watcher->deleteLater();
        finish();
    });
}

void open(QObject &obj, const QJsonObject &args, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    const std::optional<QString> text = stringArg(args, "url");
    const QUrl url = text ? addressFrom(*text) : QUrl();
    if (!text || !url.isValid()) {
        done(answer(QStringLiteral("A valid url is required."), true));
        return;
    }
    if (!hostAllowed(hostOf(url))) {
        done(answer(hostOrThatHost(url) +
                        QStringLiteral(" is outside the allowed list. Velto only opens Indian government and Hallix "
                                       "sites."),
                    true));
        return;
    }
    forgetFailure(*pane);
    pane->load(url);
    // The address named is the one asked for, not where the page ended up.
    const QString opened = QStringLiteral("Opened ") + url.toString(QUrl::FullyEncoded) + QStringLiteral("\n\n");
    settle(*pane, 2.2, false, unlessLoadFailed(*pane, done), [opened](const QString &page) { return opened + page; });
}

void read(QObject &obj, const QJsonObject &, const BrowserMCP::Done &done)
{
    if (BrowserPane *pane = paneOf(obj, done))
        readNow(*pane, true, [done](const QString &page) { done(answer(page)); });
}

void find(QObject &obj, const QJsonObject &args, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    // The controls are numbered exactly as a snapshot numbers them (the same
    // list, the same visibility rule), so a ref from a find and one from a
    // read name the same control. A secret value is never matched or shown,
    // wherever the page copies it. The page is read whole before any ref is
    // written.
    static const QString script = QStringLiteral(
        "(function(){%1\n"
        "var q=(%2).toLowerCase();"
        "var counted=controls(),out=[];"
        "for(var i=0;i<counted.length&&out.length<40;i++){var e=counted[i];"
        "var value=(!secret(e)&&typeof e.value==='string')?e.value:'';"
        "var inner=typeof e.innerText==='string'?e.innerText:'';"
        "var hay=red([attr(e,'aria-label'),attr(e,'title'),attr(e,'placeholder'),inner,value].join(' ')).toLowerCase();"
        "if(hay.indexOf(q)<0)continue;"
        "var l=red((inner||value||attr(e,'aria-label')).trim()).replace(/\\s+/g,' ');"
        "out.push('r'+(i+1)+' '+e.tagName.toLowerCase()+' \"'+cut(l,80)+'\"');}"
        "numberControls(counted);"
        "return out.length?out.join('\\n'):'no match';})()");
    const QString text = stringArg(args, "text").value_or(QString()).toLower();
    pane->evalJS(script.arg(pageHelpersJS(), jsQuote(text)), [done](const QString &out) { done(answer(out)); });
}

void back(QObject &obj, const QJsonObject &, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    forgetFailure(*pane);
    pane->web()->back();
    settle(*pane, 1.6, false, unlessLoadFailed(*pane, done));
}

void reload(QObject &obj, const QJsonObject &, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    forgetFailure(*pane);
    pane->web()->reload();
    settle(*pane, 2.0, false, unlessLoadFailed(*pane, done));
}

void wait(QObject &obj, const QJsonObject &args, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    const double seconds = std::clamp(numberArg(args, "seconds").value_or(2.0), 0.5, 15.0);
    settle(*pane, seconds, true, unlessLoadFailed(*pane, done));
}

void screenshot(QObject &obj, const QJsonObject &, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    // The engine's picture never shows a secret field: where each one is on
    // the page is read first, and those places are painted over in the copy
    // the engine gets. The CA's own view is left as it is. When the places
    // cannot be read, no picture goes out.
    static const QString where = QStringLiteral(
        "(function(){%1\n"
        "var ins=document.querySelectorAll('input,textarea'),rects=[];"
        "for(var i=0;i<ins.length;i++){if(!secret(ins[i]))continue;var r=ins[i].getBoundingClientRect();"
        "if(r.width>0&&r.height>0)rects.push([r.left,r.top,r.width,r.height]);}"
        "return JSON.stringify({w:window.innerWidth,h:window.innerHeight,rects:rects});})()");
    QPointer<BrowserPane> p(pane);
    pane->evalJS(where.arg(pageHelpersJS()), [p, done](const QString &out) {
        if (!p) {
            done(answer(kNoWindow, true));
            return;
        }
        const QJsonObject at = QJsonDocument::fromJson(out.toUtf8()).object();
        QImage image = p->web()->snapshot();
        const double w = at.value(QStringLiteral("w")).toDouble();
        const double h = at.value(QStringLiteral("h")).toDouble();
        QByteArray png;
        QBuffer buffer(&png);
        if (!at.value(QStringLiteral("rects")).isArray() || w <= 0 || h <= 0 || image.isNull()) {
            done(answer(QStringLiteral("Screenshot failed."), true));
            return;
        }
        const double sx = image.width() / w, sy = image.height() / h;
        {
            QPainter painter(&image);
            for (const QJsonValue &r : at.value(QStringLiteral("rects")).toArray()) {
                const QJsonArray a = r.toArray();
                const QRectF css(a.at(0).toDouble(), a.at(1).toDouble(), a.at(2).toDouble(), a.at(3).toDouble());
                const QRectF px(css.x() * sx, css.y() * sy, css.width() * sx, css.height() * sy);
                painter.fillRect(px.adjusted(-2, -2, 2, 2).toAlignedRect(), QColor(0x55, 0x55, 0x55));
            }
        }
        if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG") || png.isEmpty()) {
            done(answer(QStringLiteral("Screenshot failed."), true));
            return;
        }
        done(BrowserMCP::image(png));
    });
}

void scroll(QObject &obj, const QJsonObject &args, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    QString movement;
    if (const std::optional<double> y = numberArg(args, "y")) {
        movement = QStringLiteral("window.scrollTo(0,") + decimal(*y) + QStringLiteral(");");
    } else {
        const QString to = stringArg(args, "to").value_or(QString());
        if (to == QLatin1String("top"))
            movement = QStringLiteral("window.scrollTo(0,0);");
        else if (to == QLatin1String("bottom"))
            movement = QStringLiteral("window.scrollTo(0,document.body.scrollHeight);");
        else if (to == QLatin1String("previous"))
            movement = QStringLiteral("window.scrollBy(0,-(window.innerHeight-120));");
        else
            movement = QStringLiteral("window.scrollBy(0,window.innerHeight-120);");
    }
    const QString script = QStringLiteral("(function(){") + movement +
                           QStringLiteral("return JSON.stringify({y:Math.round(window.scrollY),h:Math.round(document."
                                          "body.scrollHeight),view:Math.round(window.innerHeight)});})()");
    QPointer<BrowserPane> p(pane);
    pane->evalJS(script, [p, done](const QString &position) {
        if (position.startsWith(QLatin1String("ERROR:"))) {
            done(answer(QStringLiteral("Could not scroll: ") + position, true));
            return;
        }
        if (!p) {
            done(answer(kNoWindow, true));
            return;
        }
        settle(*p, 0.5, true, done, [position](const QString &page) {
            return QStringLiteral("Scrolled. ") + position + QStringLiteral("\n\n") + page;
        });
    });
}

void tabs(QObject &obj, const QJsonObject &, const BrowserMCP::Done &done)
{
    if (BrowserPane *pane = paneOf(obj, done))
        done(answer(pane->tabList()));
}

void tabNew(QObject &obj, const QJsonObject &args, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    QUrl address;
    if (const std::optional<QString> text = stringArg(args, "url"); text && !text->isEmpty()) {
        const QUrl url = addressFrom(*text);
        if (url.isValid())
            address = url;
    }
    if (!address.isEmpty() && !hostAllowed(hostOf(address))) {
        done(answer(hostOrThatHost(address) + QStringLiteral(" is outside the allowed list."), true));
        return;
    }
    const int index = pane->newTab(address, true);
    const QString opened = QStringLiteral("Opened tab %1\n\n").arg(index);
    settle(*pane, address.isEmpty() ? 0.4 : 2.2, false, done, [opened](const QString &page) { return opened + page; });
}

void tabSelect(QObject &obj, const QJsonObject &args, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    const int index = intArg(args, "index").value_or(-1);
    if (index < 0 || index >= pane->tabs().size()) {
        done(answer(QStringLiteral("No tab %1.\n\n").arg(index) + pane->tabList(), true));
        return;
    }
    pane->select(index);
    settle(*pane, 0.4, false, done);
}

void tabClose(QObject &obj, const QJsonObject &args, const BrowserMCP::Done &done)
{
    BrowserPane *pane = paneOf(obj, done);
    if (!pane)
        return;
    const int index = intArg(args, "index").value_or(-1);
    if (index < 0 || index >= pane->tabs().size()) {
        done(answer(QStringLiteral("No tab %1.").arg(index), true));
        return;
    }
    pane->closeTab(index);
    done(answer(QStringLiteral("Closed tab %1.\n\n").arg(index) + pane->tabList()));
}

} // namespace PageTools
