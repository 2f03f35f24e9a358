#include "platform/security/AES128.h"

#include "CryptoTestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace securitytest;

namespace {

// The fixed IV the analytics envelopes use, and a key like theirs (16 bytes of a signature).
const std::string kIV("\x5e\x1c\x9a\x77\x30\xd2\x4f\x68\xb1\xe0\xc3\xa9\xd7\x5f\x28\x46", 16);
const std::string kKey = pseudoRandomBytes(16, 99);

Data bytesOf(const std::string& text) {
    return Data(std::string_view(text));
}

std::string encrypted(const std::string& plain, const std::string& key = kKey, const std::string& iv = kIV) {
    auto data = aes128CBCEncrypt(bytesOf(plain), bytesOf(key), bytesOf(iv));
    return data ? data->toString() : "<failed>";
}

std::optional<std::string> decrypted(const std::string& cipher, const std::string& key = kKey,
                                     const std::string& iv = kIV) {
    auto data = aes128CBCDecrypt(bytesOf(cipher), bytesOf(key), bytesOf(iv));
    if (!data)
        return std::nullopt;
    return data->toString();
}

std::string opensslEnc(const std::string& input, const std::string& key, const std::string& iv,
                       bool decrypt = false, int* exitCode = nullptr) {
    return runOn("openssl enc -aes-128-cbc " + std::string(decrypt ? "-d " : "") + "-K " + hex(key) +
                     " -iv " + hex(iv) + " -in",
                 input, exitCode);
}

} // namespace

TEST(AES128CBC, AgreesWithOpensslEncInBothDirections) {
    // Lengths on both sides of the block size: the padding openssl adds is ours too.
    for (size_t length : {0u, 1u, 15u, 16u, 17u, 32u, 1000u, 70000u}) {
        std::string plain = pseudoRandomBytes(length, static_cast<uint32_t>(length) + 5);
        std::string theirs = opensslEnc(plain, kKey, kIV);
        EXPECT_EQ(encrypted(plain), theirs) << length;
        EXPECT_EQ(decrypted(theirs), plain) << length;
    }
}

TEST(AES128CBC, ShortKeysAndIVsAreZeroPaddedLongOnesCut) {
    std::string plain = "envelope entity";
    std::string shortKey = "k3y";
    std::string paddedKey = shortKey + std::string(13, '\0');
    EXPECT_EQ(encrypted(plain, shortKey), opensslEnc(plain, paddedKey, kIV));
    EXPECT_EQ(encrypted(plain, kKey + "ignored"), encrypted(plain, kKey));
    EXPECT_EQ(encrypted(plain, kKey, ""), opensslEnc(plain, kKey, std::string(16, '\0')));
}

TEST(AES128CBC, DecryptionNeverAnswersGarbage) {
    std::string cipher = encrypted("some plain text that spans blocks");
    EXPECT_EQ(decrypted(cipher), "some plain text that spans blocks");
    EXPECT_EQ(decrypted(""), std::nullopt);
    EXPECT_EQ(decrypted(cipher.substr(0, cipher.size() - 1)), std::nullopt);
    EXPECT_EQ(decrypted(cipher + "x"), std::nullopt);

    // A wrong key or a damaged last block almost always breaks the padding; when the damaged bytes
    // happen to form valid padding, the bytes differ from the plain text but are never longer.
    int refused = 0;
    for (int i = 0; i < 64; ++i) {
        std::string damaged = cipher;
        damaged[damaged.size() - 17] ^= static_cast<char>(i + 1); // flips a byte of the last plain block
        auto result = decrypted(damaged);
        if (!result)
            ++refused;
        else
            EXPECT_NE(*result, "some plain text that spans blocks");
    }
    EXPECT_GE(refused, 60);
    EXPECT_EQ(decrypted(cipher, pseudoRandomBytes(16, 1234)).value_or("refused").find("some plain"),
              std::string::npos);
}

TEST(AES128CBC, OpensslRefusalsAreOursToo) {
    // 32 bytes that decrypt to bad padding under this key: openssl must refuse them as we do.
    std::string junk = pseudoRandomBytes(32, 77);
    int exitCode = 0;
    opensslEnc(junk, kKey, kIV, true, &exitCode);
    EXPECT_EQ(decrypted(junk).has_value(), exitCode == 0);
}
