#include "platform/foundation/Cache.h"

namespace platform {

ObjectPtr Cache::objectForKey(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    auto found = m_index.find(key);
    return found == m_index.end() ? nullptr : found->second->object;
}

void Cache::setObject(ObjectPtr object, const std::string& key, uint64_t cost) {
    std::vector<ObjectPtr> released;
    std::lock_guard lock(m_mutex);
    if (auto found = m_index.find(key); found != m_index.end())
        eraseLocked(found->second, released);
    if (!object)
        return;
    m_entries.push_back({key, std::move(object), cost});
    m_index.emplace(key, std::prev(m_entries.end()));
    m_totalCost += cost;
    evictLocked(released);
}

void Cache::removeObjectForKey(const std::string& key) {
    std::vector<ObjectPtr> released;
    std::lock_guard lock(m_mutex);
    if (auto found = m_index.find(key); found != m_index.end())
        eraseLocked(found->second, released);
}

void Cache::removeAllObjects() {
    Entries released;
    std::lock_guard lock(m_mutex);
    released.swap(m_entries);
    m_index.clear();
    m_totalCost = 0;
}

std::string Cache::name() const {
    std::lock_guard lock(m_mutex);
    return m_name;
}

void Cache::setName(std::string name) {
    std::lock_guard lock(m_mutex);
    m_name = std::move(name);
}

uint64_t Cache::totalCostLimit() const {
    return readLocked(m_totalCostLimit);
}

void Cache::setTotalCostLimit(uint64_t limit) {
    setLimit(m_totalCostLimit, limit);
}

uint64_t Cache::countLimit() const {
    return readLocked(m_countLimit);
}

void Cache::setCountLimit(uint64_t limit) {
    setLimit(m_countLimit, limit);
}

uint64_t Cache::totalCost() const {
    return readLocked(m_totalCost);
}

uint64_t Cache::count() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

uint64_t Cache::readLocked(const uint64_t& field) const {
    std::lock_guard lock(m_mutex);
    return field;
}

void Cache::setLimit(uint64_t& limit, uint64_t value) {
    std::vector<ObjectPtr> released;
    std::lock_guard lock(m_mutex);
    limit = value;
    evictLocked(released);
}

void Cache::eraseLocked(Entries::iterator it, std::vector<ObjectPtr>& released) {
    released.push_back(std::move(it->object));
    m_totalCost -= it->cost;
    m_index.erase(it->key);
    m_entries.erase(it);
}

void Cache::evictLocked(std::vector<ObjectPtr>& released) {
    auto over = [this] {
        return (m_countLimit > 0 && m_entries.size() > m_countLimit) ||
               (m_totalCostLimit > 0 && m_totalCost > m_totalCostLimit);
    };
    while (!m_entries.empty() && over())
        eraseLocked(m_entries.begin(), released);
}

} // namespace platform
