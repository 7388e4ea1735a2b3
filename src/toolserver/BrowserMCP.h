#pragma once
// The local tool server through which the agent engine acts: MCP over
// HTTP/1.1 on the loopback interface, on a port the system picks, accepting
// only requests that carry this launch's bearer token. One per launch.
#include "recorder/PaneRecorder.h"
#include "toolserver/McpRpc.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <optional>
#include <QString>
#include <functional>
#include <memory>

class McpListener;

class BrowserMCP {
public:
    // A tool's result, as the JSON-RPC layer puts it under "result".
    using Done = std::function<void(const QJsonObject &result)>;

    // `pane` is the browser pane the own tools act on. The server holds it
    // weakly: once the window is gone the own tools say so.
    explicit BrowserMCP(QObject *pane);
    // Closes the listener and any connection still open.
    ~BrowserMCP();
    BrowserMCP(const BrowserMCP &) = delete;
    BrowserMCP &operator=(const BrowserMCP &) = delete;

    // The pane, when the server was started before the window was built.
    // Main thread.
    void setPane(QObject *pane);

    // Starts listening and waits up to 5 seconds for the listener; true when
    // it is ready with a port. Blocks the calling (main) thread meanwhile.
    bool start();
    // Stops accepting connections; those already accepted still get their reply.
    void stop();

    // The listening port; 0 until the listener is ready.
    quint16 port() const;
    // This launch's bearer token: 32 characters from 0-9 and A-F.
    QString token() const;

    // Set by the application at start-up; called on the main thread.
    // The activity hook gets the tool's name before each tool runs.
    static inline std::function<void(const QString &name)> onActivity;
    // Asks the CA to approve an irreversible step; absent means not approved.
    static inline std::function<bool(const QString &title, const QString &detail)> onConfirm;

    // Runs one tool on the main thread and hands its result to `done` exactly
    // once (from whichever thread the tool finishes on). Calls that arrive
    // while one of the program's own dialogs is open wait until it closes, in
    // arrival order, except the reads that ask the CA nothing and act on no
    // page. A web page's own dialog holds only the calls on that page.
    // The JSON-RPC layer calls this for every tools/call.
    void call(const QString &name, const QJsonObject &args, Done done);

    // The tool result of a text answer.
    static QJsonObject text(const QString &text, bool isError);
    // The tool result of a PNG image (the screenshot).
    static QJsonObject image(const QByteArray &png);
    // Everything tools/list announces: the 27 own tools, then the families.
    // A running server serialises it once, at the first tools/list.
    static QJsonArray tools();
    // A path as the engine is shown it: below the clients folder, the part
    // after the folder; elsewhere, the last name; no path at all, "—".
    static QString relative(const std::optional<QString> &path);
    // The report of a finished recording: length and frames, what was
    // hidden, the steps, and what the engine does next.
    static QString stopReport(const PaneRecorder::Summary &summary);

    struct Core;

private:
    static void dispatch(std::weak_ptr<Core> server, const QString &name, const QJsonObject &args, Done done);
    static void handle(std::weak_ptr<Core> server, const QJsonObject &message, const McpRpc::Reply &reply);

    std::shared_ptr<Core> core_;
    std::unique_ptr<McpListener> listener_;
    bool listening_ = false;
};
