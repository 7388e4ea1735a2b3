#include "FakeErp.h"

using namespace TestKit;

namespace ErpFakes {

namespace {

FakeReply failureReply(Failure f)
{
    switch (f) {
    case Failure::Unauthorized:
        return FakeReply::json(QJsonObject{{"message", "token revoked"}}, 401);
    case Failure::NotFoundBare: {
        FakeReply r = FakeReply::text("<html><body>Not Found</body></html>", 404);
        r.headers = {{"Content-Type", "text/html"}};
        return r;
    }
    case Failure::NotFoundMessage:
        return FakeReply::json(QJsonObject{{"success", false}, {"message", "No sell with id 9."}}, 404);
    case Failure::RateLimited:
        return FakeReply::json(QJsonObject{{"message", "slow down"}}, 429);
    case Failure::ServerEmpty:
        return FakeReply::text("", 500);
    case Failure::ServerInner:
        return FakeReply::json(QJsonObject{{"error", QJsonObject{{"message", "Database is busy."}}}}, 500);
    case Failure::ErrorText:
        return FakeReply::json(QJsonObject{{"error", "bad_request"}}, 400);
    case Failure::SuccessFalse:
        return FakeReply::json(QJsonObject{{"success", false}, {"message", "Invoice date is in a locked period."}});
    case Failure::NotJson: {
        FakeReply r = FakeReply::text("<html>maintenance</html>");
        r.headers = {{"Content-Type", "text/html"}};
        return r;
    }
    case Failure::ArrayBody:
        return FakeReply::json(QJsonDocument(QJsonArray{1, 2}));
    case Failure::Drop: {
        FakeReply r;
        r.drop = true;
        return r;
    }
    case Failure::None:
        break;
    }
    return FakeReply::text("", 500);
}

} // namespace

FakeErp::FakeErp()
{
    server.setFallback([this](const RecordedRequest &r) {
        QMutexLocker l(&lock_);
        const QString prefix = QStringLiteral("/erp/api/cli/v1/");
        if (!r.path.startsWith(prefix))
            return failureReply(Failure::NotFoundBare);
        if (failure_ != Failure::None)
            return failureReply(failure_);
        const QString path = r.path.mid(prefix.size());
        if (replies_.contains(path))
            return FakeReply::json(replies_.value(path));
        // Any other path echoes what it was asked.
        return FakeReply::json(QJsonObject{{"success", true},
                                           {"path", path},
                                           {"query", r.query},
                                           {"body", QString::fromUtf8(r.body)},
                                           {"auth", QString::fromUtf8(r.header("Authorization"))}});
    });
}

QString FakeErp::base() const
{
    return server.baseUrl() + QStringLiteral("/erp");
}

void FakeErp::fail(Failure f)
{
    QMutexLocker l(&lock_);
    failure_ = f;
}

void FakeErp::answer(const QString &path, const QJsonObject &reply)
{
    QMutexLocker l(&lock_);
    replies_.insert(path, reply);
}

FakeCloud::FakeCloud()
{
    server.on("GET", "/cli/clients", [this](const RecordedRequest &) {
        QMutexLocker l(&lock_);
        return FakeReply::json(QJsonObject{{"clients", clients_}});
    });
    server.on("POST", "/cli/erp_ticket", [this](const RecordedRequest &r) {
        QMutexLocker l(&lock_);
        if (ticket_)
            return FakeReply::json(*ticket_);
        const QJsonObject asked = r.json();
        if (asked.value("purpose").toString() == "identity")
            return FakeReply::json(QJsonObject{{"ticket", "id-ticket"}});
        for (const QJsonValue &c : clients_)
            if (c.toObject().value("id").toInteger() == asked.value("company_id").toInteger()) {
                const QJsonObject client = c.toObject();
                QJsonObject company{{"id", client.value("id")}, {"name", client.value("company_name")}};
                if (client.contains("gstin"))
                    company.insert("gstin", client.value("gstin"));
                return FakeReply::json(QJsonObject{{"ticket", "co-ticket"}, {"company", company}});
            }
        return FakeReply::json(QJsonObject{{"message", "That company is not linked to you."}}, 403);
    });
    engines_.insert("/cli/gstr1_build", FakeReply::json(QJsonObject{{"text", "GSTR-1 built."}}));
    engines_.insert("/cli/gstr2b_reconcile", FakeReply::json(QJsonObject{{"summary", "2B reconciled."}}));
    engines_.insert("/cli/bank_statement", FakeReply::json(QJsonObject{{"summary", "Statement booked."}}));
    for (const QString &path : engines_.keys())
        server.on("POST", path, [this, path](const RecordedRequest &) {
            QMutexLocker l(&lock_);
            return engines_.value(path);
        });
}

void FakeCloud::setEngine(const QString &path, const FakeReply &reply)
{
    QMutexLocker l(&lock_);
    engines_.insert(path, reply);
}

void FakeCloud::setClients(const QJsonArray &clients)
{
    QMutexLocker l(&lock_);
    clients_ = clients;
}

void FakeCloud::setTicket(const QJsonObject &reply)
{
    QMutexLocker l(&lock_);
    ticket_ = reply;
}

} // namespace ErpFakes
