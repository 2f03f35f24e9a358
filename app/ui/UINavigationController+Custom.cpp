#include "app/ui/AssociatedObjects.h"
#include "app/ui/UIImage+Color.h"
#include "app/ui/UINavigationController+Custom.h"

using namespace platform;

namespace {
const char kShadowLayerKey = 0;
constexpr double kHairlineHeight = 0.5;
constexpr double kHairlineGrey = 176.0 / 255.0;
} // namespace

void setNavigationBarColor(UINavigationController& navigation, UIColorPtr color) {
    auto bar = navigation.navigationBar();
    if (!bar->isTranslucent())
        bar->setBackgroundImage(imageWithColor(navigation, color, CGSizeMake(1, 1)), UIBarMetricsDefault);
    else
        bar->setBarTintColor(std::move(color));
}

void setNavigationBarTitleColor(UINavigationController& navigation, UIColorPtr color) {
    auto bar = navigation.navigationBar();
    NSAttributes attributes;
    if (color)
        attributes.set(NSForegroundColorAttributeName, Value(color));
    bar->setTitleTextAttributes(std::move(attributes));
    bar->setTintColor(std::move(color));
}

bool isLightColor(UINavigationController&, const UIColorPtr& color) {
    constexpr double limit = 176.0 / 255.0;
    return color && color->red() > limit && color->green() > limit && color->blue() > limit;
}

void setShadowHidden(UINavigationController& navigation, bool hidden) {
    auto layer = shadowLayer(navigation);
    if (hidden) {
        if (layer)
            layer->setHidden(true);
        return;
    }
    if (!layer) {
        auto barLayer = navigation.navigationBar()->layer();
        const CGRect bounds = barLayer->bounds();
        layer = CALayer::layer();
        layer->setFrame(
            CGRectMake(0, bounds.size.height - kHairlineHeight, bounds.size.width, kHairlineHeight));
        layer->setBackgroundColor(UIColor::colorWithRed(kHairlineGrey, kHairlineGrey, kHairlineGrey, 1));
        barLayer->addSublayer(layer);
        setShadowLayer(navigation, layer);
    }
    layer->setHidden(false);
}

UIImagePtr imageWithColor(UINavigationController&, const UIColorPtr& color, CGSize size) {
    return imageWithColor(color, size);
}

CALayerPtr shadowLayer(const UINavigationController& navigation) {
    return ::detail::associated<CALayer>(navigation, &kShadowLayerKey);
}

void setShadowLayer(UINavigationController& navigation, CALayerPtr layer) {
    ::detail::setAssociated(navigation, &kShadowLayerKey, std::move(layer));
}
