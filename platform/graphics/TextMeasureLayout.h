#pragma once
// The pango side of text: one font map and context for the process, attributed text turned into a
// PangoLayout, and the measured box of its lines. Internal to the graphics library.
//
// pango's font maps are not thread-safe, so every use of the context, of a layout made from it, and of
// pango_cairo rendering happens while holding textLock().

#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Font.h"

#include <memory>
#include <mutex>
#include <optional>
#include <pango/pangocairo.h>
#include <string>

namespace platform::detail {

std::recursive_mutex& textLock();
PangoContext* textContext(); // hold textLock()

// Families behind the system, monospaced and serif faces, resolved once through fontconfig.
const std::string& systemFamily();
const std::string& monospaceFamily();
const std::string& serifFamily();
// The installed family of that name (compared without case or spaces), if any.
std::optional<std::string> installedFamily(std::string_view name);
std::vector<std::string> installedFamilies();

struct PangoFontDescriptionDeleter {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};
using FontDescription = std::unique_ptr<PangoFontDescription, PangoFontDescriptionDeleter>;
FontDescription fontDescription(const UIFont& font);

struct GObjectDeleter {
    void operator()(void* object) const { g_object_unref(object); }
};
using Layout = std::unique_ptr<PangoLayout, GObjectDeleter>;

struct TextBox {
    Layout layout;
    double x{0};        // where the layout's origin goes, relative to the box (head indents)
    double width{0};    // widest fitting line, trailing white space at wrap points excluded
    double height{0};   // bottom of the last fitting line
    double baseline{0}; // first line's baseline from the top
    int lineCount{0};   // lines that fit
};

// Lays the text out. multiline: wrapped at maxWidth (<= 0: unlimited) as the paragraph style says, keeping
// the lines that fit in maxHeight (<= 0: unlimited; at least one); otherwise one line per paragraph.
// truncateLastLine ellipsizes the last fitting line when text is cut off. Hold textLock().
TextBox layoutText(const NSAttributedString& text, double maxWidth, double maxHeight, bool multiline,
                   bool truncateLastLine);

} // namespace platform::detail
