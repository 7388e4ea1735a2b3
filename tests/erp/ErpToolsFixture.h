#pragma once
// The ERP tool family as the engine reaches it: every call goes through the
// tool server's dispatch, to a fake client ERP and a fake cloud over HTTPS.
#include "ErpFixture.h"
#include "erp/ErpText.h"
#include "erp/ErpTools.h"
#include "platform/Dialogs.h"
#include "toolserver/BrowserMCP.h"
#include "toolserver/Families.h"

#include <QUrlQuery>

namespace {

using namespace TestKit;

const QString kGstin = "24AAQFK5512M1Z8";
const QString kOther = "27AAACB2222C1Z5";

[[maybe_unused]] std::string show(const QJsonValue &v)
{
    return ErpText::json(v, true).toStdString();
}

struct Answer {
    QString text;
    bool isError = true;
};

class ErpToolsTest : public ErpTest {
protected:
    std::unique_ptr<QObject> pane;
    std::unique_ptr<BrowserMCP> server;
    std::function<bool(const Dialogs::Confirm &)> savedConfirm;
    QList<Dialogs::Confirm> asked; // every approval dialog shown
    bool yes = true;               // how the CA answers it

    void SetUp() override
    {
        ErpTest::SetUp();
        Families::listed = Families::standardListed();
        Families::routed = Families::standardRouted();
        ErpTools::pending.clear();
        ErpTools::verified.clear();
        ErpTools::tokenFor = &ErpVault::token;
        ErpTools::approve = &ErpTools::approveDialog;
        savedConfirm = Dialogs::Hooks::confirm;
        Dialogs::Hooks::confirm = [this](const Dialogs::Confirm &c) {
            asked.append(c);
            return yes;
        };
        // The window is gone: family tools work without it.
        pane = std::make_unique<QObject>();
        server = std::make_unique<BrowserMCP>(pane.get());
        pane.reset();
        erp->answer("whoami", QJsonObject{{"business", "Quenby Foods LLP"}, {"business_gstin", kGstin}});
    }

    void TearDown() override
    {
        server.reset();
        Dialogs::Hooks::confirm = savedConfirm;
        ErpTools::tokenFor = &ErpVault::token;
        ErpTools::pending.clear();
        ErpTools::verified.clear();
        ErpTest::TearDown();
    }

    Answer run(const QString &name, const QJsonObject &args = {})
    {
        auto result = std::make_shared<std::optional<QJsonObject>>();
        auto calls = std::make_shared<int>(0);
        server->call(name, args, [result, calls](const QJsonObject &r) {
            *result = r;
            ++*calls;
        });
        EXPECT_TRUE(waitFor([result] { return result->has_value(); }, 20000)) << name.toStdString();
        spin(10);
        EXPECT_EQ(*calls, 1) << "exactly one answer";
        if (!result->has_value())
            return {"(no answer)", true};
        const QJsonObject r = **result;
        return {r["content"][0]["text"].toString(), r["isError"].toBool()};
    }

    ErpConnection connect(const QString &company = "Quenby Foods", const QString &gstin = kGstin,
                          const QStringList &scopes = {"read", "write:sells", "write:sell_lines"}, double expires = 0)
    {
        const ErpConnection c{"ID-" + gstin, 42, company, gstin, erp->base(), company + " LLP", gstin,
                              "Asha Mehta", scopes, expires, 0};
        EXPECT_TRUE(ErpVault::upsert(c, "tok-" + gstin));
        return c;
    }

    QString header(const QString &company = "Quenby Foods", const QString &gstin = kGstin) const
    {
        return "[" + company + " · " + gstin + "]\n";
    }

    // The ERP requests other than the identity check.
    QList<RecordedRequest> asks() const
    {
        QList<RecordedRequest> out;
        for (const RecordedRequest &r : erp->server.requests())
            if (!r.path.endsWith("/whoami"))
                out << r;
        return out;
    }
    int whoamis() const { return int(erp->server.requestsTo("/erp/api/cli/v1/whoami").size()); }
    QUrlQuery lastQuery() const { return asks().isEmpty() ? QUrlQuery() : asks().last().queryItems(); }

    // Prepares a write and answers its pending id.
    QString prepare(const QJsonObject &args)
    {
        const Answer a = run("erp_prepare", args);
        EXPECT_FALSE(a.isError) << a.text.toStdString();
        const qsizetype at = a.text.indexOf("pending_id: ");
        return at < 0 ? QString() : a.text.mid(at + 12, 13);
    }
};

} // namespace
