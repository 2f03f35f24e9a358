// Reads any bytes as a publish address. Beyond not crashing: an address that parses has a host and a
// port, and the endpoint written back as an address (bracketed when the host holds a colon) parses to
// the same host and port.
#include "sdk/librtmp/RTMPEndpoint.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using livecore::rtmp::parseRTMPEndpoint;

namespace {

void require(bool condition, const char* what, const std::string& detail) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_rtmp_endpoint: %s [%s]\n", what, detail.c_str());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    std::string_view url(reinterpret_cast<const char*>(bytes), size);
    auto endpoint = parseRTMPEndpoint(url);
    if (!endpoint)
        return 0;
    require(!endpoint->host.empty() && endpoint->port != 0, "an endpoint without host or port",
            endpoint->host);
    std::string host =
        endpoint->host.find(':') == std::string::npos ? endpoint->host : "[" + endpoint->host + "]";
    std::string written = "rtmp://" + host + ":" + std::to_string(endpoint->port) + "/live/1?key=k";
    auto again = parseRTMPEndpoint(written);
    require(again.has_value(), "a written endpoint does not parse", written);
    require(again->host == endpoint->host && again->port == endpoint->port,
            "a written endpoint parses differently", written);
    return 0;
}
