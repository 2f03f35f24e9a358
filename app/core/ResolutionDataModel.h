#pragma once
// ResolutionDataModel: one resolution preset of the live parameters (title, bitrate in kbit/s,
// "<width>x<height>", frame rate; all texts). Archived under "title", "bitrate", "resolution" and
// "frameRate". A text that is not a number reads as 0 in the derived values.

#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class ResolutionDataModel : public platform::Object, public platform::Coding {
public:
    std::optional<std::string> title;
    std::optional<std::string> bitrate;    // kbit/s, decimal text
    std::optional<std::string> resolution; // "1280x720"
    std::optional<std::string> frameRate;  // decimal text

    // Filling by key from a dictionary: the four keys are taken (numbers as their text), any other
    // key is ignored.
    void setValueForKey(const platform::Value& value, std::string_view key);
    void setValuesForKeysWithDictionary(const platform::Value& dictionary);

    // The numbers before and after the first "x" (a text without "x" gives its number as the width
    // and 0 as the height).
    double resolutionWidth() const;
    double resolutionHeight() const;
    // Bits per second: bitrate's integer value times 1000, in 64 bits so large texts cannot overflow.
    int64_t bitrateValue() const;
    int32_t frameRateValue() const;

    std::shared_ptr<ResolutionDataModel> copy() const;
    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    bool initWithCoder(platform::KeyedUnarchiver& coder) override;
};
