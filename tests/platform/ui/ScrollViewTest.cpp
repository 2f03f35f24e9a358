#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIScrollView.h"
#include "tests/support/UIFixture.h"

#include <string>
#include <vector>

using namespace platform;

namespace {

class RecordingScrollDelegate : public UIScrollViewDelegate {
public:
    void scrollViewDidScroll(UIScrollView* view) override { offsets.push_back(view->contentOffset().y); }
    void scrollViewWillBeginDragging(UIScrollView*) override { events.push_back("willBeginDragging"); }
    void scrollViewDidEndDragging(UIScrollView*, bool) override { events.push_back("didEndDragging"); }
    void scrollViewDidEndScrollingAnimation(UIScrollView*) override { events.push_back("didEndAnimation"); }

    std::vector<double> offsets;
    std::vector<std::string> events;
};

class ScrollViewTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        scrollView = UIScrollView::create(CGRectMake(0, 0, 100, 100));
        scrollView->setContentSize(CGSizeMake(100, 1000));
        scrollView->setDelegate(delegate);
        window->addSubview(scrollView);
    }

    UIScrollViewPtr scrollView;
    std::shared_ptr<RecordingScrollDelegate> delegate = std::make_shared<RecordingScrollDelegate>();
};

TEST_F(ScrollViewTest, ContentOffsetMovesTheContentOnScreen) {
    auto block = UIView::create(CGRectMake(0, 150, 100, 20));
    block->setBackgroundColor(UIColor::redColor());
    scrollView->addSubview(block);
    scrollView->setContentOffset(CGPointMake(0, 100));

    EXPECT_EQ(scrollView->bounds().origin.y, 100);
    EXPECT_EQ(delegate->offsets, std::vector<double>{100});
    auto image = render();
    EXPECT_TRUE(liveapp::test::colorNear(pixelAt(image, 50, 60), {255, 0, 0, 255}));
    EXPECT_FALSE(liveapp::test::colorNear(pixelAt(image, 50, 90), {255, 0, 0, 255}));
    EXPECT_EQ(TouchSimulator::viewAt(window, CGPointMake(50, 60)), block);
}

TEST_F(ScrollViewTest, ScrollRectToVisibleMovesTheLeastDistanceWithinTheContent) {
    scrollView->scrollRectToVisible(CGRectMake(0, 500, 10, 10), false);
    EXPECT_EQ(scrollView->contentOffset().y, 410); // the rectangle's bottom edge meets the view's

    scrollView->scrollRectToVisible(CGRectMake(0, 450, 10, 10), false);
    EXPECT_EQ(scrollView->contentOffset().y, 410); // already visible: no move

    scrollView->scrollRectToVisible(CGRectMake(0, 200, 10, 10), false);
    EXPECT_EQ(scrollView->contentOffset().y, 200); // above: its top edge meets the view's

    scrollView->scrollRectToVisible(CGRectMake(0, 999, 1, 1), false);
    EXPECT_EQ(scrollView->contentOffset().y, 900); // the last point of the content ends at the bottom

    scrollView->scrollRectToVisible(CGRectMake(0, 5000, 1, 1), false);
    EXPECT_EQ(scrollView->contentOffset().y, 900); // never past the content's end

    scrollView->setContentInset(UIEdgeInsetsMake(0, 0, 40, 0));
    scrollView->scrollRectToVisible(CGRectMake(0, 1039, 1, 1), false);
    EXPECT_EQ(scrollView->contentOffset().y, 940);
}

TEST_F(ScrollViewTest, AnimatedScrollLandsAtOnceAndReportsTheAnimationEndLater) {
    scrollView->setContentOffset(CGPointMake(0, 300), true);
    EXPECT_EQ(scrollView->contentOffset().y, 300);
    EXPECT_TRUE(delegate->events.empty());
    pump();
    EXPECT_EQ(delegate->events, std::vector<std::string>{"didEndAnimation"});

    scrollView->setContentOffset(CGPointMake(0, 300), true); // no move, no animation
    pump();
    EXPECT_EQ(delegate->events.size(), 1u);
}

TEST_F(ScrollViewTest, FingerTracksThenDragsPastTheThresholdAndFollowsClamped) {
    TouchSimulator touches(window);
    touches.begin({CGPointMake(50, 80)});
    EXPECT_TRUE(scrollView->isTracking());
    EXPECT_FALSE(scrollView->isDragging());

    touches.move({CGPointMake(50, 75)});
    EXPECT_FALSE(scrollView->isDragging());
    EXPECT_EQ(scrollView->contentOffset().y, 0);

    touches.move({CGPointMake(50, 30)});
    EXPECT_TRUE(scrollView->isDragging());
    EXPECT_EQ(scrollView->contentOffset().y, 50);

    touches.move({CGPointMake(50, 95)}); // pulling down past the top stops at the top
    EXPECT_EQ(scrollView->contentOffset().y, 0);

    touches.end();
    EXPECT_FALSE(scrollView->isTracking());
    EXPECT_FALSE(scrollView->isDragging());
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"willBeginDragging", "didEndDragging"}));
}

TEST_F(ScrollViewTest, DragDoesNothingWhenScrollingIsOffOrTheContentIsShort) {
    scrollView->setScrollEnabled(false);
    drag(CGPointMake(50, 90), CGPointMake(50, 10));
    EXPECT_EQ(scrollView->contentOffset().y, 0);
    scrollView->setScrollEnabled(true);
    scrollView->setContentSize(CGSizeMake(100, 50));
    drag(CGPointMake(50, 90), CGPointMake(50, 10));
    EXPECT_EQ(scrollView->contentOffset().y, 0);
}

} // namespace
