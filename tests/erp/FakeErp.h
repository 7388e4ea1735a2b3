#pragma once
// A client's ERP and the cloud service, both over HTTPS with the test CA, for
// the ERP tests. The ERP answers its API under base() + "/api/cli/v1/"; every
// answer can be switched to one of the failures a real ERP gives.
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"

#include <QJsonArray>
#include <QMutex>

namespace ErpFakes {

enum class Failure {
    None,
    Unauthorized,     // 401 with a JSON message
    NotFoundBare,     // 404 with an HTML page: no ERP API here
    NotFoundMessage,  // 404 with the ERP's own JSON message
    RateLimited,      // 429
    ServerEmpty,      // 500 with an empty body
    ServerInner,      // 500 with {"error": {"message": ...}}
    ErrorText,        // 400 with {"error": "..."}: a text, not an object
    SuccessFalse,     // 200 with "success": false and a message
    NotJson,          // 200 with an HTML page
    ArrayBody,        // 200 with a JSON array
    Drop,             // the connection closes without an answer
};

class FakeErp {
public:
    FakeErp();
    // https://127.0.0.1:PORT/erp
    QString base() const;
    void fail(Failure f);
    // The JSON objects the connect paths answer (when no failure is set).
    void answer(const QString &path, const QJsonObject &reply);
    TestKit::FakeHttpServer server{TestKit::FakeHttpServer::Mode::Https};

private:
    mutable QMutex lock_;
    Failure failure_ = Failure::None;
    QHash<QString, QJsonObject> replies_;
};

// The cloud service's "/cli/clients" and "/cli/erp_ticket", and its three
// engines: "/cli/gstr1_build", "/cli/gstr2b_reconcile", "/cli/bank_statement".
class FakeCloud {
public:
    FakeCloud();
    QString base() const { return server.baseUrl(); }
    void setClients(const QJsonArray &clients);
    // The ticket reply; a company ticket gets "company" from the client list.
    void setTicket(const QJsonObject &reply);
    // What an engine answers (by its path); until set, a bare summary.
    void setEngine(const QString &path, const TestKit::FakeReply &reply);
    TestKit::FakeHttpServer server{TestKit::FakeHttpServer::Mode::Https};

private:
    mutable QMutex lock_;
    QJsonArray clients_;
    std::optional<QJsonObject> ticket_;
    QHash<QString, TestKit::FakeReply> engines_;
};

} // namespace ErpFakes
