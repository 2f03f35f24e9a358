#include "platform/ui/TouchSimulator.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/Text.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UIKeyboard.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>
#include <chrono>

namespace platform {

namespace {

double nowSeconds() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

bool isTerminal(UIGestureRecognizerState state) {
    return state == UIGestureRecognizerStateEnded || state == UIGestureRecognizerStateCancelled ||
           state == UIGestureRecognizerStateFailed;
}

bool hasRecognized(UIGestureRecognizerState state) {
    return state == UIGestureRecognizerStateBegan || state == UIGestureRecognizerStateChanged ||
           state == UIGestureRecognizerStateEnded;
}

// The recognizers of the hit view and its ancestors, deepest first, that take the touch.
std::vector<std::shared_ptr<UIGestureRecognizer>> recognizersFor(const UIViewPtr& hit,
                                                                 const UITouchPtr& touch) {
    std::vector<std::shared_ptr<UIGestureRecognizer>> result;
    for (auto view = hit; view; view = view->superview()) {
        auto recognizers = view->gestureRecognizers();
        for (auto& recognizer : recognizers)
            if (recognizer->isEnabled() && recognizer->shouldReceiveTouch(touch))
                result.push_back(recognizer);
    }
    return result;
}

// Every recognizer that any of the touches goes to, each once, in first-seen order.
std::vector<std::shared_ptr<UIGestureRecognizer>> recognizersOf(const UITouchSet& touches) {
    std::vector<std::shared_ptr<UIGestureRecognizer>> result;
    for (auto& touch : touches)
        for (auto& recognizer : touch->gestureRecognizers())
            if (std::find(result.begin(), result.end(), recognizer) == result.end())
                result.push_back(recognizer);
    return result;
}

void resetFinished(const UITouchSet& touches) {
    for (auto& recognizer : recognizersOf(touches))
        if (isTerminal(recognizer->state()))
            recognizer->reset();
}

} // namespace

TouchSimulator::TouchSimulator(std::shared_ptr<UIWindow> window)
    : m_window(std::move(window)) {}

TouchSimulator::~TouchSimulator() {
    if (!m_touches.empty())
        cancel();
}

UIViewPtr TouchSimulator::viewAt(const std::shared_ptr<UIWindow>& window, CGPoint point) {
    if (!window)
        return nullptr;
    return window->hitTest(point, nullptr);
}

UITouchSet TouchSimulator::begin(const std::vector<CGPoint>& points, uint64_t tapCount) {
    UITouchSet added;
    double now = nowSeconds();
    for (auto point : points) {
        auto touch = UITouch::create();
        touch->setWindow(m_window);
        touch->setLocationInWindow(point);
        touch->setTimestamp(now);
        touch->setTapCount(tapCount);
        touch->setPhase(UITouchPhaseBegan);
        auto view = viewAt(m_window, point);
        touch->setView(view);
        touch->setGestureRecognizers(recognizersFor(view, touch));
        added.push_back(touch);
    }
    if (m_touches.empty()) {
        // A new sequence: recognizers that finished an earlier one start over.
        resetFinished(added);
        m_viewsCancelled = false;
    }
    for (auto& touch : m_touches)
        touch->setPhase(UITouchPhaseStationary);
    m_touches.insert(m_touches.end(), added.begin(), added.end());
    deliver(UITouchPhaseBegan, added);
    return added;
}

void TouchSimulator::move(const std::vector<CGPoint>& points) {
    UITouchSet moved;
    double now = nowSeconds();
    for (size_t i = 0; i < m_touches.size(); ++i) {
        auto& touch = m_touches[i];
        touch->setTimestamp(now);
        if (i < points.size()) {
            touch->setLocationInWindow(points[i]);
            touch->setPhase(UITouchPhaseMoved);
            moved.push_back(touch);
        } else {
            touch->setPhase(UITouchPhaseStationary);
        }
    }
    if (!moved.empty())
        deliver(UITouchPhaseMoved, moved);
}

void TouchSimulator::end() {
    if (m_touches.empty())
        return;
    double now = nowSeconds();
    for (auto& touch : m_touches) {
        touch->setTimestamp(now);
        touch->setPhase(UITouchPhaseEnded);
    }
    deliver(UITouchPhaseEnded, m_touches);
    finishSequence();
}

void TouchSimulator::cancel() {
    if (m_touches.empty())
        return;
    for (auto& touch : m_touches)
        touch->setPhase(UITouchPhaseCancelled);
    deliver(UITouchPhaseCancelled, m_touches);
    finishSequence();
}

void TouchSimulator::finishSequence() {
    auto touches = std::move(m_touches);
    m_touches.clear();
    resetFinished(touches);
}

void TouchSimulator::deliver(UITouchPhase phase, const UITouchSet& changed) {
    m_event->setTimestamp(nowSeconds());
    m_event->setTouches(m_touches);

    for (auto& recognizer : recognizersOf(changed)) {
        if (!recognizer->isEnabled())
            continue;
        UITouchSet mine;
        for (auto& touch : changed) {
            auto& list = touch->gestureRecognizers();
            if (std::find(list.begin(), list.end(), recognizer) != list.end())
                mine.push_back(touch);
        }
        switch (phase) {
        case UITouchPhaseBegan:
            recognizer->touchesBegan(mine, m_event);
            break;
        case UITouchPhaseMoved:
        case UITouchPhaseStationary:
            recognizer->touchesMoved(mine, m_event);
            break;
        case UITouchPhaseEnded:
            recognizer->touchesEnded(mine, m_event);
            break;
        case UITouchPhaseCancelled:
            recognizer->touchesCancelled(mine, m_event);
            break;
        }
    }

    if (m_viewsCancelled)
        return;
    bool recognized = false;
    for (auto& recognizer : recognizersOf(m_touches))
        if (recognizer->cancelsTouchesInView() && hasRecognized(recognizer->state()))
            recognized = true;

    // Views get each step grouped by the view the touches began in, in the order the fingers went down.
    auto sendToViews = [this](const UITouchSet& touches, UITouchPhase phase) {
        std::vector<UIViewPtr> views;
        for (auto& touch : touches)
            if (auto view = touch->view(); view && std::find(views.begin(), views.end(), view) == views.end())
                views.push_back(view);
        for (auto& view : views) {
            UITouchSet mine;
            for (auto& touch : touches)
                if (touch->view() == view)
                    mine.push_back(touch);
            switch (phase) {
            case UITouchPhaseBegan:
                view->touchesBegan(mine, m_event);
                break;
            case UITouchPhaseMoved:
            case UITouchPhaseStationary:
                view->touchesMoved(mine, m_event);
                break;
            case UITouchPhaseEnded:
                view->touchesEnded(mine, m_event);
                break;
            case UITouchPhaseCancelled:
                view->touchesCancelled(mine, m_event);
                break;
            }
        }
    };

    if (recognized) {
        m_viewsCancelled = true;
        // Views that saw the touches begin hear they were cancelled; a sequence recognized as it began
        // never reaches the views at all.
        UITouchSet seen;
        for (auto& touch : m_touches)
            if (phase != UITouchPhaseBegan ||
                std::find(changed.begin(), changed.end(), touch) == changed.end())
                seen.push_back(touch);
        if (!seen.empty())
            sendToViews(seen, UITouchPhaseCancelled);
        return;
    }
    sendToViews(changed, phase);
}

void TouchSimulator::tapAt(const std::shared_ptr<UIWindow>& window, CGPoint point, uint64_t tapCount) {
    TouchSimulator touches(window);
    touches.begin({point}, tapCount);
    touches.end();
}

void TouchSimulator::doubleTapAt(const std::shared_ptr<UIWindow>& window, CGPoint point) {
    tapAt(window, point, 1);
    tapAt(window, point, 2);
}

void TouchSimulator::pinchAt(const std::shared_ptr<UIWindow>& window, CGPoint center, double startDistance,
                             double scale, int steps) {
    auto fingers = [center](double distance) {
        return std::vector<CGPoint>{{center.x - distance / 2, center.y}, {center.x + distance / 2, center.y}};
    };
    TouchSimulator touches(window);
    touches.begin(fingers(startDistance));
    steps = std::max(1, steps);
    for (int i = 1; i <= steps; ++i)
        touches.move(fingers(startDistance * (1 + (scale - 1) * i / steps)));
    touches.end();
}

void TouchSimulator::drag(const std::shared_ptr<UIWindow>& window, CGPoint from, CGPoint to, int steps) {
    TouchSimulator touches(window);
    touches.begin({from});
    steps = std::max(1, steps);
    for (int i = 1; i <= steps; ++i) {
        double t = double(i) / steps;
        touches.move({{from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t}});
    }
    touches.end();
}

void TouchSimulator::typeText(const std::string& text) {
    for (const auto& character : text::composedCharacters(text)) {
        // A key may move focus (return in one field focuses the next), so each goes to whoever has it now.
        auto responder = UIResponder::currentFirstResponder();
        if (auto* input = dynamic_cast<UIKeyInput*>(responder.get()))
            input->insertText(text.substr(character.byteOffset, character.byteLength));
    }
}

void TouchSimulator::deleteBackward() {
    auto responder = UIResponder::currentFirstResponder();
    if (auto* input = dynamic_cast<UIKeyInput*>(responder.get()))
        input->deleteBackward();
}

void TouchSimulator::pressReturn() {
    auto responder = UIResponder::currentFirstResponder();
    if (auto* input = dynamic_cast<UIKeyInput*>(responder.get()))
        input->insertText("\n");
}

} // namespace platform
