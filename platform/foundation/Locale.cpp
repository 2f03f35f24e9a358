#include "platform/foundation/Locale.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace platform {

namespace {

std::string fromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* value = std::getenv(name); value && *value)
            return value;
    }
    return {};
}

bool allLetters(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
}

std::string withCase(std::string text, int (*change)(int)) {
    for (auto& c : text)
        c = static_cast<char>(change(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

Locale Locale::currentLocale() {
    return localeWithIdentifier(fromEnvironment());
}

Locale Locale::localeWithIdentifier(std::string identifier) {
    Locale locale;
    locale.m_identifier = std::move(identifier);
    // "language_REGION.encoding@modifier": only the language, script and region name a locale.
    std::string name = locale.m_identifier.substr(0, locale.m_identifier.find_first_of(".@"));
    if (name == "C" || name == "POSIX")
        return locale;
    std::vector<std::string> parts;
    for (size_t start = 0; start <= name.size();) {
        size_t end = name.find_first_of("_-", start);
        if (end == std::string::npos)
            end = name.size();
        parts.push_back(name.substr(start, end - start));
        start = end + 1;
    }
    if (parts.empty() || !allLetters(parts[0]) || parts[0].size() < 2 || parts[0].size() > 3)
        return locale;
    locale.m_language = withCase(parts[0], std::tolower);
    for (size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].size() == 4 && allLetters(parts[i]) && !locale.m_script) {
            auto script = withCase(parts[i], std::tolower);
            script[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(script[0])));
            locale.m_script = script;
        } else if (!parts[i].empty() && !locale.m_region) {
            locale.m_region = withCase(parts[i], std::toupper);
        }
    }
    return locale;
}

} // namespace platform
