#pragma once
// Where a publish address points: the host and port of "rtmp://host[:port]/app/stream?query". The
// host may be a name, an IPv4 address or a bracketed IPv6 address ("[::1]"); the port defaults to
// 1935. We read the authority ourselves because the dual-stack connect needs it and the client
// library does not understand bracketed IPv6 hosts. Pure and thread-safe.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace livecore::rtmp {

struct RTMPEndpoint {
    static constexpr uint16_t defaultPort = 1935;

    std::string host; // without brackets
    uint16_t port{defaultPort};
};

// Nullopt for another scheme than rtmp, user information, an empty host, a host holding a bracket
// or a bad port.
std::optional<RTMPEndpoint> parseRTMPEndpoint(std::string_view url);

} // namespace livecore::rtmp
