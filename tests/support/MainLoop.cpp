#include "tests/support/MainLoop.h"

#include "platform/runloop/RunLoop.h"

#include <gtest/gtest.h>

namespace liveapp::test {

namespace {

// Each run is short so the predicate is looked at again even when what made it true was done on
// another thread without waking the main loop.
constexpr platform::Duration slice = std::chrono::milliseconds(20);

std::shared_ptr<platform::RunLoop> mainLoop() {
    auto loop = platform::RunLoop::main();
    if (!loop->isCurrent()) {
        ADD_FAILURE() << "the main run loop can only be pumped from the main thread";
        return nullptr;
    }
    return loop;
}

} // namespace

bool pumpMainLoopUntil(const std::function<bool()>& predicate, platform::Duration realDeadline) {
    auto loop = mainLoop();
    if (!loop)
        return predicate();
    auto end = std::chrono::steady_clock::now() + realDeadline;
    while (!predicate()) {
        auto left = end - std::chrono::steady_clock::now();
        if (left <= platform::Duration::zero())
            return predicate();
        loop->runModeForRealTime(platform::RunLoop::defaultMode, std::min<platform::Duration>(left, slice),
                                 true);
    }
    return true;
}

void pumpMainLoopFor(platform::Duration realTime) {
    auto loop = mainLoop();
    if (!loop)
        return;
    auto end = std::chrono::steady_clock::now() + realTime;
    for (;;) {
        auto left = end - std::chrono::steady_clock::now();
        if (left <= platform::Duration::zero())
            return;
        loop->runModeForRealTime(platform::RunLoop::defaultMode, left);
    }
}

void pumpMainLoopOnce() {
    if (auto loop = mainLoop())
        loop->runModeForRealTime(platform::RunLoop::defaultMode, platform::Duration::zero());
}

} // namespace liveapp::test
