// Route replies as the chat client decodes them. Beyond not crashing: the decoder agrees with a
// literal reading of the rule (lowercase hexadecimal text, eight digits at a time, each XOR 213), and
// a reply it calls usable names a real IPv4 address and a port a socket can connect to.
#include "app/screens/ChatRoomProtocol.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_chat_route: %s\n", what);
        std::abort();
    }
}

detail::ChatRoute literalReading(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t index = 0; index < size; ++index)
        hex += {digits[data[index] >> 4], digits[data[index] & 15]};
    detail::ChatRoute route;
    for (size_t position = 0, index = 0; position < hex.size(); position += 8, ++index) {
        const std::string group = hex.substr(position, 8);
        uint64_t word = 0;
        std::from_chars(group.data(), group.data() + group.size(), word, 16);
        word ^= 213;
        if (index == 0)
            route.host = std::to_string(word);
        else if (index < 4)
            *route.host += "." + std::to_string(word);
        else
            route.port = int64_t(word);
    }
    return route;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto route = detail::decodeChatRoute({data, size});
    const auto literal = literalReading(data, size);
    require(route.host == literal.host && route.port == literal.port, "differs from the literal reading");
    if (route.usable) {
        require(size == 20 && route.port >= 1 && route.port <= 65535, "usable without a 16-bit port");
        int octets = 0;
        for (size_t start = 0; start <= route.host->size(); ++octets) {
            size_t end = std::min(route.host->find('.', start), route.host->size());
            require(std::stoul(route.host->substr(start, end - start)) <= 255,
                    "usable with an octet over 255");
            start = end + 1;
        }
        require(octets == 4, "usable without four octets");
    }
    return 0;
}
