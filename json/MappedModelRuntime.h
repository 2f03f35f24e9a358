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
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <typeindex>
#include <unordered_map>
#include <vector>

class MappedModelClass;

// One mapped property with the means to read and write it.
struct MappedModelSlot {
    std::shared_ptr<const MappedModelClassProperty> property;
    std::function<platform::Value(const platform::Object&)> getter;
    std::function<void(platform::Object&, const platform::Value&)> setter;
    std::function<bool(const platform::Object&)> readsNil; // empty when only the getter can tell
    bool isModelType{false};                               // the declared class is a model class
    // The kind of JSON value that is assigned as it comes (NSString, NSNumber, NSArray, NSDictionary
    // declared without Mutable): the common case, settled without class-name look-ups.
    std::optional<platform::Value::Type> plainType;
};

struct MappedModelTable {
    std::vector<MappedModelSlot> slots; // subclass first, each class in declaration order
    std::unordered_map<std::string, size_t> indexOf;
    std::vector<std::string> requiredNames; // sorted
    std::vector<size_t> requiredSlots;      // the slots of requiredNames, in the same order
    std::optional<std::string> indexPropertyName;
};

// How an import reads each slot of a class's table (same order) under one pair of key mappers: the
// JSON key path, split once, and the class a nested model is made of, as registered when the plan
// was made (a later registration makes a new plan).
struct MappedModelImportPlan {
    struct Step {
        std::string keyPath;
        std::vector<std::string> components; // the key path's parts when it has a "."; else empty
        std::shared_ptr<MappedModelClass> nestedClass;
    };
    std::shared_ptr<KeyMapper> classMapper; // held, so no other mapper can come to share its address
    std::shared_ptr<KeyMapper> globalMapper;
    uint64_t generation{0}; // of the class registry
    std::vector<Step> steps;
};

class MappedModelClass {
public:
    std::string name;
    std::string superclassName; // empty for MappedModel
    std::function<std::shared_ptr<MappedModel>()> factory;
    MappedModel::Hooks hooks;
    std::map<std::string, MappedModelMethod, std::less<>> methods; // own and inherited

    // The inspected table; raises "MappedModelProperty type not allowed" for an unsupported type.
    const MappedModelTable& table();
    // __setup__'s part: ask the hook until it gives a mapper, keep the first one.
    void offerKeyMapper();
    std::shared_ptr<KeyMapper> keyMapper() const;

    const MappedModelMethod* method(std::string_view selector) const;

    // The import plan under these mappers and the registry as it is, made the first time they are
    // seen: a mapper's answers never change (they are remembered), so neither do the key paths. It
    // lives as long as this record. Null once a few plans are kept (a program that keeps making new
    // global mappers or registering classes): the caller makes one of its own.
    const MappedModelImportPlan* importPlan(const std::shared_ptr<KeyMapper>& classMapper,
                                            const std::shared_ptr<KeyMapper>& globalMapper);
    // A plan made afresh, kept by no one.
    MappedModelImportPlan makeImportPlan(const std::shared_ptr<KeyMapper>& classMapper,
                                         const std::shared_ptr<KeyMapper>& globalMapper);

private:
    std::shared_ptr<const MappedModelTable> inspect();

    std::mutex m_mutex;
    std::shared_ptr<const MappedModelTable> m_table;
    std::atomic<const MappedModelTable*> m_ready{nullptr};
    std::shared_ptr<KeyMapper> m_keyMapper;
    std::atomic<bool> m_hasKeyMapper{false};
    std::vector<std::unique_ptr<const MappedModelImportPlan>> m_plans; // under m_mutex, never shrinks
    std::atomic<const MappedModelImportPlan*> m_lastPlan{nullptr};
};

class MappedModelRuntime {
public:
    static std::shared_ptr<MappedModelClass> classNamed(std::string_view name);
    // The record of a model's class; raises when the model's C++ type was never registered.
    static std::shared_ptr<MappedModelClass> classOf(const MappedModel& model);
    static void add(std::shared_ptr<MappedModelClass> record, const std::type_info& type);
    static std::shared_ptr<MappedModelClass> classOfType(const std::type_info& type);
    // Moves on with every registration.
    static uint64_t generation();

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
