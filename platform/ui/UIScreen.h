#pragma once
// UIScreen: the one screen. Bounds default to 375 x 667 points at scale 2; tests and the main program may
// change both (the scale is also what UIImage::imageNamed prefers). Main thread only.

#include "platform/foundation/Object.h"
#include "platform/graphics/Geometry.h"

#include <memory>

namespace platform {

class UIScreen;
using UIScreenPtr = std::shared_ptr<UIScreen>;

class UIScreen : public Object {
public:
    static UIScreenPtr mainScreen();

    CGRect bounds() const { return m_bounds; }
    double scale() const { return m_scale; }
    CGRect nativeBounds() const;     // in pixels
    CGRect applicationFrame() const; // the bounds below a 20-point status bar
    double brightness() const { return m_brightness; }
    void setBrightness(double brightness);

    // Configuration: the size in points and the scale (<= 0 means 1).
    void setBounds(CGRect bounds) { m_bounds = CGRectMake(0, 0, bounds.size.width, bounds.size.height); }
    void setScale(double scale);
    // Back to 375 x 667 at 2.
    void reset();

    UIScreen() = default;

private:
    CGRect m_bounds{CGRectMake(0, 0, 375, 667)};
    double m_scale{2};
    double m_brightness{0.5};
};

} // namespace platform
