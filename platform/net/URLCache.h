#pragma once
// The response cache sessions read and fill: complete GET responses with their bodies, keyed by URL,
// held in memory up to a byte capacity and dropped least recently used first. A response larger than
// a twentieth of the capacity is not kept, so one download cannot flush the rest. The shared cache
// (4 MB) serves every default session; ephemeral sessions make their own.
//
// What the cache holds is only half of caching: which policy may use a stored response, and when it
// must be revalidated, is the session's business (URLSessionConfiguration, URLRequest cache policy).
// Thread-safe. Not offered: a disk tier (diskCapacity is kept but nothing is written).

#include "platform/foundation/Data.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace platform {

enum NSURLCacheStoragePolicy : uint64_t {
    NSURLCacheStorageAllowed = 0,
    NSURLCacheStorageAllowedInMemoryOnly = 1,
    NSURLCacheStorageNotAllowed = 2,
};

class CachedURLResponse final : public Object {
public:
    CachedURLResponse(URLResponsePtr response, Data data, Value userInfo = {},
                      NSURLCacheStoragePolicy storagePolicy = NSURLCacheStorageAllowed);

    const URLResponsePtr& response() const { return m_response; }
    const Data& data() const { return m_data; }
    const Value& userInfo() const { return m_userInfo; }
    NSURLCacheStoragePolicy storagePolicy() const { return m_storagePolicy; }

private:
    URLResponsePtr m_response;
    Data m_data;
    Value m_userInfo;
    NSURLCacheStoragePolicy m_storagePolicy;
};

using CachedURLResponsePtr = std::shared_ptr<CachedURLResponse>;

class URLCache {
public:
    static constexpr uint64_t defaultMemoryCapacity = 4 * 1024 * 1024;

    static std::shared_ptr<URLCache> sharedURLCache();
    static void setSharedURLCache(std::shared_ptr<URLCache> cache); // null restores a fresh default cache
    // initWithMemoryCapacity:diskCapacity:diskPath:
    static std::shared_ptr<URLCache> create(uint64_t memoryCapacity, uint64_t diskCapacity = 0,
                                            std::optional<std::string> diskPath = std::nullopt);

    CachedURLResponsePtr cachedResponseForRequest(const URLRequest& request) const;
    // Refused (silently) for a storage policy of NotAllowed, a request that is not a GET, or a
    // response too large for the capacity.
    void storeCachedResponse(const CachedURLResponsePtr& cachedResponse, const URLRequest& request);
    void removeCachedResponseForRequest(const URLRequest& request);
    void removeAllCachedResponses();
    void removeCachedResponsesSinceDate(Date date);

    uint64_t memoryCapacity() const;
    void setMemoryCapacity(uint64_t bytes); // shrinking drops the least recently used at once
    uint64_t diskCapacity() const;
    void setDiskCapacity(uint64_t bytes);
    uint64_t currentMemoryUsage() const;
    uint64_t currentDiskUsage() const { return 0; }

    // A stored response with the wall time it was stored at, which sessions need to judge freshness.
    struct Entry {
        CachedURLResponsePtr cachedResponse;
        Date storedAt;
    };
    std::optional<Entry> entryForRequest(const URLRequest& request) const;

private:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    URLCache(PrivateTag, uint64_t memoryCapacity, uint64_t diskCapacity);

private:
    struct Slot {
        Entry entry;
        uint64_t cost{0};
        std::list<std::string>::iterator recency;
    };
    static std::string keyFor(const URLRequest& request);
    void evictLocked();
    void removeLocked(const std::string& key);

    mutable std::mutex m_mutex;
    uint64_t m_memoryCapacity;
    uint64_t m_diskCapacity;
    uint64_t m_usage{0};
    std::unordered_map<std::string, Slot> m_slots;
    mutable std::list<std::string> m_recency; // most recently used first
};

} // namespace platform
