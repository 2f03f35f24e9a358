#pragma once
// NSAttributedString / NSMutableAttributedString: UTF-8 text with attribute dictionaries over runs of UTF-16
// units, as the platform counts. Attribute values are Values; fonts (UIFont), colours (UIColor) and paragraph
// styles (NSParagraphStyle) are held as objects under the platform's key names below.
//
// Promises: ranges and indexes are in UTF-16 units; a range that reaches past the end raises
// NSRangeException (platform/foundation/Exception.h), as the platform does. Runs with equal attributes are
// merged, so attributesAtIndex reports the longest range with the same attributes. Attribute values compare
// as the platform's isEqual: fonts, colours and paragraph styles by value, other objects by identity.
// Not synchronised: share immutable strings freely, change a mutable one from one thread at a time.

#include "platform/foundation/Object.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/Value.h"
#include "platform/graphics/Geometry.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr const char* NSFontAttributeName = "NSFont";
inline constexpr const char* NSParagraphStyleAttributeName = "NSParagraphStyle";
inline constexpr const char* NSForegroundColorAttributeName = "NSColor";
inline constexpr const char* NSBackgroundColorAttributeName = "NSBackgroundColor";
inline constexpr const char* NSKernAttributeName = "NSKern";
inline constexpr const char* NSUnderlineStyleAttributeName = "NSUnderline";
inline constexpr const char* NSStrikethroughStyleAttributeName = "NSStrikethrough";
inline constexpr const char* NSBaselineOffsetAttributeName = "NSBaselineOffset";
inline constexpr const char* NSLigatureAttributeName = "NSLigature";
inline constexpr const char* NSStrokeColorAttributeName = "NSStrokeColor";
inline constexpr const char* NSStrokeWidthAttributeName = "NSStrokeWidth";
inline constexpr const char* NSShadowAttributeName = "NSShadow";
inline constexpr const char* NSLinkAttributeName = "NSLink";

enum NSUnderlineStyle : int64_t {
    NSUnderlineStyleNone = 0x00,
    NSUnderlineStyleSingle = 0x01,
    NSUnderlineStyleThick = 0x02,
    NSUnderlineStyleDouble = 0x09,
};

// Options of boundingRectWithSize and drawWithRect.
enum NSStringDrawingOptions : int64_t {
    NSStringDrawingUsesLineFragmentOrigin = 1 << 0,
    NSStringDrawingUsesFontLeading = 1 << 1,
    NSStringDrawingUsesDeviceMetrics = 1 << 3,
    NSStringDrawingTruncatesLastVisibleLine = 1 << 5,
};

enum NSAttributedStringEnumerationOptions : uint64_t {
    NSAttributedStringEnumerationReverse = 1 << 1,
    NSAttributedStringEnumerationLongestEffectiveRangeNotRequired = 1 << 20,
};

using NSAttributes = ValueDictionary;

class NSAttributedString;
class NSMutableAttributedString;
using NSAttributedStringPtr = std::shared_ptr<NSAttributedString>;
using NSMutableAttributedStringPtr = std::shared_ptr<NSMutableAttributedString>;

// Whether two attribute dictionaries hold the same keys with isEqual values.
bool NSAttributesEqual(const NSAttributes& a, const NSAttributes& b);

class NSAttributedString : public Object {
public:
    NSAttributedString() = default;
    explicit NSAttributedString(std::string string);
    NSAttributedString(std::string string, NSAttributes attributes);

    const std::string& string() const { return m_string; }
    uint64_t length() const { return m_length; }

    // The attributes at the index and, when asked, the whole run that has them.
    NSAttributes attributesAtIndex(uint64_t location, Range* effectiveRange) const;
    Value attribute(std::string_view name, uint64_t location, Range* effectiveRange) const;
    NSAttributedStringPtr attributedSubstringFromRange(Range range) const;

    // Calls `block` for each run inside `range` (clipped to it), in order or reversed; *stop = true ends it.
    void enumerateAttributesInRange(
        Range range, uint64_t options,
        const std::function<void(const NSAttributes&, Range, bool* stop)>& block) const;
    // Calls `block` for each stretch where the one attribute keeps its value (nil where it is absent).
    void enumerateAttribute(std::string_view name, Range range, uint64_t options,
                            const std::function<void(const Value&, Range, bool* stop)>& block) const;

    bool isEqualToAttributedString(const NSAttributedString& other) const;
    NSAttributedStringPtr copy() const;
    NSMutableAttributedStringPtr mutableCopy() const;

    // Measuring (TextMeasure.cpp): the rectangle the text takes within `size`. With
    // NSStringDrawingUsesLineFragmentOrigin the text wraps at size.width and the rectangle starts at (0, 0)
    // and holds the whole lines that fit in size.height (at least the first); without it the text is one
    // line and the rectangle is placed relative to the first baseline (its y is minus the ascent). A width
    // or height at or below zero means unlimited. Sizes are not rounded.
    CGRect boundingRectWithSize(CGSize size, int64_t options) const;
    CGSize size() const; // one line per paragraph, unlimited

    // Drawing into the current graphics context (GraphicsContextText.cpp): wrapped within the rectangle
    // (whole lines that fit), at a point (one line per paragraph, top left at the point), or per options.
    void drawInRect(CGRect rect) const;
    void drawAtPoint(CGPoint point) const;
    void drawWithRect(CGRect rect, int64_t options) const;

    std::string description() const override;

    struct Run {
        uint64_t length{0};
        NSAttributes attributes;
    };
    // The runs in order, covering the whole length (empty for empty text); for the layout code.
    const std::vector<Run>& runs() const { return m_runs; }

protected:
    // Checks that the range lies inside the text; raises NSRangeException otherwise.
    void checkRange(Range range, const char* operation) const;
    void normalise();
    size_t runAt(uint64_t location, uint64_t* runStart) const;

    std::string m_string;
    uint64_t m_length{0};
    std::vector<Run> m_runs;
};

class NSMutableAttributedString : public NSAttributedString {
public:
    using NSAttributedString::NSAttributedString;

    // New characters take the attributes of the first replaced character; for an empty range those of the
    // character before it, or at the start those of the character after it, as the platform does.
    void replaceCharactersInRange(Range range, std::string_view string);
    void replaceCharactersInRange(Range range, const NSAttributedString& string);
    void setAttributes(const NSAttributes& attributes, Range range);
    void addAttribute(std::string_view name, const Value& value, Range range);
    void addAttributes(const NSAttributes& attributes, Range range);
    void removeAttribute(std::string_view name, Range range);
    void insertAttributedString(const NSAttributedString& string, uint64_t location);
    void appendAttributedString(const NSAttributedString& string);
    void deleteCharactersInRange(Range range);
    void setAttributedString(const NSAttributedString& string);
    void beginEditing() {}
    void endEditing() {}

private:
    // Splits runs so that `location` is a run boundary; returns the index of the run starting there.
    size_t splitAt(uint64_t location);
    void editAttributes(Range range, const std::function<void(NSAttributes&)>& edit);
    void replace(Range range, std::string_view text, const std::vector<Run>& runs);
};

} // namespace platform
