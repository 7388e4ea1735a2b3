// The page log: the page check's replies become steps and clicks.
#include "recorder/PaneRecorder.h"
#include "recorder/Recording.h"
#include "support/TestKit.h"

// Drives the recorder's private page log with replies of our own.
struct PaneRecorderTestPeer {
    PaneRecorder rec;
    static constexpr double START_MS = 1'700'000'000'000.0;

    PaneRecorderTestPeer()
    {
        rec.rec_ = std::make_shared<PaneRecorder::Recording>();
        rec.isRecording_ = true;
        rec.startedEpochMs_ = START_MS;
        rec.started_ = std::chrono::steady_clock::now();
    }
    void log(const QJsonObject &reply) { rec.log(reply); }
    const QVector<PaneRecorder::Step> &steps() const { return rec.rec_->steps; }
    const QVector<PaneRecorder::Click> &clicks() const { return rec.rec_->clicks; }
    QStringList titles() const
    {
        QStringList out;
        for (const auto &s : steps())
            out.append(s.kind + ":" + s.title);
        return out;
    }
};

using Peer = PaneRecorderTestPeer;

TEST(PageLog, PageStepsFollowHostPathAndTitle)
{
    Peer p;
    for (const QJsonObject &reply : {
             QJsonObject{{"ok", true}},  // the key "||" still differs from the empty last page
             QJsonObject{{"ok", true}, {"host", "a.in"}, {"path", "/x"}, {"title", "  Login\t"}},
             QJsonObject{{"ok", true}, {"host", "a.in"}, {"path", "/x"}, {"title", "  Login\t"}},
             QJsonObject{{"ok", true}, {"host", "a.in"}, {"path", "/x"}, {"title", "Dashboard"}},
             QJsonObject{{"ok", true}, {"host", "a.in"}, {"path", "/y"}, {"title", "   "}},
             QJsonObject{{"ok", true}, {"host", ""}, {"path", "/f.html"}, {"title", "Local"}},
             QJsonObject{{"ok", true}, {"host", 7}, {"path", "/f.html"}, {"title", "Local"}},
         })
        p.log(reply);
    EXPECT_EQ(p.titles(), (QStringList{"page:", "page:Login · a.in", "page:Dashboard · a.in", "page:a.in",
                                       "page:Local · "}));
    for (qsizetype i = 0; i < p.steps().size(); ++i)
        EXPECT_EQ(p.steps()[i].n, i + 1);
}

TEST(PageLog, ClicksAreRecordedAndTheOnesWithTextBecomeSteps)
{
    Peer p;
    const QString long100 = QString(100, QChar('w'));
    p.log({{"ok", true}, {"host", "a.in"}, {"title", "T"}, {"vw", 1280}, {"vh", 800},
           {"clicks", QJsonArray{QJsonObject{{"x", 10}, {"y", 20}, {"text", "Continue"}},
                                 QJsonObject{{"t", Peer::START_MS + 2500}, {"x", 5.5}, {"text", "   "}},
                                 QJsonObject{{"t", Peer::START_MS - 4000}, {"text", long100}},
                                 QJsonObject{{"t", "soon"}, {"y", "far"}, {"text", 12}}}}});
    ASSERT_EQ(p.clicks().size(), 4);
    EXPECT_EQ(p.clicks()[0], (PaneRecorder::Click{0, 10, 20, 1280, 800})) << "no time: the start instant";
    EXPECT_EQ(p.clicks()[1], (PaneRecorder::Click{2.5, 5.5, 0, 1280, 800}));
    EXPECT_EQ(p.clicks()[2].at, 0) << "before the start";
    EXPECT_EQ(p.clicks()[3], (PaneRecorder::Click{0, 0, 0, 1280, 800})) << "values of another type count as absent";

    EXPECT_EQ(p.titles(), (QStringList{"page:T · a.in", "click:Continue", "click:" + long100.left(80)}));
    EXPECT_EQ(p.steps()[1].at, 0);
    EXPECT_EQ(p.steps()[2].at, 0);

    // Without a viewport size the click's is 0; a list with a non-object is no list.
    p.log({{"ok", true}, {"host", "a.in"}, {"title", "T"}, {"clicks", QJsonArray{QJsonObject{{"text", "Go"}}}}});
    EXPECT_EQ(p.clicks().last().vw, 0);
    EXPECT_EQ(p.clicks().last().vh, 0);
    p.log({{"ok", true}, {"host", "a.in"}, {"title", "T"}, {"clicks", QJsonArray{QJsonObject{{"text", "Go"}}, 3}}});
    EXPECT_EQ(p.clicks().size(), 5);
}

TEST(PageLog, FocusedFieldsLogOnlyAChangeOfField)
{
    Peer p;
    const auto field = [](const QString &label, double t = Peer::START_MS + 1250) {
        return QJsonObject{{"label", label}, {"t", t}};
    };
    p.log({{"ok", true}, {"host", "a.in"},
           {"focus", QJsonArray{field("PAN"), field(" PAN "), field("Mobile number"), field("PAN"), field("  "),
                                QJsonObject{{"label", "Password"}}}}});
    EXPECT_EQ(p.titles(), (QStringList{"page:a.in", "field:PAN", "field:Mobile number", "field:PAN",
                                       "field:Password"}));
    EXPECT_EQ(p.steps()[1].at, 1.3) << "1.25 s rounds half away from zero";
    EXPECT_EQ(p.steps()[4].at, 0);

    // The last field carries over into the next reply.
    p.log({{"ok", true}, {"host", "a.in"}, {"focus", QJsonArray{field("Password")}}});
    EXPECT_EQ(p.steps().size(), 5);
}

TEST(PageLog, MarksWhileRecordingOnly)
{
    Peer p;
    const QString title = QString(100, QChar(u'अ'));
    const auto step = p.rec.mark(title);
    ASSERT_TRUE(step.has_value());
    EXPECT_EQ(step->kind, "mark");
    EXPECT_EQ(step->n, 1);
    EXPECT_EQ(step->title, title.left(80));

    PaneRecorder idle;
    EXPECT_FALSE(idle.mark("Chapter").has_value());
    EXPECT_EQ(idle.seconds(), 0);
}
