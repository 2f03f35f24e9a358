#include "sockets/common/Timeout.h"

#include "platform/dispatch/DispatchTime.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace std::chrono_literals;

TEST(SocketTimeout, NegativeAndNaNMeanNone) {
    EXPECT_FALSE(sockets::hasTimeout(-1));
    EXPECT_FALSE(sockets::hasTimeout(-0.001));
    EXPECT_FALSE(sockets::hasTimeout(std::nan("")));
    EXPECT_TRUE(sockets::hasTimeout(0));
    EXPECT_TRUE(sockets::hasTimeout(5));
}

TEST(SocketTimeout, SecondsBecomeNanoseconds) {
    EXPECT_EQ(sockets::durationFromSeconds(2.5), 2500ms);
    EXPECT_EQ(sockets::durationFromSeconds(0), platform::Duration::zero());
}

TEST(SocketTimeout, HugeTimeoutsSaturateToNever) {
    EXPECT_EQ(sockets::durationFromSeconds(1e300), platform::Duration::max());
    EXPECT_EQ(sockets::durationFromSeconds(std::numeric_limits<double>::infinity()),
              platform::Duration::max());
    EXPECT_EQ(sockets::deadlineAfter(std::numeric_limits<double>::max()), platform::DispatchTime::forever());
    // Just below the cut-off still fits without overflowing.
    EXPECT_GT(sockets::deadlineAfter(8.9e9), platform::DispatchTime::now());
}
