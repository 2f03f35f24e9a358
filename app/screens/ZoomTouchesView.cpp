#include "app/screens/ZoomTouchesView.h"

#include "platform/ui/UIPinchGestureRecognizer.h"
#include "platform/ui/UITapGestureRecognizer.h"

using namespace platform;

std::shared_ptr<ZoomTouchesView> ZoomTouchesView::create(CGRect frame) {
    auto view = std::make_shared<ZoomTouchesView>(frame);
    view->installRecognizers();
    return view;
}

void ZoomTouchesView::installRecognizers() {
    auto self = sharedAs<Object>();
    auto doubleTap =
        UITapGestureRecognizer::create(self, selector("doubleTapAction:", &ZoomTouchesView::doubleTapAction));
    doubleTap->setNumberOfTapsRequired(2);
    addGestureRecognizer(doubleTap);
    auto singleTap =
        UITapGestureRecognizer::create(self, selector("singleTapAction:", &ZoomTouchesView::singleTapAction));
    singleTap->setNumberOfTapsRequired(1);
    singleTap->requireGestureRecognizerToFail(doubleTap);
    addGestureRecognizer(singleTap);
    addGestureRecognizer(
        UIPinchGestureRecognizer::create(self, selector("pinchAction:", &ZoomTouchesView::pinchAction)));
    m_baseZoomScale = kMinimumZoom;
}

void ZoomTouchesView::singleTapAction(UIGestureRecognizer* recognizer) {
    if (recognizer && m_tapTouchesHandler)
        m_tapTouchesHandler(this, recognizer->locationInView(sharedAs<UIView>()));
}

void ZoomTouchesView::doubleTapAction(UIGestureRecognizer* recognizer) {
    if (!recognizer)
        return;
    const CGPoint location = recognizer->locationInView(sharedAs<UIView>());
    m_baseZoomScale *= 2;
    if (m_baseZoomScale > kMaximumZoom)
        m_baseZoomScale = kMinimumZoom;
    if (m_zoomTouchesHandler)
        m_zoomTouchesHandler(this, m_baseZoomScale, location);
}

void ZoomTouchesView::pinchAction(UIGestureRecognizer* recognizer) {
    auto* pinch = dynamic_cast<UIPinchGestureRecognizer*>(recognizer);
    if (!pinch)
        return;
    const double scale = pinch->scale();
    if ((scale > 1.0 && m_baseZoomScale >= kMaximumZoom) || (scale < 1.0 && m_baseZoomScale <= kMinimumZoom))
        return;
    double zoom = m_baseZoomScale * scale;
    if (zoom >= kMaximumZoom)
        zoom = kMaximumZoom;
    else if (zoom <= kMinimumZoom)
        zoom = kMinimumZoom;
    if (pinch->state() == UIGestureRecognizerStateEnded)
        m_baseZoomScale = zoom;
    if (pinch->numberOfTouches() != 2)
        return;
    auto self = sharedAs<UIView>();
    const CGPoint first = pinch->locationOfTouch(0, self);
    const CGPoint second = pinch->locationOfTouch(1, self);
    if (m_zoomTouchesHandler)
        m_zoomTouchesHandler(this, zoom, CGPointMake((first.x + second.x) / 2, (first.y + second.y) / 2));
}
