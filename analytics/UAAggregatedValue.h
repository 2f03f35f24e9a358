#pragma once
// One counter of computed events in a time window: how many were folded in, the window of the latest,
// the sums of their values and time stamps, and up to 8 distinct labels, the most recently used last.

#include "platform/foundation/Object.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class UAAggregatedValue final : public platform::Object {
public:
    int32_t count{0};
    int32_t twNum{0}; // unsigned on the wire and in the database
    int64_t valueSum{0};
    int64_t tsSum{0}; // milliseconds
    std::vector<std::string> labels;

    // The labels of a "!"-joined text (none for a missing or empty one).
    void setLabelsWithString(const std::optional<std::string>& text);
    // A used label moves to the end; a new one is appended and the oldest dropped beyond 8.
    void addLabels(const std::optional<std::string>& label);
};
