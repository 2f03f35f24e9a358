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
    if (backlog.unacknowledged == 0)
        m_waitingSince.reset();
    else if (!m_waitingSince || backlog.acknowledged != m_acknowledged)
        m_waitingSince = now;
    m_acknowledged = backlog.acknowledged;
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
