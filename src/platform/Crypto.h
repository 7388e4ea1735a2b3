#pragma once
#include <QByteArray>
#include <optional>

// The few cryptographic routines the program needs, over libcrypto. Every
// routine checks each step and answers nothing on any failure; none keeps
// state, so all may run on any thread.
namespace Crypto {

// n bytes from the system's secure random generator; nothing when the
// generator fails or n is negative.
std::optional<QByteArray> randomBytes(int n);

// AES-256 in ECB mode with PKCS#7 padding, in either direction. The key
// must be exactly 32 bytes: any other length answers nothing, nothing is
// padded or cut. Encrypting empty input gives one block of padding;
// decrypting answers nothing when the padding is wrong.
std::optional<QByteArray> aes256Ecb(const QByteArray &input, const QByteArray &key, bool encrypt);

// RSA encryption with PKCS#1 v1.5 padding. `der` is a DER-encoded X.509
// certificate (its public key is used) or a bare RSA public key, either as
// SubjectPublicKeyInfo or as a PKCS#1 RSAPublicKey. Answers nothing when the
// key is not an RSA public key or the input is longer than the key allows
// (its length in bytes less 11); otherwise the ciphertext, as long as the
// key's modulus.
std::optional<QByteArray> rsaEncryptPkcs1(const QByteArray &input, const QByteArray &der);

} // namespace Crypto
