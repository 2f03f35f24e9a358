#pragma once
// The on-screen keyboard, headless: it has no view, only the notifications and frames the platform
// gives. It is shown while the first responder takes key input (a UIKeyInput: text fields, text views)
// and hidden when none does; moving focus from one such input to another keeps it up and posts nothing.
// Each change posts WillChangeFrame, Will(Show|Hide), DidChangeFrame, Did(Show|Hide) on the default
// center, in that order, each with the animation duration (a number) and the begin and end frames in the
// user info; frames are rectangle strings (NSStringFromCGRect; read them back with keyboardFrameEnd/Begin).
// Main thread only.

#include "platform/foundation/NotificationCenter.h"
#include "platform/graphics/Geometry.h"

#include <string>

namespace platform {

inline constexpr const char* UIKeyboardWillShowNotification = "UIKeyboardWillShowNotification";
inline constexpr const char* UIKeyboardDidShowNotification = "UIKeyboardDidShowNotification";
inline constexpr const char* UIKeyboardWillHideNotification = "UIKeyboardWillHideNotification";
inline constexpr const char* UIKeyboardDidHideNotification = "UIKeyboardDidHideNotification";
inline constexpr const char* UIKeyboardWillChangeFrameNotification = "UIKeyboardWillChangeFrameNotification";
inline constexpr const char* UIKeyboardDidChangeFrameNotification = "UIKeyboardDidChangeFrameNotification";
inline constexpr const char* UIKeyboardFrameBeginUserInfoKey = "UIKeyboardFrameBeginUserInfoKey";
inline constexpr const char* UIKeyboardFrameEndUserInfoKey = "UIKeyboardFrameEndUserInfoKey";
inline constexpr const char* UIKeyboardAnimationDurationUserInfoKey =
    "UIKeyboardAnimationDurationUserInfoKey";
inline constexpr const char* UIKeyboardAnimationCurveUserInfoKey = "UIKeyboardAnimationCurveUserInfoKey";

// What the keyboard sends text through: the first responder, when it adopts this.
class UIKeyInput {
public:
    virtual ~UIKeyInput() = default;
    virtual bool hasText() const = 0;
    virtual void insertText(const std::string& text) = 0;
    virtual void deleteBackward() = 0;
};

class UIKeyboard {
public:
    static constexpr double height = 216;
    static constexpr double animationDuration = 0.25;

    static bool isVisible();
    // The frame in screen coordinates when shown (the bottom of the main screen).
    static CGRect visibleFrame();

    // Text inputs bracket their first-responder changes with these, so a hand-over from one input to the
    // next (the old one resigns inside the new one's becomeFirstResponder) does not hide and reshow it.
    static void beginFocusChange();
    static void endFocusChange();

    static CGRect keyboardFrameEnd(const Notification& note);
    static CGRect keyboardFrameBegin(const Notification& note);

    // Hides it without notifications (tests start from a hidden keyboard).
    static void reset();
};

} // namespace platform
