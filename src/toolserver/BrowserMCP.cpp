#include "toolserver/BrowserMCP.h"
#include "toolserver/ActTools.h"
#include "toolserver/DocTools.h"
#include "toolserver/FileTools.h"
#include "toolserver/SkillSaveTool.h"
#include "toolserver/Families.h"
#include "toolserver/McpListener.h"
#include "toolserver/McpRpc.h"
#include "toolserver/PageTools.h"
#include "toolserver/PortalTools.h"
#include "toolserver/RecordTools.h"
#include "browser/BrowserPane.h"
#include "platform/Dialogs.h"
#include "platform/Dispatch.h"
#include "platform/WebView.h"

#include <QPointer>
#include <QSemaphore>
#include <QThread>
#include <QUuid>
#include <algorithm>
#include <atomic>
#include <mutex>

struct BrowserMCP::Core {
    QString token;
    std::atomic<quint16> port{0};
    QPointer<QObject> pane; // read on the main thread only

    // The tools/list result, built and serialised by the first request that
    // asks for it: the table does not change while the program runs.
    std::once_flag listOnce;
    QByteArray list;
    const QByteArray &listResult()
    {
        std::call_once(listOnce, [this] { list = McpRpc::listResult(BrowserMCP::tools()); });
        return list;
    }
};

namespace {

const QString kNoWindow = QStringLiteral("Browser window is not open.");

// An own tool's handler: runs on the main thread with the live pane.
using OwnHandler = void (*)(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);

struct OwnTool {
    const char *name;
    OwnHandler handler; // none yet: the tool answers as a closed window does
};

// The server's own tools, in the order a call's name is tested.
const OwnTool kOwnTools[] = {
    {"browser_open", &PageTools::open},       {"browser_read", &PageTools::read},     {"browser_find", &PageTools::find},
    {"browser_click", &ActTools::click},      {"portal_otp", &ActTools::otp},       {"browser_type", &ActTools::type},
    {"browser_select", &ActTools::select},     {"browser_back", &PageTools::back},     {"browser_reload", &PageTools::reload},
    {"browser_wait", &PageTools::wait},       {"browser_screenshot", &PageTools::screenshot}, {"browser_scroll", &PageTools::scroll},
    {"browser_downloads", &FileTools::browserDownloads}, {"browser_upload", &ActTools::upload}, {"skill_save", &SkillSaveTool::skillSave},
    {"doc_text", &DocTools::docText}, {"portal_logins", &PortalTools::logins},    {"portal_sign_in", &PortalTools::signIn},
    {"browser_tabs", &PageTools::tabs},       {"browser_tab_new", &PageTools::tabNew},  {"browser_tab_select", &PageTools::tabSelect},
    {"browser_tab_close", &PageTools::tabClose},  {"record_start", &RecordTools::start},     {"record_mark", &RecordTools::mark},
    {"record_status", &RecordTools::status},      {"record_stop", &RecordTools::stop},      {"record_render", &RecordTools::render},
};

// Tools that ask the CA nothing and act on no page: they answer whatever
// dialog is open. Every other call waits while one of the program's own
// dialogs is open, so no call runs inside another call's question.
const QSet<QString> kAnswerDuringDialogs{
    QStringLiteral("browser_tabs"),        QStringLiteral("record_status"),     QStringLiteral("doc_text"),
    QStringLiteral("portal_logins"),       QStringLiteral("erp_connections"),   QStringLiteral("erp_resources"),
    QStringLiteral("erp_schema"),          QStringLiteral("erp_list"),          QStringLiteral("erp_get"),
    QStringLiteral("erp_trial_balance"),   QStringLiteral("tally_status"),      QStringLiteral("tally_ledgers"),
    QStringLiteral("tally_vouchers"),      QStringLiteral("tally_trial_balance"), QStringLiteral("mail_accounts"),
    QStringLiteral("mail_search"),         QStringLiteral("mail_thread"),       QStringLiteral("mail_message"),
    QStringLiteral("mail_contacts"),       QStringLiteral("mail_calendar"),     QStringLiteral("cloud_drives"),
    QStringLiteral("cloud_search"),        QStringLiteral("books_connections"), QStringLiteral("books_accounts"),
    QStringLiteral("books_contacts"),      QStringLiteral("books_invoices"),    QStringLiteral("einvoice_status"),
    QStringLiteral("einvoice_get"),
};

// Tools that act on the page the browser shows: they wait while that page
// shows a dialog of its own (which holds nothing else). Closing a tab waits
// while any page shows one.
const QSet<QString> kOnShownPage{
    QStringLiteral("browser_open"),   QStringLiteral("browser_read"),   QStringLiteral("browser_find"),
    QStringLiteral("browser_click"),  QStringLiteral("portal_otp"),     QStringLiteral("browser_type"),
    QStringLiteral("browser_select"), QStringLiteral("browser_back"),   QStringLiteral("browser_reload"),
    QStringLiteral("browser_wait"),   QStringLiteral("browser_scroll"), QStringLiteral("browser_upload"),
    QStringLiteral("portal_sign_in"),
};

// The page dialog a call on the pane must wait for, if any.
WebView *pageDialogHolding(const QString &name, QObject *paneObject)
{
    auto *pane = qobject_cast<BrowserPane *>(paneObject);
    if (!pane)
        return nullptr;
    if (kOnShownPage.contains(name)) {
        BrowserTab *tab = pane->activeTab();
        return tab && tab->web()->pageDialogOpen() ? tab->web() : nullptr;
    }
    if (name == QLatin1String("browser_tab_close"))
        for (BrowserTab *tab : pane->tabs())
            if (tab->web()->pageDialogOpen())
                return tab->web();
    return nullptr;
}

QString newToken()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().remove(u'-');
}

// How many connections are read at once, each on its own I/O thread.
int ioThreadCount()
{
    return std::clamp(QThread::idealThreadCount(), 1, 4);
}

} // namespace

BrowserMCP::BrowserMCP(QObject *pane) : core_(std::make_shared<Core>())
{
    core_->token = newToken();
    core_->pane = pane;
}

void BrowserMCP::setPane(QObject *pane)
{
    core_->pane = pane;
}

BrowserMCP::~BrowserMCP()
{
    // The I/O threads end before the server's state goes.
    listener_.reset();
}

quint16 BrowserMCP::port() const
{
    return core_->port.load();
}

QString BrowserMCP::token() const
{
    return core_->token;
}

bool BrowserMCP::start()
{
    if (listening_)
        return port() != 0;
    if (!listener_) {
        std::weak_ptr<Core> weak = core_;
        listener_ = std::make_unique<McpListener>(
            ("Bearer " + core_->token).toUtf8(),
            [weak](const QJsonObject &message, const McpListener::Reply &reply) { handle(weak, message, reply); },
            ioThreadCount());
    }
    listening_ = true;
    auto ready = std::make_shared<QSemaphore>(0);
    std::weak_ptr<Core> weak = core_;
    listener_->listen([weak, ready](quint16 port) {
        // A listener that becomes ready late still records its port.
        if (auto core = weak.lock())
            core->port = port;
        ready->release();
    });
    ready->tryAcquire(1, 5000);
    return port() != 0;
}

void BrowserMCP::stop()
{
    if (listener_ && listening_)
        listener_->close();
    listening_ = false;
}

QJsonObject BrowserMCP::text(const QString &text, bool isError)
{
    return QJsonObject{
        {QStringLiteral("content"),
         QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("text")}, {QStringLiteral("text"), text}}}},
        {QStringLiteral("isError"), isError},
    };
}

QJsonObject BrowserMCP::image(const QByteArray &png)
{
    return QJsonObject{
        {QStringLiteral("content"),
         QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("image")},
                                {QStringLiteral("data"), QString::fromLatin1(png.toBase64())},
                                {QStringLiteral("mimeType"), QStringLiteral("image/png")}}}},
        {QStringLiteral("isError"), false},
    };
}

void BrowserMCP::call(const QString &name, const QJsonObject &args, Done done)
{
    dispatch(core_, name, args, std::move(done));
}

void BrowserMCP::dispatch(std::weak_ptr<Core> server, const QString &name, const QJsonObject &args, Done done)
{
    // Nothing is looked at before the hop to the main thread, and no call runs
    // inside another call's dialog (the reads aside).
    auto run = [server = std::move(server), name, args, done = std::move(done)] {
        for (const ToolFamily &family : Families::routed) {
            if (!family.names().contains(name))
                continue;
            if (server.expired()) {
                done(QJsonObject());
                return;
            }
            if (onActivity)
                onActivity(name);
            family.call(name, args, [done](const QString &answer, bool isError) { done(text(answer, isError)); });
            return;
        }
        const std::shared_ptr<Core> core = server.lock();
        if (!core) {
            done(QJsonObject());
            return;
        }
        QObject *pane = core->pane.data();
        if (!pane) {
            done(text(kNoWindow, true));
            return;
        }
        if (WebView *view = pageDialogHolding(name, pane)) {
            // Looked at afresh once the page's dialog closes.
            view->whenNoPageDialog([server, name, args, done] { dispatch(server, name, args, done); });
            return;
        }
        if (onActivity)
            onActivity(name);
        for (const OwnTool &tool : kOwnTools) {
            if (name != QLatin1String(tool.name))
                continue;
            if (tool.handler)
                tool.handler(*pane, args, done);
            else
                done(text(kNoWindow, true));
            return;
        }
        done(text(QStringLiteral("Unknown tool: ") + name, true));
    };
    if (kAnswerDuringDialogs.contains(name))
        Dispatch::onMain(std::move(run));
    else
        Modal::whenClosed(std::move(run));
}

void BrowserMCP::handle(std::weak_ptr<Core> server, const QJsonObject &message, const McpRpc::Reply &reply)
{
    McpRpc::answer(message,
                   McpRpc::Tools{[server] {
                                     if (const std::shared_ptr<Core> core = server.lock())
                                         return core->listResult();
                                     return McpRpc::listResult(BrowserMCP::tools());
                                 },
                                 [server](const QString &name, const QJsonObject &args, McpRpc::ToolDone done) {
                                     dispatch(server, name, args, std::move(done));
                                 }},
                   reply);
}
