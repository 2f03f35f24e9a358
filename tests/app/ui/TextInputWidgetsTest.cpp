#include "app/ui/CustomSearchBar.h"
#include "app/ui/CustomTextField.h"
#include "app/ui/CustomTextView.h"
#include "app/ui/NSString+Extension.h"
#include "platform/ui/UIKeyboard.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

class TextInputWidgetsTest : public liveapp::test::UIFixture {
protected:
    void TearDown() override {
        if (auto responder = UIResponder::currentFirstResponder())
            responder->resignFirstResponder();
        UIKeyboard::reset();
        UIFixture::TearDown();
    }
};

TEST_F(TextInputWidgetsTest, TextFieldIsBuiltAndConstrainedAtCreation) {
    auto field = CustomTextField::create();
    ASSERT_EQ(field->icon()->superview(), field);
    ASSERT_EQ(field->textField()->superview(), field);
    EXPECT_EQ(field->constraints().size(), 6u);
    EXPECT_DOUBLE_EQ(field->layer()->borderWidth(), 0.5) << "one pixel at scale 2";

    field->setFrame(CGRectMake(20, 100, 300, 44));
    window->addSubview(field);
    window->layoutIfNeeded();
    EXPECT_EQ(field->icon()->frame(), CGRectMake(12, 12, 20, 20));
    EXPECT_EQ(field->textField()->frame(), CGRectMake(44, 0, 249, 44));
    auto text = CustomTextView::create(CGRectMake(0, 0, 200, 100));
    window->addSubview(text);
    window->layoutIfNeeded();
    EXPECT_EQ(text->textView()->frame(), CGRectMake(5, 5, 190, 90));
}

TEST_F(TextInputWidgetsTest, SearchBarIsTwentyEightPointsTall) {
    auto bar = CustomSearchBar::create(CGRectMake(10, 20, 300, 44));
    EXPECT_EQ(bar->frame(), CGRectMake(10, 20, 300, 28));
    ASSERT_TRUE(bar->background()) << "the generator's image";
    bar->adaptLightBar(true);
    EXPECT_TRUE(bar->layer()->borderColor()->isEqual(
        *UIColor::colorWithRed(229 / 255.0, 229 / 255.0, 229 / 255.0, 1)));
    bar->setPlaceholderTextColor(UIColor::blueColor());
    EXPECT_TRUE(UIColor::isEqual(bar->placeholderTextColor(), UIColor::blueColor()))
        << "the given colour, not a grey of the widget's own";
}

TEST_F(TextInputWidgetsTest, SearchBarCentresIconAndPlaceholderOnlyWhileIdleAndEmpty) {
    auto bar = CustomSearchBar::create(CGRectMake(10, 20, 300, 44));
    window->addSubview(bar);
    bar->setPlaceholder("Search rooms");
    double max = std::numeric_limits<double>::max();
    double placeholderWidth =
        sizeWithFont("Search rooms", UIFont::systemFontOfSize(14), CGSizeMake(max, max)).width;
    ASSERT_GT(placeholderWidth, 50);
    double groupLeft = (300 - (placeholderWidth + 13 + 4)) / 2;
    CGRect bounds = bar->bounds();
    EXPECT_EQ(bar->leftViewRectForBounds(bounds), CGRectMake(groupLeft, 7.5, 13, 13));
    EXPECT_DOUBLE_EQ(bar->placeholderRectForBounds(bounds).origin.x, groupLeft + 17);
    window->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(bar->leftView()->frame().origin.x, groupLeft);

    ASSERT_TRUE(bar->becomeFirstResponder());
    window->layoutIfNeeded();
    EXPECT_EQ(bar->leftView()->frame(), CGRectMake(7, 7.5, 13, 13));
    EXPECT_DOUBLE_EQ(bar->editingRectForBounds(bounds).origin.x, 24) << "4 points after the icon";
    EXPECT_DOUBLE_EQ(bar->placeholderRectForBounds(bounds).origin.x, 24);

    bar->setText("live");
    bar->resignFirstResponder();
    window->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(bar->leftView()->frame().origin.x, 7) << "text keeps the icon at the left";
    EXPECT_DOUBLE_EQ(bar->textRectForBounds(bounds).origin.x, 24);
}

} // namespace
