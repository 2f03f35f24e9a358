#pragma once
// UIPanGestureRecognizer: a continuous gesture of one or more fingers moving together. It begins once the
// fingers' centroid has moved more than `hysteresis` points, changes with every move, and ends when the
// last finger lifts (lifting before it began fails it). translationInView is the centroid's movement since
// the gesture's start (or since the last setTranslation); velocityInView is the last move's speed in
// points per second.
//
// UIScreenEdgePanGestureRecognizer: a pan that only begins when its first finger went down within
// `edgeWidth` points of one of its edges of the window and moves away from that edge.

#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UIRectEdge.h"

#include <cstdint>
#include <limits>

namespace platform {

class UIPanGestureRecognizer : public UIGestureRecognizer {
public:
    static constexpr double hysteresis = 10;

    using UIGestureRecognizer::UIGestureRecognizer;
    static std::shared_ptr<UIPanGestureRecognizer> create(const ObjectPtr& target, Selector action) {
        return std::make_shared<UIPanGestureRecognizer>(target, std::move(action));
    }

    uint64_t minimumNumberOfTouches() const { return m_minimumTouches; }
    void setMinimumNumberOfTouches(uint64_t count) { m_minimumTouches = count; }
    uint64_t maximumNumberOfTouches() const { return m_maximumTouches; }
    void setMaximumNumberOfTouches(uint64_t count) { m_maximumTouches = count; }

    CGPoint translationInView(const std::shared_ptr<UIView>& view) const;
    void setTranslation(CGPoint translation, const std::shared_ptr<UIView>& view);
    CGPoint velocityInView(const std::shared_ptr<UIView>& view) const;

    bool isContinuous() const override { return true; }
    void touchesBegan(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesMoved(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesEnded(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesCancelled(const UITouchSet& touches, const UIEventPtr& event) override;
    void reset() override;

protected:
    // Whether a pan that has moved by `translation` (window points) from `start` may begin.
    virtual bool canBeginPan(CGPoint /*start*/, CGPoint /*translation*/) { return true; }

private:
    CGPoint m_start;        // window coordinates of the centroid the translation is measured from
    CGPoint m_gestureStart; // where the first finger went down
    CGPoint m_lastPoint;
    double m_lastTime{0};
    CGPoint m_velocity;
    uint64_t m_minimumTouches{1};
    uint64_t m_maximumTouches{std::numeric_limits<uint64_t>::max()};
};

class UIScreenEdgePanGestureRecognizer : public UIPanGestureRecognizer {
public:
    static constexpr double edgeWidth = 20;

    using UIPanGestureRecognizer::UIPanGestureRecognizer;
    static std::shared_ptr<UIScreenEdgePanGestureRecognizer> create(const ObjectPtr& target,
                                                                    Selector action) {
        return std::make_shared<UIScreenEdgePanGestureRecognizer>(target, std::move(action));
    }

    uint64_t edges() const { return m_edges; }
    void setEdges(uint64_t edges) { m_edges = edges; }

protected:
    bool canBeginPan(CGPoint start, CGPoint translation) override;

private:
    uint64_t m_edges{UIRectEdgeNone};
};

} // namespace platform
