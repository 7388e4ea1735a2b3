#pragma once
// Shared steps of the recorder's tests: waiting for a stop's outcome and
// reading back what a recording wrote.
#include "platform/Media.h"
#include "platform/WebView.h"
#include "recorder/PaneRecorder.h"
#include "support/TestKit.h"

#include <QDir>
#include <QJsonDocument>
#include <memory>

namespace RecorderKit {

using Outcome = PaneRecorder::Outcome;

// Asks for a stop and waits (bounded) for its one answer.
inline std::optional<Outcome> stopAndWait(PaneRecorder &rec, int ms = 20000)
{
    auto got = std::make_shared<std::vector<Outcome>>();
    rec.stop([got](const Outcome &o) { got->push_back(o); });
    if (!TestKit::waitFor([&] { return !got->empty(); }, ms))
        return std::nullopt;
    TestKit::spin(20);
    EXPECT_EQ(got->size(), 1u) << "a stop answers once";
    return got->front();
}

inline QString errorText(const std::optional<Outcome> &o)
{
    return o && o->error ? o->error->description() : QString();
}

inline QJsonObject stepsJson(const QString &folder)
{
    return QJsonDocument::fromJson(TestKit::readFile(QDir(folder).filePath("steps.json"))).object();
}

inline std::optional<Media::VideoInfo> video(const QString &folder, bool frames = false, int maxFrames = 0)
{
    QString error;
    auto info = Media::readVideo(QDir(folder).filePath("raw.mp4"), frames, &error, maxFrames);
    EXPECT_TRUE(info.has_value()) << error.toStdString();
    return info;
}

// Runs a script in the page's own world and answers its value as text.
inline QString pageJs(WebView *view, const QString &script)
{
    std::optional<QString> out;
    view->evaluate(script, [&](const WebView::ScriptResult &r) { out = r.value.toString(); }, WebView::World::Page);
    EXPECT_TRUE(TestKit::waitFor([&] { return out.has_value(); }, 10000));
    return out.value_or(QString());
}

// A click as the CA's mouse makes it, on the centre of the element with this id.
inline void clickElement(WebView *view, const QString &id)
{
    const QStringList xy = pageJs(view, "(function(){var r=document.getElementById('" + id +
                                            "').getBoundingClientRect();return Math.round(r.x+r.width/2)+','+"
                                            "Math.round(r.y+r.height/2);})()")
                               .split(',');
    ASSERT_EQ(xy.size(), 2);
    view->clickAt(QPoint(xy[0].toInt(), xy[1].toInt()));
}

} // namespace RecorderKit
