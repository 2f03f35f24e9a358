// Reads each line of the input as a Set-Cookie header from a reply to a fixed URL, and as an HTTP
// date. Beyond not crashing, a cookie that is accepted must go back to some path of its own and
// must survive being written into a request's Cookie header.
#include "platform/foundation/Fatal.h"
#include "platform/foundation/URL.h"
#include "platform/net/HTTPCookie.h"
#include "platform/net/HTTPDate.h"

#include <string_view>
#include <vector>

using namespace platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const URLPtr origin = URL::create("http://www.example.test/app/page");
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<HTTPCookiePtr> accepted;
    while (!input.empty()) {
        size_t end = input.find('\n');
        std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        (void)detail::parseHTTPDate(line);
        if (auto cookie = HTTPCookie::cookieFromSetCookieLine(line, origin)) {
            fatalUnless(!cookie->domain().empty(), "an accepted cookie has no domain");
            accepted.push_back(cookie);
        }
    }
    (void)HTTPCookie::requestHeaderFieldsWithCookies(accepted);
    return 0;
}
