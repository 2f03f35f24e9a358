#include "analytics/UANError.h"

#include "analytics/UANLog.h"

UANError::UANError() {
    type = "error";
}

platform::ValueDictionary UANError::attributes() const {
    auto attributes = UANBaseEvent::attributes();
    attributes.set("message_type", "error");
    attributes.set("context", uadetail::textValue(context));
    attributes.set("session_id", uadetail::textValue(session_id));
    return attributes;
}

void UANError::outputUALog() const {
    UANLog("error: session_id={}, context={}", session_id.value_or("(null)"), context.value_or("(null)"));
}

void UANError::encodeWithCoder(platform::KeyedArchiver& coder) const {
    UANBaseEvent::encodeWithCoder(coder);
    coder.encodeObject(uadetail::textValue(context), "self.context");
}

bool UANError::initWithCoder(platform::KeyedUnarchiver& coder) {
    UANBaseEvent::initWithCoder(coder);
    context = uadetail::decodeText(coder, "self.context");
    return true;
}
