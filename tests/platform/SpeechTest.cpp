#include "platform/Dispatch.h"
#include "platform/Media.h"
#include "platform/Speech.h"
#include "support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

using Results = std::vector<std::optional<QString>>;

// Runs one synthesis and waits (bounded) for its one answer.
std::optional<Results> speak(const QStringList &texts, const QString &language, const QString &folder,
                             int ms = 30000)
{
    auto got = std::make_shared<std::vector<Results>>();
    Speech::synthesize(texts, language, folder, [got](const Results &r) { got->push_back(r); });
    EXPECT_TRUE(got->empty()) << "the answer never comes before synthesize returns";
    if (!TestKit::waitFor([&] { return !got->empty(); }, ms))
        return std::nullopt;
    TestKit::spin(20);
    EXPECT_EQ(got->size(), 1u) << "a synthesis answers once";
    return got->front();
}

// Puts back the real synthesiser and the time scale after a test.
struct SpeechHooks {
    double scale = Dispatch::timeScale;
    ~SpeechHooks()
    {
        Speech::engine = nullptr;
        Speech::voices = nullptr;
        Dispatch::timeScale = scale;
    }
};

QString name(const std::optional<QString> &path)
{
    return path ? QFileInfo(*path).fileName() : QStringLiteral("(none)");
}

} // namespace

TEST(Speech, SpeaksEachLineIntoItsOwnFileInOrder)
{
    SpeechHooks hooks;
    Dispatch::timeScale = 1; // the real voice, with its real watchdog
    QTemporaryDir dir;
    // An earlier render's clip of the same name is replaced.
    ASSERT_TRUE(QFile(dir.filePath(".voice-1.wav")).open(QIODevice::WriteOnly));
    const auto got = speak({"Open the GST registration form.", "Fill the legal name.", "Then continue."}, "en",
                           dir.path());
    ASSERT_TRUE(got);
    ASSERT_EQ(got->size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(name(got->at(size_t(i))), QString(".voice-%1.wav").arg(i));
        QString error;
        const auto samples = Media::readAudio(*got->at(size_t(i)), 22050, 60, &error);
        ASSERT_TRUE(samples) << error.toStdString();
        EXPECT_GT(samples->size(), 22050u / 4) << "a spoken line lasts a while";
    }
    // The Hindi voice speaks Devanagari.
    const auto hindi = speak({QString::fromUtf8("फ़ॉर्म खोलें")}, "hi", dir.path());
    ASSERT_TRUE(hindi && hindi->size() == 1 && hindi->at(0));
    EXPECT_GT(Media::readAudio(*hindi->at(0), 22050, 60).value_or(std::vector<float>()).size(), 22050u / 4);
    EXPECT_EQ(Speech::running(), 0);
}

TEST(Speech, VoiceCodesAndTheirFallbacks)
{
    for (const auto &[language, code] : std::vector<std::pair<QString, QString>>{
             {"hi", "hi-IN"}, {"en", "en-IN"}, {"HI", "en-IN"}, {"", "en-IN"}, {"hi-IN", "en-IN"}})
        EXPECT_EQ(Speech::voiceCode(language), code) << language.toStdString();

    const std::vector<Speech::Voice> full = {
        {"gmw/en-US", "en-us"}, {"gmw/en", "en-gb"}, {"gmw/en-IN", "en-IN"}, {"inc/hi", "hi"}};
    // Without an Indian English voice, the English voice that speaks "en" best.
    const std::vector<Speech::Voice> noIndia = {
        {"gmw/en-029", "en", 10}, {"gmw/en-US", "en-us", 2}, {"gmw/en2", "en", 2}, {"gmw/en-US", "en", 3}};
    const std::vector<Speech::Voice> usOnly = {{"gmw/en-US", "en-US"}, {"roa/fr", "fr"}};
    const std::vector<Speech::Voice> none = {{"roa/fr", "fr"}};
    struct Case {
        QString code;
        const std::vector<Speech::Voice> *installed;
        std::optional<QString> voice;
    };
    for (const Case &c : {Case{"en-IN", &full, "gmw/en-IN"}, Case{"hi-IN", &full, "inc/hi"},
                          Case{"en-IN", &noIndia, "gmw/en2"}, Case{"hi-IN", &usOnly, "gmw/en-US"},
                          Case{"en-IN", &usOnly, "gmw/en-US"}, Case{"en-IN", &none, std::nullopt}})
        EXPECT_EQ(Speech::pickVoice(c.code, *c.installed), c.voice) << c.code.toStdString();
}

TEST(Speech, TheVoiceOfEachLineIsPickedFromTheLanguage)
{
    SpeechHooks hooks;
    QTemporaryDir dir;
    Speech::voices = [] { return std::vector<Speech::Voice>{{"gmw/en-US", "en-us"}, {"inc/hi", "hi"}}; };
    std::mutex m;
    QStringList heard;
    Speech::engine = [&](const QString &, const QString &voice, int rate, const Speech::Sink &sink) {
        {
            std::lock_guard<std::mutex> g(m);
            heard << voice + "@" + QString::number(rate);
        }
        const int16_t samples[4] = {1, 2, 3, 4};
        sink(samples, 4);
    };
    ASSERT_TRUE(speak({"a"}, "hi", dir.path()));
    ASSERT_TRUE(speak({"b"}, "en", dir.path()));
    std::lock_guard<std::mutex> g(m);
    EXPECT_EQ(heard, QStringList({"inc/hi@166", "gmw/en-US@166"}));
}

TEST(Speech, ALineWithoutSoundHasNoFileAndTheOthersKeepTheirPlaces)
{
    SpeechHooks hooks;
    QTemporaryDir dir;
    Speech::engine = [](const QString &text, const QString &, int, const Speech::Sink &sink) {
        if (text.isEmpty())
            return;
        std::vector<int16_t> samples(1000, 100);
        sink(samples.data(), 0); // an empty buffer is no sound yet
        sink(samples.data(), int(samples.size()));
    };
    const auto got = speak({"one", "", "three"}, "en", dir.path());
    ASSERT_TRUE(got);
    ASSERT_EQ(got->size(), 3u);
    EXPECT_EQ(name(got->at(0)), ".voice-0.wav");
    EXPECT_FALSE(got->at(1));
    EXPECT_FALSE(QFile::exists(dir.filePath(".voice-1.wav")));
    EXPECT_EQ(name(got->at(2)), ".voice-2.wav");
    // A proper sound file: 44 header bytes and the samples.
    EXPECT_EQ(QFileInfo(*got->at(2)).size(), 44 + 2000);
    const auto samples = Media::readAudio(*got->at(2), Speech::sampleRate, 60);
    ASSERT_TRUE(samples);
    EXPECT_EQ(samples->size(), 1000u);

    // A folder where no file can be made: every line ends early, without a file.
    const auto nowhere = speak({"one", "two"}, "en", dir.filePath("missing"));
    ASSERT_TRUE(nowhere);
    EXPECT_EQ(*nowhere, Results(2));

    const auto empty = speak({}, "en", dir.path());
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    EXPECT_EQ(Speech::running(), 0);
}

TEST(Speech, TheWatchdogHandsOnWhatWasWrittenAndLateSoundIsDropped)
{
    SpeechHooks hooks; // the suite's time scale: the watchdog fires in 0.3 s
    QTemporaryDir dir;
    // Shared with the speech thread, which may outlive a failed test.
    struct Gate {
        std::mutex m;
        std::condition_variable cv;
        bool release = false;
        std::atomic<bool> lateRefused{false};
        std::atomic<int> calls{0};
    };
    auto gate = std::make_shared<Gate>();
    Speech::engine = [gate](const QString &text, const QString &, int, const Speech::Sink &sink) {
        ++gate->calls;
        std::vector<int16_t> samples(500, 7);
        sink(samples.data(), int(samples.size()));
        if (text != "stuck")
            return;
        std::unique_lock<std::mutex> g(gate->m);
        gate->cv.wait_for(g, std::chrono::seconds(20), [&] { return gate->release; });
        // The line was handed on long ago: this sound must not reach its file.
        gate->lateRefused = !sink(samples.data(), int(samples.size()));
    };
    const auto got = speak({"stuck", "next"}, "en", dir.path(), 20000);
    ASSERT_TRUE(got);
    ASSERT_EQ(got->size(), 2u);
    ASSERT_TRUE(got->at(0));
    // The next line waited behind the stuck one and its own watchdog ran out.
    EXPECT_FALSE(got->at(1));
    const qint64 handedOn = QFileInfo(*got->at(0)).size();
    EXPECT_EQ(handedOn, 44 + 1000) << "what was written before the watchdog";
    {
        std::lock_guard<std::mutex> g(gate->m);
        gate->release = true;
    }
    gate->cv.notify_all();
    ASSERT_TRUE(TestKit::waitFor([&] { return gate->lateRefused.load() && gate->calls == 2; }, 10000));
    TestKit::spin(50);
    EXPECT_FALSE(QFile::exists(dir.filePath(".voice-1.wav"))) << "sound after the watchdog opens no file";
    EXPECT_EQ(QFileInfo(*got->at(0)).size(), handedOn);
    EXPECT_EQ(Media::readAudio(*got->at(0), Speech::sampleRate, 60).value_or(std::vector<float>()).size(), 500u);
}
