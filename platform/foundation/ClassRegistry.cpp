#include "platform/foundation/ClassRegistry.h"

#include <map>
#include <shared_mutex>
#include <unordered_map>

namespace platform {

struct ClassRegistry::State {
    mutable std::shared_mutex mutex;
    std::map<std::string, std::shared_ptr<const ClassInfo>, std::less<>> byName;
    std::unordered_map<std::type_index, std::shared_ptr<const ClassInfo>> byType;
};

ClassRegistry& ClassRegistry::shared() {
    static ClassRegistry registry;
    return registry;
}

ClassRegistry::State& ClassRegistry::state() const {
    static State s;
    return s;
}

void ClassRegistry::registerClass(ClassInfo info) {
    auto entry = std::make_shared<const ClassInfo>(std::move(info));
    auto& s = state();
    std::unique_lock lock(s.mutex);
    auto& slot = s.byName[entry->name];
    // The replaced entry's C++ type must stop answering to the name, or objects of that type would
    // keep reporting it (even after the name is unregistered).
    if (slot && slot->type) {
        auto typed = s.byType.find(*slot->type);
        if (typed != s.byType.end() && typed->second == slot)
            s.byType.erase(typed);
    }
    slot = entry;
    if (entry->type)
        s.byType[*entry->type] = entry;
}

void ClassRegistry::unregisterClass(std::string_view name) {
    auto& s = state();
    std::unique_lock lock(s.mutex);
    auto it = s.byName.find(name);
    if (it == s.byName.end())
        return;
    if (it->second->type) {
        auto typed = s.byType.find(*it->second->type);
        if (typed != s.byType.end() && typed->second == it->second)
            s.byType.erase(typed);
    }
    s.byName.erase(it);
}

std::shared_ptr<const ClassInfo> ClassRegistry::classNamed(std::string_view name) const {
    auto& s = state();
    std::shared_lock lock(s.mutex);
    auto it = s.byName.find(name);
    return it == s.byName.end() ? nullptr : it->second;
}

std::shared_ptr<const ClassInfo> ClassRegistry::classOf(const std::type_info& type) const {
    auto& s = state();
    std::shared_lock lock(s.mutex);
    auto it = s.byType.find(std::type_index(type));
    return it == s.byType.end() ? nullptr : it->second;
}

std::shared_ptr<const ClassInfo> ClassRegistry::superclassOf(const ClassInfo& info) const {
    return info.superclassName.empty() ? nullptr : classNamed(info.superclassName);
}

ObjectPtr ClassRegistry::create(std::string_view name) const {
    auto info = classNamed(name);
    return info && info->factory ? info->factory() : nullptr;
}

bool ClassRegistry::isSubclass(std::string_view name, std::string_view ofName) const {
    std::string current(name);
    // The chain is walked by name, with a bound so that a registration cycle cannot hang us.
    for (int depth = 0; depth < 256 && !current.empty(); ++depth) {
        if (current == ofName)
            return true;
        auto info = classNamed(current);
        if (!info)
            return false;
        current = info->superclassName;
    }
    return false;
}

ClassMethod ClassRegistry::classMethod(std::string_view name, std::string_view selector) const {
    std::string current(name);
    for (int depth = 0; depth < 256 && !current.empty(); ++depth) {
        auto info = classNamed(current);
        if (!info)
            return {};
        if (auto found = info->classMethods.find(selector); found != info->classMethods.end())
            return found->second;
        current = info->superclassName;
    }
    return {};
}

bool ClassRegistry::conformsTo(std::string_view name, std::string_view protocol) const {
    std::string current(name);
    for (int depth = 0; depth < 256 && !current.empty(); ++depth) {
        auto info = classNamed(current);
        if (!info)
            return false;
        for (const auto& adopted : info->protocols) {
            if (adopted == protocol)
                return true;
        }
        current = info->superclassName;
    }
    return false;
}

} // namespace platform
