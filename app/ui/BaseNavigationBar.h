#pragma once
// BaseNavigationBar: the bar of every navigation stack of the application. The platform's bar tint is
// kept half see-through (alpha 0.66) and a colour layer of its own, at index 1 of the bar's layer and
// reaching 20 points up under the status bar, carries the chosen colour at a computed opacity: the
// opacity starts at 0.4 and rises just enough that the darkest component still converts to 0 or more,
// and each component is converted for that opacity and clamped to 0...1. A missing colour (null, or every
// component below 1) clears the tint and makes the layer fully transparent. Main thread only.

#include "platform/ui/CALayer.h"
#include "platform/ui/UINavigationBar.h"

#include <memory>

class BaseNavigationBar : public platform::UINavigationBar {
public:
    BaseNavigationBar();
    explicit BaseNavigationBar(platform::CGRect frame);

    void layoutSubviews() override;
    void setBarTintColor(platform::UIColorPtr color) override;
    // YES hides the colour layer (the platform's own translucency shows), NO shows it.
    void usingSystemTranslucent(bool systemTranslucent);

    // convertValue:withOpacity: the component that, drawn at `opacity` over the bar, gives `value`.
    static double convertValue(double value, double opacity);
    // minOpacityForValue: the opacity at which convertValue of `value` is exactly 0.
    static double minOpacityForValue(double value);

    const platform::CALayerPtr& colorLayer() const { return m_colorLayer; }
    void setColorLayer(platform::CALayerPtr layer) { m_colorLayer = std::move(layer); }

private:
    void addColorLayer();

    platform::CALayerPtr m_colorLayer;
};
