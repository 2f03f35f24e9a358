#pragma once
// CGContext: a 2D drawing context over a bitmap (the platform's drawing context), drawn with cairo.
//
// Coordinates, as on the platform: an image context (GraphicsContextStack.h) has its origin at the top left,
// y growing downwards, in points; a bitmap context (CGBitmapContextCreate) has its origin at the bottom left,
// y growing upwards, in pixels. drawImage and clipToMask place the image's first row at the rectangle's
// maximum y, i.e. upright in a y-up space, so in an image context they come out upside down unless the
// caller flips the context first, exactly as callers of the platform expect. drawImageUpright (used by
// UIImage drawing) puts the first row at the minimum y instead.
//
// Promises: saveGState/restoreGState keep colours, line settings, blend mode, alpha, transform, clip and
// mask; the current path is not part of that state and filling, stroking or clipping consumes it. A context
// is not synchronised: draw into one context from one thread at a time (separate contexts may live on
// separate threads). Drawing into a caller's buffer is visible in the buffer when each call returns.

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

typedef struct _cairo cairo_t;

namespace platform {

// The platform's numbering.
enum CGBlendMode : int32_t {
    kCGBlendModeNormal = 0,
    kCGBlendModeMultiply,
    kCGBlendModeScreen,
    kCGBlendModeOverlay,
    kCGBlendModeDarken,
    kCGBlendModeLighten,
    kCGBlendModeColorDodge,
    kCGBlendModeColorBurn,
    kCGBlendModeSoftLight,
    kCGBlendModeHardLight,
    kCGBlendModeDifference,
    kCGBlendModeExclusion,
    kCGBlendModeHue,
    kCGBlendModeSaturation,
    kCGBlendModeColor,
    kCGBlendModeLuminosity,
    kCGBlendModeClear,
    kCGBlendModeCopy,
    kCGBlendModeSourceIn,
    kCGBlendModeSourceOut,
    kCGBlendModeSourceAtop,
    kCGBlendModeDestinationOver,
    kCGBlendModeDestinationIn,
    kCGBlendModeDestinationOut,
    kCGBlendModeDestinationAtop,
    kCGBlendModeXOR,
    kCGBlendModePlusDarker,
    kCGBlendModePlusLighter,
};

enum CGLineCap : int32_t { kCGLineCapButt = 0, kCGLineCapRound = 1, kCGLineCapSquare = 2 };
enum CGLineJoin : int32_t { kCGLineJoinMiter = 0, kCGLineJoinRound = 1, kCGLineJoinBevel = 2 };
enum CGPathDrawingMode : int32_t {
    kCGPathFill,
    kCGPathEOFill,
    kCGPathStroke,
    kCGPathFillStroke,
    kCGPathEOFillStroke
};

enum CGGradientDrawingOptions : uint32_t {
    kCGGradientDrawsBeforeStartLocation = 1,
    kCGGradientDrawsAfterEndLocation = 2,
};

// Bitmap info: the alpha info (Bitmap.h) in the low bits, or-ed with a byte order.
enum CGBitmapInfo : uint32_t {
    kCGBitmapAlphaInfoMask = 0x1F,
    kCGBitmapFloatComponents = 1 << 8,
    kCGBitmapByteOrderMask = 0x7000,
    kCGBitmapByteOrderDefault = 0,
    kCGBitmapByteOrder16Little = 1 << 12,
    kCGBitmapByteOrder32Little = 2 << 12,
    kCGBitmapByteOrder16Big = 3 << 12,
    kCGBitmapByteOrder32Big = 4 << 12,
};
inline constexpr CGImageAlphaInfo kCGImageAlphaOnly = static_cast<CGImageAlphaInfo>(7);
// Callers combine a byte order and an alpha info as the platform's do: kCGBitmapByteOrder32Little | alpha.
constexpr uint32_t operator|(CGBitmapInfo order, CGImageAlphaInfo alpha) {
    return uint32_t(order) | uint32_t(alpha);
}
constexpr uint32_t operator|(CGImageAlphaInfo alpha, CGBitmapInfo order) {
    return uint32_t(order) | uint32_t(alpha);
}

// Colour stops in RGBA (grey stops are widened to RGB), locations ascending in 0...1.
struct CGGradient {
    struct Stop {
        double location{0};
        double red{0}, green{0}, blue{0}, alpha{1};
    };
    std::vector<Stop> stops;
};
using CGGradientRef = std::shared_ptr<const CGGradient>;

class NSAttributedString;

class CGContext {
public:
    // A context of size x scale pixels (scale <= 0 means the screen scale), cleared to transparent, or to
    // opaque black when opaque. Null when either pixel side would be below 1 or the bitmap too large.
    static std::shared_ptr<CGContext> createImageContext(CGSize size, bool opaque, double scale);
    // The platform's CGBitmapContextCreate: 8 bits per component, either 32-bit RGB with any premultiplied
    // or skipped alpha and byte order, or 8-bit grey without alpha. With data, drawing goes into the
    // caller's buffer, which must outlive the context; without it the context owns a cleared buffer.
    // Null for any other format, zero sizes or rows too short.
    static std::shared_ptr<CGContext> createBitmapContext(void* data, size_t width, size_t height,
                                                          size_t bitsPerComponent, size_t bytesPerRow,
                                                          const CGColorSpaceRef& space, uint32_t bitmapInfo);
    ~CGContext();
    CGContext(const CGContext&) = delete;
    CGContext& operator=(const CGContext&) = delete;

    size_t width() const;  // pixels
    size_t height() const; // pixels
    double scale() const;  // pixels per user unit at the base transform (the image context's scale, else 1)
    bool isOpaque() const;
    // The buffer and its layout (for a bitmap context, in the caller's format).
    void* data();
    size_t bytesPerRow() const;
    uint32_t bitmapInfo() const;
    size_t bitsPerPixel() const;
    CGColorSpaceRef colorSpace() const;

    void saveGState();
    void restoreGState(); // an unbalanced restore is ignored

    void translateCTM(double tx, double ty);
    void scaleCTM(double sx, double sy);
    void rotateCTM(double angle);
    void concatCTM(CGAffineTransform transform);
    // User space to device pixels (origin at the buffer's top-left pixel, y down).
    CGAffineTransform getCTM() const;

    void setFillColorWithColor(const CGColorRef& color); // null is ignored
    void setStrokeColorWithColor(const CGColorRef& color);
    void setRGBFillColor(double red, double green, double blue, double alpha);
    void setRGBStrokeColor(double red, double green, double blue, double alpha);
    void setGrayFillColor(double gray, double alpha);
    void setGrayStrokeColor(double gray, double alpha);
    void setAlpha(double alpha); // clamped to 0...1; multiplies everything drawn
    double alpha() const;
    void setBlendMode(CGBlendMode mode);
    CGBlendMode blendMode() const;
    void setShouldAntialias(bool antialias);

    void setLineWidth(double width);
    void setLineCap(CGLineCap cap);
    void setLineJoin(CGLineJoin join);
    void setMiterLimit(double limit);
    void setLineDash(double phase, const std::vector<double>& lengths); // empty lengths: solid

    void beginPath();
    void moveToPoint(double x, double y);
    void addLineToPoint(double x, double y);
    void addCurveToPoint(double cp1x, double cp1y, double cp2x, double cp2y, double x, double y);
    void addQuadCurveToPoint(double cpx, double cpy, double x, double y);
    // clockwise = 0 sweeps towards increasing angles (clockwise on screen in a y-down space), 1 the other
    // way. A line joins the current point to the arc's start.
    void addArc(double x, double y, double radius, double startAngle, double endAngle, int clockwise);
    // An arc of the radius tangent to the line from the current point to (x1, y1) and the line from (x1, y1)
    // to (x2, y2), preceded by a line to its first tangent point.
    void addArcToPoint(double x1, double y1, double x2, double y2, double radius);
    void addRect(CGRect rect);
    void addEllipseInRect(CGRect rect);
    void closePath();
    bool isPathEmpty() const;
    CGPoint getPathCurrentPoint() const; // zero without a current point
    CGRect getPathBoundingBox() const;   // null for an empty path

    void fillPath();
    void eoFillPath();
    void strokePath();
    void drawPath(CGPathDrawingMode mode);

    void fillRect(CGRect rect);
    void fillRects(const std::vector<CGRect>& rects);
    void strokeRect(CGRect rect);
    void strokeRectWithWidth(CGRect rect, double width);
    void clearRect(CGRect rect); // to transparent (opaque contexts: black), whatever the blend mode
    void fillEllipseInRect(CGRect rect);
    void strokeEllipseInRect(CGRect rect);

    void clip();
    void eoClip();
    void clipToRect(CGRect rect);
    // Later drawing is masked by the image over the rectangle: by its alpha when it has alpha, else by its
    // grey level (white shows, black hides). Nothing is drawn outside the rectangle.
    void clipToMask(CGRect rect, const CGImageRef& mask);
    CGRect getClipBoundingBox() const; // in user space

    void drawLinearGradient(const CGGradientRef& gradient, CGPoint start, CGPoint end, uint32_t options);
    void drawRadialGradient(const CGGradientRef& gradient, CGPoint startCenter, double startRadius,
                            CGPoint endCenter, double endRadius, uint32_t options);

    // The image stretched over the rectangle, first row at the maximum y (see the header comment).
    void drawImage(CGRect rect, const CGImageRef& image);
    // The image stretched over the rectangle upright in this space (first row at the minimum y), after
    // applying the orientation; blendMode and alpha replace the context's own for this one drawing.
    void drawImageUpright(CGRect rect, const CGImageRef& image, UIImageOrientation orientation,
                          CGBlendMode blendMode, double alpha);

    // Runs `draw` on the cairo context with this context's transform, clip, blend mode and mask applied;
    // for platform code that draws what cairo does directly (text layouts, view rendering). `draw` must
    // set its own source and must honour alpha() itself.
    void drawWithCairo(const std::function<void(cairo_t*)>& draw);

    // A snapshot of the pixels (CGBitmapContextCreateImage): premultiplied, in Bitmap's byte order, with the
    // context's alpha info and colour model. Null only when memory runs out.
    CGImageRef makeImage() const;

    struct Impl; // opaque outside the graphics library

private:
    explicit CGContext(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

using CGContextRef = std::shared_ptr<CGContext>;

// A gradient of `count` colours: components per colour are the space's components plus alpha; locations
// may be null for evenly spaced stops. Null for a null space or a count of 0.
CGGradientRef CGGradientCreateWithColorComponents(const CGColorSpaceRef& space, const double* components,
                                                  const double* locations, size_t count);
CGGradientRef CGGradientCreateWithColors(const CGColorSpaceRef& space, const std::vector<CGColorRef>& colors,
                                         const double* locations);

} // namespace platform
