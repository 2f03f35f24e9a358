#include "platform/net/URLCache.h"

namespace platform {

namespace {

std::mutex g_sharedMutex;
std::shared_ptr<URLCache> g_shared;

uint64_t costOf(const CachedURLResponse& cached) {
    uint64_t cost = cached.data().length() + 256;
    if (auto* http = dynamic_cast<const HTTPURLResponse*>(cached.response().get()))
        for (const auto& [name, value] : http->allHeaderFields())
            cost += name.size() + value.size() + 4;
    return cost;
}

} // namespace

CachedURLResponse::CachedURLResponse(URLResponsePtr response, Data data, Value userInfo,
                                     NSURLCacheStoragePolicy storagePolicy)
    : m_response(std::move(response))
    , m_data(std::move(data))
    , m_userInfo(std::move(userInfo))
    , m_storagePolicy(storagePolicy) {}

std::shared_ptr<URLCache> URLCache::sharedURLCache() {
    std::lock_guard lock(g_sharedMutex);
    if (!g_shared)
        g_shared = create(defaultMemoryCapacity);
    return g_shared;
}

void URLCache::setSharedURLCache(std::shared_ptr<URLCache> cache) {
    std::lock_guard lock(g_sharedMutex);
    g_shared = std::move(cache);
}

std::shared_ptr<URLCache> URLCache::create(uint64_t memoryCapacity, uint64_t diskCapacity,
                                           std::optional<std::string>) {
    return std::make_shared<URLCache>(PrivateTag{}, memoryCapacity, diskCapacity);
}

URLCache::URLCache(PrivateTag, uint64_t memoryCapacity, uint64_t diskCapacity)
    : m_memoryCapacity(memoryCapacity)
    , m_diskCapacity(diskCapacity) {}

std::string URLCache::keyFor(const URLRequest& request) {
    if (!request.URL())
        return {};
    const std::string& text = request.URL()->absoluteString();
    return text.substr(0, text.find('#'));
}

std::optional<URLCache::Entry> URLCache::entryForRequest(const URLRequest& request) const {
    std::string key = keyFor(request);
    if (key.empty() || request.HTTPMethod() != "GET")
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    auto found = m_slots.find(key);
    if (found == m_slots.end())
        return std::nullopt;
    m_recency.splice(m_recency.begin(), m_recency, found->second.recency);
    return found->second.entry;
}

CachedURLResponsePtr URLCache::cachedResponseForRequest(const URLRequest& request) const {
    auto entry = entryForRequest(request);
    return entry ? entry->cachedResponse : nullptr;
}

void URLCache::storeCachedResponse(const CachedURLResponsePtr& cachedResponse, const URLRequest& request) {
    std::string key = keyFor(request);
    if (!cachedResponse || !cachedResponse->response() || key.empty() || request.HTTPMethod() != "GET" ||
        cachedResponse->storagePolicy() == NSURLCacheStorageNotAllowed)
        return;
    uint64_t cost = costOf(*cachedResponse);
    std::lock_guard lock(m_mutex);
    removeLocked(key);
    if (cost > m_memoryCapacity / 20)
        return;
    m_recency.push_front(key);
    m_slots.emplace(key, Slot{Entry{cachedResponse, Date::now()}, cost, m_recency.begin()});
    m_usage += cost;
    evictLocked();
}

void URLCache::removeLocked(const std::string& key) {
    auto found = m_slots.find(key);
    if (found == m_slots.end())
        return;
    m_usage -= found->second.cost;
    m_recency.erase(found->second.recency);
    m_slots.erase(found);
}

void URLCache::evictLocked() {
    while (m_usage > m_memoryCapacity && !m_recency.empty())
        removeLocked(m_recency.back());
}

void URLCache::removeCachedResponseForRequest(const URLRequest& request) {
    std::lock_guard lock(m_mutex);
    removeLocked(keyFor(request));
}

void URLCache::removeAllCachedResponses() {
    std::lock_guard lock(m_mutex);
    m_slots.clear();
    m_recency.clear();
    m_usage = 0;
}

void URLCache::removeCachedResponsesSinceDate(Date date) {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> doomed;
    for (const auto& [key, slot] : m_slots)
        if (slot.entry.storedAt >= date)
            doomed.push_back(key);
    for (const auto& key : doomed)
        removeLocked(key);
}

uint64_t URLCache::memoryCapacity() const {
    std::lock_guard lock(m_mutex);
    return m_memoryCapacity;
}

void URLCache::setMemoryCapacity(uint64_t bytes) {
    std::lock_guard lock(m_mutex);
    m_memoryCapacity = bytes;
    evictLocked();
}

uint64_t URLCache::diskCapacity() const {
    std::lock_guard lock(m_mutex);
    return m_diskCapacity;
}

void URLCache::setDiskCapacity(uint64_t bytes) {
    std::lock_guard lock(m_mutex);
    m_diskCapacity = bytes;
}

uint64_t URLCache::currentMemoryUsage() const {
    std::lock_guard lock(m_mutex);
    return m_usage;
}

} // namespace platform
