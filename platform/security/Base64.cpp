#include "platform/security/Base64.h"

#include <array>
#include <openssl/evp.h>
#include <vector>

namespace platform {

namespace {

constexpr int8_t kNotInAlphabet = -1;
constexpr int8_t kPad = -2;

constexpr std::array<int8_t, 256> makeDecodeTable() {
    std::array<int8_t, 256> table{};
    table.fill(kNotInAlphabet);
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i)
        table[static_cast<uint8_t>(alphabet[i])] = static_cast<int8_t>(i);
    table[static_cast<uint8_t>('=')] = kPad;
    return table;
}

constexpr auto kDecodeTable = makeDecodeTable();

std::string breakIntoLines(const std::string& encoded, uint32_t options) {
    size_t lineLength = (options & Base64Encoding64CharacterLineLength) ? 64 : 76;
    bool cr = options & Base64EncodingEndLineWithCarriageReturn;
    bool lf = options & Base64EncodingEndLineWithLineFeed;
    if (!cr && !lf)
        cr = lf = true;
    std::string lined;
    lined.reserve(encoded.size() + (encoded.size() / lineLength + 1) * 2);
    for (size_t start = 0; start < encoded.size(); start += lineLength) {
        if (start > 0) {
            if (cr)
                lined.push_back('\r');
            if (lf)
                lined.push_back('\n');
        }
        lined.append(encoded, start, lineLength);
    }
    return lined;
}

} // namespace

std::string base64Encode(std::span<const uint8_t> bytes, uint32_t options) {
    std::string encoded;
    // EVP_EncodeBlock takes an int length, so long inputs go through it in slices of whole 3-byte groups.
    constexpr size_t kSlice = 3 * 1024 * 1024;
    encoded.reserve((bytes.size() + 2) / 3 * 4);
    std::vector<unsigned char> out;
    for (size_t offset = 0; offset < bytes.size(); offset += kSlice) {
        size_t length = std::min(kSlice, bytes.size() - offset);
        out.resize((length + 2) / 3 * 4 + 1);
        int written = EVP_EncodeBlock(out.data(), bytes.data() + offset, static_cast<int>(length));
        encoded.append(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(written));
    }
    if (options & (Base64Encoding64CharacterLineLength | Base64Encoding76CharacterLineLength))
        return breakIntoLines(encoded, options);
    return encoded;
}

// Decoded by hand rather than through EVP: the library's decoder skips whitespace on its own and
// reports padding only through its length, and both would let malformed text through.
std::optional<Data> base64Decode(std::string_view text, uint32_t options) {
    bool ignoreUnknown = options & Base64DecodingIgnoreUnknownCharacters;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    uint32_t group = 0;
    int inGroup = 0;
    int padding = 0;
    for (char c : text) {
        int8_t value = kDecodeTable[static_cast<uint8_t>(c)];
        if (value == kNotInAlphabet) {
            if (ignoreUnknown)
                continue;
            return std::nullopt;
        }
        if (value == kPad) {
            // Padding may only finish the third and fourth places of the last group.
            if (inGroup < 2)
                return std::nullopt;
            ++padding;
            ++inGroup;
        } else {
            if (padding > 0)
                return std::nullopt;
            group = (group << 6) | static_cast<uint32_t>(value);
            ++inGroup;
        }
        if (inGroup == 4) {
            if (padding == 0) {
                bytes.push_back(static_cast<uint8_t>(group >> 16));
                bytes.push_back(static_cast<uint8_t>(group >> 8));
                bytes.push_back(static_cast<uint8_t>(group));
            } else if (padding == 1) {
                group >>= 2;
                bytes.push_back(static_cast<uint8_t>(group >> 8));
                bytes.push_back(static_cast<uint8_t>(group));
            } else {
                group >>= 4;
                bytes.push_back(static_cast<uint8_t>(group));
            }
            inGroup = 0;
            group = 0;
            if (padding > 0)
                padding = 3; // marks the end: any further character is refused
        }
    }
    if (inGroup != 0)
        return std::nullopt;
    return Data(std::move(bytes));
}

} // namespace platform
