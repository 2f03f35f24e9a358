#include "platform/graphics/Color.h"

#include "platform/foundation/Immortal.h"
#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/graphics/Image.h"

#include <algorithm>
#include <cmath>
#include <fmt/format.h>

namespace platform {

namespace {

double unit(double v) {
    if (std::isnan(v))
        return 0;
    return std::clamp(v, 0.0, 1.0);
}

bool near(double a, double b) {
    return std::fabs(a - b) < 1e-9;
}

} // namespace

UIColor::UIColor(double white, double alpha)
    : m_space(Space::Gray)
    , m_red(unit(white))
    , m_green(m_red)
    , m_blue(m_red)
    , m_alpha(unit(alpha)) {}

UIColor::UIColor(double red, double green, double blue, double alpha)
    : m_space(Space::RGB)
    , m_red(unit(red))
    , m_green(unit(green))
    , m_blue(unit(blue))
    , m_alpha(unit(alpha)) {}

UIColorPtr UIColor::colorWithWhite(double white, double alpha) {
    return std::make_shared<UIColor>(white, alpha);
}

UIColorPtr UIColor::colorWithRed(double red, double green, double blue, double alpha) {
    return std::make_shared<UIColor>(red, green, blue, alpha);
}

UIColorPtr UIColor::colorWithHue(double hue, double saturation, double brightness, double alpha) {
    double h = hue - std::floor(hue);
    double s = unit(saturation);
    double v = unit(brightness);
    double sector = h * 6;
    int i = static_cast<int>(std::floor(sector)) % 6;
    double f = sector - std::floor(sector);
    double p = v * (1 - s);
    double q = v * (1 - s * f);
    double t = v * (1 - s * (1 - f));
    switch (i) {
    case 0:
        return colorWithRed(v, t, p, alpha);
    case 1:
        return colorWithRed(q, v, p, alpha);
    case 2:
        return colorWithRed(p, v, t, alpha);
    case 3:
        return colorWithRed(p, q, v, alpha);
    case 4:
        return colorWithRed(t, p, v, alpha);
    default:
        return colorWithRed(v, p, q, alpha);
    }
}

// Named colours are immutable, so one instance of each per process is enough.
UIColorPtr UIColor::clearColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(0.0, 0.0);
    return color;
}
UIColorPtr UIColor::blackColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(0.0, 1.0);
    return color;
}
UIColorPtr UIColor::darkGrayColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(1.0 / 3.0, 1.0);
    return color;
}
UIColorPtr UIColor::grayColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(0.5, 1.0);
    return color;
}
UIColorPtr UIColor::lightGrayColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(2.0 / 3.0, 1.0);
    return color;
}
UIColorPtr UIColor::whiteColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(1.0, 1.0);
    return color;
}
UIColorPtr UIColor::redColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(1.0, 0.0, 0.0, 1.0);
    return color;
}
UIColorPtr UIColor::greenColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(0.0, 1.0, 0.0, 1.0);
    return color;
}
UIColorPtr UIColor::blueColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(0.0, 0.0, 1.0, 1.0);
    return color;
}
UIColorPtr UIColor::cyanColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(0.0, 1.0, 1.0, 1.0);
    return color;
}
UIColorPtr UIColor::yellowColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(1.0, 1.0, 0.0, 1.0);
    return color;
}
UIColorPtr UIColor::magentaColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(1.0, 0.0, 1.0, 1.0);
    return color;
}
UIColorPtr UIColor::orangeColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(1.0, 0.5, 0.0, 1.0);
    return color;
}
UIColorPtr UIColor::purpleColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(0.5, 0.0, 0.5, 1.0);
    return color;
}
UIColorPtr UIColor::brownColor() {
    static const UIColorPtr color = std::make_shared<UIColor>(0.6, 0.4, 0.2, 1.0);
    return color;
}

UIColorPtr UIColor::colorWithPatternImage(std::shared_ptr<UIImage> image) {
    if (!image)
        return nullptr;
    auto color = std::make_shared<UIColor>(0.0, 0.0, 0.0, 1.0);
    color->m_patternImage = std::move(image);
    return color;
}

UIColorPtr UIColor::colorWithAlphaComponent(double alpha) const {
    if (m_patternImage) {
        auto color = colorWithPatternImage(m_patternImage);
        color->m_alpha = unit(alpha);
        return color;
    }
    if (m_space == Space::Gray)
        return std::make_shared<UIColor>(m_red, alpha);
    return std::make_shared<UIColor>(m_red, m_green, m_blue, alpha);
}

bool UIColor::getRed(double* red, double* green, double* blue, double* alpha) const {
    if (m_patternImage)
        return false;
    if (red)
        *red = m_red;
    if (green)
        *green = m_green;
    if (blue)
        *blue = m_blue;
    if (alpha)
        *alpha = m_alpha;
    return true;
}

bool UIColor::getWhite(double* white, double* alpha) const {
    if (m_space != Space::Gray || m_patternImage)
        return false;
    if (white)
        *white = m_red;
    if (alpha)
        *alpha = m_alpha;
    return true;
}

bool UIColor::getHue(double* hue, double* saturation, double* brightness, double* alpha) const {
    if (m_patternImage)
        return false;
    double maxC = std::max({m_red, m_green, m_blue});
    double minC = std::min({m_red, m_green, m_blue});
    double delta = maxC - minC;
    double h = 0;
    if (delta > 0) {
        if (maxC == m_red)
            h = (m_green - m_blue) / delta;
        else if (maxC == m_green)
            h = 2 + (m_blue - m_red) / delta;
        else
            h = 4 + (m_red - m_green) / delta;
        h /= 6;
        if (h < 0)
            h += 1;
    }
    if (hue)
        *hue = h;
    if (saturation)
        *saturation = maxC > 0 ? delta / maxC : 0;
    if (brightness)
        *brightness = maxC;
    if (alpha)
        *alpha = m_alpha;
    return true;
}

bool UIColor::isEqual(const UIColor& other) const {
    if (m_patternImage || other.m_patternImage)
        return m_patternImage == other.m_patternImage && near(m_alpha, other.m_alpha);
    return m_space == other.m_space && near(m_red, other.m_red) && near(m_green, other.m_green) &&
           near(m_blue, other.m_blue) && near(m_alpha, other.m_alpha);
}

bool UIColor::isEqual(const UIColorPtr& a, const UIColorPtr& b) {
    if (!a || !b)
        return !a && !b;
    return a->isEqual(*b);
}

std::string UIColor::description() const {
    if (m_patternImage)
        return fmt::format("UIPatternColor {}x{} {}", m_patternImage->size().width,
                           m_patternImage->size().height, m_alpha);
    if (m_space == Space::Gray)
        return fmt::format("UIExtendedGrayColorSpace {} {}", m_red, m_alpha);
    return fmt::format("UIExtendedSRGBColorSpace {} {} {} {}", m_red, m_green, m_blue, m_alpha);
}

} // namespace platform

namespace platform {

CGColorRef UIColor::CGColor() const {
    if (auto self = weak_from_this().lock())
        return std::static_pointer_cast<const UIColor>(self);
    if (m_patternImage)
        return colorWithPatternImage(m_patternImage)->colorWithAlphaComponent(m_alpha);
    if (m_space == Space::Gray)
        return std::make_shared<const UIColor>(m_red, m_alpha);
    return std::make_shared<const UIColor>(m_red, m_green, m_blue, m_alpha);
}

void UIColor::setFill() const {
    if (auto context = UIGraphicsGetCurrentContext())
        context->setFillColorWithColor(CGColor());
}

void UIColor::setStroke() const {
    if (auto context = UIGraphicsGetCurrentContext())
        context->setStrokeColorWithColor(CGColor());
}

void UIColor::set() const {
    setFill();
    setStroke();
}

// Never destroyed: threads of their own (a camera drawing its frames) may still draw while static
// destructors run at exit.
CGColorSpaceRef CGColorSpaceCreateDeviceRGB() {
    static detail::Immortal<const CGColorSpaceRef> space(
        std::make_shared<const CGColorSpace>(CGColorSpace{kCGColorSpaceModelRGB}));
    return space.get();
}

CGColorSpaceRef CGColorSpaceCreateDeviceGray() {
    static detail::Immortal<const CGColorSpaceRef> space(
        std::make_shared<const CGColorSpace>(CGColorSpace{kCGColorSpaceModelMonochrome}));
    return space.get();
}

CGColorSpaceModel CGColorSpaceGetModel(const CGColorSpaceRef& space) {
    return space ? space->model : kCGColorSpaceModelUnknown;
}

size_t CGColorSpaceGetNumberOfComponents(const CGColorSpaceRef& space) {
    switch (CGColorSpaceGetModel(space)) {
    case kCGColorSpaceModelMonochrome:
        return 1;
    case kCGColorSpaceModelRGB:
        return 3;
    case kCGColorSpaceModelCMYK:
        return 4;
    default:
        return 0;
    }
}

} // namespace platform
