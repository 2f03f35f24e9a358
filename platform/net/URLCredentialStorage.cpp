#include "platform/net/URLCredentialStorage.h"

#include "platform/foundation/Immortal.h"

#include <algorithm>

namespace platform {

std::shared_ptr<URLCredentialStorage> URLCredentialStorage::sharedCredentialStorage() {
    // Download threads may still ask while the process's static destructors run.
    static detail::Immortal<std::shared_ptr<URLCredentialStorage>> shared(
        std::make_shared<URLCredentialStorage>());
    return shared.get();
}

template <class Entries>
auto URLCredentialStorage::entryIn(Entries& entries, const URLProtectionSpace& space) {
    auto found = std::find_if(entries.begin(), entries.end(),
                              [&](const Entry& entry) { return entry.space->isEqual(space); });
    return found == entries.end() ? nullptr : &*found;
}

std::map<std::string, URLCredentialPtr>
URLCredentialStorage::credentialsForProtectionSpace(const URLProtectionSpace& space) const {
    std::lock_guard lock(m_mutex);
    const Entry* entry = entryIn(m_entries, space);
    return entry ? entry->byUser : std::map<std::string, URLCredentialPtr>{};
}

URLCredentialPtr
URLCredentialStorage::defaultCredentialForProtectionSpace(const URLProtectionSpace& space) const {
    std::lock_guard lock(m_mutex);
    const Entry* entry = entryIn(m_entries, space);
    if (!entry || entry->defaultUser.empty())
        return nullptr;
    auto found = entry->byUser.find(entry->defaultUser);
    return found == entry->byUser.end() ? nullptr : found->second;
}

void URLCredentialStorage::setCredential(const URLCredentialPtr& credential,
                                         const URLProtectionSpacePtr& space) {
    std::lock_guard lock(m_mutex);
    store(credential, space);
}

void URLCredentialStorage::setDefaultCredential(const URLCredentialPtr& credential,
                                                const URLProtectionSpacePtr& space) {
    std::lock_guard lock(m_mutex);
    if (store(credential, space))
        entryIn(m_entries, *space)->defaultUser = *credential->user();
}

void URLCredentialStorage::removeCredential(const URLCredentialPtr& credential,
                                            const URLProtectionSpace& space) {
    if (!credential || !credential->user())
        return;
    std::lock_guard lock(m_mutex);
    Entry* entry = entryIn(m_entries, space);
    if (!entry)
        return;
    entry->byUser.erase(*credential->user());
    if (entry->defaultUser == *credential->user())
        entry->defaultUser.clear();
}

bool URLCredentialStorage::store(const URLCredentialPtr& credential, const URLProtectionSpacePtr& space) {
    if (!credential || !space || !credential->user() || credential->serverTrust())
        return false;
    Entry* entry = entryIn(m_entries, *space);
    if (!entry)
        entry = &m_entries.emplace_back(Entry{space, {}, {}});
    entry->byUser[*credential->user()] = credential;
    return true;
}

} // namespace platform
