#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIAlertView.h"
#include "tests/platform/ui/TextInputSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;
using Strings = std::vector<std::string>;

namespace {

class RecordingAlertDelegate : public UIAlertViewDelegate {
public:
    void alertViewClickedButtonAtIndex(UIAlertView* alert, int64_t index) override {
        events.push_back("clicked " + std::to_string(index) + " tag " + std::to_string(alert->tag()));
    }
    void alertViewWillDismissWithButtonIndex(UIAlertView* alert, int64_t index) override {
        auto field = alert->textFieldAtIndex(0);
        events.push_back("willDismiss " + std::to_string(index) + (field ? " text " + field->text() : ""));
    }
    void alertViewDidDismissWithButtonIndex(UIAlertView*, int64_t index) override {
        events.push_back("didDismiss " + std::to_string(index));
    }
    Strings events;
};

class AlertTest : public TextInputFixture {
protected:
    CGPoint centerOfButton(const UIAlertViewPtr& alert, int64_t index) {
        auto button = alert->buttonAtIndex(index);
        CGRect bounds = button->bounds();
        return button->convertPointToView(CGPointMake(CGRectGetMidX(bounds), CGRectGetMidY(bounds)), nullptr);
    }
    std::shared_ptr<RecordingAlertDelegate> delegate{std::make_shared<RecordingAlertDelegate>()};
};

TEST_F(AlertTest, CancelButtonComesFirstAndOthersFollowInOrder) {
    auto alert = UIAlertView::create("Title", "Message", delegate, "Cancel", {"OK", "More"});
    EXPECT_EQ(alert->numberOfButtons(), 3);
    EXPECT_EQ(alert->cancelButtonIndex(), 0);
    EXPECT_EQ(alert->firstOtherButtonIndex(), 1);
    EXPECT_EQ(alert->buttonTitleAtIndex(2), "More");
    EXPECT_EQ(alert->addButtonWithTitle("Last"), 3);
    auto noCancel = UIAlertView::create("T", "", delegate, std::nullopt, {"Only"});
    EXPECT_EQ(noCancel->cancelButtonIndex(), -1);
    EXPECT_EQ(noCancel->firstOtherButtonIndex(), 0);
    noCancel->setAlertViewStyle(UIAlertViewStyleLoginAndPasswordInput);
    EXPECT_FALSE(noCancel->textFieldAtIndex(0)->isSecureTextEntry());
    EXPECT_TRUE(noCancel->textFieldAtIndex(1)->isSecureTextEntry());
}

TEST_F(AlertTest, TappingAButtonTellsTheDelegateClickedThenDismissesWithTheTag) {
    auto alert = UIAlertView::create("Title", "Message", delegate, "Cancel", {"OK"});
    alert->setTag(520);
    alert->show();
    ASSERT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->superview(), window);
    tap(centerOfButton(alert, 1));
    EXPECT_EQ(delegate->events, (Strings{"clicked 1 tag 520", "willDismiss 1", "didDismiss 1"}));
    EXPECT_FALSE(alert->isVisible());
    EXPECT_EQ(alert->superview(), nullptr);
}

TEST_F(AlertTest, PlainTextInputFieldTakesTypingAndIsReadableOnDismiss) {
    auto alert = UIAlertView::create("Room title", "", delegate, "Cancel", {"OK"});
    alert->setAlertViewStyle(UIAlertViewStylePlainTextInput);
    ASSERT_NE(alert->textFieldAtIndex(0), nullptr);
    EXPECT_EQ(alert->textFieldAtIndex(1), nullptr);
    alert->show();
    EXPECT_TRUE(alert->textFieldAtIndex(0)->isFirstResponder());
    TouchSimulator::typeText("My room");
    tap(centerOfButton(alert, 1));
    ASSERT_EQ(delegate->events.size(), 3u);
    EXPECT_EQ(delegate->events[1], "willDismiss 1 text My room");
    EXPECT_FALSE(alert->textFieldAtIndex(0)->isFirstResponder());
    EXPECT_FALSE(UIKeyboard::isVisible());
}

TEST_F(AlertTest, BackdropSwallowsTouchesAndDismissingInCodeSkipsClicked) {
    int taps = 0;
    auto button = UIButton::create(CGRectMake(0, 0, 100, 100));
    button->addTarget(nullptr, selector("t", [&](Object*, Object*, UIEvent*) { ++taps; }),
                      UIControlEventTouchUpInside);
    window->addSubview(button);
    auto alert = UIAlertView::create("Title", "", delegate, "Cancel");
    alert->show();
    tap(CGPointMake(50, 50));
    EXPECT_EQ(taps, 0);
    EXPECT_TRUE(alert->isVisible());
    alert->dismissWithClickedButtonIndex(0, false);
    EXPECT_EQ(delegate->events, (Strings{"willDismiss 0", "didDismiss 0"}));
}

} // namespace
