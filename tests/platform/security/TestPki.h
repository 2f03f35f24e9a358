#pragma once
// Certificates made at test time for the TLS tests: a root CA, an intermediate, and leaves for
// "localhost" and 127.0.0.1 (valid, expired, self-signed), each with its key. EC P-256 keys keep
// generation fast under the sanitizers.

#include "platform/security/TlsCertificate.h"

#include <memory>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <string>
#include <vector>

namespace securitytest {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

struct Issued {
    platform::TlsCertificatePtr certificate;
    platform::TlsIdentityPtr identity;
    std::string keyPEM;
};

struct CertificateTemplate {
    std::string commonName;
    std::vector<std::string> dnsNames;
    std::vector<std::string> ipAddresses;
    bool isCA{false};
    long notBeforeOffset{-3600}; // seconds from now
    long notAfterOffset{86400};
};

Key makeKey();
// Signed by `issuer` with `issuerKey`; self-signed when issuer is null.
Issued issue(const CertificateTemplate& blueprint, const Issued* issuer);

// One set per test process, made on first use.
struct Pki {
    Issued root;
    Issued intermediate;
    Issued server;        // localhost and 127.0.0.1, issued by the intermediate
    Issued expiredServer; // same names, expired yesterday
    Issued selfSigned;    // localhost, its own issuer
    Issued otherRoot;     // an unrelated root
};
const Pki& pki();

} // namespace securitytest
