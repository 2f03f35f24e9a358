#pragma once
// Reads the archives that KeyedArchiver writes (the format is described there). An archive that
// is not one (wrong magic, version or flags), is cut short, fails its checksum or structure checks,
// or names a class that is not registered (or cannot be made, or does not adopt Coding) decodes as
// nil with an error in NSCocoaErrorDomain, code 4864. No length or count in the archive is trusted
// beyond the bytes that are there. A root whose initWithCoder answers false is nil too.
//
// Inside initWithCoder the decode functions read the current object's keys. A missing key reads as
// nil, false or 0; numbers convert between kinds (decodeInt32ForKey saturates). An object met
// again (shared, or in a cycle) decodes as the very same object; in a cycle that object is still
// being initialised when its referrer receives it. Objects nest at most 512 deep, and objects and
// the collections between them at most 1024 deep together. Ownership is the classes' own: a cycle
// of strong references outlives its last holder, also when a failed decode drops it, so back links
// belong in weak pointers.
// Unarchivers are made only by the static functions; they are used on one thread.

#include "platform/foundation/KeyedArchiver.h"

#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

namespace platform {

class KeyedUnarchiver {
public:
    static ObjectPtr unarchiveObjectWithData(const Data& data, ErrorPtr* error = nullptr);
    static ObjectPtr unarchiveObjectWithFile(const std::filesystem::path& path, ErrorPtr* error = nullptr);
    // The root value of an archive that archivedDataWithRootValue wrote (or the root object of any
    // other); nil with the error as above.
    static Value unarchiveValueWithData(const Data& data, ErrorPtr* error = nullptr);

    // For initWithCoder.
    bool containsValueForKey(std::string_view key) const;
    Value decodeObjectForKey(std::string_view key);
    template <typename T> std::shared_ptr<T> decodeObjectOfClass(std::string_view key) {
        return decodeObjectForKey(key).objectAs<T>();
    }
    bool decodeBoolForKey(std::string_view key);
    int32_t decodeInt32ForKey(std::string_view key);
    int64_t decodeInt64ForKey(std::string_view key);
    int64_t decodeIntegerForKey(std::string_view key) { return decodeInt64ForKey(key); }
    double decodeDoubleForKey(std::string_view key);
    float decodeFloatForKey(std::string_view key);

    // Ends decoding: the whole archive then reads as nil with this error.
    void failWithError(ErrorPtr error);
    const ErrorPtr& error() const { return m_error; }

    KeyedUnarchiver(const KeyedUnarchiver&) = delete;
    KeyedUnarchiver& operator=(const KeyedUnarchiver&) = delete;

private:
    explicit KeyedUnarchiver(Data data)
        : m_data(std::move(data)) {}
    bool index();
    bool checkValue(size_t& at, int depth);
    Value materialize(size_t& at);
    Value materializeContainer(uint8_t tag, size_t& at);
    ObjectPtr resolve(uint64_t index);
    const size_t* find(std::string_view key) const;
    Value number(std::string_view key);
    void corrupt(std::string why);

    struct Entry {
        std::string_view key;
        size_t valueOffset{0};
    };
    struct ObjectRecord {
        uint64_t classIndex{0};
        std::vector<Entry> entries;
        ObjectPtr object;
        bool failed{false};
    };

    Data m_data;
    std::vector<std::string_view> m_classes;
    std::vector<ObjectRecord> m_objects;
    std::vector<size_t> m_stack; // objects whose initWithCoder is running, innermost last
    int m_nesting{0};            // containers and objects being built, for the stack bound
    static constexpr int kMaxNesting = 1024;
    ErrorPtr m_error;
};

} // namespace platform
