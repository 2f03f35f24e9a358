#include "app/ui/KelProgressHUD.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"

#include <chrono>
#include <cmath>

using namespace platform;

namespace {

constexpr double kAnimationDuration = 0.3;

Duration seconds(double value) {
    if (!(value > 0))
        return Duration::zero();
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(std::min(value, 1e9)));
}

double secondsBetween(MonoTime from, MonoTime to) {
    return std::chrono::duration<double>(to - from).count();
}

} // namespace

KelProgressHUDPtr KelProgressHUD::showHUDAddedTo(const UIViewPtr& view, bool animated) {
    auto hud = create(view);
    hud->setRemoveFromSuperViewOnHide(true);
    if (view)
        view->addSubview(hud);
    hud->show(animated);
    return hud;
}

KelProgressHUDPtr KelProgressHUD::HUDForView(const UIViewPtr& view) {
    auto huds = allHUDsForView(view);
    return huds.empty() ? nullptr : huds.back();
}

std::vector<KelProgressHUDPtr> KelProgressHUD::allHUDsForView(const UIViewPtr& view) {
    std::vector<KelProgressHUDPtr> huds;
    if (!view)
        return huds;
    for (const auto& subview : view->subviews()) {
        if (auto hud = std::dynamic_pointer_cast<KelProgressHUD>(subview))
            huds.push_back(hud);
    }
    return huds;
}

bool KelProgressHUD::hideHUDForView(const UIViewPtr& view, bool animated) {
    auto hud = HUDForView(view);
    if (!hud)
        return false;
    hud->setRemoveFromSuperViewOnHide(true);
    hud->hide(animated);
    return true;
}

uint64_t KelProgressHUD::hideAllHUDsForView(const UIViewPtr& view, bool animated) {
    auto huds = allHUDsForView(view);
    for (const auto& hud : huds) {
        hud->setRemoveFromSuperViewOnHide(true);
        hud->hide(animated);
    }
    return huds.size();
}

void KelProgressHUD::show(bool animated) {
    m_useAnimation = animated;
    const float grace = graceTime();
    if (grace > 0) {
        m_graceTimer.set(Timer::scheduledTimerWithTimeInterval(seconds(grace), false, [hud = self()](Timer&) {
            if (hud->taskInProgress())
                hud->showUsingAnimation(hud->m_useAnimation);
        }));
        return;
    }
    showUsingAnimation(animated);
}

void KelProgressHUD::hide(bool animated) {
    m_useAnimation = animated;
    const float minimum = minShowTime();
    if (auto started = showStarted(); minimum > 0 && started) {
        const double shown = secondsBetween(*started, Clock::now());
        if (shown < minimum) {
            m_minShowTimer.set(Timer::scheduledTimerWithTimeInterval(
                seconds(minimum - shown), false,
                [hud = self()](Timer&) { hud->hideUsingAnimation(hud->m_useAnimation); }));
            return;
        }
    }
    hideUsingAnimation(animated);
}

void KelProgressHUD::hide(bool animated, double delay) {
    RunLoop::main()->performBlockAfter(
        seconds(delay), [hud = self(), animated] { hud->hide(animated); }, {RunLoop::defaultMode}, this);
}

void KelProgressHUD::showUsingAnimation(bool animated) {
    // A pending hide:afterDelay: would take down what is being shown now.
    RunLoop::main()->cancelPerformsWithTarget(this);
    setNeedsDisplay();
    const int64_t type = animationType();
    const bool zooms = type == HUDAnimationShrink || type == HUDAnimationGrow;
    m_showStarted.set(Clock::now());
    if (!animated) {
        setAlpha(1);
        return;
    }
    if (zooms) {
        const double scale = type == HUDAnimationShrink ? 1.5 : 0.5;
        setTransform(CGAffineTransformMakeScale(scale, scale));
    }
    UIView::animateWithDuration(kAnimationDuration, [this, zooms] {
        setAlpha(1);
        if (zooms)
            setTransform(CGAffineTransformIdentity);
    });
}

void KelProgressHUD::hideUsingAnimation(bool animated) {
    const bool wasShown = m_showStarted.exchange(std::nullopt).has_value();
    if (!animated || !wasShown) {
        setAlpha(0);
        done();
        return;
    }
    const int64_t type = animationType();
    UIView::animateWithDuration(
        kAnimationDuration,
        [this, type] {
            if (type == HUDAnimationShrink)
                setTransform(CGAffineTransformMakeScale(0.5, 0.5));
            else if (type == HUDAnimationGrow)
                setTransform(CGAffineTransformMakeScale(1.5, 1.5));
            setAlpha(0.02);
        },
        [hud = self()](bool) { hud->done(); });
}

void KelProgressHUD::done() {
    auto keepAlive = self();
    RunLoop::main()->cancelPerformsWithTarget(this);
    setAlpha(0);
    if (removeFromSuperViewOnHide())
        removeFromSuperview();
    // Taken before it runs, so a block that hides again (or sets a new block) is not run a second time.
    if (auto completion = m_completionBlock.exchange(nullptr))
        completion();
    if (auto delegate = this->delegate(); delegate && delegate->respondsTo("hudWasHidden:"))
        delegate->hudWasHidden(this);
}

void KelProgressHUD::showWhileExecuting(Selector method, ObjectPtr target, ObjectPtr object, bool animated) {
    m_methodForExecution = method;
    m_targetForExecution = target;
    m_objectForExecution = object;
    setTaskInProgress(true);
    Thread::detachNewThread("KelProgressHUD", [hud = self(), method, target, object] {
        if (method.perform)
            method.perform(target.get(), object.get(), nullptr);
        DispatchQueue::main()->async([hud] { hud->cleanUp(); });
    });
    show(animated);
}

void KelProgressHUD::showAnimated(bool animated, Block block) {
    showAnimated(animated, std::move(block), DispatchQueue::global(), nullptr);
}

void KelProgressHUD::showAnimated(bool animated, Block block, Block completion) {
    showAnimated(animated, std::move(block), DispatchQueue::global(), std::move(completion));
}

void KelProgressHUD::showAnimated(bool animated, Block block, std::shared_ptr<DispatchQueue> queue) {
    showAnimated(animated, std::move(block), std::move(queue), nullptr);
}

void KelProgressHUD::showAnimated(bool animated, Block block, std::shared_ptr<DispatchQueue> queue,
                                  Block completion) {
    setTaskInProgress(true);
    setCompletionBlock(std::move(completion));
    if (!queue)
        queue = DispatchQueue::global();
    queue->async([hud = self(), block = std::move(block)] {
        if (block)
            block();
        DispatchQueue::main()->async([hud] { hud->cleanUp(); });
    });
    show(animated);
}

void KelProgressHUD::showAnimatedWhileWaiting(bool animated, double seconds, Block completion) {
    setTaskInProgress(true);
    setCompletionBlock(std::move(completion));
    Timer::scheduledTimerWithTimeInterval(::seconds(seconds), false,
                                          [hud = self()](Timer&) { hud->cleanUp(); });
    show(animated);
}

void KelProgressHUD::cleanUp() {
    setTaskInProgress(false);
    m_targetForExecution.reset();
    m_objectForExecution.reset();
    hide(m_useAnimation);
}
