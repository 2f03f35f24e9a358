#include "platform/dispatch/DrainIntake.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <thread>
#include <vector>

using platform::detail::DrainIntake;

namespace {

struct Item {
    int poster{0};
    int sequence{0};
};

TEST(DrainIntake, TheTokenGoesToThePostThatFindsItIdleAndStaysUntilNothingIsLeft) {
    DrainIntake<int> intake;
    EXPECT_TRUE(intake.post(1));
    EXPECT_FALSE(intake.post(2));
    auto batch = intake.take();
    EXPECT_FALSE(intake.hasPosted());
    EXPECT_FALSE(intake.post(3)); // a drain is still owed: the owner has not released
    EXPECT_FALSE(intake.release());
    batch.append(intake.take());
    std::vector<int> taken;
    while (!batch.empty())
        taken.push_back(batch.pop());
    EXPECT_EQ(taken, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(intake.release());
    EXPECT_TRUE(intake.post(4));
}

TEST(DrainIntake, WhatIsNeverTakenIsReleasedWithTheIntake) {
    auto witness = std::make_shared<int>(0);
    {
        DrainIntake<std::shared_ptr<int>> intake;
        intake.post(witness);
        auto batch = intake.take();
        intake.post(witness);
        EXPECT_EQ(witness.use_count(), 3);
    }
    EXPECT_EQ(witness.use_count(), 1);
}

// Several posters race one drainer that, like a queue, drains only while it holds the token and hands
// the token on to whichever post finds the intake idle again.
struct RaceCase {
    int posters;
    int itemsEach;
};

class DrainIntakeRace : public testing::TestWithParam<RaceCase> {};

TEST_P(DrainIntakeRace, EveryItemIsDrainedOnceInEachPostersOrderByOneOwnerAtATime) {
    const auto [posters, itemsEach] = GetParam();
    DrainIntake<Item> intake;
    std::atomic<int> owners{0};
    std::atomic<bool> sharedToken{false};
    std::vector<int> nextExpected(posters, 0);
    std::atomic<int> drained{0};
    bool outOfOrder = false;

    // The owner drains until it can release; on a failed release it still owns and goes on.
    auto drainAsOwner = [&] {
        if (++owners > 1)
            sharedToken = true;
        do {
            auto batch = intake.take();
            while (!batch.empty()) {
                Item item = batch.pop();
                outOfOrder |= item.sequence != nextExpected[item.poster];
                nextExpected[item.poster] = item.sequence + 1;
                ++drained;
            }
            --owners;
            if (intake.release())
                return;
            if (++owners > 1)
                sharedToken = true;
        } while (true);
    };

    std::vector<std::thread> threads;
    for (int poster = 0; poster < posters; ++poster) {
        threads.emplace_back([&, poster] {
            for (int i = 0; i < itemsEach; ++i) {
                if (intake.post(Item{poster, i}))
                    drainAsOwner();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(drained.load(), posters * itemsEach);
    EXPECT_FALSE(outOfOrder);
    EXPECT_FALSE(sharedToken.load());
}

INSTANTIATE_TEST_SUITE_P(Posters, DrainIntakeRace,
                         testing::Values(RaceCase{1, 20000}, RaceCase{4, 5000}, RaceCase{16, 1000}));

} // namespace

namespace {

struct SpareNode {
    int value{0};
    SpareNode* next{nullptr};
};

std::set<SpareNode*> obtainSpares(size_t count) {
    std::set<SpareNode*> taken;
    for (size_t i = 0; i < count; ++i)
        taken.insert(platform::detail::NodeRecycler<SpareNode>::obtain().release());
    return taken;
}

// Nodes finished on another thread: a full run is handed over at once, a part run when the thread
// ends; either way the poster gets exactly those nodes back before it makes new ones.
TEST(NodeRecycler, NodesFinishedElsewhereComeBackToAPosterInFullRunsOrWhenTheirThreadEnds) {
    using Recycler = platform::detail::NodeRecycler<SpareNode>;
    for (size_t finished : {size_t(64), size_t(10)}) {
        SCOPED_TRACE(finished);
        std::set<SpareNode*> given;
        std::thread([&] {
            for (size_t i = 0; i < finished; ++i) {
                auto node = std::make_unique<SpareNode>();
                given.insert(node.get());
                Recycler::give(std::move(node));
            }
        }).join();
        EXPECT_EQ(obtainSpares(finished), given);
        auto fresh = Recycler::obtain();
        EXPECT_EQ(given.count(fresh.get()), 0u);
        for (SpareNode* node : given)
            Recycler::give(std::unique_ptr<SpareNode>(node));
        // Finished here: reused here first.
        EXPECT_EQ(obtainSpares(finished), given);
        for (SpareNode* node : given)
            delete node;
    }
}

} // namespace
