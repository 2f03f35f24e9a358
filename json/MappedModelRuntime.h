#pragma once
// The class side of MappedModel, internal to json/: the record of each registered model class with
// its hooks, custom methods and caches (the inspected property table, the key mapper), the names
// of the platform's value classes, and the one shared ValueTransformer.
//
// A class record is made at registration and never changes afterwards, except for its caches: the
// property table is built once under the record's lock (a failed inspection stores nothing, so the
// next use raises again) and then read without a lock; the key mapper is kept from the first
// non-nil answer of the class's hook.

#include "json/MappedModel.h"
#include "json/ValueTransformer.h"
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <typeindex>
#include <unordered_map>
#include <vector>

// One mapped property with the means to read and write it.
struct MappedModelSlot {
    std::shared_ptr<const MappedModelClassProperty> property;
    std::function<platform::Value(const platform::Object&)> getter;
    std::function<void(platform::Object&, const platform::Value&)> setter;
    bool isModelType{false}; // the declared class is a model class
};

struct MappedModelTable {
    std::vector<MappedModelSlot> slots; // subclass first, each class in declaration order
    std::unordered_map<std::string, size_t> indexOf;
    std::vector<std::string> requiredNames; // sorted
    std::optional<std::string> indexPropertyName;
};

// The JSON key path of each slot of a class's table (same order) under one pair of key mappers.
struct MappedModelKeyPaths {
    std::shared_ptr<KeyMapper> classMapper; // held, so no other mapper can come to share its address
    std::shared_ptr<KeyMapper> globalMapper;
    std::vector<std::string> paths;
};

class MappedModelClass {
public:
    std::string name;
    std::string superclassName; // empty for MappedModel
    std::function<platform::ObjectPtr()> factory;
    MappedModel::Hooks hooks;
    std::map<std::string, MappedModelMethod, std::less<>> methods; // own and inherited

    // The inspected table; raises "MappedModelProperty type not allowed" for an unsupported type.
    const MappedModelTable& table();
    // __setup__'s part: ask the hook until it gives a mapper, keep the first one.
    void offerKeyMapper();
    std::shared_ptr<KeyMapper> keyMapper() const;

    const MappedModelMethod* method(std::string_view selector) const;

    // The slots' key paths under these mappers, made by `make` the first time the pair is seen: a
    // mapper's answers never change (they are remembered), so neither do the paths. Null once a
    // few pairs are kept (a program that keeps making new global mappers): the caller maps itself.
    const MappedModelKeyPaths* keyPaths(const std::shared_ptr<KeyMapper>& classMapper,
                                        const std::shared_ptr<KeyMapper>& globalMapper,
                                        const std::function<std::vector<std::string>()>& make);

private:
    std::shared_ptr<const MappedModelTable> inspect();

    std::mutex m_mutex;
    std::shared_ptr<const MappedModelTable> m_table;
    std::atomic<const MappedModelTable*> m_ready{nullptr};
    std::shared_ptr<KeyMapper> m_keyMapper;
    std::atomic<bool> m_hasKeyMapper{false};
    std::vector<std::unique_ptr<const MappedModelKeyPaths>> m_keyPaths; // under m_mutex, never shrinks
    std::atomic<const MappedModelKeyPaths*> m_lastKeyPaths{nullptr};
};

class MappedModelRuntime {
public:
    static std::shared_ptr<MappedModelClass> classNamed(std::string_view name);
    // The record of a model's class; raises when the model's C++ type was never registered.
    static std::shared_ptr<MappedModelClass> classOf(const MappedModel& model);
    static void add(std::shared_ptr<MappedModelClass> record, const std::type_info& type);
    static std::shared_ptr<MappedModelClass> classOfType(const std::type_info& type);

    static const ValueTransformer& transformer();

    // Class look-up by name: model classes, classes in the ClassRegistry and the value classes.
    static bool classExists(std::string_view name);
    static bool isKindOfClass(std::string_view name, std::string_view ofName);
    // The concrete class of a value: NSString, NSNumber, NSDecimalNumber, NSArray, NSDictionary,
    // NSNull, NSDate, NSURL, NSData, NSSet, an object's class name; "" for nil.
    static std::string classNameOfValue(const platform::Value& value);
    // One of the nine classes JSON values come in (exactly, not a subclass).
    static bool isStandardJSONClass(std::string_view name);
    // The value is of one of those classes or inherits from one.
    static bool isAllowedJSONValue(const platform::Value& value);
};
