#include "platform/graphics/TextMeasureLayout.h"

#include "platform/foundation/Text.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/ParagraphStyle.h"

#include <algorithm>
#include <cmath>
#include <fontconfig/fontconfig.h>
#include <limits>
#include <set>

namespace platform::detail {

namespace {

// Where Debian puts the CJK faces, for a fontconfig whose configuration does not list them.
constexpr const char* kFontDirectories[] = {"/usr/share/fonts/opentype/noto",
                                            "/usr/share/fonts/truetype/noto", "/usr/share/fonts/opentype",
                                            "/usr/share/fonts/truetype"};

std::string squeezed(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c == ' ' || c == '-' || c == '_')
            continue;
        out += char(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::vector<std::string> listFamilies() {
    std::set<std::string> names;
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
    FcFontSet* fonts = FcFontList(nullptr, pattern, objects);
    if (fonts) {
        for (int i = 0; i < fonts->nfont; ++i) {
            FcChar8* family = nullptr;
            for (int n = 0; FcPatternGetString(fonts->fonts[i], FC_FAMILY, n, &family) == FcResultMatch; ++n)
                names.insert(reinterpret_cast<const char*>(family));
        }
        FcFontSetDestroy(fonts);
    }
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    return {names.begin(), names.end()};
}

bool hasFamily(const std::vector<std::string>& families, std::string_view name) {
    return std::find(families.begin(), families.end(), name) != families.end();
}

// The families once fontconfig has been made to see the CJK faces the system font needs.
const std::vector<std::string>& families() {
    static const std::vector<std::string> cached = [] {
        FcInit();
        auto names = listFamilies();
        if (!hasFamily(names, "Noto Sans CJK SC")) {
            for (const char* directory : kFontDirectories)
                FcConfigAppFontAddDir(nullptr, reinterpret_cast<const FcChar8*>(directory));
            names = listFamilies();
        }
        return names;
    }();
    return cached;
}

std::string firstInstalled(std::initializer_list<const char*> candidates, const char* fallback) {
    for (const char* name : candidates)
        if (hasFamily(families(), name))
            return name;
    return fallback;
}

std::string sanitised(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t offset = 0;
    while (offset < text.size()) {
        auto decoded = text::decodeUTF8(text, offset);
        char32_t cp = decoded.codePoint;
        // Malformed bytes and NUL become U+FFFD: one UTF-16 unit each, so offsets keep their meaning.
        if (cp == 0)
            cp = 0xFFFD;
        text::appendUTF8(out, cp);
        offset += decoded.length;
    }
    return out;
}

void insert(PangoAttrList* list, PangoAttribute* attribute, guint start, guint end) {
    attribute->start_index = start;
    attribute->end_index = end;
    pango_attr_list_insert(list, attribute);
}

guint16 channel(double v) {
    return guint16(std::lround(std::clamp(v, 0.0, 1.0) * 65535));
}

void addRunAttributes(PangoAttrList* list, const NSAttributes& attributes, guint start, guint end) {
    if (auto font = attributes.get(NSFontAttributeName).objectAs<UIFont>()) {
        FontDescription description = fontDescription(*font);
        insert(list, pango_attr_font_desc_new(description.get()), start, end);
    }
    if (auto color = attributes.get(NSForegroundColorAttributeName).objectAs<UIColor>()) {
        insert(
            list,
            pango_attr_foreground_new(channel(color->red()), channel(color->green()), channel(color->blue())),
            start, end);
        insert(list, pango_attr_foreground_alpha_new(std::max<guint16>(1, channel(color->alpha()))), start,
               end);
    }
    if (auto color = attributes.get(NSBackgroundColorAttributeName).objectAs<UIColor>()) {
        insert(
            list,
            pango_attr_background_new(channel(color->red()), channel(color->green()), channel(color->blue())),
            start, end);
        insert(list, pango_attr_background_alpha_new(std::max<guint16>(1, channel(color->alpha()))), start,
               end);
    }
    if (const Number* kern = attributes.get(NSKernAttributeName).number())
        insert(list, pango_attr_letter_spacing_new(int(std::lround(kern->doubleValue() * PANGO_SCALE))),
               start, end);
    if (const Number* underline = attributes.get(NSUnderlineStyleAttributeName).number()) {
        int64_t style = underline->int64Value() & 0x0F;
        PangoUnderline u = style == 0                                 ? PANGO_UNDERLINE_NONE
                           : style == (NSUnderlineStyleDouble & 0x0F) ? PANGO_UNDERLINE_DOUBLE
                                                                      : PANGO_UNDERLINE_SINGLE;
        insert(list, pango_attr_underline_new(u), start, end);
    }
    if (const Number* strike = attributes.get(NSStrikethroughStyleAttributeName).number())
        insert(list, pango_attr_strikethrough_new(strike->int64Value() != 0), start, end);
    if (const Number* offset = attributes.get(NSBaselineOffsetAttributeName).number())
        insert(list, pango_attr_rise_new(int(std::lround(offset->doubleValue() * PANGO_SCALE))), start, end);
}

bool isSpace(char32_t c) {
    return c == ' ' || c == '\t' || c == 0x3000 || c == 0xA0;
}

// The byte index where a line's trailing white space starts.
int trailingSpaceStart(const std::string& text, int start, int length) {
    int end = start + length;
    int cut = end;
    size_t offset = size_t(start);
    while (offset < size_t(end)) {
        auto decoded = text::decodeUTF8(text, offset);
        offset += decoded.length;
        if (!isSpace(decoded.codePoint))
            cut = int(offset);
    }
    return cut == end ? end : std::max(cut, start);
}

} // namespace

std::recursive_mutex& textLock() {
    static std::recursive_mutex mutex;
    return mutex;
}

PangoContext* textContext() {
    static PangoContext* context = [] {
        families(); // fontconfig sees the CJK faces before the font map loads its configuration
        PangoFontMap* map = pango_cairo_font_map_new();
        pango_cairo_font_map_set_resolution(PANGO_CAIRO_FONT_MAP(map), 72);
        PangoContext* created = pango_font_map_create_context(map);
        g_object_unref(map);
        // Unhinted metrics and unrounded positions: sizes are exact fractions of points, the same at every
        // scale, so measuring and drawing agree.
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
        pango_cairo_context_set_font_options(created, options);
        cairo_font_options_destroy(options);
        pango_cairo_context_set_resolution(created, 72);
        pango_context_set_round_glyph_positions(created, FALSE);
        return created;
    }();
    return context;
}

const std::string& systemFamily() {
    static const std::string family =
        firstInstalled({"Noto Sans CJK SC", "Noto Sans", "DejaVu Sans"}, "sans-serif");
    return family;
}

const std::string& monospaceFamily() {
    static const std::string family =
        firstInstalled({"Noto Sans Mono CJK SC", "DejaVu Sans Mono", "Noto Sans Mono"}, "monospace");
    return family;
}

const std::string& serifFamily() {
    static const std::string family =
        firstInstalled({"Noto Serif CJK SC", "DejaVu Serif", "Noto Serif"}, "serif");
    return family;
}

std::optional<std::string> installedFamily(std::string_view name) {
    std::string key = squeezed(name);
    if (key.empty())
        return std::nullopt;
    for (const auto& family : families())
        if (squeezed(family) == key)
            return family;
    return std::nullopt;
}

std::vector<std::string> installedFamilies() {
    return families();
}

FontDescription fontDescription(const UIFont& font) {
    FontDescription description(pango_font_description_new());
    pango_font_description_set_family(description.get(), font.familyName().c_str());
    pango_font_description_set_weight(description.get(), PangoWeight(font.weight()));
    pango_font_description_set_style(description.get(),
                                     font.isItalic() ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_font_description_set_absolute_size(description.get(), font.pointSize() * PANGO_SCALE);
    return description;
}

TextBox layoutText(const NSAttributedString& source, double maxWidth, double maxHeight, bool multiline,
                   bool truncateLastLine) {
    TextBox box;
    box.layout.reset(pango_layout_new(textContext()));
    PangoLayout* layout = box.layout.get();
    const std::string text = sanitised(source.string());
    pango_layout_set_text(layout, text.data(), int(text.size()));

    // Runs without a font use the platform's default for attributed text, 12 points.
    static const UIFontPtr defaultFont = UIFont::systemFontOfSize(12);
    FontDescription base = fontDescription(*defaultFont);
    pango_layout_set_font_description(layout, base.get());

    PangoAttrList* list = pango_attr_list_new();
    uint64_t start = 0;
    size_t startByte = 0;
    for (const auto& run : source.runs()) {
        size_t endByte = text::byteOffsetOfUTF16Index(text, start + run.length);
        addRunAttributes(list, run.attributes, guint(startByte), guint(endByte));
        start += run.length;
        startByte = endByte;
    }

    // One paragraph style governs the layout: the one at the start of the text.
    NSParagraphStylePtr style;
    UIFontPtr firstFont = defaultFont;
    if (!source.runs().empty()) {
        style =
            source.runs().front().attributes.get(NSParagraphStyleAttributeName).objectAs<NSParagraphStyle>();
        if (auto font = source.runs().front().attributes.get(NSFontAttributeName).objectAs<UIFont>())
            firstFont = font;
    }
    if (!style)
        style = NSParagraphStyle::defaultParagraphStyle();
    const auto& v = style->values();

    switch (v.alignment) {
    case NSTextAlignmentCenter:
        pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
        break;
    case NSTextAlignmentRight:
        pango_layout_set_alignment(layout, PANGO_ALIGN_RIGHT);
        break;
    case NSTextAlignmentJustified:
        pango_layout_set_justify(layout, TRUE);
        [[fallthrough]];
    default:
        pango_layout_set_alignment(layout, PANGO_ALIGN_LEFT);
        break;
    }
    if (v.lineSpacing > 0)
        pango_layout_set_spacing(layout, int(std::lround(v.lineSpacing * PANGO_SCALE)));
    if (v.lineHeightMultiple > 0)
        pango_layout_set_line_spacing(layout, float(v.lineHeightMultiple));
    double fixedHeight = 0;
    if (v.minimumLineHeight > 0 || v.maximumLineHeight > 0) {
        double natural = firstFont->lineHeight();
        if (v.minimumLineHeight > 0 && natural < v.minimumLineHeight)
            fixedHeight = v.minimumLineHeight;
        if (v.maximumLineHeight > 0 && natural > v.maximumLineHeight)
            fixedHeight = v.maximumLineHeight;
    }
    if (fixedHeight > 0)
        insert(list, pango_attr_line_height_new_absolute(int(std::lround(fixedHeight * PANGO_SCALE))), 0,
               guint(text.size()));
    pango_layout_set_attributes(layout, list);
    pango_attr_list_unref(list);

    // Indents: pango has one indent, so the smaller of the two moves the whole layout and the difference
    // becomes pango's first-line (or hanging) indent.
    double first = v.firstLineHeadIndent, head = v.headIndent;
    double shift = std::min(first, head);
    box.x = shift;
    if (first != head)
        pango_layout_set_indent(layout, int(std::lround((first - head) * PANGO_SCALE)));

    // Pango keeps widths as ints of 1/1024 point; a box wider than that (callers pass the largest double
    // for "no limit") wraps nothing, so it is no limit rather than an overflowed one.
    constexpr double unbounded = double(std::numeric_limits<int>::max()) / PANGO_SCALE;
    double available = -1;
    if (multiline && maxWidth > 0 && maxWidth < unbounded) {
        available = maxWidth - shift;
        if (v.tailIndent < 0)
            available += v.tailIndent;
        else if (v.tailIndent > 0)
            available = v.tailIndent - shift;
        available = std::max(available, 1.0 / PANGO_SCALE);
    }
    bool truncating = v.lineBreakMode == NSLineBreakByTruncatingHead ||
                      v.lineBreakMode == NSLineBreakByTruncatingTail ||
                      v.lineBreakMode == NSLineBreakByTruncatingMiddle;
    if (available > 0 && v.lineBreakMode != NSLineBreakByClipping) {
        pango_layout_set_width(layout, int(std::lround(available * PANGO_SCALE)));
        if (truncating) {
            // Truncating modes keep each paragraph on one line, cut with an ellipsis.
            pango_layout_set_ellipsize(
                layout, v.lineBreakMode == NSLineBreakByTruncatingHead     ? PANGO_ELLIPSIZE_START
                        : v.lineBreakMode == NSLineBreakByTruncatingMiddle ? PANGO_ELLIPSIZE_MIDDLE
                                                                           : PANGO_ELLIPSIZE_END);
            pango_layout_set_height(layout, -1);
        } else {
            pango_layout_set_wrap(layout, v.lineBreakMode == NSLineBreakByCharWrapping
                                              ? PANGO_WRAP_CHAR
                                              : PANGO_WRAP_WORD_CHAR);
            if (truncateLastLine && maxHeight > 0 && maxHeight < unbounded) {
                pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
                pango_layout_set_height(layout, int(std::lround(maxHeight * PANGO_SCALE)));
            }
        }
    }

    if (source.length() == 0)
        return box;

    PangoLayoutIter* iter = pango_layout_get_iter(layout);
    box.baseline = double(pango_layout_iter_get_baseline(iter)) / PANGO_SCALE;
    do {
        PangoRectangle logical;
        pango_layout_iter_get_line_extents(iter, nullptr, &logical);
        double bottom = double(logical.y + logical.height) / PANGO_SCALE;
        if (fixedHeight > 0) {
            // pango does not squeeze a line below its font's height; the platform's limit is strict.
            bottom = (box.lineCount + 1) * fixedHeight + box.lineCount * std::max(v.lineSpacing, 0.0);
        }
        if (multiline && maxHeight > 0 && box.lineCount > 0 && bottom > maxHeight + 1e-6)
            break;
        PangoLayoutLine* line = pango_layout_iter_get_line_readonly(iter);
        double width = double(logical.width) / PANGO_SCALE;
        bool wrapped = false;
        {
            PangoLayoutIter* probe = pango_layout_iter_copy(iter);
            if (pango_layout_iter_next_line(probe))
                wrapped = !pango_layout_iter_get_line_readonly(probe)->is_paragraph_start;
            pango_layout_iter_free(probe);
        }
        if (wrapped) {
            // White space where a line wraps hangs past the edge and takes no room, as on the platform.
            int cut = trailingSpaceStart(text, line->start_index, line->length);
            if (cut < line->start_index + line->length) {
                int x = 0;
                pango_layout_line_index_to_x(line, cut, FALSE, &x);
                width = std::min(width, double(x) / PANGO_SCALE);
            }
        }
        width += line->is_paragraph_start ? first - shift : head - shift;
        box.width = std::max(box.width, width + shift);
        box.height = bottom;
        ++box.lineCount;
    } while (pango_layout_iter_next_line(iter));
    pango_layout_iter_free(iter);

    if (multiline && maxWidth > 0)
        box.width = std::min(box.width, maxWidth);
    return box;
}

} // namespace platform::detail

// fontconfig keeps its patterns behind offset-encoded pointers, which the leak checker cannot follow, so the
// font caches that live for the whole process (fontconfig's own and pango's) look unreachable to it. Every
// program that lays out text links this file, so the suppression is declared here, for fontconfig alone.
extern "C" const char* __lsan_default_suppressions();
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
