#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/GraphicsContextImpl.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

struct PatternDeleter {
    void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
};
using Pattern = std::unique_ptr<cairo_pattern_t, PatternDeleter>;

void addStops(cairo_pattern_t* pattern, const CGGradient& gradient) {
    for (const auto& stop : gradient.stops)
        cairo_pattern_add_color_stop_rgba(pattern, stop.location, stop.red, stop.green, stop.blue,
                                          stop.alpha);
}

// The bitmap's pixel space mapped onto `rect` so that the pixel (0, 0) corner lands on (minX, maxY).
cairo_matrix_t flippedPlacement(CGRect rect, const Bitmap& bitmap) {
    cairo_matrix_t m;
    cairo_matrix_init(&m, rect.size.width / bitmap.width(), 0, 0, -rect.size.height / bitmap.height(),
                      rect.origin.x, rect.origin.y + rect.size.height);
    return m;
}

// The bitmap's pixel space mapped onto `rect` as the orientation says the picture is to be seen.
cairo_matrix_t uprightPlacement(CGRect rect, const Bitmap& bitmap, UIImageOrientation orientation) {
    // (u, v) are the displayed picture's coordinates in 0...1: u = ux * x + uy * y + u0, v likewise.
    double W = bitmap.width(), H = bitmap.height();
    double ux = 0, uy = 0, u0 = 0, vx = 0, vy = 0, v0 = 0;
    switch (orientation) {
    case UIImageOrientationUp:
        ux = 1 / W, vy = 1 / H;
        break;
    case UIImageOrientationDown:
        ux = -1 / W, u0 = 1, vy = -1 / H, v0 = 1;
        break;
    case UIImageOrientationLeft: // stored turned clockwise; shown turned back counterclockwise
        uy = 1 / H, vx = -1 / W, v0 = 1;
        break;
    case UIImageOrientationRight:
        uy = -1 / H, u0 = 1, vx = 1 / W;
        break;
    case UIImageOrientationUpMirrored:
        ux = -1 / W, u0 = 1, vy = 1 / H;
        break;
    case UIImageOrientationDownMirrored:
        ux = 1 / W, vy = -1 / H, v0 = 1;
        break;
    case UIImageOrientationLeftMirrored: // transposed
        uy = 1 / H, vx = 1 / W;
        break;
    case UIImageOrientationRightMirrored: // transposed the other way
        uy = -1 / H, u0 = 1, vx = -1 / W, v0 = 1;
        break;
    }
    double w = rect.size.width, h = rect.size.height;
    cairo_matrix_t m;
    cairo_matrix_init(&m, w * ux, h * vx, w * uy, h * vy, rect.origin.x + w * u0, rect.origin.y + h * v0);
    return m;
}

bool usableRect(CGRect r) {
    return std::isfinite(r.origin.x) && std::isfinite(r.origin.y) && std::isfinite(r.size.width) &&
           std::isfinite(r.size.height) && r.size.width != 0 && r.size.height != 0;
}

// Coverage of a mask image: its alpha when it has alpha, else its grey level.
detail::CairoSurface coverageOf(const Bitmap& mask) {
    detail::CairoSurface surface(cairo_image_surface_create(CAIRO_FORMAT_A8, mask.width(), mask.height()));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    cairo_surface_flush(surface.get());
    unsigned char* data = cairo_image_surface_get_data(surface.get());
    int stride = cairo_image_surface_get_stride(surface.get());
    bool alpha = mask.hasAlpha();
    for (int y = 0; y < mask.height(); ++y) {
        const uint32_t* row = mask.row(y);
        unsigned char* out = data + y * stride;
        for (int x = 0; x < mask.width(); ++x) {
            uint32_t p = row[x];
            if (alpha) {
                out[x] = uint8_t(p >> 24);
            } else {
                uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
                out[x] = uint8_t((r * 77 + g * 150 + b * 29 + 128) >> 8);
            }
        }
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

} // namespace

void CGContext::drawLinearGradient(const CGGradientRef& gradient, CGPoint start, CGPoint end,
                                   uint32_t options) {
    Impl& d = *m_impl;
    if (!gradient || gradient->stops.empty() || (start.x == end.x && start.y == end.y))
        return;
    Pattern pattern(cairo_pattern_create_linear(start.x, start.y, end.x, end.y));
    addStops(pattern.get(), *gradient);
    bool before = options & kCGGradientDrawsBeforeStartLocation;
    bool after = options & kCGGradientDrawsAfterEndLocation;
    cairo_pattern_set_extend(pattern.get(), (before || after) ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_NONE);
    d.withOwnPath([&] {
        d.composite([&] {
            cairo_t* cr = d.cr;
            cairo_save(cr);
            if (before != after) {
                // Padding extends both ends; cut away the end that is not asked for with a half-plane.
                double x1, y1, x2, y2;
                cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
                double reach = std::hypot(x2 - x1, y2 - y1) + std::hypot(x1 - start.x, y1 - start.y) +
                               std::hypot(end.x - start.x, end.y - start.y) + 1;
                double angle = std::atan2(end.y - start.y, end.x - start.x);
                double length = std::hypot(end.x - start.x, end.y - start.y);
                cairo_save(cr);
                cairo_translate(cr, start.x, start.y);
                cairo_rotate(cr, angle);
                if (after)
                    cairo_rectangle(cr, 0, -reach, reach, 2 * reach);
                else
                    cairo_rectangle(cr, length - reach, -reach, reach, 2 * reach);
                cairo_restore(cr);
                cairo_clip(cr);
            }
            cairo_set_source(cr, pattern.get());
            cairo_paint_with_alpha(cr, d.state.alpha);
            cairo_restore(cr);
        });
    });
}

void CGContext::drawRadialGradient(const CGGradientRef& gradient, CGPoint startCenter, double startRadius,
                                   CGPoint endCenter, double endRadius, uint32_t options) {
    Impl& d = *m_impl;
    if (!gradient || gradient->stops.empty() || startRadius < 0 || endRadius < 0 ||
        (startRadius == 0 && endRadius == 0))
        return;
    Pattern pattern(cairo_pattern_create_radial(startCenter.x, startCenter.y, startRadius, endCenter.x,
                                                endCenter.y, endRadius));
    addStops(pattern.get(), *gradient);
    bool before = options & kCGGradientDrawsBeforeStartLocation;
    bool after = options & kCGGradientDrawsAfterEndLocation;
    cairo_pattern_set_extend(pattern.get(), (before || after) ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_NONE);
    d.withOwnPath([&] {
        d.composite([&] {
            cairo_t* cr = d.cr;
            cairo_save(cr);
            if (before && !after) {
                cairo_arc(cr, endCenter.x, endCenter.y, endRadius, 0, 2 * M_PI);
                cairo_clip(cr);
            } else if (after && !before && startRadius > 0) {
                double x1, y1, x2, y2;
                cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
                cairo_rectangle(cr, x1, y1, x2 - x1, y2 - y1);
                cairo_new_sub_path(cr);
                cairo_arc(cr, startCenter.x, startCenter.y, startRadius, 0, 2 * M_PI);
                cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
                cairo_clip(cr);
            }
            cairo_set_source(cr, pattern.get());
            cairo_paint_with_alpha(cr, d.state.alpha);
            cairo_restore(cr);
        });
    });
}

namespace {

void paintBitmap(CGContext::Impl& d, const Bitmap& bitmap, const cairo_matrix_t& placement, double alpha) {
    detail::CairoSurface source = detail::surfaceForBitmap(bitmap);
    if (cairo_surface_status(source.get()) != CAIRO_STATUS_SUCCESS)
        return;
    cairo_t* cr = d.cr;
    d.withOwnPath([&] {
        d.composite([&] {
            cairo_save(cr);
            cairo_transform(cr, &placement);
            // Clip to the picture and pad its edges, so a stretched picture keeps crisp borders instead of
            // fading into transparency, and every blend mode stays inside the picture's rectangle.
            cairo_rectangle(cr, 0, 0, bitmap.width(), bitmap.height());
            cairo_clip(cr);
            cairo_set_source_surface(cr, source.get(), 0, 0);
            cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
            cairo_paint_with_alpha(cr, alpha);
            cairo_restore(cr);
        });
    });
}

} // namespace

void CGContext::drawImage(CGRect rect, const CGImageRef& image) {
    if (!image || !usableRect(rect))
        return;
    paintBitmap(*m_impl, *image, flippedPlacement(rect, *image), m_impl->state.alpha);
}

void CGContext::drawImageUpright(CGRect rect, const CGImageRef& image, UIImageOrientation orientation,
                                 CGBlendMode blendMode, double alpha) {
    if (!image || !usableRect(rect))
        return;
    Impl& d = *m_impl;
    CGBlendMode savedBlend = d.state.blend;
    d.state.blend = blendMode;
    double a = std::isnan(alpha) ? 0 : std::clamp(alpha, 0.0, 1.0);
    paintBitmap(d, *image, uprightPlacement(rect, *image, orientation), a);
    d.state.blend = savedBlend;
}

void CGContext::clipToMask(CGRect rect, const CGImageRef& mask) {
    Impl& d = *m_impl;
    if (!mask || !usableRect(rect)) {
        // Nothing of the mask covers anything: everything is clipped away.
        d.withOwnPath([&] {
            cairo_rectangle(d.cr, 0, 0, 0, 0);
            cairo_clip(d.cr);
        });
        return;
    }
    detail::CairoSurface coverage = coverageOf(*mask);
    if (!coverage)
        return;
    cairo_surface_t* device = cairo_image_surface_create(CAIRO_FORMAT_A8, d.width, d.height);
    detail::SharedCairoSurface combined = detail::shareSurface(device);
    if (cairo_surface_status(device) != CAIRO_STATUS_SUCCESS)
        return;
    cairo_t* m = cairo_create(device);
    cairo_matrix_t ctm;
    cairo_get_matrix(d.cr, &ctm);
    cairo_set_matrix(m, &ctm);
    cairo_matrix_t placement = flippedPlacement(rect, *mask);
    cairo_transform(m, &placement);
    cairo_rectangle(m, 0, 0, mask->width(), mask->height());
    cairo_set_source_surface(m, coverage.get(), 0, 0);
    cairo_pattern_set_extend(cairo_get_source(m), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(cairo_get_source(m), CAIRO_FILTER_GOOD);
    cairo_fill(m);
    if (d.state.mask) {
        // Masks intersect: the coverage multiplies.
        cairo_identity_matrix(m);
        cairo_set_operator(m, CAIRO_OPERATOR_DEST_IN);
        cairo_set_source_surface(m, d.state.mask.get(), 0, 0);
        cairo_paint(m);
    }
    cairo_destroy(m);
    cairo_surface_flush(device);
    d.state.mask = std::move(combined);
}

} // namespace platform
