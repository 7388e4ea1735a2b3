#include "platform/Crypto.h"

#include <climits>
#include <memory>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

namespace Crypto {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};
struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); }
};
struct X509Free {
    void operator()(X509 *c) const { X509_free(c); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

const unsigned char *bytes(const QByteArray &b)
{
    return reinterpret_cast<const unsigned char *>(b.constData());
}

// Each reader must take the whole buffer: trailing bytes mean it was not
// what the reader thought.
Pkey fromCertificate(const QByteArray &der)
{
    const unsigned char *p = bytes(der);
    std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, long(der.size())));
    if (!cert || p != bytes(der) + der.size())
        return nullptr;
    return Pkey(X509_get_pubkey(cert.get()));
}

Pkey fromPublicKeyInfo(const QByteArray &der)
{
    const unsigned char *p = bytes(der);
    Pkey key(d2i_PUBKEY(nullptr, &p, long(der.size())));
    if (!key || p != bytes(der) + der.size())
        return nullptr;
    return key;
}

Pkey fromRsaPublicKey(const QByteArray &der)
{
    const unsigned char *p = bytes(der);
    Pkey key(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, long(der.size())));
    if (!key || p != bytes(der) + der.size())
        return nullptr;
    return key;
}

} // namespace

std::optional<QByteArray> randomBytes(int n)
{
    if (n < 0)
        return std::nullopt;
    QByteArray out(n, '\0');
    if (n > 0 && RAND_bytes(reinterpret_cast<unsigned char *>(out.data()), n) != 1)
        return std::nullopt;
    return out;
}

std::optional<QByteArray> aes256Ecb(const QByteArray &input, const QByteArray &key, bool encrypt)
{
    if (key.size() != 32 || input.size() > INT_MAX - 32)
        return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CipherInit_ex(ctx.get(), EVP_aes_256_ecb(), nullptr, bytes(key), nullptr, encrypt ? 1 : 0) != 1
        || EVP_CIPHER_CTX_set_padding(ctx.get(), 1) != 1)
        return std::nullopt;
    QByteArray out(input.size() + 16, '\0');
    auto *o = reinterpret_cast<unsigned char *>(out.data());
    int written = 0;
    if (EVP_CipherUpdate(ctx.get(), o, &written, bytes(input), int(input.size())) != 1)
        return std::nullopt;
    int last = 0;
    if (EVP_CipherFinal_ex(ctx.get(), o + written, &last) != 1)
        return std::nullopt;
    out.truncate(written + last);
    return out;
}

std::optional<QByteArray> rsaEncryptPkcs1(const QByteArray &input, const QByteArray &der)
{
    if (der.isEmpty())
        return std::nullopt;
    Pkey key = fromCertificate(der);
    if (!key)
        key = fromPublicKeyInfo(der);
    if (!key)
        key = fromRsaPublicKey(der);
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA)
        return std::nullopt;

    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1
        || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
        return std::nullopt;
    size_t size = 0;
    if (EVP_PKEY_encrypt(ctx.get(), nullptr, &size, bytes(input), size_t(input.size())) != 1 || size == 0)
        return std::nullopt;
    QByteArray out(qsizetype(size), '\0');
    if (EVP_PKEY_encrypt(ctx.get(), reinterpret_cast<unsigned char *>(out.data()), &size, bytes(input),
                         size_t(input.size()))
        != 1)
        return std::nullopt;
    out.truncate(qsizetype(size));
    return out;
}

} // namespace Crypto
