#pragma once
// When a publishing session pings its ingest and when it gives up on it. A ping request is due every
// `pingInterval`. Once the ingest has answered a ping, silence (no byte at all) for `silenceLimit`
// means it is gone; an ingest that has never answered one is not judged by its silence, so one that
// ignores pings cannot end a healthy session. Time is passed in; not thread-safe.

#include <chrono>

namespace livecore::rtmp {

struct Liveness {
    std::chrono::milliseconds pingInterval{std::chrono::seconds(10)};
    // Also bounds connecting and every blocking read and write of the connection.
    std::chrono::milliseconds silenceLimit{std::chrono::seconds(30)};
};

class LivenessWatch {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    LivenessWatch(Liveness liveness, TimePoint start);

    // Bytes came from the ingest; `pingAnswer` when they completed a ping response.
    void heard(TimePoint now, bool pingAnswer);
    // True when a ping is due; it then counts as sent.
    bool takeDuePing(TimePoint now);
    bool isSilentTooLong(TimePoint now) const;
    // When the next ping, or the end of the allowed silence, falls due.
    TimePoint nextDue() const;

private:
    const Liveness m_liveness;
    TimePoint m_nextPing;
    TimePoint m_lastHeard;
    bool m_answersPings{false};
};

} // namespace livecore::rtmp
