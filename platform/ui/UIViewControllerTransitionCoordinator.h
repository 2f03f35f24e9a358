#pragma once
// The coordinator a rotation of the interface hands to viewWillTransitionToSize. Animations given to
// animateAlongsideTransition run with the rotation's own changes, after the new bounds are set; their
// completions run once the rotation has ended, on the main run loop, never inside the call that rotated.
// A coordinator asked after the changes ran the animation at once and the completion at the end.
// Main thread only.

#include <functional>
#include <memory>
#include <vector>

namespace platform {

class UIViewControllerTransitionCoordinator {
public:
    using Block = std::function<void(const UIViewControllerTransitionCoordinator&)>;

    UIViewControllerTransitionCoordinator(bool animated, double duration)
        : m_animated(animated)
        , m_duration(duration) {}

    bool isAnimated() const { return m_animated; }
    double transitionDuration() const { return m_duration; }
    // Always true: a rotation can always take more.
    bool animateAlongsideTransition(Block animation, Block completion);

    // For the rotation: its changes are made (the animations run) / it has ended (the completions run).
    void runAlongside();
    void finish();

private:
    bool m_animated{false};
    double m_duration{0};
    bool m_changesMade{false};
    bool m_finished{false};
    std::vector<Block> m_animations;
    std::vector<Block> m_completions;
};

using UIViewControllerTransitionCoordinatorPtr = std::shared_ptr<UIViewControllerTransitionCoordinator>;

} // namespace platform
