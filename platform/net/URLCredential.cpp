#include "platform/net/URLCredential.h"

namespace platform {

URLCredential::URLCredential(std::optional<std::string> user, std::optional<std::string> password,
                             NSURLCredentialPersistence persistence,
                             std::shared_ptr<const URLServerTrust> trust)
    : m_user(std::move(user))
    , m_password(std::move(password))
    , m_persistence(persistence)
    , m_trust(std::move(trust)) {}

std::shared_ptr<URLCredential> URLCredential::credentialWithUser(std::string user, std::string password,
                                                                 NSURLCredentialPersistence persistence) {
    return std::make_shared<URLCredential>(std::move(user), std::move(password), persistence);
}

std::shared_ptr<URLCredential>
URLCredential::credentialForTrust(std::shared_ptr<const URLServerTrust> trust) {
    return std::make_shared<URLCredential>(std::nullopt, std::nullopt, NSURLCredentialPersistenceForSession,
                                           std::move(trust));
}

} // namespace platform
