#include "toolserver/McpListener.h"
#include "toolserver/McpHttp.h"
#include "platform/Dispatch.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <unistd.h>

struct McpListener::Shared {
    QByteArray authorization;
    Handler handler;
    std::vector<QObject *> hosts;
    std::atomic<size_t> next{0};
    QTcpServer *acceptor = nullptr; // lives on the first I/O thread
};

namespace {

class Connection;

// Lets a reply find its connection from any thread, once, and only while the
// connection still exists.
struct ReplyGate {
    QMutex mutex;
    Connection *connection = nullptr;
    bool used = false;
};

// One accepted connection: one request in, one reply out, then closed.
class Connection : public QObject {
public:
    Connection(qintptr fd, std::shared_ptr<McpListener::Shared> shared, QObject *host)
        : QObject(host), shared_(std::move(shared)), gate_(std::make_shared<ReplyGate>())
    {
        gate_->connection = this;
        socket_ = new QTcpSocket(this);
        if (!socket_->setSocketDescriptor(fd)) {
            ::close(int(fd));
            deleteLater();
            return;
        }
        // Read at most 1 MiB ahead of the reader.
        socket_->setReadBufferSize(1024 * 1024);
        idle_.setSingleShot(true);
        idle_.setInterval(Dispatch::scaledMs(McpHttp::kIdleSeconds));
        connect(&idle_, &QTimer::timeout, this, [this] { drop(); });
        connect(socket_, &QTcpSocket::readyRead, this, [this] { onReadyRead(); });
        // The peer finished (or the reply went out): an unfinished request
        // gets no reply.
        connect(socket_, &QTcpSocket::disconnected, this, [this] { deleteLater(); });
        connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError)
                drop();
        });
        idle_.start();
        if (socket_->bytesAvailable() > 0)
            onReadyRead();
    }

    ~Connection() override
    {
        QMutexLocker lock(&gate_->mutex);
        gate_->connection = nullptr;
    }

    void send(const QByteArray &status, const std::optional<QJsonObject> &json)
    {
        if (sent_)
            return;
        sent_ = true;
        socket_->write(McpHttp::reply(status, json));
        socket_->disconnectFromHost(); // closes once the reply is written
        // A peer that never takes its reply does not hold the connection.
        if (socket_->state() != QAbstractSocket::UnconnectedState)
            idle_.start();
    }

    static McpListener::Reply replyFor(std::shared_ptr<ReplyGate> gate)
    {
        return [gate = std::move(gate)](const std::optional<QJsonObject> &json) {
            const QByteArray status = json ? QByteArrayLiteral("200 OK") : QByteArrayLiteral("202 Accepted");
            QMutexLocker lock(&gate->mutex);
            if (gate->used)
                return;
            gate->used = true;
            Connection *c = gate->connection;
            if (!c)
                return;
            if (c->thread() == QThread::currentThread()) {
                // Only this thread could delete it, so it outlives the lock.
                lock.unlock();
                c->send(status, json);
                return;
            }
            // Posted while the connection is certainly alive; Qt drops the
            // call if the connection goes before it runs.
            QMetaObject::invokeMethod(c, [c, status, json] { c->send(status, json); }, Qt::QueuedConnection);
        };
    }

private:
    void drop()
    {
        socket_->abort();
        deleteLater();
    }

    void onReadyRead()
    {
        const QByteArray bytes = socket_->readAll();
        if (done_)
            return; // one request per connection: anything after it is ignored
        switch (reader_.feed(bytes)) {
        case McpHttp::RequestReader::State::NeedMore:
            idle_.start();
            return;
        case McpHttp::RequestReader::State::TooLarge:
            drop();
            return;
        case McpHttp::RequestReader::State::Complete:
            done_ = true;
            idle_.stop();
            answer(reader_.request());
            return;
        }
    }

    void answer(const McpHttp::Request &request)
    {
        // A browser's preflight needs no token.
        if (request.requestLine.startsWith(QLatin1String("OPTIONS"))) {
            send("204 No Content", std::nullopt);
            return;
        }
        if (!McpHttp::authorized(request.authorization, shared_->authorization)) {
            send("401 Unauthorized",
                 QJsonObject{{QStringLiteral("error"),
                              QJsonObject{{QStringLiteral("code"), -32001},
                                          {QStringLiteral("message"), QStringLiteral("bad token")}}}});
            return;
        }
        const QJsonDocument doc = QJsonDocument::fromJson(request.body);
        shared_->handler(doc.isObject() ? doc.object() : QJsonObject(), replyFor(gate_));
    }

    std::shared_ptr<McpListener::Shared> shared_;
    std::shared_ptr<ReplyGate> gate_;
    QTcpSocket *socket_ = nullptr;
    McpHttp::RequestReader reader_;
    QTimer idle_;
    bool done_ = false; // the request is whole
    bool sent_ = false;
};

// Hands every accepted connection to the next I/O thread in turn.
class Acceptor : public QTcpServer {
public:
    Acceptor(std::shared_ptr<McpListener::Shared> shared, QObject *parent)
        : QTcpServer(parent), shared_(std::move(shared))
    {
    }

protected:
    void incomingConnection(qintptr fd) override
    {
        const auto &hosts = shared_->hosts;
        QObject *host = hosts[shared_->next++ % hosts.size()];
        if (host->thread() == QThread::currentThread()) {
            new Connection(fd, shared_, host);
            return;
        }
        QMetaObject::invokeMethod(
            host, [fd, shared = shared_, host] { new Connection(fd, shared, host); }, Qt::QueuedConnection);
    }

private:
    std::shared_ptr<McpListener::Shared> shared_;
};

} // namespace

McpListener::McpListener(QByteArray authorization, Handler handler, int ioThreads)
    : shared_(std::make_shared<Shared>())
{
    shared_->authorization = std::move(authorization);
    shared_->handler = std::move(handler);
    for (int i = 0; i < std::max(1, ioThreads); ++i) {
        auto *thread = new QThread;
        thread->setObjectName(QStringLiteral("mcp-io-%1").arg(i));
        thread->start();
        auto *host = new QObject;
        host->moveToThread(thread);
        threads_.push_back(thread);
        hosts_.push_back(host);
    }
    shared_->hosts = hosts_;
}

McpListener::~McpListener()
{
    // Each host goes on its own thread, and its connections with it.
    for (QObject *host : hosts_)
        QMetaObject::invokeMethod(host, [host] { delete host; }, Qt::BlockingQueuedConnection);
    shared_->acceptor = nullptr;
    for (QThread *thread : threads_) {
        thread->quit();
        thread->wait();
        delete thread;
    }
}

void McpListener::listen(std::function<void(quint16)> ready)
{
    QObject *host = hosts_.front();
    QMetaObject::invokeMethod(
        host,
        [shared = shared_, host, ready = std::move(ready)] {
            delete shared->acceptor;
            shared->acceptor = new Acceptor(shared, host);
            // Fresh connections arrive in bursts: keep them waiting, not refused.
            shared->acceptor->setListenBacklogSize(1024);
            const bool ok = shared->acceptor->listen(QHostAddress(QHostAddress::LocalHost), 0);
            ready(ok ? shared->acceptor->serverPort() : 0);
        },
        Qt::QueuedConnection);
}

void McpListener::close()
{
    QObject *host = hosts_.front();
    QMetaObject::invokeMethod(
        host,
        [shared = shared_] {
            delete shared->acceptor;
            shared->acceptor = nullptr;
        },
        Qt::BlockingQueuedConnection);
}
