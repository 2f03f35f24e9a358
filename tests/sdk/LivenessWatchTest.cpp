// When the publishing session pings its ingest and when it declares the ingest gone, on a made-up
// timeline (10-second pings, a 30-second silence limit).
#include "sdk/librtmp/LivenessWatch.h"

#include <gtest/gtest.h>

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
