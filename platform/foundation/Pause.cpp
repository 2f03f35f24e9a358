#include "platform/foundation/Pause.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace platform::detail {

namespace {
std::atomic<bool> g_coresScarce{false};
} // namespace

bool coresScarce() {
    return g_coresScarce.load(std::memory_order_relaxed);
}

void setCoresScarce(bool scarce) {
    g_coresScarce.store(scarce, std::memory_order_relaxed);
}

// A pause lasts from a few to over a hundred cycles depending on the processor, so the window's
// count is timed once; the fastest of a few tries leaves out a preempted one.
size_t pausesIn(std::chrono::nanoseconds window) {
    constexpr int64_t probe = 2000;
    auto fastest = std::chrono::steady_clock::duration::max();
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto start = std::chrono::steady_clock::now();
        for (int64_t i = 0; i < probe; ++i)
            cpuRelax();
        fastest = std::min(fastest, std::chrono::steady_clock::now() - start);
    }
    auto perProbe =
        std::max<int64_t>(1, std::chrono::duration_cast<std::chrono::nanoseconds>(fastest).count());
    return size_t(std::clamp<int64_t>(window.count() * probe / perProbe, 1, 10'000'000));
}

} // namespace platform::detail
