#include "analytics/UANEkv.h"

#include "analytics/UANLog.h"
#include "analytics/UANUtil.h"

namespace {

constexpr const char* kEkvRefusal = "UALOG: (ERROR) Halvek event's keys and values must be string ,key's max "
                                    "length 128 and value's max length 256";
constexpr const char* kGkvRefusal = "UALOG: (ERROR) Halvek event's keys and values must be string ,key's max "
                                    "length 64 and value's max length 256";

// The accepted pairs among the first 10 entries (11 with "__ct__"), cut to length.
platform::ValueDictionary accepted(const platform::ValueDictionary& dictionary, bool gkv,
                                   const char* refusal) {
    size_t limit = dictionary.contains("__ct__") ? 11 : 10;
    platform::ValueDictionary kept;
    size_t looked = 0;
    for (const auto& [key, value] : dictionary) {
        if (looked++ == limit)
            break;
        if ((!gkv && !value.string()) || value.isNil()) {
            uadetail::systemLog(refusal);
            continue;
        }
        kept.set(UANUtil::getString(key, 128),
                 gkv ? value : platform::Value(UANUtil::getString(*value.string(), 256)));
    }
    return kept;
}

} // namespace

UANEkv::UANEkv() {
    type = "ekv";
}

std::shared_ptr<UANEkv> UANEkv::create(std::optional<std::string> id, std::optional<std::string> key,
                                       const platform::ValueDictionary& values, bool isGKV) {
    for (const char* reserved : {"id", "ts", "du"}) {
        if (values.contains(reserved)) {
            uadetail::systemLog("UALOG: (ERROR) 关键字id, ts, du是TovrinSDK保留字段，不能作为key使用。");
            return nullptr;
        }
    }
    auto record = std::make_shared<UANEkv>();
    record->id = std::move(id);
    record->key = std::move(key);
    record->type = isGKV ? "gkv" : "ekv";
    record->values = record->processDictionary(values);
    return record;
}

int64_t UANEkv::updateDu() {
    int64_t milliseconds = millisecondsSinceTs();
    du = uadetail::clampedToInt32(milliseconds);
    return milliseconds;
}

platform::ValueDictionary UANEkv::processDictionary(const platform::ValueDictionary& dictionary) const {
    bool gkv = type == "gkv";
    return accepted(dictionary, gkv, gkv ? kGkvRefusal : kEkvRefusal);
}

platform::ValueDictionary UANEkv::attributes() const {
    platform::ValueDictionary attributes;
    attributes.set("id", uadetail::textValue(id));
    for (const auto& [name, value] : accepted(values, type == "gkv", kGkvRefusal))
        attributes.set(name, value);
    if (du >= 1)
        attributes.set("du", platform::Value(du));
    attributes.set("ts", platform::Value(uadetail::clampedToInt32(static_cast<int64_t>(ts))));
    return attributes;
}

void UANEkv::outputUALog() const {
    if (type != "ekv" && type != "gkv")
        return;
    std::string text =
        fmt::format("session_id={}, id={}", session_id.value_or("(null)"), id.value_or("(null)"));
    if (du >= 1)
        text += fmt::format(", duration={}", du);
    if (key && !key->empty())
        text += ",key=" + *key;
    if (!values.empty())
        text += ",values=" + platform::Value(values).description();
    UANLog("{}: {}", *type, text);
}

void UANEkv::encodeWithCoder(platform::KeyedArchiver& coder) const {
    UANBaseEvent::encodeWithCoder(coder);
    coder.encodeInt32(du, "self.du");
    coder.encodeObject(uadetail::textValue(id), "self.id");
    coder.encodeObject(uadetail::textValue(key), "self.key");
    coder.encodeObject(platform::Value(values), "self.values");
}

bool UANEkv::initWithCoder(platform::KeyedUnarchiver& coder) {
    UANBaseEvent::initWithCoder(coder);
    du = coder.decodeInt32ForKey("self.du");
    id = uadetail::decodeText(coder, "self.id");
    key = uadetail::decodeText(coder, "self.key");
    values = uadetail::decodeDictionary(coder, "self.values").value_or(platform::ValueDictionary{});
    return true;
}
