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

LivenessWatch::TimePoint LivenessWatch::nextDue() const {
    return m_answersPings ? std::min(m_nextPing, m_lastHeard + m_liveness.silenceLimit) : m_nextPing;
}

} // namespace livecore::rtmp
