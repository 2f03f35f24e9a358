#pragma once
// Certificates made when a TLS test first asks for them: a root authority, a server leaf it issued for
// "localhost", 127.0.0.1 and ::1, and a self-signed leaf for the same names. EC P-256 keys keep the
// generation quick under the sanitizers. Nothing is written to disk.

#include "platform/foundation/Value.h"
#include "platform/security/TlsCertificate.h"

namespace liveapp::test {

struct TestCredential {
    platform::TlsCertificatePtr certificate;
    platform::TlsIdentityPtr identity;
};

struct TestPki {
    TestCredential root;       // the authority the test delegates trust
    TestCredential server;     // issued by root
    TestCredential selfSigned; // its own issuer
};

// One set per test process.
const TestPki& testPki();

// The settings a server socket hands to startTLS to present `credential`.
platform::Value serverTlsSettings(const TestCredential& credential);

} // namespace liveapp::test
