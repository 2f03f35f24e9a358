#pragma once
// ZoomTouchesView: the transparent gesture layer over the broadcast controls. A single tap reports its
// point (only once a double tap has failed, so a double tap never also focuses); a double tap doubles
// the zoom (1, 2, 4, 8, then back to 1); a two-finger pinch sets it continuously. Every zoom reported
// lies within 1 to 8; baseZoomScale is the value the last finished pinch or double tap reached.
// Main thread only.

#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UIView.h"

#include <functional>
#include <memory>

class ZoomTouchesView : public platform::UIView {
public:
    using TapTouchesHandler = std::function<void(ZoomTouchesView* view, platform::CGPoint point)>;
    using ZoomTouchesHandler =
        std::function<void(ZoomTouchesView* view, double zoom, platform::CGPoint point)>;

    static constexpr double kMinimumZoom = 1.0;
    static constexpr double kMaximumZoom = 8.0;

    static std::shared_ptr<ZoomTouchesView> create(platform::CGRect frame = platform::CGRectZero);
    explicit ZoomTouchesView(platform::CGRect frame)
        : UIView(frame) {}

    double baseZoomScale() const { return m_baseZoomScale; }
    void setBaseZoomScale(double scale) { m_baseZoomScale = scale; }
    const TapTouchesHandler& tapTouchesHandler() const { return m_tapTouchesHandler; }
    void setTapTouchesHandler(TapTouchesHandler handler) { m_tapTouchesHandler = std::move(handler); }
    const ZoomTouchesHandler& zoomTouchesHandler() const { return m_zoomTouchesHandler; }
    void setZoomTouchesHandler(ZoomTouchesHandler handler) { m_zoomTouchesHandler = std::move(handler); }

    void singleTapAction(platform::UIGestureRecognizer* recognizer);
    void doubleTapAction(platform::UIGestureRecognizer* recognizer);
    void pinchAction(platform::UIGestureRecognizer* recognizer);

private:
    void installRecognizers();

    double m_baseZoomScale{1.0};
    TapTouchesHandler m_tapTouchesHandler;
    ZoomTouchesHandler m_zoomTouchesHandler;
};
