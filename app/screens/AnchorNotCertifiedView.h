#pragma once
// AnchorNotCertifiedView: a full-screen notice for an anchor who is not certified, asking them to
// certify on the service's web site (whose address it shows). The home screen keeps it hidden.
// create() adds and lays out the three lines. Main thread only.

#include "platform/ui/UILabel.h"
#include "platform/ui/UIView.h"

#include <memory>

class AnchorNotCertifiedView : public platform::UIView {
public:
    static std::shared_ptr<AnchorNotCertifiedView> create(platform::CGRect frame = platform::CGRectZero);
    using UIView::UIView;

    const platform::UILabelPtr& stateLabel();
    const platform::UILabelPtr& websiteCertifiedLabel();
    const platform::UILabelPtr& websiteLabel();

    void setupSubviews();
    void setupConstraints();

private:
    platform::UILabelPtr m_stateLabel;
    platform::UILabelPtr m_websiteCertifiedLabel;
    platform::UILabelPtr m_websiteLabel;
};
