#pragma once
// Drawing plain text with attributes into the current graphics context (the platform's NSString drawing
// extensions), the counterpart of TextMeasure.h; NSAttributedString draws itself the same way
// (drawInRect, drawAtPoint, drawWithRect in AttributedString.h).
//
// drawInRect wraps at the rectangle's width and draws the whole lines that fit in its height (at least the
// first), aligned as the paragraph style says; drawAtPoint draws one line per paragraph with its top left at
// the point. Text without a foreground colour is black. Nothing happens without a current context.

#include "platform/graphics/AttributedString.h"
#include "platform/graphics/GraphicsContext.h"

#include <string>

namespace platform {

void drawInRect(const std::string& text, CGRect rect, const NSAttributes& attributes);
void drawAtPoint(const std::string& text, CGPoint point, const NSAttributes& attributes);
void drawWithRect(const std::string& text, CGRect rect, int64_t options, const NSAttributes& attributes);

// The same, into a given context rather than the current one.
void drawAttributedString(const CGContextRef& context, const NSAttributedString& text, CGRect rect,
                          int64_t options);

} // namespace platform
