#include "platform/ui/UITextView.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/graphics/Color.h"
#include "platform/ui/UITouch.h"

#include <cmath>

namespace platform {

namespace {
// The platform's text container keeps five points clear at each side of every line.
constexpr double lineFragmentPadding = 5;
} // namespace

UITextView::UITextView() = default;

UITextView::UITextView(CGRect frame)
    : UIScrollView(frame) {}

void UITextView::setText(std::string text) {
    m_text = std::move(text);
    updateContentSize();
    setNeedsDisplay();
}

void UITextView::setFont(UIFontPtr font) {
    m_font = font ? std::move(font) : UIFont::systemFontOfSize(12);
    updateContentSize();
    setNeedsDisplay();
}

void UITextView::setTextColor(UIColorPtr color) {
    m_textColor = color ? std::move(color) : UIColor::blackColor();
    setNeedsDisplay();
}

void UITextView::setTextAlignment(int64_t alignment) {
    m_textAlignment = static_cast<NSTextAlignment>(alignment);
    setNeedsDisplay();
}

void UITextView::setTextContainerInset(UIEdgeInsets inset) {
    m_textContainerInset = inset;
    updateContentSize();
    setNeedsDisplay();
}

void UITextView::setEditable(bool editable) {
    m_editable = editable;
    if (!editable && isFirstResponder())
        resignFirstResponder();
}

std::shared_ptr<UITextViewDelegate> UITextView::delegate() const {
    return std::dynamic_pointer_cast<UITextViewDelegate>(UIScrollView::delegate());
}

void UITextView::setDelegate(const std::shared_ptr<UITextViewDelegate>& delegate) {
    UIScrollView::setDelegate(delegate);
}

bool UITextView::becomeFirstResponder() {
    if (isFirstResponder())
        return true;
    if (!canBecomeFirstResponder())
        return false;
    if (auto delegate = this->delegate(); delegate && !delegate->textViewShouldBeginEditing(this))
        return false;
    UIKeyboard::beginFocusChange();
    bool became = UIScrollView::becomeFirstResponder();
    if (became) {
        m_editing = true;
        if (auto delegate = this->delegate())
            delegate->textViewDidBeginEditing(this);
        post(UITextViewTextDidBeginEditingNotification);
    }
    UIKeyboard::endFocusChange();
    return became;
}

bool UITextView::resignFirstResponder() {
    if (!isFirstResponder())
        return UIScrollView::resignFirstResponder();
    if (auto delegate = this->delegate(); delegate && !delegate->textViewShouldEndEditing(this))
        return false;
    UIKeyboard::beginFocusChange();
    bool resigned = UIScrollView::resignFirstResponder();
    if (resigned) {
        m_editing = false;
        if (auto delegate = this->delegate())
            delegate->textViewDidEndEditing(this);
        post(UITextViewTextDidEndEditingNotification);
    }
    UIKeyboard::endFocusChange();
    return resigned;
}

void UITextView::insertText(const std::string& text) {
    if (m_editing && replace(Range{text::utf16Length(m_text), 0}, text))
        textDidChange();
}

void UITextView::deleteBackward() {
    if (!m_editing || m_text.empty())
        return;
    if (replace(text::composedCharacters(m_text).back().utf16, ""))
        textDidChange();
}

bool UITextView::replace(Range range, const std::string& replacement) {
    if (auto delegate = this->delegate();
        delegate && !delegate->textViewShouldChangeTextInRange(this, range, replacement))
        return false;
    size_t start = text::byteOffsetOfUTF16Index(m_text, range.location);
    size_t end = text::byteOffsetOfUTF16Index(m_text, range.end());
    m_text.replace(start, end - start, replacement);
    return true;
}

void UITextView::textDidChange() {
    updateContentSize();
    setNeedsDisplay();
    if (auto delegate = this->delegate())
        delegate->textViewDidChange(this);
    post(UITextViewTextDidChangeNotification);
}

void UITextView::post(const char* name) {
    NotificationCenter::defaultCenter().postNotificationName(name, sharedAs<Object>());
}

NSAttributedStringPtr UITextView::attributedText() const {
    auto style = std::make_shared<NSMutableParagraphStyle>();
    style->setAlignment(m_textAlignment);
    style->setLineBreakMode(NSLineBreakByWordWrapping);
    NSAttributes attributes;
    attributes.set(NSFontAttributeName, Value(m_font));
    attributes.set(NSForegroundColorAttributeName, Value(m_textColor));
    attributes.set(NSParagraphStyleAttributeName, Value(style->copy()));
    return std::make_shared<NSAttributedString>(m_text, std::move(attributes));
}

void UITextView::updateContentSize() {
    CGRect bounds = this->bounds();
    double width =
        bounds.size.width - m_textContainerInset.left - m_textContainerInset.right - 2 * lineFragmentPadding;
    double textHeight = m_font->lineHeight();
    if (!m_text.empty() && width > 0) {
        CGRect used = attributedText()->boundingRectWithSize(CGSizeMake(width, 0),
                                                             NSStringDrawingUsesLineFragmentOrigin);
        textHeight = std::max(textHeight, std::ceil(used.size.height));
    }
    setContentSize(
        CGSizeMake(bounds.size.width, textHeight + m_textContainerInset.top + m_textContainerInset.bottom));
}

void UITextView::touchesEnded(const UITouchSet& touches, const UIEventPtr& event) {
    UIScrollView::touchesEnded(touches, event);
    // A drag scrolls the text; only a tap starts editing.
    if (!lastTouchWasDrag() && m_editable)
        becomeFirstResponder();
}

void UITextView::willMoveToWindow(const std::shared_ptr<UIWindow>& newWindow) {
    // Text leaving the screen stops being edited, so the keyboard does not stay up for nothing.
    if (!newWindow && isFirstResponder())
        resignFirstResponder();
    UIScrollView::willMoveToWindow(newWindow);
}

void UITextView::layoutSubviews() {
    UIScrollView::layoutSubviews();
    updateContentSize();
}

void UITextView::drawRect(CGRect) {
    if (m_text.empty())
        return;
    CGRect bounds = this->bounds();
    CGRect rect = CGRectMake(m_textContainerInset.left + lineFragmentPadding, m_textContainerInset.top,
                             bounds.size.width - m_textContainerInset.left - m_textContainerInset.right -
                                 2 * lineFragmentPadding,
                             contentSize().height - m_textContainerInset.top - m_textContainerInset.bottom);
    attributedText()->drawWithRect(rect, NSStringDrawingUsesLineFragmentOrigin);
}

} // namespace platform
