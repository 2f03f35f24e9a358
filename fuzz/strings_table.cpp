// Reads any bytes as a ".strings" table. Beyond not crashing, it holds the reader to its promises:
// a table or an error, never both; and a table that reads, written out again with every character
// escaped as the format allows, reads back to the same entries from UTF-8, from braces, and from
// UTF-16 in either byte order.
#include "platform/foundation/Fatal.h"
#include "platform/foundation/StringsTable.h"

#include <cstdio>
#include <fmt/format.h>
#include <string>

using namespace platform;

namespace {

std::string escaped(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            out += fmt::format("\\U{:04X}", byte);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string written(const StringsTable& table) {
    std::string out = "/* written back */\n";
    for (const auto& [key, value] : table.entries())
        out += escaped(key) + " = " + escaped(value) + ";\n";
    return out;
}

// UTF-8 that the reader produced, as UTF-16 code units.
std::string utf16(std::string_view text, bool bigEndian) {
    std::string out;
    auto unit = [&](uint32_t u) {
        char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    };
    for (size_t i = 0; i < text.size();) {
        auto b = static_cast<unsigned char>(text[i]);
        int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k)
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += static_cast<size_t>(extra) + 1;
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
    }
    return out;
}

void requireSame(const StringsTable& table, std::string_view bytes, const char* what) {
    ErrorPtr error;
    auto again = StringsTable::parse(bytes, &error);
    if (!again)
        std::fprintf(stderr, "fuzz_strings_table: %s\n", error->localizedDescription().c_str());
    fatalUnless(again.has_value(), what);
    fatalUnless(again->entries() == table.entries(), what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    ErrorPtr error;
    auto table = StringsTable::parse(std::string_view(reinterpret_cast<const char*>(bytes), size), &error);
    fatalUnless(table.has_value() != static_cast<bool>(error),
                "a result must be a table or an error, not both");
    if (!table)
        return 0;
    for (const auto& [key, value] : table->entries()) {
        fatalUnless(table->find(key) && *table->find(key) == value, "an entry cannot be found by its key");
        (void)value;
    }

    std::string text = written(*table);
    requireSame(*table, text, "a written table does not read back the same");
    requireSame(*table, "{\n" + text + "}\n", "a written table in braces does not read back the same");
    requireSame(*table, "\xFF\xFE" + utf16(text, false), "a table in UTF-16LE does not read back the same");
    requireSame(*table, "\xFE\xFF" + utf16(text, true), "a table in UTF-16BE does not read back the same");
    requireSame(*table, utf16(text, false), "a table in UTF-16LE without a mark does not read back the same");
    return 0;
}
