#pragma once
// The object runtime's class table: each class registers its name, superclass, factory, adopted
// protocols, declared properties and class methods, explicitly at start-up or in a test (never by static
// initialisation). Lookups by name or by C++ type are thread-safe; registering a name twice
// replaces the earlier entry.

#include "platform/foundation/Object.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <typeindex>
#include <typeinfo>
#include <vector>

namespace platform {

// A declared property as the runtime describes it: its name, its attribute text
// (`T@"NSString",&,N,V_name`, `Tq,N,V_count`, ...), and how to read and write it by key.
struct PropertyInfo {
    std::string name;
    std::string attributes;
    std::function<Value(const Object&)> getter;
    std::function<void(Object&, const Value&)> setter;
    // Whether the getter would answer nil, told without making the value; empty when not known.
    std::function<bool(const Object&)> readsNil = {};
};

// A class method by its selector's text ("utdid", "setChannel:"): takes the one argument (nil when the
// selector takes none, or none was given) and answers a value (nil for void methods).
using ClassMethod = std::function<Value(const Value& argument)>;

struct ClassInfo {
    std::string name;
    std::string superclassName; // empty for a root class
    std::optional<std::type_index> type;
    std::function<ObjectPtr()> factory; // empty when the class cannot be made without arguments
    std::vector<std::string> protocols;
    std::vector<PropertyInfo> properties; // declared by this class only, in declaration order
    std::map<std::string, ClassMethod, std::less<>> classMethods; // declared by this class only
};

class ClassRegistry {
public:
    static ClassRegistry& shared();

    void registerClass(ClassInfo info);

    template <typename T>
    void registerClass(std::string name, std::string superclassName, std::vector<std::string> protocols = {},
                       std::vector<PropertyInfo> properties = {}) {
        ClassInfo info;
        info.name = std::move(name);
        info.superclassName = std::move(superclassName);
        info.type = std::type_index(typeid(T));
        if constexpr (std::is_default_constructible_v<T>)
            info.factory = [] { return std::static_pointer_cast<Object>(std::make_shared<T>()); };
        info.protocols = std::move(protocols);
        info.properties = std::move(properties);
        registerClass(std::move(info));
    }

    std::shared_ptr<const ClassInfo> classNamed(std::string_view name) const;
    std::shared_ptr<const ClassInfo> classOf(const std::type_info& type) const;
    std::shared_ptr<const ClassInfo> superclassOf(const ClassInfo& info) const;

    // Makes an object of the named class through its factory; null when unknown or not makeable.
    ObjectPtr create(std::string_view name) const;

    bool isSubclass(std::string_view name, std::string_view ofName) const;
    // Whether the class or one of its superclasses adopts the protocol.
    bool conformsTo(std::string_view name, std::string_view protocol) const;

    // The class method the named class or one of its superclasses answers to; empty when none does.
    ClassMethod classMethod(std::string_view name, std::string_view selector) const;

    void unregisterClass(std::string_view name);

private:
    ClassRegistry() = default;
    struct State;
    State& state() const;
};

} // namespace platform
