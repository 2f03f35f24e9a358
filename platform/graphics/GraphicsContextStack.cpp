#include "platform/graphics/GraphicsContextStack.h"

#include <algorithm>
#include <vector>

namespace platform {

namespace {

struct Entry {
    CGContextRef context;
    bool imageContext{false};
};

std::vector<Entry>& stack() {
    thread_local std::vector<Entry> entries;
    return entries;
}

void drawImage(const UIImagePtr& image, CGRect rect, CGBlendMode blendMode, double alpha) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context || !image || !image->CGImage())
        return;
    context->drawImageUpright(rect, image->CGImage(), image->imageOrientation(), blendMode, alpha);
}

} // namespace

void UIGraphicsBeginImageContext(CGSize size) {
    UIGraphicsBeginImageContextWithOptions(size, false, 1);
}

void UIGraphicsBeginImageContextWithOptions(CGSize size, bool opaque, double scale) {
    stack().push_back({CGContext::createImageContext(size, opaque, scale), true});
}

CGContextRef UIGraphicsGetCurrentContext() {
    auto& entries = stack();
    return entries.empty() ? nullptr : entries.back().context;
}

UIImagePtr UIGraphicsGetImageFromCurrentImageContext() {
    auto& entries = stack();
    if (entries.empty() || !entries.back().imageContext || !entries.back().context)
        return nullptr;
    const CGContextRef& context = entries.back().context;
    return UIImage::imageWithCGImage(context->makeImage(), context->scale(), UIImageOrientationUp);
}

void UIGraphicsEndImageContext() {
    auto& entries = stack();
    if (!entries.empty() && entries.back().imageContext)
        entries.pop_back();
}

UIImagePtr UIGraphicsImageWithDrawing(CGSize size, bool opaque, double scale,
                                      const std::function<void(const CGContextRef&)>& draw) {
    UIGraphicsBeginImageContextWithOptions(size, opaque, scale);
    UIImagePtr image;
    if (auto context = UIGraphicsGetCurrentContext()) {
        draw(context);
        image = UIGraphicsGetImageFromCurrentImageContext();
    }
    UIGraphicsEndImageContext();
    return image;
}

void UIGraphicsPushContext(CGContextRef context) {
    stack().push_back({std::move(context), false});
}

void UIGraphicsPopContext() {
    auto& entries = stack();
    if (!entries.empty() && !entries.back().imageContext)
        entries.pop_back();
}

void UIRectFillUsingBlendMode(CGRect rect, CGBlendMode blendMode) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    CGBlendMode saved = context->blendMode();
    context->setBlendMode(blendMode);
    context->fillRect(rect);
    context->setBlendMode(saved);
}

void UIRectFill(CGRect rect) {
    UIRectFillUsingBlendMode(rect, kCGBlendModeCopy);
}

void UIRectFrame(CGRect rect) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    rect = CGRectStandardize(rect);
    double x = rect.origin.x, y = rect.origin.y, w = rect.size.width, h = rect.size.height;
    if (w <= 0 || h <= 0)
        return;
    CGBlendMode saved = context->blendMode();
    context->setBlendMode(kCGBlendModeCopy);
    context->fillRects({CGRectMake(x, y, w, std::min(1.0, h)),
                        CGRectMake(x, y + h - std::min(1.0, h), w, std::min(1.0, h)),
                        CGRectMake(x, y, std::min(1.0, w), h),
                        CGRectMake(x + w - std::min(1.0, w), y, std::min(1.0, w), h)});
    context->setBlendMode(saved);
}

void drawInRect(const UIImagePtr& image, CGRect rect) {
    drawImage(image, rect, kCGBlendModeNormal, 1);
}

void drawInRect(const UIImagePtr& image, CGRect rect, CGBlendMode blendMode, double alpha) {
    drawImage(image, rect, blendMode, alpha);
}

void drawAtPoint(const UIImagePtr& image, CGPoint point) {
    drawAtPoint(image, point, kCGBlendModeNormal, 1);
}

void drawAtPoint(const UIImagePtr& image, CGPoint point, CGBlendMode blendMode, double alpha) {
    if (!image)
        return;
    CGSize size = image->size();
    drawImage(image, CGRectMake(point.x, point.y, size.width, size.height), blendMode, alpha);
}

} // namespace platform
