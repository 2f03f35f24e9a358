// Reads any bytes as a publish address. Beyond not crashing: an address that parses has a host and a
// port, and the endpoint written back as an address (bracketed when the host holds a colon) parses to
// the same host and port.
#include "platform/foundation/Fatal.h"
#include "sdk/librtmp/RTMPEndpoint.h"

#include <string>

using livecore::rtmp::parseRTMPEndpoint;
using platform::fatalUnless;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    std::string_view url(reinterpret_cast<const char*>(bytes), size);
    auto endpoint = parseRTMPEndpoint(url);
    if (!endpoint)
        return 0;
    fatalUnless(!endpoint->host.empty() && endpoint->port != 0, "an endpoint without host or port",
                endpoint->host);
    std::string host =
        endpoint->host.find(':') == std::string::npos ? endpoint->host : "[" + endpoint->host + "]";
    std::string written = "rtmp://" + host + ":" + std::to_string(endpoint->port) + "/live/1?key=k";
    auto again = parseRTMPEndpoint(written);
    fatalUnless(again.has_value(), "a written endpoint does not parse", written);
    fatalUnless(again->host == endpoint->host && again->port == endpoint->port,
                "a written endpoint parses differently", written);
    return 0;
}
