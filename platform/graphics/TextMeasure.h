#pragma once
// Measuring plain text with attributes (the platform's NSString drawing extensions), laid out by pango with
// the fonts of Font.h, so sizes are those the text is drawn at. The rules are NSAttributedString's
// boundingRectWithSize (AttributedString.h): with NSStringDrawingUsesLineFragmentOrigin the text wraps at
// size.width, otherwise it is one line per paragraph placed on its first baseline. Sizes are fractional,
// never rounded. Thread-safe: text layout is serialised internally.

#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Geometry.h"

#include <string>

namespace platform {

CGRect boundingRectWithSize(const std::string& text, CGSize size, int64_t options,
                            const NSAttributes& attributes);
// One line per paragraph, unlimited width.
CGSize sizeWithAttributes(const std::string& text, const NSAttributes& attributes);

} // namespace platform
