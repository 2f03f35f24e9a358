#include "app/ui/NSString+Extension.h"
#include "app/ui/Truncation.h"
#include "platform/foundation/Text.h"
#include "platform/graphics/TextMeasure.h"

#include <cstdint>
#include <fmt/format.h>

using namespace platform;

namespace {

bool isEmojiUnit(char16_t unit) {
    if ((unit >= 0x2100 && unit <= 0x27FF) || (unit >= 0x2B05 && unit <= 0x2B07) ||
        (unit >= 0x2934 && unit <= 0x2935) || (unit >= 0x3297 && unit <= 0x3299))
        return true;
    switch (unit) {
    case 0x2B1B:
    case 0x2B1C:
    case 0x2B50:
    case 0x2B55:
    case 0x303D:
    case 0x3030:
    case 0x00A9:
    case 0x00AE:
        return true;
    default:
        return false;
    }
}

bool isEmojiSequence(std::u16string_view units) {
    const char16_t lead = units[0];
    if (lead >= 0xD800 && lead <= 0xDBFF) {
        if (units.size() < 2)
            return false;
        const char32_t codePoint =
            (char32_t(lead) - 0xD800) * 0x400 + (char32_t(units[1]) - 0xDC00) + 0x10000;
        return codePoint >= 0x1D000 && codePoint <= 0x1F77F;
    }
    if (units.size() >= 2)
        return units[1] == 0x20E3;
    return isEmojiUnit(lead);
}

} // namespace

CGSize sizeWithFont(std::string_view text, const UIFontPtr& font, CGSize maxSize) {
    NSAttributes attributes;
    if (font)
        attributes.set(NSFontAttributeName, Value(font));
    return boundingRectWithSize(std::string(text), maxSize, NSStringDrawingUsesLineFragmentOrigin, attributes)
        .size;
}

std::string stringWithTimeInterval(double seconds) {
    int32_t s = ::detail::truncatedToInt32(seconds);
    std::string result;
    if (s >= 3600 || s <= -3600) {
        const int32_t hours = s / 3600;
        result += fmt::format("{}时", hours);
        s -= hours * 3600;
    }
    if (s >= 60 || s <= -60) {
        const int32_t minutes = s / 60;
        result += fmt::format("{}分", minutes);
        s -= minutes * 60;
    }
    result += fmt::format("{}秒", s);
    return result;
}

bool isContainsEmoji(std::string_view text) {
    const std::u16string units = text::toUTF16(text);
    for (const auto& character : text::composedCharacters(text)) {
        if (character.utf16.length > 0 && isEmojiSequence(std::u16string_view(units).substr(
                                              character.utf16.location, character.utf16.length)))
            return true;
    }
    return false;
}
