#include "platform/ui/UIViewControllerTransitionCoordinator.h"

namespace platform {

bool UIViewControllerTransitionCoordinator::animateAlongsideTransition(Block animation, Block completion) {
    if (m_changesMade) {
        if (animation)
            animation(*this);
    } else if (animation) {
        m_animations.push_back(std::move(animation));
    }
    if (m_finished) {
        if (completion)
            completion(*this);
    } else if (completion) {
        m_completions.push_back(std::move(completion));
    }
    return true;
}

void UIViewControllerTransitionCoordinator::runAlongside() {
    m_changesMade = true;
    auto animations = std::move(m_animations);
    m_animations.clear();
    for (const auto& animation : animations)
        animation(*this);
}

void UIViewControllerTransitionCoordinator::finish() {
    m_finished = true;
    auto completions = std::move(m_completions);
    m_completions.clear();
    for (const auto& completion : completions)
        completion(*this);
}

} // namespace platform
