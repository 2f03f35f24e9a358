#pragma once
// Internal to platform/security: owning handles for the crypto library's objects and small helpers
// shared by the certificate, trust and TLS code. Not for use outside this folder.

#include <memory>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <string>

namespace platform::detail {

template <typename T, void (*Free)(T*)> struct Freer {
    void operator()(T* object) const { Free(object); }
};

using UniqueBio = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using UniquePkcs12 = std::unique_ptr<PKCS12, Freer<PKCS12, PKCS12_free>>;
using UniqueX509Store = std::unique_ptr<X509_STORE, Freer<X509_STORE, X509_STORE_free>>;
using UniqueX509StoreCtx = std::unique_ptr<X509_STORE_CTX, Freer<X509_STORE_CTX, X509_STORE_CTX_free>>;
using UniqueSsl = std::unique_ptr<SSL, Freer<SSL, SSL_free>>;
using UniqueSslSession = std::unique_ptr<SSL_SESSION, Freer<SSL_SESSION, SSL_SESSION_free>>;

inline void freeX509Stack(STACK_OF(X509) * stack) {
    sk_X509_pop_free(stack, X509_free);
}
using UniqueX509Stack = std::unique_ptr<STACK_OF(X509), Freer<STACK_OF(X509), freeX509Stack>>;

// Everything written into a memory BIO, as text.
std::string bioText(BIO* bio);

// The system's trust store (the distribution's CA certificates), loaded once and shared; the caller
// gets its own reference.
X509_STORE* systemTrustStore();

} // namespace platform::detail
