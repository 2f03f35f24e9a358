#pragma once
// The application's packaged resources: files found by name and type, the application's info values,
// and localized strings from "<language>.lproj/<table>.strings" tables.
//
// Promises: the main bundle's resources are Paths::resources() as it stands at each call. Localized
// lookups try the preferred languages (from LC_ALL, LC_MESSAGES or LANG, in that order), then the
// development language "en", then Base.lproj; the first table that has the key answers. Tables are
// read once and cached; a malformed table counts as missing (with a warning on stderr). Thread-safe.
// Not done: reading another bundle's Info.plist (its info dictionary is empty).

#include "platform/foundation/Object.h"
#include "platform/foundation/StringsTable.h"
#include "platform/foundation/Value.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class Bundle final : public Object {
public:
    static std::shared_ptr<Bundle> mainBundle();
    // The bundle of resources in a folder (a ".bundle" among the resources, a test's fixture);
    // null when the folder does not exist.
    static std::shared_ptr<Bundle> bundleWithPath(const std::filesystem::path& path);

    std::string bundlePath() const;
    std::string resourcePath() const;
    std::optional<std::string> bundleIdentifier() const;

    // The file "<name>.<type>" (or just "<name>" when the type is empty; a leading '.' on the type is
    // allowed) in the resources' `directory`, else in its localized folders by language preference.
    std::optional<std::string> pathForResource(std::string_view name, std::string_view type,
                                               std::string_view directory = {}) const;
    // Every file with the extension (every file when empty) in the resources' `directory`, then those
    // in its most preferred localized folder; each group sorted by name.
    std::vector<std::string> pathsForResourcesOfType(std::string_view type,
                                                     std::string_view directory = {}) const;

    // CFBundleShortVersionString, CFBundleVersion, CFBundleDisplayName, CFBundleName, CFBundleIdentifier
    // and CFBundleDevelopmentRegion for the main bundle.
    Value infoDictionary() const;
    Value objectForInfoDictionaryKey(std::string_view key) const; // nil when absent

    // The translation of `key` in `table` ("Localizable" when empty). When no table has the key:
    // `value` when it is not empty, else the key itself.
    std::string localizedStringForKey(std::string_view key, std::string_view value,
                                      std::string_view table) const;

    // The localization folders the lookups try, most preferred first, among those the bundle has.
    std::vector<std::string> preferredLocalizations() const;

    // The user's languages as localization names, most preferred first ("zh_CN.UTF-8" gives
    // zh-Hans-CN, zh-CN, zh_CN, zh-Hans, zh); empty for the C and POSIX locales.
    static std::vector<std::string> preferredLanguages();

private:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    Bundle(PrivateTag, std::optional<std::filesystem::path> path)
        : m_path(std::move(path)) {}

private:
    std::filesystem::path root() const;
    std::vector<std::string> localizationOrder() const;
    std::shared_ptr<const StringsTable> table(const std::filesystem::path& path) const;

    std::optional<std::filesystem::path> m_path; // none: the main bundle, which follows Paths::resources()
    mutable std::mutex m_tablesMutex;
    mutable std::map<std::string, std::shared_ptr<const StringsTable>, std::less<>>
        m_tables; // null: none there
};

// The main bundle's translation of `key` in the Localizable table; the comment is for translators.
std::string NSLocalizedString(std::string_view key, std::string_view comment);
std::string NSLocalizedStringFromTable(std::string_view key, std::string_view table,
                                       std::string_view comment);

} // namespace platform
