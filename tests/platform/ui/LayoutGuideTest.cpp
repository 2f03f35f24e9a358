#include "platform/foundation/Exception.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UITabBarController.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;

namespace {

using C = NSLayoutConstraint;

class LayoutGuideTest : public UIFixture {
protected:
    // A view in the controller's view, 100 wide at the left edge; the test places it vertically.
    UIViewPtr addPlacedView(const UIViewControllerPtr& controller) {
        auto v = UIView::create();
        v->setTranslatesAutoresizingMaskIntoConstraints(false);
        auto host = controller->view();
        host->addSubview(v);
        C::activateConstraints({
            C::constraintWithItem(v, NSLayoutAttributeLeft, NSLayoutRelationEqual, host,
                                  NSLayoutAttributeLeft, 1, 0),
            C::constraintWithItem(v, NSLayoutAttributeWidth, NSLayoutRelationEqual, nullptr,
                                  NSLayoutAttributeNotAnAttribute, 0, 100),
        });
        return v;
    }
};

TEST_F(LayoutGuideTest, TopGuideIsMeasuredAgainOnEachLayoutPass) {
    auto content = UIViewController::create();
    auto navigation = UINavigationController::create(content);
    window->setRootViewController(navigation);
    auto v = addPlacedView(content);
    auto guide = content->topLayoutGuide();
    auto top = C::constraintWithItem(v, NSLayoutAttributeTop, NSLayoutRelationEqual, guide,
                                     NSLayoutAttributeBottom, 1, 10);
    top->setActive(true);
    C::constraintWithItem(v, NSLayoutAttributeHeight, NSLayoutRelationEqual, guide, NSLayoutAttributeHeight,
                          1, 0)
        ->setActive(true);
    EXPECT_EQ(top->installedView(), content->view());
    EXPECT_EQ(top->secondLayoutGuide(), guide);
    EXPECT_EQ(top->secondItem(), nullptr);
    window->layoutIfNeeded();
    EXPECT_EQ(v->frame(), CGRectMake(0, 74, 100, 64)) << "status bar 20 and navigation bar 44, then 10";

    navigation->setNavigationBarHidden(true, false);
    content->view()->setNeedsLayout();
    window->layoutIfNeeded();
    EXPECT_EQ(v->frame(), CGRectMake(0, 30, 100, 20));
}

TEST_F(LayoutGuideTest, BottomGuideTopSitsOnTheTabBar) {
    auto content = UIViewController::create();
    auto tabs = UITabBarController::create();
    tabs->setViewControllers({content});
    window->setRootViewController(tabs);
    auto v = addPlacedView(content);
    auto host = content->view();
    C::activateConstraints({
        C::constraintWithItem(v, NSLayoutAttributeBottom, NSLayoutRelationEqual, content->bottomLayoutGuide(),
                              NSLayoutAttributeTop, 1, -5),
        C::constraintWithItem(v, NSLayoutAttributeHeight, NSLayoutRelationEqual, nullptr,
                              NSLayoutAttributeNotAnAttribute, 0, 30),
    });
    window->layoutIfNeeded();
    double hostBottom = CGRectGetMaxY(host->bounds());
    EXPECT_DOUBLE_EQ(CGRectGetMaxY(v->frame()), hostBottom - 49 - 5);
}

TEST_F(LayoutGuideTest, GuideOfAControllerWithoutItsViewCannotBeActivated) {
    auto shown = UIViewController::create();
    window->setRootViewController(shown);
    auto v = addPlacedView(shown);
    auto unloaded = UIViewController::create();
    auto constraint = C::constraintWithItem(v, NSLayoutAttributeTop, NSLayoutRelationEqual,
                                            unloaded->topLayoutGuide(), NSLayoutAttributeBottom, 1, 0);
    EXPECT_THROW(constraint->setActive(true), Exception);
    EXPECT_FALSE(constraint->isActive());
}

} // namespace
