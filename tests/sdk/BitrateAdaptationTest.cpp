// How the video bitrate follows the output's queue (ceiling 800 kbit/s: steps of 100 kbit/s down to
// 200 kbit/s), on a made-up timeline with the product's intervals (1 s down, 5 s up). Each reading
// gives since when the queue has been over half full or under a quarter full, as the queue records it.
#include "sdk/engine/BitrateAdaptation.h"

#include <gtest/gtest.h>
#include <optional>
#include <vector>

using livecore::BitrateAdaptation;
using namespace std::chrono_literals;

namespace {

const BitrateAdaptation::TimePoint start{500s};
using Since = std::optional<std::chrono::milliseconds>;
const Since never;

struct Reading {
    std::chrono::milliseconds at;
    Since fullSince;
    Since clearSince;
    int expected; // the bitrate after the reading
};

} // namespace

TEST(BitrateAdaptation, StepsDownWhileTheQueueStaysFullAndBackUpOnceItStaysClear) {
    struct Case {
        const char* name;
        std::vector<Reading> readings;
    };
    const Case cases[] = {
        {"neither full nor clear", {{0ms, never, never, 800000}, {100s, never, never, 800000}}},
        {"full for a second lowers once per second",
         {{999ms, 0ms, never, 800000},
          {1s, 0ms, never, 700000},
          {1500ms, 0ms, never, 700000},
          {2s, 0ms, never, 600000}}},
        {"held full between frames: a step for each second it stayed",
         {{3500ms, 0ms, never, 500000}, {3999ms, 0ms, never, 500000}, {4s, 0ms, never, 400000}}},
        {"a break starts the second over",
         {{900ms, 0ms, never, 800000},
          {1s, 950ms, never, 800000},
          {1949ms, 950ms, never, 800000},
          {1950ms, 950ms, never, 700000}}},
        {"never below a quarter of the ceiling", {{60s, 0ms, never, 200000}, {61s, 0ms, never, 200000}}},
        {"clear for five seconds raises by the same step, up to the ceiling",
         {{2s, 0ms, never, 600000},
          {7999ms, never, 3s, 600000},
          {8s, never, 3s, 700000},
          {13s, never, 3s, 800000},
          {30s, never, 3s, 800000}}},
        {"the time full counts only once", {{1s, 0ms, never, 700000}, {1s, 0ms, never, 700000}}},
    };
    for (const auto& [name, readings] : cases) {
        SCOPED_TRACE(name);
        BitrateAdaptation adaptation(800000, {});
        int previous = adaptation.bitrate();
        for (const auto& [at, fullSince, clearSince, expected] : readings) {
            SCOPED_TRACE(testing::Message() << "at " << at.count() << " ms");
            auto since = [](Since offset) { return offset ? std::optional(start + *offset) : std::nullopt; };
            auto changed = adaptation.observe(start + at, since(fullSince), since(clearSince));
            EXPECT_EQ(adaptation.bitrate(), expected);
            EXPECT_EQ(changed.has_value(), expected != previous);
            previous = adaptation.bitrate();
        }
    }
}
