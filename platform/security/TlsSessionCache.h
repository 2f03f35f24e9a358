#pragma once
// Internal to platform/security: the process-wide client session cache behind TlsContext::setPeerID.
// One session per peer ID (the latest the server gave), at most kCapacity peer IDs (the oldest entry
// goes first). Thread-safe: contexts on any queue store and look up concurrently.

#include "platform/foundation/Data.h"
#include "platform/security/OpenSslSupport.h"

#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace platform::detail {

class TlsSessionCache {
public:
    static constexpr size_t kCapacity = 256;

    static TlsSessionCache& shared();

    // Takes over the caller's reference to `session`.
    void store(const Data& peerID, SSL_SESSION* session);
    // A new reference to the session cached for the peer ID, or null.
    UniqueSslSession copy(const Data& peerID);
    void remove(const Data& peerID);
    void clear();
    size_t size() const;

private:
    using Order = std::list<std::string>;
    struct Entry {
        UniqueSslSession session;
        Order::iterator position;
    };

    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Entry> m_entries;
    Order m_order; // oldest first
};

} // namespace platform::detail
