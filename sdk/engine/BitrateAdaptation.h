#pragma once
// How the video bitrate follows the network: judged by the output's queue of messages waiting to be
// sent. Over half full for `lowerAfter` lowers the bitrate by an eighth of the ceiling (a step for
// each `lowerAfter` it stays so), down to a quarter of the ceiling; under a quarter full for
// `raiseAfter` raises it by the same step, up to the ceiling. In between, neither clock runs. Time is
// passed in; not thread-safe.

#include <chrono>
#include <cstddef>
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

    // The queue's length now; the new bitrate when it changes.
    std::optional<int> observe(TimePoint now, size_t queued, size_t capacity);
    int bitrate() const { return m_bitrate; }

private:
    const int m_ceiling;
    const int m_floor;
    const int m_step;
    const BitrateSteps m_steps;
    int m_bitrate;
    std::optional<TimePoint> m_fullSince;
    std::optional<TimePoint> m_clearSince;
};

} // namespace livecore
