// The CA's always-hidden page selectors in "record-privacy.json".
#include "core/Globals.h"
#include "recorder/PaneRecorder.h"
#include "support/TestKit.h"

#include <QDir>
#include <QJsonDocument>

using namespace TestKit;

namespace {

class PrivacySelectorsTest : public HomeTest {
protected:
    QString file() const { return PaneRecorder::privacyFile(); }
    void put(const QByteArray &text) const { home->write(".velto/record-privacy.json", text); }
    QJsonObject stored() const { return QJsonDocument::fromJson(readFile(file())).object(); }
    QStringList besideFile() const
    {
        return QDir(VELTO_HOME).entryList({"record-privacy.json*"}, QDir::Files | QDir::Hidden, QDir::Name);
    }
};

} // namespace

TEST_F(PrivacySelectorsTest, ReadsTheHostsOwnListAndNothingOnAnyProblem)
{
    EXPECT_EQ(file(), VELTO_HOME + "/record-privacy.json");
    EXPECT_TRUE(PaneRecorder::markedSelectors("services.gst.gov.in").isEmpty()) << "no file";

    put(R"({"services.gst.gov.in": ["#pan", ".mobile"], "": ["body > .x"]})");
    EXPECT_EQ(PaneRecorder::markedSelectors("services.gst.gov.in"), (QStringList{"#pan", ".mobile"}));
    EXPECT_EQ(PaneRecorder::markedSelectors(""), (QStringList{"body > .x"}));
    EXPECT_TRUE(PaneRecorder::markedSelectors("payment.gst.gov.in").isEmpty()) << "another host";
    EXPECT_TRUE(PaneRecorder::markedSelectors("sub.services.gst.gov.in").isEmpty()) << "not even a sub-domain";
    EXPECT_TRUE(PaneRecorder::markedSelectors("SERVICES.GST.GOV.IN").isEmpty()) << "host names as the page gives them";

    // One value of another shape spoils the whole file.
    for (const QByteArray &bad : {QByteArray(R"({"a.in": ["#x"], "b.in": "#y"})"),
                                  QByteArray(R"({"a.in": ["#x", 3]})"), QByteArray(R"(["#x"])"),
                                  QByteArray("{not json"), QByteArray("")}) {
        put(bad);
        EXPECT_TRUE(PaneRecorder::markedSelectors("a.in").isEmpty()) << bad.toStdString();
    }
}

TEST_F(PrivacySelectorsTest, AddingAppendsWithoutRepeatsAndKeepsOtherHosts)
{
    PaneRecorder::addMarked("a.in", "#pan");
    EXPECT_EQ(stored(), QJsonObject({{"a.in", QJsonArray{"#pan"}}}));

    PaneRecorder::addMarked("b.in", ".acct");
    PaneRecorder::addMarked("a.in", ".mobile");
    PaneRecorder::addMarked("a.in", "#pan");
    EXPECT_EQ(stored(), QJsonObject({{"a.in", QJsonArray{"#pan", ".mobile"}}, {"b.in", QJsonArray{".acct"}}}));
    EXPECT_EQ(PaneRecorder::markedSelectors("a.in"), (QStringList{"#pan", ".mobile"}));

    // A repeat still rewrites the file (an outside edit in its shape is kept).
    put(R"({"a.in": ["#pan"], "c.in": ["#c"]})");
    PaneRecorder::addMarked("a.in", "#pan");
    EXPECT_EQ(stored(), QJsonObject({{"a.in", QJsonArray{"#pan"}}, {"c.in", QJsonArray{"#c"}}}));
    EXPECT_EQ(besideFile(), QStringList{"record-privacy.json"}) << "no temporary file left behind";
}

TEST_F(PrivacySelectorsTest, AnUnreadableFileIsMovedAsideNotOverwritten)
{
    const QByteArray broken = R"({"a.in": ["#pan", ".acct"], "b.in": "#oops")";
    put(broken);
    PaneRecorder::addMarked("a.in", "#new");

    EXPECT_EQ(stored(), QJsonObject({{"a.in", QJsonArray{"#new"}}}));
    const QStringList files = besideFile();
    ASSERT_EQ(files.size(), 2) << files.join(", ").toStdString();
    const QString aside = files.at(0) == "record-privacy.json" ? files.at(1) : files.at(0);
    EXPECT_TRUE(aside.startsWith("record-privacy.json.unreadable-")) << aside.toStdString();
    EXPECT_EQ(readFile(QDir(VELTO_HOME).filePath(aside)), broken) << "the CA's earlier content survives";
}
