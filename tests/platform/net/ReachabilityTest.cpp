#include "platform/dispatch/DispatchQueue.h"
#include "platform/net/ReachabilityHandle.h"
#include "platform/net/ReachabilitySystemProvider.h"
#include "platform/net/Resolver.h"
#include "tests/support/FakeReachability.h"
#include "tests/support/FakeResolver.h"

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <net/if.h>
#include <netdb.h>
#include <sys/un.h>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;
using liveapp::test::FakeReachability;
using Network = FakeReachability::Network;

namespace {

constexpr auto generous = std::chrono::seconds(20);
constexpr ReachabilityFlags kLocal =
    kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress | kReachabilityFlagsIsDirect;

sockaddr_in ipv4(const char* text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

template <class Address> std::shared_ptr<ReachabilityHandle> handleFor(const Address& address) {
    return ReachabilityHandle::createWithAddress(reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

// The flags each callback delivered, with the queue it ran on.
class Recorder {
public:
    ReachabilityHandle::Callback callback(std::shared_ptr<DispatchQueue> expectedQueue) {
        return [this, expectedQueue](ReachabilityHandle&, ReachabilityFlags flags) {
            std::lock_guard lock(m_mutex);
            if (expectedQueue && DispatchQueue::getSpecificCurrent(&m_key) != m_marker)
                ++m_offQueue;
            m_flags.push_back(flags);
            m_changed.notify_all();
        };
    }
    void markQueue(const std::shared_ptr<DispatchQueue>& queue) { queue->setSpecific(&m_key, m_marker); }

    bool waitForCount(size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, generous, [&] { return m_flags.size() >= count; });
    }
    std::vector<ReachabilityFlags> flags() {
        std::lock_guard lock(m_mutex);
        return m_flags;
    }
    int offQueue() {
        std::lock_guard lock(m_mutex);
        return m_offQueue;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<ReachabilityFlags> m_flags;
    int m_offQueue{0};
    int m_key{0};
    std::shared_ptr<void> m_marker{std::make_shared<int>(1)};
};

// Waits until everything queued on `queue` before now has run.
void drain(const std::shared_ptr<DispatchQueue>& queue) {
    queue->sync([] {});
}

// Puts back what a test installed, whatever way the test ends.
struct Restore {
    std::function<void()> undo;
    ~Restore() { undo(); }
};

// Each callback test: the fake network on Wi-Fi, a handle on a name reporting on a queue.
class ReachabilityCallbacks : public testing::Test {
protected:
    void SetUp() override {
        recorder.markQueue(queue);
        EXPECT_TRUE(handle->setCallback(recorder.callback(queue)));
        EXPECT_TRUE(handle->setDispatchQueue(queue));
    }
    void TearDown() override {
        if (handle)
            handle->setDispatchQueue(nullptr);
        EXPECT_EQ(recorder.offQueue(), 0);
    }

    FakeReachability fake{Network::WiFi};
    std::shared_ptr<DispatchQueue> queue = DispatchQueue::create("test.reachability");
    Recorder recorder;
    std::shared_ptr<ReachabilityHandle> handle = ReachabilityHandle::createWithName("example.test");
};

} // namespace

// ---- Handles and targets ----
TEST(ReachabilityHandle, RefusesTargetsItCannotWatch) {
    EXPECT_FALSE(ReachabilityHandle::createWithName(""));
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    EXPECT_FALSE(handleFor(local));
    auto v4 = ipv4("10.0.0.1");
    EXPECT_FALSE(ReachabilityHandle::createWithAddress(reinterpret_cast<sockaddr*>(&v4), sizeof v4 - 1));
    EXPECT_FALSE(ReachabilityHandle::createWithAddress(nullptr, 0));
    ASSERT_TRUE(ReachabilityHandle::createWithName("example.test"));
    EXPECT_EQ(ReachabilityHandle::createWithName("example.test")->target().description(), "example.test");
    EXPECT_EQ(handleFor(v4)->target().description(), "10.0.0.1");
}

TEST(ReachabilityHandle, TheZeroAndLinkLocalAddressesAreRecognised) {
    auto zero = ipv4("0.0.0.0");
    auto linkLocal = ipv4("169.254.0.0");
    auto ordinary = ipv4("169.253.255.255");
    EXPECT_TRUE(handleFor(zero)->target().isZeroAddress());
    EXPECT_FALSE(handleFor(zero)->target().isLinkLocalAddress());
    EXPECT_TRUE(handleFor(linkLocal)->target().isLinkLocalAddress());
    EXPECT_FALSE(handleFor(ordinary)->target().isLinkLocalAddress());
    sockaddr_in6 zero6{};
    zero6.sin6_family = AF_INET6;
    EXPECT_TRUE(handleFor(zero6)->target().isZeroAddress());
    EXPECT_FALSE(ReachabilityHandle::createWithName("0.0.0.0")->target().isZeroAddress());
}

// ---- Scripted flags ----
TEST(ReachabilityHandle, FlagsFollowTheScriptedNetwork) {
    FakeReachability fake(Network::WiFi);
    auto handle = ReachabilityHandle::createWithName("example.test");
    ReachabilityFlags flags = 99;
    EXPECT_TRUE(handle->getFlags(&flags));
    EXPECT_EQ(flags, kReachabilityFlagsReachable);
    fake.setNetwork(Network::Cellular);
    EXPECT_TRUE(handle->getFlags(&flags));
    EXPECT_EQ(flags, kReachabilityFlagsReachable | kReachabilityFlagsIsWWAN);
    fake.setNetwork(Network::None);
    EXPECT_TRUE(handle->getFlags(&flags));
    EXPECT_EQ(flags, 0u);
    auto loopback = ipv4("127.0.0.1");
    EXPECT_TRUE(handleFor(loopback)->getFlags(&flags));
    EXPECT_EQ(flags, kLocal);

    // Unreadable flags read as false and zero.
    fake.setTargetFlags("example.test", std::nullopt);
    flags = 99;
    EXPECT_FALSE(ReachabilityHandle::createWithName("example.test")->getFlags(&flags));
    EXPECT_EQ(flags, 0u);
    fake.setTargetFlags("example.test", kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired);
    EXPECT_TRUE(ReachabilityHandle::createWithName("example.test")->getFlags(&flags));
    EXPECT_EQ(flags, kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired);
}

// ---- Change callbacks ----
TEST_F(ReachabilityCallbacks, TheFirstComesOnceTheFlagsAreKnownThenOnlyChangesCome) {
    ASSERT_TRUE(recorder.waitForCount(1));
    EXPECT_EQ(recorder.flags(), std::vector<ReachabilityFlags>{kReachabilityFlagsReachable});
    fake.poke(); // nothing changed for this target
    fake.setTargetFlags("other.test", 0);
    drain(queue);
    fake.setNetwork(Network::Cellular);
    ASSERT_TRUE(recorder.waitForCount(2));
    fake.setNetwork(Network::None);
    ASSERT_TRUE(recorder.waitForCount(3));
    drain(queue);
    EXPECT_EQ(recorder.flags(), (std::vector<ReachabilityFlags>{kReachabilityFlagsReachable,
                                                                FakeReachability::cellularFlags, 0}));
}

TEST_F(ReachabilityCallbacks, RemovingTheQueueStopsCallbacksAndRestartingDeliversAFirstOneAgain) {
    ASSERT_TRUE(recorder.waitForCount(1));
    EXPECT_EQ(fake.observerCount(), 1u);
    handle->setDispatchQueue(nullptr);
    EXPECT_EQ(fake.observerCount(), 0u);
    fake.setNetwork(Network::Cellular);
    drain(queue);
    EXPECT_EQ(recorder.flags().size(), 1u);

    // Unchanged since it stopped, but a new start always reports.
    fake.setNetwork(Network::WiFi);
    handle->setDispatchQueue(queue);
    ASSERT_TRUE(recorder.waitForCount(2));
    EXPECT_EQ(recorder.flags().back(), kReachabilityFlagsReachable);
    handle->setCallback({});
    EXPECT_EQ(fake.observerCount(), 0u);
}

TEST_F(ReachabilityCallbacks, AHandleThatGoesAwayStopsWatching) {
    ASSERT_TRUE(recorder.waitForCount(1));
    drain(queue); // a callback under way holds the handle until it returns
    handle.reset();
    EXPECT_EQ(fake.observerCount(), 0u);
    fake.setNetwork(Network::None);
    drain(queue);
    EXPECT_EQ(recorder.flags().size(), 1u);
}

TEST_F(ReachabilityCallbacks, ManyChangesFromManyThreadsEndWithTheLastFlags) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 50; ++i)
                fake.setNetwork((i + t) % 2 ? Network::Cellular : Network::WiFi);
        });
    }
    for (auto& thread : threads)
        thread.join();
    fake.setNetwork(Network::None);
    ASSERT_TRUE(recorder.waitForCount(1));
    auto settled = [&] {
        drain(queue);
        auto flags = recorder.flags();
        return !flags.empty() && flags.back() == 0u;
    };
    for (auto limit = std::chrono::steady_clock::now() + generous; !settled();) {
        ASSERT_LT(std::chrono::steady_clock::now(), limit);
        std::this_thread::sleep_for(1ms);
    }
    auto flags = recorder.flags();
    for (size_t i = 1; i < flags.size(); ++i)
        EXPECT_NE(flags[i], flags[i - 1]) << "a callback without a change at " << i;
}

// ---- The machine's routing decisions ----
TEST(ReachabilitySystemProvider, TheLoopbackAddressAndLocalhostAreLocalReachableAndDirect) {
    ReachabilitySystemProvider provider;
    auto loopback = ipv4("127.0.0.1");
    auto target = ReachabilityTarget::forAddress(reinterpret_cast<sockaddr*>(&loopback), sizeof loopback);
    ASSERT_TRUE(target);
    EXPECT_EQ(provider.flagsForTarget(*target), std::optional<ReachabilityFlags>(kLocal));

    // The same through the installed (system) provider and a handle.
    ReachabilityFlags flags = 0;
    EXPECT_TRUE(handleFor(loopback)->getFlags(&flags));
    EXPECT_EQ(flags, kLocal) << reachabilityFlagsDescription(flags);
    flags = provider.flagsForTarget(ReachabilityTarget::forName("localhost")).value_or(0);
    EXPECT_EQ(flags & kLocal, kLocal) << reachabilityFlagsDescription(flags);
}

TEST(ReachabilitySystemProvider, NamesResolveThroughTheSeam) {
    auto resolver = std::make_shared<liveapp::test::FakeResolver>();
    resolver->add("loop.test", {"127.0.0.1"});
    liveapp::test::ScopedResolver installed(resolver);
    ReachabilitySystemProvider provider;
    EXPECT_EQ(provider.flagsForTarget(ReachabilityTarget::forName("loop.test")),
              std::optional<ReachabilityFlags>(kLocal));
    // A name that does not resolve is readable and unreachable.
    EXPECT_EQ(provider.flagsForTarget(ReachabilityTarget::forName("nowhere.test")),
              std::optional<ReachabilityFlags>(0));
}

TEST(ReachabilitySystemProvider, AnAddressOfTheMachineItselfIsLocalWithoutAskingTheKernel) {
    std::vector<InterfaceAddress> interfaces{
        *InterfaceAddress::make("eth7", "10.99.0.1", "255.255.0.0", IFF_UP | IFF_RUNNING)};
    auto own = ipv4("10.99.0.1");
    EXPECT_EQ(ReachabilitySystemProvider::flagsForAddress(reinterpret_cast<sockaddr*>(&own), interfaces),
              kLocal);
    EXPECT_EQ(ReachabilitySystemProvider::flagsForAddress(nullptr, interfaces), 0u);
}

TEST(ReachabilitySystemProvider, TheInternetIsJudgedByTheRouteToTheProbe) {
    ReachabilitySystemProvider::Configuration configuration;
    configuration.internetProbeIPv4 = "127.0.0.1"; // keeps the test on loopback
    ReachabilitySystemProvider provider(configuration);
    auto zero = ipv4("0.0.0.0");
    auto target = ReachabilityTarget::forAddress(reinterpret_cast<sockaddr*>(&zero), sizeof zero);
    ASSERT_TRUE(target);
    EXPECT_EQ(provider.flagsForTarget(*target), std::optional<ReachabilityFlags>(kLocal));

    configuration.internetProbeIPv4 = "not an address";
    ReachabilitySystemProvider broken(configuration);
    EXPECT_EQ(broken.flagsForTarget(*target), std::optional<ReachabilityFlags>(0));
}

TEST(ReachabilitySystemProvider, TheLinkLocalNetworkNeedsANonCellularInterfaceUp) {
    std::mutex mutex;
    std::vector<InterfaceAddress> interfaces = FakeReachability::loopbackInterfaces();
    NetworkInterfaces::installListing([&] {
        std::lock_guard lock(mutex);
        return std::optional(interfaces);
    });
    Restore restore{[] { NetworkInterfaces::installListing({}); }};
    auto add = [&](InterfaceAddress entry) {
        std::lock_guard lock(mutex);
        interfaces.push_back(std::move(entry));
    };
    ReachabilitySystemProvider provider;
    auto linkLocal = ipv4("169.254.0.0");
    auto target = *ReachabilityTarget::forAddress(reinterpret_cast<sockaddr*>(&linkLocal), sizeof linkLocal);
    EXPECT_EQ(provider.flagsForTarget(target), std::optional<ReachabilityFlags>(0));

    add(*InterfaceAddress::make("wwan0", "10.64.0.20", "255.255.255.255", IFF_UP));
    EXPECT_EQ(provider.flagsForTarget(target), std::optional<ReachabilityFlags>(0));

    add(*InterfaceAddress::make("wlan0", "192.168.1.20", "255.255.255.0", IFF_UP));
    EXPECT_EQ(provider.flagsForTarget(target),
              std::optional<ReachabilityFlags>(kReachabilityFlagsReachable | kReachabilityFlagsIsDirect));
}

TEST(ReachabilitySystemProvider, WithoutNetlinkASlowPollTellsObserversToLookAgain) {
    auto clock = std::make_shared<ManualClock>();
    Clock::install(clock);
    Restore restore{[] { Clock::install(nullptr); }};
    {
        ReachabilitySystemProvider::Configuration configuration;
        configuration.useNetlink = false;
        configuration.pollInterval = std::chrono::seconds(30);
        ReachabilitySystemProvider provider(configuration);
        std::mutex mutex;
        std::condition_variable changed;
        int calls = 0;
        uint64_t id = provider.addChangeObserver([&] {
            std::lock_guard lock(mutex);
            ++calls;
            changed.notify_all();
        });
        EXPECT_NE(id, 0u);
        EXPECT_FALSE(provider.isWatchingNetlink());
        clock->advance(std::chrono::seconds(31));
        {
            std::unique_lock lock(mutex);
            EXPECT_TRUE(changed.wait_for(lock, generous, [&] { return calls >= 1; }));
        }
        provider.removeChangeObserver(id);
    }
}

TEST(ReachabilitySystemProvider, ObservingOpensTheWatcherAndTheLastObserverClosesIt) {
    ReachabilitySystemProvider provider;
    uint64_t first = provider.addChangeObserver([] {});
    uint64_t second = provider.addChangeObserver([] {});
    EXPECT_NE(first, second);
    bool netlink = provider.isWatchingNetlink();
    provider.removeChangeObserver(first);
    EXPECT_EQ(provider.isWatchingNetlink(), netlink);
    provider.removeChangeObserver(second);
    EXPECT_FALSE(provider.isWatchingNetlink());
}

TEST(ReachabilitySystemProvider, AHandleOnTheLoopbackAddressReportsOnceStarted) {
    ReachabilityProvider::install(std::make_shared<ReachabilitySystemProvider>());
    Restore restore{[] { ReachabilityProvider::install(nullptr); }};
    auto queue = DispatchQueue::create("test.reachability");
    Recorder recorder;
    auto loopback = ipv4("127.0.0.1");
    auto handle = handleFor(loopback);
    handle->setCallback(recorder.callback(nullptr));
    handle->setDispatchQueue(queue);
    ASSERT_TRUE(recorder.waitForCount(1));
    EXPECT_EQ(recorder.flags().front(), kLocal);
    handle->setDispatchQueue(nullptr);
}
