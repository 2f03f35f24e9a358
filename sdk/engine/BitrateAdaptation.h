#pragma once
// How the video bitrate follows the network: judged by the output's queue of messages waiting to be
// sent. Over half full for `lowerAfter` lowers the bitrate by an eighth of the ceiling (a step for
// each `lowerAfter` it stays so), down to a quarter of the ceiling; under a quarter full for
// `raiseAfter` raises it by the same step, up to the ceiling. The queue keeps the record of since when
// it has been so (a road held up by a full queue has nothing to look at it with); each observation
// takes the steps whole intervals since then call for, each interval counted once. Time is passed in;
// not thread-safe.

#include <chrono>
#include <optional>

namespace livecore {

struct BitrateSteps {
    std::chrono::milliseconds lowerAfter{std::chrono::seconds(1)};
    std::chrono::milliseconds raiseAfter{std::chrono::seconds(5)};
};

class BitrateAdaptation {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    BitrateAdaptation(int ceiling, BitrateSteps steps);

    // The queue has been over half full since `fullSince`, or under a quarter full since
    // `clearSince` (nothing when it is not); the new bitrate when it changes.
    std::optional<int> observe(TimePoint now, std::optional<TimePoint> fullSince,
                               std::optional<TimePoint> clearSince);
    int bitrate() const { return m_bitrate; }

private:
    const int m_ceiling;
    const int m_floor;
    const int m_step;
    const BitrateSteps m_steps;
    int m_bitrate;
    // Where the intervals already counted end.
    TimePoint m_loweredUntil{TimePoint::min()};
    TimePoint m_raisedUntil{TimePoint::min()};
};

} // namespace livecore
