#pragma once
// UITapGestureRecognizer: a discrete gesture of numberOfTapsRequired taps, each made with
// numberOfTouchesRequired fingers that neither move more than a few points nor wander from the first tap.
// Between taps it waits at most maxTapInterval seconds (by Clock::current(), on the main run loop) for the
// next finger to go down, and fails when none does.

#include "platform/ui/UIGestureRecognizer.h"

#include <vector>

namespace platform {

class UITapGestureRecognizer : public UIGestureRecognizer {
public:
    static constexpr double maxTapInterval = 0.35;
    static constexpr double allowableMovement = 10;

    using UIGestureRecognizer::UIGestureRecognizer;
    static std::shared_ptr<UITapGestureRecognizer> create(const ObjectPtr& target, Selector action) {
        return std::make_shared<UITapGestureRecognizer>(target, std::move(action));
    }

    uint64_t numberOfTapsRequired() const { return m_tapsRequired; }
    void setNumberOfTapsRequired(uint64_t taps) { m_tapsRequired = taps == 0 ? 1 : taps; }
    uint64_t numberOfTouchesRequired() const { return m_touchesRequired; }
    void setNumberOfTouchesRequired(uint64_t touches) { m_touchesRequired = touches == 0 ? 1 : touches; }

    void touchesBegan(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesMoved(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesEnded(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesCancelled(const UITouchSet& touches, const UIEventPtr& event) override;
    void reset() override;

private:
    void waitForNextTap();

    uint64_t m_tapsRequired{1};
    uint64_t m_touchesRequired{1};
    uint64_t m_tapsSeen{0};
    uint64_t m_fingersThisTap{0};
    uint64_t m_waitId{0};
    bool m_waiting{false};
    bool m_hasFirstTapPoint{false};
    CGPoint m_firstTapPoint;
    std::vector<std::pair<const UITouch*, CGPoint>> m_starts;
};

} // namespace platform
