#include "platform/ui/UINavigationController.h"

#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"

#include <algorithm>

namespace platform {

namespace {
// The platform's UINavigationControllerHideShowBarDuration.
constexpr double hideShowBarDuration = 0.2;
// A pop gesture released faster than this (points per second) completes whatever its distance.
constexpr double popVelocity = 500;

// The pop gesture's delegate until someone else takes the place: it never begins on the root.
class DefaultPopDelegate final : public UIGestureRecognizerDelegate {
public:
    explicit DefaultPopDelegate(std::weak_ptr<UINavigationController> navigation)
        : m_navigation(std::move(navigation)) {}
    bool gestureRecognizerShouldBegin(UIGestureRecognizer*) override {
        auto navigation = m_navigation.lock();
        return navigation && navigation->viewControllers().size() > 1;
    }

private:
    std::weak_ptr<UINavigationController> m_navigation;
};
} // namespace

UINavigationController::UINavigationController(NavigationBarFactory barFactory)
    : m_barFactory(std::move(barFactory)) {}

UINavigationControllerPtr UINavigationController::create(const UIViewControllerPtr& root) {
    auto navigation = std::make_shared<UINavigationController>();
    if (root)
        navigation->setViewControllers({root}, false);
    return navigation;
}

UINavigationControllerPtr UINavigationController::selfNav() {
    return std::static_pointer_cast<UINavigationController>(shared_from_this());
}

UINavigationBarPtr UINavigationController::navigationBar() {
    if (!m_bar) {
        m_bar = m_barFactory ? m_barFactory() : nullptr;
        if (!m_bar)
            m_bar = UINavigationBar::create();
        std::weak_ptr<UINavigationController> weak = selfNav();
        m_bar->onBackButton = [weak] {
            if (auto navigation = weak.lock())
                navigation->popViewControllerAnimated(true);
        };
        syncBarItems();
    }
    return m_bar;
}

UIViewControllerPtr UINavigationController::topViewController() const {
    return m_stack.empty() ? nullptr : m_stack.back();
}

UIViewControllerPtr UINavigationController::visibleViewController() const {
    auto top = topViewController();
    if (!top)
        return nullptr;
    auto presented = top->presentedViewController();
    return presented ? presented : top;
}

std::shared_ptr<UIScreenEdgePanGestureRecognizer> UINavigationController::interactivePopGestureRecognizer() {
    loadViewIfNeeded();
    return m_popGesture;
}

void UINavigationController::loadView() {
    auto view = UIView::create(UIScreen::mainScreen()->bounds());
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    view->setBackgroundColor(UIColor::whiteColor());
    view->addSubview(navigationBar());
    setView(view);

    std::weak_ptr<UINavigationController> weak = selfNav();
    m_popGesture = UIScreenEdgePanGestureRecognizer::create(
        nullptr, selector("handleNavigationTransition:", [weak](Object*, Object* sender, UIEvent*) {
            auto navigation = weak.lock();
            auto recognizer = dynamic_cast<UIScreenEdgePanGestureRecognizer*>(sender);
            if (navigation && recognizer)
                navigation->handlePopGesture(recognizer);
        }));
    m_popGesture->setEdges(UIRectEdgeLeft);
    // The delegate is held weakly, so its owner keeps it as an associated object.
    auto defaultDelegate = std::make_shared<DefaultPopDelegate>(weak);
    m_popGesture->setDelegate(defaultDelegate);
    m_defaultPopDelegate = defaultDelegate;
    view->addGestureRecognizer(m_popGesture);

    if (m_shown)
        layoutContent(m_shown);
    layoutBar();
}

void UINavigationController::viewWillLayoutSubviews() {
    UIViewController::viewWillLayoutSubviews();
    layoutBar();
    if (m_shown)
        layoutContent(m_shown);
}

void UINavigationController::layoutBar() {
    auto view = viewIfLoaded();
    if (!view)
        return;
    auto bar = navigationBar();
    const double statusHeight = UIApplication::sharedApplication()->statusBarFrame().size.height;
    CGRect bounds = view->bounds();
    double height = bar->sizeThatFits(bounds.size).height;
    bar->setFrame(CGRectMake(0, m_barHidden ? -height : statusHeight, bounds.size.width, height));
    bar->setHidden(m_barHidden);
    view->bringSubviewToFront(bar);
}

CGRect UINavigationController::contentFrameFor(const UIViewControllerPtr& controller) {
    auto view = this->view();
    CGRect bounds = view->bounds();
    if (m_barHidden)
        return bounds;
    auto bar = navigationBar();
    const bool underBar = (controller->edgesForExtendedLayout() & UIRectEdgeTop) &&
                          (bar->isTranslucent() || controller->extendedLayoutIncludesOpaqueBars());
    if (underBar)
        return bounds;
    const double barBottom = CGRectGetMaxY(bar->frame());
    return CGRectMake(0, barBottom, bounds.size.width, std::max(0.0, bounds.size.height - barBottom));
}

void UINavigationController::layoutContent(const UIViewControllerPtr& controller) {
    auto view = viewIfLoaded();
    if (!view || !controller)
        return;
    auto childView = controller->view();
    if (childView->superview() != view)
        view->insertSubviewBelowSubview(childView, navigationBar());
    childView->setFrame(contentFrameFor(controller));
}

bool UINavigationController::isOnScreen() const {
    return appearance() == Appearance::Appeared || appearance() == Appearance::Appearing;
}

std::vector<UIViewControllerPtr> UINavigationController::childViewControllersForAppearance() const {
    if (m_shown)
        return {m_shown};
    return {};
}

void UINavigationController::syncBarItems() {
    if (!m_bar)
        return;
    std::vector<UINavigationItemPtr> items;
    for (const auto& controller : m_stack)
        items.push_back(controller->navigationItem());
    m_bar->setItems(std::move(items));
}

void UINavigationController::showTop(const UIViewControllerPtr& from, const UIViewControllerPtr& to,
                                     bool animated, bool popping, std::vector<UIViewControllerPtr> removed) {
    finishPendingTransition();
    syncBarItems();
    auto delegate = m_delegate.lock();
    const bool onScreen = isOnScreen() && from != to;
    m_shown = to;
    if (!onScreen) {
        if (isViewLoaded()) {
            if (from && from != to && from->viewIfLoaded())
                from->viewIfLoaded()->removeFromSuperview();
            layoutContent(to);
        }
        for (const auto& controller : removed)
            controller->removeFromParentViewController();
        if (to && !popping)
            to->didMoveToParentViewController(selfNav());
        return;
    }
    if (delegate && to)
        delegate->navigationControllerWillShowViewController(this, to, animated);
    if (from) {
        from->setMovingFromParent(popping);
        from->beginAppearanceTransition(false, animated);
    }
    if (to) {
        to->setMovingToParent(!popping);
        to->beginAppearanceTransition(true, animated);
        layoutContent(to);
    }
    std::weak_ptr<UINavigationController> weak = selfNav();
    runTransition(animated, [weak, from, to, animated, popping, removed] {
        auto navigation = weak.lock();
        if (!navigation)
            return;
        if (from && from != navigation->m_shown) {
            if (auto view = from->viewIfLoaded(); view && view->superview() == navigation->viewIfLoaded())
                view->removeFromSuperview();
        }
        if (from) {
            from->endAppearanceTransition();
            from->setMovingFromParent(false);
        }
        if (to) {
            to->endAppearanceTransition();
            to->setMovingToParent(false);
        }
        for (const auto& controller : removed)
            controller->removeFromParentViewController();
        if (to && !popping)
            to->didMoveToParentViewController(navigation);
        if (auto delegate = navigation->m_delegate.lock(); delegate && to)
            delegate->navigationControllerDidShowViewController(navigation.get(), to, animated);
    });
}

void UINavigationController::pushViewController(const UIViewControllerPtr& controller, bool animated) {
    if (!controller || std::find(m_stack.begin(), m_stack.end(), controller) != m_stack.end())
        return;
    auto from = topViewController();
    addChildViewController(controller);
    m_stack.push_back(controller);
    showTop(from, controller, animated, false, {});
}

UIViewControllerPtr UINavigationController::popViewControllerAnimated(bool animated) {
    if (m_stack.size() < 2)
        return nullptr;
    auto top = m_stack.back();
    popToViewController(m_stack[m_stack.size() - 2], animated);
    return top;
}

std::vector<UIViewControllerPtr> UINavigationController::popToRootViewControllerAnimated(bool animated) {
    if (m_stack.empty())
        return {};
    return popToViewController(m_stack.front(), animated);
}

std::vector<UIViewControllerPtr>
UINavigationController::popToViewController(const UIViewControllerPtr& controller, bool animated) {
    auto it = std::find(m_stack.begin(), m_stack.end(), controller);
    if (it == m_stack.end() || it + 1 == m_stack.end())
        return {};
    std::vector<UIViewControllerPtr> popped(it + 1, m_stack.end());
    auto from = m_stack.back();
    m_stack.erase(it + 1, m_stack.end());
    for (const auto& gone : popped)
        gone->willMoveToParentViewController(nullptr);
    showTop(from, controller, animated, true, popped);
    return popped;
}

void UINavigationController::setViewControllers(std::vector<UIViewControllerPtr> controllers, bool animated) {
    std::erase(controllers, nullptr);
    std::vector<UIViewControllerPtr> removed;
    for (const auto& old : m_stack) {
        if (std::find(controllers.begin(), controllers.end(), old) == controllers.end()) {
            old->willMoveToParentViewController(nullptr);
            removed.push_back(old);
        }
    }
    std::vector<UIViewControllerPtr> added;
    for (const auto& controller : controllers) {
        if (std::find(m_stack.begin(), m_stack.end(), controller) == m_stack.end()) {
            addChildViewController(controller);
            added.push_back(controller);
        }
    }
    auto from = m_shown;
    m_stack = std::move(controllers);
    auto to = topViewController();
    const bool popping = to && std::find(added.begin(), added.end(), to) == added.end();
    showTop(from, to, animated, popping, removed);
    for (const auto& controller : added) {
        if (controller != to)
            controller->didMoveToParentViewController(selfNav());
    }
}

void UINavigationController::setNavigationBarHidden(bool hidden, bool animated) {
    if (m_barHidden == hidden)
        return;
    m_barHidden = hidden;
    if (!isViewLoaded())
        return;
    std::weak_ptr<UINavigationController> weak = selfNav();
    auto relayout = [weak] {
        if (auto navigation = weak.lock()) {
            navigation->layoutBar();
            if (navigation->m_shown)
                navigation->layoutContent(navigation->m_shown);
        }
    };
    if (animated)
        UIView::animateWithDuration(hideShowBarDuration, relayout);
    else
        relayout();
}

void UINavigationController::handlePopGesture(UIScreenEdgePanGestureRecognizer* recognizer) {
    auto view = viewIfLoaded();
    if (!view)
        return;
    switch (recognizer->state()) {
    case UIGestureRecognizerStateBegan: {
        if (m_stack.size() < 2 || m_interactiveFrom)
            return;
        finishPendingTransition();
        m_interactiveFrom = m_stack.back();
        m_interactiveTo = m_stack[m_stack.size() - 2];
        if (auto delegate = m_delegate.lock())
            delegate->navigationControllerWillShowViewController(this, m_interactiveTo, true);
        m_interactiveFrom->setMovingFromParent(true);
        m_interactiveFrom->beginAppearanceTransition(false, true);
        m_interactiveTo->beginAppearanceTransition(true, true);
        auto toView = m_interactiveTo->view();
        if (auto fromView = m_interactiveFrom->viewIfLoaded())
            view->insertSubviewBelowSubview(toView, fromView);
        toView->setFrame(contentFrameFor(m_interactiveTo));
        return;
    }
    case UIGestureRecognizerStateChanged:
        if (m_interactiveFrom) {
            CGRect frame = contentFrameFor(m_interactiveFrom);
            frame.origin.x = std::max(0.0, recognizer->translationInView(view).x);
            m_interactiveFrom->view()->setFrame(frame);
        }
        return;
    case UIGestureRecognizerStateEnded:
        if (m_interactiveFrom) {
            const bool complete = recognizer->translationInView(view).x > view->bounds().size.width / 2 ||
                                  recognizer->velocityInView(view).x > popVelocity;
            finishInteractivePop(complete);
        }
        return;
    case UIGestureRecognizerStateCancelled:
    case UIGestureRecognizerStateFailed:
        if (m_interactiveFrom)
            finishInteractivePop(false);
        return;
    default:
        return;
    }
}

void UINavigationController::finishInteractivePop(bool complete) {
    auto from = std::move(m_interactiveFrom);
    auto to = std::move(m_interactiveTo);
    m_interactiveFrom = m_interactiveTo = nullptr;
    if (complete) {
        from->willMoveToParentViewController(nullptr);
        m_stack.pop_back();
        m_shown = to;
        syncBarItems();
        if (auto view = from->viewIfLoaded())
            view->removeFromSuperview();
        from->endAppearanceTransition();
        to->endAppearanceTransition();
        from->setMovingFromParent(false);
        from->removeFromParentViewController();
        layoutContent(to);
        if (auto delegate = m_delegate.lock())
            delegate->navigationControllerDidShowViewController(this, to, true);
        return;
    }
    // Cancelled: the top comes back, the one below goes away again.
    from->setMovingFromParent(false);
    from->beginAppearanceTransition(true, true);
    to->beginAppearanceTransition(false, true);
    if (auto view = to->viewIfLoaded())
        view->removeFromSuperview();
    layoutContent(from);
    from->endAppearanceTransition();
    to->endAppearanceTransition();
}

} // namespace platform
