#include "platform/security/MD5.h"

#include "platform/foundation/Fatal.h"
#include "platform/security/CryptoUse.h"

#include <cstdlib>
#include <openssl/evp.h>

namespace platform {

MD5Digest md5(std::span<const uint8_t> bytes) {
    detail::CryptoUse use;
    MD5Digest digest{};
    unsigned int length = 0;
    // EVP_Digest fails only when the library cannot allocate or has no MD5 at all; neither leaves
    // anything sensible to answer, and a silently wrong digest would be worse than stopping.
    bool digested = EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_md5(), nullptr);
    fatalUnless(digested && length == 16, "MD5: the digest could not be computed");
    return digest;
}

MD5Digest md5(std::string_view text) {
    return md5(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

Data md5Data(std::span<const uint8_t> bytes) {
    auto digest = md5(bytes);
    return Data(digest.data(), digest.size());
}

std::string md5Hex(std::span<const uint8_t> bytes, HexCase hexCase) {
    auto digest = md5(bytes);
    return hexString(digest, hexCase);
}

std::string md5Hex(std::string_view text, HexCase hexCase) {
    auto digest = md5(text);
    return hexString(digest, hexCase);
}

std::string hexString(std::span<const uint8_t> bytes, HexCase hexCase) {
    const char* digits = hexCase == HexCase::Lower ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0f]);
    }
    return text;
}

} // namespace platform
