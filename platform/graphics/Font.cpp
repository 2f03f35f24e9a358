#include "platform/graphics/Font.h"

#include "platform/graphics/TextMeasureLayout.h"

#include <cmath>
#include <fmt/format.h>

namespace platform {

namespace {

constexpr double kDefaultSize = 12;

double usableSize(double size) {
    return (std::isfinite(size) && size > 0) ? size : kDefaultSize;
}

std::string lower(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != ' ')
            out += char(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

int weightForStyle(const std::string& style) {
    auto has = [&](const char* word) { return style.find(word) != std::string::npos; };
    if (has("ultralight") || has("extralight"))
        return 200;
    if (has("thin") || has("hairline"))
        return 100;
    if (has("light"))
        return 300;
    if (has("medium"))
        return 500;
    if (has("semibold") || has("demibold"))
        return 600;
    if (has("extrabold") || has("ultrabold"))
        return 800;
    if (has("bold"))
        return 700;
    if (has("heavy") || has("black"))
        return 900;
    return 400;
}

int weightForSystemWeight(double weight) {
    if (weight < -0.7)
        return 100;
    if (weight < -0.5)
        return 200;
    if (weight < -0.2)
        return 300;
    if (weight < 0.1)
        return 400;
    if (weight < 0.26)
        return 500;
    if (weight < 0.35)
        return 600;
    if (weight < 0.5)
        return 700;
    if (weight < 0.6)
        return 800;
    return 900;
}

const char* weightSuffix(int weight) {
    switch (weight) {
    case 100:
        return "-Thin";
    case 200:
        return "-Ultralight";
    case 300:
        return "-Light";
    case 500:
        return "-Medium";
    case 600:
        return "-Semibold";
    case 700:
        return "-Bold";
    case 800:
        return "-Heavy";
    case 900:
        return "-Black";
    default:
        return "-Regular";
    }
}

// The family a platform face name stands for, by the name without its style.
std::optional<std::string> familyFor(const std::string& base) {
    static const std::pair<const char*, const char*> cjk[] = {
        {"pingfangsc", "Noto Sans CJK SC"},     {"stheitisc", "Noto Sans CJK SC"},
        {"heitisc", "Noto Sans CJK SC"},        {"stheiti", "Noto Sans CJK SC"},
        {"hiraginosansgb", "Noto Sans CJK SC"}, {"stsong", "Noto Serif CJK SC"},
        {"pingfangtc", "Noto Sans CJK TC"},     {"heititc", "Noto Sans CJK TC"},
        {"pingfanghk", "Noto Sans CJK HK"},     {"hiraginosans", "Noto Sans CJK JP"},
        {"hirakakupron", "Noto Sans CJK JP"},   {"applesdgothicneo", "Noto Sans CJK KR"},
    };
    for (const auto& [name, family] : cjk) {
        if (base == name) {
            if (auto installed = detail::installedFamily(family))
                return installed;
            return detail::systemFamily();
        }
    }
    static const char* const sans[] = {"helvetica",    "helveticaneue",      "arial",      "arialmt",
                                       ".sfuitext",    ".sfuidisplay",       ".sfui",      "sfprotext",
                                       "sfprodisplay", ".applesystemuifont", "avenir",     "avenirnext",
                                       "verdana",      "trebuchetms",        "gillsans",   "futura",
                                       "system",       "systemfont",         ".systemfont"};
    for (const char* name : sans)
        if (base == name)
            return detail::systemFamily();
    static const char* const mono[] = {"courier", "couriernew", "couriernewpsmt",
                                       "menlo",   "monaco",     "sfmono"};
    for (const char* name : mono)
        if (base == name)
            return detail::monospaceFamily();
    static const char* const serif[] = {"times",   "timesnewroman", "timesnewromanpsmt",
                                        "georgia", "palatino",      "baskerville"};
    for (const char* name : serif)
        if (base == name)
            return detail::serifFamily();
    return std::nullopt;
}

} // namespace

UIFont::UIFont(std::string fontName, std::string family, int weight, bool italic, double pointSize)
    : m_fontName(std::move(fontName))
    , m_family(std::move(family))
    , m_weight(weight)
    , m_italic(italic)
    , m_pointSize(usableSize(pointSize)) {}

UIFontPtr UIFont::systemFontOfSize(double fontSize) {
    return systemFontOfSize(fontSize, UIFontWeightRegular);
}

UIFontPtr UIFont::systemFontOfSize(double fontSize, double weight) {
    int w = weightForSystemWeight(weight);
    return std::make_shared<UIFont>(std::string(".SFUIText") + (w == 400 ? "" : weightSuffix(w)),
                                    detail::systemFamily(), w, false, fontSize);
}

UIFontPtr UIFont::boldSystemFontOfSize(double fontSize) {
    return systemFontOfSize(fontSize, UIFontWeightBold);
}

UIFontPtr UIFont::italicSystemFontOfSize(double fontSize) {
    return std::make_shared<UIFont>(".SFUIText-Italic", detail::systemFamily(), 400, true, fontSize);
}

UIFontPtr UIFont::fontWithName(std::string_view fontName, double fontSize) {
    if (fontName.empty())
        return nullptr;
    std::string name(fontName);
    // An installed family asked for by its own name wins over any reading of a style suffix.
    if (auto family = detail::installedFamily(name))
        return std::make_shared<UIFont>(name, *family, 400, false, fontSize);
    size_t dash = name.rfind('-');
    std::string base = lower(dash == std::string::npos || dash == 0 ? name : name.substr(0, dash));
    std::string style = dash == std::string::npos || dash == 0 ? std::string() : lower(name.substr(dash + 1));
    int weight = weightForStyle(style);
    bool italic = style.find("italic") != std::string::npos || style.find("oblique") != std::string::npos;
    if (auto family = familyFor(base))
        return std::make_shared<UIFont>(name, *family, weight, italic, fontSize);
    if (auto family = detail::installedFamily(base))
        return std::make_shared<UIFont>(name, *family, weight, italic, fontSize);
    return nullptr;
}

UIFontPtr UIFont::fontWithSize(double fontSize) const {
    return std::make_shared<UIFont>(m_fontName, m_family, m_weight, m_italic, fontSize);
}

std::vector<std::string> UIFont::familyNames() {
    return detail::installedFamilies();
}

const UIFont::Metrics& UIFont::metrics() const {
    std::lock_guard lock(detail::textLock());
    if (m_metricsReady)
        return m_metrics;
    detail::Layout layout(pango_layout_new(detail::textContext()));
    detail::FontDescription description = detail::fontDescription(*this);
    pango_layout_set_font_description(layout.get(), description.get());
    auto inkTop = [&](const char* sample) {
        pango_layout_set_text(layout.get(), sample, -1);
        PangoRectangle ink;
        pango_layout_get_extents(layout.get(), &ink, nullptr);
        return double(pango_layout_get_baseline(layout.get()) - ink.y) / PANGO_SCALE;
    };
    m_metrics.capHeight = inkTop("H");
    m_metrics.xHeight = inkTop("x");
    // A line of this font alone, as text layout will stack it.
    pango_layout_set_text(layout.get(), "Hg", -1);
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    double baseline = double(pango_layout_get_baseline(layout.get())) / PANGO_SCALE;
    m_metrics.ascender = baseline;
    m_metrics.descender = baseline - double(logical.height) / PANGO_SCALE;
    m_metrics.leading = 0;
    m_metricsReady = true;
    return m_metrics;
}

double UIFont::ascender() const {
    return metrics().ascender;
}
double UIFont::descender() const {
    return metrics().descender;
}
double UIFont::leading() const {
    return metrics().leading;
}
double UIFont::lineHeight() const {
    return metrics().ascender - metrics().descender + metrics().leading;
}
double UIFont::capHeight() const {
    return metrics().capHeight;
}
double UIFont::xHeight() const {
    return metrics().xHeight;
}

bool UIFont::isEqual(const UIFont& other) const {
    return m_family == other.m_family && m_weight == other.m_weight && m_italic == other.m_italic &&
           m_pointSize == other.m_pointSize && m_fontName == other.m_fontName;
}

std::string UIFont::description() const {
    return fmt::format("<UIFont> font-family: \"{}\"; font-weight: {}; font-style: {}; font-size: {:.2f}pt",
                       m_fontName, m_weight >= 600 ? "bold" : "normal", m_italic ? "italic" : "normal",
                       m_pointSize);
}

std::string UIFont::pangoDescription() const {
    detail::FontDescription description = detail::fontDescription(*this);
    char* text = pango_font_description_to_string(description.get());
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

} // namespace platform
