#pragma once
// A throwaway home with an empty secret store, and the books services faked
// over HTTPS on loopback (the test CA is trusted; certificates are checked).
#include "connectors/BooksTools.h"
#include "core/Globals.h"
#include "platform/Dispatch.h"
#include "platform/SecretStore.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"

#include <QDir>
#include <QUrlQuery>
#include <memory>

// Qt texts in failure messages.
inline std::ostream &operator<<(std::ostream &os, const QString &s) { return os << s.toStdString(); }
inline std::ostream &operator<<(std::ostream &os, const QByteArray &s) { return os << s.toStdString(); }

namespace BooksTest {

using namespace TestKit;

struct Answer {
    QString text;
    bool isError = false;
    bool done = false;
    int calls = 0;
    const QJsonObject json() const { return QJsonDocument::fromJson(text.toUtf8()).object(); }
};

class BooksFixture : public HomeTest {
protected:
    std::unique_ptr<FakeHttpServer> server;

    void SetUp() override
    {
        HomeTest::SetUp();
        QDir().mkpath(VELTO_HOME);
        SecretStore::useMemory();
        BooksTools::store = BooksTools::secretStore();
        BooksTools::indexURL = &BooksTools::defaultIndexURL;
        BooksTools::request = &Http::request;
        BooksTools::confirm = &BooksTools::confirmDialog;
        // Real time-outs: the handshakes with the fake must not race a shrunken clock.
        savedScale_ = Dispatch::timeScale;
        Dispatch::timeScale = 1.0;
        FakeHttpServer::trustTestCa();
        server = std::make_unique<FakeHttpServer>(FakeHttpServer::Mode::Https);
        home->refill({{"VELTO_ZOHO_ACCOUNTS", server->baseUrl()},
                      {"VELTO_ZOHO_API", server->baseUrl()},
                      {"VELTO_QUICKBOOKS_OAUTH", server->baseUrl()},
                      {"VELTO_QUICKBOOKS_API", server->baseUrl()}});
    }

    void TearDown() override
    {
        server.reset();
        Dispatch::timeScale = savedScale_;
        BooksTools::confirm = &BooksTools::confirmDialog;
        home.reset(); // puts the environment back
    }

    // Runs one tool to its single answer.
    Answer run(const QString &name, const QJsonObject &args = {})
    {
        auto a = std::make_shared<Answer>();
        BooksTools::call(name, args, [a](const QString &text, bool isError) {
            a->text = text;
            a->isError = isError;
            a->done = true;
            ++a->calls;
        });
        EXPECT_TRUE(waitFor([a] { return a->done; }, 20000)) << name.toStdString();
        spin(10);
        EXPECT_EQ(a->calls, 1) << "exactly one answer";
        return *a;
    }

    static QJsonObject zoho(const QString &client = "Acme Traders", const QString &org = "60001")
    {
        return {{"client", client}, {"vendor", "zoho"}, {"organisation", org}, {"client_id", "1000.ZOHOCLIENT"},
                {"client_secret", "zoho-secret-0001"}, {"refresh_token", "1000.zoho-refresh-0001"}};
    }

    static QJsonObject quickbooks(const QString &client = "Bharat Steels", const QString &realm = "9130350")
    {
        return {{"client", client}, {"vendor", "quickbooks"}, {"organisation", realm}, {"client_id", "ABqbClientId"},
                {"client_secret", "qb-secret-000001"}, {"refresh_token", "AB11qb-refresh-000001"}};
    }

    void connect(const QJsonObject &args)
    {
        const Answer a = run("books_connect", args);
        ASSERT_FALSE(a.isError) << a.text.toStdString();
    }

    std::optional<QString> secret(const QString &account) const { return SecretStore::get(BooksTools::SERVICE, account); }

    // The fake's token endpoints grant `token` to any request.
    void grant(const QString &token = "access-token-0001")
    {
        const FakeReply r = FakeReply::json(QJsonObject{{"access_token", token}, {"expires_in", 3600}});
        server->on("POST", "/oauth/v2/token", r);
        server->on("POST", "/oauth2/v1/tokens/bearer", r);
    }

    QList<RecordedRequest> apiRequests() const
    {
        QList<RecordedRequest> out;
        for (const RecordedRequest &r : server->requests())
            if (!r.path.startsWith("/oauth"))
                out << r;
        return out;
    }

private:
    double savedScale_ = 1.0;
};

} // namespace BooksTest
