#pragma once
// BaseNavigationController: the navigation stack every screen of the application lives in. Its bar is a
// BaseNavigationBar, translucent, with the colour layer shown. The status bar is light; it rotates, and
// the orientations it allows are those of the top screen of its stack (the platform's default while the
// stack is empty). Make it with create(). Main thread only.

#include "app/ui/BaseNavigationBar.h"
#include "platform/ui/UINavigationController.h"

#include <memory>

class BaseNavigationController;
using BaseNavigationControllerPtr = std::shared_ptr<BaseNavigationController>;

class BaseNavigationController : public platform::UINavigationController {
    struct Token {
        explicit Token() = default;
    };

public:
    static BaseNavigationControllerPtr create();
    // initWithRootViewController:
    static BaseNavigationControllerPtr create(const platform::UIViewControllerPtr& root);
    explicit BaseNavigationController(Token);

    bool translucentNavigationBar() const { return m_translucentNavigationBar; }
    // Stores the flag and makes the bar translucent or not.
    void setTranslucentNavigationBar(bool translucent);
    bool systemTranslucentNavigationBar() const { return m_systemTranslucentNavigationBar; }
    // Stores the flag; YES hides the bar's colour layer, NO shows it.
    void setSystemTranslucentNavigationBar(bool systemTranslucent);

    platform::UIStatusBarStyle preferredStatusBarStyle() const override;
    bool shouldAutorotate() const override { return true; }
    uint64_t supportedInterfaceOrientations() const override;

private:
    bool m_translucentNavigationBar{false};
    bool m_systemTranslucentNavigationBar{false};
};
