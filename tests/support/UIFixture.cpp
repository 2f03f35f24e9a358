#include "tests/support/UIFixture.h"

#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"

#include <chrono>
#include <cmath>
#include <cstdlib>

namespace liveapp::test {

using namespace platform;

void UIFixture::SetUp() {
    UIScreen::mainScreen()->reset();
    UIApplication::sharedApplication()->reset();
    UIViewAnimations::setInstant(false);
    UIViewAnimations::clearRecorded();
    UIView::setAnimationsEnabled(true);
    window = UIWindow::create();
    window->makeKeyAndVisible();
}

void UIFixture::TearDown() {
    if (window) {
        window->setRootViewController(nullptr);
        window->setHidden(true);
        auto subviews = window->subviews();
        for (auto& view : subviews)
            view->removeFromSuperview();
        window.reset();
    }
    pumpMainLoopOnce();
    UIApplication::sharedApplication()->reset();
    if (m_clock) {
        Clock::install(nullptr);
        m_clock.reset();
    }
}

ManualClock& UIFixture::useManualClock() {
    if (!m_clock) {
        m_clock = std::make_shared<ManualClock>();
        Clock::install(m_clock);
    }
    return *m_clock;
}

void UIFixture::advance(double seconds) {
    useManualClock().advance(std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds)));
    pump();
}

CGPoint UIFixture::centreOf(const UIViewPtr& view) {
    const CGRect frame = view->convertRectToView(view->bounds(), window);
    return CGPointMake(frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2);
}

Bitmap::RGBA UIFixture::pixelAt(const UIImagePtr& image, double x, double y) {
    if (!image || !image->CGImage())
        return {};
    int px = int(std::floor(x * image->scale()));
    int py = int(std::floor(y * image->scale()));
    auto bitmap = image->CGImage();
    if (px < 0 || py < 0 || px >= bitmap->width() || py >= bitmap->height())
        return {};
    return bitmap->colorAt(px, py);
}

bool colorNear(Bitmap::RGBA actual, Bitmap::RGBA expected, int tolerance) {
    return std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
           std::abs(actual.b - expected.b) <= tolerance && std::abs(actual.a - expected.a) <= tolerance;
}

} // namespace liveapp::test
