#pragma once
// A stand-in for the IRP on loopback HTTPS. It holds a test RSA key pair:
// it opens each sign-in with its private key, hands out its session key
// sealed with the caller's app key, opens each business payload with the
// session key and seals its replies with it, as the real one does.
#include "support/FakeHttpServer.h"
#include "support/TestRsa.h"

#include <QMutex>
#include <optional>

class FakeIrp {
public:
    using Request = TestKit::RecordedRequest;
    using Reply = TestKit::FakeReply;
    // Answers a business request; `payload` is the opened "Data" of its
    // body, when there was one that opened.
    using Business = std::function<Reply(const Request &, const std::optional<QJsonObject> &payload)>;

    FakeIrp();

    QString base() const { return server.baseUrl(); }
    const TestKit::TestRsa &rsa() const { return TestKit::TestRsa::get(); }

    // The auth token and the 32-byte session key the fake hands out.
    static inline const QString TOKEN = QStringLiteral("tok-5f2c91ae77d0");
    QByteArray sek = QByteArray("S3ss10nKey-of-the-fake-IRP-32byt");

    // What the sign-ins carried, opened: one object per sign-in.
    QList<QJsonObject> signIns() const;
    // Every business request (all but the sign-in), in order.
    QList<Request> calls() const;

    // A reply object sealed with the session key: {"Status":"1","Data":...}.
    Reply sealed(const QJsonObject &reply) const;
    // The request body's "Data", opened with the session key.
    std::optional<QJsonObject> opened(const Request &r) const;

    // Replaces the sign-in's answer (before it is opened and answered).
    void onSignIn(std::function<std::optional<Reply>(const Request &)> answer);
    // Answers business requests; by default a sealed {"ok": true}.
    void onCall(Business answer);

    TestKit::FakeHttpServer server{TestKit::FakeHttpServer::Mode::Https};

private:
    mutable QMutex lock_;
    QList<QJsonObject> signIns_;
    std::function<std::optional<Reply>(const Request &)> signIn_;
    Business business_;
};
