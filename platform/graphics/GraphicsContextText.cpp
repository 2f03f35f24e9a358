#include "platform/graphics/GraphicsContextText.h"

#include "platform/graphics/GraphicsContextStack.h"
#include "platform/graphics/TextMeasureLayout.h"

#include <cmath>

namespace platform {

void drawAttributedString(const CGContextRef& context, const NSAttributedString& text, CGRect rect,
                          int64_t options) {
    if (!context || text.length() == 0)
        return;
    bool multiline = options & NSStringDrawingUsesLineFragmentOrigin;
    std::lock_guard lock(detail::textLock());
    detail::TextBox box =
        detail::layoutText(text, multiline ? rect.size.width : 0, multiline ? rect.size.height : 0, multiline,
                           options & NSStringDrawingTruncatesLastVisibleLine);
    if (box.lineCount == 0)
        return;
    // Without the line fragment option the rectangle's origin is the first baseline.
    double top = multiline ? rect.origin.y : rect.origin.y - box.baseline;
    double left = rect.origin.x + box.x;
    double alpha = context->alpha();
    PangoLayout* layout = box.layout.get();
    int totalLines = pango_layout_get_line_count(layout);
    context->drawWithCairo([&](cairo_t* cr) {
        if (box.lineCount < totalLines) {
            // Only whole lines that fit are drawn.
            cairo_rectangle(cr, rect.origin.x - 1e4, top, 2e4 + std::fabs(rect.size.width), box.height);
            cairo_clip(cr);
        }
        // Runs without a colour of their own draw in the cairo source: black, under the context's alpha.
        // A context alpha below one goes through a group so overlapping glyphs do not darken each other.
        if (alpha < 1)
            cairo_push_group(cr);
        cairo_set_source_rgba(cr, 0, 0, 0, 1);
        cairo_move_to(cr, left, top);
        pango_cairo_show_layout(cr, layout);
        if (alpha < 1) {
            cairo_pop_group_to_source(cr);
            cairo_paint_with_alpha(cr, alpha);
        }
    });
}

void NSAttributedString::drawInRect(CGRect rect) const {
    drawAttributedString(UIGraphicsGetCurrentContext(), *this, rect, NSStringDrawingUsesLineFragmentOrigin);
}

void NSAttributedString::drawAtPoint(CGPoint point) const {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context || m_length == 0)
        return;
    std::lock_guard lock(detail::textLock());
    detail::TextBox box = detail::layoutText(*this, 0, 0, false, false);
    // One line per paragraph, top left at the point: the baseline sits one ascent below it.
    drawAttributedString(context, *this, CGRectMake(point.x, point.y + box.baseline, 0, 0), 0);
}

void NSAttributedString::drawWithRect(CGRect rect, int64_t options) const {
    drawAttributedString(UIGraphicsGetCurrentContext(), *this, rect, options);
}

void drawInRect(const std::string& text, CGRect rect, const NSAttributes& attributes) {
    NSAttributedString(text, attributes).drawInRect(rect);
}

void drawAtPoint(const std::string& text, CGPoint point, const NSAttributes& attributes) {
    NSAttributedString(text, attributes).drawAtPoint(point);
}

void drawWithRect(const std::string& text, CGRect rect, int64_t options, const NSAttributes& attributes) {
    NSAttributedString(text, attributes).drawWithRect(rect, options);
}

} // namespace platform
