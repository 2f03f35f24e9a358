#include "platform/security/TlsSessionCache.h"

namespace platform::detail {

TlsSessionCache& TlsSessionCache::shared() {
    // Lives for the process, like the platform's own session cache. The library is initialised first
    // so that its exit-time cleanup runs after this cache has released its sessions.
    static const bool libraryReady = OPENSSL_init_ssl(0, nullptr) == 1;
    (void)libraryReady;
    static TlsSessionCache cache;
    return cache;
}

void TlsSessionCache::store(const Data& peerID, SSL_SESSION* session) {
    UniqueSslSession owned(session);
    std::string key = peerID.toString();
    std::lock_guard lock(m_mutex);
    if (auto found = m_entries.find(key); found != m_entries.end()) {
        found->second.session = std::move(owned);
        m_order.splice(m_order.end(), m_order, found->second.position);
        return;
    }
    if (m_entries.size() >= kCapacity) {
        m_entries.erase(m_order.front());
        m_order.pop_front();
    }
    auto position = m_order.insert(m_order.end(), key);
    m_entries.emplace(std::move(key), Entry{std::move(owned), position});
}

UniqueSslSession TlsSessionCache::copy(const Data& peerID) {
    std::lock_guard lock(m_mutex);
    auto found = m_entries.find(peerID.toString());
    if (found == m_entries.end() || !SSL_SESSION_up_ref(found->second.session.get()))
        return nullptr;
    return UniqueSslSession(found->second.session.get());
}

void TlsSessionCache::remove(const Data& peerID) {
    std::lock_guard lock(m_mutex);
    auto found = m_entries.find(peerID.toString());
    if (found == m_entries.end())
        return;
    m_order.erase(found->second.position);
    m_entries.erase(found);
}

void TlsSessionCache::clear() {
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_order.clear();
}

size_t TlsSessionCache::size() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

} // namespace platform::detail
