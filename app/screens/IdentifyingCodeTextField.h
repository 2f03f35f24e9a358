#pragma once
// IdentifyingCodeTextField: the captcha row of the login form, a framed text row (icon and field, as
// CustomTextField) with the captcha picture as the background of a button at its right end, where a tap
// asks for a new picture. create() builds and lays it out. Main thread only.

#include "app/ui/CustomTextField.h"
#include "platform/ui/UIButton.h"

#include <memory>

class IdentifyingCodeTextField : public CustomTextField {
public:
    static std::shared_ptr<IdentifyingCodeTextField> create(platform::CGRect frame = platform::CGRectZero);
    using CustomTextField::CustomTextField;

    const platform::UIButtonPtr& identifyingCodeButton();

    void setupSubviews();
    // The icon and field as CustomTextField; the button 7 from top and bottom, flush right, 2.4 times
    // as wide as it is tall; the field reaches 5 past the button's left edge.
    void setupConstraints();

private:
    platform::UIButtonPtr m_identifyingCodeButton;
};
