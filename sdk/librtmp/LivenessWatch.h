#pragma once
// When a publishing session pings its ingest and when it gives up on it. Two rules, each with its own
// reason:
// - Silence: a ping request is due every `pingInterval`. Once the ingest has answered a ping, silence
//   (no byte at all) for `silenceLimit` means it is gone; an ingest that has never answered one is not
//   judged by its silence, so one that ignores pings cannot end a healthy session.
// - Stall, from the first second on: once bytes have been written, the ingest must take some within
//   `silenceLimit`. A stopped ingest's kernel still acknowledges what arrives until its receive buffer
//   is full, possibly megabytes later, but the receive window it offers shrinks with every arrival and
//   never opens again. So the ingest is taking data while its window opens up, or while bytes are
//   acknowledged with the window as wide as it has ever been. Where the kernel does not tell the
//   window, acknowledgements alone count.
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

// What the connection's socket tells: bytes written but not yet acknowledged by the ingest, how many
// the ingest has acknowledged since the connection opened, and the receive window it offers last.
struct SendBacklog {
    uint64_t unacknowledged{0};
    uint64_t acknowledged{0};
    uint64_t window{0};
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

    // The socket's backlog as read now. Waiting starts with the first reading that finds bytes written
    // since the ingest was last seen taking data, and ends with a reading that sees it taking data.
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
    uint64_t m_window{0};
    uint64_t m_widestWindow{0};
    uint64_t m_acknowledged{0};
    uint64_t m_writtenAtProgress{0}; // bytes written when the ingest was last seen taking data
};

} // namespace livecore::rtmp
