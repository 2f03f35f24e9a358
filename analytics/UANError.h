#pragma once
// A crash record: the crash text with the program image's facts; type "error". Archived under
// "self.context".

#include "analytics/UANBaseEvent.h"

class UANError final : public UANBaseEvent {
public:
    UANError();

    std::optional<std::string> context;

    // The base attributes, "message_type" "error", "context", "session_id".
    platform::ValueDictionary attributes() const override;
    void outputUALog() const override;

    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    bool initWithCoder(platform::KeyedUnarchiver& coder) override;
};
