#include "analytics/UANBaseEvent.h"

#include "analytics/UANUtil.h"
#include "platform/foundation/Clock.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <typeinfo>

namespace uadetail {

std::optional<std::string> decodeText(platform::KeyedUnarchiver& coder, std::string_view key) {
    auto value = coder.decodeObjectForKey(key);
    return value.string() ? std::optional(*value.string()) : std::nullopt;
}

std::optional<platform::ValueDictionary> decodeDictionary(platform::KeyedUnarchiver& coder,
                                                          std::string_view key) {
    auto value = coder.decodeObjectForKey(key);
    return value.dictionary() ? std::optional(*value.dictionary()) : std::nullopt;
}

std::optional<platform::ValueArray> decodeArray(platform::KeyedUnarchiver& coder, std::string_view key) {
    auto value = coder.decodeObjectForKey(key);
    return value.array() ? std::optional(*value.array()) : std::nullopt;
}

platform::Value textValue(const std::optional<std::string>& text) {
    return text ? platform::Value(*text) : platform::Value();
}

int32_t clampedToInt32(int64_t value) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

} // namespace uadetail

UANBaseEvent::UANBaseEvent()
    : ts(platform::Clock::timeIntervalSince1970())
    , date(UANUtil::dateString())
    , time(UANUtil::timeString()) {}

bool UANBaseEvent::isEqual(const UANBaseEvent& other) const {
    return typeid(*this) == typeid(other) && ts == other.ts;
}

uint64_t UANBaseEvent::hash() const {
    return ts > 0 && ts < 1.8e19 ? static_cast<uint64_t>(ts) : 0;
}

int64_t UANBaseEvent::millisecondsSinceTs() const {
    double milliseconds = (platform::Clock::timeIntervalSince1970() - ts) * 1000;
    return std::isfinite(milliseconds) && std::fabs(milliseconds) < 9e18 ? static_cast<int64_t>(milliseconds)
                                                                         : 0;
}

platform::ValueDictionary UANBaseEvent::attributes() const {
    platform::ValueDictionary attributes;
    attributes.set("date", uadetail::textValue(date));
    attributes.set("time", uadetail::textValue(time));
    attributes.set("ts", platform::Value(static_cast<int64_t>(ts)));
    attributes.set("session_id", uadetail::textValue(session_id));
    return attributes;
}

void UANBaseEvent::encodeWithCoder(platform::KeyedArchiver& coder) const {
    coder.encodeBool(sendingFlag, "self.sendingFlag");
    coder.encodeDouble(ts, "self.ts");
    coder.encodeObject(uadetail::textValue(type), "self.type");
    coder.encodeObject(uadetail::textValue(date), "self.date");
    coder.encodeObject(uadetail::textValue(time), "self.time");
    coder.encodeObject(uadetail::textValue(session_id), "self.session_id");
}

bool UANBaseEvent::initWithCoder(platform::KeyedUnarchiver& coder) {
    sendingFlag = coder.decodeBoolForKey("self.sendingFlag");
    ts = coder.decodeDoubleForKey("self.ts");
    type = uadetail::decodeText(coder, "self.type");
    date = uadetail::decodeText(coder, "self.date");
    time = uadetail::decodeText(coder, "self.time");
    session_id = uadetail::decodeText(coder, "self.session_id");
    return true;
}
