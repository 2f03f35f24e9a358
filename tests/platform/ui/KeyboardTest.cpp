#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UITextField.h"
#include "tests/platform/ui/TextInputSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;
using Strings = std::vector<std::string>;

namespace {

class KeyboardTest : public TextInputFixture {
protected:
    void SetUp() override {
        TextInputFixture::SetUp();
        first = UITextField::create(CGRectMake(20, 100, 200, 40));
        second = UITextField::create(CGRectMake(20, 160, 200, 40));
        window->addSubview(first);
        window->addSubview(second);
        auto& center = NotificationCenter::defaultCenter();
        for (const char* name :
             {UIKeyboardWillShowNotification, UIKeyboardDidShowNotification, UIKeyboardWillHideNotification,
              UIKeyboardDidHideNotification, UIKeyboardWillChangeFrameNotification})
            observers.push_back(center.addObserverForName(name, nullptr, [this](const Notification& note) {
                names.push_back(note.name());
                endFrames.push_back(UIKeyboard::keyboardFrameEnd(note));
                beginFrames.push_back(UIKeyboard::keyboardFrameBegin(note));
                durations.push_back(note.userInfo()[UIKeyboardAnimationDurationUserInfoKey].doubleOr(-1));
            }));
    }
    void TearDown() override {
        for (auto& observer : observers)
            NotificationCenter::defaultCenter().removeObserver(observer);
        TextInputFixture::TearDown();
    }

    UITextFieldPtr first;
    UITextFieldPtr second;
    std::vector<NotificationObserver> observers;
    Strings names;
    std::vector<CGRect> beginFrames;
    std::vector<CGRect> endFrames;
    std::vector<double> durations;
};

TEST_F(KeyboardTest, FocusShowsTheKeyboardAtTheBottomAndResigningHidesItWithTheFramesReversed) {
    tap(CGPointMake(60, 120));
    ASSERT_EQ(names, (Strings{UIKeyboardWillChangeFrameNotification, UIKeyboardWillShowNotification,
                              UIKeyboardDidShowNotification}));
    EXPECT_TRUE(UIKeyboard::isVisible());
    const CGRect shown = CGRectMake(0, 667 - 216, 375, 216), hidden = CGRectMake(0, 667, 375, 216);
    EXPECT_EQ(endFrames[1], shown);
    EXPECT_EQ(beginFrames[1], hidden);
    EXPECT_EQ(endFrames[0], endFrames[1]);
    EXPECT_DOUBLE_EQ(durations[1], 0.25);

    first->resignFirstResponder();
    ASSERT_EQ(names.size(), 6u);
    EXPECT_EQ(Strings(names.begin() + 3, names.end()),
              (Strings{UIKeyboardWillChangeFrameNotification, UIKeyboardWillHideNotification,
                       UIKeyboardDidHideNotification}));
    EXPECT_EQ(endFrames[4], hidden);
    EXPECT_EQ(beginFrames[4], shown);
    EXPECT_FALSE(UIKeyboard::isVisible());
}

TEST_F(KeyboardTest, MovingFocusBetweenFieldsKeepsTheKeyboardUp) {
    first->becomeFirstResponder();
    names.clear();
    EXPECT_TRUE(second->becomeFirstResponder());
    EXPECT_FALSE(first->isFirstResponder());
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(UIKeyboard::isVisible());
}

TEST_F(KeyboardTest, VetoedBeginningOrEndingPostsNothing) {
    class Refusing : public UITextFieldDelegate {
    public:
        bool textFieldShouldBeginEditing(UITextField*) override { return false; }
        bool textFieldShouldEndEditing(UITextField*) override { return false; }
    };
    auto refusing = std::make_shared<Refusing>();
    first->setDelegate(refusing);
    EXPECT_FALSE(first->becomeFirstResponder());
    EXPECT_TRUE(names.empty());

    second->becomeFirstResponder();
    second->setDelegate(refusing);
    names.clear();
    EXPECT_FALSE(second->resignFirstResponder());
    EXPECT_TRUE(names.empty());
    second->setDelegate(nullptr);
}

TEST_F(KeyboardTest, TypingWithoutAFirstResponderDoesNothingAndRemovingTheEditedFieldHides) {
    TouchSimulator::typeText("abc");
    TouchSimulator::pressReturn();
    EXPECT_EQ(first->text(), "");
    EXPECT_TRUE(names.empty());
    first->becomeFirstResponder();
    first->removeFromSuperview();
    EXPECT_FALSE(first->isFirstResponder());
    EXPECT_FALSE(UIKeyboard::isVisible());
}

} // namespace
