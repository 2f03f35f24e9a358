#include "platform/foundation/UUID.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <sys/random.h>

namespace platform {

namespace {

bool isDashPosition(size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

} // namespace

UUID UUID::create() {
    Bytes bytes;
    for (size_t filled = 0; filled < bytes.size();) {
        ssize_t n = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (n < 0) {
            std::perror("UUID: getrandom");
            std::abort();
        }
        filled += static_cast<size_t>(n);
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80);
    return UUID(bytes);
}

std::optional<UUID> UUID::fromString(std::string_view text) {
    if (text.size() != 36)
        return std::nullopt;
    std::string digits;
    for (size_t i = 0; i < text.size(); ++i) {
        if (isDashPosition(i) != (text[i] == '-'))
            return std::nullopt;
        if (!isDashPosition(i)) {
            if (!std::isxdigit(static_cast<unsigned char>(text[i])))
                return std::nullopt;
            digits += text[i];
        }
    }
    Bytes bytes{};
    for (size_t i = 0; i < bytes.size(); ++i)
        std::from_chars(digits.data() + 2 * i, digits.data() + 2 * i + 2, bytes[i], 16);
    return UUID(bytes);
}

std::string UUID::UUIDString() const {
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < m_bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += digits[m_bytes[i] >> 4];
        text += digits[m_bytes[i] & 15];
    }
    return text;
}

} // namespace platform
