#pragma once
// A running tool server for one test, with the browser pane open (a stand-in
// object the test may delete to close the window), no hooks and no families
// unless the test sets them.
#include "RawClient.h"
#include "toolserver/BrowserMCP.h"
#include "toolserver/Families.h"
#include "support/TestKit.h"

#include <QJsonDocument>
#include <memory>

namespace McpTest {

class ServerTest : public TestKit::HomeTest {
protected:
    std::unique_ptr<QObject> pane = std::make_unique<QObject>();
    std::unique_ptr<BrowserMCP> server;

    void SetUp() override
    {
        HomeTest::SetUp();
        savedListed_ = Families::listed;
        savedRouted_ = Families::routed;
        BrowserMCP::onActivity = nullptr;
        BrowserMCP::onConfirm = nullptr;
        server = std::make_unique<BrowserMCP>(pane.get());
        ASSERT_TRUE(server->start());
    }

    void TearDown() override
    {
        server.reset();
        Families::listed = savedListed_;
        Families::routed = savedRouted_;
        BrowserMCP::onActivity = nullptr;
        BrowserMCP::onConfirm = nullptr;
        HomeTest::TearDown();
    }

    quint16 port() const { return server->port(); }
    QString token() const { return server->token(); }

    // One JSON-RPC request with the right token on a fresh connection.
    Reply ask(const char *method, const QJsonObject &params = {}, const QJsonValue &id = 1)
    {
        return exchange(port(), post(rpc(method, params, id), token()));
    }

    // The tool result of one tools/call.
    QJsonObject callTool(const QString &name, const QJsonObject &args = {})
    {
        const Reply r = ask("tools/call", QJsonObject{{"name", name}, {"arguments", args}});
        EXPECT_EQ(r.status, "200 OK") << r.raw.toStdString();
        return r.json().value("result").toObject();
    }

private:
    std::vector<ToolFamily> savedListed_;
    std::vector<ToolFamily> savedRouted_;
};

inline QJsonObject textResult(const QString &text, bool isError)
{
    return QJsonObject{{"content", QJsonArray{QJsonObject{{"type", "text"}, {"text", text}}}}, {"isError", isError}};
}

inline std::string show(const QJsonValue &v)
{
    return QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace McpTest
