#pragma once
// A fixture for UI tests: a key, visible window of the screen's size (375 x 667 at scale 2), a fresh
// application object and animation state, and helpers to drive the main loop, virtual time and touches,
// and to read rendered pixels. Every test starts from the same screen and application state and leaves
// nothing behind (the window is hidden and emptied, the clock restored).
//
//     class MyScreenTest : public liveapp::test::UIFixture {};
//     TEST_F(MyScreenTest, TapSendsAction) {
//         window->addSubview(button);
//         tap(CGPointMake(20, 20));
//         ...
//     }

#include "platform/foundation/Clock.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"
#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/MainLoop.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace liveapp::test {

class UIFixture : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Installs a ManualClock (once) so time moves only through advance().
    platform::ManualClock& useManualClock();
    // Moves the manual clock and runs what became due on the main loop.
    void advance(double seconds);
    // One pass of the main loop: queued completions, due timers, the display pass.
    void pump() { pumpMainLoopOnce(); }
    bool pumpUntil(const std::function<bool()>& predicate) { return pumpMainLoopUntil(predicate); }

    // Touches through the window (points in window coordinates).
    void tap(platform::CGPoint point) { platform::TouchSimulator::tapAt(window, point); }
    void doubleTap(platform::CGPoint point) { platform::TouchSimulator::doubleTapAt(window, point); }
    void pinch(platform::CGPoint center, double startDistance, double scale) {
        platform::TouchSimulator::pinchAt(window, center, startDistance, scale);
    }
    void drag(platform::CGPoint from, platform::CGPoint to) {
        platform::TouchSimulator::drag(window, from, to);
    }
    // The centre of a view in window coordinates, and a tap there.
    platform::CGPoint centreOf(const platform::UIViewPtr& view);
    void tapView(const platform::UIViewPtr& view) { tap(centreOf(view)); }

    // The window rendered at the screen scale, and a pixel of it at a point (in window points).
    platform::UIImagePtr render() { return window->renderImage(); }
    static platform::Bitmap::RGBA pixelAt(const platform::UIImagePtr& image, double x, double y);

    platform::UIWindowPtr window;

private:
    std::shared_ptr<platform::ManualClock> m_clock;
};

// Opaque pixels the rendering tests look for.
inline constexpr platform::Bitmap::RGBA kBlack{0, 0, 0, 255};
inline constexpr platform::Bitmap::RGBA kRed{255, 0, 0, 255};
inline constexpr platform::Bitmap::RGBA kGreen{0, 255, 0, 255};
inline constexpr platform::Bitmap::RGBA kBlue{0, 0, 255, 255};
inline constexpr platform::Bitmap::RGBA kWhite{255, 255, 255, 255};

// Whether two colours are within `tolerance` per component (for antialiased or blended pixels).
bool colorNear(platform::Bitmap::RGBA actual, platform::Bitmap::RGBA expected, int tolerance = 3);

} // namespace liveapp::test
