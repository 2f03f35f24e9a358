#pragma once
// CALayer: a node of the render tree. Every view has one (its layer), and a view's subviews' layers are
// sublayers of its layer, in the same order, so layers inserted next to them (a colour layer at index 1)
// draw between the subviews as on the platform. Geometry follows the platform: position is where the
// anchor point (0.5, 0.5 by default) of the bounds sits in the superlayer, and frame is derived from bounds,
// position, anchor point and the affine transform.
//
// Rendering (renderInContext) draws, per layer: background (clipped to the corner radius), contents (an
// image placed by contentsGravity) or the owning view's drawRect, sublayers (clipped when masksToBounds),
// then the border on top; hidden layers and their sublayers are skipped, opacity multiplies down the tree.
// Shadows and masks are stored but not drawn. Changes take effect at once (no implicit animations).
// Main thread only.

#include "platform/foundation/Object.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/GraphicsContext.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {

class CALayer;
class UIView;
using CALayerPtr = std::shared_ptr<CALayer>;

// contentsGravity values.
inline constexpr const char* kCAGravityCenter = "center";
inline constexpr const char* kCAGravityTop = "top";
inline constexpr const char* kCAGravityBottom = "bottom";
inline constexpr const char* kCAGravityLeft = "left";
inline constexpr const char* kCAGravityRight = "right";
inline constexpr const char* kCAGravityTopLeft = "topLeft";
inline constexpr const char* kCAGravityTopRight = "topRight";
inline constexpr const char* kCAGravityBottomLeft = "bottomLeft";
inline constexpr const char* kCAGravityBottomRight = "bottomRight";
inline constexpr const char* kCAGravityResize = "resize";
inline constexpr const char* kCAGravityResizeAspect = "resizeAspect";
inline constexpr const char* kCAGravityResizeAspectFill = "resizeAspectFill";

class CALayer : public Object {
public:
    static CALayerPtr layer() { return std::make_shared<CALayer>(); }
    static CALayerPtr create() { return layer(); }
    CALayer() = default;
    ~CALayer() override;

    // The tree. Adding a layer that has a superlayer moves it. Indexes past the end append.
    CALayerPtr superlayer() const { return m_superlayer.lock(); }
    const std::vector<CALayerPtr>& sublayers() const { return m_sublayers; }
    void addSublayer(const CALayerPtr& layer);
    void insertSublayer(const CALayerPtr& layer, unsigned index);
    // A sibling that is not a sublayer of this layer: the layer goes on top (above) or at the bottom (below).
    void insertSublayerAbove(const CALayerPtr& layer, const CALayerPtr& sibling);
    void insertSublayerBelow(const CALayerPtr& layer, const CALayerPtr& sibling);
    void replaceSublayer(const CALayerPtr& oldLayer, const CALayerPtr& newLayer);
    void removeFromSuperlayer();

    // Geometry.
    CGRect frame() const;
    virtual void setFrame(CGRect frame);
    CGRect bounds() const { return m_bounds; }
    virtual void setBounds(CGRect bounds);
    CGPoint position() const { return m_position; }
    virtual void setPosition(CGPoint position);
    CGPoint anchorPoint() const { return m_anchorPoint; }
    void setAnchorPoint(CGPoint anchorPoint);
    double zPosition() const { return m_zPosition; }
    void setZPosition(double z) { m_zPosition = z; }
    CGAffineTransform affineTransform() const { return m_transform; }
    void setAffineTransform(CGAffineTransform transform);
    // Converting between this layer's and another layer's coordinates (both in one tree).
    CGPoint convertPointToLayer(CGPoint point, const CALayerPtr& layer) const;
    CGPoint convertPointFromLayer(CGPoint point, const CALayerPtr& layer) const;
    CGRect convertRectToLayer(CGRect rect, const CALayerPtr& layer) const;
    CGRect convertRectFromLayer(CGRect rect, const CALayerPtr& layer) const;

    // Look.
    float opacity() const { return m_opacity; }
    void setOpacity(float opacity) { m_opacity = opacity; }
    bool isHidden() const { return m_hidden; }
    void setHidden(bool hidden) { m_hidden = hidden; }
    CGColorRef backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(CGColorRef color) { m_backgroundColor = std::move(color); }
    double cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(double radius) { m_cornerRadius = radius; }
    bool masksToBounds() const { return m_masksToBounds; }
    void setMasksToBounds(bool masks) { m_masksToBounds = masks; }
    double borderWidth() const { return m_borderWidth; }
    void setBorderWidth(double width) { m_borderWidth = width; }
    CGColorRef borderColor() const { return m_borderColor; }
    void setBorderColor(CGColorRef color) { m_borderColor = std::move(color); }
    bool isOpaque() const { return m_opaque; }
    void setOpaque(bool opaque) { m_opaque = opaque; }

    // Stored, not drawn.
    CGColorRef shadowColor() const { return m_shadowColor; }
    void setShadowColor(CGColorRef color) { m_shadowColor = std::move(color); }
    float shadowOpacity() const { return m_shadowOpacity; }
    void setShadowOpacity(float opacity) { m_shadowOpacity = opacity; }
    CGSize shadowOffset() const { return m_shadowOffset; }
    void setShadowOffset(CGSize offset) { m_shadowOffset = offset; }
    double shadowRadius() const { return m_shadowRadius; }
    void setShadowRadius(double radius) { m_shadowRadius = radius; }
    CALayerPtr mask() const { return m_mask; }
    void setMask(CALayerPtr mask) { m_mask = std::move(mask); }
    const std::string& name() const { return m_name; }
    void setName(std::string name) { m_name = std::move(name); }

    // An image drawn over the bounds as contentsGravity says (null: none).
    CGImageRef contents() const { return m_contents; }
    void setContents(CGImageRef contents) { m_contents = std::move(contents); }
    const std::string& contentsGravity() const { return m_contentsGravity; }
    void setContentsGravity(std::string gravity) { m_contentsGravity = std::move(gravity); }
    double contentsScale() const { return m_contentsScale; }
    void setContentsScale(double scale) { m_contentsScale = scale > 0 ? scale : 1; }

    void setNeedsDisplay() { m_needsDisplay = true; }
    bool needsDisplay() const { return m_needsDisplay; }
    void setNeedsLayout() { m_needsLayout = true; }
    bool needsLayout() const { return m_needsLayout; }
    void layoutIfNeeded();
    virtual void layoutSublayers() {}

    // Subclasses draw their own content here (in bounds coordinates); the default draws nothing.
    virtual void drawInContext(const CGContextRef& context);

    // Draws this layer and its sublayers into the context, whose current transform maps this layer's
    // superlayer space (the layer's own position and transform are applied here).
    void renderInContext(const CGContextRef& context);

    // The view this layer belongs to, if any (set by UIView for its own layer).
    UIView* owningView() const { return m_owningView; }

private:
    friend class UIView;
    CGAffineTransform transformToSuperlayer() const;
    CGAffineTransform transformToRoot() const; // this layer's space into the root layer's
    void renderContents(const CGContextRef& context);
    void renderTree(const CGContextRef& context, double inheritedOpacity);

    std::weak_ptr<CALayer> m_superlayer;
    std::vector<CALayerPtr> m_sublayers;
    UIView* m_owningView{nullptr}; // cleared by the view's destructor
    CGRect m_bounds;
    CGPoint m_position;
    CGPoint m_anchorPoint{0.5, 0.5};
    double m_zPosition{0};
    CGAffineTransform m_transform{};
    float m_opacity{1};
    bool m_hidden{false};
    CGColorRef m_backgroundColor;
    double m_cornerRadius{0};
    bool m_masksToBounds{false};
    double m_borderWidth{0};
    CGColorRef m_borderColor{UIColor::blackColor()};
    bool m_opaque{false};
    CGColorRef m_shadowColor{UIColor::blackColor()};
    float m_shadowOpacity{0};
    CGSize m_shadowOffset{0, -3};
    double m_shadowRadius{3};
    CALayerPtr m_mask;
    std::string m_name;
    CGImageRef m_contents;
    std::string m_contentsGravity{kCAGravityResize};
    double m_contentsScale{1};
    bool m_needsDisplay{false};
    bool m_needsLayout{false};
};

} // namespace platform
