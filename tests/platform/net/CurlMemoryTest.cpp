// Curl's memory: a large block freed comes back to the next allocation of its size class and to no
// other size, and one the allocator made is safe to free there; calloc zeroes a kept block; what is
// kept is bounded; and frees and allocations from many threads at once lose no block and hand none
// out twice.

#include "platform/net/CurlMemory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace platform::detail;

TEST(CurlMemory, ALargeBlockFreedComesBackToTheNextAllocationOfItsClass) {
    // Either: a block the allocator made is kept only if it happens to start a page; kept or not, it
    // is safe to free here and holds whatever is later asked of its class.
    enum class Reuse { Yes, No, Either };
    struct Case {
        size_t freed;
        bool byTheAllocator; // made by malloc itself, not through curl's functions
        size_t asked;
        Reuse reuse;
    };
    const Case cases[] = {
        {16385, false, 16385, Reuse::Yes}, // curl's receive buffer, transfer after transfer
        {16385, false, 17000, Reuse::Yes}, // the same 1 KiB class
        {16385, false, 16000, Reuse::No},  {65536, false, 65536, Reuse::Yes},
        {8192, false, 8192, Reuse::Yes},   {12345, true, 12288, Reuse::Either},
        {4096, false, 4096, Reuse::No}, // small blocks are the allocator's own business
        {70000, false, 70000, Reuse::No},
    };
    for (const Case& c : cases) {
        void* block = c.byTheAllocator ? std::malloc(c.freed) : curlMalloc(c.freed);
        std::memset(block, 0x5a, c.freed);
        auto before = curlMemoryCounts();
        curlFree(block);
        void* next = curlMalloc(c.asked);
        uint64_t reused = curlMemoryCounts().reused - before.reused;
        if (c.reuse != Reuse::Either) {
            EXPECT_EQ(reused, c.reuse == Reuse::Yes ? 1u : 0u) << c.freed << " then " << c.asked;
        }
        if (reused) {
            EXPECT_EQ(next, block) << c.freed << " then " << c.asked;
        }
        std::memset(next, 0xa5, c.asked); // all of it is the caller's
        curlFree(next);
    }
}

TEST(CurlMemory, CallocZeroesAKeptBlockAndRefusesASizeThatOverflows) {
    void* dirty = curlMalloc(20000);
    std::memset(dirty, 0xff, 20000);
    curlFree(dirty);
    auto before = curlMemoryCounts();
    auto* zeroed = static_cast<unsigned char*>(curlCalloc(4, 5000));
    ASSERT_NE(zeroed, nullptr);
    EXPECT_EQ(curlMemoryCounts().reused - before.reused, 1u);
    EXPECT_EQ(std::vector<unsigned char>(zeroed, zeroed + 20000), std::vector<unsigned char>(20000, 0));
    curlFree(zeroed);
    EXPECT_EQ(curlCalloc(SIZE_MAX / 2, 3), nullptr);
}

TEST(CurlMemory, WhatIsKeptIsBounded) {
    constexpr int kBlocks = 400; // more receive buffers than the bound holds
    std::vector<void*> blocks;
    for (int i = 0; i < kBlocks; ++i)
        blocks.push_back(curlMalloc(16385));
    auto before = curlMemoryCounts();
    for (void* block : blocks)
        curlFree(block);
    auto freed = curlMemoryCounts();
    EXPECT_LE(freed.keptBytes, curlKeptBytesLimit);
    EXPECT_GT(freed.kept - before.kept, 0u);
    EXPECT_LT(freed.kept - before.kept, uint64_t(kBlocks)); // the rest went back to the allocator
    blocks.clear();
    for (int i = 0; i < kBlocks; ++i)
        blocks.push_back(curlMalloc(16385));
    EXPECT_EQ(curlMemoryCounts().reused - freed.reused, freed.kept - before.kept);
    for (void* block : blocks)
        curlFree(block);
}

TEST(CurlMemory, ManyThreadsAtOnceLoseNoBlockAndHandNoneOutTwice) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::mutex mutex;
    std::set<void*> live;
    bool twice = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                size_t size = 8192 + size_t((round * 7 + t * 3) % 5) * 1024;
                void* block = round % 3 == 0 ? curlCalloc(1, size) : curlMalloc(size);
                {
                    std::lock_guard lock(mutex);
                    twice |= !live.insert(block).second;
                }
                std::memset(block, t, size);
                {
                    std::lock_guard lock(mutex);
                    live.erase(block);
                }
                curlFree(block);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_FALSE(twice);
    EXPECT_GT(curlMemoryCounts().reused, 0u);
}
