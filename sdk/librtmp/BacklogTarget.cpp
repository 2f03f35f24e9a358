#include "sdk/librtmp/BacklogTarget.h"

#include <algorithm>
#include <cmath>

namespace livecore::rtmp {

namespace {

constexpr double targetSeconds = 0.5;
constexpr std::chrono::milliseconds shortestWait{4};
constexpr std::chrono::milliseconds longestWait{50};

double seconds(std::chrono::nanoseconds duration) {
    return std::chrono::duration<double>(duration).count();
}

} // namespace

BacklogTarget::BacklogTarget(BacklogLimits limits)
    : m_limits(limits) {}

void BacklogTarget::observe(TimePoint now, const SendBacklog& backlog) {
    // An interval that began with the socket empty and saw nothing written was idle. Any other kept
    // the link busy, all along or until the socket emptied; the send thread reads again before each
    // write, and a stream brings one every few tens of milliseconds, so such a tail of idle time
    // stays short.
    const uint64_t written = backlog.acknowledged + backlog.unacknowledged;
    const bool busy = m_lastUnacknowledged > 0 || written > m_lastWritten;
    if (m_lastReading && now > *m_lastReading && backlog.acknowledged >= m_lastAcknowledged && busy) {
        const Interval interval{now, now - *m_lastReading, backlog.acknowledged - m_lastAcknowledged};
        m_intervals.push_back(interval);
        m_waiting += interval.waiting;
        m_acknowledged += interval.acknowledged;
    }
    m_lastReading = now;
    m_lastAcknowledged = backlog.acknowledged;
    m_lastUnacknowledged = backlog.unacknowledged;
    m_lastWritten = written;
    while (!m_intervals.empty() && m_intervals.front().end + m_limits.window <= now) {
        m_waiting -= m_intervals.front().waiting;
        m_acknowledged -= m_intervals.front().acknowledged;
        m_intervals.pop_front();
    }
}

double BacklogTarget::rate() const {
    const double waited = seconds(m_waiting);
    const double settled = seconds(m_limits.settled);
    if (waited >= settled && waited > 0)
        return double(m_acknowledged) / waited;
    if (settled <= 0)
        return m_limits.startRate;
    // Blended rather than switched, so the first short measurement cannot swing the target.
    return (double(m_acknowledged) + m_limits.startRate * (settled - waited)) / settled;
}

uint64_t BacklogTarget::target() const {
    const double wanted = std::max(rate() * targetSeconds, double(m_limits.floor));
    if (wanted >= double(m_limits.ceiling))
        return m_limits.ceiling;
    return static_cast<uint64_t>(std::llround(wanted));
}

std::chrono::milliseconds BacklogTarget::drainWait(uint64_t unacknowledged) const {
    const uint64_t target = this->target();
    if (unacknowledged <= target)
        return std::chrono::milliseconds(0);
    const double rate = this->rate();
    if (rate <= 0)
        return longestWait;
    const double milliseconds = std::ceil(double(unacknowledged - target) / rate * 1000.0);
    if (milliseconds >= double(longestWait.count()))
        return longestWait;
    return std::max(shortestWait, std::chrono::milliseconds(static_cast<int64_t>(milliseconds)));
}

} // namespace livecore::rtmp
