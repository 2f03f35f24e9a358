#pragma once
// NSString(Extension): text helpers the screens share. Texts are UTF-8; the emoji test walks them by
// composed character sequences in UTF-16 units, as the platform counts. Stateless and thread-safe
// (measuring is serialised inside the text layout).

#include "platform/graphics/Font.h"
#include "platform/graphics/Geometry.h"

#include <string>
#include <string_view>

// sizeWithFont:maxSize: the text drawn in the font, wrapped within maxSize.width and cut to the whole
// lines that fit maxSize.height; fractional, never rounded.
platform::CGSize sizeWithFont(std::string_view text, const platform::UIFontPtr& font,
                              platform::CGSize maxSize);

// stringWithTimeInterval: "1时1分1秒"; the hours and minutes parts appear only when the duration reaches
// them. Seconds are truncated towards zero; a duration beyond the 32-bit range counts as its limit.
std::string stringWithTimeInterval(double seconds);

// isContainsEmoji: whether any composed character of the text counts as an emoji.
bool isContainsEmoji(std::string_view text);
