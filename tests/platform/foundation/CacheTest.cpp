#include "platform/foundation/Cache.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using platform::Cache;
using platform::Object;
using platform::ObjectPtr;

namespace {

struct Item : Object {};

std::vector<std::string> keysHeld(const Cache& cache, const std::vector<std::string>& keys) {
    std::vector<std::string> held;
    for (const auto& key : keys)
        if (cache.objectForKey(key))
            held.push_back(key);
    return held;
}

// Removes itself from the cache that evicts it, which must not deadlock.
struct Reentrant : Object {
    Cache* cache{nullptr};
    ~Reentrant() override {
        if (cache)
            cache->removeObjectForKey("other");
    }
};

} // namespace

TEST(Cache, LimitsEvictTheOldestEntriesFirst) {
    struct Case {
        uint64_t countLimit, costLimit;
        std::vector<std::string> held;
    };
    const std::vector<std::string> keys{"a", "b", "c", "d"}; // costs 10, 20, 30, 40
    for (const Case& c : {Case{0, 0, {"a", "b", "c", "d"}}, Case{2, 0, {"c", "d"}}, Case{0, 65, {"d"}},
                          Case{0, 70, {"c", "d"}}, Case{3, 80, {"c", "d"}}, Case{0, 30, {}}}) {
        Cache cache;
        cache.setCountLimit(c.countLimit);
        cache.setTotalCostLimit(c.costLimit);
        for (size_t i = 0; i < keys.size(); ++i)
            cache.setObject(std::make_shared<Item>(), keys[i], 10 * (i + 1));
        EXPECT_EQ(keysHeld(cache, keys), c.held) << c.countLimit << " " << c.costLimit;
    }
}

TEST(Cache, SettingAKeyAgainReplacesItsCostAndMakesItNewest) {
    Cache cache;
    auto first = std::make_shared<Item>(), second = std::make_shared<Item>();
    cache.setObject(first, "a", 50);
    cache.setObject(std::make_shared<Item>(), "b", 10);
    cache.setObject(second, "a", 5);
    EXPECT_EQ(cache.objectForKey("a"), second);
    EXPECT_EQ(cache.totalCost(), 15u);
    cache.setCountLimit(1); // lowering a limit evicts at once, and "b" is now the oldest
    EXPECT_EQ(keysHeld(cache, {"a", "b"}), std::vector<std::string>{"a"});
    cache.setObject(nullptr, "a");
    EXPECT_EQ(cache.count(), 0u);
    EXPECT_EQ(cache.totalCost(), 0u);
}

TEST(Cache, RemovingLetsGoOfTheObjectsAndTheirCost) {
    Cache cache;
    std::weak_ptr<Item> watched;
    {
        auto item = std::make_shared<Item>();
        watched = item;
        cache.setObject(item, "a", 7);
    }
    cache.setObject(std::make_shared<Item>(), "b", 3);
    cache.removeObjectForKey("a");
    EXPECT_TRUE(watched.expired());
    EXPECT_EQ(cache.totalCost(), 3u);
    cache.removeAllObjects();
    EXPECT_EQ(cache.count(), 0u);
    EXPECT_EQ(cache.totalCost(), 0u);
}

TEST(Cache, AnEvictedObjectMayUseTheCacheFromItsDestructor) {
    Cache cache;
    cache.setCountLimit(1);
    auto reentrant = std::make_shared<Reentrant>();
    reentrant->cache = &cache;
    cache.setObject(std::move(reentrant), "first");
    cache.setObject(std::make_shared<Item>(), "other");
    EXPECT_EQ(cache.count(), 0u); // the evicted one's destructor removed "other"
}

TEST(Cache, ConcurrentUseKeepsTheLimits) {
    Cache cache;
    cache.setCountLimit(8);
    cache.setTotalCostLimit(100);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&cache, t] {
            for (int i = 0; i < 2000; ++i) {
                auto key = std::to_string((t * 7 + i) % 20);
                cache.setObject(std::make_shared<Item>(), key, uint64_t(i % 30));
                cache.objectForKey(std::to_string(i % 20));
                if (i % 50 == 0)
                    cache.removeAllObjects();
                if (i % 7 == 0)
                    cache.removeObjectForKey(key);
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_LE(cache.count(), 8u);
    EXPECT_LE(cache.totalCost(), 100u);
}
