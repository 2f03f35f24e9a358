#pragma once
// An attribute event: an id with a dictionary of attributes, optionally timed under a primary key; type
// "ekv", or "gkv" for a game. Archived under "self.du" (32-bit), "self.id", "self.key" and "self.values".
//
// Attributes are checked as they come in and again for the payload: at most 10 entries are looked at
// (11 when one is "__ct__"); "ekv" takes text keys and text values, cut to 128 and 256 bytes; "gkv" takes
// text keys (cut to 128 bytes) with any value. Refused pairs are skipped with a printed error.

#include "analytics/UANBaseEvent.h"

#include <memory>

class UANEkv final : public UANBaseEvent {
public:
    UANEkv();
    // Nothing when a key is one of the reserved "id", "ts" and "du" (with a printed error).
    static std::shared_ptr<UANEkv> create(std::optional<std::string> id, std::optional<std::string> key,
                                          const platform::ValueDictionary& values, bool isGKV);

    int32_t du{0}; // milliseconds
    std::optional<std::string> id;
    std::optional<std::string> key;
    platform::ValueDictionary values;

    // `du` becomes the milliseconds since `ts` (held within 32 bits); answers them in full (64 bits).
    int64_t updateDu();
    platform::ValueDictionary processDictionary(const platform::ValueDictionary& dictionary) const;

    // "id", the attributes checked again, "du" when at least 1, "ts" in whole seconds.
    platform::ValueDictionary attributes() const override;
    void outputUALog() const override;

    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    bool initWithCoder(platform::KeyedUnarchiver& coder) override;
};
