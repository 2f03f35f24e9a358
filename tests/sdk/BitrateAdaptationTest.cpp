// How the video bitrate follows the output's queue (32 places, ceiling 800 kbit/s: steps of 100 kbit/s
// down to 200 kbit/s), on a made-up timeline with the product's intervals (1 s down, 5 s up).
#include "sdk/engine/BitrateAdaptation.h"

#include <gtest/gtest.h>
#include <vector>

using livecore::BitrateAdaptation;
using namespace std::chrono_literals;

namespace {

const BitrateAdaptation::TimePoint start{500s};

struct Reading {
    std::chrono::milliseconds at;
    size_t queued;
    int expected; // the bitrate after the reading
};

} // namespace

TEST(BitrateAdaptation, StepsDownWhileTheQueueStaysFullAndBackUpOnceItStaysClear) {
    struct Case {
        const char* name;
        std::vector<Reading> readings;
    };
    const Case cases[] = {
        {"half full is not over half",
         {{0ms, 16, 800000}, {5s, 16, 800000}, {10s, 8, 800000}, {20s, 8, 800000}}},
        {"over half for a second lowers once per second",
         {{0ms, 17, 800000}, {999ms, 32, 800000}, {1s, 32, 700000}, {1500ms, 32, 700000}, {2s, 20, 600000}}},
        {"a queue held full between frames lowers a step for each second it stayed",
         {{0ms, 32, 800000}, {3500ms, 32, 500000}, {3999ms, 32, 500000}, {4s, 32, 400000}}},
        {"a dip below half starts the second over",
         {{0ms, 20, 800000}, {900ms, 10, 800000}, {1s, 20, 800000}, {1900ms, 20, 800000}, {2s, 20, 700000}}},
        {"never below a quarter of the ceiling",
         {{0s, 30, 800000},
          {1s, 30, 700000},
          {2s, 30, 600000},
          {3s, 30, 500000},
          {4s, 30, 400000},
          {5s, 30, 300000},
          {6s, 30, 200000},
          {7s, 30, 200000},
          {60s, 30, 200000}}},
        {"clear for five seconds raises by the same step, up to the ceiling",
         {{0s, 30, 800000},
          {1s, 30, 700000},
          {2s, 30, 600000},
          {3s, 7, 600000},
          {7999ms, 0, 600000},
          {8s, 0, 700000},
          {12999ms, 3, 700000},
          {13s, 3, 800000},
          {30s, 0, 800000}}},
        {"a quarter full is not clear",
         {{0s, 30, 800000},
          {1s, 30, 700000},
          {2s, 8, 700000},
          {20s, 8, 700000},
          {21s, 7, 700000},
          {26s, 7, 800000}}},
    };
    for (const auto& [name, readings] : cases) {
        SCOPED_TRACE(name);
        BitrateAdaptation adaptation(800000, {});
        int previous = adaptation.bitrate();
        for (const auto& [at, queued, expected] : readings) {
            SCOPED_TRACE(testing::Message() << "at " << at.count() << " ms, " << queued << " queued");
            auto changed = adaptation.observe(start + at, queued, 32);
            EXPECT_EQ(adaptation.bitrate(), expected);
            EXPECT_EQ(changed.has_value(), expected != previous);
            previous = adaptation.bitrate();
        }
    }
}
