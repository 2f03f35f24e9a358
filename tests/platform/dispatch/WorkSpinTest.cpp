#include "platform/dispatch/WorkSpin.h"

#include <gtest/gtest.h>
#include <vector>

using platform::detail::WorkSpin;

namespace {

TEST(WorkSpin, LooksThatFindNothingShrinkTheWindowToASixteenthAndOneFindRestoresIt) {
    WorkSpin spin(1600, 100);
    std::vector<size_t> windows;
    for (bool found : {false, false, false, false, false, true, false}) {
        spin.record(found);
        windows.push_back(spin.windowPauses());
    }
    EXPECT_EQ(windows, (std::vector<size_t>{800, 400, 200, 100, 100, 1600, 800}));
}

TEST(WorkSpin, ALookOffersTheCpuAfterEveryBatchAndStopsAtTheFirstFind) {
    struct Case {
        size_t window;
        size_t batch;
        int findAtCheck; // 0: never
        int checks;
        int yields;
        bool found;
    };
    for (const Case& c : {
             Case{100, 10, 0, 101, 10, false},
             Case{100, 10, 25, 25, 2, true},
             Case{100, 1000, 0, 101, 0, false},
             Case{5, 1, 1, 1, 0, true},
         }) {
        WorkSpin spin(c.window, c.batch);
        int checks = 0;
        int yields = 0;
        bool found = spin.look([&] { return ++checks == c.findAtCheck; }, [&] { ++yields; });
        EXPECT_EQ(checks, c.checks) << c.window << "/" << c.batch;
        EXPECT_EQ(yields, c.yields) << c.window << "/" << c.batch;
        EXPECT_EQ(found, c.found) << c.window << "/" << c.batch;
    }
}

} // namespace
