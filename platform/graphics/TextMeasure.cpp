#include "platform/graphics/TextMeasure.h"

#include "platform/graphics/TextMeasureLayout.h"

namespace platform {

CGRect NSAttributedString::boundingRectWithSize(CGSize size, int64_t options) const {
    if (m_length == 0)
        return CGRectZero;
    bool multiline = options & NSStringDrawingUsesLineFragmentOrigin;
    std::lock_guard lock(detail::textLock());
    detail::TextBox box = detail::layoutText(*this, size.width, size.height, multiline,
                                             options & NSStringDrawingTruncatesLastVisibleLine);
    if (multiline)
        return CGRectMake(0, 0, box.width, box.height);
    return CGRectMake(0, -box.baseline, box.width, box.height);
}

CGSize NSAttributedString::size() const {
    return boundingRectWithSize(CGSizeZero, 0).size;
}

CGRect boundingRectWithSize(const std::string& text, CGSize size, int64_t options,
                            const NSAttributes& attributes) {
    return NSAttributedString(text, attributes).boundingRectWithSize(size, options);
}

CGSize sizeWithAttributes(const std::string& text, const NSAttributes& attributes) {
    return NSAttributedString(text, attributes).size();
}

} // namespace platform
