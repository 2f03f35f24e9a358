#pragma once
// UIColor: an immutable colour, held as shared_ptr like every platform object, with components as doubles
// in 0...1 in either the grey or the RGB space. Grey colours answer getWhite and getRed (r = g = b = white);
// RGB colours answer getRed only, as the platform does. Factories clamp components to 0...1 and never fail.
// Thread-safe: a colour never changes after it is made.

#include "platform/foundation/Object.h"
#include "platform/graphics/Bitmap.h"

#include <memory>
#include <string>

namespace platform {

class UIColor;
class UIImage;
using UIColorPtr = std::shared_ptr<UIColor>;
// The drawing layer's colour handle; a colour is its own CGColor.
using CGColorRef = std::shared_ptr<const UIColor>;

// A device colour space: only its model matters here (grey or RGB), as drawing is uncalibrated.
struct CGColorSpace {
    CGColorSpaceModel model{kCGColorSpaceModelRGB};
};
using CGColorSpaceRef = std::shared_ptr<const CGColorSpace>;

CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
CGColorSpaceRef CGColorSpaceCreateDeviceGray();
CGColorSpaceModel CGColorSpaceGetModel(const CGColorSpaceRef& space); // unknown for null
// Components per colour in the space, without alpha (1 for grey, 3 for RGB, 0 for null).
size_t CGColorSpaceGetNumberOfComponents(const CGColorSpaceRef& space);

class UIColor : public Object {
public:
    enum class Space { Gray, RGB };

    UIColor(double white, double alpha);
    UIColor(double red, double green, double blue, double alpha);

    static UIColorPtr colorWithWhite(double white, double alpha);
    static UIColorPtr colorWithRed(double red, double green, double blue, double alpha);
    // Hue, saturation and brightness in 0...1 (hue wraps), converted to RGB.
    static UIColorPtr colorWithHue(double hue, double saturation, double brightness, double alpha);

    static UIColorPtr clearColor();     // white 0, alpha 0
    static UIColorPtr blackColor();     // white 0
    static UIColorPtr darkGrayColor();  // white 1/3
    static UIColorPtr grayColor();      // white 0.5
    static UIColorPtr lightGrayColor(); // white 2/3
    static UIColorPtr whiteColor();     // white 1
    static UIColorPtr redColor();       // 1 0 0
    static UIColorPtr greenColor();     // 0 1 0
    static UIColorPtr blueColor();      // 0 0 1
    static UIColorPtr cyanColor();      // 0 1 1
    static UIColorPtr yellowColor();    // 1 1 0
    static UIColorPtr magentaColor();   // 1 0 1
    static UIColorPtr orangeColor();    // 1 0.5 0
    static UIColorPtr purpleColor();    // 0.5 0 0.5
    static UIColorPtr brownColor();     // 0.6 0.4 0.2

    // Layer and view backgrounds drawn in this colour repeat the image from the top left corner, at its
    // size in points. Null for a null image.
    static UIColorPtr colorWithPatternImage(std::shared_ptr<UIImage> image);
    const std::shared_ptr<UIImage>& patternImage() const { return m_patternImage; }

    // The same colour in the same space (the same pattern) with another alpha.
    UIColorPtr colorWithAlphaComponent(double alpha) const;

    // Each answers false (leaving the outputs alone) when the colour cannot be expressed in that space
    // (never for a pattern); null outputs are skipped.
    bool getRed(double* red, double* green, double* blue, double* alpha) const;
    bool getWhite(double* white, double* alpha) const;
    bool getHue(double* hue, double* saturation, double* brightness, double* alpha) const;

    Space space() const { return m_space; }
    // RGB components; a grey colour answers its white for each.
    double red() const { return m_red; }
    double green() const { return m_green; }
    double blue() const { return m_blue; }
    double alpha() const { return m_alpha; }

    // Same space and the same components (within a rounding error). Grey and RGB black are not equal;
    // pattern colours are equal when they tile the same image object with the same alpha.
    bool isEqual(const UIColor& other) const;
    static bool isEqual(const UIColorPtr& a, const UIColorPtr& b); // both nil counts as equal

    // This colour as the drawing layer's colour (the same object when it is held by a shared_ptr).
    CGColorRef CGColor() const;

    // Make this the fill colour, the stroke colour, or both, of the current graphics context (nothing
    // happens without one).
    void setFill() const;
    void setStroke() const;
    void set() const;

    // "UIExtendedGrayColorSpace 0.5 1" / "UIExtendedSRGBColorSpace 1 0 0 1".
    std::string description() const override;

private:
    Space m_space{Space::RGB};
    double m_red{0};
    double m_green{0};
    double m_blue{0};
    double m_alpha{1};
    std::shared_ptr<UIImage> m_patternImage;
};

} // namespace platform
