#include "platform/dispatch/DispatchQueue.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"

#include <cstdio>

namespace platform {

namespace {
bool coversPresenter(UIModalPresentationStyle style) {
    return style != UIModalPresentationOverFullScreen && style != UIModalPresentationOverCurrentContext;
}

bool fillsScreen(UIModalPresentationStyle style) {
    return style != UIModalPresentationCurrentContext && style != UIModalPresentationOverCurrentContext;
}

bool inKeyWindow(const UIViewControllerPtr& controller) {
    auto view = controller->viewIfLoaded();
    auto window = view ? view->window() : nullptr;
    return window && window == UIApplication::sharedApplication()->keyWindow();
}

// Completions run after the transition, on the main run loop, never inside the call that asked for it.
void runCompletionLater(std::function<void()> completion) {
    if (completion)
        DispatchQueue::main()->async(std::move(completion));
}
} // namespace

UIViewControllerPtr UIViewController::outermostContainer() {
    auto controller = self();
    while (auto parent = controller->parentViewController())
        controller = parent;
    return controller;
}

UIViewControllerPtr UIViewController::presentedViewController() const {
    const UIViewController* controller = this;
    while (auto parent = controller->m_parent.lock())
        controller = parent.get();
    return controller->m_presented;
}

UIViewControllerPtr UIViewController::presentingViewController() const {
    const UIViewController* controller = this;
    while (auto parent = controller->m_parent.lock())
        controller = parent.get();
    return controller->m_presenting.lock();
}

void UIViewController::presentViewController(const UIViewControllerPtr& controller, bool animated,
                                             std::function<void()> completion) {
    if (!controller)
        return;
    auto presenter = outermostContainer();
    if (presenter->m_presented || controller->m_presenting.lock() || controller->parentViewController()) {
        std::fprintf(stderr, "UIViewController: a controller that already presents (or is presented) cannot "
                             "present again; the presentation is ignored\n");
        return;
    }
    presenter->finishPendingTransition();
    presenter->m_presented = controller;
    controller->m_presenting = presenter;
    controller->m_beingPresented = true;
    controller->loadViewIfNeeded();

    const bool covers = coversPresenter(controller->modalPresentationStyle());
    const bool presenterOnScreen =
        presenter->appearance() == Appearance::Appeared || presenter->appearance() == Appearance::Appearing;
    controller->m_presenterDisappeared = covers && presenterOnScreen;
    if (controller->m_presenterDisappeared)
        presenter->beginAppearanceTransition(false, animated);
    controller->beginAppearanceTransition(true, animated);
    // A full-screen controller that cannot show the current orientation turns the interface first, so
    // its view is placed in the turned window.
    if (fillsScreen(controller->modalPresentationStyle()) && inKeyWindow(presenter))
        UIApplication::sharedApplication()->adaptInterfaceOrientation(controller);

    auto presenterView = presenter->viewIfLoaded();
    if (auto window = presenterView ? presenterView->window() : nullptr) {
        auto view = controller->view();
        view->setFrame(window->bounds());
        window->addSubview(view);
    }

    std::weak_ptr<UIViewController> weakPresenter = presenter;
    presenter->runTransition(animated, [weakPresenter, controller, animated, completion] {
        controller->m_beingPresented = false;
        controller->endAppearanceTransition();
        auto presenter = weakPresenter.lock();
        if (presenter && controller->m_presenterDisappeared)
            presenter->endAppearanceTransition();
        if (animated) {
            if (completion)
                completion();
        } else {
            runCompletionLater(completion);
        }
    });
}

void UIViewController::dismissViewControllerAnimated(bool animated, std::function<void()> completion) {
    auto root = outermostContainer();
    UIViewControllerPtr presenter;
    if (root->m_presented)
        presenter = root;
    else
        presenter = root->m_presenting.lock();
    if (!presenter || !presenter->m_presented)
        return;
    presenter->finishPendingTransition();
    // The transition just finished may have been a dismissal of the same screens.
    if (!presenter->m_presented)
        return;

    // Everything above the presenter goes; only the topmost is on screen to disappear.
    std::vector<UIViewControllerPtr> chain;
    for (auto presented = presenter->m_presented; presented; presented = presented->m_presented)
        chain.push_back(presented);
    auto top = chain.back();
    auto first = chain.front();

    for (const auto& presented : chain)
        presented->m_beingDismissed = true;
    top->beginAppearanceTransition(false, animated);
    const bool presenterReturns = first->m_presenterDisappeared;
    if (presenterReturns)
        presenter->beginAppearanceTransition(true, animated);
    // The presenter is the top again: the interface turns back to what it supports.
    if (inKeyWindow(presenter))
        UIApplication::sharedApplication()->adaptInterfaceOrientation(presenter);

    std::weak_ptr<UIViewController> weakPresenter = presenter;
    presenter->runTransition(animated, [weakPresenter, chain, top, presenterReturns, animated, completion] {
        auto presenter = weakPresenter.lock();
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            const auto& presented = *it;
            if (auto view = presented->viewIfLoaded();
                view && view->superview() && view->superview() == view->window())
                view->removeFromSuperview();
            if (presented != top && presented->appearance() != Appearance::Disappeared) {
                presented->beginAppearanceTransition(false, animated);
                presented->endAppearanceTransition();
            }
        }
        top->endAppearanceTransition();
        for (const auto& presented : chain) {
            presented->m_beingDismissed = false;
            presented->m_presenting.reset();
            presented->m_presented.reset();
            presented->m_presenterDisappeared = false;
        }
        if (presenter) {
            presenter->m_presented.reset();
            if (presenterReturns)
                presenter->endAppearanceTransition();
        }
        if (animated) {
            if (completion)
                completion();
        } else {
            runCompletionLater(completion);
        }
    });
}

} // namespace platform
