#pragma once
// CustomTextField: an icon followed by a single-line text field, framed as one box (rounded corners, a
// hairline grey border). create() builds the icon and the field and installs their constraints, so both are
// there and laid out as soon as the view exists; callers then set the icon's image, the field's
// placeholder, delegate and return key, and may restyle the border. Main thread only.

#include "platform/ui/UIImageView.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UIView.h"

#include <memory>

class CustomTextField : public platform::UIView {
public:
    // initWithFrame: (plain creation passes no frame).
    static std::shared_ptr<CustomTextField> create(platform::CGRect frame = platform::CGRectZero);
    using UIView::UIView;

    // Each made on first read and kept; a setter replaces it (the old view stays in the tree).
    const platform::UIImageViewPtr& icon();
    void setIcon(platform::UIImageViewPtr icon) { m_icon = std::move(icon); }
    const platform::UITextFieldPtr& textField();
    void setTextField(platform::UITextFieldPtr field) { m_textField = std::move(field); }

    void setupSubviews();
    void setupConstraints();

protected:
    // Everything but the field's right edge: the icon 12 from the left, 20 x 20, centred; the field from
    // 12 right of it, top and bottom pinned.
    void constrainIconAndTextField();

private:
    platform::UIImageViewPtr m_icon;
    platform::UITextFieldPtr m_textField;
};

// The look CustomTextField and CustomTextView share: corner radius 5, a one-pixel border of grey 155,
// content clipped to the bounds.
void applyFramedLook(platform::UIView& view);

// Their initialiser: the framed look, then the view's setupSubviews and setupConstraints.
template <typename View> std::shared_ptr<View> makeFramedView(platform::CGRect frame) {
    auto view = std::make_shared<View>(frame);
    applyFramedLook(*view);
    view->setupSubviews();
    view->setupConstraints();
    return view;
}
