#include "toolserver/McpListener.h"
#include "toolserver/McpHttp.h"
#include "platform/Dispatch.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QMutex>
#include <QTcpServer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

struct McpListener::Shared {
    QByteArray authorization;
    Handler handler;
    std::vector<QObject *> hosts;
    std::atomic<size_t> next{0};
    QTcpServer *acceptor = nullptr; // lives on the first I/O thread
    // What all connections together hold (McpHttp::kMaxConnections and
    // McpHttp::kBodyBytesInFlight bound them).
    std::atomic<int> open{0};
    std::atomic<qint64> bodyBytes{0};

    bool reserveBody(qint64 bytes)
    {
        qint64 held = bodyBytes.load();
        do {
            if (held + bytes > McpHttp::kBodyBytesInFlight)
                return false;
        } while (!bodyBytes.compare_exchange_weak(held, held + bytes));
        return true;
    }
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

// One accepted connection: one request in, one reply out, then closed. It
// works on the socket itself rather than through QTcpSocket so that a peer
// which stops sending once its request is whole still gets its reply.
class Connection : public QObject {
public:
    Connection(qintptr fd, std::shared_ptr<McpListener::Shared> shared, QObject *host)
        : QObject(host), shared_(std::move(shared)), gate_(std::make_shared<ReplyGate>()), fd_(int(fd))
    {
        gate_->connection = this;
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
        readable_ = new QSocketNotifier(qintptr(fd_), QSocketNotifier::Read, this);
        connect(readable_, &QSocketNotifier::activated, this, [this] { onReadable(); });
        // The whole request must arrive within the request time of the
        // accept: a peer that trickles a byte now and then is not given more.
        deadline_.setSingleShot(true);
        deadline_.setInterval(Dispatch::scaledMs(McpHttp::kRequestSeconds));
        connect(&deadline_, &QTimer::timeout, this, [this] { cancel(); });
        deadline_.start();
    }

    ~Connection() override
    {
        {
            QMutexLocker lock(&gate_->mutex);
            gate_->connection = nullptr;
        }
        close();
        shared_->bodyBytes -= reservedBody_;
        --shared_->open;
    }

    void send(const QByteArray &status, const McpHttp::Body &body)
    {
        if (sent_ || fd_ < 0)
            return;
        sent_ = true;
        out_ = McpHttp::reply(status, body);
        // A long reply (the tool list) goes out in one send rather than in
        // pieces, each waiting for the socket to drain.
        if (out_.size() > 16 * 1024) {
            const int room = int(std::min<qsizetype>(out_.size(), 4 * 1024 * 1024));
            ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
        }
        flush();
    }

    static McpListener::Reply replyFor(std::shared_ptr<ReplyGate> gate)
    {
        return [gate = std::move(gate)](const McpHttp::Body &body) {
            const QByteArray status = body.isEmpty() ? QByteArrayLiteral("202 Accepted") : QByteArrayLiteral("200 OK");
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
                c->send(status, body);
                return;
            }
            // Posted while the connection is certainly alive; Qt drops the
            // call if the connection goes before it runs.
            QMetaObject::invokeMethod(c, [c, status, body] { c->send(status, body); }, Qt::QueuedConnection);
        };
    }

private:
    void close()
    {
        if (fd_ < 0)
            return;
        // Unregistered before the descriptor goes; deleted with the connection.
        readable_->setEnabled(false);
        if (writable_)
            writable_->setEnabled(false);
        ::close(fd_);
        fd_ = -1;
    }

    // Ends the exchange without (further) reply.
    void cancel()
    {
        deadline_.stop();
        close();
        deleteLater();
    }

    void onReadable()
    {
        char chunk[64 * 1024];
        // At most 1 MiB per wake-up, so one busy peer cannot hold the thread.
        for (int round = 0; round < 16 && !done_; ++round) {
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (n <= 0) {
                // The peer finished (or the connection broke) before its
                // request was whole: no reply.
                cancel();
                return;
            }
            switch (reader_.feed(QByteArrayView(chunk, n))) {
            case McpHttp::RequestReader::State::NeedMore:
                // The token is checked as soon as the headers are in: a
                // request without it is answered before its body is read.
                if (reader_.headersComplete() && !checked_ && !admit())
                    return;
                break;
            case McpHttp::RequestReader::State::TooLarge:
                cancel();
                return;
            case McpHttp::RequestReader::State::Complete:
                done_ = true;
                // One request per connection: nothing after it is read.
                readable_->setEnabled(false);
                deadline_.stop();
                if (!checked_ && !admit())
                    return;
                answer(reader_.request());
                return;
            }
        }
    }

    // Judges a request from its headers alone. False when it has been
    // answered (preflight, bad token) or closed (no room for its body).
    bool admit()
    {
        checked_ = true;
        const McpHttp::Request &request = reader_.request();
        // A browser's preflight needs no token.
        if (request.requestLine.startsWith(QLatin1String("OPTIONS"))) {
            stopReading();
            send("204 No Content", std::nullopt);
            return false;
        }
        if (!McpHttp::authorized(request.authorization, shared_->authorization)) {
            stopReading();
            send("401 Unauthorized",
                 QJsonObject{{QStringLiteral("error"),
                              QJsonObject{{QStringLiteral("code"), -32001},
                                          {QStringLiteral("message"), QStringLiteral("bad token")}}}});
            return false;
        }
        const qint64 body = std::max<qint64>(0, request.contentLength);
        if (!shared_->reserveBody(body)) {
            cancel();
            return false;
        }
        reservedBody_ = body;
        return true;
    }

    void stopReading()
    {
        done_ = true;
        readable_->setEnabled(false);
        deadline_.stop();
    }

    void answer(const McpHttp::Request &request)
    {
        if (McpHttp::asksForStream(request)) {
            send("405 Method Not Allowed", std::nullopt);
            return;
        }
        const QJsonDocument doc = QJsonDocument::fromJson(request.body);
        shared_->handler(doc.isObject() ? doc.object() : QJsonObject(), replyFor(gate_));
    }

    void flush()
    {
        while (written_ < out_.size()) {
            const ssize_t n = ::send(fd_, out_.constData() + written_, size_t(out_.size() - written_), MSG_NOSIGNAL);
            if (n > 0) {
                written_ += n;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!writable_) {
                    writable_ = new QSocketNotifier(qintptr(fd_), QSocketNotifier::Write, this);
                    connect(writable_, &QSocketNotifier::activated, this, [this] { flush(); });
                }
                writable_->setEnabled(true);
                // A peer that never takes its reply does not hold the
                // connection: the reply must be taken within the request time.
                if (!deadline_.isActive())
                    deadline_.start();
                return;
            }
            break; // the peer is gone
        }
        // Take in what the peer sent past its request, so that closing does
        // not reset the connection before the peer has read the reply.
        char sink[16 * 1024];
        for (int round = 0; round < 64 && ::recv(fd_, sink, sizeof sink, 0) > 0; ++round) {
        }
        cancel();
    }

    std::shared_ptr<McpListener::Shared> shared_;
    std::shared_ptr<ReplyGate> gate_;
    int fd_ = -1;
    QSocketNotifier *readable_ = nullptr;
    QSocketNotifier *writable_ = nullptr;
    McpHttp::RequestReader reader_;
    QTimer deadline_;
    qint64 reservedBody_ = 0; // body bytes counted against the shared bound
    QByteArray out_;
    qsizetype written_ = 0;
    bool done_ = false;    // the request is whole, or no more of it is read
    bool checked_ = false; // the headers have been judged
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
        // Beyond the bound a new connection is closed at once; the open ones
        // are answered or closed within the request time, so room returns.
        if (shared_->open.load() >= McpHttp::kMaxConnections) {
            ::close(int(fd));
            return;
        }
        ++shared_->open;
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
