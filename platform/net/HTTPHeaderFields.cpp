#include "platform/net/HTTPHeaderFields.h"

#include "platform/foundation/Text.h"

#include <algorithm>

namespace platform {

namespace {
bool sameName(std::string_view a, std::string_view b) {
    return text::equalsIgnoringASCIICase(a, b);
}
} // namespace

HTTPHeaderFields::HTTPHeaderFields(std::initializer_list<Field> fields) {
    for (const auto& field : fields)
        setValue(field.second, field.first);
}

HTTPHeaderFields HTTPHeaderFields::fromLines(std::vector<Field> lines) {
    HTTPHeaderFields fields;
    fields.m_fields = std::move(lines);
    return fields;
}

std::optional<std::string> HTTPHeaderFields::value(std::string_view name) const {
    std::optional<std::string> joined;
    for (const auto& field : m_fields) {
        if (!sameName(field.first, name))
            continue;
        if (joined)
            joined->append(", ").append(field.second);
        else
            joined = field.second;
    }
    return joined;
}

std::vector<std::string> HTTPHeaderFields::values(std::string_view name) const {
    std::vector<std::string> found;
    for (const auto& field : m_fields)
        if (sameName(field.first, name))
            found.push_back(field.second);
    return found;
}

bool HTTPHeaderFields::contains(std::string_view name) const {
    return std::any_of(m_fields.begin(), m_fields.end(),
                       [&](const Field& f) { return sameName(f.first, name); });
}

void HTTPHeaderFields::setValue(std::optional<std::string> value, std::string_view name) {
    auto first = std::find_if(m_fields.begin(), m_fields.end(),
                              [&](const Field& f) { return sameName(f.first, name); });
    if (first == m_fields.end()) {
        if (value)
            m_fields.emplace_back(std::string(name), std::move(*value));
        return;
    }
    if (!value) {
        remove(name);
        return;
    }
    first->second = std::move(*value);
    auto index = first - m_fields.begin();
    auto tail = std::remove_if(m_fields.begin() + index + 1, m_fields.end(),
                               [&](const Field& f) { return sameName(f.first, name); });
    m_fields.erase(tail, m_fields.end());
}

void HTTPHeaderFields::addValue(std::string value, std::string_view name) {
    auto first = std::find_if(m_fields.begin(), m_fields.end(),
                              [&](const Field& f) { return sameName(f.first, name); });
    if (first == m_fields.end())
        m_fields.emplace_back(std::string(name), std::move(value));
    else
        first->second.append(",").append(value);
}

void HTTPHeaderFields::appendLine(std::string name, std::string value) {
    m_fields.emplace_back(std::move(name), std::move(value));
}

void HTTPHeaderFields::remove(std::string_view name) {
    std::erase_if(m_fields, [&](const Field& f) { return sameName(f.first, name); });
}

void HTTPHeaderFields::merge(const HTTPHeaderFields& other) {
    HTTPHeaderFields copy = other; // `other` may be this object
    std::vector<std::string> seen;
    for (const auto& field : copy.m_fields) {
        if (std::any_of(seen.begin(), seen.end(),
                        [&](const std::string& s) { return sameName(s, field.first); }))
            continue;
        seen.push_back(field.first);
        setValue(copy.value(field.first), field.first);
    }
}

Value HTTPHeaderFields::dictionary() const {
    ValueDictionary result;
    for (const auto& field : m_fields) {
        bool done = false;
        for (const auto& entry : result)
            done = done || sameName(entry.first, field.first);
        if (!done)
            result.set(field.first, *value(field.first));
    }
    return Value(std::move(result));
}

HTTPHeaderFields HTTPHeaderFields::fromDictionary(const Value& dictionary) {
    HTTPHeaderFields fields;
    if (auto* entries = dictionary.dictionary())
        for (const auto& [name, value] : *entries)
            if (auto* text = value.string())
                fields.setValue(*text, name);
    return fields;
}

} // namespace platform
