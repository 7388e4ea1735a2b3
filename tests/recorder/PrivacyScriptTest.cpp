// The page privacy script on its own: what it hides, what it reports of
// clicks and focus, and that no page can take its place or read a secret
// through it.
#include "RecorderKit.h"
#include "platform/WebView.h"
#include "recorder/PaneRecorder.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"

#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>

using namespace TestKit;
using namespace RecorderKit;

namespace {

const char *kPage = R"(<!doctype html><html><head><title>Profile</title>
<style>body { margin: 0; font: 18px sans-serif } .abs { position: absolute } input { box-sizing: border-box }</style>
<script>
window.VeltoRecord = { frame: function () { return { ok: true, rects: [], title: 'spoofed' }; } };
</script></head><body>
<input id=pw class=abs style="left:10px;top:10px;width:200px;height:30px" type=password value="hunter2secret">
<input id=otp class=abs style="left:10px;top:50px;width:200px;height:30px" autocomplete="one-time-code" value="482913">
<input id=tel class=abs style="left:10px;top:90px;width:200px;height:30px" type=tel>
<input id=mail class=abs style="left:10px;top:130px;width:200px;height:30px" type=email>
<label class=abs for=pan style="left:300px;top:10px">PAN of the client</label>
<input id=pan class=abs style="left:450px;top:10px;width:150px;height:30px">
<input id=freeform class=abs style="left:300px;top:50px;width:200px;height:30px" value="ABCPK1234F">
<label class=abs style="left:300px;top:90px">Trade name <input id=trade value="Sharma Traders"></label>
<input id=gone type=password style="display:none" value="x">
<input id=far class=abs type=password style="left:10px;top:5000px" value="x">
<p id=text class=abs style="left:10px;top:200px;width:900px;margin:0">Registered PAN ABCPK1234F and mobile 9876543210 for the firm</p>
<div id=note class=abs style="left:10px;top:260px;width:120px;height:40px;background:#333">note</div>
<button id=go class=abs style="left:10px;top:320px;width:160px;height:36px">Continue</button>
<button id=leak class=abs style="left:200px;top:320px;width:220px;height:36px">Pay ABCPK1234F</button>
<iframe id=inner class=abs style="left:500px;top:300px;width:300px;height:120px;border:0" src="/inner"></iframe>
</body></html>)";

const char *kInner = R"(<!doctype html><html><body style="margin:0">
<input type=password style="box-sizing:border-box;position:absolute;left:20px;top:30px;width:100px;height:24px" value="y"></body></html>)";

// Bank account numbers shown by their label (a column header, a row header
// in Hindi, a field's label) or by their shape (a run of digits), beside
// amounts, dates and a branch name that stay.
const char *kBank = R"(<!doctype html><html><head><title>Bank</title>
<style>body { margin: 0; font: 16px sans-serif } .abs { position: absolute } td, th { padding: 4px 10px }</style>
</head><body>
<table class=abs style="left:10px;top:10px"><thead><tr><th>Client</th><th>Bank account</th><th>IFSC</th></tr></thead>
<tbody><tr><td id=name>Asha Traders</td><td id=masked>XXXX XXXX 4521</td><td>HDFC0001234</td></tr>
<tr><td>Bharat Steel</td><td id=plain>50100234567890</td><td>ICIC0004567</td></tr></tbody></table>
<table class=abs style="left:10px;top:150px"><tr><th>खाता संख्या</th><td id=hindi>3201 4455 67</td></tr>
<tr><th>Branch</th><td id=branch>Fort, Mumbai</td></tr></table>
<p class=abs style="left:10px;top:250px;margin:0"><span id=amount>Paid Rs 1,23,456.00 on 12-03-2026</span> from a/c
<span id=inline>9120-1003-4567-891</span></p>
<input id=field class=abs style="left:10px;top:300px;width:200px" aria-label="Beneficiary A/c No." value="12">
<input id=sum class=abs style="left:300px;top:300px;width:200px" name=total value="1234567890.50">
<canvas class=abs style="left:600px;top:10px" width=300 height=80></canvas>
<canvas class=abs style="left:600px;top:100px" width=10 height=10></canvas>
</body></html>)";

class PrivacyScriptTest : public HomeTest {
protected:
    FakeHttpServer server;
    std::unique_ptr<WebView> view;
    QString source;

    void SetUp() override
    {
        HomeTest::SetUp();
        QFile f(PaneRecorder::bundledScript);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "the script is compiled in";
        source = QString::fromUtf8(f.readAll());
        for (const auto &[path, html] :
             {std::pair{"/profile", kPage}, std::pair{"/inner", kInner}, std::pair{"/bank", kBank}}) {
            FakeReply r = FakeReply::text(html);
            r.headers = {{"Content-Type", "text/html; charset=utf-8"}};
            server.on("GET", path, r);
        }
        view = std::make_unique<WebView>(webProfile());
        view->resize(1000, 600);
        view->show();
        QSignalSpy spy(view.get(), &QWebEngineView::loadFinished);
        view->load(QUrl(server.baseUrl() + "/profile"));
        ASSERT_TRUE(spy.wait(15000));
        // The frame's own document is loaded too.
        ASSERT_TRUE(waitFor([&] { return pageJs(view.get(), "document.getElementById('inner').contentDocument.readyState") ==
                                          "complete"; }, 10000));
    }
    void TearDown() override
    {
        view.reset();
        HomeTest::TearDown();
    }
    // One frame call, as the recorder makes it.
    QJsonObject frame(const QStringList &selectors = {})
    {
        std::optional<QJsonObject> out;
        view->evaluate(PaneRecorder::pageCheck(source, selectors), [&](const WebView::ScriptResult &r) {
            EXPECT_TRUE(r.ok()) << r.error.toStdString();
            out = QJsonObject::fromVariantMap(r.value.toMap());
        }, WebView::World::Isolated);
        EXPECT_TRUE(waitFor([&] { return out.has_value(); }, 10000));
        return out.value_or(QJsonObject());
    }
    // The boxes of one kind, as "x,y,w,h" rounded.
    static QStringList boxes(const QJsonObject &reply, const QString &kind)
    {
        QStringList out;
        for (const QJsonValue &v : reply["rects"].toArray()) {
            const QJsonObject r = v.toObject();
            if (r["kind"].toString() == kind)
                out.append(QStringLiteral("%1,%2,%3,%4")
                               .arg(qRound(r["x"].toDouble()))
                               .arg(qRound(r["y"].toDouble()))
                               .arg(qRound(r["w"].toDouble()))
                               .arg(qRound(r["h"].toDouble())));
        }
        return out;
    }
};

} // namespace

TEST_F(PrivacyScriptTest, HidesPrivateFieldsTextAndMarkedElementsInViewportPixels)
{
    const QJsonObject r = frame({"#note", "][ not a selector", "#nothing-here"});
    EXPECT_EQ(r["ok"], QJsonValue(true));
    EXPECT_EQ(r["host"].toString(), "127.0.0.1");
    EXPECT_EQ(r["path"].toString(), "/profile");
    EXPECT_EQ(r["title"].toString(), "Profile") << "the page's own VeltoRecord is not the one asked";
    EXPECT_EQ(r["vw"].toDouble(), 1000);
    EXPECT_EQ(r["vh"].toDouble(), 600);

    // Fields get their box and 2 pixels around it; the hidden and the
    // off-screen password fields none; a frame's field is offset by the frame.
    EXPECT_EQ(boxes(r, "password"), (QStringList{"8,8,204,34", "518,328,104,28"}));
    EXPECT_EQ(boxes(r, "otp"), QStringList{"8,48,204,34"});
    EXPECT_EQ(boxes(r, "mobile").mid(0, 1), QStringList{"8,88,204,34"});
    EXPECT_EQ(boxes(r, "email"), QStringList{"8,128,204,34"});
    EXPECT_TRUE(boxes(r, "pan").contains("448,8,154,34")) << "labelled as a PAN field";
    EXPECT_TRUE(boxes(r, "pan").contains("298,48,204,34")) << "holds a PAN";
    EXPECT_EQ(boxes(r, "marked"), QStringList{"8,258,124,44"});
    EXPECT_EQ(boxes(r, "field"), QStringList{}) << "the trade name is not private";

    // Text: the identifier's own characters, not its paragraph.
    QStringList textPan;
    for (const QString &b : boxes(r, "pan"))
        if (b.split(',')[1].toInt() > 190 && b.split(',')[1].toInt() < 230)
            textPan.append(b);
    ASSERT_EQ(textPan.size(), 1) << boxes(r, "pan").join(" ").toStdString();
    EXPECT_LT(textPan[0].split(',')[2].toInt(), 200);
    EXPECT_GT(textPan[0].split(',')[0].toInt(), 60);
    EXPECT_EQ(boxes(r, "mobile").size(), 2) << "the field and the number in the text";

    // Nothing a field holds leaves the page.
    const QByteArray text = QJsonDocument(r).toJson();
    EXPECT_FALSE(text.contains("hunter2secret"));
    EXPECT_FALSE(text.contains("482913"));
}

TEST_F(PrivacyScriptTest, ReportsClicksAndFocusOnce)
{
    frame();
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    clickElement(view.get(), "go");
    clickElement(view.get(), "leak");
    clickElement(view.get(), "trade");
    clickElement(view.get(), "pw");
    ASSERT_TRUE(waitFor([&] { return pageJs(view.get(), "document.activeElement.id") == "pw"; }));
    const QJsonObject r = frame();
    const QJsonArray clicks = r["clicks"].toArray();
    ASSERT_EQ(clicks.size(), 4);
    EXPECT_EQ(clicks[0].toObject()["text"].toString(), "Continue");
    EXPECT_NEAR(clicks[0].toObject()["x"].toDouble(), 90, 1);
    EXPECT_NEAR(clicks[0].toObject()["y"].toDouble(), 338, 1);
    EXPECT_GE(clicks[0].toObject()["t"].toDouble(), double(before));
    EXPECT_EQ(clicks[1].toObject()["text"].toString(), "") << "a text with a PAN in it is not logged";
    EXPECT_EQ(clicks[2].toObject()["text"].toString(), "") << "a field's value is never a click's text";
    QStringList labels;
    for (const QJsonValue &f : r["focus"].toArray())
        labels.append(f.toObject()["label"].toString());
    EXPECT_EQ(labels, (QStringList{"Trade name", "pw"}));
    EXPECT_FALSE(QJsonDocument(r).toJson().contains("hunter2secret"));
    EXPECT_FALSE(QJsonDocument(r).toJson().contains("Sharma"));

    const QJsonObject next = frame();
    EXPECT_TRUE(next["clicks"].toArray().isEmpty()) << "each event is reported once";
    EXPECT_TRUE(next["focus"].toArray().isEmpty());
}

TEST_F(PrivacyScriptTest, AfterAScrollBoxesAreAlsoHiddenWhereTheyWere)
{
    frame();
    pageJs(view.get(), "window.scrollTo(0, 20); 'ok'");
    // The view's picture may still show the page before the scroll.
    EXPECT_EQ(boxes(frame(), "otp"), (QStringList{"8,28,204,34", "8,48,204,34"}));
    EXPECT_EQ(boxes(frame(), "otp"), QStringList{"8,28,204,34"}) << "only for the frame after the scroll";
}

TEST_F(PrivacyScriptTest, APageCannotReplaceOrReadTheCheck)
{
    frame();
    // The program's VeltoRecord is not the page's, and the page never sees it.
    EXPECT_EQ(pageJs(view.get(), "typeof window.VeltoRecord.frame().title"), "string");
    EXPECT_EQ(pageJs(view.get(), "window.VeltoRecord.frame().title"), "spoofed");
    pageJs(view.get(), "window.VeltoRecord = { frame: function () { return { ok: false }; } }; 'set'");
    const QJsonObject r = frame();
    EXPECT_EQ(r["ok"], QJsonValue(true));
    EXPECT_FALSE(boxes(r, "password").isEmpty());
}

TEST_F(PrivacyScriptTest, HidesBankAccountNumbersByTheirLabelOrShape)
{
    QSignalSpy spy(view.get(), &QWebEngineView::loadFinished);
    view->load(QUrl(server.baseUrl() + "/bank"));
    ASSERT_TRUE(spy.wait(15000));
    const QJsonObject r = frame();
    // Whether an account box holds the centre of the element with this id.
    const auto hidden = [&](const QString &id) {
        const QStringList c = pageJs(view.get(), "(function(){var r=document.getElementById('" + id +
                                                     "').getBoundingClientRect();return (r.x+r.width/2)+','+"
                                                     "(r.y+r.height/2);})()")
                                  .split(',');
        if (c.size() != 2)
            return false;
        for (const QString &b : boxes(r, "account")) {
            const QStringList v = b.split(',');
            if (QRectF(v[0].toInt(), v[1].toInt(), v[2].toInt(), v[3].toInt()).contains(c[0].toDouble(), c[1].toDouble()))
                return true;
        }
        return false;
    };
    struct Case {
        const char *id;
        bool hidden;
    };
    const Case cases[] = {
        {"masked", true},  // under the "Bank account" header, whatever it shows
        {"plain", true},   // under the header, and a run of digits
        {"hindi", true},   // after a Hindi row header
        {"inline", true},  // digits grouped by dashes in running text
        {"field", true},   // the field's label names an account number
        {"name", false},   {"branch", false},
        {"amount", false}, // an amount and a date are not account numbers
        {"sum", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(hidden(c.id), c.hidden) << c.id << ": " << boxes(r, "account").join(" ").toStdString();
    EXPECT_EQ(boxes(r, "ifsc").size(), 2) << "the IFSC cells keep their own kind";
    // The canvas big enough to hold a value is reported as drawn pixels, for
    // recognition to read whole; nothing is hidden for it by the page check.
    const QJsonArray pixels = r["pixels"].toArray();
    ASSERT_EQ(pixels.size(), 1);
    EXPECT_EQ(pixels[0].toObject(), (QJsonObject{{"x", 598}, {"y", 8}, {"w", 304}, {"h", 84}}));
    EXPECT_FALSE(QJsonDocument(r).toJson().contains("5010")) << "no value leaves the page";
}

TEST_F(PrivacyScriptTest, TellsWhetherThePageMovedSinceItsCheck)
{
    const QString sign = frame()["scroll"].toString();
    ASSERT_FALSE(sign.isEmpty());
    const auto now = [&] {
        std::optional<QString> out;
        view->evaluate("VeltoRecord.scroll()", [&](const WebView::ScriptResult &r) { out = r.value.toString(); },
                       WebView::World::Isolated);
        EXPECT_TRUE(waitFor([&] { return out.has_value(); }, 10000));
        return out.value_or(QString());
    };
    EXPECT_EQ(now(), sign) << "standing still";
    pageJs(view.get(), "window.scrollTo(0, 30); 'ok'");
    EXPECT_NE(now(), sign) << "scrolled after the check";
    EXPECT_EQ(frame()["scroll"].toString(), now()) << "a new check stands where the page stands";
}
