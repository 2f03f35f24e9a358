#pragma once
// Sleeping on one 32-bit word until another thread changes it, and waking such sleepers: for waits
// whose whole state is that word, so neither side takes a lock (a waiter woken while its waker still
// held one would only block again on it).

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
              std::atomic<uint32_t>::is_always_lock_free);

// Sleeps while the word holds `expected`: returns at once when it no longer does, and may return for
// nothing, so the caller looks at the word again.
inline void futexWait(std::atomic<uint32_t>& word, uint32_t expected) {
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr,
              0);
}

// The same for at most `timeout`; false when it passed.
inline bool futexWait(std::atomic<uint32_t>& word, uint32_t expected, std::chrono::nanoseconds timeout) {
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    timespec relative{time_t(seconds.count()), long((timeout - seconds).count())};
    long result = ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected,
                            &relative, nullptr, 0);
    return !(result == -1 && errno == ETIMEDOUT);
}

// Wakes one thread sleeping on the word, if any.
inline void futexWakeOne(std::atomic<uint32_t>& word) {
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

} // namespace platform
