#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UITextView.h"
#include "tests/platform/ui/TextInputSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;
using Strings = std::vector<std::string>;

namespace {

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

TEST_F(TextViewTest, TypingAsksTheDelegateWhichCanCatchReturn) {
    textView->becomeFirstResponder();
    TouchSimulator::typeText("ab\n");
    EXPECT_EQ(textView->text(), "ab");
    EXPECT_EQ(delegate->returns, 1);
    EXPECT_EQ(delegate->events,
              (Strings{"change 0+0 'a'", "did a", "change 1+0 'b'", "did ab", "change 2+0 '\n'"}));
}

TEST_F(TextViewTest, ContentSizeGrowsWithTheText) {
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

} // namespace
