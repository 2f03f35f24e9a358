#include "platform/ui/CALayer.h"

#include "platform/ui/UIView.h"

#include <algorithm>

namespace platform {

CALayer::~CALayer() {
    for (auto& sublayer : m_sublayers)
        sublayer->m_superlayer.reset();
}

void CALayer::addSublayer(const CALayerPtr& layer) {
    insertSublayer(layer, static_cast<unsigned>(m_sublayers.size()));
}

void CALayer::insertSublayer(const CALayerPtr& layer, unsigned index) {
    if (!layer || layer.get() == this)
        return;
    auto self = sharedAs<CALayer>();
    if (layer->superlayer() == self) {
        // Moving within this layer: the index counts among the other sublayers.
        auto it = std::find(m_sublayers.begin(), m_sublayers.end(), layer);
        m_sublayers.erase(it);
    } else {
        layer->removeFromSuperlayer();
    }
    index = std::min<unsigned>(index, static_cast<unsigned>(m_sublayers.size()));
    m_sublayers.insert(m_sublayers.begin() + index, layer);
    layer->m_superlayer = self;
}

void CALayer::insertSublayerAbove(const CALayerPtr& layer, const CALayerPtr& sibling) {
    if (!layer || layer == sibling)
        return;
    if (layer->superlayer().get() == this)
        std::erase(m_sublayers, layer);
    auto it = std::find(m_sublayers.begin(), m_sublayers.end(), sibling);
    unsigned index = it == m_sublayers.end() ? static_cast<unsigned>(m_sublayers.size())
                                             : static_cast<unsigned>(it - m_sublayers.begin()) + 1;
    layer->m_superlayer.reset();
    insertSublayer(layer, index);
}

void CALayer::insertSublayerBelow(const CALayerPtr& layer, const CALayerPtr& sibling) {
    if (!layer || layer == sibling)
        return;
    if (layer->superlayer().get() == this)
        std::erase(m_sublayers, layer);
    auto it = std::find(m_sublayers.begin(), m_sublayers.end(), sibling);
    unsigned index = it == m_sublayers.end() ? 0 : static_cast<unsigned>(it - m_sublayers.begin());
    layer->m_superlayer.reset();
    insertSublayer(layer, index);
}

void CALayer::replaceSublayer(const CALayerPtr& oldLayer, const CALayerPtr& newLayer) {
    auto it = std::find(m_sublayers.begin(), m_sublayers.end(), oldLayer);
    if (it == m_sublayers.end() || !newLayer)
        return;
    unsigned index = static_cast<unsigned>(it - m_sublayers.begin());
    oldLayer->removeFromSuperlayer();
    insertSublayer(newLayer, index);
}

void CALayer::removeFromSuperlayer() {
    auto super = superlayer();
    m_superlayer.reset();
    if (!super)
        return;
    auto keepAlive = shared_from_this();
    std::erase_if(super->m_sublayers, [&](const CALayerPtr& l) { return l.get() == this; });
}

CGAffineTransform CALayer::transformToSuperlayer() const {
    // Bounds space -> centred on the anchor point -> transformed -> placed at position.
    double ax = m_bounds.origin.x + m_anchorPoint.x * m_bounds.size.width;
    double ay = m_bounds.origin.y + m_anchorPoint.y * m_bounds.size.height;
    CGAffineTransform t = CGAffineTransformMakeTranslation(-ax, -ay);
    t = CGAffineTransformConcat(t, m_transform);
    return CGAffineTransformConcat(t, CGAffineTransformMakeTranslation(m_position.x, m_position.y));
}

CGAffineTransform CALayer::transformToRoot() const {
    CGAffineTransform t = CGAffineTransformIdentity;
    const CALayer* layer = this;
    while (auto super = layer->superlayer()) {
        t = CGAffineTransformConcat(t, layer->transformToSuperlayer());
        layer = super.get();
    }
    return t;
}

CGRect CALayer::frame() const {
    CGRect local = m_bounds;
    return CGRectApplyAffineTransform(local, transformToSuperlayer());
}

void CALayer::setFrame(CGRect frame) {
    frame = CGRectStandardize(frame);
    // With a transform the platform leaves the frame undefined; the size then goes to the bounds as given.
    m_bounds.size = frame.size;
    m_position = {frame.origin.x + m_anchorPoint.x * frame.size.width,
                  frame.origin.y + m_anchorPoint.y * frame.size.height};
}

void CALayer::setBounds(CGRect bounds) {
    m_bounds = bounds;
}

void CALayer::setPosition(CGPoint position) {
    m_position = position;
}

void CALayer::setAnchorPoint(CGPoint anchorPoint) {
    m_anchorPoint = anchorPoint;
}

void CALayer::setAffineTransform(CGAffineTransform transform) {
    m_transform = transform;
}

namespace {

// from's space into to's space through the common root; a null layer stands for the root.
CGAffineTransform between(CGAffineTransform fromToRoot, CGAffineTransform toToRoot) {
    return CGAffineTransformConcat(fromToRoot, CGAffineTransformInvert(toToRoot));
}

} // namespace

CGPoint CALayer::convertPointToLayer(CGPoint point, const CALayerPtr& layer) const {
    auto other = layer ? layer->transformToRoot() : CGAffineTransformIdentity;
    return CGPointApplyAffineTransform(point, between(transformToRoot(), other));
}

CGPoint CALayer::convertPointFromLayer(CGPoint point, const CALayerPtr& layer) const {
    auto other = layer ? layer->transformToRoot() : CGAffineTransformIdentity;
    return CGPointApplyAffineTransform(point, between(other, transformToRoot()));
}

CGRect CALayer::convertRectToLayer(CGRect rect, const CALayerPtr& layer) const {
    auto other = layer ? layer->transformToRoot() : CGAffineTransformIdentity;
    return CGRectApplyAffineTransform(rect, between(transformToRoot(), other));
}

CGRect CALayer::convertRectFromLayer(CGRect rect, const CALayerPtr& layer) const {
    auto other = layer ? layer->transformToRoot() : CGAffineTransformIdentity;
    return CGRectApplyAffineTransform(rect, between(other, transformToRoot()));
}

void CALayer::layoutIfNeeded() {
    if (m_needsLayout) {
        m_needsLayout = false;
        layoutSublayers();
    }
    auto sublayers = m_sublayers;
    for (auto& sublayer : sublayers)
        sublayer->layoutIfNeeded();
}

void CALayer::drawInContext(const CGContextRef&) {}

} // namespace platform
