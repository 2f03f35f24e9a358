#include "platform/dispatch/WorkSpin.h"

#include <gtest/gtest.h>
#include <vector>

using platform::detail::WorkSpin;

namespace {

TEST(WorkSpin, LooksThatFindNothingShrinkTheWindowToASixteenthWithAWholeLookNowAndThenAndOneFindRestoresIt) {
    WorkSpin spin(1600);
    std::vector<size_t> windows;
    for (bool found : {false, false, false, false, false, false, false, false, false, true, false}) {
        spin.record(found);
        windows.push_back(spin.windowPauses());
    }
    EXPECT_EQ(windows, (std::vector<size_t>{800, 400, 200, 100, 100, 100, 100, 1600, 100, 1600, 800}));
}

TEST(WorkSpin, ALookStopsAtTheFirstFindOrChecksOnceMoreWhenItsWindowEnds) {
    struct Case {
        size_t window;
        int findAtCheck; // 0: never
        int checks;
        bool found;
    };
    for (const Case& c : {Case{100, 0, 101, false}, Case{100, 25, 25, true}, Case{100, 101, 101, true},
                          Case{5, 1, 1, true}}) {
        WorkSpin spin(c.window);
        int checks = 0;
        bool found = spin.look([&] { return ++checks == c.findAtCheck; });
        EXPECT_EQ(checks, c.checks) << c.window << " " << c.findAtCheck;
        EXPECT_EQ(found, c.found) << c.window << " " << c.findAtCheck;
    }
}

} // namespace
