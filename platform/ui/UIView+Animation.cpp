#include "platform/runloop/RunLoop.h"
#include "platform/ui/UIView.h"

#include <chrono>

namespace platform {

namespace {

struct AnimationState {
    std::vector<UIViewAnimationRecord> recorded;
    bool instant{false};
    bool enabled{true};
};

AnimationState& state() {
    static AnimationState s;
    return s;
}

void runAnimations(const UIView::Animations& animations) {
    if (animations)
        animations();
}

// Completions always come later, on the main loop, even for zero durations, as the platform's do.
void scheduleCompletion(double seconds, UIView::Completion completion) {
    if (!completion)
        return;
    auto block = [completion = std::move(completion)] { completion(true); };
    auto& s = state();
    if (s.instant || !s.enabled || !(seconds > 0)) {
        RunLoop::main()->performBlock(std::move(block));
        return;
    }
    auto delay = std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
    RunLoop::main()->performBlockAfter(delay, std::move(block));
}

void start(UIViewAnimationRecord record, const UIView::Animations& animations,
           UIView::Completion completion) {
    record.duration = record.duration > 0 ? record.duration : 0;
    record.delay = record.delay > 0 ? record.delay : 0;
    state().recorded.push_back(record);
    runAnimations(animations);
    scheduleCompletion(record.delay + record.duration, std::move(completion));
}

} // namespace

const std::vector<UIViewAnimationRecord>& UIViewAnimations::recorded() {
    return state().recorded;
}

void UIViewAnimations::clearRecorded() {
    state().recorded.clear();
}

void UIViewAnimations::setInstant(bool instant) {
    state().instant = instant;
}

bool UIViewAnimations::isInstant() {
    return state().instant;
}

void UIView::animateWithDuration(double duration, Animations animations) {
    animateWithDuration(duration, 0, 0, std::move(animations), nullptr);
}

void UIView::animateWithDuration(double duration, Animations animations, Completion completion) {
    animateWithDuration(duration, 0, 0, std::move(animations), std::move(completion));
}

void UIView::animateWithDuration(double duration, double delay, uint64_t options, Animations animations,
                                 Completion completion) {
    UIViewAnimationRecord record;
    record.duration = duration;
    record.delay = delay;
    record.options = options;
    start(record, animations, std::move(completion));
}

void UIView::animateWithDuration(double duration, double delay, double dampingRatio, double velocity,
                                 uint64_t options, Animations animations, Completion completion) {
    UIViewAnimationRecord record;
    record.kind = UIViewAnimationRecord::Kind::Spring;
    record.duration = duration;
    record.delay = delay;
    record.options = options;
    record.springDamping = dampingRatio;
    record.springVelocity = velocity;
    start(record, animations, std::move(completion));
}

void UIView::transitionWithView(const UIViewPtr&, double duration, uint64_t options, Animations animations,
                                Completion completion) {
    UIViewAnimationRecord record;
    record.kind = UIViewAnimationRecord::Kind::Transition;
    record.duration = duration;
    record.options = options;
    start(record, animations, std::move(completion));
}

void UIView::transitionFromView(const UIViewPtr& fromView, const UIViewPtr& toView, double duration,
                                uint64_t options, Completion completion) {
    UIViewAnimationRecord record;
    record.kind = UIViewAnimationRecord::Kind::Transition;
    record.duration = duration;
    record.options = options;
    auto swap = [fromView, toView, options] {
        if (options & UIViewAnimationOptionShowHideTransitionViews) {
            if (fromView)
                fromView->setHidden(true);
            if (toView)
                toView->setHidden(false);
            return;
        }
        if (!fromView || !toView)
            return;
        if (auto super = fromView->superview()) {
            super->insertSubviewAboveSubview(toView, fromView);
            fromView->removeFromSuperview();
        }
    };
    start(record, swap, std::move(completion));
}

void UIView::performWithoutAnimation(const Animations& actions) {
    auto& s = state();
    bool was = s.enabled;
    s.enabled = false;
    runAnimations(actions);
    s.enabled = was;
}

void UIView::setAnimationsEnabled(bool enabled) {
    state().enabled = enabled;
}

bool UIView::areAnimationsEnabled() {
    return state().enabled;
}

} // namespace platform
