#include "sdk/librtmp/RTMPEndpoint.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace livecore::rtmp {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<uint16_t> parsePort(std::string_view text) {
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

} // namespace

std::optional<RTMPEndpoint> parseRTMPEndpoint(std::string_view url) {
    constexpr std::string_view separator = "://";
    auto schemeEnd = url.find(separator);
    if (schemeEnd == std::string_view::npos || !equalsIgnoringCase(url.substr(0, schemeEnd), "rtmp"))
        return std::nullopt;
    auto rest = url.substr(schemeEnd + separator.size());
    auto authority = rest.substr(0, rest.find_first_of("/?#"));
    if (authority.find('@') != std::string_view::npos)
        return std::nullopt;

    RTMPEndpoint endpoint;
    std::string_view portText;
    bool hasPort = false;
    if (!authority.empty() && authority.front() == '[') {
        auto close = authority.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        endpoint.host = std::string(authority.substr(1, close - 1));
        auto after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return std::nullopt;
            hasPort = true;
            portText = after.substr(1);
        }
    } else {
        auto colon = authority.find(':');
        endpoint.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) {
            hasPort = true;
            portText = authority.substr(colon + 1);
        }
    }
    // Brackets only ever enclose a whole address; one inside the host names nothing.
    if (endpoint.host.empty() || endpoint.host.find_first_of("[]") != std::string::npos)
        return std::nullopt;
    if (hasPort) {
        auto port = parsePort(portText);
        if (!port)
            return std::nullopt;
        endpoint.port = *port;
    }
    return endpoint;
}

} // namespace livecore::rtmp
