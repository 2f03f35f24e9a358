#include "app/ui/NSArray+AutoLayout.h"
#include "app/ui/NSLayoutConstraint+AutoLayout.h"
#include "app/ui/UIView+AutoLayout.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace platform;

namespace {

class AutoLayoutStateTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        root = UIView::create(CGRectMake(0, 0, 300, 200));
        window->addSubview(root);
        view = UIView::create();
        root->addSubview(view);
    }
    NSLayoutConstraintPtr build() { return autoPinEdgeToSuperviewEdge(view, EdgeTop, 4); }

    UIViewPtr root;
    UIViewPtr view;
};

// Stands for a platform whose constraints cannot be activated one by one.
class LegacyConstraint : public NSLayoutConstraint {
public:
    using NSLayoutConstraint::NSLayoutConstraint;
    bool respondsTo(std::string_view selector) const override {
        return selector != "setActive:" && NSLayoutConstraint::respondsTo(selector);
    }
};

TEST_F(AutoLayoutStateTest, OutsideEveryBlockAConstraintIsActiveRequiredAndUnnamed) {
    auto c = build();
    EXPECT_TRUE(c->isActive());
    EXPECT_FLOAT_EQ(c->priority(), 1000);
    EXPECT_FALSE(c->identifier().has_value());
    EXPECT_FALSE(layout_isExecutingPriorityConstraintsBlock());
    EXPECT_EQ(layout_currentArrayOfCreatedConstraints(), nullptr);
}

TEST_F(AutoLayoutStateTest, PrioritiesAndIdentifiersNestInnermostFirst) {
    NSLayoutConstraintPtr inner, after;
    autoSetPriority(250, [&] {
        autoSetIdentifier("outer", [&] {
            autoSetPriority(750, [&] { autoSetIdentifier("inner", [&] { inner = build(); }); });
            after = build();
        });
    });
    EXPECT_FLOAT_EQ(inner->priority(), 750);
    EXPECT_EQ(inner->identifier(), "inner");
    EXPECT_FLOAT_EQ(after->priority(), 250);
    EXPECT_EQ(after->identifier(), "outer");
    EXPECT_FLOAT_EQ(build()->priority(), 1000);

    NSLayoutConstraintPtr unnamed;
    autoSetIdentifier(std::nullopt, [&] { unnamed = build(); });
    ASSERT_TRUE(unnamed);
    EXPECT_FALSE(unnamed->identifier().has_value());
    EXPECT_TRUE(layout_globalConstraintPriorities().empty());
    EXPECT_TRUE(layout_globalConstraintIdentifiers().empty());
}

TEST_F(AutoLayoutStateTest, CreatingWithoutInstallingCollectsUntilInstalledInOneBatch) {
    auto created = autoCreateConstraintsWithoutInstalling([&] {
        autoSetPriority(300, [&] { build(); });
        autoSetDimensionsToSize(view, CGSizeMake(10, 10));
    });
    ASSERT_TRUE(created);
    ASSERT_EQ(created->size(), 3u);
    for (auto& c : *created)
        EXPECT_FALSE(c->isActive());
    EXPECT_FLOAT_EQ(created->front()->priority(), 300)
        << "the priority still applies to collected constraints";
    EXPECT_TRUE(layout_arraysOfCreatedConstraints().empty());

    autoInstallConstraints(*created);
    for (auto& c : *created)
        EXPECT_TRUE(c->isActive());

    EXPECT_FALSE(autoCreateConstraintsWithoutInstalling(nullptr).has_value());
    EXPECT_FALSE(autoCreateAndInstallConstraints(nullptr).has_value());
    EXPECT_TRUE(layout_arraysOfCreatedConstraints().empty());
}

TEST_F(AutoLayoutStateTest, NestedCollectionsKeepTheirOwnAndCreateAndInstallStillInstalls) {
    NSLayoutConstraintArray nested;
    std::optional<NSLayoutConstraintArray> installed;
    auto outer = autoCreateConstraintsWithoutInstalling([&] {
        build();
        nested = *autoCreateConstraintsWithoutInstalling([&] { build(); });
        installed = autoCreateAndInstallConstraints([&] { build(); });
        build();
    });
    ASSERT_EQ(outer->size(), 2u);
    EXPECT_FALSE(outer->front()->isActive());
    ASSERT_EQ(nested.size(), 1u);
    EXPECT_FALSE(nested.front()->isActive());
    ASSERT_EQ(installed->size(), 1u);
    EXPECT_TRUE(installed->front()->isActive());
    EXPECT_FALSE(layout_isInstallingCreatedConstraints());
    for (auto& c : *outer)
        EXPECT_NE(c, installed->front());
}

TEST_F(AutoLayoutStateTest, ABlockThatThrowsLeavesNothingPushed) {
    EXPECT_THROW(
        autoSetPriority(500, [] { autoSetIdentifier("x", [] { throw std::runtime_error("boom"); }); }),
        std::runtime_error);
    EXPECT_THROW(autoCreateConstraintsWithoutInstalling([] { throw std::runtime_error("boom"); }),
                 std::runtime_error);
    EXPECT_TRUE(layout_globalConstraintPriorities().empty());
    EXPECT_TRUE(layout_globalConstraintIdentifiers().empty());
    EXPECT_TRUE(layout_arraysOfCreatedConstraints().empty());
    EXPECT_TRUE(build()->isActive());
}

TEST_F(AutoLayoutStateTest, ConstraintsThatCannotBeActivatedGoToTheNearestCommonSuperview) {
    auto other = UIView::create();
    root->addSubview(other);
    auto legacy = std::make_shared<LegacyConstraint>(view, NSLayoutAttributeLeft, NSLayoutRelationEqual,
                                                     other, NSLayoutAttributeRight, 1, 3);
    autoSetIdentifier("legacy", [&] { autoInstall(legacy); });
    ASSERT_EQ(root->constraints().size(), 1u);
    EXPECT_EQ(root->constraints().front(), legacy);
    EXPECT_EQ(legacy->identifier(), "legacy");
    autoRemove(legacy);
    EXPECT_TRUE(root->constraints().empty());

    auto held = std::make_shared<LegacyConstraint>(view, NSLayoutAttributeWidth, NSLayoutRelationEqual,
                                                   nullptr, NSLayoutAttributeNotAnAttribute, 0, 5);
    autoInstall(held);
    EXPECT_EQ(view->constraints().size(), 1u);
    autoRemove(held);
    EXPECT_TRUE(view->constraints().empty());

    auto stray = std::make_shared<LegacyConstraint>(view, NSLayoutAttributeTop, NSLayoutRelationEqual, other,
                                                    NSLayoutAttributeTop, 1, 0);
    autoPinEdgeToSuperviewEdge(other, EdgeLeft);
    autoRemove(stray);
    EXPECT_EQ(root->constraints().size(), 1u) << "removing what no view holds changes nothing";
}

} // namespace
