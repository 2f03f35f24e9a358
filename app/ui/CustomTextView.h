#pragma once
// CustomTextView: a framed multi-line text view (the look of CustomTextField), the text view kept 5 points
// inside the frame on every side. create() builds and constrains it. Main thread only.

#include "platform/ui/UITextView.h"
#include "platform/ui/UIView.h"

#include <memory>

class CustomTextView : public platform::UIView {
public:
    // initWithFrame:
    static std::shared_ptr<CustomTextView> create(platform::CGRect frame = platform::CGRectZero);
    using UIView::UIView;

    // Made on first read and kept; the setter replaces it (the old view stays in the tree).
    const platform::UITextViewPtr& textView();
    void setTextView(platform::UITextViewPtr view) { m_textView = std::move(view); }

    void setupSubviews();
    void setupConstraints();

private:
    platform::UITextViewPtr m_textView;
};
