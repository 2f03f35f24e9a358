#pragma once
// A localized string table read from the ".strings" text format:
//
//     /* A comment */  "key" = "value";   // another comment
//     plain_key = "unquoted keys and values are runs of letters, digits and _$+/:.-";
//     "key alone";                         // a key that is its own value
//
// Quoted strings take the escapes \n \t \r \a \b \f \v \" \' \\, \NNN (octal) and \UXXXX (hexadecimal
// UTF-16 units; surrogate pairs join). Files may be UTF-8 or UTF-16 (with a byte-order mark, or
// recognised by their zero bytes), and may wrap the entries in braces. A later entry for a key
// replaces an earlier one. Malformed text (an unterminated string or comment, a missing ';',
// invalid UTF-8 or UTF-16) is refused as a whole with an error naming the line; it never crashes.

#include "platform/foundation/Error.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class StringsTable {
public:
    StringsTable() = default;

    static std::optional<StringsTable> parse(std::string_view bytes, ErrorPtr* error = nullptr);
    static std::optional<StringsTable> readFile(const std::filesystem::path& path, ErrorPtr* error = nullptr);

    // Null when the table has no entry for the key.
    const std::string* find(std::string_view key) const;
    size_t size() const { return m_entries.size(); }
    const std::map<std::string, std::string, std::less<>>& entries() const { return m_entries; }

private:
    std::map<std::string, std::string, std::less<>> m_entries;
};

} // namespace platform
