#pragma once
// A universally unique identifier: 16 bytes, made at random (version 4, RFC 4122 variant) or read
// from the text the platform writes ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F", uppercase, 8-4-4-4-12).
// Values; safe on any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class UUID {
public:
    using Bytes = std::array<uint8_t, 16>;

    // A fresh random identifier from the system's generator.
    static UUID create();
    // Nothing unless the text is 32 hexadecimal digits in the 8-4-4-4-12 groups (either case).
    static std::optional<UUID> fromString(std::string_view text);

    explicit UUID(const Bytes& bytes)
        : m_bytes(bytes) {}

    std::string UUIDString() const;
    const Bytes& bytes() const { return m_bytes; }
    bool operator==(const UUID&) const = default;

private:
    Bytes m_bytes{};
};

} // namespace platform
