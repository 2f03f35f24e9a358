#include "app/ui/CustomTextView.h"

#include "app/ui/CustomTextField.h"
#include "app/ui/UIView+AutoLayout.h"

using namespace platform;

std::shared_ptr<CustomTextView> CustomTextView::create(CGRect frame) {
    return makeFramedView<CustomTextView>(frame);
}

const UITextViewPtr& CustomTextView::textView() {
    if (!m_textView) {
        m_textView = UITextView::create();
        m_textView->setTextAlignment(NSTextAlignmentLeft);
        m_textView->setTextColor(UIColor::darkGrayColor());
        m_textView->setFont(UIFont::systemFontOfSize(16));
    }
    return m_textView;
}

void CustomTextView::setupSubviews() {
    addSubview(textView());
}

void CustomTextView::setupConstraints() {
    for (int64_t edge : {EdgeTop, EdgeLeft, EdgeBottom, EdgeRight})
        autoPinEdgeToSuperviewEdge(textView(), edge, 5);
}
