// Feeds each line of the input to the reply-head parser, as curl hands header lines over. Beyond not
// crashing: a status is three digits or none, and once a head has ended a trailer never changes it.
#include "platform/foundation/Fatal.h"
#include "platform/net/HTTPHeaderParser.h"

#include <string_view>

using platform::fatalUnless;
using platform::detail::HTTPHeaderParser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    HTTPHeaderParser parser;
    platform::HTTPHeaderFields atEnd;
    while (!input.empty()) {
        size_t end = input.find('\n');
        std::string_view line = input.substr(0, end == std::string_view::npos ? end : end + 1);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        auto result = parser.feed(line);
        if (result == HTTPHeaderParser::Line::HeadEnd) {
            atEnd = parser.fields();
            fatalUnless(parser.status() >= 0 && parser.status() <= 999, "status out of range");
        } else if (parser.headDone() && result == HTTPHeaderParser::Line::Other) {
            fatalUnless(parser.fields() == atEnd, "a line after the head changed its fields");
        }
    }
    return 0;
}
