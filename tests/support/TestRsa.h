#pragma once
#include <QByteArray>
#include <memory>
#include <optional>

namespace TestKit {

// An RSA key pair made at test time, with its public half in the forms a
// caller may be given, and the private half to open what was sealed with it.
class TestRsa {
public:
    // A fresh pair of the given size.
    static TestRsa make(int bits = 2048);
    // One shared 2048-bit pair per process.
    static const TestRsa &get();

    QByteArray publicPem;     // "-----BEGIN PUBLIC KEY-----" (SubjectPublicKeyInfo)
    QByteArray rsaPublicPem;  // "-----BEGIN RSA PUBLIC KEY-----" (PKCS#1)
    QByteArray certificatePem; // a self-signed X.509 certificate of the key
    QByteArray publicDer;     // SubjectPublicKeyInfo, DER
    QByteArray rsaPublicDer;  // PKCS#1 RSAPublicKey, DER
    QByteArray certificateDer;
    int bytes = 0;            // modulus length

    // PKCS#1 v1.5 decryption with the private key; nothing on failure.
    std::optional<QByteArray> decrypt(const QByteArray &cipher) const;

private:
    std::shared_ptr<void> key_;
};

} // namespace TestKit
