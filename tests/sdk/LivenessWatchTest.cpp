// When the publishing session pings its ingest and when it declares the ingest gone, on a made-up
// timeline (10-second pings, a 30-second silence limit).
#include "sdk/librtmp/LivenessWatch.h"

#include <gtest/gtest.h>
#include <optional>
#include <vector>

using livecore::rtmp::Liveness;
using livecore::rtmp::LivenessWatch;
using namespace std::chrono_literals;

namespace {

const LivenessWatch::TimePoint start{1000s};
constexpr Liveness defaults{};

} // namespace

TEST(LivenessWatch, PingsFallDueEveryIntervalFromTheLastOneSent) {
    LivenessWatch watch(defaults, start);
    EXPECT_EQ(watch.nextDue(), start + 10s);
    EXPECT_FALSE(watch.takeDuePing(start + 9999ms));
    EXPECT_TRUE(watch.takeDuePing(start + 10s));
    EXPECT_FALSE(watch.takeDuePing(start + 10s));
    EXPECT_TRUE(watch.takeDuePing(start + 23s)); // a late wake-up moves the schedule along
    EXPECT_EQ(watch.nextDue(), start + 33s);
}

TEST(LivenessWatch, SilenceCountsOnlyOnceTheIngestHasAnsweredAPing) {
    struct Heard {
        std::chrono::seconds at;
        bool pingAnswer;
    };
    struct Case {
        const char* name;
        std::vector<Heard> heard;
        std::chrono::milliseconds lastQuiet; // still allowed
        bool failsAfter;                     // one millisecond later
    };
    const Case cases[] = {
        {"nothing ever heard", {}, 3600s, false},
        {"other bytes, never a ping answer", {{5s, false}, {12s, false}}, 3600s, false},
        {"a ping answered", {{10s, true}}, 39999ms, true},
        {"any bytes after the answer count", {{10s, true}, {35s, false}}, 64999ms, true},
        {"an answer after other bytes", {{5s, false}, {20s, true}}, 49999ms, true},
    };
    for (const auto& [name, heard, lastQuiet, failsAfter] : cases) {
        SCOPED_TRACE(name);
        LivenessWatch watch(defaults, start);
        for (const auto& [at, pingAnswer] : heard)
            watch.heard(start + at, pingAnswer);
        EXPECT_FALSE(watch.isSilentTooLong(start + lastQuiet));
        EXPECT_EQ(watch.isSilentTooLong(start + lastQuiet + 1ms), failsAfter);
    }
}

TEST(LivenessWatch, TheLoopWakesForTheEndOfTheSilenceWhenItComesBeforeTheNextPing) {
    Liveness liveness{10s, 4s};
    LivenessWatch watch(liveness, start);
    watch.heard(start + 1s, true);
    EXPECT_EQ(watch.nextDue(), start + 5s);
    watch.heard(start + 8s, false);
    EXPECT_EQ(watch.nextDue(), start + 10s);
}

// The stall rule judges what the ingest takes from the start, answered pings or not. Readings are
// (time, unacknowledged, acknowledged in all, window offered).
TEST(LivenessWatch, BytesOfferedToAnIngestThatTakesNoneForTheLimitAreAStall) {
    struct Reading {
        std::chrono::milliseconds at;
        uint64_t unacknowledged;
        uint64_t acknowledged;
        uint64_t window;
    };
    struct Case {
        const char* name;
        std::vector<Reading> readings;
        std::optional<std::chrono::milliseconds> deadline; // from the start, after the readings
    };
    const Case cases[] = {
        {"an ingest keeping up", {{1s, 0, 0, 65536}, {40s, 0, 9000, 65536}}, std::nullopt},
        {"a stopped ingest acknowledges while its window shrinks",
         {{1s, 0, 1000, 65536}, {2s, 0, 5000, 61440}, {3s, 0, 9000, 57344}},
         32s},
        {"a window that opens again starts the wait over",
         {{1s, 0, 1000, 65536}, {2s, 0, 5000, 61440}, {20s, 400, 9000, 63488}},
         50s},
        {"bytes not yet acknowledged wait",
         {{1s, 0, 1000, 65536}, {5s, 0, 50000, 65536}, {6s, 300, 50000, 65536}},
         36s},
        {"without a window, acknowledgements alone count",
         {{1s, 500, 0, 0}, {20s, 900, 100, 0}, {45s, 900, 100, 0}},
         50s},
        {"without a window, an emptied socket ends the wait",
         {{1s, 500, 0, 0}, {20s, 0, 500, 0}},
         std::nullopt},
    };
    for (const auto& [name, readings, deadline] : cases) {
        SCOPED_TRACE(name);
        LivenessWatch watch(defaults, start);
        for (const auto& [at, unacknowledged, acknowledged, window] : readings)
            watch.sending(start + at, {unacknowledged, acknowledged, window});
        ASSERT_EQ(watch.stallDeadline().has_value(), deadline.has_value());
        if (!deadline) {
            EXPECT_FALSE(watch.isStalled(start + 3600s));
            continue;
        }
        EXPECT_EQ(*watch.stallDeadline(), start + *deadline);
        EXPECT_FALSE(watch.isStalled(start + *deadline - 1ms));
        EXPECT_TRUE(watch.isStalled(start + *deadline));
        EXPECT_EQ(watch.nextDue(), std::min(start + 10s, start + *deadline));
    }
}
