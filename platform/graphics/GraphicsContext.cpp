#include "platform/graphics/GraphicsContext.h"

#include "platform/graphics/GraphicsContextImpl.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <initializer_list>

namespace platform {

namespace detail {

CairoSurface surfaceForBitmap(const Bitmap& bitmap) {
    // Bitmap rows are cairo ARGB32 words already; opaque bitmaps carry 0xFF alpha, so ARGB32 fits them too.
    auto* pixels = const_cast<unsigned char*>(bitmap.pixels());
    return CairoSurface(cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, bitmap.width(),
                                                            bitmap.height(), int(bitmap.bytesPerRow())));
}

cairo_operator_t cairoOperator(CGBlendMode mode) {
    switch (mode) {
    case kCGBlendModeNormal:
        return CAIRO_OPERATOR_OVER;
    case kCGBlendModeMultiply:
        return CAIRO_OPERATOR_MULTIPLY;
    case kCGBlendModeScreen:
        return CAIRO_OPERATOR_SCREEN;
    case kCGBlendModeOverlay:
        return CAIRO_OPERATOR_OVERLAY;
    case kCGBlendModeDarken:
        return CAIRO_OPERATOR_DARKEN;
    case kCGBlendModeLighten:
        return CAIRO_OPERATOR_LIGHTEN;
    case kCGBlendModeColorDodge:
        return CAIRO_OPERATOR_COLOR_DODGE;
    case kCGBlendModeColorBurn:
        return CAIRO_OPERATOR_COLOR_BURN;
    case kCGBlendModeSoftLight:
        return CAIRO_OPERATOR_SOFT_LIGHT;
    case kCGBlendModeHardLight:
        return CAIRO_OPERATOR_HARD_LIGHT;
    case kCGBlendModeDifference:
        return CAIRO_OPERATOR_DIFFERENCE;
    case kCGBlendModeExclusion:
        return CAIRO_OPERATOR_EXCLUSION;
    case kCGBlendModeHue:
        return CAIRO_OPERATOR_HSL_HUE;
    case kCGBlendModeSaturation:
        return CAIRO_OPERATOR_HSL_SATURATION;
    case kCGBlendModeColor:
        return CAIRO_OPERATOR_HSL_COLOR;
    case kCGBlendModeLuminosity:
        return CAIRO_OPERATOR_HSL_LUMINOSITY;
    case kCGBlendModeClear:
        return CAIRO_OPERATOR_CLEAR;
    case kCGBlendModeCopy:
        return CAIRO_OPERATOR_SOURCE;
    case kCGBlendModeSourceIn:
        return CAIRO_OPERATOR_IN;
    case kCGBlendModeSourceOut:
        return CAIRO_OPERATOR_OUT;
    case kCGBlendModeSourceAtop:
        return CAIRO_OPERATOR_ATOP;
    case kCGBlendModeDestinationOver:
        return CAIRO_OPERATOR_DEST_OVER;
    case kCGBlendModeDestinationIn:
        return CAIRO_OPERATOR_DEST_IN;
    case kCGBlendModeDestinationOut:
        return CAIRO_OPERATOR_DEST_OUT;
    case kCGBlendModeDestinationAtop:
        return CAIRO_OPERATOR_DEST_ATOP;
    case kCGBlendModeXOR:
        return CAIRO_OPERATOR_XOR;
    case kCGBlendModePlusDarker:
        // cairo has no saturating subtract; multiply darkens the same pixels, less strongly.
        return CAIRO_OPERATOR_MULTIPLY;
    case kCGBlendModePlusLighter:
        return CAIRO_OPERATOR_ADD;
    }
    return CAIRO_OPERATOR_OVER;
}

} // namespace detail

namespace {

constexpr double kMaxSide = 32767; // cairo's image surfaces stop here

double unit(double v) {
    return std::isnan(v) ? 0 : std::clamp(v, 0.0, 1.0);
}

detail::RGBA colourOf(const CGColorRef& color) {
    return {color->red(), color->green(), color->blue(), color->alpha()};
}

cairo_matrix_t toCairo(CGAffineTransform t) {
    cairo_matrix_t m;
    cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
    return m;
}

bool finite(std::initializer_list<double> values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

} // namespace

CGContext::Impl::~Impl() {
    if (cr)
        cairo_destroy(cr);
    if (surface)
        cairo_surface_destroy(surface);
}

cairo_matrix_t CGContext::Impl::baseMatrix() const {
    cairo_matrix_t m;
    if (imageContext)
        cairo_matrix_init_scale(&m, scale, scale);
    else
        cairo_matrix_init(&m, 1, 0, 0, -1, 0, height);
    return m;
}

void CGContext::Impl::syncIn() {
    if (!mirrored)
        return;
    cairo_surface_flush(surface);
    unsigned char* pixels = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y)
        detail::rowToNative(layout, data + size_t(y) * bytesPerRow,
                            reinterpret_cast<uint32_t*>(pixels + y * stride), size_t(width));
    cairo_surface_mark_dirty(surface);
}

void CGContext::Impl::syncOut() {
    if (!mirrored)
        return;
    cairo_surface_flush(surface);
    const unsigned char* pixels = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y)
        detail::rowFromNative(layout, reinterpret_cast<const uint32_t*>(pixels + y * stride),
                              data + size_t(y) * bytesPerRow, size_t(width));
}

void CGContext::Impl::setSource(const detail::RGBA& c, double extraAlpha) {
    cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha * state.alpha * extraAlpha);
}

CGContext::CGContext(std::unique_ptr<Impl> impl)
    : m_impl(std::move(impl)) {
    cairo_t* cr = m_impl->cr;
    cairo_matrix_t base = m_impl->baseMatrix();
    cairo_set_matrix(cr, &base);
    cairo_set_line_width(cr, 1);
    cairo_set_miter_limit(cr, 10);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
}

CGContext::~CGContext() = default;

std::shared_ptr<CGContext> CGContext::createImageContext(CGSize size, bool opaque, double scale) {
    if (!(scale > 0))
        scale = UIImage::screenScale();
    if (!finite({size.width, size.height, scale}))
        return nullptr;
    // A fractional size takes the whole last pixel, so nothing drawn inside the size is lost.
    double w = std::ceil(size.width * scale - 1e-9);
    double h = std::ceil(size.height * scale - 1e-9);
    if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide || w * h > double(Bitmap::maxPixelCount()))
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->width = int(w);
    impl->height = int(h);
    impl->scale = scale;
    impl->opaque = opaque;
    impl->imageContext = true;
    impl->surface = cairo_image_surface_create(opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32, impl->width,
                                               impl->height);
    if (cairo_surface_status(impl->surface) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    impl->cr = cairo_create(impl->surface);
    impl->bitmapInfo = opaque ? kCGImageAlphaNoneSkipFirst : kCGImageAlphaPremultipliedFirst;
    if constexpr (std::endian::native == std::endian::little)
        impl->bitmapInfo |= kCGBitmapByteOrder32Little;
    impl->layout.kind = detail::PixelLayout::Kind::RGB32;
    impl->layout.alphaInfo = CGImageAlphaInfo(impl->bitmapInfo & kCGBitmapAlphaInfoMask);
    impl->layout.littleEndian = std::endian::native == std::endian::little;
    impl->space = CGColorSpaceCreateDeviceRGB();
    return std::shared_ptr<CGContext>(new CGContext(std::move(impl)));
}

std::shared_ptr<CGContext> CGContext::createBitmapContext(void* data, size_t width, size_t height,
                                                          size_t bitsPerComponent, size_t bytesPerRow,
                                                          const CGColorSpaceRef& space, uint32_t bitmapInfo) {
    if (!space || width < 1 || height < 1 || width > kMaxSide || height > kMaxSide ||
        uint64_t(width) * height > Bitmap::maxPixelCount())
        return nullptr;
    size_t bitsPerPixel = space->model == kCGColorSpaceModelMonochrome ? 8 : 32;
    auto layout = detail::pixelLayout(bitsPerComponent, bitsPerPixel, space->model, bitmapInfo, true);
    if (!layout)
        return nullptr;
    size_t minimumRow = width * layout->bytesPerPixel();
    if (bytesPerRow == 0)
        bytesPerRow = (minimumRow + 15) / 16 * 16; // the platform picks an aligned row when asked to
    if (bytesPerRow < minimumRow)
        return nullptr;

    auto impl = std::make_unique<Impl>();
    impl->width = int(width);
    impl->height = int(height);
    impl->scale = 1;
    impl->imageContext = false;
    impl->opaque = !layout->hasAlpha();
    impl->bytesPerRow = bytesPerRow;
    impl->bitmapInfo = bitmapInfo;
    impl->layout = *layout;
    impl->space = space;
    if (data) {
        impl->data = static_cast<uint8_t*>(data);
    } else {
        impl->ownedData.assign(bytesPerRow * height, 0);
        impl->data = impl->ownedData.data();
    }
    cairo_format_t format = layout->hasAlpha() ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24;
    bool aligned = reinterpret_cast<uintptr_t>(impl->data) % 4 == 0 && bytesPerRow % 4 == 0;
    impl->mirrored = !(layout->isNative() && aligned);
    if (impl->mirrored) {
        impl->surface = cairo_image_surface_create(format, int(width), int(height));
    } else {
        impl->surface = cairo_image_surface_create_for_data(impl->data, format, int(width), int(height),
                                                            int(bytesPerRow));
    }
    if (cairo_surface_status(impl->surface) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    impl->cr = cairo_create(impl->surface);
    return std::shared_ptr<CGContext>(new CGContext(std::move(impl)));
}

size_t CGContext::width() const {
    return size_t(m_impl->width);
}
size_t CGContext::height() const {
    return size_t(m_impl->height);
}
double CGContext::scale() const {
    return m_impl->scale;
}
bool CGContext::isOpaque() const {
    return m_impl->opaque;
}

void* CGContext::data() {
    if (m_impl->data)
        return m_impl->data;
    cairo_surface_flush(m_impl->surface);
    return cairo_image_surface_get_data(m_impl->surface);
}

size_t CGContext::bytesPerRow() const {
    return m_impl->data ? m_impl->bytesPerRow : size_t(cairo_image_surface_get_stride(m_impl->surface));
}

uint32_t CGContext::bitmapInfo() const {
    return m_impl->bitmapInfo;
}
size_t CGContext::bitsPerPixel() const {
    return m_impl->layout.bytesPerPixel() * 8;
}
CGColorSpaceRef CGContext::colorSpace() const {
    return m_impl->space;
}

void CGContext::saveGState() {
    cairo_save(m_impl->cr);
    m_impl->saved.push_back(m_impl->state);
}

void CGContext::restoreGState() {
    if (m_impl->saved.empty())
        return;
    cairo_restore(m_impl->cr);
    m_impl->state = std::move(m_impl->saved.back());
    m_impl->saved.pop_back();
}

void CGContext::concatCTM(CGAffineTransform transform) {
    if (m_impl->state.singular)
        return;
    if (!finite({transform.a, transform.b, transform.c, transform.d, transform.tx, transform.ty})) {
        m_impl->state.singular = true;
        return;
    }
    cairo_matrix_t current;
    cairo_get_matrix(m_impl->cr, &current);
    cairo_matrix_t m = toCairo(transform);
    cairo_matrix_t combined;
    cairo_matrix_multiply(&combined, &m, &current);
    cairo_matrix_t probe = combined;
    // cairo refuses a singular matrix for good; the platform just draws nothing until it is restored.
    if (cairo_matrix_invert(&probe) != CAIRO_STATUS_SUCCESS) {
        m_impl->state.singular = true;
        return;
    }
    cairo_set_matrix(m_impl->cr, &combined);
}

void CGContext::translateCTM(double tx, double ty) {
    concatCTM(CGAffineTransformMakeTranslation(tx, ty));
}
void CGContext::scaleCTM(double sx, double sy) {
    concatCTM(CGAffineTransformMakeScale(sx, sy));
}
void CGContext::rotateCTM(double angle) {
    concatCTM(CGAffineTransformMakeRotation(angle));
}

CGAffineTransform CGContext::getCTM() const {
    cairo_matrix_t m;
    cairo_get_matrix(m_impl->cr, &m);
    return {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
}

void CGContext::setFillColorWithColor(const CGColorRef& color) {
    if (color)
        m_impl->state.fill = colourOf(color);
}

void CGContext::setStrokeColorWithColor(const CGColorRef& color) {
    if (color)
        m_impl->state.stroke = colourOf(color);
}

void CGContext::setRGBFillColor(double red, double green, double blue, double alpha) {
    m_impl->state.fill = {unit(red), unit(green), unit(blue), unit(alpha)};
}

void CGContext::setRGBStrokeColor(double red, double green, double blue, double alpha) {
    m_impl->state.stroke = {unit(red), unit(green), unit(blue), unit(alpha)};
}

void CGContext::setGrayFillColor(double gray, double alpha) {
    m_impl->state.fill = {unit(gray), unit(gray), unit(gray), unit(alpha)};
}

void CGContext::setGrayStrokeColor(double gray, double alpha) {
    m_impl->state.stroke = {unit(gray), unit(gray), unit(gray), unit(alpha)};
}

void CGContext::setAlpha(double alpha) {
    m_impl->state.alpha = unit(alpha);
}
double CGContext::alpha() const {
    return m_impl->state.alpha;
}
void CGContext::setBlendMode(CGBlendMode mode) {
    m_impl->state.blend = mode;
}
CGBlendMode CGContext::blendMode() const {
    return m_impl->state.blend;
}

void CGContext::setShouldAntialias(bool antialias) {
    cairo_set_antialias(m_impl->cr, antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}

void CGContext::setLineWidth(double width) {
    if (std::isfinite(width) && width >= 0)
        cairo_set_line_width(m_impl->cr, width);
}

void CGContext::setLineCap(CGLineCap cap) {
    cairo_line_cap_t c = cap == kCGLineCapRound    ? CAIRO_LINE_CAP_ROUND
                         : cap == kCGLineCapSquare ? CAIRO_LINE_CAP_SQUARE
                                                   : CAIRO_LINE_CAP_BUTT;
    cairo_set_line_cap(m_impl->cr, c);
}

void CGContext::setLineJoin(CGLineJoin join) {
    cairo_line_join_t j = join == kCGLineJoinRound   ? CAIRO_LINE_JOIN_ROUND
                          : join == kCGLineJoinBevel ? CAIRO_LINE_JOIN_BEVEL
                                                     : CAIRO_LINE_JOIN_MITER;
    cairo_set_line_join(m_impl->cr, j);
}

void CGContext::setMiterLimit(double limit) {
    if (std::isfinite(limit))
        cairo_set_miter_limit(m_impl->cr, limit);
}

void CGContext::setLineDash(double phase, const std::vector<double>& lengths) {
    bool usable =
        std::isfinite(phase) &&
        std::all_of(lengths.begin(), lengths.end(), [](double v) { return std::isfinite(v) && v >= 0; }) &&
        std::any_of(lengths.begin(), lengths.end(), [](double v) { return v > 0; });
    if (!usable) {
        cairo_set_dash(m_impl->cr, nullptr, 0, 0);
        return;
    }
    cairo_set_dash(m_impl->cr, lengths.data(), int(lengths.size()), phase);
}

void CGContext::drawWithCairo(const std::function<void(cairo_t*)>& draw) {
    if (!draw)
        return;
    m_impl->composite([&] {
        cairo_save(m_impl->cr);
        draw(m_impl->cr);
        cairo_restore(m_impl->cr);
    });
}

CGImageRef CGContext::makeImage() const {
    cairo_surface_flush(m_impl->surface);
    const unsigned char* pixels = cairo_image_surface_get_data(m_impl->surface);
    int stride = cairo_image_surface_get_stride(m_impl->surface);
    auto alphaInfo = CGImageAlphaInfo(m_impl->bitmapInfo & kCGBitmapAlphaInfoMask);
    CGColorSpaceModel model = m_impl->space ? m_impl->space->model : kCGColorSpaceModelRGB;
    auto bitmap = Bitmap::create(m_impl->width, m_impl->height, alphaInfo, model);
    if (!bitmap)
        return nullptr;
    bool opaque = m_impl->opaque;
    for (int y = 0; y < m_impl->height; ++y) {
        const auto* source = reinterpret_cast<const uint32_t*>(pixels + y * stride);
        uint32_t* row = bitmap->mutableRow(y);
        if (opaque) {
            // cairo leaves the unused byte of RGB24 undefined; Bitmap promises 0xFF there.
            for (int x = 0; x < m_impl->width; ++x)
                row[x] = source[x] | 0xFF000000u;
        } else {
            std::memcpy(row, source, size_t(m_impl->width) * 4);
        }
    }
    return bitmap;
}

CGGradientRef CGGradientCreateWithColorComponents(const CGColorSpaceRef& space, const double* components,
                                                  const double* locations, size_t count) {
    size_t n = CGColorSpaceGetNumberOfComponents(space);
    if (!components || count == 0 || (n != 1 && n != 3))
        return nullptr;
    auto gradient = std::make_shared<CGGradient>();
    for (size_t i = 0; i < count; ++i) {
        const double* c = components + i * (n + 1);
        CGGradient::Stop stop;
        stop.location = locations ? unit(locations[i]) : (count == 1 ? 0.0 : double(i) / double(count - 1));
        stop.red = unit(c[0]);
        stop.green = unit(n == 1 ? c[0] : c[1]);
        stop.blue = unit(n == 1 ? c[0] : c[2]);
        stop.alpha = unit(c[n]);
        gradient->stops.push_back(stop);
    }
    return gradient;
}

CGGradientRef CGGradientCreateWithColors(const CGColorSpaceRef& space, const std::vector<CGColorRef>& colors,
                                         const double* locations) {
    if (!space || colors.empty())
        return nullptr;
    auto gradient = std::make_shared<CGGradient>();
    size_t count = colors.size();
    for (size_t i = 0; i < count; ++i) {
        if (!colors[i])
            return nullptr;
        CGGradient::Stop stop;
        stop.location = locations ? unit(locations[i]) : (count == 1 ? 0.0 : double(i) / double(count - 1));
        stop.red = colors[i]->red();
        stop.green = colors[i]->green();
        stop.blue = colors[i]->blue();
        stop.alpha = colors[i]->alpha();
        gradient->stops.push_back(stop);
    }
    return gradient;
}

} // namespace platform
