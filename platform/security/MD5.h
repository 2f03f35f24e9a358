#pragma once
// MD5 digests (the platform's one-shot digest call): of bytes or of a text's UTF-8 bytes, as the 16 raw
// bytes or as 32 hexadecimal digits. MD5 is here for the identifiers and checksums that callers
// exchange with servers, never for protecting anything. Stateless and safe on any thread.

#include "platform/foundation/Data.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform {

using MD5Digest = std::array<uint8_t, 16>;

enum class HexCase { Lower, Upper };

MD5Digest md5(std::span<const uint8_t> bytes);
MD5Digest md5(std::string_view text);
inline MD5Digest md5(const Data& data) {
    return md5(data.span());
}

Data md5Data(std::span<const uint8_t> bytes);

std::string md5Hex(std::span<const uint8_t> bytes, HexCase hexCase = HexCase::Lower);
std::string md5Hex(std::string_view text, HexCase hexCase = HexCase::Lower);
inline std::string md5Hex(const Data& data, HexCase hexCase = HexCase::Lower) {
    return md5Hex(data.span(), hexCase);
}

// "%02x" (or "%02X") of every byte.
std::string hexString(std::span<const uint8_t> bytes, HexCase hexCase = HexCase::Lower);

} // namespace platform
