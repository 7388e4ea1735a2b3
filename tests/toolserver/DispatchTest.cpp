// Routing of tool calls: the families by exact name, the browser window check,
// the activity hook, the main thread, and waiting for open dialogs.
#include "ServerFixture.h"

#include "platform/Dialogs.h"
#include "platform/Dispatch.h"

#include <QMutex>
#include <QThread>

using namespace McpTest;
using namespace TestKit;

namespace {

// Collects one tool result, whichever thread it comes from.
class Answer {
public:
    BrowserMCP::Done done()
    {
        return [this](const QJsonObject &result) {
            QMutexLocker lock(&mutex_);
            results_.push_back(result);
        };
    }
    int count() const
    {
        QMutexLocker lock(&mutex_);
        return int(results_.size());
    }
    QJsonObject wait()
    {
        EXPECT_TRUE(waitFor([&] { return count() > 0; }));
        QMutexLocker lock(&mutex_);
        return results_.empty() ? QJsonObject{{"missing", true}} : results_.front();
    }

private:
    mutable QMutex mutex_;
    std::vector<QJsonObject> results_;
};

class DispatchTest : public ServerTest {
protected:
    std::vector<QString> log; // "family:tool" per family call, "activity:tool" per hook call
    bool offMainThread = false;

    void SetUp() override
    {
        ServerTest::SetUp();
        BrowserMCP::onActivity = [this](const QString &name) {
            offMainThread |= !Dispatch::isMainThread();
            log.push_back("activity:" + name);
        };
    }

    // A family that answers at once with "<label> did <tool>".
    ToolFamily family(const QString &label, const QSet<QString> &names)
    {
        return ToolFamily{[names] { return names; }, [](Tool::Obj) { return QJsonArray(); },
                          [this, label](const QString &name, const QJsonObject &args, const Tool::Done &done) {
                              offMainThread |= !Dispatch::isMainThread();
                              log.push_back(label + ":" + name);
                              done(label + " did " + name + args.value("note").toString(), false);
                          }};
    }

    QJsonObject call(const QString &name, const QJsonObject &args = {})
    {
        Answer answer;
        server->call(name, args, answer.done());
        return answer.wait();
    }
};

TEST(ToolResult, TextAndImageShapes)
{
    EXPECT_EQ(BrowserMCP::text("Saved.", false), textResult("Saved.", false));
    EXPECT_EQ(BrowserMCP::image(QByteArray("\x89PNG\r\n", 6)),
              (QJsonObject{{"content", QJsonArray{QJsonObject{{"type", "image"},
                                                              {"data", "iVBORw0K"},
                                                              {"mimeType", "image/png"}}}},
                           {"isError", false}}));
}

TEST_F(DispatchTest, FamiliesAreChosenByExactNameInRoutingOrder)
{
    // Listed in one order, routed in another: routing decides who runs a
    // name that two families hold.
    Families::listed = {family("erp", {"erp_list", "shared_tool"}), family("mail", {"mail_search", "shared_tool"})};
    Families::routed = {family("mail", {"mail_search", "shared_tool"}), family("erp", {"erp_list", "shared_tool"})};
    pane.reset(); // family tools work without the browser window

    EXPECT_EQ(call("erp_list", {{"note", "!"}}), textResult("erp did erp_list!", false));
    EXPECT_EQ(call("shared_tool"), textResult("mail did shared_tool", false));
    EXPECT_EQ(call("ERP_LIST"), textResult("Browser window is not open.", true));
    EXPECT_EQ(call("erp_"), textResult("Browser window is not open.", true)) << "no routing by prefix";
    EXPECT_EQ(log, (std::vector<QString>{"activity:erp_list", "erp:erp_list", "activity:shared_tool",
                                         "mail:shared_tool"}));
    EXPECT_FALSE(offMainThread);
}

TEST_F(DispatchTest, OwnToolsNeedTheBrowserWindow)
{
    // Open window: the hook hears of the tool before it runs.
    EXPECT_EQ(call("browser_open", {{"url", "https://www.gst.gov.in"}}),
              textResult("Browser window is not open.", true));
    EXPECT_EQ(call("Browser_Open"), textResult("Unknown tool: Browser_Open", true));
    EXPECT_EQ(call(""), textResult("Unknown tool: ", true));
    EXPECT_EQ(log, (std::vector<QString>{"activity:browser_open", "activity:Browser_Open", "activity:"}));

    // The window closes: the server held it weakly and now says so, without
    // reporting activity.
    log.clear();
    pane.reset();
    for (const char *name : {"browser_open", "record_start", "no_such_tool"})
        EXPECT_EQ(call(name), textResult("Browser window is not open.", true)) << name;
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(offMainThread);
}

TEST_F(DispatchTest, FamilyMayAnswerLaterFromAnotherThread)
{
    Families::routed = {ToolFamily{[] { return QSet<QString>{"cloud_fetch"}; }, [](Tool::Obj) { return QJsonArray(); },
                                   [](const QString &, const QJsonObject &, Tool::Done done) {
                                       Dispatch::runInBackground([done] {
                                           QThread::msleep(20);
                                           done("fetched off the main thread", false);
                                       });
                                   }}};
    EXPECT_EQ(call("cloud_fetch"), textResult("fetched off the main thread", false));
    EXPECT_EQ(callTool("cloud_fetch"), textResult("fetched off the main thread", false));
}

TEST_F(DispatchTest, CallsWaitForAnOpenDialogAndRunInArrivalOrder)
{
    Families::routed = {family("tally", {"tally_a", "tally_b", "tally_c"})};
    bool checkedInside = false;
    Answer a, b, c;
    {
        DialogAnswers answers;
        Dialogs::Hooks::confirm = [&](const Dialogs::Confirm &) {
            // Calls arrive while the CA looks at the dialog.
            server->call("tally_a", {}, a.done());
            server->call("tally_b", {}, b.done());
            server->call("tally_c", {}, c.done());
            spin(50);
            EXPECT_TRUE(log.empty()) << "no call runs inside the dialog";
            checkedInside = true;
            return true;
        };
        EXPECT_TRUE(Dialogs::confirm(Dialogs::Confirm{"Approve the write?", "Tally voucher"}));
    }
    EXPECT_TRUE(checkedInside);
    c.wait();
    EXPECT_EQ(log, (std::vector<QString>{"activity:tally_a", "tally:tally_a", "activity:tally_b", "tally:tally_b",
                                         "activity:tally_c", "tally:tally_c"}));
}

TEST_F(DispatchTest, CallOverTheWireWaitsWhileADialogIsOpen)
{
    Families::routed = {family("books", {"books_create_invoice"})};
    auto dialog = std::make_unique<Modal::Scope>();
    RawClient client(port());
    client.send(post(rpc("tools/call", QJsonObject{{"name", "books_create_invoice"}}), token()));
    EXPECT_TRUE(client.read(150).raw.isEmpty());
    EXPECT_TRUE(log.empty());
    dialog.reset();
    const Reply r = client.read();
    EXPECT_EQ(r.json().value("result").toObject(), textResult("books did books_create_invoice", false));
}

TEST_F(DispatchTest, ReadsAnswerWhileTheCaLooksAtADialog)
{
    // One question of the program's own (a recording's consent, an approval)
    // is open: what asks nothing and acts on no page answers at once; what
    // may ask or write waits for the answer.
    Families::routed = {family("erp", {"erp_connections", "erp_commit"}), family("tally", {"tally_status"}),
                        family("mail", {"mail_search"})};
    Answer commit;
    bool checkedInside = false;
    {
        DialogAnswers answers;
        Dialogs::Hooks::alert = [&](const Dialogs::Alert &) {
            server->call("erp_commit", {}, commit.done());
            for (const char *read : {"erp_connections", "tally_status", "mail_search", "browser_tabs"}) {
                Answer a;
                server->call(read, {}, a.done());
                EXPECT_TRUE(waitFor([&] { return a.count() == 1; })) << read << " answers inside the dialog";
            }
            EXPECT_EQ(commit.count(), 0) << "a write waits";
            checkedInside = true;
            return 0;
        };
        Dialogs::ask(Dialogs::Alert{"Record the browser pane?", "consent"});
    }
    EXPECT_TRUE(checkedInside);
    EXPECT_EQ(commit.wait(), textResult("erp did erp_commit", false));
    EXPECT_EQ(log, (std::vector<QString>{"activity:erp_connections", "erp:erp_connections", "activity:tally_status",
                                         "tally:tally_status", "activity:mail_search", "mail:mail_search",
                                         "activity:browser_tabs", "activity:erp_commit", "erp:erp_commit"}));
}

TEST_F(DispatchTest, ServerGoneBeforeTheCallRunsAnswersEmpty)
{
    Families::routed = {family("einvoice", {"einvoice_get"})};
    Answer own, fam;
    server->call("browser_read", {}, own.done());
    server->call("einvoice_get", {}, fam.done());
    server.reset();
    EXPECT_EQ(own.wait(), QJsonObject());
    EXPECT_EQ(fam.wait(), QJsonObject());
    EXPECT_TRUE(log.empty()) << "nothing ran";
}

TEST_F(DispatchTest, OnlyTheFirstAnswerOfAToolIsSent)
{
    Families::routed = {ToolFamily{[] { return QSet<QString>{"mail_thread"}; }, [](Tool::Obj) { return QJsonArray(); },
                                   [](const QString &, const QJsonObject &, const Tool::Done &done) {
                                       done("first", false);
                                       done("second", true);
                                   }}};
    RawClient client(port());
    client.send(post(rpc("tools/call", QJsonObject{{"name", "mail_thread"}}), token()));
    const Reply r = client.read();
    EXPECT_EQ(r.json().value("result").toObject(), textResult("first", false));
    EXPECT_EQ(r.raw.count("HTTP/1.1"), 1);
}

} // namespace
