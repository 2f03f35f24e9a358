#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <ctime>
#include <fmt/format.h>
#include <limits>

namespace platform {

namespace {

std::mutex g_standardMutex;
std::shared_ptr<UserDefaults> g_standard;
std::string g_standardDomain = "com.marvane.live";

void warn(std::string_view message) {
    fmt::print(stderr, "UserDefaults: warning: {}\n", message);
}

std::string_view skipLeadingSpace(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' ||
                             text.front() == '\r' || text.front() == '\f' || text.front() == '\v'))
        text.remove_prefix(1);
    return text;
}

// The platform reads a text as a number by its longest numeric prefix, 0 when there is none;
// integers are read as integers (never through a double) and saturate.
int64_t integerFromText(std::string_view text) {
    text = skipLeadingSpace(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (ec == std::errc::result_out_of_range)
        return negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    if (ec != std::errc())
        return 0;
    if (negative)
        return magnitude >= uint64_t(INT64_MAX) + 1 ? INT64_MIN : -int64_t(magnitude);
    return magnitude > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(magnitude);
}

double doubleFromText(std::string_view text) {
    text = skipLeadingSpace(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !((text.front() >= '0' && text.front() <= '9') || text.front() == '.'))
        return 0;
    double value = 0;
    auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range)
        value = std::strtod(std::string(text.data(), end).c_str(), nullptr);
    else if (ec != std::errc())
        return 0;
    return negative ? -value : value;
}

// "YES", "true", "1", "+007" are true; "NO", "false", "0" and other texts are false.
bool boolFromText(std::string_view text) {
    text = skipLeadingSpace(text);
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    while (!text.empty() && text.front() == '0')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    char c = text.front();
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::string corruptSuffix() {
    auto seconds = static_cast<time_t>(std::floor(Clock::timeIntervalSince1970()));
    struct tm utc {};
    gmtime_r(&seconds, &utc);
    return fmt::format(".corrupt-{:04}{:02}{:02}T{:02}{:02}{:02}Z", utc.tm_year + 1900, utc.tm_mon + 1,
                       utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
}

} // namespace

std::shared_ptr<UserDefaults> UserDefaults::standardUserDefaults() {
    std::lock_guard lock(g_standardMutex);
    if (!g_standard)
        g_standard = create(Paths::preferences() / (g_standardDomain + ".plist"));
    return g_standard;
}

void UserDefaults::setStandardDomain(std::string domain) {
    std::lock_guard lock(g_standardMutex);
    g_standardDomain = std::move(domain);
}

void UserDefaults::resetStandardForTesting() {
    std::shared_ptr<UserDefaults> previous;
    {
        std::lock_guard lock(g_standardMutex);
        previous = std::move(g_standard);
    }
    // `previous` synchronizes, outside the lock, if it was the last holder.
}

std::shared_ptr<UserDefaults> UserDefaults::create(std::filesystem::path file) {
    return std::make_shared<UserDefaults>(PrivateTag{}, std::move(file));
}

UserDefaults::UserDefaults(PrivateTag, std::filesystem::path file)
    : m_file(std::move(file)) {
    load();
}

UserDefaults::~UserDefaults() {
    synchronize();
}

void UserDefaults::load() {
    // A temporary left beside the file means a write was cut short before its rename; the file
    // itself still holds the last complete write.
    if (size_t stale = AtomicFile::removeStaleTemporaries(m_file))
        warn(fmt::format("removed {} unfinished write(s) of {}", stale, m_file.string()));

    ErrorPtr error;
    auto bytes = AtomicFile::read(m_file, &error);
    if (!bytes) {
        if (error && error->code() != ENOENT)
            warn(fmt::format("cannot read {}: {}; starting empty", m_file.string(),
                             error->localizedDescription()));
        return;
    }
    Value contents = PropertyList::read(*bytes, &error);
    if (contents.isNil()) {
        setAside(error ? error->userInfo()["NSDebugDescription"].stringOr("unreadable") : "unreadable");
        return;
    }
    if (!contents.isDictionary()) {
        setAside("the top level is not a dictionary");
        return;
    }
    m_persistent = *contents.dictionary();
}

void UserDefaults::setAside(std::string_view why) {
    std::filesystem::path aside = m_file;
    aside += corruptSuffix();
    std::error_code ec;
    for (int n = 1; std::filesystem::exists(aside, ec) && n < 1000; ++n) {
        aside = m_file;
        aside += corruptSuffix() + fmt::format("-{}", n);
    }
    std::filesystem::rename(m_file, aside, ec);
    if (ec)
        warn(fmt::format("{} is damaged ({}) and could not be set aside: {}; starting empty", m_file.string(),
                         why, ec.message()));
    else
        warn(fmt::format("{} is damaged ({}); set aside as {}; starting empty", m_file.string(), why,
                         aside.filename().string()));
}

Value UserDefaults::objectForKey(std::string_view key) const {
    std::lock_guard lock(m_mutex);
    if (const Value* v = m_persistent.find(key))
        return *v;
    return m_registered.get(key);
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
    Value v = objectForKey(key);
    if (auto* s = v.string())
        return *s;
    if (auto* n = v.number())
        return n->stringValue();
    return std::nullopt;
}

std::optional<std::vector<std::string>> UserDefaults::stringArrayForKey(std::string_view key) const {
    Value v = objectForKey(key);
    auto* members = v.array();
    if (!members)
        return std::nullopt;
    std::vector<std::string> strings;
    strings.reserve(members->size());
    for (const auto& member : *members) {
        if (!member.isString())
            return std::nullopt;
        strings.push_back(*member.string());
    }
    return strings;
}

std::optional<ValueArray> UserDefaults::arrayForKey(std::string_view key) const {
    Value v = objectForKey(key);
    if (auto* a = v.array())
        return *a;
    return std::nullopt;
}

std::optional<ValueDictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
    Value v = objectForKey(key);
    if (auto* d = v.dictionary())
        return *d;
    return std::nullopt;
}

std::optional<Data> UserDefaults::dataForKey(std::string_view key) const {
    Value v = objectForKey(key);
    if (auto* d = v.data())
        return *d;
    return std::nullopt;
}

int64_t UserDefaults::integerForKey(std::string_view key) const {
    Value v = objectForKey(key);
    if (auto* n = v.number())
        return n->int64Value();
    if (auto* s = v.string())
        return integerFromText(*s);
    return 0;
}

bool UserDefaults::boolForKey(std::string_view key) const {
    Value v = objectForKey(key);
    if (auto* n = v.number())
        return n->boolValue();
    if (auto* s = v.string())
        return boolFromText(*s);
    return false;
}

double UserDefaults::doubleForKey(std::string_view key) const {
    Value v = objectForKey(key);
    if (auto* n = v.number())
        return n->doubleValue();
    if (auto* s = v.string())
        return doubleFromText(*s);
    return 0;
}

float UserDefaults::floatForKey(std::string_view key) const {
    return static_cast<float>(doubleForKey(key));
}

bool UserDefaults::setObject(const Value& value, std::string_view key) {
    if (value.isNil()) {
        removeObjectForKey(key);
        return true;
    }
    if (!PropertyList::isPropertyList(value)) {
        warn(fmt::format("refusing to store a value for \"{}\" that is not a property list", key));
        return false;
    }
    Value previous; // released outside the lock
    std::lock_guard lock(m_mutex);
    if (Value* slot = m_persistent.find(key)) {
        previous = std::move(*slot);
        *slot = value;
    } else {
        m_persistent.set(std::string(key), value);
    }
    ++m_changes;
    return true;
}

void UserDefaults::setInteger(int64_t value, std::string_view key) {
    setObject(Value(value), key);
}
void UserDefaults::setBool(bool value, std::string_view key) {
    setObject(Value(value), key);
}
void UserDefaults::setDouble(double value, std::string_view key) {
    setObject(Value(value), key);
}
void UserDefaults::setFloat(float value, std::string_view key) {
    setObject(Value(value), key);
}

void UserDefaults::removeObjectForKey(std::string_view key) {
    std::lock_guard lock(m_mutex);
    if (m_persistent.remove(key))
        ++m_changes;
}

void UserDefaults::registerDefaults(const ValueDictionary& defaults) {
    std::lock_guard lock(m_mutex);
    for (const auto& [key, value] : defaults)
        m_registered.set(key, value);
}

ValueDictionary UserDefaults::dictionaryRepresentation() const {
    std::lock_guard lock(m_mutex);
    ValueDictionary merged = m_registered;
    for (const auto& [key, value] : m_persistent)
        merged.set(key, value);
    return merged;
}

bool UserDefaults::synchronize() {
    std::lock_guard writing(m_writeMutex);
    ValueDictionary snapshot;
    uint64_t changes;
    {
        std::lock_guard lock(m_mutex);
        if (m_changes == m_savedChanges)
            return true;
        snapshot = m_persistent;
        changes = m_changes;
    }
    ErrorPtr error;
    auto bytes = PropertyList::write(Value(std::move(snapshot)), &error);
    // Defaults may hold session tokens: a new file is readable by its owner only.
    if (!bytes || !AtomicFile::write(m_file, *bytes, &error, 0600)) {
        warn(fmt::format("cannot write {}: {}", m_file.string(),
                         error ? error->description() : "unknown error"));
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_savedChanges = changes;
    return true;
}

} // namespace platform
