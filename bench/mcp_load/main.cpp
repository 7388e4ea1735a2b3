// Load on the tool server: N concurrent loopback clients, each sending one
// request per fresh connection as the engine does, for tools/list and for a
// cheap tools/call (browser_read without a browser window: a full trip to
// the main thread and back). Prints requests per second and p50/p99 latency,
// then the figures against the aims: tools/list at least half the throughput
// of tools/call at every client count, and tools/call p99 under 5 ms at 16
// clients (on 2 CPUs, as scripts/bench-mcp runs it).
//
//   mcp_load [--seconds S] [--clients 1,16,64]
#include "toolserver/BrowserMCP.h"
#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <map>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Result {
    std::vector<double> latenciesMs;
    long failures = 0;
};

QByteArray request(const QString &token, const QJsonObject &message)
{
    const QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    return "POST /mcp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
           "Accept: application/json, text/event-stream\r\nAuthorization: Bearer " +
           token.toUtf8() + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// One request on a fresh connection; true when a 200 reply came back whole.
bool once(quint16 port, const QByteArray &req)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
              ::send(fd, req.constData(), size_t(req.size()), MSG_NOSIGNAL) == ssize_t(req.size());
    QByteArray reply;
    char chunk[16384];
    while (ok) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        reply.append(chunk, n);
    }
    // Reset rather than linger: a benchmark opening thousands of connections a
    // second would otherwise run out of loopback ports in TIME_WAIT.
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
    return ok && reply.startsWith("HTTP/1.1 200 OK\r\n");
}

Result run(quint16 port, const QByteArray &req, int clients, double seconds)
{
    std::vector<Result> perClient(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            Result &r = perClient[size_t(c)];
            while (Clock::now() < end) {
                const auto start = Clock::now();
                if (once(port, req))
                    r.latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                else
                    ++r.failures;
            }
        });
    }
    for (auto &t : threads)
        t.join();
    Result all;
    for (auto &r : perClient) {
        all.latenciesMs.insert(all.latenciesMs.end(), r.latenciesMs.begin(), r.latenciesMs.end());
        all.failures += r.failures;
    }
    std::sort(all.latenciesMs.begin(), all.latenciesMs.end());
    return all;
}

double percentile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    double seconds = 3;
    QList<int> clientCounts{1, 16, 64};
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds"))
            seconds = args[i + 1].toDouble();
        else if (args[i] == QLatin1String("--clients")) {
            clientCounts.clear();
            for (const QString &n : args[i + 1].split(u','))
                clientCounts << n.toInt();
        }
    }

    BrowserMCP server(nullptr);
    if (!server.start()) {
        std::fprintf(stderr, "the tool server did not start\n");
        return 1;
    }
    const quint16 port = server.port();
    const QJsonObject list{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/list"}};
    const QJsonObject call{{"jsonrpc", "2.0"},
                           {"id", 2},
                           {"method", "tools/call"},
                           {"params", QJsonObject{{"name", "browser_read"}, {"arguments", QJsonObject()}}}};
    const struct {
        const char *label;
        QByteArray bytes;
    } kinds[] = {{"tools/list", request(server.token(), list)}, {"tools/call", request(server.token(), call)}};

    // The clients run on their own threads; the main thread serves tool calls.
    std::thread driver([&] {
        std::printf("mcp_load: %d CPUs available, %.1f s per run, fresh connection per request\n",
                    QThread::idealThreadCount(), seconds);
        std::printf("%-11s %8s %12s %9s %9s %9s\n", "request", "clients", "requests/s", "p50 ms", "p99 ms", "failed");
        run(port, kinds[1].bytes, 4, 0.5); // warm up
        // requests per second and p99 by request kind and client count
        std::map<std::pair<int, int>, std::pair<double, double>> figures;
        for (int k = 0; k < 2; ++k) {
            for (int clients : clientCounts) {
                const Result r = run(port, kinds[k].bytes, clients, seconds);
                const double rate = double(r.latenciesMs.size()) / seconds;
                const double p99 = percentile(r.latenciesMs, 0.99);
                figures[{k, clients}] = {rate, p99};
                std::printf("%-11s %8d %12.0f %9.3f %9.3f %9ld\n", kinds[k].label, clients, rate,
                            percentile(r.latenciesMs, 0.50), p99, r.failures);
                std::fflush(stdout);
            }
        }
        std::printf("\naims:\n");
        for (int clients : clientCounts) {
            const double list = figures[{0, clients}].first, call = figures[{1, clients}].first;
            const double ratio = call > 0 ? list / call : 0;
            std::printf("  %2d clients: tools/list %.2f x the throughput of tools/call (aim >= 0.50: %s)\n", clients,
                        ratio, ratio >= 0.5 ? "met" : "missed");
        }
        if (figures.count({1, 16})) {
            const double p99 = figures[{1, 16}].second;
            std::printf("  16 clients: tools/call p99 %.3f ms (aim < 5 ms: %s)\n", p99, p99 < 5 ? "met" : "missed");
        }
        std::fflush(stdout);
        Dispatch::onMain([] { QCoreApplication::quit(); });
    });
    const int code = app.exec();
    driver.join();
    return code;
}
