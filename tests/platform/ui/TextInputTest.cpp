#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIKeyboard.h"
#include "platform/ui/UIResponder.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UITextView.h"
#include "tests/support/UIFixture.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;
using Strings = std::vector<std::string>;

namespace {

class TextInputFixture : public UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        platform::UIKeyboard::reset();
    }
    void TearDown() override {
        if (auto responder = platform::UIResponder::currentFirstResponder())
            responder->resignFirstResponder();
        platform::UIKeyboard::reset();
        UIFixture::TearDown();
    }
};

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

TEST_F(TextFieldTest, TapBeginsEditingTypingAppendsAndTheDelegateCanVetoBeginningOrEnding) {
    tap(CGPointMake(60, 120));
    ASSERT_TRUE(field->isFirstResponder());
    EXPECT_TRUE(field->isEditing());
    TouchSimulator::typeText("héllo");
    EXPECT_EQ(field->text(), "héllo");
    TouchSimulator::deleteBackward();
    EXPECT_EQ(field->text(), "héll");
    delegate->allowEnd = false;
    EXPECT_FALSE(field->resignFirstResponder());
    EXPECT_TRUE(field->isFirstResponder());
    delegate->allowEnd = true;
    EXPECT_TRUE(field->resignFirstResponder());
    EXPECT_FALSE(field->isEditing());
    EXPECT_EQ(delegate->events, (Strings{"shouldBegin", "didBegin", "shouldEnd", "shouldEnd", "didEnd"}));
    delegate->allowBegin = false;
    tap(CGPointMake(60, 120));
    EXPECT_FALSE(field->isFirstResponder());
    delegate->allowBegin = true;
    field->setEnabled(false); // a disabled field takes no focus and no typing
    EXPECT_FALSE(field->becomeFirstResponder());
    TouchSimulator::typeText("x");
    EXPECT_EQ(field->text(), "héll");
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

TEST_F(TextFieldTest, ReturnAsksTheDelegateWhichCanMoveFocusAndResignsOnlyForEndOnExitListeners) {
    auto next = UITextField::create(CGRectMake(20, 160, 200, 40));
    window->addSubview(next);
    delegate->onReturn = [&] { next->becomeFirstResponder(); };
    field->becomeFirstResponder();
    TouchSimulator::typeText("user\npass");
    EXPECT_EQ(field->text(), "user");
    EXPECT_EQ(next->text(), "pass");
    EXPECT_TRUE(next->isFirstResponder());
    EXPECT_FALSE(field->isEditing());
    delegate->onReturn = nullptr;
    field->becomeFirstResponder(); // return resigns only when someone listens for the end on exit
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

TEST_F(TextFieldTest, TappingTheClearButtonOfAnIdleFieldClearsItAndBeginsEditing) {
    field->setClearButtonMode(UITextFieldViewModeAlways);
    field->setText("My room");
    CGRect button = field->clearButtonRectForBounds(field->bounds());
    tap(field->convertPointToView(CGPointMake(CGRectGetMidX(button), CGRectGetMidY(button)), nullptr));
    EXPECT_EQ(field->text(), "");
    EXPECT_TRUE(field->isEditing());
    EXPECT_EQ(delegate->events, (Strings{"shouldBegin", "didBegin"}));
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

// Whether a render shows the field's clear button: grey between the arms of a white cross.
bool clearButtonDrawn(const UIImagePtr& image, const UITextFieldPtr& field) {
    CGRect rect = field->convertRectToView(field->clearButtonRectForBounds(field->bounds()), nullptr);
    auto at = [&](double dx, double dy) {
        return image->CGImage()->colorAt(int((CGRectGetMidX(rect) + dx) * image->scale()),
                                         int((CGRectGetMidY(rect) + dy) * image->scale()));
    };
    auto grey = [](Bitmap::RGBA c) { return c.r > 100 && c.r < 230 && std::abs(c.r - c.b) < 4; };
    auto white = [](Bitmap::RGBA c) { return c.r > 240 && c.g > 240 && c.b > 240; };
    return grey(at(0, -5)) && grey(at(-5, 0)) && white(at(2.5, 2.5)) && white(at(-2.5, 2.5));
}

// How far the text's ink ends before the clear button's rectangle (negative: it reaches into it).
double gapBeforeClearButton(const UIImagePtr& image, const UITextFieldPtr& field) {
    CGRect button = field->convertRectToView(field->clearButtonRectForBounds(field->bounds()), nullptr);
    return CGRectGetMinX(button) - inkSpan(image, field->frame()).second;
}

TEST_F(TextFieldTest, ClearButtonIsDrawnWhereItsModeShowsItAndLongTextStopsBeforeIt) {
    const std::string longText(20, 'W');
    const struct {
        UITextFieldViewMode mode;
        bool editing;
        bool empty;
        bool shown;
    } cases[] = {
        {UITextFieldViewModeNever, true, false, false},
        {UITextFieldViewModeWhileEditing, true, false, true},
        {UITextFieldViewModeWhileEditing, false, false, false},
        {UITextFieldViewModeWhileEditing, true, true, false},
        {UITextFieldViewModeAlways, false, false, true},
        {UITextFieldViewModeAlways, true, false, true},
        {UITextFieldViewModeAlways, false, true, false},
    };
    window->setBackgroundColor(UIColor::whiteColor());
    field->setFont(UIFont::systemFontOfSize(24));
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "mode " << c.mode << (c.editing ? " editing" : " idle") << (c.empty ? " empty" : ""));
        field->setClearButtonMode(c.mode);
        field->setText(c.empty ? "" : longText);
        c.editing ? field->becomeFirstResponder() : field->resignFirstResponder();
        auto image = render();
        EXPECT_EQ(clearButtonDrawn(image, field), c.shown);
        if (c.shown) {
            EXPECT_GT(gapBeforeClearButton(image, field), 0);
            EXPECT_LT(gapBeforeClearButton(image, field), 25) << "the text runs up to the button";
        }
    }
    // A subclass that moves the text right without narrowing it still stops before the button.
    auto shifted = std::make_shared<ShiftedField>(CGRectMake(20, 200, 200, 40));
    window->addSubview(shifted);
    shifted->setFont(UIFont::systemFontOfSize(24));
    shifted->setClearButtonMode(UITextFieldViewModeAlways);
    shifted->setText(longText);
    shifted->becomeFirstResponder();
    EXPECT_GT(gapBeforeClearButton(render(), shifted), 0);
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

class RecordingTextViewDelegate : public UITextViewDelegate {
public:
    bool textViewShouldBeginEditing(UITextView*) override { return allowBegin; }
    bool textViewShouldChangeTextInRange(UITextView*, Range range, const std::string& text) override {
        events.push_back("change " + std::to_string(range.location) + "+" + std::to_string(range.length) +
                         " '" + text + "'");
        if (text == "\n") {
            ++returns;
            return false;
        }
        return true;
    }
    void textViewDidChange(UITextView* view) override { events.push_back("did " + view->text()); }
    Strings events;
    int returns{0};
    bool allowBegin{true};
};

class TextViewTest : public TextInputFixture {
protected:
    void SetUp() override {
        TextInputFixture::SetUp();
        textView = UITextView::create(CGRectMake(20, 100, 200, 80));
        window->addSubview(textView);
        textView->setDelegate(delegate);
    }
    UITextViewPtr textView;
    std::shared_ptr<RecordingTextViewDelegate> delegate{std::make_shared<RecordingTextViewDelegate>()};
};

TEST_F(TextViewTest, TapBeginsEditingOnlyWhenEditableAndAllowed) {
    textView->setEditable(false);
    tap(CGPointMake(60, 120));
    EXPECT_FALSE(textView->isFirstResponder());
    textView->setEditable(true);
    delegate->allowBegin = false;
    EXPECT_FALSE(textView->becomeFirstResponder());
    delegate->allowBegin = true;
    tap(CGPointMake(60, 120));
    EXPECT_TRUE(textView->isFirstResponder());
    EXPECT_TRUE(UIKeyboard::isVisible());
}

TEST_F(TextViewTest, TypingAsksTheDelegateWhichCanCatchReturnAndTheContentSizeGrowsWithTheText) {
    textView->becomeFirstResponder();
    TouchSimulator::typeText("ab\n");
    EXPECT_EQ(textView->text(), "ab");
    EXPECT_EQ(delegate->returns, 1);
    EXPECT_EQ(delegate->events,
              (Strings{"change 0+0 'a'", "did a", "change 1+0 'b'", "did ab", "change 2+0 '\n'"}));
    textView->setFont(UIFont::systemFontOfSize(14));
    double oneLine = textView->contentSize().height;
    textView->setText("one\ntwo\nthree\nfour\nfive\nsix");
    EXPECT_GT(textView->contentSize().height, oneLine * 3);
    EXPECT_EQ(textView->contentSize().width, 200);
}

TEST_F(TextViewTest, TextViewAndTextFieldHandFocusWithoutHidingTheKeyboard) {
    auto field = UITextField::create(CGRectMake(20, 200, 200, 40));
    window->addSubview(field);
    int hides = 0;
    auto observer = NotificationCenter::defaultCenter().addObserverForName(
        UIKeyboardWillHideNotification, nullptr, [&](const Notification&) { ++hides; });
    textView->becomeFirstResponder();
    field->becomeFirstResponder();
    EXPECT_FALSE(textView->isEditing());
    EXPECT_EQ(hides, 0);
    field->resignFirstResponder();
    EXPECT_EQ(hides, 1);
    NotificationCenter::defaultCenter().removeObserver(observer);
}

class RecordingSearchDelegate : public UISearchBarDelegate {
public:
    void searchBarTextDidBeginEditing(UISearchBar*) override { events.push_back("begin"); }
    void searchBarTextDidChange(UISearchBar*, const std::string& text) override {
        events.push_back("text " + text);
    }
    void searchBarSearchButtonClicked(UISearchBar* bar) override {
        events.push_back("search " + bar->text());
    }
    void searchBarTextDidEndEditing(UISearchBar*) override { events.push_back("end"); }
    Strings events;
};

TEST_F(TextViewTest, SearchBarKeepsItsFieldAsTheLastSubviewOfItsFirstSubview) {
    UISearchBar::registerClasses();
    auto bar = UISearchBar::create(CGRectMake(0, 20, 375, 44));
    ASSERT_FALSE(bar->subviews().empty());
    auto field = bar->subviews().front()->subviews().back();
    EXPECT_EQ(field, bar->searchField());
    EXPECT_EQ(field->className(), "UISearchBarTextField");
    EXPECT_TRUE(field->isKindOf("UISearchBarTextField"));
    ClassRegistry::shared().unregisterClass("UISearchBarTextField");
}

TEST_F(TextViewTest, SearchBarReportsFieldEditingToItsDelegate) {
    auto bar = UISearchBar::create(CGRectMake(0, 20, 375, 44));
    window->addSubview(bar);
    auto searchDelegate = std::make_shared<RecordingSearchDelegate>();
    bar->setDelegate(searchDelegate);
    tap(CGPointMake(100, 42));
    TouchSimulator::typeText("cat\n");
    bar->resignFirstResponder();
    EXPECT_EQ(searchDelegate->events,
              (Strings{"begin", "text c", "text ca", "text cat", "search cat", "end"}));
}

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
    first->becomeFirstResponder(); // moving focus between fields keeps the keyboard up
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

TEST_F(AlertTest, ButtonsComeInOrderATappedOneIsReportedAndTheBackdropSwallowsTouches) {
    auto alert = UIAlertView::create("Title", "Message", delegate, "Cancel", {"OK"});
    alert->setTag(520);
    alert->show();
    ASSERT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->superview(), window);
    tap(centerOfButton(alert, 1));
    EXPECT_EQ(delegate->events, (Strings{"clicked 1 tag 520", "willDismiss 1", "didDismiss 1"}));
    EXPECT_FALSE(alert->isVisible());
    EXPECT_EQ(alert->superview(), nullptr);
    delegate->events.clear();
    int taps = 0; // the backdrop swallows touches; dismissing in code skips clicked
    auto button = UIButton::create(CGRectMake(0, 0, 100, 100));
    button->addTarget(nullptr, selector("t", [&](Object*, Object*, UIEvent*) { ++taps; }),
                      UIControlEventTouchUpInside);
    window->addSubview(button);
    auto modal = UIAlertView::create("Title", "", delegate, "Cancel");
    modal->show();
    tap(CGPointMake(50, 50));
    EXPECT_EQ(taps, 0);
    EXPECT_TRUE(modal->isVisible());
    modal->dismissWithClickedButtonIndex(0, false);
    EXPECT_EQ(delegate->events, (Strings{"willDismiss 0", "didDismiss 0"}));
    auto ordered = UIAlertView::create("Title", "Message", delegate, "Cancel", {"OK", "More"});
    EXPECT_EQ(ordered->numberOfButtons(), 3);
    EXPECT_EQ(ordered->cancelButtonIndex(), 0);
    EXPECT_EQ(ordered->firstOtherButtonIndex(), 1);
    EXPECT_EQ(ordered->buttonTitleAtIndex(2), "More");
    EXPECT_EQ(ordered->addButtonWithTitle("Last"), 3);
    auto noCancel = UIAlertView::create("T", "", delegate, std::nullopt, {"Only"});
    EXPECT_EQ(noCancel->cancelButtonIndex(), -1);
    EXPECT_EQ(noCancel->firstOtherButtonIndex(), 0);
    noCancel->setAlertViewStyle(UIAlertViewStyleLoginAndPasswordInput);
    EXPECT_FALSE(noCancel->textFieldAtIndex(0)->isSecureTextEntry());
    EXPECT_TRUE(noCancel->textFieldAtIndex(1)->isSecureTextEntry());
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

// Pixels of the window's render inside a rectangle (in points) whose red channel lies in [low, high).
int pixelsWithRedIn(const UIImagePtr& image, CGRect rect, int low, int high) {
    auto bitmap = image->CGImage();
    int count = 0;
    for (int y = int(rect.origin.y * 2); y < int(CGRectGetMaxY(rect) * 2); ++y)
        for (int x = int(rect.origin.x * 2); x < int(CGRectGetMaxX(rect) * 2); ++x)
            if (int red = bitmap->colorAt(x, y).r; red >= low && red < high)
                ++count;
    return count;
}

TEST_F(AlertTest, TextInputIsAWhiteRoundedFieldShowingItsGreyPlaceholderThenTheTypedText) {
    auto alert = UIAlertView::create("Mobile number", "", delegate, "Cancel", {"OK"});
    alert->setAlertViewStyle(UIAlertViewStylePlainTextInput);
    auto field = alert->textFieldAtIndex(0);
    field->setPlaceholder("Number");
    alert->show();
    const CGRect frame = field->convertRectToView(field->bounds(), nullptr);
    const double midY = CGRectGetMidY(frame);
    const CGRect inside = CGRectInset(frame, 3, 3);

    auto image = render();
    EXPECT_TRUE(colorNear(pixelAt(image, frame.origin.x + 0.5, midY), {204, 204, 204, 255}, 8))
        << "a thin grey edge";
    EXPECT_EQ(pixelAt(image, CGRectGetMaxX(frame) - 3, midY), (Bitmap::RGBA{255, 255, 255, 255}))
        << "a white field on the alert's lighter grey";
    EXPECT_TRUE(colorNear(pixelAt(image, frame.origin.x - 3, midY), {247, 247, 247, 255}, 2));
    EXPECT_GT(pixelsWithRedIn(image, inside, 128, 235), 20) << "the placeholder's grey ink";
    EXPECT_EQ(pixelsWithRedIn(image, inside, 0, 128), 0) << "nothing dark while empty";

    const auto folder = std::filesystem::path(LIVEAPP_TEST_ARTIFACTS_DIR) / "platform_ui";
    std::filesystem::create_directories(folder);
    EXPECT_TRUE(window->writePNG(folder / "alert_text_input.png"));
    TouchSimulator::typeText("13800138000");
    image = render();
    EXPECT_GT(pixelsWithRedIn(image, inside, 0, 128), 20) << "the typed text's dark ink";
    EXPECT_TRUE(colorNear(pixelAt(image, frame.origin.x + 0.5, midY), {204, 204, 204, 255}, 8));
}

} // namespace
