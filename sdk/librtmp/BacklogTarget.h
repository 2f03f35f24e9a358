#pragma once
// How many bytes the send thread lets wait in its socket before it writes the next message: about half
// a second of what the link carries. A link slower than the stream then backs up where the encoder
// sees it (the sender stays busy, the queue fills) within a second, instead of in a socket that holds
// seconds of video a viewer would have to wait for.
//
// The rate is the bytes acknowledged per second over the last few seconds, counting only the time in
// which bytes waited in the socket or were written to it: an empty socket with nothing to send tells
// nothing of the link, and counting such pauses would judge the link by the gaps in the stream. Until
// a second of such time has been seen, the start rate fills in for the rest, so the first readings
// cannot swing the target. The target never falls below a floor (a stalled or very slow link still
// takes small messages) nor rises above what the send buffer holds.
// Time is passed in; not thread-safe.

#include "sdk/librtmp/LivenessWatch.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>

namespace livecore::rtmp {

struct BacklogLimits {
    double startRate{0}; // bytes per second, until the link has been measured
    uint64_t floor{4 * 1024};
    uint64_t ceiling{std::numeric_limits<uint64_t>::max()};
    std::chrono::milliseconds window{std::chrono::seconds(3)};
    // How much measured time within the window makes the measurement count alone.
    std::chrono::milliseconds settled{std::chrono::seconds(1)};
};

class BacklogTarget {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    explicit BacklogTarget(BacklogLimits limits);

    // The socket's backlog as read at `now` (SendBacklog.h).
    void observe(TimePoint now, const SendBacklog& backlog);
    // Bytes per second.
    double rate() const;
    uint64_t target() const;
    // Nothing while `unacknowledged` is within the target; else how long the link takes to carry the
    // excess at the rate, kept between a few and a few tens of milliseconds so a wait neither spins nor
    // oversleeps a change.
    std::chrono::milliseconds drainWait(uint64_t unacknowledged) const;

private:
    struct Interval {
        TimePoint end;
        std::chrono::nanoseconds waiting;
        uint64_t acknowledged;
    };

    const BacklogLimits m_limits;
    std::deque<Interval> m_intervals;
    std::chrono::nanoseconds m_waiting{0}; // the sums over m_intervals
    uint64_t m_acknowledged{0};
    std::optional<TimePoint> m_lastReading;
    uint64_t m_lastAcknowledged{0};
    uint64_t m_lastUnacknowledged{0};
    uint64_t m_lastWritten{0};
};

} // namespace livecore::rtmp
