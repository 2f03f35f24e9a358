#pragma once
// The user's locale, from the environment as the C library reads it for messages (LC_ALL, then
// LC_MESSAGES, then LANG): "zh_CN.UTF-8" is language "zh", region "CN". The C and POSIX locales have no
// language and no region. Read afresh at each call; thread-safe.

#include <optional>
#include <string>

namespace platform {

class Locale {
public:
    static Locale currentLocale();
    // A locale from an identifier in the environment's form ("en_US.UTF-8", "pt-BR", "zh_Hant_TW").
    static Locale localeWithIdentifier(std::string identifier);

    const std::string& localeIdentifier() const { return m_identifier; }
    // Lowercase language, "Hant"-style script, uppercase region; nothing when the identifier has none.
    std::optional<std::string> languageCode() const { return m_language; }
    std::optional<std::string> scriptCode() const { return m_script; }
    std::optional<std::string> countryCode() const { return m_region; }

private:
    std::string m_identifier;
    std::optional<std::string> m_language;
    std::optional<std::string> m_script;
    std::optional<std::string> m_region;
};

} // namespace platform
