#include "app/core/ResolutionDataModel.h"

#include "platform/foundation/Text.h"

namespace {

std::optional<std::string> textOf(const platform::Value& value) {
    if (auto* text = value.string())
        return *text;
    if (auto* number = value.number())
        return number->stringValue();
    return std::nullopt;
}

std::string_view view(const std::optional<std::string>& text) {
    return text ? std::string_view(*text) : std::string_view();
}

} // namespace

void ResolutionDataModel::setValueForKey(const platform::Value& value, std::string_view key) {
    if (key == "title")
        title = textOf(value);
    else if (key == "bitrate")
        bitrate = textOf(value);
    else if (key == "resolution")
        resolution = textOf(value);
    else if (key == "frameRate")
        frameRate = textOf(value);
}

void ResolutionDataModel::setValuesForKeysWithDictionary(const platform::Value& dictionary) {
    if (auto* entries = dictionary.dictionary()) {
        for (const auto& [key, value] : *entries)
            setValueForKey(value, key);
    }
}

double ResolutionDataModel::resolutionWidth() const {
    auto text = view(resolution);
    return platform::text::doubleValue(text.substr(0, text.find('x')));
}

double ResolutionDataModel::resolutionHeight() const {
    auto text = view(resolution);
    auto x = text.find('x');
    return x == std::string_view::npos ? 0.0 : platform::text::doubleValue(text.substr(x + 1));
}

int64_t ResolutionDataModel::bitrateValue() const {
    // Saturating, so even a hostile text gives a number of the right sign rather than overflowing.
    int64_t kbits = platform::text::integerValue(view(bitrate));
    if (kbits > INT64_MAX / 1000)
        return INT64_MAX;
    if (kbits < INT64_MIN / 1000)
        return INT64_MIN;
    return kbits * 1000;
}

int32_t ResolutionDataModel::frameRateValue() const {
    return platform::text::intValue(view(frameRate));
}

std::shared_ptr<ResolutionDataModel> ResolutionDataModel::copy() const {
    auto copy = std::make_shared<ResolutionDataModel>();
    copy->title = title;
    copy->bitrate = bitrate;
    copy->resolution = resolution;
    copy->frameRate = frameRate;
    return copy;
}

void ResolutionDataModel::encodeWithCoder(platform::KeyedArchiver& coder) const {
    auto put = [&](const std::optional<std::string>& text, std::string_view key) {
        coder.encodeObject(text ? platform::Value(*text) : platform::Value(), key);
    };
    put(title, "title");
    put(bitrate, "bitrate");
    put(resolution, "resolution");
    put(frameRate, "frameRate");
}

bool ResolutionDataModel::initWithCoder(platform::KeyedUnarchiver& coder) {
    for (const char* key : {"title", "bitrate", "resolution", "frameRate"})
        setValueForKey(coder.decodeObjectForKey(key), key);
    return true;
}
