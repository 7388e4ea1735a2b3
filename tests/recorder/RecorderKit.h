#pragma once
// Shared steps of the recorder's tests: waiting for a stop's outcome and
// reading back what a recording wrote.
#include "platform/Media.h"
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

} // namespace RecorderKit
