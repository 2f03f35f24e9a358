#include "platform/ui/CALayer.h"
#include "platform/ui/UIView.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(LayerTreeTest, InsertAtIndexPlacesBetweenSubviewLayers) {
    auto bar = UIView::create();
    auto background = UIView::create(), title = UIView::create();
    bar->addSubview(background);
    bar->addSubview(title);
    auto colour = CALayer::layer();
    bar->layer()->insertSublayer(colour, 1);
    EXPECT_EQ(bar->layer()->sublayers(),
              (std::vector<CALayerPtr>{background->layer(), colour, title->layer()}));
    // Inserting again at 1 moves it, not duplicates it.
    bar->layer()->insertSublayer(colour, 1);
    EXPECT_EQ(bar->layer()->sublayers().size(), 3u);
    // A later subview goes on top of the extra layer.
    auto badge = UIView::create();
    bar->addSubview(badge);
    EXPECT_EQ(bar->layer()->sublayers().back(), badge->layer());
}

TEST(LayerTreeTest, IndexPastTheEndAppendsRemovalDetachesAndSiblingsPlace) {
    auto root = CALayer::layer(), a = CALayer::layer(), b = CALayer::layer();
    root->insertSublayer(a, 10);
    root->insertSublayer(b, 0);
    EXPECT_EQ(root->sublayers(), (std::vector<CALayerPtr>{b, a}));
    EXPECT_EQ(a->superlayer(), root);
    a->removeFromSuperlayer();
    EXPECT_EQ(root->sublayers(), (std::vector<CALayerPtr>{b}));
    EXPECT_EQ(a->superlayer(), nullptr);
    auto c = CALayer::layer();
    root->replaceSublayer(b, c);
    EXPECT_EQ(root->sublayers(), (std::vector<CALayerPtr>{c}));
    EXPECT_EQ(b->superlayer(), nullptr);
    root->addSublayer(a);
    root->insertSublayerBelow(b, a);
    EXPECT_EQ(root->sublayers(), (std::vector<CALayerPtr>{c, b, a}));
    root->insertSublayerAbove(c, a);
    EXPECT_EQ(root->sublayers(), (std::vector<CALayerPtr>{b, a, c}));
}

TEST(LayerGeometryTest, FrameFollowsAnchorPointPositionAndTransform) {
    auto layer = CALayer::layer();
    layer->setFrame(CGRectMake(0, -20, 320, 64));
    EXPECT_EQ(layer->position(), CGPointMake(160, 12));
    EXPECT_EQ(layer->bounds(), CGRectMake(0, 0, 320, 64));
    layer->setAnchorPoint(CGPointMake(0, 0));
    EXPECT_EQ(layer->frame(), CGRectMake(160, 12, 320, 64));
    layer->setAffineTransform(CGAffineTransformMakeScale(0.5, 2));
    EXPECT_EQ(layer->frame(), CGRectMake(160, 12, 160, 128));
}

TEST(LayerGeometryTest, ConvertsBetweenLayers) {
    auto root = CALayer::layer(), child = CALayer::layer();
    root->setFrame(CGRectMake(0, 0, 100, 100));
    child->setFrame(CGRectMake(10, 20, 30, 30));
    root->addSublayer(child);
    EXPECT_EQ(child->convertPointToLayer(CGPointMake(1, 1), root), CGPointMake(11, 21));
    EXPECT_EQ(child->convertPointFromLayer(CGPointMake(11, 21), root), CGPointMake(1, 1));
}

} // namespace
