// Recording the real browser pane on loopback fixture pages: the page check
// in its own script world, hidden fields, marked selectors, the page log, and
// the written frames read back and recognised again.
#include "RecorderKit.h"
#include "browser/BrowserPane.h"
#include "platform/Ocr.h"
#include "platform/WebView.h"
#include "recorder/PaneRecorder.h"
#include "recorder/Redaction.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

using namespace TestKit;
using namespace RecorderKit;

namespace {

const char *kFormPage = R"(<!doctype html><html><head><title>  GST Returns  </title>
<script>
// A page that tries to decide for itself what the recorder hides.
window.VeltoRecord = { frame: function () { return { ok: true, rects: [] }; } };
</script>
<style>
body { margin: 0; font: 22px sans-serif; background: #fff; color: #111 }
.abs { position: absolute }
</style></head><body>
<input id=pw class=abs style="left:40px;top:40px;width:260px;height:36px" type=password value="hunter2secret">
<input id=otp class=abs style="left:40px;top:100px;width:260px;height:36px" name=otp value="482913">
<label class=abs style="left:360px;top:40px">Trade name <input id=trade style="width:220px;height:30px" value="Sharma Traders"></label>
<div id=secret class=abs style="left:40px;top:160px;width:300px;height:40px;background:#000;color:#fff">Internal note</div>
<button id=go class=abs style="left:40px;top:230px;width:180px;height:40px">Continue</button>
<p class=abs style="left:360px;top:230px">PAN ABCPK1234F</p>
</body></html>)";

// Rows of every kind of identifier, taller than the view.
QByteArray tablePage()
{
    QByteArray rows;
    const char *letters = "ABCDEFGHJKLMNPQRSTUVWXYZ";
    for (int i = 0; i < 36; ++i) {
        const QByteArray n = QByteArray::number(1000 + i * 37);
        const char a = letters[i % 24], b = letters[(i * 7) % 24];
        rows += "<tr><td>Client " + QByteArray::number(i + 1) + "</td><td>AB" + a + "P" + b + n + "K</td><td>27AB" +
                a + "P" + b + n + "K1Z" + QByteArray::number(i % 9 + 1) + "</td><td>HDFC0" +
                QByteArray::number(100200 + i * 11) + "</td><td>98" + QByteArray::number(20011000 + i * 4321) +
                "</td><td>client" + QByteArray::number(i) + "@example.in</td></tr>";
    }
    return "<!doctype html><html><head><title>Clients</title><style>"
           "body{margin:0;font:20px sans-serif;background:#fff;color:#111}"
           "td{padding:8px 14px;border-bottom:1px solid #ccc}</style></head><body>"
           "<table>" + rows + "</table></body></html>";
}

// A page of every kind of identifier, as portals and the CA's tools show
// them: fields, a table in bold, serif, monospace and 12 px text with a bank
// account column, account numbers in running text, and canvases that draw
// values in several faces and sizes, one of them below the first view.
const char *kEveryKindPage = R"(<!doctype html><html><head><meta charset="utf-8"><title>Client file</title>
<style>
body { margin: 0; padding: 16px 24px; font: 17px "DejaVu Sans", sans-serif; background: #fff; color: #111 }
td, th { padding: 6px 12px; border-bottom: 1px solid #ccc; text-align: left }
.b { font-weight: bold } .s { font-family: "DejaVu Serif", serif } .m { font-family: "DejaVu Sans Mono", monospace }
.t { font-size: 12px } input { font: 17px "DejaVu Sans"; width: 260px }
canvas { display: block; margin: 12px 0 }
</style></head><body>
<h2>Client file</h2>
<p>PAN <input value="AAPFA1234K"> Bank account no <input value="50100234567891"></p>
<table><thead><tr><th>Client</th><th>PAN</th><th>GSTIN</th><th>Bank account</th><th>IFSC</th><th>Mobile</th><th>E-mail</th></tr></thead>
<tbody>
<tr><td>Asha Traders</td><td class=b>AAPFA1234K</td><td class=s>27AAPFA1234K1Z5</td><td class=m>XXXX XXXX 4521</td><td>HDFC0001234</td><td>98765 43210</td><td class=t>asha@traders.in</td></tr>
<tr><td>Bharat Steel</td><td class=b>BHRPS5678L</td><td class=s>29BHRPS5678L1ZQ</td><td class=m>912010034567891</td><td>ICIC0004567</td><td>91234 56780</td><td class=t>accounts@bsteel.com</td></tr>
<tr><td>Chetan &amp; Co</td><td class=b>CHTPK9012M</td><td class=s>07CHTPK9012M2Z8</td><td class=m>3201 4455 6712</td><td>SBIN0007890</td><td>87654 32109</td><td class=t>chetan.k@gmail.com</td></tr>
</tbody></table>
<p>Aadhaar of the proprietor: 2345 6789 0123. Refund credited to account 5010 0234 5678 90 on 12 March.</p>
<canvas id=c1 width=900 height=210></canvas>
<p class=s>Paid Rs 1,23,456.00 from a/c 6011-2233-4455-66 by NEFT.</p>
<div style="height:260px"></div>
<table><tr><th>खाता संख्या</th><td>32014455671</td></tr><tr><th>Account number</th><td class=b>XXXXXX9912</td></tr></table>
<canvas id=c2 width=900 height=150></canvas>
<div style="height:900px"></div>
<script>
function draw(id, rows) {
  var g = document.getElementById(id).getContext('2d');
  g.fillStyle = '#fbfaf5'; g.fillRect(0, 0, 900, 400);
  g.fillStyle = '#1d2433';
  rows.forEach(function (r) { g.font = r[0]; g.fillText(r[1], r[2], r[3]); });
}
draw('c1', [['bold 22px "DejaVu Serif"', 'GSTIN 36JNQPC6612E1ZX', 20, 40],
            ['16px "DejaVu Sans"', 'PAN BQRPK4521C', 500, 40],
            ['18px "DejaVu Sans Mono"', 'A/c 50100234567890', 20, 90],
            ['italic 20px "DejaVu Serif"', 'Mobile 98450 12345', 450, 90],
            ['14px "DejaVu Sans"', 'mail: ravi.k@example.co.in', 20, 140],
            ['bold 26px "DejaVu Sans"', 'IFSC UTIB0002345', 450, 145],
            ['bold 13px "DejaVu Sans Mono"', 'Aadhaar 4567 8901 2345', 20, 190]]);
draw('c2', [['bold 24px "DejaVu Serif"', '24AAACR5055K1Z5', 20, 50],
            ['20px "DejaVu Sans Mono"', '00771100223344', 420, 50],
            ['15px "DejaVu Serif"', 'priya.s@firm.in  +91 99887 66554', 20, 110]]);
</script></body></html>)";

// The identifiers on that page, as drawn.
const QStringList kEveryKindValues = {
    "AAPFA1234K", "50100234567891", "27AAPFA1234K1Z5", "HDFC0001234", "9876543210", "asha@traders.in",
    "BHRPS5678L", "29BHRPS5678L1ZQ", "912010034567891", "ICIC0004567", "9123456780", "accounts@bsteel.com",
    "CHTPK9012M", "07CHTPK9012M2Z8", "320144556712", "SBIN0007890", "8765432109", "chetan.k@gmail.com",
    "234567890123", "50100234567890", "6011223344556", "32014455671", "36JNQPC6612E1ZX", "BQRPK4521C",
    "98450 12345", "ravi.k@example.co.in", "UTIB0002345", "456789012345", "24AAACR5055K1Z5", "00771100223344",
    "priya.s@firm.in", "9988766554"};

class PaneRecordingTest : public HomeTest {
protected:
    FakeHttpServer server;
    std::unique_ptr<BrowserPane> pane;
    std::unique_ptr<PaneRecorder> rec;

    void SetUp() override
    {
        HomeTest::SetUp();
        BrowserTab::profile = [] { return webProfile(); };
        pane = std::make_unique<BrowserPane>(QRect(0, 0, 1000, 700));
        pane->show();
        rec = std::make_unique<PaneRecorder>();
    }
    void TearDown() override
    {
        rec.reset();
        pane.reset();
        HomeTest::TearDown();
    }
    WebView *web() { return pane->activeTab()->web(); }
    void page(const QString &path, const QByteArray &html)
    {
        FakeReply r = FakeReply::text(html);
        r.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        server.on("GET", path, r);
    }
    bool open(const QString &path)
    {
        QSignalSpy spy(web(), &QWebEngineView::loadFinished);
        if (!pane->load(QUrl(server.baseUrl() + path)))
            return false;
        // Loaded, and painted: the view's picture is no longer one colour.
        return spy.wait(15000) && waitFor([&] { return !pane->activeTab()->loading; }, 15000) &&
               waitFor([&] {
                   const QImage img = web()->snapshot().convertToFormat(QImage::Format_RGB32);
                   if (img.isNull())
                       return false;
                   for (int y = 0; y < img.height(); ++y) {
                       const QRgb *row = reinterpret_cast<const QRgb *>(img.constScanLine(y));
                       for (int x = 0; x < img.width(); ++x)
                           if (row[x] != row[0])
                               return true;
                   }
                   return false;
               }, 15000);
    }
    QString folder() const { return home->file("Videos/Pane"); }
    bool written(qint64 n) { return waitFor([&] { return rec->written() >= n; }, 30000); }

    // Every identifier the recogniser reads in the image.
    static QStringList identifiers(const QImage &image)
    {
        Ocr::Engine engine;
        EXPECT_TRUE(engine.ok());
        const auto lines = engine.recognise(image);
        EXPECT_TRUE(lines.has_value());
        QStringList out;
        for (const Ocr::Line &line : lines.value_or(QVector<Ocr::Line>()))
            for (const auto &hit : Redaction::lineHits(line))
                out.append(hit.kind + ": " + line.text);
        return out;
    }
};

bool near(QColor c, int r, int g, int b, int tolerance = 14)
{
    return std::abs(c.red() - r) <= tolerance && std::abs(c.green() - g) <= tolerance &&
           std::abs(c.blue() - b) <= tolerance;
}

} // namespace

TEST_F(PaneRecordingTest, HidesFieldsAndMarkedPartsAndLogsThePage)
{
    page("/returns", kFormPage);
    ASSERT_TRUE(open("/returns"));
    PaneRecorder::addMarked("127.0.0.1", "#secret");

    const auto err = rec->start(pane.get(), folder(), "Pane");
    ASSERT_FALSE(err.has_value()) << err->description().toStdString();
    EXPECT_EQ(rec->canvas(), QSize(web()->width() & ~1, web()->height() & ~1));
    ASSERT_TRUE(written(2));
    clickElement(web(), "go");
    clickElement(web(), "trade");
    ASSERT_TRUE(waitFor([&] { return rec->clicks().size() >= 2 && rec->steps().size() >= 3; }, 15000));
    const auto out = stopAndWait(*rec, 30000);
    ASSERT_TRUE(out && out->ok()) << errorText(out).toStdString();
    const PaneRecorder::Summary &s = *out->summary;

    QStringList steps;
    for (const auto &step : s.steps)
        steps.append(step.kind + ":" + step.title);
    EXPECT_EQ(steps.join(" / "), "page:GST Returns · 127.0.0.1 / click:Continue / field:Trade name");
    ASSERT_EQ(s.clicks.size(), 2) << "the click into the field is recorded too, without a step";
    EXPECT_EQ(s.clicks[0].vw, web()->width());
    EXPECT_NEAR(s.clicks[0].x, 130, 2);
    EXPECT_NEAR(s.clicks[0].y, 250, 2);

    // The page's own VeltoRecord decides nothing: the program's check ran.
    for (const char *kind : {"password", "otp", "marked", "pan"})
        EXPECT_GE(s.hiddenByPage.value(kind), s.framesWritten) << kind;
    EXPECT_FALSE(s.hiddenByPage.contains("field")) << "the trade name is not private";

    // The last frame: pills over the password box and the marked block,
    // the button as the page drew it.
    const auto info = video(folder(), true);
    ASSERT_TRUE(info && !info->frames.empty());
    const QImage last = info->frames.back();
    EXPECT_TRUE(near(last.pixelColor(282, 58), 226, 229, 237)) << "password field";
    EXPECT_TRUE(near(last.pixelColor(322, 180), 226, 229, 237)) << "marked block";
    EXPECT_TRUE(near(last.pixelColor(282, 112), 226, 229, 237)) << "one-time code";
    EXPECT_FALSE(near(last.pixelColor(380, 60), 226, 229, 237)) << "the rest of the page is shown";
    EXPECT_TRUE(identifiers(last).isEmpty()) << identifiers(last).join("; ").toStdString();
}

TEST_F(PaneRecordingTest, NoIdentifierIsReadableInAnyFrameAfterAScroll)
{
    page("/clients", tablePage());
    ASSERT_TRUE(open("/clients"));
    ASSERT_FALSE(identifiers(web()->snapshot()).isEmpty()) << "the page shows identifiers to begin with";

    ASSERT_FALSE(rec->start(pane.get(), folder(), "Pane").has_value());
    ASSERT_TRUE(written(3));
    pageJs(web(), "window.scrollBy(0, 480); 1");
    const double scrolledAt = rec->seconds();
    const qint64 before = rec->written();
    ASSERT_TRUE(written(before + 4));
    const auto out = stopAndWait(*rec, 60000);
    ASSERT_TRUE(out && out->ok()) << errorText(out).toStdString();

    const auto info = video(folder(), true);
    ASSERT_TRUE(info.has_value());
    ASSERT_EQ(info->frames.size(), info->times.size());
    // The first frames taken after the scroll, and the last one.
    std::vector<size_t> pick;
    for (size_t i = 0; i < info->times.size() && pick.size() < 2; ++i)
        if (info->times[i] > scrolledAt)
            pick.push_back(i);
    pick.push_back(info->frames.size() - 1);
    for (size_t i : pick) {
        const QStringList found = identifiers(info->frames[i]);
        EXPECT_TRUE(found.isEmpty()) << "frame " << i << " at " << info->times[i] << " s: "
                                     << found.join("; ").toStdString();
    }
    for (const char *kind : {"pan", "gstin", "ifsc", "mobile", "email"})
        EXPECT_GT(out->summary->hiddenByPage.value(kind), 0) << kind;
}

TEST_F(PaneRecordingTest, RefusesWithoutAViewOrWithoutThePrivacyScript)
{
    const auto none = rec->start(nullptr, folder(), "Pane");
    ASSERT_TRUE(none.has_value());
    EXPECT_EQ(none->description(), "Open the Browser pane on the page to record first.");

    const QString saved = PaneRecorder::bundledScript;
    const auto savedDev = PaneRecorder::devScript;
    QTemporaryDir dir;
    PaneRecorder::bundledScript = dir.filePath("missing.js");
    PaneRecorder::devScript = [&] { return dir.filePath("also-missing.js"); };
    const auto missing = rec->start(pane.get(), folder(), "Pane");
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(missing->description(), "The privacy script is missing from this build, so recording is off.");

    // Not UTF-8: refused the same way.
    QFile bad(dir.filePath("also-missing.js"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("window.VeltoRecord = '\xff\xfe';");
    bad.close();
    EXPECT_EQ(rec->start(pane.get(), folder(), "Pane")->kind(), PaneRecorder::RecordError::Kind::NoScript);

    // Found beside the program once, it stays loaded.
    ASSERT_TRUE(QFile::remove(dir.filePath("also-missing.js")));
    ASSERT_TRUE(QFile::copy(saved, dir.filePath("also-missing.js")));
    ASSERT_FALSE(rec->start(pane.get(), folder(), "Pane").has_value());
    stopAndWait(*rec, 30000);
    ASSERT_TRUE(QFile::remove(dir.filePath("also-missing.js")));
    const auto again = rec->start(pane.get(), folder(), "Pane");
    EXPECT_FALSE(again.has_value()) << again->description().toStdString();
    stopAndWait(*rec, 30000);
    PaneRecorder::bundledScript = saved;
    PaneRecorder::devScript = savedDev;

    pane->resize(90, 700);
    ASSERT_TRUE(waitFor([&] { return web()->width() <= 100; }));
    EXPECT_EQ(rec->start(pane.get(), folder(), "Pane")->kind(), PaneRecorder::RecordError::Kind::NoBrowser);
}

TEST_F(PaneRecordingTest, AHiddenPaneGivesNoFrame)
{
    page("/returns", kFormPage);
    ASSERT_TRUE(open("/returns"));
    pane->hide();
    std::vector<std::optional<double>> ticks;
    rec->onTick = [&](std::optional<double> s) { ticks.push_back(s); };
    ASSERT_FALSE(rec->start(pane.get(), folder(), "Pane").has_value());
    EXPECT_EQ(rec->canvas(), PaneRecorder::canvasFor(QSizeF(web()->size()), 2.0, false)) << "no window: scale 2";
    ASSERT_TRUE(waitFor([&] { return rec->dropped() >= 3; }));
    EXPECT_EQ(rec->written(), 0);
    EXPECT_GE(ticks.size(), 4u) << "every dropped frame reports the time";
    EXPECT_EQ(errorText(stopAndWait(*rec)),
              "The recording failed: no frame could be recorded — was the Browser pane showing a portal page?");
}

TEST_F(PaneRecordingTest, NoIdentifierOfAnyKindIsReadableInAnyWrittenFrame)
{
    page("/file", kEveryKindPage);
    ASSERT_TRUE(open("/file"));
    ASSERT_FALSE(identifiers(web()->snapshot()).isEmpty()) << "the page shows identifiers to begin with";

    ASSERT_FALSE(rec->start(pane.get(), folder(), "Pane").has_value());
    ASSERT_TRUE(written(3));
    // Scrolls that cut values at the edges and bring the second canvas in.
    for (int by : {45, 130, 517}) {
        pageJs(web(), QStringLiteral("window.scrollBy(0, %1); 1").arg(by));
        const qint64 before = rec->written();
        ASSERT_TRUE(written(before + 4)) << "after the scroll by " << by;
    }
    const auto out = stopAndWait(*rec, 90000);
    ASSERT_TRUE(out && out->ok()) << errorText(out).toStdString();

    const auto info = video(folder(), true);
    ASSERT_TRUE(info && !info->frames.empty());
    // Every written frame read again, on two threads.
    std::vector<QStringList> leaks(info->frames.size());
    std::atomic<size_t> next{0};
    auto readAll = [&] {
        Ocr::Engine engine;
        for (size_t i = next++; i < info->frames.size(); i = next++) {
            const auto lines = engine.recognise(info->frames[i]);
            if (!lines) {
                leaks[i] << "could not be read";
                continue;
            }
            for (const Ocr::Line &line : *lines) {
                for (const auto &hit : Redaction::lineHits(line))
                    leaks[i] << hit.kind + ": " + line.text;
                const QString flat = QString(line.text).remove(' ').remove('-');
                for (const QString &value : kEveryKindValues) {
                    const QString v = QString(value).remove(' ');
                    if (flat.contains(v) || Redaction::fixedVariant(flat).contains(v))
                        leaks[i] << "value " + value + ": " + line.text;
                }
            }
        }
    };
    std::thread a(readAll), b(readAll);
    a.join();
    b.join();
    int bad = 0;
    for (size_t i = 0; i < leaks.size(); ++i)
        if (!leaks[i].isEmpty()) {
            ++bad;
            ADD_FAILURE() << "frame " << i << " at " << info->times[i] << " s: " << leaks[i].join("; ").toStdString();
        }
    EXPECT_EQ(bad, 0) << "of " << leaks.size() << " frames";
    EXPECT_GT(out->summary->hiddenByPage.value("account"), 0);
}
