#pragma once
// How a worker without work looks for more before it sleeps. A look is a count of pause instructions:
// no clock read and no system call. (Offering the CPU to other threads between batches of pauses was
// tried: on a loaded machine each offer hands the CPU to some other process's thread, and the look
// then costs a context switch instead of saving one.) A worker whose last looks all found nothing
// looks for a shorter while, down to a sixteenth of the window; one look that finds work restores it.
// Every eighth look of a worker so shortened is a whole one: work that comes a little later than a
// short look (a caller slowed by a loaded machine) would otherwise keep every look short for good.
// Not thread-safe: the pool keeps one, updated under its lock by the one worker looking at a time.

#include "platform/foundation/Pause.h"

#include <algorithm>
#include <cstddef>

namespace platform::detail {

class WorkSpin {
public:
    explicit WorkSpin(size_t windowPauses)
        : m_window(std::max<size_t>(1, windowPauses)) {}

    // Pauses in the next look.
    size_t windowPauses() const {
        size_t shrink = m_misses == maxShrink && m_looks % probeEvery == 0 ? 0 : m_misses;
        return std::max<size_t>(1, m_window >> shrink);
    }

    // Looks until found() holds or the window ends.
    template <class Found> bool look(Found found) const {
        for (size_t i = windowPauses(); i > 0; --i) {
            if (found())
                return true;
            cpuRelax();
        }
        return found();
    }

    void record(bool found) {
        m_misses = found ? 0 : std::min(m_misses + 1, maxShrink);
        ++m_looks;
    }

private:
    static constexpr size_t maxShrink = 4;
    static constexpr size_t probeEvery = 8;

    size_t m_window;
    size_t m_misses{0};
    size_t m_looks{0};
};

} // namespace platform::detail
