#include "sdk/engine/BitrateAdaptation.h"

#include <algorithm>

namespace livecore {

BitrateAdaptation::BitrateAdaptation(int ceiling, BitrateSteps steps)
    : m_ceiling(ceiling)
    , m_floor(ceiling / 4)
    , m_step(std::max(1, ceiling / 8))
    , m_steps(steps)
    , m_bitrate(ceiling) {}

std::optional<int> BitrateAdaptation::observe(TimePoint now, size_t queued, size_t capacity) {
    const bool full = queued * 2 > capacity;
    const bool clear = queued * 4 < capacity;
    if (!full)
        m_fullSince.reset();
    if (!clear)
        m_clearSince.reset();
    // A road held up by a full queue delivers no frame to observe for a while: each whole interval
    // the queue stayed full (or clear) counts as a step, as if it had been observed then.
    auto wholeIntervals = [now](std::optional<TimePoint>& since, std::chrono::milliseconds interval) {
        if (!since)
            since = now;
        const auto count = interval.count() > 0 ? (now - *since) / interval : 1;
        *since += count * interval;
        return static_cast<int>(std::min<int64_t>(count, 64));
    };
    int next = m_bitrate;
    if (full)
        next = std::max(m_floor, m_bitrate - wholeIntervals(m_fullSince, m_steps.lowerAfter) * m_step);
    else if (clear)
        next = std::min(m_ceiling, m_bitrate + wholeIntervals(m_clearSince, m_steps.raiseAfter) * m_step);
    if (next == m_bitrate)
        return std::nullopt;
    m_bitrate = next;
    return next;
}

} // namespace livecore
