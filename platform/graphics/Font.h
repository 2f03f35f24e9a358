#pragma once
// UIFont: an immutable font description (family, weight, slant, point size) resolved through fontconfig and
// measured with pango, so its metrics are those of the glyphs text is actually drawn with.
//
// The system font is Noto Sans CJK SC, which covers Latin and Chinese alike. fontWithName maps the platform's
// PostScript-style names onto installed families: "PingFangSC-Regular", "PingFangSC-Medium" ... map to Noto
// Sans CJK SC (TC and HK to their variants), the platform's Latin sans faces (Helvetica, HelveticaNeue,
// Arial, Avenir, .SFUIText ...) to the system font, Courier and Menlo to a monospaced face, Times and Georgia
// to a serif face; any other name is looked up as an installed family. A style after the last "-" (Light,
// Medium, Bold, Italic ...) picks weight and slant. Unknown names give null, as the platform answers nil.
// Sizes at or below zero mean 12 points. Thread-safe: fonts never change, metrics are computed once.

#include "platform/foundation/Object.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class UIFont;
using UIFontPtr = std::shared_ptr<UIFont>;

// The platform's weight scale (-1 ... 1) for systemFontOfSize:weight:.
inline constexpr double UIFontWeightUltraLight = -0.8;
inline constexpr double UIFontWeightThin = -0.6;
inline constexpr double UIFontWeightLight = -0.4;
inline constexpr double UIFontWeightRegular = 0;
inline constexpr double UIFontWeightMedium = 0.23;
inline constexpr double UIFontWeightSemibold = 0.3;
inline constexpr double UIFontWeightBold = 0.4;
inline constexpr double UIFontWeightHeavy = 0.56;
inline constexpr double UIFontWeightBlack = 0.62;

class UIFont : public Object {
public:
    static UIFontPtr systemFontOfSize(double fontSize);
    static UIFontPtr systemFontOfSize(double fontSize, double weight);
    static UIFontPtr boldSystemFontOfSize(double fontSize);
    static UIFontPtr italicSystemFontOfSize(double fontSize);
    static UIFontPtr fontWithName(std::string_view fontName, double fontSize);
    UIFontPtr fontWithSize(double fontSize) const;

    static double systemFontSize() { return 14; }
    static double smallSystemFontSize() { return 12; }
    static double labelFontSize() { return 17; }
    static double buttonFontSize() { return 18; }
    // Installed font families, sorted.
    static std::vector<std::string> familyNames();

    const std::string& fontName() const { return m_fontName; }
    const std::string& familyName() const { return m_family; }
    double pointSize() const { return m_pointSize; }
    // Weight on fontconfig's CSS-like scale (400 regular, 700 bold) and slant, as laid out.
    int weight() const { return m_weight; }
    bool isItalic() const { return m_italic; }

    // Metrics in points, from the font as pango lays it out. descender is negative (below the baseline);
    // lineHeight is the height of one laid-out line of this font, ascender - descender + leading.
    double ascender() const;
    double descender() const;
    double leading() const;
    double lineHeight() const;
    double capHeight() const;
    double xHeight() const;

    bool isEqual(const UIFont& other) const;
    std::string description() const override;

    // pango's text form of this font ("Noto Sans CJK SC Bold 17px" style), for the text layout code.
    std::string pangoDescription() const;

    UIFont(std::string fontName, std::string family, int weight, bool italic, double pointSize);

private:
    struct Metrics {
        double ascender{0}, descender{0}, leading{0}, capHeight{0}, xHeight{0};
    };
    const Metrics& metrics() const;

    std::string m_fontName;
    std::string m_family;
    int m_weight{400};
    bool m_italic{false};
    double m_pointSize{12};
    // Computed on first use, under the text lock (which guards all pango use).
    mutable bool m_metricsReady{false};
    mutable Metrics m_metrics;
};

} // namespace platform
