#pragma once
// UINavigationController: a stack of controllers under a navigation bar; the top one's view fills the
// controller's view (under the bar when its edges for extended layout include the top and the bar is
// translucent or it extends under opaque bars, else below the bar). Pushing and popping run the appearance
// callbacks of UIViewController.h and tell the delegate before and after. The interactive pop gesture (a
// pan from the left screen edge) pops the top controller when it ends past the middle of the view or
// quickly enough; it never begins on the root, nor when its delegate's gestureRecognizerShouldBegin says
// no. Main thread only.

#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UIPanGestureRecognizer.h"
#include "platform/ui/UIViewController.h"

#include <functional>
#include <memory>
#include <vector>

namespace platform {

class UINavigationController;
using UINavigationControllerPtr = std::shared_ptr<UINavigationController>;

// Optional methods.
class UINavigationControllerDelegate {
public:
    virtual ~UINavigationControllerDelegate() = default;
    virtual void navigationControllerWillShowViewController(UINavigationController*,
                                                            const UIViewControllerPtr&, bool /*animated*/) {}
    virtual void navigationControllerDidShowViewController(UINavigationController*,
                                                           const UIViewControllerPtr&, bool /*animated*/) {}
};

class UINavigationController : public UIViewController {
public:
    using NavigationBarFactory = std::function<UINavigationBarPtr()>;
    // initWithNavigationBarClass: the bar class as a factory.
    template <typename Bar> static NavigationBarFactory navigationBarClass() {
        return [] { return std::make_shared<Bar>(); };
    }

    static UINavigationControllerPtr create() { return std::make_shared<UINavigationController>(); }
    // initWithRootViewController:
    static UINavigationControllerPtr create(const UIViewControllerPtr& root);
    UINavigationController() = default;
    explicit UINavigationController(NavigationBarFactory barFactory);

    const std::vector<UIViewControllerPtr>& viewControllers() const { return m_stack; }
    void setViewControllers(std::vector<UIViewControllerPtr> controllers, bool animated = false);
    UIViewControllerPtr topViewController() const;
    // The top controller, or what it presents.
    UIViewControllerPtr visibleViewController() const;

    // Pushing a controller already in the stack does nothing.
    virtual void pushViewController(const UIViewControllerPtr& controller, bool animated);
    // Null (and nothing happens) when only the root is left.
    virtual UIViewControllerPtr popViewControllerAnimated(bool animated);
    std::vector<UIViewControllerPtr> popToRootViewControllerAnimated(bool animated);
    std::vector<UIViewControllerPtr> popToViewController(const UIViewControllerPtr& controller,
                                                         bool animated);

    UINavigationBarPtr navigationBar();
    bool isNavigationBarHidden() const { return m_barHidden; }
    void setNavigationBarHidden(bool hidden) { setNavigationBarHidden(hidden, false); }
    // Animated, the bar slides within an animation of the platform's bar duration.
    void setNavigationBarHidden(bool hidden, bool animated);
    bool isToolbarHidden() const { return m_toolbarHidden; }
    void setToolbarHidden(bool hidden, bool /*animated*/ = false) { m_toolbarHidden = hidden; }

    std::shared_ptr<UINavigationControllerDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UINavigationControllerDelegate>& delegate) {
        m_delegate = delegate;
    }

    // Made with the view; enabled by default.
    std::shared_ptr<UIScreenEdgePanGestureRecognizer> interactivePopGestureRecognizer();

    void loadView() override;
    void viewWillLayoutSubviews() override;
    UIViewControllerPtr childViewControllerForStatusBarStyle() const override { return topViewController(); }
    UIViewControllerPtr childViewControllerForStatusBarHidden() const override { return topViewController(); }

protected:
    std::vector<UIViewControllerPtr> childViewControllersForAppearance() const override;

private:
    UINavigationControllerPtr selfNav();
    bool isOnScreen() const;
    void layoutBar();
    void layoutContent(const UIViewControllerPtr& controller);
    CGRect contentFrameFor(const UIViewControllerPtr& controller);
    void showTop(const UIViewControllerPtr& from, const UIViewControllerPtr& to, bool animated, bool popping,
                 std::vector<UIViewControllerPtr> removed);
    void syncBarItems();
    void handlePopGesture(UIScreenEdgePanGestureRecognizer* recognizer);
    void finishInteractivePop(bool complete);

    NavigationBarFactory m_barFactory;
    UINavigationBarPtr m_bar;
    std::vector<UIViewControllerPtr> m_stack;
    std::weak_ptr<UINavigationControllerDelegate> m_delegate;
    std::shared_ptr<UIScreenEdgePanGestureRecognizer> m_popGesture;
    std::shared_ptr<UIGestureRecognizerDelegate> m_defaultPopDelegate;
    UIViewControllerPtr m_interactiveFrom;
    UIViewControllerPtr m_interactiveTo;
    // The controller whose view is installed, and whose appearance follows this controller's.
    UIViewControllerPtr m_shown;
    bool m_barHidden{false};
    bool m_toolbarHidden{true};
};

} // namespace platform
