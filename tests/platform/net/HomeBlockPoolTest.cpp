// Blocks of the home block pool: one let go of on any thread comes back to the home's next
// allocation of its size and to no other thread's, blocks too large to keep bypass the pool, what
// the home keeps is bounded, and frees from many threads at once while the home allocates lose no
// block and hand none out twice.

#include "platform/net/HomeBlockPool.h"

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using platform::detail::HomeBlockPool;

namespace {

void letGoOnAnotherThread(HomeBlockPool& pool, void* block, size_t bytes) {
    std::thread([&] { pool.deallocate(block, bytes); }).join();
}

} // namespace

TEST(HomeBlockPool, ABlockLetGoOfElsewhereComesBackToTheHomesNextAllocationOfItsSize) {
    struct Case {
        size_t freed;
        size_t asked; // the same size class as `freed`, or not
        bool reused;
    };
    const Case cases[] = {
        {1, 100, true},      {128, 128, true},      {129, 256, true},      {1040, 1100, true},
        {4096, 4000, true},  {5000, 8192, true},    {65536, 40000, true},  {128, 129, false},
        {1040, 1200, false}, {65537, 65537, false}, {70000, 70000, false},
    };
    for (const Case& c : cases) {
        HomeBlockPool pool;
        pool.makeHome();
        void* block = pool.allocate(c.freed);
        std::memset(block, 0x5a, c.freed); // the whole size asked for is the caller's
        letGoOnAnotherThread(pool, block, c.freed);
        void* next = pool.allocate(c.asked);
        if (c.reused) { // the allocator may hand back the same address of its own accord
            EXPECT_EQ(next, block) << c.freed << " then " << c.asked;
        }
        EXPECT_EQ(pool.blocksReused(), c.reused ? 1u : 0u) << c.freed << " then " << c.asked;
        std::memset(next, 0xa5, c.asked);
        pool.deallocate(next, c.asked);
    }
}

TEST(HomeBlockPool, OnlyTheHomeReusesBlocks) {
    HomeBlockPool pool;
    std::thread([&] { pool.makeHome(); }).join(); // a home that is not this thread
    void* block = pool.allocate(512);
    pool.deallocate(block, 512);
    void* other = pool.allocate(512);
    EXPECT_EQ(pool.blocksReused(), 0u);
    pool.deallocate(other, 512);
}

TEST(HomeBlockPool, TheHomeKeepsABoundedNumberOfBlocksOfASize) {
    HomeBlockPool pool;
    pool.makeHome();
    std::vector<void*> blocks;
    for (int i = 0; i < 1000; ++i)
        blocks.push_back(pool.allocate(256));
    for (void* block : blocks)
        pool.deallocate(block, 256);
    blocks.clear();
    for (int i = 0; i < 1000; ++i)
        blocks.push_back(pool.allocate(256));
    EXPECT_GT(pool.blocksReused(), 0u);
    EXPECT_LT(pool.blocksReused(), 1000u); // the rest went back to the allocator
    for (void* block : blocks)
        pool.deallocate(block, 256);
}

TEST(HomeBlockPool, FreesFromManyThreadsWhileTheHomeAllocatesLoseNoBlockAndHandNoneOutTwice) {
    constexpr int kThreads = 4;
    constexpr int kFreesEach = 2000;
    constexpr size_t kSize = 300;
    HomeBlockPool pool;
    pool.makeHome();
    std::mutex mutex;
    std::set<void*> live;                             // handed out and not yet let go of
    std::vector<std::vector<void*>> handed(kThreads); // what each freer is to let go of
    std::vector<std::thread> freers;
    for (int t = 0; t < kThreads; ++t)
        freers.emplace_back([&, t] {
            for (int freed = 0; freed < kFreesEach;) {
                void* block = nullptr;
                {
                    std::lock_guard lock(mutex);
                    if (handed[t].empty())
                        continue;
                    block = handed[t].back();
                    handed[t].pop_back();
                    live.erase(block);
                }
                std::memset(block, t, kSize);
                pool.deallocate(block, kSize);
                ++freed;
            }
        });
    size_t duplicates = 0;
    for (size_t i = 0; i < size_t(kThreads) * kFreesEach; ++i) {
        void* block = pool.allocate(kSize);
        std::memset(block, 0xff, kSize);
        std::lock_guard lock(mutex);
        duplicates += live.insert(block).second ? 0 : 1;
        handed[i % kThreads].push_back(block);
    }
    for (auto& freer : freers)
        freer.join();
    EXPECT_EQ(duplicates, 0u);
    EXPECT_TRUE(live.empty());
}
