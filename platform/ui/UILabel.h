#pragma once
// UILabel: read-only text. The text, font, colour, alignment and line break mode make its attributed text
// (setting attributedText instead replaces them for drawing, and text becomes its string). sizeThatFits
// measures with the real fonts (TextMeasure), wrapping at the given width when numberOfLines is not 1 and
// keeping at most numberOfLines lines (0: any number); sizes are rounded up to whole points, as the
// platform's are. Drawing centres the text block vertically in the bounds. User interaction is off by
// default. Main thread only.

#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/ParagraphStyle.h"
#include "platform/ui/UIView.h"

#include <memory>
#include <string>

namespace platform {

class UILabel;
using UILabelPtr = std::shared_ptr<UILabel>;

class UILabel : public UIView {
public:
    static UILabelPtr create() { return std::make_shared<UILabel>(); }
    static UILabelPtr create(CGRect frame) { return std::make_shared<UILabel>(frame); }
    UILabel();
    explicit UILabel(CGRect frame);

    const std::string& text() const { return m_text; }
    virtual void setText(std::string text);
    // What is drawn and measured; never null (empty text gives an empty string).
    NSAttributedStringPtr attributedText() const;
    virtual void setAttributedText(NSAttributedStringPtr text);
    UIFontPtr font() const { return m_font; }
    void setFont(UIFontPtr font); // null means the system font of 17 points
    UIColorPtr textColor() const { return m_textColor; }
    void setTextColor(UIColorPtr color); // null means black
    UIColorPtr highlightedTextColor() const { return m_highlightedTextColor; }
    void setHighlightedTextColor(UIColorPtr color) { m_highlightedTextColor = std::move(color); }
    NSTextAlignment textAlignment() const { return m_textAlignment; }
    void setTextAlignment(NSTextAlignment alignment);
    NSLineBreakMode lineBreakMode() const { return m_lineBreakMode; }
    void setLineBreakMode(NSLineBreakMode mode);
    int64_t numberOfLines() const { return m_numberOfLines; }
    void setNumberOfLines(int64_t lines) { m_numberOfLines = lines < 0 ? 0 : lines; }
    bool isHighlighted() const { return m_highlighted; }
    void setHighlighted(bool highlighted) { m_highlighted = highlighted; }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool adjustsFontSizeToFitWidth() const { return m_adjustsFontSizeToFitWidth; }
    void setAdjustsFontSizeToFitWidth(bool on) { m_adjustsFontSizeToFitWidth = on; }
    double minimumScaleFactor() const { return m_minimumScaleFactor; }
    void setMinimumScaleFactor(double factor) { m_minimumScaleFactor = factor; }
    double preferredMaxLayoutWidth() const { return m_preferredMaxLayoutWidth; }
    void setPreferredMaxLayoutWidth(double width) { m_preferredMaxLayoutWidth = width; }
    UIColorPtr shadowColor() const { return m_shadowColor; }
    void setShadowColor(UIColorPtr color) { m_shadowColor = std::move(color); }
    CGSize shadowOffset() const { return m_shadowOffset; }
    void setShadowOffset(CGSize offset) { m_shadowOffset = offset; }

    CGSize sizeThatFits(CGSize size) override;
    CGSize intrinsicContentSize() override;
    // The rectangle the text takes within bounds, for at most numberOfLines lines.
    virtual CGRect textRectForBounds(CGRect bounds, int64_t numberOfLines);
    virtual void drawTextInRect(CGRect rect);
    void drawRect(CGRect rect) override;

private:
    NSAttributedStringPtr makeAttributedText(bool forLayout) const;
    NSAttributedStringPtr layoutText() const;
    NSLineBreakMode layoutLineBreakMode() const;
    CGSize measure(double width, int64_t lines) const;

    std::string m_text;
    NSAttributedStringPtr m_attributedText; // set only through setAttributedText
    UIFontPtr m_font;
    UIColorPtr m_textColor;
    UIColorPtr m_highlightedTextColor;
    NSTextAlignment m_textAlignment{NSTextAlignmentNatural};
    NSLineBreakMode m_lineBreakMode{NSLineBreakByTruncatingTail};
    int64_t m_numberOfLines{1};
    bool m_highlighted{false};
    bool m_enabled{true};
    bool m_adjustsFontSizeToFitWidth{false};
    double m_minimumScaleFactor{0};
    double m_preferredMaxLayoutWidth{0};
    UIColorPtr m_shadowColor;
    CGSize m_shadowOffset{0, -1};
};

} // namespace platform
