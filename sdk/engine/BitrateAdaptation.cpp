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
    int next = m_bitrate;
    if (full) {
        if (!m_fullSince)
            m_fullSince = now;
        if (now - *m_fullSince >= m_steps.lowerAfter) {
            next = std::max(m_floor, m_bitrate - m_step);
            m_fullSince = now;
        }
    } else if (clear) {
        if (!m_clearSince)
            m_clearSince = now;
        if (now - *m_clearSince >= m_steps.raiseAfter) {
            next = std::min(m_ceiling, m_bitrate + m_step);
            m_clearSince = now;
        }
    }
    if (next == m_bitrate)
        return std::nullopt;
    m_bitrate = next;
    return next;
}

} // namespace livecore
