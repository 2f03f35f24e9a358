#pragma once
// An answer to an authentication challenge: a user name and password for HTTP authentication, or the
// acceptance of a server's certificate chain (credentialForTrust) for a server-trust challenge.
// Immutable; shared by pointer.

#include "platform/foundation/Object.h"

#include <memory>
#include <optional>
#include <string>

namespace platform {

class URLServerTrust;

enum NSURLCredentialPersistence : uint64_t {
    NSURLCredentialPersistenceNone = 0,
    NSURLCredentialPersistenceForSession = 1, // the session remembers it for later challenges
    NSURLCredentialPersistencePermanent = 2,  // kept like ForSession: nothing is written to disk
    NSURLCredentialPersistenceSynchronizable = 3,
};

class URLCredential final : public Object {
public:
    URLCredential(std::optional<std::string> user, std::optional<std::string> password,
                  NSURLCredentialPersistence persistence,
                  std::shared_ptr<const URLServerTrust> trust = nullptr);

    // credentialWithUser:password:persistence:
    static std::shared_ptr<URLCredential> credentialWithUser(std::string user, std::string password,
                                                             NSURLCredentialPersistence persistence);
    // credentialForTrust: — accepts that server's certificate chain for the task that was challenged.
    static std::shared_ptr<URLCredential> credentialForTrust(std::shared_ptr<const URLServerTrust> trust);

    const std::optional<std::string>& user() const { return m_user; }
    const std::optional<std::string>& password() const { return m_password; }
    bool hasPassword() const { return m_password.has_value(); }
    NSURLCredentialPersistence persistence() const { return m_persistence; }
    const std::shared_ptr<const URLServerTrust>& serverTrust() const { return m_trust; }

private:
    std::optional<std::string> m_user;
    std::optional<std::string> m_password;
    NSURLCredentialPersistence m_persistence;
    std::shared_ptr<const URLServerTrust> m_trust;
};

using URLCredentialPtr = std::shared_ptr<URLCredential>;

} // namespace platform
