#include "sdk/engine/BitrateAdaptation.h"

#include <algorithm>

namespace livecore {

namespace {

// Whole intervals from `since` (or from the end of those already counted) to `now`, at most 64.
int countIntervals(BitrateAdaptation::TimePoint now, std::optional<BitrateAdaptation::TimePoint> since,
                   std::chrono::milliseconds interval, BitrateAdaptation::TimePoint& countedUntil) {
    if (!since)
        return 0;
    const auto start = std::max(*since, countedUntil);
    if (now < start + interval)
        return 0;
    const auto count = interval.count() > 0 ? std::min<int64_t>((now - start) / interval, 64) : 1;
    countedUntil = start + count * interval;
    return static_cast<int>(count);
}

} // namespace

BitrateAdaptation::BitrateAdaptation(int ceiling, BitrateSteps steps)
    : m_ceiling(ceiling)
    , m_floor(ceiling / 4)
    , m_step(std::max(1, ceiling / 8))
    , m_steps(steps)
    , m_bitrate(ceiling) {}

std::optional<int> BitrateAdaptation::observe(TimePoint now, std::optional<TimePoint> fullSince,
                                              std::optional<TimePoint> clearSince) {
    int next = m_bitrate;
    if (int lower = countIntervals(now, fullSince, m_steps.lowerAfter, m_loweredUntil))
        next = std::max(m_floor, next - lower * m_step);
    if (int raise = countIntervals(now, clearSince, m_steps.raiseAfter, m_raisedUntil))
        next = std::min(m_ceiling, next + raise * m_step);
    if (next == m_bitrate)
        return std::nullopt;
    m_bitrate = next;
    return next;
}

} // namespace livecore
