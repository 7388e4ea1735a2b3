// How fast a narrated video is made: recordings at 1920 x 1200 of a
// portal-like page (client tables, a clock that changes every second, a
// scroll every 5 s) at 10 frames a second, narrated by the computer's voice
// with captions on: 60 s with 10 lines, and 15 s with 4 lines (where the
// fixed cost of a render shows). Prints for each the render time, the
// video's length and their ratio (below 0.2 is five times faster than real
// time).
//
//   render [--seconds N] [--lines N] [--voice system|none] [--keep]
#include "core/Globals.h"
#include "platform/Media.h"
#include "recorder/RecordRender.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <optional>
#include <vector>
#include <sched.h>
#include <sys/resource.h>

namespace {

// A tall page of client rows, drawn once; frames show a window of it.
QImage page(int width)
{
    static const char *names[] = {"Sharma Traders", "Iyer & Co", "Patel Textiles", "Gupta Steel", "Rao Pharma",
                                  "Mehta Exports", "Khan Motors", "Das Foods", "Nair Spices", "Singh Logistics"};
    const int rowH = 38, rows = 240;
    QImage img(width, 80 + rows * rowH, QImage::Format_RGB32);
    img.fill(QColor("#f4f6f9"));
    QPainter p(&img);
    p.setFont(QFont("DejaVu Sans", 12));
    for (int i = 0; i < rows; ++i) {
        const int y = 80 + i * rowH;
        p.fillRect(24, y, width - 48, rowH - 1, Qt::white);
        p.setPen(QColor("#1d2433"));
        const QString pan = QStringLiteral("A%1P%2%3").arg(QChar('A' + i % 24)).arg(QChar('B' + i % 20)).arg(1000 + i * 37 % 9000);
        const QStringList cells = {QString::number(i + 1), names[i % 10], pan, QString::number(10 + i % 27) + pan + "1Z5",
                                   QStringLiteral("HDFC0%1").arg(100000 + i * 7919 % 900000),
                                   QString::number(9000000000LL + i * 7727LL), QStringLiteral("accounts%1@client.in").arg(i),
                                   "Active"};
        for (int c = 0; c < cells.size(); ++c)
            p.drawText(QRect(36 + c * 230, y, 220, rowH), Qt::AlignVCenter, cells[c]);
        p.setPen(QColor("#dde3ea"));
        p.drawLine(24, y + rowH - 1, width - 24, y + rowH - 1);
    }
    return img;
}

bool writeRaw(const QString &folder, double seconds, QSize size)
{
    const QImage tall = page(size.width());
    Media::VideoSettings s;
    s.width = size.width();
    s.height = size.height();
    QString error;
    auto w = Media::VideoWriter::open(QDir(folder).filePath("raw.mp4"), s, &error);
    if (!w) {
        std::fprintf(stderr, "render: %s\n", qPrintable(error));
        return false;
    }
    QImage frame(size, QImage::Format_RGB32);
    for (int i = 0; i < int(seconds * 10); ++i) {
        const double t = i / 10.0;
        const int scroll = (int(t / 5) * 700) % std::max(1, tall.height() - size.height());
        QPainter p(&frame);
        p.drawImage(QPoint(0, 50), tall, QRect(0, scroll, size.width(), size.height() - 50));
        p.fillRect(0, 0, size.width(), 50, QColor("#12325c"));
        p.setPen(Qt::white);
        p.setFont(QFont("DejaVu Sans", 14));
        p.drawText(QRect(24, 0, 800, 50), Qt::AlignVCenter, "Taxpayer services · Client master");
        p.drawText(QRect(size.width() - 224, 0, 200, 50), Qt::AlignVCenter | Qt::AlignRight,
                   QStringLiteral("10:%1:%2").arg(15 + int(t) / 60, 2, 10, QChar('0')).arg(int(t) % 60, 2, 10, QChar('0')));
        p.end();
        if (!w->append(frame, t, &error)) {
            std::fprintf(stderr, "render: %s\n", qPrintable(error));
            return false;
        }
    }
    return w->finish(&error, seconds);
}

// Seconds of CPU of this process, all threads.
double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One render: writes the raw recording, renders it, prints the figures.
bool runCase(double seconds, int lineCount, const QString &voice, bool keep)
{
    QTemporaryDir work;
    work.setAutoRemove(!keep);
    const QString folder = QDir(work.path()).filePath("Client master");
    QDir().mkpath(folder);
    const QSize size(1920, 1200);
    std::printf("render: writing a %.0f s raw recording at %d x %d ...\n", seconds, size.width(), size.height());
    std::fflush(stdout);
    if (!writeRaw(folder, seconds, size))
        return false;

    static const char *texts[] = {
        "Open the GST portal and sign in with the client's login.",
        "Go to Services, then Returns, and open the returns dashboard.",
        "Pick the financial year and the tax period for the return.",
        "Open GSTR-1 and check the summary of outward supplies.",
        "Look through the B2B invoices for missing GSTINs.",
        "Add the invoices that the client sent after the cut-off.",
        "Check the credit and debit notes against the books.",
        "Generate the summary and compare it with the sales register.",
        "Preview the draft and save it to the client's folder.",
        "Stop before filing; the CA files after the client approves."};
    QVector<RecordRender::Line> lines;
    for (int i = 0; i < lineCount; ++i)
        lines.append({seconds * i / std::max(1, lineCount) + 0.5, QString::fromUtf8(texts[i % 10])});

    const double cpu0 = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    std::atomic<bool> finished{false};
    RecordRender::Result result;
    RecordRender::render(folder, "Client master", lines, voice, "en", true, [&](const RecordRender::Result &r) {
        result = r;
        finished = true;
    });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    const double took = double(timer.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    if (!result.ok()) {
        std::fprintf(stderr, "render: %s\n", qPrintable(result.error->description()));
        return false;
    }
    const auto &o = *result.output;
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    sched_getaffinity(0, sizeof cpus, &cpus);
    std::printf("render: %d lines, voice %s, captions on, %d CPU(s)\n", lineCount, qPrintable(voice),
                CPU_COUNT(&cpus));
    std::printf("render: video %.1f s, render %.2f s, render time / video length = %.3f (%.1fx faster than real time)\n",
                o.seconds, took, took / o.seconds, o.seconds / took);
    // On a loaded machine the wall time says little; the CPU time does.
    std::printf("render: CPU %.2f s (user and system, all threads)\n", cpu);
    for (const QString &n : o.notes)
        std::printf("render: note: %s\n", qPrintable(n));
    if (keep)
        std::printf("render: kept %s and %s\n", qPrintable(o.video), qPrintable(o.poster.value_or(QString())));
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("VELTO_DEMO_HOME");
    QApplication app(argc, argv);
    initGlobals();
    Theme::registerBundledFonts(); // the captions' face, as at launch

    // By default two cases: a long recording, and a short one where the
    // fixed cost of a render (speech start-up, the first frame, the poster)
    // weighs most. --seconds or --lines give one case of their own.
    std::optional<double> seconds;
    std::optional<int> lineCount;
    QString voice = QStringLiteral("system");
    bool keep = false;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds") && i + 1 < args.size())
            seconds = std::max(2.0, args[++i].toDouble());
        else if (args[i] == QLatin1String("--lines") && i + 1 < args.size())
            lineCount = std::max(0, args[++i].toInt());
        else if (args[i] == QLatin1String("--voice") && i + 1 < args.size())
            voice = args[++i];
        else if (args[i] == QLatin1String("--keep"))
            keep = true;
    }
    std::vector<std::pair<double, int>> cases = {{60, 10}, {15, 4}};
    if (seconds || lineCount)
        cases = {{seconds.value_or(60), lineCount.value_or(10)}};
    for (const auto &[s, n] : cases)
        if (!runCase(s, n, voice, keep))
            return 1;
    return 0;
}
