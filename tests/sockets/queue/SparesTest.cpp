// What a socket keeps for its next requests: spare slots, the record recycler and its allocator.
#include "sockets/queue/QueueSocketSpares.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using sockets::RecordAllocator;
using sockets::RecordRecycler;

namespace {

int g_disposed = 0;
void countDisposal(int* spare) {
    ++g_disposed;
    delete spare;
}

} // namespace

TEST(SpareSlots, KeepsUpToItsSlotsHandsEachSpareOutOnceAndDisposesOfTheRestAtTheEnd) {
    g_disposed = 0;
    std::vector<int*> kept;
    {
        sockets::SpareSlots<int, 3, &countDisposal> slots;
        for (int i = 0; i < 4; ++i) {
            auto* spare = new int(i);
            if (slots.keep(spare))
                kept.push_back(spare);
            else
                delete spare; // full: the caller's to dispose of
        }
        ASSERT_EQ(kept.size(), 3u);
        int* taken = slots.take();
        ASSERT_NE(taken, nullptr);
        EXPECT_NE(std::find(kept.begin(), kept.end(), taken), kept.end());
        int* second = slots.take();
        EXPECT_NE(second, taken);
        delete taken;
        delete second;
    }
    EXPECT_EQ(g_disposed, 1); // the one still kept
}

TEST(RecordRecycler, ABlockGivenBackIsTakenAgainAndALargerRequestIsNeverKept) {
    RecordRecycler recycler;
    void* block = recycler.take(64);
    recycler.give(block, 64);
    EXPECT_EQ(recycler.take(RecordRecycler::kRecordSize), block);
    recycler.give(block, RecordRecycler::kRecordSize);

    void* large = recycler.take(RecordRecycler::kRecordSize + 1);
    std::memset(large, 0, RecordRecycler::kRecordSize + 1); // the whole size is usable
    recycler.give(large, RecordRecycler::kRecordSize + 1);
    EXPECT_EQ(recycler.take(8), block); // the kept one, not the large one
    recycler.give(block, 8);
}

TEST(RecordRecycler, RecordsOutliveTheSocketsHoldOnTheRecyclerAndGoBackToIt) {
    struct Record {
        std::string text;
    };
    auto recycler = std::make_shared<RecordRecycler>();
    std::weak_ptr<RecordRecycler> watched = recycler;
    auto record = std::allocate_shared<Record>(RecordAllocator<Record>(recycler), "still here");
    recycler.reset();
    ASSERT_FALSE(watched.expired());
    EXPECT_EQ(record->text, "still here");
    record.reset(); // its block goes back to the recycler, which then ends
    EXPECT_TRUE(watched.expired());
}

// Takers on many threads each stamp the block they hold and check the stamp before giving it back: a
// block handed to two holders at once shows up as a foreign stamp.
TEST(RecordRecycler, NoBlockIsHeldByTwoThreadsAtOnce) {
    RecordRecycler recycler;
    constexpr int kThreads = 6;
    constexpr int kRounds = 20000;
    std::vector<int> foreign(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                size_t size = 16 + static_cast<size_t>((round * 7 + t) % 200);
                auto* block = static_cast<unsigned char*>(recycler.take(size));
                std::memset(block, t + 1, size);
                for (size_t i = 0; i < size; ++i)
                    foreign[t] += block[i] != t + 1;
                recycler.give(block, size);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(foreign, std::vector<int>(kThreads, 0));
}
