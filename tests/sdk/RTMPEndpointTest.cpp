#include "sdk/librtmp/RTMPEndpoint.h"

#include <gtest/gtest.h>

using livecore::rtmp::parseRTMPEndpoint;

TEST(RTMPEndpoint, ReadsHostAndPortOfEveryPublishAddressForm) {
    auto withPort = parseRTMPEndpoint("rtmp://127.0.0.1:19350/live/42?key=k");
    ASSERT_TRUE(withPort);
    EXPECT_EQ(withPort->host, "127.0.0.1");
    EXPECT_EQ(withPort->port, 19350);

    auto defaultPort = parseRTMPEndpoint("RTMP://ingest.example.test/live/42");
    ASSERT_TRUE(defaultPort);
    EXPECT_EQ(defaultPort->host, "ingest.example.test");
    EXPECT_EQ(defaultPort->port, 1935);

    auto ipv6 = parseRTMPEndpoint("rtmp://[::1]:2000/live/42?key=k");
    ASSERT_TRUE(ipv6);
    EXPECT_EQ(ipv6->host, "::1");
    EXPECT_EQ(ipv6->port, 2000);

    auto ipv6DefaultPort = parseRTMPEndpoint("rtmp://[::1]/live");
    ASSERT_TRUE(ipv6DefaultPort);
    EXPECT_EQ(ipv6DefaultPort->host, "::1");
    EXPECT_EQ(ipv6DefaultPort->port, 1935);

    auto queryRightAfterHost = parseRTMPEndpoint("rtmp://host?x=1");
    ASSERT_TRUE(queryRightAfterHost);
    EXPECT_EQ(queryRightAfterHost->host, "host");
}

TEST(RTMPEndpoint, RefusesOtherSchemesAndMalformedAuthorities) {
    for (const char* url : {"http://127.0.0.1/live", "rtmps://127.0.0.1/live", "127.0.0.1/live",
                            "rtmp:///live", "rtmp://:1935/live", "rtmp://host:/live", "rtmp://host:0/live",
                            "rtmp://host:65536/live", "rtmp://host:12x/live", "rtmp://[::1/live",
                            "rtmp://[::1]x/live", "rtmp://user@host/live", "rtmp://[]:1935/live"})
        EXPECT_FALSE(parseRTMPEndpoint(url)) << url;
}
