#pragma once
// The user's defaults: a typed key-value store persisted as an XML property list. Two layers: the
// persistent values, read from the file at creation and written by synchronize(), and the
// registered defaults, a volatile lower layer consulted for keys the user has not set.
//
// Promises: every member is safe from any thread. synchronize() replaces the file atomically and
// only when something changed since the last write; destroying the object synchronizes too. A file
// that does not read back as a dictionary (torn, corrupt) is set aside as "<name>.corrupt-<time>"
// with a warning on stderr, and the defaults start empty. The typed readers convert as the platform
// does: integerForKey("12") is 12, boolForKey("YES") is true, stringForKey(3) is "3".
// Not promised: noticing changes that another process makes to the file.

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class UserDefaults final : public Object {
public:
    // The process-wide defaults, in Paths::preferences()/"<domain>.plist".
    static std::shared_ptr<UserDefaults> standardUserDefaults();
    static std::shared_ptr<UserDefaults> standard() { return standardUserDefaults(); }
    // The domain names the standard file; set it before first use (default "com.marvane.live").
    static void setStandardDomain(std::string domain);
    // Forgets the standard instance (it synchronizes when its last holder lets go); the next
    // standardUserDefaults() reads the file afresh.
    static void resetStandardForTesting();

    // Defaults kept in `file`.
    static std::shared_ptr<UserDefaults> create(std::filesystem::path file);

private:
    // Only create() can name this, so every instance is made inside a shared_ptr.
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    UserDefaults(PrivateTag, std::filesystem::path file);
    ~UserDefaults() override;

    Value objectForKey(std::string_view key) const;
    std::optional<std::string> stringForKey(std::string_view key) const;
    std::optional<std::vector<std::string>> stringArrayForKey(std::string_view key) const;
    std::optional<ValueArray> arrayForKey(std::string_view key) const;
    std::optional<ValueDictionary> dictionaryForKey(std::string_view key) const;
    std::optional<Data> dataForKey(std::string_view key) const;
    int64_t integerForKey(std::string_view key) const;
    bool boolForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    float floatForKey(std::string_view key) const;

    // A nil value removes the key. A value a property list cannot hold is refused (false, with a
    // warning on stderr) and the key keeps its earlier value.
    bool setObject(const Value& value, std::string_view key);
    void setInteger(int64_t value, std::string_view key);
    void setBool(bool value, std::string_view key);
    void setDouble(double value, std::string_view key);
    void setFloat(float value, std::string_view key);
    void removeObjectForKey(std::string_view key);

    // Merges `defaults` into the registered layer (never written to the file).
    void registerDefaults(const ValueDictionary& defaults);
    // Registered defaults overlaid by the persistent values.
    ValueDictionary dictionaryRepresentation() const;

    // Writes the persistent values if they changed since the last write; false when writing failed.
    bool synchronize();

    const std::filesystem::path& file() const { return m_file; }

private:
    void load();
    void setAside(std::string_view why);

    const std::filesystem::path m_file;
    mutable std::mutex m_mutex; // guards the two layers and the change count
    std::mutex m_writeMutex;    // orders whole synchronize() calls, so files land in order
    ValueDictionary m_persistent;
    ValueDictionary m_registered;
    uint64_t m_changes{0};
    uint64_t m_savedChanges{0};
};

} // namespace platform
