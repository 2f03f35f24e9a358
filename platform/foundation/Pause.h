#pragma once
// Waiting a little without a system call or a clock read: a count of the processor's pause
// instruction, with the count for a span of time measured against the clock once, by the caller that
// sets its window up.

#include <chrono>
#include <cstddef>

namespace platform::detail {

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// About how many cpuRelax() calls last `window` on this machine (at least 1). Takes a fraction of a
// millisecond.
size_t pausesIn(std::chrono::nanoseconds window);

// Whether the machine has more threads runnable than cores, as the dispatch pool's watchdog last found
// (false until it has looked): a spin then holds a core some runnable thread needs, so a wait that
// would spin briefly for its answer sleeps at once instead.
bool coresScarce();
void setCoresScarce(bool scarce);

} // namespace platform::detail
