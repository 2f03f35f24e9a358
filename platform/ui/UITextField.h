#pragma once
// UITextField: one line of editable text. A tap makes it the first responder (the delegate may refuse),
// which brings up the keyboard (UIKeyboard.h); typing arrives through UIKeyInput at the end of the text,
// each change first put to the delegate's shouldChangeCharacters with the UTF-16 range it replaces.
// Beginning and ending editing tell the delegate, send the editing control events and post the
// UITextField notifications, in that order; typed changes send EditingChanged and post TextDidChange,
// while setText sends and posts nothing, as on the platform. Return asks textFieldShouldReturn and, when
// allowed, sends EditingDidEndOnExit (and resigns if anyone listens for it). The delegate is held weakly.
// Drawing puts the background image across the bounds (or, without one, the border style's frame: a
// black line, a grey bezel, or a white rounded field with a light grey edge), then the placeholder (in its
// colour) in placeholderRectForBounds, or the text in editingRectForBounds while editing and
// textRectForBounds otherwise; subclasses move them by overriding those hooks. The clear button, a grey
// disc with a white cross, comes last in clearButtonRectForBounds whenever its mode and non-empty text show
// it, and the text truncates before it. A tap on it asks the delegate's textFieldShouldClear, then begins
// editing as any tap in the field does. Main thread only.

#include "platform/foundation/Text.h"
#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ParagraphStyle.h"
#include "platform/ui/UIControl.h"
#include "platform/ui/UIKeyboard.h"
#include "platform/ui/UITextInputTraits.h"

#include <memory>
#include <string>

namespace platform {

inline constexpr const char* UITextFieldTextDidBeginEditingNotification =
    "UITextFieldTextDidBeginEditingNotification";
inline constexpr const char* UITextFieldTextDidChangeNotification = "UITextFieldTextDidChangeNotification";
inline constexpr const char* UITextFieldTextDidEndEditingNotification =
    "UITextFieldTextDidEndEditingNotification";

enum UITextBorderStyle : int64_t {
    UITextBorderStyleNone = 0,
    UITextBorderStyleLine = 1,
    UITextBorderStyleBezel = 2,
    UITextBorderStyleRoundedRect = 3,
};

enum UITextFieldViewMode : int64_t {
    UITextFieldViewModeNever = 0,
    UITextFieldViewModeWhileEditing = 1,
    UITextFieldViewModeUnlessEditing = 2,
    UITextFieldViewModeAlways = 3,
};

class UITextField;
using UITextFieldPtr = std::shared_ptr<UITextField>;

// Every method is optional; the defaults allow everything.
class UITextFieldDelegate {
public:
    virtual ~UITextFieldDelegate() = default;
    virtual bool textFieldShouldBeginEditing(UITextField*) { return true; }
    virtual void textFieldDidBeginEditing(UITextField*) {}
    virtual bool textFieldShouldEndEditing(UITextField*) { return true; }
    virtual void textFieldDidEndEditing(UITextField*) {}
    virtual bool textFieldShouldChangeCharactersInRange(UITextField*, Range, const std::string&) {
        return true;
    }
    virtual bool textFieldShouldClear(UITextField*) { return true; }
    virtual bool textFieldShouldReturn(UITextField*) { return true; }
};

class UITextField : public UIControl, public UIKeyInput {
public:
    static UITextFieldPtr create() { return std::make_shared<UITextField>(); }
    static UITextFieldPtr create(CGRect frame) { return std::make_shared<UITextField>(frame); }
    UITextField();
    explicit UITextField(CGRect frame);

    const std::string& text() const { return m_text; }
    void setText(std::string text);
    const std::string& placeholder() const { return m_placeholder; }
    void setPlaceholder(std::string placeholder);
    // Set, it replaces the plain placeholder for drawing and placeholder becomes its string.
    NSAttributedStringPtr attributedPlaceholder() const { return m_attributedPlaceholder; }
    void setAttributedPlaceholder(NSAttributedStringPtr placeholder);
    UIFontPtr font() const { return m_font; }
    void setFont(UIFontPtr font); // null means the system font of 12 points
    // The colour the plain placeholder is drawn in; null means the platform's light grey.
    UIColorPtr placeholderColor() const { return m_placeholderColor; }
    void setPlaceholderColor(UIColorPtr color);
    UIImagePtr background() const { return m_background; }
    void setBackground(UIImagePtr image);
    UIColorPtr textColor() const { return m_textColor; }
    void setTextColor(UIColorPtr color); // null means black
    NSTextAlignment textAlignment() const { return m_textAlignment; }
    void setTextAlignment(int64_t alignment);
    UITextBorderStyle borderStyle() const { return m_borderStyle; }
    void setBorderStyle(int64_t style);
    UITextFieldViewMode clearButtonMode() const { return m_clearButtonMode; }
    void setClearButtonMode(int64_t mode);
    UIViewPtr leftView() const { return m_leftView; }
    void setLeftView(UIViewPtr view);
    UITextFieldViewMode leftViewMode() const { return m_leftViewMode; }
    void setLeftViewMode(int64_t mode);
    UIReturnKeyType returnKeyType() const { return m_returnKeyType; }
    void setReturnKeyType(int64_t type) { m_returnKeyType = static_cast<UIReturnKeyType>(type); }
    UIKeyboardType keyboardType() const { return m_keyboardType; }
    void setKeyboardType(int64_t type) { m_keyboardType = static_cast<UIKeyboardType>(type); }
    bool isSecureTextEntry() const { return m_secureTextEntry; }
    void setSecureTextEntry(bool secure);
    bool clearsOnBeginEditing() const { return m_clearsOnBeginEditing; }
    void setClearsOnBeginEditing(bool clears) { m_clearsOnBeginEditing = clears; }
    std::shared_ptr<UITextFieldDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UITextFieldDelegate>& delegate) { m_delegate = delegate; }
    bool isEditing() const { return m_editing; }

    // What is drawn: the text (bullets when secure) or, when empty, the placeholder in grey.
    std::string displayedText() const;
    bool isClearButtonVisible() const;
    bool isLeftViewVisible() const;
    virtual CGRect leftViewRectForBounds(CGRect bounds);
    virtual CGRect clearButtonRectForBounds(CGRect bounds);
    virtual CGRect textRectForBounds(CGRect bounds);
    // Both default to textRectForBounds.
    virtual CGRect placeholderRectForBounds(CGRect bounds);
    virtual CGRect editingRectForBounds(CGRect bounds);

    bool canBecomeFirstResponder() const override;
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;

    bool hasText() const override { return !m_text.empty(); }
    // "\n" is the return key.
    void insertText(const std::string& text) override;
    void deleteBackward() override;

    void touchesEnded(const UITouchSet& touches, const UIEventPtr& event) override;
    void willMoveToWindow(const std::shared_ptr<UIWindow>& newWindow) override;
    void layoutSubviews() override;
    void drawRect(CGRect rect) override;

private:
    bool visibleInMode(UITextFieldViewMode mode) const;
    void drawText();
    bool replace(Range range, const std::string& replacement);
    void textDidChange();
    void pressReturn();
    void clear();
    void post(const char* name);
    void editingStateChanged();

    std::string m_text;
    std::string m_placeholder;
    NSAttributedStringPtr m_attributedPlaceholder;
    UIFontPtr m_font{UIFont::systemFontOfSize(12)};
    UIColorPtr m_textColor{UIColor::blackColor()};
    UIColorPtr m_placeholderColor;
    UIImagePtr m_background;
    NSTextAlignment m_textAlignment{NSTextAlignmentNatural};
    UITextBorderStyle m_borderStyle{UITextBorderStyleNone};
    UITextFieldViewMode m_clearButtonMode{UITextFieldViewModeNever};
    UIViewPtr m_leftView;
    UITextFieldViewMode m_leftViewMode{UITextFieldViewModeNever};
    UIReturnKeyType m_returnKeyType{UIReturnKeyDefault};
    UIKeyboardType m_keyboardType{UIKeyboardTypeDefault};
    bool m_secureTextEntry{false};
    bool m_clearsOnBeginEditing{false};
    bool m_editing{false};
    std::weak_ptr<UITextFieldDelegate> m_delegate;
};

} // namespace platform
