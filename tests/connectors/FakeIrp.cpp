#include "FakeIrp.h"
#include "platform/Crypto.h"

#include <QJsonArray>

using namespace TestKit;

FakeIrp::FakeIrp()
{
    business_ = [this](const Request &, const std::optional<QJsonObject> &) {
        return sealed(QJsonObject{{"ok", true}});
    };
    server.on("POST", "/eivital/v1.04/auth", [this](const Request &r) -> Reply {
        std::function<std::optional<Reply>(const Request &)> override;
        {
            QMutexLocker l(&lock_);
            override = signIn_;
        }
        const QByteArray cipher = QByteArray::fromBase64(r.json().value("Data").toString().toLatin1());
        const std::optional<QByteArray> plain = rsa().decrypt(cipher);
        const QJsonObject signIn = plain ? QJsonDocument::fromJson(*plain).object() : QJsonObject();
        {
            QMutexLocker l(&lock_);
            signIns_.append(signIn);
        }
        if (override)
            if (auto reply = override(r))
                return *reply;
        if (signIn.isEmpty())
            return Reply::json(QJsonObject{{"Status", "0"},
                                           {"ErrorDetails", QJsonArray{QJsonObject{{"ErrorCode", "1005"},
                                                                                   {"ErrorMessage", "Invalid Token"}}}}});
        const QByteArray appKey = QByteArray::fromBase64(signIn.value("AppKey").toString().toLatin1());
        const auto sealedSek = Crypto::aes256Ecb(sek, appKey, true);
        if (!sealedSek)
            return Reply::json(QJsonObject{{"Status", "0"}, {"ErrorDetails", "bad app key"}});
        return Reply::json(QJsonObject{
            {"Status", "1"},
            {"Data", QJsonObject{{"UserName", signIn.value("UserName")},
                                 {"AuthToken", TOKEN},
                                 {"Sek", QString::fromLatin1(sealedSek->toBase64())},
                                 {"TokenExpiry", "2026-12-11 10:00:00"}}}});
    });
    server.setFallback([this](const Request &r) {
        Business answer;
        {
            QMutexLocker l(&lock_);
            answer = business_;
        }
        return answer(r, opened(r));
    });
}

QList<QJsonObject> FakeIrp::signIns() const
{
    QMutexLocker l(&lock_);
    return signIns_;
}

QList<FakeIrp::Request> FakeIrp::calls() const
{
    QList<Request> out;
    for (const Request &r : server.requests())
        if (r.path != "/eivital/v1.04/auth")
            out.append(r);
    return out;
}

FakeIrp::Reply FakeIrp::sealed(const QJsonObject &reply) const
{
    const auto cipher = Crypto::aes256Ecb(QJsonDocument(reply).toJson(QJsonDocument::Compact), sek, true);
    return Reply::json(QJsonObject{{"Status", "1"}, {"Data", QString::fromLatin1(cipher.value_or("").toBase64())}});
}

std::optional<QJsonObject> FakeIrp::opened(const Request &r) const
{
    const QJsonValue data = r.json().value("Data");
    if (!data.isString())
        return std::nullopt;
    const auto plain = Crypto::aes256Ecb(QByteArray::fromBase64(data.toString().toLatin1()), sek, false);
    if (!plain)
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(*plain);
    if (!doc.isObject())
        return std::nullopt;
    return doc.object();
}

void FakeIrp::onSignIn(std::function<std::optional<Reply>(const Request &)> answer)
{
    QMutexLocker l(&lock_);
    signIn_ = std::move(answer);
}

void FakeIrp::onCall(Business answer)
{
    QMutexLocker l(&lock_);
    business_ = std::move(answer);
}
