#pragma once
// An RTMP message's timestamp from a presentation time: whole milliseconds, never below 0, and never
// before the previous message of the same stream (a player reads a step back as a broken stream).

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace livecore {

inline int32_t packetTimestamp(double presentationTime, int32_t previous) {
    const double rounded = std::round(std::clamp(presentationTime, 0.0, 2147483647.0));
    return std::max(previous, static_cast<int32_t>(rounded));
}

} // namespace livecore
