#pragma once
// LiveControlPanel: the transparent overlay of the broadcast screen. Icon buttons along the top left
// (back, torch, camera, barrage, beauty), the capture button at the top right, the viewer badge and the
// logo at the bottom right, the barrage panel at the bottom left with the beauty sliders beside it, a
// full-size gesture layer under everything for focus and zoom, and the focus marker. Taps and zooms go
// to the touch delegate (held weakly); a zoom is reported around the middle of the chosen resolution,
// not where the fingers were. Main thread only.

#include "app/screens/CaptureButton.h"
#include "app/screens/FacialSettingView.h"
#include "app/screens/LiveBarrageView.h"
#include "app/screens/LivePersonsView.h"
#include "app/screens/ZoomTouchesView.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIImageView.h"

#include <memory>

class LiveControlPanel;

class LiveControlPanelTouchProtocol {
public:
    virtual ~LiveControlPanelTouchProtocol() = default;
    // liveControlPanel:tapPoint: — a single tap, in the panel's coordinates.
    virtual void liveControlPanelTapPoint(LiveControlPanel* panel, platform::CGPoint point) = 0;
    // liveControlPanel:zoom:centerPoint: — a zoom value of 1 to 8.
    virtual void liveControlPanelZoom(LiveControlPanel* panel, double zoom,
                                      platform::CGPoint centerPoint) = 0;
};

class LiveControlPanel : public platform::UIView {
public:
    static constexpr double kFocusFadeDelay = 1.0;

    // initWithFrame:
    static std::shared_ptr<LiveControlPanel> create(platform::CGRect frame = platform::CGRectZero);
    explicit LiveControlPanel(platform::CGRect frame);

    std::shared_ptr<LiveControlPanelTouchProtocol> touchDelegate() const { return m_touchDelegate.lock(); }
    void setTouchDelegate(const std::shared_ptr<LiveControlPanelTouchProtocol>& delegate) {
        m_touchDelegate = delegate;
    }

    const platform::UIButtonPtr& backButton() { return m_backButton; }
    const platform::UIButtonPtr& flashButton() { return m_flashButton; }
    const platform::UIButtonPtr& cameraButton() { return m_cameraButton; }
    const platform::UIButtonPtr& barrageButton() { return m_barrageButton; }
    const platform::UIButtonPtr& facialButton() { return m_facialButton; }
    const std::shared_ptr<CaptureButton>& captureButton() { return m_captureButton; }
    const platform::UIImageViewPtr& logoImageView() { return m_logoImageView; }
    const std::shared_ptr<LivePersonsView>& personsView() { return m_personsView; }
    const std::shared_ptr<FacialSettingView>& facialSettingView() { return m_facialSettingView; }
    const std::shared_ptr<LiveBarrageView>& barrageView() { return m_barrageView; }
    const std::shared_ptr<ZoomTouchesView>& touchesView() { return m_touchesView; }
    const platform::UIImageViewPtr& focusImageView() { return m_focusImageView; }
    const platform::NSLayoutConstraintPtr& barrageViewWithExpandedConstraint() const {
        return m_barrageViewWithExpandedConstraint;
    }
    const platform::NSLayoutConstraintPtr& barrageViewWithoutExpandedConstraint() const {
        return m_barrageViewWithoutExpandedConstraint;
    }

    void setupSubviews();
    void setupConstraints();
    // The focus marker: centred on the point, shown, and hidden again a second later (a later tap does
    // not cancel an earlier fade).
    void handleTapPoint(platform::CGPoint point);
    void expandBarrageView(bool expanded);
    void barrageViewControlButtonPressed();

private:
    void installTouchHandlers();
    void setupButtonRowConstraints();

    std::weak_ptr<LiveControlPanelTouchProtocol> m_touchDelegate;
    platform::UIButtonPtr m_backButton;
    platform::UIButtonPtr m_flashButton;
    platform::UIButtonPtr m_cameraButton;
    platform::UIButtonPtr m_barrageButton;
    platform::UIButtonPtr m_facialButton;
    std::shared_ptr<CaptureButton> m_captureButton;
    platform::UIImageViewPtr m_logoImageView;
    std::shared_ptr<LivePersonsView> m_personsView;
    std::shared_ptr<FacialSettingView> m_facialSettingView;
    std::shared_ptr<LiveBarrageView> m_barrageView;
    std::shared_ptr<ZoomTouchesView> m_touchesView;
    platform::UIImageViewPtr m_focusImageView;
    platform::NSLayoutConstraintPtr m_barrageViewWithExpandedConstraint;
    platform::NSLayoutConstraintPtr m_barrageViewWithoutExpandedConstraint;
};
