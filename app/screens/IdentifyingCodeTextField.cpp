#include "app/screens/IdentifyingCodeTextField.h"

#include "app/ui/UIView+AutoLayout.h"

using namespace platform;

std::shared_ptr<IdentifyingCodeTextField> IdentifyingCodeTextField::create(CGRect frame) {
    return makeFramedView<IdentifyingCodeTextField>(frame);
}

const UIButtonPtr& IdentifyingCodeTextField::identifyingCodeButton() {
    if (!m_identifyingCodeButton)
        m_identifyingCodeButton = UIButton::create();
    return m_identifyingCodeButton;
}

void IdentifyingCodeTextField::setupSubviews() {
    CustomTextField::setupSubviews();
    addSubview(identifyingCodeButton());
}

void IdentifyingCodeTextField::setupConstraints() {
    constrainIconAndTextField();
    const auto& button = identifyingCodeButton();
    autoPinEdgeToSuperviewEdge(button, EdgeTop, 7);
    autoPinEdgeToSuperviewEdge(button, EdgeBottom, 7);
    autoPinEdgeToSuperviewEdge(button, EdgeRight, 0);
    autoMatchDimensionWithMultiplier(button, DimensionWidth, DimensionHeight, button, 2.4);
    autoPinEdge(textField(), EdgeRight, EdgeLeft, button, 5);
}
