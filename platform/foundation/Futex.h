#pragma once
// Sleeping on one 32-bit word until another thread changes it, and waking such sleepers: for waits
// whose whole state is that word, so neither side takes a lock (a waiter woken while its waker still
// held one would only block again on it).

#include "platform/foundation/Pause.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
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

// One release that one waiter sleeps for, with no lock on either side: the release is one store and,
// only if the waiter went to sleep, one wake (a waiter woken while its releaser still held a lock would
// at once block again on it). Bits marked before the release reach the waiter with it. The waiter may
// go as soon as it sees the release, before the releaser's wake: that wake then finds no one, or a
// later waiter on the same address, whose loop looks at its own word again.
class ReleaseWord {
public:
    static constexpr uint32_t markable = (1u << 30) - 1;

    void mark(uint32_t bits) { m_word.fetch_or(bits & markable, std::memory_order_relaxed); }
    void release() {
        if (m_word.fetch_or(released, std::memory_order_acq_rel) & sleeping)
            futexWakeOne(m_word);
    }
    // Returns the bits marked. A waiter whose answer is due within microseconds first looks for it
    // for up to `spinPauses` pauses, sparing its releaser the wake and itself the sleep.
    uint32_t await(size_t spinPauses = 0) {
        uint32_t seen = m_word.load(std::memory_order_acquire);
        for (; spinPauses > 0 && !(seen & released); --spinPauses) {
            detail::cpuRelax();
            seen = m_word.load(std::memory_order_acquire);
        }
        while (!(seen & released)) {
            if (!(seen & sleeping)) {
                // The releaser reads the mark with the same step that releases, so it cannot miss it.
                if (!m_word.compare_exchange_weak(seen, seen | sleeping, std::memory_order_acquire))
                    continue;
                seen |= sleeping;
            }
            // Returns at once when the word changed since it was read; spurious returns loop.
            futexWait(m_word, seen);
            seen = m_word.load(std::memory_order_acquire);
        }
        return seen & markable;
    }

private:
    static constexpr uint32_t released = 1u << 30;
    static constexpr uint32_t sleeping = 1u << 31;
    std::atomic<uint32_t> m_word{0};
};

} // namespace platform
