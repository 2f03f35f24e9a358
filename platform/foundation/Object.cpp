#include "platform/foundation/Object.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Value.h"

#include <cxxabi.h>
#include <fmt/format.h>
#include <map>
#include <typeinfo>

namespace platform {

struct Object::Associations {
    std::map<const void*, Value> values;
};

Object::Object() = default;
Object::~Object() = default;

namespace {
std::string demangled(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}
} // namespace

std::string Object::className() const {
    if (auto info = ClassRegistry::shared().classOf(typeid(*this)))
        return info->name;
    return demangled(typeid(*this));
}

bool Object::isKindOf(std::string_view name) const {
    auto own = className();
    return own == name || ClassRegistry::shared().isSubclass(own, name);
}

bool Object::respondsTo(std::string_view) const {
    return false;
}

std::string Object::description() const {
    return fmt::format("<{}: {}>", className(), fmt::ptr(this));
}

void Object::setAssociatedObject(const void* key, const Value& value) {
    Value previous; // released outside the lock: its destructor may reach back into this object
    std::lock_guard lock(m_associationsMutex);
    if (value.isNil()) {
        if (m_associations) {
            auto it = m_associations->values.find(key);
            if (it != m_associations->values.end()) {
                previous = std::move(it->second);
                m_associations->values.erase(it);
            }
        }
        return;
    }
    if (!m_associations)
        m_associations = std::make_unique<Associations>();
    auto& slot = m_associations->values[key];
    previous = std::move(slot);
    slot = value;
}

Value Object::associatedObject(const void* key) const {
    std::lock_guard lock(m_associationsMutex);
    if (!m_associations)
        return {};
    auto it = m_associations->values.find(key);
    return it == m_associations->values.end() ? Value() : it->second;
}

} // namespace platform
