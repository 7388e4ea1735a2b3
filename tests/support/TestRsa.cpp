#include "support/TestRsa.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <stdexcept>

namespace TestKit {

namespace {

QByteArray drain(BIO *bio)
{
    char *data = nullptr;
    long len = BIO_get_mem_data(bio, &data);
    QByteArray out(data, int(len));
    BIO_free(bio);
    return out;
}

template <typename Write>
QByteArray toPem(Write write)
{
    BIO *bio = BIO_new(BIO_s_mem());
    write(bio);
    return drain(bio);
}

template <typename Encode, typename T>
QByteArray toDer(Encode encode, T *value)
{
    unsigned char *out = nullptr;
    const int len = encode(value, &out);
    if (len <= 0)
        throw std::runtime_error("test RSA: DER encoding failed");
    QByteArray der(reinterpret_cast<const char *>(out), len);
    OPENSSL_free(out);
    return der;
}

} // namespace

TestRsa TestRsa::make(int bits)
{
    EVP_PKEY *key = EVP_RSA_gen(unsigned(bits));
    if (!key)
        throw std::runtime_error("test RSA: key generation failed");
    TestRsa out;
    out.key_ = std::shared_ptr<void>(key, [](void *k) { EVP_PKEY_free(static_cast<EVP_PKEY *>(k)); });
    out.bytes = EVP_PKEY_get_size(key);

    out.publicPem = toPem([key](BIO *b) { PEM_write_bio_PUBKEY(b, key); });
    out.publicDer = toDer(i2d_PUBKEY, key);
    out.rsaPublicDer = toDer(i2d_PublicKey, key);
    out.rsaPublicPem = "-----BEGIN RSA PUBLIC KEY-----\n" + out.rsaPublicDer.toBase64() + "\n-----END RSA PUBLIC KEY-----\n";

    X509 *cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 7);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME *name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("Test IRP"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    out.certificatePem = toPem([cert](BIO *b) { PEM_write_bio_X509(b, cert); });
    out.certificateDer = toDer(i2d_X509, cert);
    X509_free(cert);
    return out;
}

const TestRsa &TestRsa::get()
{
    static const TestRsa pair = make();
    return pair;
}

std::optional<QByteArray> TestRsa::decrypt(const QByteArray &cipher) const
{
    auto *key = static_cast<EVP_PKEY *>(key_.get());
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    std::optional<QByteArray> result;
    size_t size = 0;
    const auto *in = reinterpret_cast<const unsigned char *>(cipher.constData());
    if (ctx && EVP_PKEY_decrypt_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1
        && EVP_PKEY_decrypt(ctx, nullptr, &size, in, size_t(cipher.size())) == 1) {
        QByteArray out(qsizetype(size), '\0');
        if (EVP_PKEY_decrypt(ctx, reinterpret_cast<unsigned char *>(out.data()), &size, in, size_t(cipher.size())) == 1) {
            out.truncate(qsizetype(size));
            result = out;
        }
    }
    EVP_PKEY_CTX_free(ctx);
    return result;
}

} // namespace TestKit
