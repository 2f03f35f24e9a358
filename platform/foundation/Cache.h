#pragma once
// Cache: the platform's in-memory object cache. Objects are kept under text keys with a cost; when a
// total-cost limit or a count limit is set (0 means none), the oldest entries (by when they were last
// set) are evicted until both hold again, the entry just set included when its cost alone is over the
// limit. Lowering a limit evicts at once.
//
// Promises: thread-safe; reading an entry does not make it newer. Evicted and removed objects are let go
// of after the cache's lock, so their destructors may use the cache. Setting a null object removes the
// key. Not promised: eviction under memory pressure by itself (subclasses react to memory warnings).

#include "platform/foundation/Object.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

class Cache : public Object {
public:
    Cache() = default;

    ObjectPtr objectForKey(const std::string& key) const;
    void setObject(ObjectPtr object, const std::string& key, uint64_t cost = 0);
    void removeObjectForKey(const std::string& key);
    virtual void removeAllObjects();

    std::string name() const;
    void setName(std::string name);
    uint64_t totalCostLimit() const;
    void setTotalCostLimit(uint64_t limit);
    uint64_t countLimit() const;
    void setCountLimit(uint64_t limit);

    // What is held now (for callers that report it; the limits are what bound it).
    uint64_t totalCost() const;
    uint64_t count() const;

private:
    struct Entry {
        std::string key;
        ObjectPtr object;
        uint64_t cost{0};
    };
    using Entries = std::list<Entry>;

    uint64_t readLocked(const uint64_t& field) const;
    void setLimit(uint64_t& limit, uint64_t value);
    // Unlinks an entry; its object goes into `released`, to be dropped once the lock is let go.
    void eraseLocked(Entries::iterator it, std::vector<ObjectPtr>& released);
    void evictLocked(std::vector<ObjectPtr>& released);

    mutable std::mutex m_mutex;
    std::string m_name;
    uint64_t m_totalCostLimit{0};
    uint64_t m_countLimit{0};
    uint64_t m_totalCost{0};
    Entries m_entries; // oldest first
    std::unordered_map<std::string, Entries::iterator> m_index;
};

} // namespace platform
