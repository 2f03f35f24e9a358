#pragma once
// The platform's C drawing interface under its own names, over CGContext and Bitmap, so drawing code reads
// as callers wrote it. Each function does nothing (or answers zero / null) for a null context or image.

#include "platform/graphics/GraphicsContext.h"

#include <cstdint>
#include <span>

namespace platform {

CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, const CGColorSpaceRef& space, uint32_t bitmapInfo);
CGImageRef CGBitmapContextCreateImage(const CGContextRef& c);
void* CGBitmapContextGetData(const CGContextRef& c);
size_t CGBitmapContextGetWidth(const CGContextRef& c);
size_t CGBitmapContextGetHeight(const CGContextRef& c);
size_t CGBitmapContextGetBytesPerRow(const CGContextRef& c);
uint32_t CGBitmapContextGetBitmapInfo(const CGContextRef& c);

// An image over pixels in the described layout (8-bit components: 32-bit RGB with any alpha info and byte
// order, 24-bit RGB, or 8-bit grey), converted into Bitmap's layout. Null for other layouts or when the
// pixels are too few for the sizes.
CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerComponent, size_t bitsPerPixel,
                         size_t bytesPerRow, const CGColorSpaceRef& space, uint32_t bitmapInfo,
                         std::span<const uint8_t> pixels);
// The image seen through a grey mask without alpha, stretched over it: each pixel's coverage is the mask's
// grey level (white shows, black hides). Null when the mask has alpha, as on the platform.
CGImageRef CGImageCreateWithMask(const CGImageRef& image, const CGImageRef& mask);
size_t CGImageGetWidth(const CGImageRef& image);
size_t CGImageGetHeight(const CGImageRef& image);
CGImageAlphaInfo CGImageGetAlphaInfo(const CGImageRef& image);

inline void CGContextSaveGState(const CGContextRef& c) {
    if (c)
        c->saveGState();
}
inline void CGContextRestoreGState(const CGContextRef& c) {
    if (c)
        c->restoreGState();
}
inline void CGContextTranslateCTM(const CGContextRef& c, double tx, double ty) {
    if (c)
        c->translateCTM(tx, ty);
}
inline void CGContextScaleCTM(const CGContextRef& c, double sx, double sy) {
    if (c)
        c->scaleCTM(sx, sy);
}
inline void CGContextRotateCTM(const CGContextRef& c, double angle) {
    if (c)
        c->rotateCTM(angle);
}
inline void CGContextConcatCTM(const CGContextRef& c, CGAffineTransform t) {
    if (c)
        c->concatCTM(t);
}
inline CGAffineTransform CGContextGetCTM(const CGContextRef& c) {
    return c ? c->getCTM() : CGAffineTransformIdentity;
}

inline void CGContextSetFillColorWithColor(const CGContextRef& c, const CGColorRef& color) {
    if (c)
        c->setFillColorWithColor(color);
}
inline void CGContextSetStrokeColorWithColor(const CGContextRef& c, const CGColorRef& color) {
    if (c)
        c->setStrokeColorWithColor(color);
}
inline void CGContextSetRGBFillColor(const CGContextRef& c, double r, double g, double b, double a) {
    if (c)
        c->setRGBFillColor(r, g, b, a);
}
inline void CGContextSetRGBStrokeColor(const CGContextRef& c, double r, double g, double b, double a) {
    if (c)
        c->setRGBStrokeColor(r, g, b, a);
}
inline void CGContextSetGrayFillColor(const CGContextRef& c, double gray, double a) {
    if (c)
        c->setGrayFillColor(gray, a);
}
inline void CGContextSetGrayStrokeColor(const CGContextRef& c, double gray, double a) {
    if (c)
        c->setGrayStrokeColor(gray, a);
}
inline void CGContextSetAlpha(const CGContextRef& c, double alpha) {
    if (c)
        c->setAlpha(alpha);
}
inline void CGContextSetBlendMode(const CGContextRef& c, CGBlendMode mode) {
    if (c)
        c->setBlendMode(mode);
}
inline void CGContextSetShouldAntialias(const CGContextRef& c, bool on) {
    if (c)
        c->setShouldAntialias(on);
}
inline void CGContextSetLineWidth(const CGContextRef& c, double width) {
    if (c)
        c->setLineWidth(width);
}
inline void CGContextSetLineCap(const CGContextRef& c, CGLineCap cap) {
    if (c)
        c->setLineCap(cap);
}
inline void CGContextSetLineJoin(const CGContextRef& c, CGLineJoin join) {
    if (c)
        c->setLineJoin(join);
}
inline void CGContextSetMiterLimit(const CGContextRef& c, double limit) {
    if (c)
        c->setMiterLimit(limit);
}
inline void CGContextSetLineDash(const CGContextRef& c, double phase, const double* lengths, size_t count) {
    if (c)
        c->setLineDash(phase,
                       lengths ? std::vector<double>(lengths, lengths + count) : std::vector<double>{});
}

inline void CGContextBeginPath(const CGContextRef& c) {
    if (c)
        c->beginPath();
}
inline void CGContextMoveToPoint(const CGContextRef& c, double x, double y) {
    if (c)
        c->moveToPoint(x, y);
}
inline void CGContextAddLineToPoint(const CGContextRef& c, double x, double y) {
    if (c)
        c->addLineToPoint(x, y);
}
inline void CGContextAddCurveToPoint(const CGContextRef& c, double cp1x, double cp1y, double cp2x,
                                     double cp2y, double x, double y) {
    if (c)
        c->addCurveToPoint(cp1x, cp1y, cp2x, cp2y, x, y);
}
inline void CGContextAddQuadCurveToPoint(const CGContextRef& c, double cpx, double cpy, double x, double y) {
    if (c)
        c->addQuadCurveToPoint(cpx, cpy, x, y);
}
inline void CGContextAddArc(const CGContextRef& c, double x, double y, double radius, double startAngle,
                            double endAngle, int clockwise) {
    if (c)
        c->addArc(x, y, radius, startAngle, endAngle, clockwise);
}
inline void CGContextAddArcToPoint(const CGContextRef& c, double x1, double y1, double x2, double y2,
                                   double radius) {
    if (c)
        c->addArcToPoint(x1, y1, x2, y2, radius);
}
inline void CGContextAddRect(const CGContextRef& c, CGRect rect) {
    if (c)
        c->addRect(rect);
}
inline void CGContextAddEllipseInRect(const CGContextRef& c, CGRect rect) {
    if (c)
        c->addEllipseInRect(rect);
}
inline void CGContextClosePath(const CGContextRef& c) {
    if (c)
        c->closePath();
}
inline bool CGContextIsPathEmpty(const CGContextRef& c) {
    return !c || c->isPathEmpty();
}
inline CGPoint CGContextGetPathCurrentPoint(const CGContextRef& c) {
    return c ? c->getPathCurrentPoint() : CGPointZero;
}
inline CGRect CGContextGetPathBoundingBox(const CGContextRef& c) {
    return c ? c->getPathBoundingBox() : CGRectNull;
}

inline void CGContextFillPath(const CGContextRef& c) {
    if (c)
        c->fillPath();
}
inline void CGContextEOFillPath(const CGContextRef& c) {
    if (c)
        c->eoFillPath();
}
inline void CGContextStrokePath(const CGContextRef& c) {
    if (c)
        c->strokePath();
}
inline void CGContextDrawPath(const CGContextRef& c, CGPathDrawingMode mode) {
    if (c)
        c->drawPath(mode);
}
inline void CGContextFillRect(const CGContextRef& c, CGRect rect) {
    if (c)
        c->fillRect(rect);
}
inline void CGContextStrokeRect(const CGContextRef& c, CGRect rect) {
    if (c)
        c->strokeRect(rect);
}
inline void CGContextStrokeRectWithWidth(const CGContextRef& c, CGRect rect, double width) {
    if (c)
        c->strokeRectWithWidth(rect, width);
}
inline void CGContextClearRect(const CGContextRef& c, CGRect rect) {
    if (c)
        c->clearRect(rect);
}
inline void CGContextFillEllipseInRect(const CGContextRef& c, CGRect rect) {
    if (c)
        c->fillEllipseInRect(rect);
}
inline void CGContextStrokeEllipseInRect(const CGContextRef& c, CGRect rect) {
    if (c)
        c->strokeEllipseInRect(rect);
}

inline void CGContextClip(const CGContextRef& c) {
    if (c)
        c->clip();
}
inline void CGContextEOClip(const CGContextRef& c) {
    if (c)
        c->eoClip();
}
inline void CGContextClipToRect(const CGContextRef& c, CGRect rect) {
    if (c)
        c->clipToRect(rect);
}
inline void CGContextClipToMask(const CGContextRef& c, CGRect rect, const CGImageRef& mask) {
    if (c)
        c->clipToMask(rect, mask);
}
inline CGRect CGContextGetClipBoundingBox(const CGContextRef& c) {
    return c ? c->getClipBoundingBox() : CGRectNull;
}

inline void CGContextDrawLinearGradient(const CGContextRef& c, const CGGradientRef& g, CGPoint start,
                                        CGPoint end, uint32_t options) {
    if (c)
        c->drawLinearGradient(g, start, end, options);
}
inline void CGContextDrawRadialGradient(const CGContextRef& c, const CGGradientRef& g, CGPoint startCenter,
                                        double startRadius, CGPoint endCenter, double endRadius,
                                        uint32_t options) {
    if (c)
        c->drawRadialGradient(g, startCenter, startRadius, endCenter, endRadius, options);
}
inline void CGContextDrawImage(const CGContextRef& c, CGRect rect, const CGImageRef& image) {
    if (c)
        c->drawImage(rect, image);
}
inline void CGContextFlush(const CGContextRef&) {}

} // namespace platform
