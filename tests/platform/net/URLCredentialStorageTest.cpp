#include "platform/net/URLCredentialStorage.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

URLProtectionSpacePtr space(std::string host = "images.test", int64_t port = 8080,
                            std::string protocol = "http", std::optional<std::string> realm = "images",
                            std::string method = NSURLAuthenticationMethodHTTPBasic) {
    return std::make_shared<const URLProtectionSpace>(std::move(host), port, std::move(protocol),
                                                      std::move(realm), std::move(method));
}

URLCredentialPtr credential(std::string user, std::string password) {
    return URLCredential::credentialWithUser(std::move(user), std::move(password),
                                             NSURLCredentialPersistenceForSession);
}

TEST(URLCredentialStorage, CredentialsAreKeptByEveryPartOfTheProtectionSpaceAndByUser) {
    URLCredentialStorage& storage = *URLCredentialStorage::sharedCredentialStorage();
    storage.setDefaultCredential(credential("anna", "first"), space());
    storage.setCredential(credential("ben", "second"), space());
    EXPECT_EQ(storage.defaultCredentialForProtectionSpace(*space())->password(), "first");
    EXPECT_EQ(storage.credentialsForProtectionSpace(*space()).size(), 2u);

    const std::pair<const char*, URLProtectionSpacePtr> others[] = {
        {"host", space("other.test")},
        {"port", space("images.test", 8081)},
        {"protocol", space("images.test", 8080, "https")},
        {"realm", space("images.test", 8080, "http", "members")},
        {"no realm", space("images.test", 8080, "http", std::nullopt)},
        {"method", space("images.test", 8080, "http", "images", NSURLAuthenticationMethodHTTPDigest)},
    };
    for (const auto& [differs, other] : others) {
        EXPECT_FALSE(storage.defaultCredentialForProtectionSpace(*other)) << differs;
        EXPECT_TRUE(storage.credentialsForProtectionSpace(*other).empty()) << differs;
    }

    // The same user's credential replaces the stored one, also as the default.
    storage.setCredential(credential("anna", "renewed"), space());
    EXPECT_EQ(storage.defaultCredentialForProtectionSpace(*space())->password(), "renewed");
    storage.removeCredential(credential("anna", "whatever"), *space());
    EXPECT_FALSE(storage.defaultCredentialForProtectionSpace(*space()));
    EXPECT_EQ(storage.credentialsForProtectionSpace(*space()).count("ben"), 1u);

    // What answers no HTTP challenge is not kept.
    storage.setDefaultCredential(
        std::make_shared<URLCredential>(std::nullopt, "secret", NSURLCredentialPersistenceForSession),
        space("nouser.test"));
    storage.setDefaultCredential(URLCredential::credentialForTrust(nullptr), space("trust.test"));
    EXPECT_TRUE(storage.credentialsForProtectionSpace(*space("nouser.test")).empty());
    EXPECT_TRUE(storage.credentialsForProtectionSpace(*space("trust.test")).empty());
}

} // namespace
