// How long doc_text takes on documents that are slow to read, and how long a
// quit waits for a read under way. Files made in a throwaway folder:
//   nested.html  1 MB: 200,000 nested <div>s, never closed
//   ledger.html  3 MB: a ledger export, one table row per entry
//   long.pdf     a 400-page PDF of ledger lines
// For each: the time to its answer (median of --runs, default 3) and the
// answer's first line; then, for the ledger and the PDF, the time from a quit
// (cancel every read, then wait for the background threads, as the
// application does when it ends) to the end of a read started just before.
//
//   doc_read [--runs N]
#include "platform/Dispatch.h"
#include "toolserver/DocText.h"

#include <QApplication>
#include <QFile>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

QByteArray ledgerHtml()
{
    QByteArray out = "<html><head><title>Ledger</title><style>td{padding:2px}</style></head><body>"
                     "<h2>Sales A/c, 1-Apr-2026 to 31-Mar-2027</h2><table border=1>\n"
                     "<tr><th>Date</th><th>Particulars</th><th>Vch Type</th><th>Vch No.</th><th>Debit</th>"
                     "<th>Credit</th></tr>\n";
    for (int row = 0; out.size() < 3 * 1024 * 1024; ++row) {
        const QByteArray n = QByteArray::number(row);
        out += "<tr><td>" + QByteArray::number(1 + row % 28) + "-Apr-2026</td><td><font face='Arial'>Quenby Traders &amp; Co. (GSTIN 24AAQFK" +
               n + "M1Z8)</font></td><td>Sales</td><td align='right'>INV-" + n +
               "</td><td align='right'>&nbsp;</td><td align='right'>1,18,000.00</td></tr>\n";
    }
    return out + "</table></body></html>\n";
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

bool writePdf(const QString &path, int pages)
{
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    QPainter painter(&writer);
    if (!painter.isActive())
        return false;
    QFont font = painter.font();
    font.setPointSize(8);
    painter.setFont(font);
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            writer.newPage();
        for (int line = 0; line < 60; ++line)
            painter.drawText(200, 200 + line * 220,
                             QStringLiteral("%1-Apr-2026  Quenby Traders & Co.  Sales  INV-%2  1,18,000.00")
                                 .arg(1 + line % 28)
                                 .arg(page * 60 + line));
    }
    return painter.end();
}

void timeRead(const QString &path, int runs)
{
    std::vector<double> times;
    QString head;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        const auto answer = DocText::read(path, 0, 0);
        times.push_back(msSince(start));
        head = answer.first.section(QLatin1Char('\n'), 0, 0).left(110);
    }
    std::sort(times.begin(), times.end());
    std::printf("%-12s read in %8.1f ms (median of %d, %.1f-%.1f)  %s\n", qPrintable(path.section('/', -1)),
                times[times.size() / 2], runs, times.front(), times.back(), qPrintable(head));
}

// A read on a background thread, a quit after afterMs: the time from the quit
// to the last background thread being free.
void timeQuit(const QString &path, int afterMs)
{
    std::atomic<bool> ended{false};
    QString answer;
    const auto started = Clock::now();
    Dispatch::runInBackground([&] {
        answer = DocText::read(path, 0, 0).first.section(QLatin1Char('\n'), 0, 0);
        ended = true;
    });
    QThread::msleep(afterMs);
    const bool endedBefore = ended;
    const auto quit = Clock::now();
    DocText::cancelAll();
    QThreadPool::globalInstance()->waitForDone();
    std::printf("%-12s quit %d ms into the read: free %.1f ms later (read %s)  %s\n",
                qPrintable(path.section('/', -1)), afterMs, msSince(quit),
                endedBefore ? "had already ended" : "was stopped", qPrintable(answer.left(80)));
    (void)started;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int runs = 3;
    for (int i = 1; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--runs")
            runs = std::max(1, QByteArray(argv[i + 1]).toInt());

    QTemporaryDir dir;
    const QString nested = dir.filePath("nested.html");
    const QString ledger = dir.filePath("ledger.html");
    const QString pdf = dir.filePath("long.pdf");
    if (!writeFile(nested, QByteArray("<div>").repeated(200000)) || !writeFile(ledger, ledgerHtml()) ||
        !writePdf(pdf, 400)) {
        std::fprintf(stderr, "doc_read: the files could not be written in %s\n", qPrintable(dir.path()));
        return 1;
    }
    std::printf("doc_read: %d CPUs, nested.html %lld bytes, ledger.html %lld bytes, long.pdf %lld bytes\n",
                QThread::idealThreadCount(), QFile(nested).size(), QFile(ledger).size(), QFile(pdf).size());
    for (const QString &path : {nested, ledger, pdf})
        timeRead(path, runs);
    for (const QString &path : {ledger, pdf})
        timeQuit(path, 100);
    return 0;
}
