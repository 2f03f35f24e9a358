#pragma once
// UITextView: scrolling, multi-line editable text. An editable text view becomes the first responder on a
// tap (the delegate may refuse) and takes typing at the end of its text; "\n" is a newline, put to the
// delegate's shouldChangeText like any other text (screens catch return there). Typed changes call
// textViewDidChange and post TextDidChange; setText does neither. The content size follows the text's
// height inside textContainerInset. The delegate is held weakly and also gets the scroll callbacks.
// Main thread only.

#include "platform/foundation/Text.h"
#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/ParagraphStyle.h"
#include "platform/ui/UIKeyboard.h"
#include "platform/ui/UIScrollView.h"
#include "platform/ui/UITextInputTraits.h"

namespace platform {

inline constexpr const char* UITextViewTextDidBeginEditingNotification =
    "UITextViewTextDidBeginEditingNotification";
inline constexpr const char* UITextViewTextDidChangeNotification = "UITextViewTextDidChangeNotification";
inline constexpr const char* UITextViewTextDidEndEditingNotification =
    "UITextViewTextDidEndEditingNotification";

class UITextView;
using UITextViewPtr = std::shared_ptr<UITextView>;

class UITextViewDelegate : public UIScrollViewDelegate {
public:
    virtual bool textViewShouldBeginEditing(UITextView*) { return true; }
    virtual void textViewDidBeginEditing(UITextView*) {}
    virtual bool textViewShouldEndEditing(UITextView*) { return true; }
    virtual void textViewDidEndEditing(UITextView*) {}
    virtual bool textViewShouldChangeTextInRange(UITextView*, Range, const std::string&) { return true; }
    virtual void textViewDidChange(UITextView*) {}
};

class UITextView : public UIScrollView, public UIKeyInput {
public:
    static UITextViewPtr create() { return std::make_shared<UITextView>(); }
    static UITextViewPtr create(CGRect frame) { return std::make_shared<UITextView>(frame); }
    UITextView();
    explicit UITextView(CGRect frame);

    const std::string& text() const { return m_text; }
    void setText(std::string text);
    UIFontPtr font() const { return m_font; }
    void setFont(UIFontPtr font); // null means the system font of 12 points
    UIColorPtr textColor() const { return m_textColor; }
    void setTextColor(UIColorPtr color); // null means black
    NSTextAlignment textAlignment() const { return m_textAlignment; }
    void setTextAlignment(int64_t alignment);
    UIEdgeInsets textContainerInset() const { return m_textContainerInset; }
    void setTextContainerInset(UIEdgeInsets inset);
    bool isEditable() const { return m_editable; }
    void setEditable(bool editable);
    bool isSelectable() const { return m_selectable; }
    void setSelectable(bool selectable) { m_selectable = selectable; }
    UIReturnKeyType returnKeyType() const { return m_returnKeyType; }
    void setReturnKeyType(int64_t type) { m_returnKeyType = static_cast<UIReturnKeyType>(type); }
    UIKeyboardType keyboardType() const { return m_keyboardType; }
    void setKeyboardType(int64_t type) { m_keyboardType = static_cast<UIKeyboardType>(type); }
    std::shared_ptr<UITextViewDelegate> delegate() const;
    void setDelegate(const std::shared_ptr<UITextViewDelegate>& delegate);
    bool isEditing() const { return m_editing; }

    bool canBecomeFirstResponder() const override { return m_editable; }
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;
    bool hasText() const override { return !m_text.empty(); }
    void insertText(const std::string& text) override;
    void deleteBackward() override;

    void touchesEnded(const UITouchSet& touches, const UIEventPtr& event) override;
    void willMoveToWindow(const std::shared_ptr<UIWindow>& newWindow) override;
    void layoutSubviews() override;
    void drawRect(CGRect rect) override;

private:
    NSAttributedStringPtr attributedText() const;
    bool replace(Range range, const std::string& replacement);
    void textDidChange();
    void updateContentSize();
    void post(const char* name);

    std::string m_text;
    UIFontPtr m_font{UIFont::systemFontOfSize(12)};
    UIColorPtr m_textColor{UIColor::blackColor()};
    NSTextAlignment m_textAlignment{NSTextAlignmentNatural};
    UIEdgeInsets m_textContainerInset{8, 0, 8, 0};
    UIReturnKeyType m_returnKeyType{UIReturnKeyDefault};
    UIKeyboardType m_keyboardType{UIKeyboardTypeDefault};
    bool m_editable{true};
    bool m_selectable{true};
    bool m_editing{false};
};

} // namespace platform
