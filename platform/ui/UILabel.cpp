#include "platform/ui/UILabel.h"

#include <algorithm>
#include <cmath>

namespace platform {

UILabel::UILabel()
    : UILabel(CGRectZero) {}

UILabel::UILabel(CGRect frame)
    : UIView(frame)
    , m_font(UIFont::systemFontOfSize(17))
    , m_textColor(UIColor::blackColor()) {
    setUserInteractionEnabled(false);
    setContentMode(UIViewContentModeRedraw);
}

void UILabel::setText(std::string text) {
    m_text = std::move(text);
    m_attributedText.reset();
    setNeedsDisplay();
}

void UILabel::setAttributedText(NSAttributedStringPtr text) {
    m_attributedText = text ? text->copy() : nullptr;
    m_text = m_attributedText ? m_attributedText->string() : std::string();
    setNeedsDisplay();
}

NSAttributedStringPtr UILabel::attributedText() const {
    return m_attributedText ? m_attributedText : makeAttributedText(false);
}

void UILabel::setFont(UIFontPtr font) {
    m_font = font ? std::move(font) : UIFont::systemFontOfSize(17);
    setNeedsDisplay();
}

void UILabel::setTextColor(UIColorPtr color) {
    m_textColor = color ? std::move(color) : UIColor::blackColor();
    setNeedsDisplay();
}

void UILabel::setTextAlignment(NSTextAlignment alignment) {
    m_textAlignment = alignment;
    setNeedsDisplay();
}

void UILabel::setLineBreakMode(NSLineBreakMode mode) {
    m_lineBreakMode = mode;
    setNeedsDisplay();
}

// Several lines wrap at words and only the last visible one is truncated (drawing asks for that), so
// layout uses word wrapping where the label's mode truncates; one line keeps the mode as it is.
NSLineBreakMode UILabel::layoutLineBreakMode() const {
    bool truncates = m_lineBreakMode == NSLineBreakByTruncatingHead ||
                     m_lineBreakMode == NSLineBreakByTruncatingTail ||
                     m_lineBreakMode == NSLineBreakByTruncatingMiddle;
    return m_numberOfLines != 1 && truncates ? NSLineBreakByWordWrapping : m_lineBreakMode;
}

NSAttributedStringPtr UILabel::makeAttributedText(bool forLayout) const {
    auto style = std::make_shared<NSMutableParagraphStyle>();
    style->setAlignment(m_textAlignment);
    style->setLineBreakMode(forLayout ? layoutLineBreakMode() : m_lineBreakMode);
    auto color = m_highlighted && m_highlightedTextColor ? m_highlightedTextColor : m_textColor;
    NSAttributes attributes;
    attributes.set(NSFontAttributeName, Value(m_font));
    attributes.set(NSForegroundColorAttributeName, Value(color));
    attributes.set(NSParagraphStyleAttributeName, Value(style->copy()));
    return std::make_shared<NSAttributedString>(m_text, std::move(attributes));
}

NSAttributedStringPtr UILabel::layoutText() const {
    return m_attributedText ? m_attributedText : makeAttributedText(true);
}

CGSize UILabel::measure(double width, int64_t lines) const {
    auto text = layoutText();
    if (text->length() == 0)
        return CGSizeZero;
    // A little slack so rounding in the line heights never drops the last allowed line.
    double height = lines > 0 ? lines * m_font->lineHeight() + 0.5 : 0;
    // One line never wraps: it is as wide as its text, whatever the offer.
    CGRect rect = text->boundingRectWithSize(CGSizeMake(lines == 1 ? 0 : width, height),
                                             NSStringDrawingUsesLineFragmentOrigin);
    return CGSizeMake(std::ceil(rect.size.width), std::ceil(rect.size.height));
}

CGSize UILabel::sizeThatFits(CGSize size) {
    // A one-line label reports the width of its whole line, however narrow the offer, as the platform does.
    if (m_numberOfLines == 1)
        return measure(0, 1);
    return measure(size.width, m_numberOfLines);
}

CGSize UILabel::intrinsicContentSize() {
    double width = m_numberOfLines == 1 ? 0 : m_preferredMaxLayoutWidth;
    return measure(width, m_numberOfLines);
}

CGRect UILabel::textRectForBounds(CGRect bounds, int64_t numberOfLines) {
    CGSize size = measure(bounds.size.width, numberOfLines);
    size.width = std::min(size.width, bounds.size.width);
    size.height = std::min(size.height, bounds.size.height);
    return CGRectMake(bounds.origin.x, bounds.origin.y, size.width, size.height);
}

void UILabel::drawTextInRect(CGRect rect) {
    auto text = layoutText();
    if (text->length() == 0)
        return;
    text->drawWithRect(rect, NSStringDrawingUsesLineFragmentOrigin | NSStringDrawingTruncatesLastVisibleLine);
}

void UILabel::drawRect(CGRect) {
    CGRect bounds = this->bounds();
    CGRect textRect = textRectForBounds(bounds, m_numberOfLines);
    // The text block is centred vertically; alignment within the width is the paragraph style's job.
    CGRect rect =
        CGRectMake(bounds.origin.x, bounds.origin.y + (bounds.size.height - textRect.size.height) / 2,
                   bounds.size.width, textRect.size.height);
    drawTextInRect(rect);
}

} // namespace platform
