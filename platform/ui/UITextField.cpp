#include "platform/ui/UITextField.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/ui/RoundedRectPath.h"

#include <algorithm>

namespace platform {

namespace {
// The platform's clear button is a 19-point circle inset from the right edge; the text keeps clear of it.
constexpr double clearButtonSize = 19;
constexpr double clearButtonInset = 5;
constexpr double textInset = 7;
constexpr double roundedRectRadius = 5;

// The frame a border style draws around the text: a thin line just inside the bounds (black for a line,
// grey for a bezel); the rounded style also fills its shape white, as the platform's field looks
// wherever it sits.
void drawBorder(UITextBorderStyle style, CGRect bounds) {
    auto context = UIGraphicsGetCurrentContext();
    if (!context || style == UITextBorderStyleNone)
        return;
    const CGRect line = CGRectInset(bounds, 0.5, 0.5);
    context->beginPath();
    detail::addRoundedRect(context, line, style == UITextBorderStyleRoundedRect ? roundedRectRadius : 0);
    if (style == UITextBorderStyleRoundedRect) {
        context->setFillColorWithColor(UIColor::whiteColor()->CGColor());
        context->fillPath();
        context->beginPath();
        detail::addRoundedRect(context, line, roundedRectRadius);
    }
    double grey = style == UITextBorderStyleLine ? 0 : style == UITextBorderStyleBezel ? 0.5 : 0.8;
    context->setStrokeColorWithColor(UIColor::colorWithWhite(grey, 1)->CGColor());
    context->setLineWidth(1);
    context->strokePath();
}

// The platform's clear button: a grey disc with a thin white cross spanning about half of it.
void drawClearButton(CGRect rect) {
    auto context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    context->setFillColorWithColor(UIColor::colorWithWhite(0.7, 1)->CGColor());
    context->fillEllipseInRect(rect);
    const double arm = std::min(rect.size.width, rect.size.height) / 4;
    const double x = CGRectGetMidX(rect);
    const double y = CGRectGetMidY(rect);
    context->beginPath();
    context->moveToPoint(x - arm, y - arm);
    context->addLineToPoint(x + arm, y + arm);
    context->moveToPoint(x + arm, y - arm);
    context->addLineToPoint(x - arm, y + arm);
    context->setStrokeColorWithColor(UIColor::whiteColor()->CGColor());
    context->setLineWidth(1.5);
    context->setLineCap(kCGLineCapRound);
    context->strokePath();
}
} // namespace

UITextField::UITextField() = default;

UITextField::UITextField(CGRect frame)
    : UIControl(frame) {}

void UITextField::setText(std::string text) {
    m_text = std::move(text);
    setNeedsDisplay();
}

void UITextField::setPlaceholder(std::string placeholder) {
    m_placeholder = std::move(placeholder);
    m_attributedPlaceholder = nullptr;
    setNeedsDisplay();
}

void UITextField::setAttributedPlaceholder(NSAttributedStringPtr placeholder) {
    m_placeholder = placeholder ? placeholder->string() : std::string();
    m_attributedPlaceholder = std::move(placeholder);
    setNeedsDisplay();
}

void UITextField::setFont(UIFontPtr font) {
    m_font = font ? std::move(font) : UIFont::systemFontOfSize(12);
    setNeedsDisplay();
}

void UITextField::setTextColor(UIColorPtr color) {
    m_textColor = color ? std::move(color) : UIColor::blackColor();
    setNeedsDisplay();
}

void UITextField::setPlaceholderColor(UIColorPtr color) {
    m_placeholderColor = std::move(color);
    setNeedsDisplay();
}

void UITextField::setBackground(UIImagePtr image) {
    m_background = std::move(image);
    setNeedsDisplay();
}

void UITextField::setTextAlignment(int64_t alignment) {
    m_textAlignment = static_cast<NSTextAlignment>(alignment);
    setNeedsDisplay();
}

void UITextField::setBorderStyle(int64_t style) {
    m_borderStyle = static_cast<UITextBorderStyle>(style);
    setNeedsDisplay();
}

void UITextField::setClearButtonMode(int64_t mode) {
    m_clearButtonMode = static_cast<UITextFieldViewMode>(mode);
    setNeedsLayout();
}

void UITextField::setLeftView(UIViewPtr view) {
    if (m_leftView)
        m_leftView->removeFromSuperview();
    m_leftView = std::move(view);
    editingStateChanged();
}

void UITextField::setLeftViewMode(int64_t mode) {
    m_leftViewMode = static_cast<UITextFieldViewMode>(mode);
    editingStateChanged();
}

void UITextField::setSecureTextEntry(bool secure) {
    m_secureTextEntry = secure;
    setNeedsDisplay();
}

std::string UITextField::displayedText() const {
    if (m_text.empty())
        return m_placeholder;
    if (!m_secureTextEntry)
        return m_text;
    std::string bullets;
    for (size_t i = 0, n = text::composedCharacterCount(m_text); i < n; ++i)
        bullets += "\u2022";
    return bullets;
}

bool UITextField::visibleInMode(UITextFieldViewMode mode) const {
    switch (mode) {
    case UITextFieldViewModeNever:
        return false;
    case UITextFieldViewModeWhileEditing:
        return m_editing;
    case UITextFieldViewModeUnlessEditing:
        return !m_editing;
    case UITextFieldViewModeAlways:
        return true;
    }
    return false;
}

bool UITextField::isClearButtonVisible() const {
    // The clear button has nothing to clear in an empty field, so it never shows there.
    return !m_text.empty() && visibleInMode(m_clearButtonMode);
}

bool UITextField::isLeftViewVisible() const {
    return m_leftView && visibleInMode(m_leftViewMode);
}

CGRect UITextField::leftViewRectForBounds(CGRect bounds) {
    if (!m_leftView)
        return CGRectZero;
    CGSize size = m_leftView->bounds().size;
    return CGRectMake(bounds.origin.x, bounds.origin.y + (bounds.size.height - size.height) / 2, size.width,
                      size.height);
}

CGRect UITextField::clearButtonRectForBounds(CGRect bounds) {
    return CGRectMake(CGRectGetMaxX(bounds) - clearButtonInset - clearButtonSize,
                      bounds.origin.y + (bounds.size.height - clearButtonSize) / 2, clearButtonSize,
                      clearButtonSize);
}

CGRect UITextField::textRectForBounds(CGRect bounds) {
    double left = bounds.origin.x + (m_borderStyle == UITextBorderStyleNone ? 0 : textInset);
    if (isLeftViewVisible())
        left = std::max(left, CGRectGetMaxX(leftViewRectForBounds(bounds)));
    double right = CGRectGetMaxX(bounds) - (m_borderStyle == UITextBorderStyleNone ? 0 : textInset);
    if (isClearButtonVisible())
        right = std::min(right, CGRectGetMinX(clearButtonRectForBounds(bounds)));
    return CGRectMake(left, bounds.origin.y, std::max(0.0, right - left), bounds.size.height);
}

CGRect UITextField::placeholderRectForBounds(CGRect bounds) {
    return textRectForBounds(bounds);
}

CGRect UITextField::editingRectForBounds(CGRect bounds) {
    return textRectForBounds(bounds);
}

bool UITextField::canBecomeFirstResponder() const {
    return isEnabled();
}

bool UITextField::becomeFirstResponder() {
    if (isFirstResponder())
        return true;
    if (!canBecomeFirstResponder())
        return false;
    if (auto delegate = m_delegate.lock(); delegate && !delegate->textFieldShouldBeginEditing(this))
        return false;
    UIKeyboard::beginFocusChange();
    bool became = UIControl::becomeFirstResponder();
    if (became) {
        m_editing = true;
        if (m_clearsOnBeginEditing)
            m_text.clear();
        editingStateChanged();
        if (auto delegate = m_delegate.lock())
            delegate->textFieldDidBeginEditing(this);
        sendActionsForControlEvents(UIControlEventEditingDidBegin);
        post(UITextFieldTextDidBeginEditingNotification);
    }
    UIKeyboard::endFocusChange();
    return became;
}

bool UITextField::resignFirstResponder() {
    if (!isFirstResponder())
        return UIControl::resignFirstResponder();
    if (auto delegate = m_delegate.lock(); delegate && !delegate->textFieldShouldEndEditing(this))
        return false;
    UIKeyboard::beginFocusChange();
    bool resigned = UIControl::resignFirstResponder();
    if (resigned) {
        m_editing = false;
        editingStateChanged();
        if (auto delegate = m_delegate.lock())
            delegate->textFieldDidEndEditing(this);
        sendActionsForControlEvents(UIControlEventEditingDidEnd);
        post(UITextFieldTextDidEndEditingNotification);
    }
    UIKeyboard::endFocusChange();
    return resigned;
}

void UITextField::insertText(const std::string& text) {
    if (!m_editing)
        return;
    if (text == "\n") {
        pressReturn();
        return;
    }
    if (replace(Range{text::utf16Length(m_text), 0}, text))
        textDidChange();
}

void UITextField::deleteBackward() {
    if (!m_editing || m_text.empty())
        return;
    auto characters = text::composedCharacters(m_text);
    if (replace(characters.back().utf16, ""))
        textDidChange();
}

bool UITextField::replace(Range range, const std::string& replacement) {
    if (auto delegate = m_delegate.lock();
        delegate && !delegate->textFieldShouldChangeCharactersInRange(this, range, replacement))
        return false;
    size_t start = text::byteOffsetOfUTF16Index(m_text, range.location);
    size_t end = text::byteOffsetOfUTF16Index(m_text, range.end());
    m_text.replace(start, end - start, replacement);
    return true;
}

void UITextField::textDidChange() {
    editingStateChanged();
    sendActionsForControlEvents(UIControlEventEditingChanged);
    post(UITextFieldTextDidChangeNotification);
}

void UITextField::pressReturn() {
    if (auto delegate = m_delegate.lock(); delegate && !delegate->textFieldShouldReturn(this))
        return;
    // The keyboard goes away on return only for a field someone listens to for that; others keep editing.
    bool dismisses = (allControlEvents() & UIControlEventEditingDidEndOnExit) != 0;
    sendActionsForControlEvents(UIControlEventEditingDidEndOnExit);
    if (dismisses)
        resignFirstResponder();
}

void UITextField::clear() {
    if (auto delegate = m_delegate.lock(); delegate && !delegate->textFieldShouldClear(this))
        return;
    m_text.clear();
    textDidChange();
}

void UITextField::post(const char* name) {
    NotificationCenter::defaultCenter().postNotificationName(name, sharedAs<Object>());
}

void UITextField::editingStateChanged() {
    setNeedsLayout();
    setNeedsDisplay();
}

void UITextField::touchesEnded(const UITouchSet& touches, const UIEventPtr& event) {
    auto self = sharedAs<UIView>();
    bool inside = !touches.empty() && CGRectContainsPoint(bounds(), touches.front()->locationInView(self));
    bool onClearButton =
        inside && isClearButtonVisible() &&
        CGRectContainsPoint(clearButtonRectForBounds(bounds()), touches.front()->locationInView(self));
    UIControl::touchesEnded(touches, event);
    if (!inside || !isEnabled())
        return;
    // Clearing comes first, so a delegate may clear an idle field and still refuse the editing that
    // follows (and with it the keyboard).
    if (onClearButton)
        clear();
    becomeFirstResponder();
}

void UITextField::willMoveToWindow(const std::shared_ptr<UIWindow>& newWindow) {
    // Text leaving the screen stops being edited, so the keyboard does not stay up for nothing.
    if (!newWindow && isFirstResponder())
        resignFirstResponder();
    UIControl::willMoveToWindow(newWindow);
}

void UITextField::layoutSubviews() {
    if (!m_leftView)
        return;
    if (!isLeftViewVisible()) {
        m_leftView->removeFromSuperview();
        return;
    }
    if (m_leftView->superview().get() != this)
        addSubview(m_leftView);
    m_leftView->setFrame(leftViewRectForBounds(bounds()));
}

void UITextField::drawRect(CGRect) {
    // A background image replaces whatever the border style would draw, as on the platform.
    if (m_background)
        drawInRect(m_background, bounds());
    else
        drawBorder(m_borderStyle, bounds());
    drawText();
    if (isClearButtonVisible())
        drawClearButton(clearButtonRectForBounds(bounds()));
}

void UITextField::drawText() {
    bool placeholderShown = m_text.empty();
    NSAttributedStringPtr text;
    if (placeholderShown && m_attributedPlaceholder) {
        text = m_attributedPlaceholder;
    } else {
        std::string shown = displayedText();
        if (shown.empty())
            return;
        auto style = std::make_shared<NSMutableParagraphStyle>();
        style->setAlignment(m_textAlignment);
        style->setLineBreakMode(NSLineBreakByTruncatingTail);
        NSAttributes attributes;
        attributes.set(NSFontAttributeName, Value(m_font));
        UIColorPtr placeholderColor =
            m_placeholderColor ? m_placeholderColor : UIColor::colorWithWhite(0.7, 1);
        attributes.set(NSForegroundColorAttributeName,
                       Value(placeholderShown ? placeholderColor : m_textColor));
        attributes.set(NSParagraphStyleAttributeName, Value(style->copy()));
        text = std::make_shared<NSAttributedString>(shown, std::move(attributes));
    }
    CGRect rect = placeholderShown ? placeholderRectForBounds(bounds())
                  : m_editing      ? editingRectForBounds(bounds())
                                   : textRectForBounds(bounds());
    // A subclass may move the text's rectangle right and keep its width, which would run the text under
    // the clear button; the text truncates before the button instead.
    if (isClearButtonVisible()) {
        double buttonLeft = CGRectGetMinX(clearButtonRectForBounds(bounds()));
        rect.size.width = std::max(0.0, std::min(rect.size.width, buttonLeft - rect.origin.x));
    }
    double lineHeight = m_font->lineHeight();
    rect.origin.y += (rect.size.height - lineHeight) / 2;
    rect.size.height = lineHeight;
    text->drawWithRect(rect, NSStringDrawingUsesLineFragmentOrigin | NSStringDrawingTruncatesLastVisibleLine);
}

} // namespace platform
