#include "platform/foundation/NotificationCenter.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UITextField.h"
#include "tests/platform/ui/TextInputSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;
using Strings = std::vector<std::string>;

namespace {

class RecordingDelegate : public Object, public UITextFieldDelegate {
public:
    bool textFieldShouldBeginEditing(UITextField*) override {
        events.push_back("shouldBegin");
        return allowBegin;
    }
    void textFieldDidBeginEditing(UITextField*) override { events.push_back("didBegin"); }
    bool textFieldShouldEndEditing(UITextField*) override {
        events.push_back("shouldEnd");
        return allowEnd;
    }
    void textFieldDidEndEditing(UITextField*) override { events.push_back("didEnd"); }
    bool textFieldShouldChangeCharactersInRange(UITextField* field, Range range,
                                                const std::string& replacement) override {
        ranges.push_back(range);
        // A length limit, written the way screens write it: the text as it would be after the change.
        return text::utf16Length(field->text()) - range.length + text::utf16Length(replacement) <= maxLength;
    }
    bool textFieldShouldClear(UITextField*) override { return allowClear; }
    bool textFieldShouldReturn(UITextField*) override {
        events.push_back("shouldReturn");
        if (onReturn)
            onReturn();
        return true;
    }

    Strings events;
    std::vector<Range> ranges;
    bool allowBegin{true};
    bool allowEnd{true};
    bool allowClear{true};
    uint64_t maxLength{100};
    std::function<void()> onReturn;
};

class TextFieldTest : public TextInputFixture {
protected:
    void SetUp() override {
        TextInputFixture::SetUp();
        field = UITextField::create(CGRectMake(20, 100, 200, 40));
        window->addSubview(field);
        delegate = std::make_shared<RecordingDelegate>();
        field->setDelegate(delegate);
    }
    UITextFieldPtr field;
    std::shared_ptr<RecordingDelegate> delegate;
};

TEST_F(TextFieldTest, TapBeginsEditingAndTypingAppendsText) {
    tap(CGPointMake(60, 120));
    ASSERT_TRUE(field->isFirstResponder());
    EXPECT_TRUE(field->isEditing());
    TouchSimulator::typeText("héllo");
    EXPECT_EQ(field->text(), "héllo");
    TouchSimulator::deleteBackward();
    EXPECT_EQ(field->text(), "héll");
    EXPECT_EQ(delegate->events, (Strings{"shouldBegin", "didBegin"}));
}

TEST_F(TextFieldTest, DelegateVetoOrDisablingKeepsTheFieldFromFocus) {
    delegate->allowBegin = false;
    tap(CGPointMake(60, 120));
    EXPECT_FALSE(field->isFirstResponder());
    delegate->allowBegin = true;
    field->setEnabled(false);
    EXPECT_FALSE(field->becomeFirstResponder());
    TouchSimulator::typeText("x");
    EXPECT_EQ(field->text(), "");
}

TEST_F(TextFieldTest, DelegateVetoOfEndingKeepsEditing) {
    ASSERT_TRUE(field->becomeFirstResponder());
    delegate->allowEnd = false;
    EXPECT_FALSE(field->resignFirstResponder());
    EXPECT_TRUE(field->isFirstResponder());
    delegate->allowEnd = true;
    EXPECT_TRUE(field->resignFirstResponder());
    EXPECT_FALSE(field->isEditing());
    EXPECT_EQ(delegate->events, (Strings{"shouldBegin", "didBegin", "shouldEnd", "shouldEnd", "didEnd"}));
}

TEST_F(TextFieldTest, ShouldChangeCharactersSeesUTF16RangesAndCanRefuse) {
    delegate->maxLength = 3;
    field->becomeFirstResponder();
    TouchSimulator::typeText("a😀bc");
    // The emoji is two UTF-16 units, so "a😀" fills the limit and the rest is refused.
    EXPECT_EQ(field->text(), "a😀");
    ASSERT_GE(delegate->ranges.size(), 2u);
    EXPECT_EQ(delegate->ranges[1], (Range{1, 0}));
    TouchSimulator::deleteBackward();
    EXPECT_EQ(delegate->ranges.back(), (Range{1, 2}));
    EXPECT_EQ(field->text(), "a");
}

TEST_F(TextFieldTest, EditingSendsControlEventsAndPostsNotificationsInOrder) {
    Strings events;
    auto record = [&](std::string name) {
        return selector(name, [&events, name](Object*, Object*, UIEvent*) { events.push_back(name); });
    };
    field->addTarget(nullptr, record("begin"), UIControlEventEditingDidBegin);
    field->addTarget(nullptr, record("changed"), UIControlEventEditingChanged);
    field->addTarget(nullptr, record("end"), UIControlEventEditingDidEnd);
    auto& center = NotificationCenter::defaultCenter();
    Strings notes;
    std::vector<NotificationObserver> observers;
    for (const char* name : {UITextFieldTextDidBeginEditingNotification, UITextFieldTextDidChangeNotification,
                             UITextFieldTextDidEndEditingNotification})
        observers.push_back(center.addObserverForName(name, field, [&](const Notification& note) {
            notes.push_back(note.name());
            events.push_back("note");
        }));

    field->becomeFirstResponder();
    TouchSimulator::typeText("ab");
    field->setText("programmatic");
    field->resignFirstResponder();
    for (auto& observer : observers)
        center.removeObserver(observer);

    EXPECT_EQ(events, (Strings{"begin", "note", "changed", "note", "changed", "note", "end", "note"}));
    EXPECT_EQ(notes.front(), UITextFieldTextDidBeginEditingNotification);
    EXPECT_EQ(notes.back(), UITextFieldTextDidEndEditingNotification);
}

TEST_F(TextFieldTest, ReturnAsksTheDelegateWhichCanMoveFocusToTheNextField) {
    auto next = UITextField::create(CGRectMake(20, 160, 200, 40));
    window->addSubview(next);
    delegate->onReturn = [&] { next->becomeFirstResponder(); };
    field->becomeFirstResponder();
    TouchSimulator::typeText("user\npass");
    EXPECT_EQ(field->text(), "user");
    EXPECT_EQ(next->text(), "pass");
    EXPECT_TRUE(next->isFirstResponder());
    EXPECT_FALSE(field->isEditing());
}

TEST_F(TextFieldTest, ReturnResignsOnlyWhenSomeoneListensForEndOnExit) {
    field->becomeFirstResponder();
    TouchSimulator::pressReturn();
    EXPECT_TRUE(field->isFirstResponder());
    int exits = 0;
    field->addTarget(nullptr, selector("exit", [&](Object*, Object*, UIEvent*) { ++exits; }),
                     UIControlEventEditingDidEndOnExit);
    TouchSimulator::pressReturn();
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(field->isFirstResponder());
}

TEST_F(TextFieldTest, ClearButtonShowsWhileEditingNonEmptyTextAndClearsOnTap) {
    field->setClearButtonMode(UITextFieldViewModeWhileEditing);
    field->setText("abc");
    EXPECT_FALSE(field->isClearButtonVisible());
    field->becomeFirstResponder();
    EXPECT_TRUE(field->isClearButtonVisible());
    CGRect button = field->clearButtonRectForBounds(field->bounds());
    CGPoint center =
        field->convertPointToView(CGPointMake(CGRectGetMidX(button), CGRectGetMidY(button)), nullptr);
    delegate->allowClear = false;
    tap(center);
    EXPECT_EQ(field->text(), "abc");
    delegate->allowClear = true;
    tap(center);
    EXPECT_EQ(field->text(), "");
    EXPECT_FALSE(field->isClearButtonVisible());
}

TEST_F(TextFieldTest, SecureEntryDrawsBulletsAndEmptyTextShowsThePlaceholder) {
    field->setPlaceholder("Password");
    EXPECT_EQ(field->displayedText(), "Password");
    field->setSecureTextEntry(true);
    field->setText("a😀");
    EXPECT_EQ(field->displayedText(), "\u2022\u2022");
    auto attributed = std::make_shared<NSAttributedString>("Styled", NSAttributes{});
    field->setAttributedPlaceholder(attributed);
    EXPECT_EQ(field->placeholder(), "Styled");
}

TEST_F(TextFieldTest, LeftViewFollowsItsModeAndPushesTheTextRight) {
    auto icon = UIView::create(CGRectMake(0, 0, 20, 20));
    field->setLeftView(icon);
    field->setLeftViewMode(UITextFieldViewModeAlways);
    field->layoutIfNeeded();
    EXPECT_EQ(icon->superview(), field);
    EXPECT_EQ(icon->frame(), CGRectMake(0, 10, 20, 20));
    EXPECT_EQ(field->textRectForBounds(field->bounds()).origin.x, 20);
    field->setLeftViewMode(UITextFieldViewModeWhileEditing);
    field->layoutIfNeeded();
    EXPECT_EQ(icon->superview(), nullptr);
}

// The dark pixels of the window's render inside a rectangle (in points), as min/max x in points.
std::pair<double, double> inkSpan(const UIImagePtr& image, CGRect rect) {
    auto bitmap = image->CGImage();
    int minX = 100000, maxX = -1;
    for (int y = int(rect.origin.y * 2); y < int(CGRectGetMaxY(rect) * 2); ++y)
        for (int x = int(rect.origin.x * 2); x < int(CGRectGetMaxX(rect) * 2); ++x)
            if (bitmap->colorAt(x, y).r < 128)
                minX = std::min(minX, x), maxX = std::max(maxX, x);
    return {minX / 2.0, maxX / 2.0};
}

TEST_F(TextFieldTest, TypedTextIsDrawnAfterTheLeftViewAndPlaceholderIsLight) {
    window->setBackgroundColor(UIColor::whiteColor());
    field->setFont(UIFont::systemFontOfSize(24));
    field->setPlaceholder("WWW");
    auto image = render();
    EXPECT_EQ(inkSpan(image, field->frame()).second, -0.5) << "the grey placeholder is not dark";
    field->setLeftView(UIView::create(CGRectMake(0, 0, 50, 20)));
    field->setLeftViewMode(UITextFieldViewModeAlways);
    field->becomeFirstResponder();
    TouchSimulator::typeText("WWW");
    auto span = inkSpan(render(), field->frame());
    EXPECT_GE(span.first, 20 + 50);
    EXPECT_LT(span.first, 20 + 50 + 10);
    EXPECT_GT(span.second, span.first + 30);
}

class ShiftedField : public UITextField {
public:
    using UITextField::UITextField;
    CGRect placeholderRectForBounds(CGRect bounds) override {
        return CGRectMake(100, 0, 100, bounds.size.height);
    }
    CGRect editingRectForBounds(CGRect bounds) override { return CGRectMake(50, 0, 150, bounds.size.height); }
};

TEST_F(TextFieldTest, PlaceholderEditedAndIdleTextUseTheirOwnRectangles) {
    window->setBackgroundColor(UIColor::whiteColor());
    auto shifted = std::make_shared<ShiftedField>(CGRectMake(20, 200, 200, 40));
    window->addSubview(shifted);
    shifted->setFont(UIFont::systemFontOfSize(24));
    shifted->setPlaceholder("WWW");
    shifted->setPlaceholderColor(UIColor::blackColor());
    auto span = inkSpan(render(), shifted->frame());
    EXPECT_GE(span.first, 20 + 100) << "a dark placeholder colour is drawn, in the placeholder rectangle";
    EXPECT_LT(span.first, 20 + 110);

    shifted->becomeFirstResponder();
    TouchSimulator::typeText("WWW");
    span = inkSpan(render(), shifted->frame());
    EXPECT_GE(span.first, 20 + 50);
    EXPECT_LT(span.first, 20 + 60);

    shifted->resignFirstResponder();
    span = inkSpan(render(), shifted->frame());
    EXPECT_LT(span.first, 20 + 10) << "idle text goes back to the text rectangle";
}

TEST_F(TextFieldTest, BackgroundImageIsDrawnAcrossTheBounds) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(4, 4), true, 1);
    CGContextSetFillColorWithColor(UIGraphicsGetCurrentContext(), UIColor::redColor()->CGColor());
    UIRectFill(CGRectMake(0, 0, 4, 4));
    auto red = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    field->setBackground(red);
    auto image = render();
    for (CGPoint p : {CGPointMake(21, 101), CGPointMake(120, 120), CGPointMake(218, 138)})
        EXPECT_TRUE(colorNear(pixelAt(image, p.x, p.y), {255, 0, 0, 255})) << p.x << "," << p.y;
}

} // namespace
