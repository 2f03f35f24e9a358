#include "app/ui/NSArray+AutoLayout.h"
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
        root->addSubview(view);
        root->addSubview(other);
    }
    NSLayoutConstraintPtr build() { return autoPinEdgeToSuperviewEdge(view, EdgeTop, 4); }
    static bool stacksEmpty() {
        return layout_arraysOfCreatedConstraints().empty() && layout_globalConstraintPriorities().empty() &&
               layout_globalConstraintIdentifiers().empty();
    }

    UIViewPtr root;
    UIViewPtr view = UIView::create();
    UIViewPtr other = UIView::create();
};

// Stands for a platform whose constraints cannot be activated one by one.
class LegacyConstraint : public NSLayoutConstraint {
public:
    using NSLayoutConstraint::NSLayoutConstraint;
    bool respondsTo(std::string_view selector) const override {
        return selector != "setActive:" && NSLayoutConstraint::respondsTo(selector);
    }
};

TEST_F(AutoLayoutStateTest, PrioritiesAndIdentifiersNestInnermostFirst) {
    auto plain = build();
    EXPECT_TRUE(plain->isActive());
    EXPECT_FLOAT_EQ(plain->priority(), 1000);
    EXPECT_FALSE(plain->identifier().has_value());
    NSLayoutConstraintPtr inner, after, unnamed;
    autoSetPriority(250, [&] {
        autoSetIdentifier("outer", [&] {
            autoSetPriority(750, [&] { autoSetIdentifier("inner", [&] { inner = build(); }); });
            after = build();
        });
        autoSetIdentifier(std::nullopt, [&] { unnamed = build(); });
    });
    EXPECT_FLOAT_EQ(inner->priority(), 750);
    EXPECT_EQ(inner->identifier(), "inner");
    EXPECT_FLOAT_EQ(after->priority(), 250);
    EXPECT_EQ(after->identifier(), "outer");
    ASSERT_TRUE(unnamed) << "a nil identifier still runs the block";
    EXPECT_FALSE(unnamed->identifier().has_value());
    EXPECT_TRUE(stacksEmpty());
}

TEST_F(AutoLayoutStateTest, CreatingWithoutInstallingCollectsUntilInstalledInOneBatch) {
    auto created = autoCreateConstraintsWithoutInstalling([&] {
        autoSetPriority(300, [&] { build(); });
        autoSetDimensionsToSize(view, CGSizeMake(10, 10));
    });
    ASSERT_EQ(created->size(), 3u);
    EXPECT_FALSE(created->front()->isActive());
    EXPECT_FLOAT_EQ(created->front()->priority(), 300)
        << "the priority still applies to collected constraints";
    autoInstallConstraints(*created);
    for (auto& c : *created)
        EXPECT_TRUE(c->isActive());
    EXPECT_FALSE(autoCreateConstraintsWithoutInstalling(nullptr).has_value());
    EXPECT_TRUE(stacksEmpty());
}

TEST_F(AutoLayoutStateTest, NestedCollectionsKeepTheirOwnAndCreateAndInstallStillInstalls) {
    NSLayoutConstraintArray nested, installed;
    auto outer = autoCreateConstraintsWithoutInstalling([&] {
        build();
        nested = *autoCreateConstraintsWithoutInstalling([&] { build(); });
        installed = *autoCreateAndInstallConstraints([&] { build(); });
    });
    ASSERT_EQ(outer->size(), 1u);
    EXPECT_FALSE(outer->front()->isActive());
    ASSERT_EQ(nested.size(), 1u);
    EXPECT_FALSE(nested.front()->isActive());
    ASSERT_EQ(installed.size(), 1u);
    EXPECT_TRUE(installed.front()->isActive());
}

TEST_F(AutoLayoutStateTest, ABlockThatThrowsLeavesNothingPushed) {
    auto boom = [] { throw std::runtime_error("boom"); };
    EXPECT_THROW(autoSetPriority(500, [&] { autoSetIdentifier("x", boom); }), std::runtime_error);
    EXPECT_THROW(autoCreateAndInstallConstraints(boom), std::runtime_error);
    EXPECT_TRUE(stacksEmpty());
    EXPECT_TRUE(build()->isActive());
}

TEST_F(AutoLayoutStateTest, ConstraintsThatCannotBeActivatedGoToTheNearestCommonSuperview) {
    auto legacy = std::make_shared<LegacyConstraint>(view, NSLayoutAttributeLeft, NSLayoutRelationEqual,
                                                     other, NSLayoutAttributeRight, 1, 3);
    autoSetIdentifier("legacy", [&] { autoInstall(legacy); });
    EXPECT_EQ(root->constraints(), NSLayoutConstraintArray{legacy});
    EXPECT_EQ(legacy->identifier(), "legacy");
    autoRemove(legacy);
    EXPECT_TRUE(root->constraints().empty());

    autoPinEdgeToSuperviewEdge(other, EdgeLeft);
    autoRemove(legacy);
    EXPECT_EQ(root->constraints().size(), 1u) << "removing what no view holds changes nothing";
}

} // namespace
