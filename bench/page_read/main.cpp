// How long a page read takes on a heavy portal page: browser_read, sent over
// loopback as the engine sends it, on a page with 2,000 controls and 200 KB
// of text served from 127.0.0.1. Prints the median (and spread) from the tool
// call to its answer.
//
//   page_read [--runs N]
#include "../common/PageServer.h"
#include "browser/BrowserPane.h"
#include "core/Globals.h"
#include "platform/Dispatch.h"
#include "platform/WebView.h"
#include "toolserver/BrowserMCP.h"

#include <QApplication>
#include <QJsonDocument>
#include <QEventLoop>
#include <QTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QWebEngineProfile>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A return-filing page as heavy as the portals get: a long table of invoices
// with a control or two on every row, and plenty of text.
QByteArray fixturePage()
{
    QByteArray controls;
    for (int i = 0; i < 2000; ++i) {
        const QByteArray n = QByteArray::number(i);
        switch (i % 5) {
        case 0: controls += "<label for='q" + n + "'>Taxable value " + n + "</label><input id='q" + n + "' value='" + n + "00.00'>"; break;
        case 1: controls += "<select name='s" + n + "'><option>Regular</option><option>SEZ</option></select>"; break;
        case 2: controls += "<button type='button'>Edit row " + n + "</button>"; break;
        case 3: controls += "<a href='#inv" + n + "'>Invoice INV-" + n + "</a>"; break;
        default: controls += "<input type='checkbox' aria-label='Select invoice " + n + "'>"; break;
        }
        if (i % 10 == 9)
            controls += "<br>\n";
    }
    QByteArray text;
    int row = 0;
    while (text.size() < 200 * 1024) {
        text += "<p>Invoice INV-" + QByteArray::number(row) + " dated 01-08-2026 to 27AAAAA" +
                QByteArray::number(1000 + row % 9000) +
                "A1Z5, taxable value 1,18,000.00, IGST 21,240.00, place of supply Maharashtra, reverse charge No. "
                "Filed in GSTR-1 for the period August 2026 and reflected in the recipient's GSTR-2B.</p>\n";
        ++row;
    }
    return "<!doctype html><html><head><meta charset='utf-8'><title>GSTR-1 — B2B invoices</title></head><body>" +
           controls + text + "</body></html>";
}

// One tools/call on a fresh connection; the reply body, or empty on failure.
QByteArray callTool(quint16 port, const QString &token, const QByteArray &body)
{
    const QByteArray req = "POST /mcp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                           "Authorization: Bearer " + token.toUtf8() + "\r\nContent-Length: " +
                           QByteArray::number(body.size()) + "\r\n\r\n" + body;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray reply;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
        ::send(fd, req.constData(), size_t(req.size()), MSG_NOSIGNAL) == ssize_t(req.size())) {
        char chunk[65536];
        for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;)
            reply.append(chunk, n);
    }
    ::close(fd);
    const qsizetype split = reply.indexOf("\r\n\r\n");
    return reply.startsWith("HTTP/1.1 200 OK") && split > 0 ? reply.mid(split + 4) : QByteArray();
}

double at(const std::vector<double> &sorted, double p)
{
    return sorted.empty() ? 0 : sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char **argv)
{
    headlessWebEnvironment();
    QTemporaryDir home;
    qputenv("VELTO_DEMO_HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    initGlobals();

    int runs = 40;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i)
        if (args[i] == QLatin1String("--runs"))
            runs = std::max(1, args[i + 1].toInt());

    const QByteArray page = fixturePage();
    PageServer pages(page);
    if (!pages.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "page_read: the fixture server did not start\n");
        return 1;
    }
    auto *profile = new QWebEngineProfile(&app); // off the record
    BrowserTab::profile = [profile] { return profile; };
    BrowserPane pane(QRect(0, 0, 1280, 800));
    pane.show();
    const bool loaded = loadPage(pane, QUrl(QStringLiteral("http://127.0.0.1:%1/gstr1").arg(pages.serverPort())));
    if (!loaded) {
        std::fprintf(stderr, "page_read: the fixture page did not load\n");
        return 1;
    }

    BrowserMCP server(&pane);
    if (!server.start()) {
        std::fprintf(stderr, "page_read: the tool server did not start\n");
        return 1;
    }
    const QByteArray body = QJsonDocument(QJsonObject{{"jsonrpc", "2.0"},
                                                      {"id", 1},
                                                      {"method", "tools/call"},
                                                      {"params", QJsonObject{{"name", "browser_read"},
                                                                             {"arguments", QJsonObject()}}}})
                                .toJson(QJsonDocument::Compact);

    int code = 0;
    std::thread driver([&] {
        std::vector<double> ms;
        qsizetype answerChars = 0;
        for (int i = -3; i < runs; ++i) { // three warm-up reads
            const auto start = Clock::now();
            const QByteArray reply = callTool(server.port(), server.token(), body);
            const double took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            const QJsonObject result = QJsonDocument::fromJson(reply).object().value("result").toObject();
            const QString text = result.value("content").toArray().at(0).toObject().value("text").toString();
            if (result.value("isError").toBool(true) || !text.contains(QStringLiteral("--- controls ---"))) {
                std::fprintf(stderr, "page_read: a read failed: %s\n", reply.left(300).constData());
                code = 1;
                break;
            }
            answerChars = text.size();
            if (i >= 0)
                ms.push_back(took);
        }
        std::sort(ms.begin(), ms.end());
        if (!ms.empty()) {
            std::printf("page_read: %d CPUs, page %lld KB with 2000 controls, answer %lld characters\n",
                        QThread::idealThreadCount(), (long long)(page.size() / 1024), (long long)answerChars);
            std::printf("browser_read over %zu runs: median %.1f ms (min %.1f, p90 %.1f, max %.1f)\n", ms.size(),
                        at(ms, 0.5), ms.front(), at(ms, 0.9), ms.back());
        }
        std::fflush(stdout);
        Dispatch::onMain([] { QCoreApplication::quit(); });
    });
    app.exec();
    driver.join();
    return code;
}
