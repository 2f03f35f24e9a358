#pragma once
// The animation side of UIView (animateWithDuration and friends, declared on UIView): options, and the
// record tests read. An animation here applies its final values at once, inside the call, and records
// what was asked; its completion runs on the main run loop once the delay plus the duration have passed by
// Clock::current() (a ManualClock moves it), with finished = true. With instant animations (for tests that
// do not care about timing) or animations disabled, the completion runs on the next pass of the main loop.
// Completions never run inside the call that started the animation. Main thread only.

#include "platform/foundation/Clock.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

enum UIViewAnimationOptions : uint64_t {
    UIViewAnimationOptionLayoutSubviews = 1 << 0,
    UIViewAnimationOptionAllowUserInteraction = 1 << 1,
    UIViewAnimationOptionBeginFromCurrentState = 1 << 2,
    UIViewAnimationOptionRepeat = 1 << 3,
    UIViewAnimationOptionAutoreverse = 1 << 4,
    UIViewAnimationOptionOverrideInheritedDuration = 1 << 5,
    UIViewAnimationOptionOverrideInheritedCurve = 1 << 6,
    UIViewAnimationOptionAllowAnimatedContent = 1 << 7,
    UIViewAnimationOptionShowHideTransitionViews = 1 << 8,
    UIViewAnimationOptionOverrideInheritedOptions = 1 << 9,
    UIViewAnimationOptionCurveEaseInOut = 0 << 16,
    UIViewAnimationOptionCurveEaseIn = 1 << 16,
    UIViewAnimationOptionCurveEaseOut = 2 << 16,
    UIViewAnimationOptionCurveLinear = 3 << 16,
    UIViewAnimationOptionTransitionNone = 0 << 20,
    UIViewAnimationOptionTransitionFlipFromLeft = 1 << 20,
    UIViewAnimationOptionTransitionFlipFromRight = 2 << 20,
    UIViewAnimationOptionTransitionCurlUp = 3 << 20,
    UIViewAnimationOptionTransitionCurlDown = 4 << 20,
    UIViewAnimationOptionTransitionCrossDissolve = 5 << 20,
    UIViewAnimationOptionTransitionFlipFromTop = 6 << 20,
    UIViewAnimationOptionTransitionFlipFromBottom = 7 << 20,
};

// One recorded animation.
struct UIViewAnimationRecord {
    enum class Kind { Basic, Spring, Transition };
    Kind kind{Kind::Basic};
    double duration{0};
    double delay{0};
    uint64_t options{0};
    double springDamping{0};  // Spring only
    double springVelocity{0}; // Spring only
};

// Test controls of the animation machinery.
class UIViewAnimations {
public:
    // Every animation since the last clear, in the order they were started.
    static const std::vector<UIViewAnimationRecord>& recorded();
    static void clearRecorded();
    // When on, completions run on the next main-loop pass whatever the duration.
    static void setInstant(bool instant);
    static bool isInstant();
};

} // namespace platform
