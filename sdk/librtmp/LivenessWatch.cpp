#include "sdk/librtmp/LivenessWatch.h"

#include <algorithm>

namespace livecore::rtmp {

LivenessWatch::LivenessWatch(Liveness liveness, TimePoint start)
    : m_liveness(liveness)
    , m_nextPing(start + liveness.pingInterval)
    , m_lastHeard(start) {}

void LivenessWatch::heard(TimePoint now, bool pingAnswer) {
    m_lastHeard = now;
    m_answersPings = m_answersPings || pingAnswer;
}

bool LivenessWatch::takeDuePing(TimePoint now) {
    if (now < m_nextPing)
        return false;
    m_nextPing = now + m_liveness.pingInterval;
    return true;
}

bool LivenessWatch::isSilentTooLong(TimePoint now) const {
    return m_answersPings && now - m_lastHeard >= m_liveness.silenceLimit;
}

void LivenessWatch::sending(TimePoint now, SendBacklog backlog) {
    const uint64_t written = backlog.acknowledged + backlog.unacknowledged;
    const bool opened = backlog.window > m_window;
    const bool keepsUp = backlog.window >= m_widestWindow && backlog.acknowledged > m_acknowledged;
    m_window = backlog.window;
    m_widestWindow = std::max(m_widestWindow, backlog.window);
    m_acknowledged = backlog.acknowledged;
    if (opened || keepsUp) {
        m_writtenAtProgress = written;
        m_waitingSince.reset();
    }
    if ((written > m_writtenAtProgress || backlog.unacknowledged > 0) && !m_waitingSince)
        m_waitingSince = now;
}

bool LivenessWatch::isStalled(TimePoint now) const {
    return m_waitingSince && now - *m_waitingSince >= m_liveness.silenceLimit;
}

std::optional<LivenessWatch::TimePoint> LivenessWatch::stallDeadline() const {
    if (!m_waitingSince)
        return std::nullopt;
    return *m_waitingSince + m_liveness.silenceLimit;
}

LivenessWatch::TimePoint LivenessWatch::nextDue() const {
    auto due = m_answersPings ? std::min(m_nextPing, m_lastHeard + m_liveness.silenceLimit) : m_nextPing;
    if (auto deadline = stallDeadline())
        due = std::min(due, *deadline);
    return due;
}

} // namespace livecore::rtmp
