#include "analytics/UANEvent.h"

#include "analytics/UANLog.h"
#include "analytics/UANUtil.h"

namespace {

constexpr int64_t kLabelBytes = 256;

} // namespace

UANEvent::UANEvent() {
    type = "event";
}

int64_t UANEvent::updateDu() {
    du = millisecondsSinceTs();
    return du;
}

platform::ValueDictionary UANEvent::attributes() const {
    auto attributes = UANBaseEvent::attributes();
    if (label && !label->empty()) {
        std::string text = *label;
        if (static_cast<int64_t>(text.size()) > kLabelBytes) {
            uadetail::systemLog(
                fmt::format("(Warning) Halvek event label ({}) max bytes length > {}", text, kLabelBytes));
            text = UANUtil::getString(text, kLabelBytes);
        }
        attributes.set("label", text);
    }
    if (values && !values->empty())
        attributes.set("values", platform::Value(*values));
    if (ts != 0)
        attributes.set("ts", platform::Value(uadetail::clampedToInt32(static_cast<int64_t>(ts))));
    attributes.set("tag", uadetail::textValue(event_id));
    if (acc >= 1)
        attributes.set("acc", platform::Value(acc));
    if (du >= 1)
        attributes.set("du", platform::Value(du));
    attributes.set("session_id", uadetail::textValue(session_id));
    return attributes;
}

void UANEvent::outputUALog() const {
    std::string text =
        fmt::format("session_id={}, event={}", session_id.value_or("(null)"), event_id.value_or("(null)"));
    if (label && !label->empty())
        text += ", label=" + *label;
    if (du >= 1)
        text += fmt::format(", du={}", du);
    UANLog("event: {}", text);
}

void UANEvent::encodeWithCoder(platform::KeyedArchiver& coder) const {
    UANBaseEvent::encodeWithCoder(coder);
    coder.encodeObject(uadetail::textValue(event_id), "self.event_id");
    coder.encodeObject(uadetail::textValue(label), "self.label");
    coder.encodeInt32(uadetail::clampedToInt32(acc), "self.acc");
    coder.encodeInt32(uadetail::clampedToInt32(du), "self.du");
    coder.encodeObject(values ? platform::Value(*values) : platform::Value(), "self.values");
}

bool UANEvent::initWithCoder(platform::KeyedUnarchiver& coder) {
    UANBaseEvent::initWithCoder(coder);
    event_id = uadetail::decodeText(coder, "self.event_id");
    label = uadetail::decodeText(coder, "self.label");
    acc = coder.decodeInt32ForKey("self.acc");
    du = coder.decodeInt32ForKey("self.du");
    values = uadetail::decodeDictionary(coder, "self.values");
    return true;
}
