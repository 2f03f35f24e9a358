#include "json/MappedModelClassProperty.h"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <vector>

int MappedModelClassProperty::getterType() const {
    std::lock_guard lock(m_mutex);
    return m_getterType;
}

std::optional<std::string> MappedModelClassProperty::customGetter() const {
    std::lock_guard lock(m_mutex);
    return m_customGetter;
}

void MappedModelClassProperty::setCustomGetter(std::optional<std::string> selector) const {
    std::lock_guard lock(m_mutex);
    m_getterType = selector ? 1 : 2;
    m_customGetter = std::move(selector);
}

std::optional<std::string> MappedModelClassProperty::customSetter(std::string_view sourceClassName) const {
    std::lock_guard lock(m_mutex);
    if (!m_customSetters)
        return std::nullopt;
    auto it = m_customSetters->find(sourceClassName);
    if (it == m_customSetters->end())
        return std::nullopt;
    return it->second;
}

void MappedModelClassProperty::setCustomSetter(std::string sourceClassName, std::string selector) const {
    std::lock_guard lock(m_mutex);
    if (!m_customSetters)
        m_customSetters.emplace();
    m_customSetters->insert_or_assign(std::move(sourceClassName), std::move(selector));
    m_hasSetterCache.store(true, std::memory_order_release);
}

bool MappedModelClassProperty::hasSetterCache() const {
    // Asked for every value imported; once there, the cache never goes away.
    return m_hasSetterCache.load(std::memory_order_acquire);
}

std::string MappedModelClassProperty::description() const {
    std::vector<std::string> flags;
    if (isIndex)
        flags.emplace_back("Index");
    if (isOptional)
        flags.emplace_back("Optional");
    if (isMutable)
        flags.emplace_back("Mutable");
    if (convertsOnDemand)
        flags.emplace_back("ConvertOnDemand");
    if (isStandardJSONType)
        flags.emplace_back("Standard JSON type");
    {
        std::lock_guard lock(m_mutex);
        if (m_customGetter)
            flags.push_back(fmt::format("Getter = {}", *m_customGetter));
        if (m_customSetters) {
            std::vector<std::string> setters;
            for (const auto& [source, selector] : *m_customSetters) {
                if (!selector.empty())
                    setters.push_back(selector);
            }
            flags.push_back(fmt::format("Setters = [{}]", fmt::join(setters, ", ")));
        }
    }
    std::string typePart = type         ? fmt::format("{}*", *type)
                           : structName ? *structName
                                        : std::string("primitive");
    std::string protocolPart = protocol ? fmt::format("<{}>", *protocol) : std::string();
    std::string flagsPart = flags.empty() ? std::string() : fmt::format("({})", fmt::join(flags, ", "));
    return fmt::format("@property {}{} {} {}", typePart, protocolPart, name, flagsPart);
}
