// AES-256-ECB, RSA PKCS#1 v1.5 with every accepted key form, random bytes.
#include "platform/Crypto.h"
#include "support/TestKit.h"
#include "support/TestCa.h"
#include "support/TestRsa.h"

using TestKit::TestRsa;

namespace {

const QByteArray kKey = QByteArray("0123456789abcdef0123456789ABCDEF");

TEST(Crypto, AesRoundTripsAndPadsToTheNextBlock)
{
    struct Case {
        qsizetype length;
        qsizetype cipherLength;
    };
    for (const Case c : {Case{0, 16}, Case{1, 16}, Case{15, 16}, Case{16, 32}, Case{17, 32}, Case{1000, 1008}}) {
        QByteArray plain(c.length, '\0');
        for (qsizetype i = 0; i < c.length; ++i)
            plain[i] = char(i * 7 + 3);
        const auto cipher = Crypto::aes256Ecb(plain, kKey, true);
        ASSERT_TRUE(cipher) << c.length;
        EXPECT_EQ(cipher->size(), c.cipherLength) << c.length;
        EXPECT_NE(*cipher, plain);
        EXPECT_EQ(Crypto::aes256Ecb(*cipher, kKey, false), plain) << c.length;
    }
}

TEST(Crypto, AesMatchesTheStandardVector)
{
    // FIPS-197 appendix C.3: one block under a 256-bit key, without padding;
    // with PKCS#7 the first block of the ciphertext is the same.
    const QByteArray key = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const QByteArray plain = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    const auto cipher = Crypto::aes256Ecb(plain, key, true);
    ASSERT_TRUE(cipher);
    EXPECT_EQ(cipher->left(16).toHex(), "8ea2b7ca516745bfeafc49904b496089");
}

TEST(Crypto, AesRefusesWrongKeysAndBadCiphertext)
{
    for (int length : {0, 16, 31, 33, 64}) {
        const QByteArray key(length, 'k');
        EXPECT_FALSE(Crypto::aes256Ecb("text", key, true)) << length;
        EXPECT_FALSE(Crypto::aes256Ecb(QByteArray(16, 'x'), key, false)) << length;
    }
    const QByteArray cipher = *Crypto::aes256Ecb("a secret", kKey, true);
    // Not a whole block, and the right length under another key (bad padding).
    EXPECT_FALSE(Crypto::aes256Ecb(cipher.left(15), kKey, false));
    EXPECT_FALSE(Crypto::aes256Ecb(cipher, QByteArray(32, 'z'), false));
}

TEST(Crypto, RsaEncryptsWithEveryKeyForm)
{
    const TestRsa &rsa = TestRsa::get();
    const QByteArray plain = "{\"UserName\":\"u\",\"Password\":\"p\"}";
    for (const QByteArray &der : {rsa.publicDer, rsa.rsaPublicDer, rsa.certificateDer}) {
        const auto cipher = Crypto::rsaEncryptPkcs1(plain, der);
        ASSERT_TRUE(cipher);
        EXPECT_EQ(cipher->size(), rsa.bytes);
        EXPECT_EQ(rsa.decrypt(*cipher), plain);
        // Random padding: the same text never gives the same ciphertext twice.
        EXPECT_NE(Crypto::rsaEncryptPkcs1(plain, der), cipher);
    }
}

TEST(Crypto, RsaTakesAtMostTheKeyLengthLessEleven)
{
    const TestRsa &rsa = TestRsa::get();
    const QByteArray fits(rsa.bytes - 11, 'a');
    const auto cipher = Crypto::rsaEncryptPkcs1(fits, rsa.publicDer);
    ASSERT_TRUE(cipher);
    EXPECT_EQ(rsa.decrypt(*cipher), fits);
    EXPECT_FALSE(Crypto::rsaEncryptPkcs1(fits + "a", rsa.publicDer));
}

TEST(Crypto, RsaRefusesWhatIsNotAnRsaPublicKey)
{
    const TestRsa &rsa = TestRsa::get();
    // An EC certificate (the test CA's own) has a key, but not an RSA one.
    const QByteArray ecCert = TestKit::TestCa::get().caCert.toDer();
    for (const QByteArray &der : {QByteArray(), QByteArray("not a key"), rsa.publicDer.left(rsa.publicDer.size() - 1),
                                  rsa.publicDer + QByteArray(1, '\0'), ecCert})
        EXPECT_FALSE(Crypto::rsaEncryptPkcs1("x", der)) << der.toHex().left(40).toStdString();
}

TEST(Crypto, RandomBytesAreFreshEachTime)
{
    const auto a = Crypto::randomBytes(32);
    const auto b = Crypto::randomBytes(32);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->size(), 32);
    EXPECT_NE(*a, *b);
    EXPECT_EQ(Crypto::randomBytes(0), QByteArray());
    EXPECT_FALSE(Crypto::randomBytes(-1));
}

} // namespace
