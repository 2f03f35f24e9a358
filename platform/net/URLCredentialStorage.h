#pragma once
// URLCredentialStorage: the process's store of credentials for HTTP authentication, kept by protection
// space (host, port, protocol, realm, authentication method: URLProtectionSpace::isEqual) and, within a
// space, by user. One credential of a space may be its default: the one a connection that uses the
// storage offers when a server of that space asks. The storage itself answers no challenge; the
// connections that consult it do.
//
// Kept in memory for the life of the process: nothing is written to disk, whatever a credential's
// persistence says. A credential without a user, or a server-trust acceptance, is not stored.
// Thread-safe; a credential handed out stays valid after it is removed.

#include "platform/net/URLAuthenticationChallenge.h"
#include "platform/net/URLCredential.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class URLCredentialStorage {
public:
    static std::shared_ptr<URLCredentialStorage> sharedCredentialStorage();

    // By user; empty when the space has none.
    std::map<std::string, URLCredentialPtr>
    credentialsForProtectionSpace(const URLProtectionSpace& space) const;
    URLCredentialPtr defaultCredentialForProtectionSpace(const URLProtectionSpace& space) const;

    // Replaces the space's credential of the same user (and the default, when it was that user's).
    void setCredential(const URLCredentialPtr& credential, const URLProtectionSpacePtr& space);
    // Stores the credential as setCredential does and makes it the space's default.
    void setDefaultCredential(const URLCredentialPtr& credential, const URLProtectionSpacePtr& space);
    // Removes the space's credential of that credential's user; the default too when it was that one.
    void removeCredential(const URLCredentialPtr& credential, const URLProtectionSpace& space);

private:
    struct Entry {
        URLProtectionSpacePtr space;
        std::map<std::string, URLCredentialPtr> byUser;
        std::string defaultUser; // empty: no default
    };

    template <class Entries> static auto entryIn(Entries& entries, const URLProtectionSpace& space);
    // False when the credential cannot be stored (see above).
    bool store(const URLCredentialPtr& credential, const URLProtectionSpacePtr& space);

    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

} // namespace platform
