#pragma once
// How a worker without work looks for more before it sleeps. A look is a count of pause instructions
// (no clock read), cut into batches with the CPU offered to other threads between them: on a loaded
// machine the thread that will post the next job may be waiting for this very CPU, and a look that
// held it would only delay what it waits for. A worker whose last looks all found nothing looks for
// a shorter while, down to a sixteenth of the window; one look that finds work restores it.
// Not thread-safe: the pool keeps one, updated under its lock by the one worker looking at a time.

#include <algorithm>
#include <cstddef>
#include <thread>

namespace platform::detail {

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

class WorkSpin {
public:
    WorkSpin(size_t windowPauses, size_t batchPauses)
        : m_window(std::max<size_t>(1, windowPauses))
        , m_batch(std::max<size_t>(1, batchPauses)) {}

    // Pauses in the next look.
    size_t windowPauses() const { return std::max<size_t>(1, m_window >> std::min(m_misses, maxShrink)); }

    // Looks until found() holds or the window ends; offers the CPU through yield() after each batch.
    template <class Found, class Yield> bool look(Found found, Yield yield) const {
        const size_t window = windowPauses();
        for (size_t i = 1; i <= window; ++i) {
            if (found())
                return true;
            cpuRelax();
            if (i % m_batch == 0)
                yield();
        }
        return found();
    }
    template <class Found> bool look(Found found) const {
        return look(found, [] { std::this_thread::yield(); });
    }

    void record(bool found) { m_misses = found ? 0 : std::min(m_misses + 1, maxShrink); }

private:
    static constexpr size_t maxShrink = 4;

    size_t m_window;
    size_t m_batch;
    size_t m_misses{0};
};

} // namespace platform::detail
