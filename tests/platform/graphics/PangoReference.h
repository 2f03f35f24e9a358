#pragma once
// An independent pango layout for cross-checking measurements: its own font map and context, set up the way
// text is laid out for drawing (72 dpi, unhinted metrics), and nothing else of ours but the font's
// description text.

#include <pango/pangocairo.h>
#include <string>

namespace graphics_test {

struct PangoExtents {
    double width{0}, height{0}, baseline{0};
    int lines{0};
};

// wrapWidth <= 0: no wrapping.
inline PangoExtents pangoReference(const std::string& text, const std::string& fontDescription,
                                   double wrapWidth) {
    PangoFontMap* map = pango_cairo_font_map_new();
    pango_cairo_font_map_set_resolution(PANGO_CAIRO_FONT_MAP(map), 72);
    PangoContext* context = pango_font_map_create_context(map);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(context, FALSE);
    PangoLayout* layout = pango_layout_new(context);
    PangoFontDescription* description = pango_font_description_from_string(fontDescription.c_str());
    pango_layout_set_font_description(layout, description);
    pango_layout_set_text(layout, text.c_str(), -1);
    if (wrapWidth > 0) {
        pango_layout_set_width(layout, int(wrapWidth * PANGO_SCALE + 0.5));
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    }
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    PangoExtents out{double(logical.width) / PANGO_SCALE, double(logical.height) / PANGO_SCALE,
                     double(pango_layout_get_baseline(layout)) / PANGO_SCALE,
                     pango_layout_get_line_count(layout)};
    pango_font_description_free(description);
    g_object_unref(layout);
    g_object_unref(context);
    g_object_unref(map);
    return out;
}

} // namespace graphics_test
