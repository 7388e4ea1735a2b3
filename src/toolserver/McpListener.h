#pragma once
// The tool server's loopback listener and its connections. Everything here
// runs on a few I/O threads of its own, never on the main thread: requests
// are read and checked there, and only the JSON-RPC message is handed on.
#include "toolserver/McpHttp.h"

#include <QByteArray>
#include <QJsonObject>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QThread;
class QObject;

class McpListener {
public:
    // Answers one request: no body gives "202 Accepted", a body (an object,
    // or JSON text serialised before) gives "200 OK" with it. Callable from
    // any thread; only the first call counts, and a connection that has gone
    // meanwhile is left alone.
    using Reply = std::function<void(const McpHttp::Body &body)>;
    // Receives each accepted JSON-RPC message (an object; an empty object
    // when the body was not one), on an I/O thread.
    using Handler = std::function<void(const QJsonObject &message, const Reply &reply)>;

    // `authorization` is the one accepted Authorization value ("Bearer " + token).
    McpListener(QByteArray authorization, Handler handler, int ioThreads);
    // Closes the listener and every connection, then ends the I/O threads.
    ~McpListener();
    McpListener(const McpListener &) = delete;
    McpListener &operator=(const McpListener &) = delete;

    // Starts listening on 127.0.0.1 on a port the system picks, on an I/O
    // thread, and returns at once; `ready` is called there with the port, or
    // with 0 when listening failed.
    void listen(std::function<void(quint16 port)> ready);
    // Stops accepting. Connections already accepted are answered as usual.
    void close();

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    std::vector<QThread *> threads_;
    std::vector<QObject *> hosts_; // one per thread; parent of its connections
};
