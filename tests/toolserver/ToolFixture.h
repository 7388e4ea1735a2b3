#pragma once
// One own tool called through the tool server, with the browser window open
// (a stand-in object) and a clients folder "Clients" in a throwaway home.
#include "ServerFixture.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "toolserver/BrowserMCP.h"
#include "support/TestKit.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <memory>

namespace McpTest {

struct ToolAnswer {
    QString text;
    bool isError = true;
};

class ToolTest : public TestKit::HomeTest {
protected:
    QObject pane;
    std::unique_ptr<BrowserMCP> server;
    QString root; // the clients folder, links resolved

    void SetUp() override
    {
        HomeTest::SetUp();
        QDir().mkpath(home->file("Clients"));
        writeSecret(WORK_ENV, "VELTO_WORK=\"" + home->file("Clients") + "\"\n");
        root = QFileInfo(home->file("Clients")).canonicalFilePath();
        server = std::make_unique<BrowserMCP>(&pane);
    }

    void TearDown() override
    {
        server.reset();
        HomeTest::TearDown();
    }

    // A file in the clients folder, with its folders; answers its path.
    QString put(const QString &rel, const QByteArray &data) const { return home->write("Clients/" + rel, data); }

    ToolAnswer run(const QString &name, const QJsonObject &args, int waitMs = 20000)
    {
        auto result = std::make_shared<std::optional<QJsonObject>>();
        server->call(name, args, [result](const QJsonObject &r) { *result = r; });
        EXPECT_TRUE(TestKit::waitFor([result] { return result->has_value(); }, waitMs)) << name.toStdString();
        if (!result->has_value())
            return {QStringLiteral("(no answer)"), true};
        const QJsonObject r = **result;
        return {r.value("content").toArray().at(0).toObject().value("text").toString(), r.value("isError").toBool()};
    }
};

} // namespace McpTest
