#pragma once
// CustomSearchBar: a 28-point search field. While it is idle and empty, its magnifier, a 4-point gap and
// the placeholder sit centred together; once it edits or holds text, the magnifier sits 7 points from the
// left and the text starts 4 points after it. The rectangles are answered afresh whenever the field asks
// (on editing changes, text changes and layout), measuring the magnifier image and the placeholder each
// time. Main thread only.

#include "platform/ui/UITextField.h"

#include <memory>

class CustomSearchBar : public platform::UITextField {
public:
    // initWithFrame: the frame's origin and width, 28 points tall.
    static std::shared_ptr<CustomSearchBar> create(platform::CGRect frame);
    explicit CustomSearchBar(platform::CGRect frame);

    platform::CGRect leftViewRectForBounds(platform::CGRect bounds) override;
    platform::CGRect placeholderRectForBounds(platform::CGRect bounds) override;
    platform::CGRect editingRectForBounds(platform::CGRect bounds) override;
    platform::CGRect textRectForBounds(platform::CGRect bounds) override;

    // Border grey 229 on a light bar, white on a dark one.
    void adaptLightBar(bool light);
    // The colour the placeholder is drawn in; the given colour is the one used from then on.
    platform::UIColorPtr placeholderTextColor() const { return placeholderColor(); }
    void setPlaceholderTextColor(platform::UIColorPtr color) { setPlaceholderColor(std::move(color)); }

private:
    platform::CGSize iconSize() const;
    // Where the magnifier starts when magnifier, gap and placeholder are centred together.
    double centredIconX(platform::CGRect bounds) const;
};
