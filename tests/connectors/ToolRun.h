#pragma once
// Runs one connector tool to its single answer, waiting on the event loop.
#include "core/Tool.h"
#include "support/TestKit.h"

#include <QJsonDocument>
#include <memory>

namespace ConnectorTest {

struct Reply {
    QString text;
    bool isError = false;
    QJsonObject json() const { return QJsonDocument::fromJson(text.toUtf8()).object(); }
};

inline Reply runTool(const ToolFamily &family, const QString &name, const QJsonObject &args = {})
{
    struct State {
        Reply reply;
        int calls = 0;
    };
    auto state = std::make_shared<State>();
    family.call(name, args, [state](const QString &text, bool isError) {
        state->reply = Reply{text, isError};
        ++state->calls;
    });
    EXPECT_TRUE(TestKit::waitFor([state] { return state->calls > 0; }, 20000)) << name.toStdString();
    TestKit::spin(5);
    EXPECT_EQ(state->calls, 1) << "exactly one answer to " << name.toStdString();
    return state->reply;
}

} // namespace ConnectorTest
