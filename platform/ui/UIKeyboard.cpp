#include "platform/ui/UIKeyboard.h"

#include "platform/ui/UIResponder.h"
#include "platform/ui/UIScreen.h"

namespace platform {

namespace {
struct KeyboardState {
    bool visible{false};
    int focusChanges{0};
};

KeyboardState& state() {
    static KeyboardState keyboard;
    return keyboard;
}

CGRect hiddenFrame() {
    CGRect frame = UIKeyboard::visibleFrame();
    frame.origin.y += frame.size.height;
    return frame;
}

void post(const char* name, CGRect begin, CGRect end) {
    NotificationCenter::defaultCenter().postNotificationName(
        name, nullptr,
        Value::dictionary({{UIKeyboardFrameBeginUserInfoKey, NSStringFromCGRect(begin)},
                           {UIKeyboardFrameEndUserInfoKey, NSStringFromCGRect(end)},
                           {UIKeyboardAnimationDurationUserInfoKey, UIKeyboard::animationDuration},
                           {UIKeyboardAnimationCurveUserInfoKey, 7}}));
}

void update() {
    auto& keyboard = state();
    bool wanted = dynamic_cast<UIKeyInput*>(UIResponder::currentFirstResponder().get()) != nullptr;
    if (wanted == keyboard.visible)
        return;
    keyboard.visible = wanted;
    CGRect shown = UIKeyboard::visibleFrame();
    CGRect hidden = hiddenFrame();
    CGRect begin = wanted ? hidden : shown;
    CGRect end = wanted ? shown : hidden;
    post(UIKeyboardWillChangeFrameNotification, begin, end);
    post(wanted ? UIKeyboardWillShowNotification : UIKeyboardWillHideNotification, begin, end);
    post(UIKeyboardDidChangeFrameNotification, begin, end);
    post(wanted ? UIKeyboardDidShowNotification : UIKeyboardDidHideNotification, begin, end);
}

CGRect frameFor(const Notification& note, const char* key) {
    const std::string* text = note.userInfo()[key].string();
    return text ? CGRectFromString(*text) : CGRectZero;
}
} // namespace

bool UIKeyboard::isVisible() {
    return state().visible;
}

CGRect UIKeyboard::visibleFrame() {
    CGRect screen = UIScreen::mainScreen()->bounds();
    return CGRectMake(0, screen.size.height - height, screen.size.width, height);
}

void UIKeyboard::beginFocusChange() {
    ++state().focusChanges;
}

void UIKeyboard::endFocusChange() {
    if (--state().focusChanges == 0)
        update();
}

CGRect UIKeyboard::keyboardFrameEnd(const Notification& note) {
    return frameFor(note, UIKeyboardFrameEndUserInfoKey);
}

CGRect UIKeyboard::keyboardFrameBegin(const Notification& note) {
    return frameFor(note, UIKeyboardFrameBeginUserInfoKey);
}

void UIKeyboard::reset() {
    state() = {};
}

} // namespace platform
