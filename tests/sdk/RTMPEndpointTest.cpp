#include "sdk/librtmp/RTMPEndpoint.h"

#include <gtest/gtest.h>

using livecore::rtmp::parseRTMPEndpoint;

TEST(RTMPEndpoint, ReadsHostAndPortOfEveryPublishAddressForm) {
    const struct {
        const char* url;
        const char* host;
        int port;
    } cases[] = {
        {"rtmp://127.0.0.1:19350/live/42?key=k", "127.0.0.1", 19350},
        {"RTMP://ingest.example.test/live/42", "ingest.example.test", 1935},
        {"rtmp://[::1]:2000/live/42?key=k", "::1", 2000},
        {"rtmp://[::1]/live", "::1", 1935},
        {"rtmp://host?x=1", "host", 1935},
    };
    for (const auto& c : cases) {
        auto endpoint = parseRTMPEndpoint(c.url);
        ASSERT_TRUE(endpoint) << c.url;
        EXPECT_EQ(endpoint->host, c.host) << c.url;
        EXPECT_EQ(endpoint->port, c.port) << c.url;
    }
}

TEST(RTMPEndpoint, RefusesOtherSchemesAndMalformedAuthorities) {
    for (const char* url :
         {"http://127.0.0.1/live", "rtmps://127.0.0.1/live", "127.0.0.1/live", "rtmp:///live",
          "rtmp://:1935/live", "rtmp://host:/live", "rtmp://host:0/live", "rtmp://host:65536/live",
          "rtmp://host:12x/live", "rtmp://[::1/live", "rtmp://[::1]x/live", "rtmp://user@host/live",
          "rtmp://[]:1935/live", "rtmp://[[fe0et0]/live", "rtmp://a]b:1935/live"})
        EXPECT_FALSE(parseRTMPEndpoint(url)) << url;
}
