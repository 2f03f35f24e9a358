#pragma once
// The header fields of an HTTP request or response: name and value pairs in the order they were
// added, names compared without regard to ASCII case, each name kept as its first caller spelled it.
// A response may carry a name on several lines (Set-Cookie); value() joins them with ", " as the
// platform's header dictionaries do, values() gives them one by one. A plain value: copy it freely.

#include "platform/foundation/Value.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

class HTTPHeaderFields {
public:
    using Field = std::pair<std::string, std::string>;

    HTTPHeaderFields() = default;
    HTTPHeaderFields(std::initializer_list<Field> fields);
    // The lines as a response carries them, a repeated name kept on each (appendLine, line by line).
    static HTTPHeaderFields fromLines(std::vector<Field> lines);

    // valueForHTTPHeaderField: every line of that name joined with ", "; nullopt when absent.
    std::optional<std::string> value(std::string_view name) const;
    std::vector<std::string> values(std::string_view name) const;
    bool contains(std::string_view name) const;

    // setValue:forHTTPHeaderField: replaces every line of that name with one (keeping the spelling
    // and place of the first); nullopt removes the name.
    void setValue(std::optional<std::string> value, std::string_view name);
    // addValue:forHTTPHeaderField: appends to the value of that name after a comma, or adds the name.
    void addValue(std::string value, std::string_view name);
    // Adds one more line of that name, as a response does when a name repeats.
    void appendLine(std::string name, std::string value);
    void remove(std::string_view name);
    // Sets every field of `other` (theirs win on equal names).
    void merge(const HTTPHeaderFields& other);

    const std::vector<Field>& fields() const { return m_fields; }
    auto begin() const { return m_fields.begin(); }
    auto end() const { return m_fields.end(); }
    size_t size() const { return m_fields.size(); }
    bool empty() const { return m_fields.empty(); }

    // allHTTPHeaderFields as a dictionary of texts, lines of one name joined.
    Value dictionary() const;
    static HTTPHeaderFields fromDictionary(const Value& dictionary); // non-text values are skipped

    bool operator==(const HTTPHeaderFields& other) const = default;

private:
    std::vector<Field> m_fields;
};

} // namespace platform
