#pragma once
// The fixture of the tools that act on the real browser pane.
#include "ServerFixture.h"
#include "browser/BrowserPane.h"
#include "platform/WebView.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"
#include "toolserver/PageTools.h"

#include <QSignalSpy>

using namespace TestKit;

namespace McpTest {

// A tool result that prints readably in failures.
struct Result : QJsonObject {
    Result(const QJsonObject &o = {}) : QJsonObject(o) {}
};
inline void PrintTo(const Result &r, std::ostream *os)
{
    *os << QJsonDocument(r).toJson(QJsonDocument::Compact).toStdString();
}

inline Result textOf(const QString &text, bool isError = false)
{
    return textResult(text, isError);
}

inline QString textIn(const QJsonObject &result)
{
    return result.value("content").toArray().at(0).toObject().value("text").toString();
}

// A real browser pane and loopback fixture pages behind the tool server.
// Settling delays are held by the test (held) and released by it.
class PaneToolTest : public TestKit::HomeTest {
protected:
    FakeHttpServer web;
    std::unique_ptr<BrowserPane> pane;
    std::unique_ptr<BrowserMCP> server;
    struct Held {
        double seconds;
        std::function<void()> then;
    };
    std::vector<Held> held;
    decltype(PageTools::delay) savedDelay;

    void SetUp() override
    {
        HomeTest::SetUp();
        BrowserTab::profile = [] { return webProfile(); };
        savedDelay = PageTools::delay;
        PageTools::delay = [this](double seconds, std::function<void()> then) {
            held.push_back({seconds, std::move(then)});
        };
        BrowserMCP::onActivity = nullptr;
        pane = std::make_unique<BrowserPane>(QRect(0, 0, 1000, 700));
        pane->show();
        ASSERT_TRUE(settled());
        server = std::make_unique<BrowserMCP>(pane.get());
    }
    void TearDown() override
    {
        server.reset();
        pane.reset();
        PageTools::delay = savedDelay;
        HomeTest::TearDown();
    }

    void page(const QString &path, const QByteArray &body, const QByteArray &title = "Fixture")
    {
        FakeReply r = FakeReply::text("<!doctype html><html><head><title>" + title + "</title></head><body>" + body +
                                      "</body></html>");
        r.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        web.on("GET", path, r);
    }
    QString at(const QString &path) const { return web.baseUrl() + path; }

    // Opens a served page (see page()) in the shown tab and waits until it has settled.
    void open(const QString &path)
    {
        QSignalSpy loaded(pane->web(), &QWebEngineView::loadFinished);
        ASSERT_TRUE(pane->load(QUrl(at(path))));
        ASSERT_TRUE(loaded.wait(15000));
        ASSERT_TRUE(settled());
    }

    bool settled()
    {
        return waitFor([this] {
            for (BrowserTab *t : pane->tabs())
                if (t->loading || t->web()->url().isEmpty())
                    return false;
            return !pane->stripLabels().contains("Loading…");
        }, 15000);
    }

    // Starts a call; its answer arrives in the returned slot.
    std::shared_ptr<std::optional<QJsonObject>> start(const QString &name, const QJsonObject &args = {})
    {
        auto slot = std::make_shared<std::optional<QJsonObject>>();
        server->call(name, args, [slot](const QJsonObject &r) {
            EXPECT_FALSE(slot->has_value()) << "a tool answers once";
            *slot = r;
        });
        return slot;
    }
    static Result result(const std::shared_ptr<std::optional<QJsonObject>> &slot)
    {
        EXPECT_TRUE(waitFor([&] { return slot->has_value(); }, 15000));
        return slot->value_or(QJsonObject{{"missing", true}});
    }
    // A call that answers without settling.
    Result call(const QString &name, const QJsonObject &args = {})
    {
        return result(start(name, args));
    }
    // A call that settles: checks the delay it asked for, lets the page load,
    // then lets the delay end.
    Result settledCall(const QString &name, const QJsonObject &args, double seconds)
    {
        held.clear();
        auto slot = start(name, args);
        EXPECT_TRUE(waitFor([&] { return !held.empty() || slot->has_value(); }));
        if (held.empty())
            return slot->value_or(QJsonObject());
        EXPECT_DOUBLE_EQ(held[0].seconds, seconds) << name.toStdString();
        EXPECT_FALSE(slot->has_value()) << "nothing is answered before the delay ends";
        spin(50);
        EXPECT_TRUE(settled());
        auto then = std::move(held[0].then);
        held.clear();
        then();
        return result(slot);
    }
};

} // namespace McpTest
