#include "support/TestCa.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace TestKit {

namespace {

EVP_PKEY *newKey()
{
    return EVP_EC_gen("P-256");
}

void addExt(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        throw std::runtime_error("test CA: bad extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

X509 *makeCert(EVP_PKEY *key, const char *cn, X509 *issuer, EVP_PKEY *issuerKey, long serial, bool isCa)
{
    X509 *cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 7 * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME *name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(cn), -1, -1, 0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
    X509 *iss = issuer ? issuer : cert;
    if (isCa) {
        addExt(cert, iss, NID_basic_constraints, "critical,CA:TRUE");
        addExt(cert, iss, NID_key_usage, "critical,keyCertSign,cRLSign");
        addExt(cert, iss, NID_subject_key_identifier, "hash");
    } else {
        addExt(cert, iss, NID_basic_constraints, "critical,CA:FALSE");
        addExt(cert, iss, NID_key_usage, "critical,digitalSignature,keyEncipherment");
        addExt(cert, iss, NID_ext_key_usage, "serverAuth");
        addExt(cert, iss, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
        addExt(cert, iss, NID_authority_key_identifier, "keyid");
    }
    X509_sign(cert, issuerKey, EVP_sha256());
    return cert;
}

QByteArray pem(X509 *cert)
{
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char *data = nullptr;
    long len = BIO_get_mem_data(bio, &data);
    QByteArray out(data, int(len));
    BIO_free(bio);
    return out;
}

QByteArray pem(EVP_PKEY *key)
{
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char *data = nullptr;
    long len = BIO_get_mem_data(bio, &data);
    QByteArray out(data, int(len));
    BIO_free(bio);
    return out;
}

TestCa make()
{
    EVP_PKEY *caKey = newKey();
    EVP_PKEY *srvKey = newKey();
    X509 *ca = makeCert(caKey, "Velto Test CA", nullptr, caKey, 1, true);
    X509 *srv = makeCert(srvKey, "127.0.0.1", ca, caKey, 2, false);
    TestCa out;
    out.caCert = QSslCertificate(pem(ca));
    out.serverCert = QSslCertificate(pem(srv));
    out.serverKey = QSslKey(pem(srvKey), QSsl::Ec);
    X509_free(ca);
    X509_free(srv);
    EVP_PKEY_free(caKey);
    EVP_PKEY_free(srvKey);
    return out;
}

} // namespace

const TestCa &TestCa::get()
{
    static const TestCa ca = make();
    return ca;
}

} // namespace TestKit
