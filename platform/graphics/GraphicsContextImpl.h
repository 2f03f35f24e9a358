#pragma once
// The inside of CGContext, shared by its implementation files. Internal to the graphics library.

#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/GraphicsContextPixels.h"

#include <cairo.h>
#include <memory>
#include <vector>

namespace platform {

namespace detail {

struct CairoSurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using CairoSurface = std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter>;
using SharedCairoSurface = std::shared_ptr<cairo_surface_t>;

inline SharedCairoSurface shareSurface(cairo_surface_t* surface) {
    return SharedCairoSurface(surface, [](cairo_surface_t* s) { cairo_surface_destroy(s); });
}

struct RGBA {
    double red{0}, green{0}, blue{0}, alpha{1};
};

// A cairo image surface reading a bitmap's pixels in place; the bitmap must outlive it.
CairoSurface surfaceForBitmap(const Bitmap& bitmap);

cairo_operator_t cairoOperator(CGBlendMode mode);

} // namespace detail

struct CGContext::Impl {
    // The drawing state cairo does not keep for us.
    struct State {
        detail::RGBA fill;
        detail::RGBA stroke;
        double alpha{1};
        CGBlendMode blend{kCGBlendModeNormal};
        // Device-sized A8 coverage from clipToMask, immutable once made (shared between saved states).
        detail::SharedCairoSurface mask;
        // A singular transform was asked for: nothing draws until the state is restored.
        bool singular{false};
    };

    ~Impl();

    // Runs one drawing operation with the blend mode and mask applied, keeping a caller's buffer in step.
    template <typename Draw> void composite(Draw&& draw);
    void syncIn();
    void syncOut();
    void setSource(const detail::RGBA& colour, double extraAlpha = 1);
    bool canDraw() const { return !state.singular; }
    // Runs `body` with an empty path, then puts the caller's path back (rect helpers must not disturb it).
    template <typename Body> void withOwnPath(Body&& body);
    cairo_matrix_t baseMatrix() const;

    cairo_surface_t* surface{nullptr};
    cairo_t* cr{nullptr};
    int width{0};
    int height{0};
    double scale{1};
    bool opaque{false};
    bool imageContext{true};

    // Bitmap contexts: the buffer in the caller's layout, and whether cairo draws into a copy of it.
    uint8_t* data{nullptr};
    std::vector<uint8_t> ownedData;
    size_t bytesPerRow{0};
    uint32_t bitmapInfo{0};
    detail::PixelLayout layout;
    bool mirrored{false};
    CGColorSpaceRef space;

    State state;
    std::vector<State> saved;
};

template <typename Draw> void CGContext::Impl::composite(Draw&& draw) {
    if (!canDraw())
        return;
    syncIn();
    cairo_operator_t op = detail::cairoOperator(state.blend);
    if (!state.mask) {
        cairo_set_operator(cr, op);
        draw();
    } else {
        cairo_push_group(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        draw();
        cairo_pop_group_to_source(cr);
        cairo_set_operator(cr, op);
        cairo_save(cr);
        cairo_identity_matrix(cr);
        cairo_mask_surface(cr, state.mask.get(), 0, 0);
        cairo_restore(cr);
    }
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    // Drop any reference to a source surface so callers may free its pixels.
    cairo_set_source_rgba(cr, 0, 0, 0, 0);
    syncOut();
}

template <typename Body> void CGContext::Impl::withOwnPath(Body&& body) {
    cairo_path_t* path = cairo_copy_path(cr);
    cairo_new_path(cr);
    body();
    cairo_new_path(cr);
    if (path->status == CAIRO_STATUS_SUCCESS)
        cairo_append_path(cr, path);
    cairo_path_destroy(path);
}

} // namespace platform
