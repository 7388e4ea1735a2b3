// How well the recorder keeps up on a busy portal page: it records a page of
// client tables (PAN, GSTIN, IFSC, mobile and e-mail values) under a canvas
// that draws the firm's GSTIN and bank account, with a clock
// that changes every second and a scroll every 5 s, served from 127.0.0.1
// and shown at 1920 x 1200, for 30 s. Prints the frames written per second,
// the frames dropped, the longest delay from a frame's capture to its write,
// and the CPU used by the program and by the page's renderer. Then reads the
// frames back and recognises a sample of them again (the first frames after
// every scroll among them), reporting any identifier still readable.
//
//   recorder [--seconds N] [--no-check]
#include "../common/PageServer.h"
#include "browser/BrowserPane.h"
#include "core/Globals.h"
#include "platform/Media.h"
#include "platform/Ocr.h"
#include "platform/WebView.h"
#include "recorder/PaneRecorder.h"
#include "recorder/Redaction.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWebEngineProfile>
#include <chrono>
#include <cstdio>
#include <set>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A client master of the kind the portals and the CA's tools show: every
// row holds a PAN, a GSTIN, an IFSC, a mobile number and an e-mail address.
QByteArray portalPage()
{
    static const char *names[] = {"Sharma Traders", "Iyer & Co", "Patel Textiles", "Gupta Steel", "Rao Pharma",
                                  "Mehta Exports", "Khan Motors", "Das Foods", "Nair Spices", "Singh Logistics"};
    static const char *banks[] = {"HDFC", "ICIC", "SBIN", "UTIB", "KKBK", "PUNB"};
    static const char *letters = "ABCDEFGHJKLMNPQRSTUVWXYZ";
    QByteArray rows;
    for (int i = 0; i < 240; ++i) {
        const QByteArray pan = QByteArray("A") + letters[i % 24] + letters[(i * 5) % 24] + "P" +
                               letters[(i * 11) % 24] + QByteArray::number(1000 + (i * 37) % 9000) +
                               letters[(i * 3) % 24];
        const QByteArray gstin = QByteArray::number(10 + i % 27) + pan + QByteArray::number(1 + i % 9) + "Z" +
                                 letters[(i * 7) % 24];
        const QByteArray ifsc = QByteArray(banks[i % 6]) + "0" + QByteArray::number(100000 + (i * 7919) % 900000);
        const QByteArray mobile = QByteArray::number(6 + i % 4) + QByteArray::number(100000000 + (i * 7727) % 899999999);
        const QByteArray mail = QByteArray("accounts") + QByteArray::number(i) + "@client" +
                                QByteArray::number(i % 17) + ".in";
        rows += "<tr><td>" + QByteArray::number(i + 1) + "</td><td>" + names[i % 10] + "</td><td>" + pan +
                "</td><td>" + gstin + "</td><td>" + ifsc + "</td><td>" + mobile + "</td><td>" + mail +
                "</td><td>Active</td></tr>\n";
    }
    return R"(<!doctype html><html><head><meta charset="utf-8"><title>Taxpayer services — Client master</title>
<style>
body { margin: 0; font: 16px "DejaVu Sans", sans-serif; background: #f4f6f9; color: #1d2433 }
header { position: sticky; top: 0; background: #12325c; color: #fff; padding: 14px 24px; display: flex;
         justify-content: space-between; font-size: 18px }
main { padding: 20px 24px }
table { border-collapse: collapse; width: 100%; background: #fff }
th, td { text-align: left; padding: 9px 12px; border-bottom: 1px solid #dde3ea }
th { background: #e8edf3 }
</style></head><body>
<header><span>Taxpayer services · Client master</span><span id="clock"></span></header>
<main><canvas id="summary" width="1200" height="96"></canvas><table><thead><tr><th>#</th><th>Name</th><th>PAN</th><th>GSTIN</th><th>IFSC</th><th>Mobile</th>
<th>E-mail</th><th>Status</th></tr></thead><tbody>
)" + rows + R"(</tbody></table></main>
<script>
function tick() { document.getElementById('clock').textContent = new Date().toLocaleTimeString('en-IN'); }
tick(); setInterval(tick, 1000);
(function () {
  var g = document.getElementById('summary').getContext('2d');
  g.fillStyle = '#fff'; g.fillRect(0, 0, 1200, 96); g.fillStyle = '#1d2433';
  g.font = 'bold 22px "DejaVu Serif"'; g.fillText('Firm GSTIN 36JNQPC6612E1ZX', 16, 38);
  g.font = '18px "DejaVu Sans Mono"'; g.fillText('Settlement a/c 50100234567890  IFSC HDFC0001234', 16, 76);
})();
setInterval(function () {
  if (window.scrollY + window.innerHeight + 10 >= document.body.scrollHeight) window.scrollTo(0, 0);
  else window.scrollBy(0, 700);
}, 5000);
</script></body></html>)";
}

// Seconds of CPU of this process.
double ownCpu()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Seconds of CPU of every process below this one (the web engine's zygote
// and renderers), read from /proc.
double childrenCpu()
{
    const long hz = sysconf(_SC_CLK_TCK);
    QHash<qint64, qint64> parent;
    QHash<qint64, double> cpu;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f("/proc/" + pid + "/stat");
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = f.readAll();
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        // After the name: state, ppid, ..., utime (14th field overall), stime.
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() <= 12)
            continue;
        parent.insert(pid.toLongLong(), fields[1].toLongLong());
        cpu.insert(pid.toLongLong(), double(fields[11].toLongLong() + fields[12].toLongLong()) / double(hz));
    }
    const qint64 me = getpid();
    double total = 0;
    for (auto it = parent.begin(); it != parent.end(); ++it) {
        qint64 p = it.value();
        for (int depth = 0; depth < 8 && p > 1 && p != me; ++depth)
            p = parent.value(p, 0);
        if (p == me)
            total += cpu.value(it.key());
    }
    return total;
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    headlessWebEnvironment();
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("VELTO_DEMO_HOME");
    QApplication app(argc, argv);
    initGlobals();

    double seconds = 30;
    bool check = true;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds") && i + 1 < args.size())
            seconds = std::max(1.0, args[++i].toDouble());
        else if (args[i] == QLatin1String("--no-check"))
            check = false;
    }

    PageServer pages(portalPage());
    if (!pages.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "recorder: the fixture server did not start\n");
        return 1;
    }
    auto *profile = new QWebEngineProfile(&app); // off the record
    BrowserTab::profile = [profile] { return profile; };
    BrowserPane pane(QRect(0, 0, 1920, 1300));
    pane.show();
    spin(200);
    // The page itself at 1920 x 1200: the pane's chrome comes on top.
    const QSize chrome = pane.size() - pane.web()->size();
    pane.resize(QSize(1920, 1200) + chrome);
    spin(200);
    const bool loaded = loadPage(pane, QUrl(QStringLiteral("http://127.0.0.1:%1/clients").arg(pages.serverPort())));
    if (!loaded) {
        std::fprintf(stderr, "recorder: the fixture page did not load\n");
        return 1;
    }
    spin(500);

    PaneRecorder rec;
    const QString folder = QDir(home.path()).filePath("Videos/Bench");
    const double cpu0 = ownCpu(), kids0 = childrenCpu();
    const auto t0 = Clock::now();
    if (auto err = rec.start(&pane, folder, QStringLiteral("Bench"))) {
        std::fprintf(stderr, "recorder: %s\n", qPrintable(err->description()));
        return 1;
    }
    spin(int(seconds * 1000));
    std::optional<PaneRecorder::Outcome> outcome;
    rec.stop([&](const PaneRecorder::Outcome &o) { outcome = o; });
    const double lag = rec.longestLag();
    for (int i = 0; i < 600 && !outcome; ++i)
        spin(100);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = ownCpu() - cpu0, kids = childrenCpu() - kids0;
    if (!outcome || !outcome->ok()) {
        std::fprintf(stderr, "recorder: the recording failed: %s\n",
                     outcome && outcome->error ? qPrintable(outcome->error->description()) : "no answer");
        return 1;
    }
    const PaneRecorder::Summary &s = *outcome->summary;
    std::printf("recorder: %d CPUs, view %dx%d, video %lldx%lld, %.1f s recorded at a nominal %.0f frames/s\n",
                QThread::idealThreadCount(), pane.web()->width(), pane.web()->height(), (long long)s.width,
                (long long)s.height, s.seconds, PaneRecorder::fps());
    std::printf("frames written: %lld (%.2f per second)\n", (long long)s.framesWritten,
                double(s.framesWritten) / std::max(0.1, s.seconds));
    std::printf("frames dropped: %lld\n", (long long)s.framesDropped);
    std::printf("longest delay from capture to write: %.2f s\n", std::max(lag, rec.longestLag()));
    std::printf("CPU: program %.0f%% of one core, page renderer %.0f%% (over %.1f s, stop included)\n",
                100 * cpu / wall, 100 * kids / wall, wall);
    QStringList byPage, byOcr;
    for (auto it = s.hiddenByPage.begin(); it != s.hiddenByPage.end(); ++it)
        byPage.append(it.key() + " " + QString::number(it.value()));
    for (auto it = s.hiddenByOCR.begin(); it != s.hiddenByOCR.end(); ++it)
        byOcr.append(it.key() + " " + QString::number(it.value()));
    std::printf("hidden by the page check: %s\nhidden by recognition: %s\n", qPrintable(byPage.join(", ")),
                qPrintable(byOcr.join(", ")));

    if (!check)
        return 0;
    QString error;
    const auto info = Media::readVideo(QDir(folder).filePath("raw.mp4"), true, &error);
    if (!info) {
        std::fprintf(stderr, "recorder: the video cannot be read back: %s\n", qPrintable(error));
        return 1;
    }
    // The first two frames after every scroll (the page scrolls every 5 s of
    // its own clock, so look for large changes) and every 25th frame.
    std::set<size_t> pick;
    for (size_t i = 1; i < info->frames.size(); ++i) {
        const QImage &a = info->frames[i - 1], &b = info->frames[i];
        int changed = 0;
        for (int y = 100; y < b.height(); y += 97)
            if (a.pixel(b.width() / 3, y) != b.pixel(b.width() / 3, y))
                ++changed;
        if (changed > 4) {
            pick.insert(i);
            if (i + 1 < info->frames.size())
                pick.insert(i + 1);
        }
        if (i % 25 == 0)
            pick.insert(i);
    }
    Ocr::Engine engine;
    int leaks = 0;
    for (size_t i : pick) {
        const auto lines = engine.recognise(info->frames[i]);
        if (!lines) {
            std::printf("frame %zu: could not be recognised\n", i);
            continue;
        }
        for (const Ocr::Line &line : *lines)
            for (const auto &hit : Redaction::lineHits(line)) {
                ++leaks;
                std::printf("frame %zu at %.2f s: %s readable in \"%s\"\n", i, info->times[i], qPrintable(hit.kind),
                            qPrintable(line.text));
            }
    }
    std::printf("check: %zu frames recognised again, %d identifiers readable\n", pick.size(), leaks);
    return leaks ? 2 : 0;
}
