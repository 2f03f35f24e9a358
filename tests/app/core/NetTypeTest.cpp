#include "app/core/Reachability.h"
#include "tests/support/FakeReachability.h"

#include <gtest/gtest.h>

namespace liveapp::test {
namespace {

TEST(NetTypeTest, NamesTheNetworkTheInternetIsReachedOver) {
    FakeReachability network(FakeReachability::Network::WiFi);
    EXPECT_EQ(Reachability::currentNetType(), "wifi");
    network.setNetwork(FakeReachability::Network::Cellular);
    EXPECT_EQ(Reachability::currentNetType(), "3g");
    network.setNetwork(FakeReachability::Network::None);
    EXPECT_EQ(Reachability::currentNetType(), "none");
}

TEST(NetTypeTest, SecondReadDecidesWhenTheNetworkChangesBetweenThem) {
    FakeReachability network(FakeReachability::Network::WiFi);
    int reads = 0;
    network.setAfterRead([&](const std::string&) {
        if (++reads == 1)
            network.setNetwork(FakeReachability::Network::Cellular);
    });
    EXPECT_EQ(Reachability::currentNetType(), "none");
    EXPECT_EQ(reads, 2);
}

} // namespace
} // namespace liveapp::test
