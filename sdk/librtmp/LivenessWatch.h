#pragma once
// When a publishing session pings its ingest and when it gives up on it. Two rules, each with its own
// reason:
// - Silence: a ping request is due every `pingInterval`. Once the ingest has answered a ping, silence
//   (no byte at all) for `silenceLimit` means it is gone; an ingest that has never answered one is not
//   judged by its silence, so one that ignores pings cannot end a healthy session.
// - Stall, from the first second on: while bytes wait in the socket (written, not yet acknowledged),
//   the ingest must take some of them within `silenceLimit`. A stopped ingest stops acknowledging once
//   its receive window is full, however much room our own send buffer still has.
// Time is passed in; not thread-safe.

#include <chrono>
#include <cstdint>
#include <optional>

namespace livecore::rtmp {

struct Liveness {
    std::chrono::milliseconds pingInterval{std::chrono::seconds(10)};
    // Also bounds connecting and every blocking read and write of the connection.
    std::chrono::milliseconds silenceLimit{std::chrono::seconds(30)};
};

// What the connection's socket holds: bytes written but not yet acknowledged by the ingest, and how
// many the ingest has acknowledged since the connection opened.
struct SendBacklog {
    uint64_t unacknowledged{0};
    uint64_t acknowledged{0};
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

    // The socket's backlog as read now. Waiting starts with the first reading that finds bytes waiting
    // and starts over with every reading that finds more of them acknowledged.
    void sending(TimePoint now, SendBacklog backlog);
    bool isStalled(TimePoint now) const;
    // When the ingest must have taken some of the waiting bytes (nothing while none wait).
    std::optional<TimePoint> stallDeadline() const;

    // When the next ping, the end of the allowed silence, or the stall deadline falls due.
    TimePoint nextDue() const;

private:
    const Liveness m_liveness;
    TimePoint m_nextPing;
    TimePoint m_lastHeard;
    bool m_answersPings{false};
    std::optional<TimePoint> m_waitingSince;
    uint64_t m_acknowledged{0};
};

} // namespace livecore::rtmp
