#pragma once
// NSParagraphStyle / NSMutableParagraphStyle: how lines of attributed text are broken, aligned and spaced.
// Styles are objects held in attribute dictionaries under NSParagraphStyleAttributeName. An NSParagraphStyle
// never changes; a mutable one may change until it is handed to text (copy() it to freeze the values).
// Text layout honours alignment, line break mode, line spacing, line height multiple and limits, and the
// head, first-line and tail indents; paragraph spacing is kept but not laid out.

#include "platform/foundation/Object.h"

#include <cstdint>
#include <memory>

namespace platform {

enum NSTextAlignment : int64_t {
    NSTextAlignmentLeft = 0,
    NSTextAlignmentCenter = 1,
    NSTextAlignmentRight = 2,
    NSTextAlignmentJustified = 3,
    NSTextAlignmentNatural = 4,
};

enum NSLineBreakMode : int64_t {
    NSLineBreakByWordWrapping = 0,
    NSLineBreakByCharWrapping,
    NSLineBreakByClipping,
    NSLineBreakByTruncatingHead,
    NSLineBreakByTruncatingTail,
    NSLineBreakByTruncatingMiddle,
};

class NSParagraphStyle;
class NSMutableParagraphStyle;
using NSParagraphStylePtr = std::shared_ptr<NSParagraphStyle>;
using NSMutableParagraphStylePtr = std::shared_ptr<NSMutableParagraphStyle>;

class NSParagraphStyle : public Object {
public:
    struct Values {
        NSTextAlignment alignment{NSTextAlignmentNatural};
        NSLineBreakMode lineBreakMode{NSLineBreakByWordWrapping};
        double lineSpacing{0};
        double paragraphSpacing{0};
        double paragraphSpacingBefore{0};
        double firstLineHeadIndent{0};
        double headIndent{0};
        double tailIndent{0};
        double minimumLineHeight{0};
        double maximumLineHeight{0};
        double lineHeightMultiple{0};
        bool operator==(const Values&) const = default;
    };

    NSParagraphStyle() = default;
    explicit NSParagraphStyle(const Values& values)
        : m_values(values) {}

    static NSParagraphStylePtr defaultParagraphStyle();

    NSTextAlignment alignment() const { return m_values.alignment; }
    NSLineBreakMode lineBreakMode() const { return m_values.lineBreakMode; }
    double lineSpacing() const { return m_values.lineSpacing; }
    double paragraphSpacing() const { return m_values.paragraphSpacing; }
    double paragraphSpacingBefore() const { return m_values.paragraphSpacingBefore; }
    double firstLineHeadIndent() const { return m_values.firstLineHeadIndent; }
    double headIndent() const { return m_values.headIndent; }
    double tailIndent() const { return m_values.tailIndent; }
    double minimumLineHeight() const { return m_values.minimumLineHeight; }
    double maximumLineHeight() const { return m_values.maximumLineHeight; }
    double lineHeightMultiple() const { return m_values.lineHeightMultiple; }
    const Values& values() const { return m_values; }

    NSParagraphStylePtr copy() const { return std::make_shared<NSParagraphStyle>(m_values); }
    NSMutableParagraphStylePtr mutableCopy() const;
    bool isEqual(const NSParagraphStyle& other) const { return m_values == other.m_values; }

protected:
    Values m_values;
};

class NSMutableParagraphStyle : public NSParagraphStyle {
public:
    NSMutableParagraphStyle() = default;
    explicit NSMutableParagraphStyle(const Values& values)
        : NSParagraphStyle(values) {}

    void setAlignment(NSTextAlignment v) { m_values.alignment = v; }
    void setLineBreakMode(NSLineBreakMode v) { m_values.lineBreakMode = v; }
    // Negative spacings and heights count as 0, as the platform clamps them.
    void setLineSpacing(double v) { m_values.lineSpacing = nonNegative(v); }
    void setParagraphSpacing(double v) { m_values.paragraphSpacing = nonNegative(v); }
    void setParagraphSpacingBefore(double v) { m_values.paragraphSpacingBefore = nonNegative(v); }
    void setFirstLineHeadIndent(double v) { m_values.firstLineHeadIndent = nonNegative(v); }
    void setHeadIndent(double v) { m_values.headIndent = nonNegative(v); }
    void setTailIndent(double v) { m_values.tailIndent = v; }
    void setMinimumLineHeight(double v) { m_values.minimumLineHeight = nonNegative(v); }
    void setMaximumLineHeight(double v) { m_values.maximumLineHeight = nonNegative(v); }
    void setLineHeightMultiple(double v) { m_values.lineHeightMultiple = nonNegative(v); }
    void setParagraphStyle(const NSParagraphStyle& other) { m_values = other.values(); }

private:
    static double nonNegative(double v) { return v > 0 ? v : 0; }
};

inline NSMutableParagraphStylePtr NSParagraphStyle::mutableCopy() const {
    return std::make_shared<NSMutableParagraphStyle>(m_values);
}

} // namespace platform
