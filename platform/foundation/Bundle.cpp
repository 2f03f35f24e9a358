#include "platform/foundation/Bundle.h"

#include "platform/foundation/Locale.h"
#include "platform/foundation/Paths.h"

#include <algorithm>
#include <cstdio>
#include <fmt/format.h>
#include <system_error>

namespace platform {

namespace {

constexpr const char* kMainBundleIdentifier = "com.marvane.live";
constexpr const char* kDevelopmentLocalization = "en";
constexpr const char* kBaseLocalization = "Base";
constexpr const char* kDefaultTable = "Localizable";

void appendOnce(std::vector<std::string>& list, std::string item) {
    if (std::find(list.begin(), list.end(), item) == list.end())
        list.push_back(std::move(item));
}

bool fileExists(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

bool isDirectory(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

std::string withoutLeadingDot(std::string_view type) {
    if (!type.empty() && type.front() == '.')
        type.remove_prefix(1);
    return std::string(type);
}

// The files in `dir` with the extension (every file when empty), sorted by name.
std::vector<std::string> filesIn(const std::filesystem::path& dir, const std::string& type) {
    std::vector<std::string> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        auto extension = it->path().extension().string();
        if (type.empty() || (!extension.empty() && extension.substr(1) == type))
            found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

std::shared_ptr<Bundle> Bundle::mainBundle() {
    static const auto bundle = std::make_shared<Bundle>(Private{}, std::nullopt);
    return bundle;
}

std::shared_ptr<Bundle> Bundle::bundleWithPath(const std::filesystem::path& path) {
    if (!isDirectory(path))
        return nullptr;
    std::error_code error;
    auto absolute = std::filesystem::absolute(path, error);
    return std::make_shared<Bundle>(Private{}, error ? path : absolute);
}

std::filesystem::path Bundle::root() const {
    return m_path ? *m_path : Paths::resources();
}

std::string Bundle::bundlePath() const {
    return root().string();
}

std::string Bundle::resourcePath() const {
    return root().string();
}

std::optional<std::string> Bundle::bundleIdentifier() const {
    if (m_path)
        return std::nullopt;
    return kMainBundleIdentifier;
}

Value Bundle::infoDictionary() const {
    if (m_path)
        return Value(ValueDictionary{});
    return Value::dictionary({
        {"CFBundleIdentifier", kMainBundleIdentifier},
        {"CFBundleShortVersionString", LIVEAPP_VERSION},
        {"CFBundleVersion", LIVEAPP_BUILD_NUMBER},
        {"CFBundleDisplayName", LIVEAPP_DISPLAY_NAME},
        {"CFBundleName", LIVEAPP_DISPLAY_NAME},
        {"CFBundleDevelopmentRegion", kDevelopmentLocalization},
    });
}

Value Bundle::objectForInfoDictionaryKey(std::string_view key) const {
    return infoDictionary()[key];
}

std::vector<std::string> Bundle::preferredLanguages() {
    auto locale = Locale::currentLocale();
    if (!locale.languageCode())
        return {};
    std::string language = *locale.languageCode();
    std::string script = locale.scriptCode().value_or("");
    std::string region = locale.countryCode().value_or("");
    if (language == "zh" && script.empty())
        script = (region == "TW" || region == "HK" || region == "MO") ? "Hant" : "Hans";

    std::vector<std::string> languages;
    if (!script.empty() && !region.empty())
        appendOnce(languages, language + "-" + script + "-" + region);
    if (!region.empty()) {
        appendOnce(languages, language + "-" + region);
        appendOnce(languages, language + "_" + region);
    }
    if (!script.empty())
        appendOnce(languages, language + "-" + script);
    appendOnce(languages, language);
    return languages;
}

std::vector<std::string> Bundle::localizationOrder() const {
    auto order = preferredLanguages();
    appendOnce(order, kDevelopmentLocalization);
    appendOnce(order, kBaseLocalization);
    return order;
}

std::vector<std::string> Bundle::preferredLocalizations() const {
    auto base = root();
    std::vector<std::string> found;
    for (auto& localization : localizationOrder()) {
        if (localization != kBaseLocalization && isDirectory(base / (localization + ".lproj")))
            found.push_back(std::move(localization));
    }
    return found;
}

std::optional<std::string> Bundle::pathForResource(std::string_view name, std::string_view type,
                                                   std::string_view directory) const {
    if (name.empty()) {
        auto all = pathsForResourcesOfType(type, directory);
        return all.empty() ? std::nullopt : std::optional(all.front());
    }
    std::string fileName(name);
    if (auto extension = withoutLeadingDot(type); !extension.empty())
        fileName += "." + extension;
    auto base = root();
    if (auto path = base / directory / fileName; fileExists(path))
        return path.string();
    for (const auto& localization : localizationOrder()) {
        if (auto path = base / (localization + ".lproj") / directory / fileName; fileExists(path))
            return path.string();
    }
    return std::nullopt;
}

std::vector<std::string> Bundle::pathsForResourcesOfType(std::string_view type,
                                                         std::string_view directory) const {
    auto base = root();
    auto extension = withoutLeadingDot(type);
    auto found = filesIn(base / directory, extension);
    for (const auto& localization : localizationOrder()) {
        auto folder = base / (localization + ".lproj") / directory;
        if (isDirectory(folder)) {
            auto localized = filesIn(folder, extension);
            found.insert(found.end(), localized.begin(), localized.end());
            break;
        }
    }
    return found;
}

std::shared_ptr<const StringsTable> Bundle::table(const std::filesystem::path& path) const {
    auto key = path.string();
    {
        std::lock_guard lock(m_tablesMutex);
        if (auto it = m_tables.find(key); it != m_tables.end())
            return it->second;
    }
    // Read outside the lock so one slow disk read does not hold up lookups in tables already loaded;
    // two threads racing on the same table both read it and the first to finish is kept.
    std::shared_ptr<const StringsTable> loaded;
    std::error_code ignored;
    if (std::filesystem::is_regular_file(path, ignored)) {
        ErrorPtr error;
        if (auto table = StringsTable::readFile(path, &error))
            loaded = std::make_shared<const StringsTable>(std::move(*table));
        else
            fmt::print(stderr, "warning: ignoring the string table {}: {}\n", key,
                       error ? error->localizedDescription() : std::string("unreadable"));
    }
    std::lock_guard lock(m_tablesMutex);
    return m_tables.try_emplace(std::move(key), std::move(loaded)).first->second;
}

std::string Bundle::localizedStringForKey(std::string_view key, std::string_view value,
                                          std::string_view table) const {
    if (key.empty())
        return std::string(value);
    std::string fileName = std::string(table.empty() ? kDefaultTable : table) + ".strings";
    auto base = root();
    for (const auto& localization : localizationOrder()) {
        auto strings = this->table(base / (localization + ".lproj") / fileName);
        if (!strings)
            continue;
        if (auto* found = strings->find(key))
            return *found;
    }
    return std::string(value.empty() ? key : value);
}

std::string NSLocalizedString(std::string_view key, std::string_view) {
    return Bundle::mainBundle()->localizedStringForKey(key, {}, {});
}

std::string NSLocalizedStringFromTable(std::string_view key, std::string_view table, std::string_view) {
    return Bundle::mainBundle()->localizedStringForKey(key, {}, table);
}

} // namespace platform
