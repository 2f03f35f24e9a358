#pragma once
// A plain event: an id with an optional label, a count and a duration in milliseconds; type "event".
// Archived under "self.event_id", "self.label", "self.acc", "self.du" (both as 32-bit integers) and
// "self.values".

#include "analytics/UANBaseEvent.h"

class UANEvent final : public UANBaseEvent {
public:
    UANEvent();

    std::optional<std::string> event_id;
    std::optional<std::string> label;
    int64_t acc{0};
    int64_t du{0}; // milliseconds
    std::optional<platform::ValueDictionary> values;

    // `du` becomes the milliseconds since `ts`; answers them in full (64 bits).
    int64_t updateDu();

    // The base attributes, "label" (cut to 256 bytes, with a warning), "values", "ts" in whole
    // seconds, "tag" (the id), "acc" and "du" when at least 1, "session_id".
    platform::ValueDictionary attributes() const override;
    void outputUALog() const override;

    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    bool initWithCoder(platform::KeyedUnarchiver& coder) override;
};
