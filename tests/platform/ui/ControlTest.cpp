#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIControl.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;
using Strings = std::vector<std::string>;

namespace {

class ControlTest : public UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        control = std::make_shared<UIControl>(CGRectMake(50, 50, 100, 40));
        window->addSubview(control);
    }
    UIControlPtr control;
};

class Target : public Object {
public:
    void pressed() { events.push_back("pressed"); }
    void pressedBy(UIControl* sender) { events.push_back(sender ? "sender" : "null"); }
    void down(UIControl*, UIEvent* event) { events.push_back(event ? "down+event" : "down"); }
    Strings events;
};

TEST_F(ControlTest, TapSendsTouchDownThenTouchUpInsideToTheirTargets) {
    auto target = std::make_shared<Target>();
    control->addTarget(target, selector("down:forEvent:", &Target::down), UIControlEventTouchDown);
    control->addTarget(target, selector("pressed", &Target::pressed), UIControlEventTouchUpInside);
    control->addTarget(target, selector("pressedBy:", &Target::pressedBy), UIControlEventTouchUpInside);
    tap(CGPointMake(60, 60));
    EXPECT_EQ(target->events, (Strings{"down+event", "pressed", "sender"}));
    EXPECT_FALSE(control->isHighlighted());
}

TEST_F(ControlTest, HighlightedWhileTheFingerIsDownAndStatesCombine) {
    TouchSimulator sim(window);
    sim.begin({CGPointMake(60, 60)});
    EXPECT_EQ(control->state(), uint64_t(UIControlStateHighlighted));
    sim.end();
    EXPECT_FALSE(control->isHighlighted());
    control->setSelected(true);
    control->setHighlighted(true);
    EXPECT_EQ(control->state(), uint64_t(UIControlStateSelected | UIControlStateHighlighted));
}

TEST_F(ControlTest, LiftingFarOutsideSendsTouchUpOutside) {
    Strings events;
    control->addTarget(nullptr, selector("in", [&](Object*, Object*, UIEvent*) { events.push_back("in"); }),
                       UIControlEventTouchUpInside);
    control->addTarget(nullptr, selector("out", [&](Object*, Object*, UIEvent*) { events.push_back("out"); }),
                       UIControlEventTouchUpOutside);
    TouchSimulator sim(window);
    sim.begin({CGPointMake(60, 60)});
    sim.move({CGPointMake(120, 100)}); // within the slop
    sim.end();
    sim.begin({CGPointMake(60, 60)});
    sim.move({CGPointMake(300, 400)});
    sim.end();
    EXPECT_EQ(events, (Strings{"in", "out"}));
}

TEST_F(ControlTest, DisabledControlSendsNothingAndAGoneTargetIsSkipped) {
    int count = 0;
    auto target = std::make_shared<Target>();
    control->addTarget(target, selector("pressed", &Target::pressed), UIControlEventValueChanged);
    control->addTarget(nullptr, selector("x", [&](Object*, Object*, UIEvent*) { ++count; }),
                       UIControlEventAllTouchEvents | UIControlEventValueChanged);
    control->setEnabled(false);
    tap(CGPointMake(60, 60));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(control->state(), uint64_t(UIControlStateDisabled));
    target.reset();
    control->sendActionsForControlEvents(UIControlEventValueChanged);
    EXPECT_EQ(count, 1);
}

TEST_F(ControlTest, AddingTheSamePairTwiceSendsOnceAndRemovalIsPerEvent) {
    auto target = std::make_shared<Target>();
    control->addTarget(target, selector("pressed", &Target::pressed), UIControlEventValueChanged);
    control->addTarget(target, selector("pressed", &Target::pressed),
                       UIControlEventValueChanged | UIControlEventEditingChanged);
    control->sendActionsForControlEvents(UIControlEventValueChanged);
    EXPECT_EQ(target->events.size(), 1u);
    EXPECT_EQ(control->allControlEvents(),
              uint64_t(UIControlEventValueChanged | UIControlEventEditingChanged));
    EXPECT_EQ(control->actionsForTarget(target.get(), UIControlEventEditingChanged), (Strings{"pressed"}));

    control->removeTarget(target.get(), "pressed", UIControlEventValueChanged);
    control->sendActionsForControlEvents(UIControlEventValueChanged);
    EXPECT_EQ(target->events.size(), 1u);
    EXPECT_EQ(control->allTargets().size(), 1u);
    control->removeTarget(nullptr, "", UIControlEventAllEvents);
    EXPECT_TRUE(control->allTargets().empty());
}

} // namespace
