#pragma once
// The records the library keeps until they go into an envelope: UANBaseEvent holds what every record
// has (time stamp, type, date and time texts, analytics session id, sending flag); UANEvent,
// UANEkv, UANError and UANTerminate add their own. Records are keyed-archivable under "self.<field>"
// keys (an archived value of the wrong kind reads as absent) and give their payload attributes.
// Two records are equal when they are of one class and share the time stamp. Main thread only.

#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>

class UANBaseEvent : public platform::Object, public platform::Coding {
public:
    UANBaseEvent(); // now, with today's date and time texts

    double ts{0}; // seconds since 1970
    std::optional<std::string> type;
    std::optional<std::string> date;
    std::optional<std::string> time;
    std::optional<std::string> session_id;
    bool sendingFlag{false};

    bool isEqual(const UANBaseEvent& other) const;
    uint64_t hash() const;

    // "date", "time", "ts" (whole seconds) and "session_id" when set.
    virtual platform::ValueDictionary attributes() const;
    // Prints the record through the conditional log.
    virtual void outputUALog() const {}

    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    bool initWithCoder(platform::KeyedUnarchiver& coder) override;

protected:
    // Milliseconds since `ts`, in 64 bits: a record begun weeks ago is long, not negative.
    int64_t millisecondsSinceTs() const;
};

namespace uadetail {

// Archive helpers: a text, a dictionary or an array under the key, or nothing for another kind.
std::optional<std::string> decodeText(platform::KeyedUnarchiver& coder, std::string_view key);
std::optional<platform::ValueDictionary> decodeDictionary(platform::KeyedUnarchiver& coder,
                                                          std::string_view key);
std::optional<platform::ValueArray> decodeArray(platform::KeyedUnarchiver& coder, std::string_view key);
platform::Value textValue(const std::optional<std::string>& text);
int32_t clampedToInt32(int64_t value);

} // namespace uadetail
