#pragma once
// Certificates and identities for the TLS engine and trust evaluation (the platform's certificate and
// identity objects). A TlsCertificate is one X.509 certificate; a TlsIdentity is a certificate with
// its private key, what a server (or a client asked for one) presents.
//
// Both are immutable once made and safe to share across threads. Factories answer null for bytes
// that do not parse (or a key that does not belong to the certificate); they never throw. They are
// platform Objects so they can travel in a settings dictionary's certificate array.

#include "platform/foundation/Data.h"
#include "platform/foundation/Object.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct x509_st;
struct evp_pkey_st;

namespace platform {

class TlsCertificate final : public Object {
public:
    // From DER bytes (the platform's create-with-data call).
    static std::shared_ptr<TlsCertificate> createWithData(const Data& der);
    // From the first PEM certificate block in the text.
    static std::shared_ptr<TlsCertificate> createWithPEM(std::string_view pem);
    // Every PEM certificate block in the text, in order (empty when there is none).
    static std::vector<std::shared_ptr<TlsCertificate>> createAllWithPEM(std::string_view pem);
    // Takes one reference to `certificate`; the caller keeps its own.
    static std::shared_ptr<TlsCertificate> createWithX509(x509_st* certificate);

    ~TlsCertificate() override;

    Data data() const; // DER
    std::string pem() const;
    // The subject's common name, else the whole subject in one line.
    std::string subjectSummary() const;
    std::optional<std::string> commonName() const;
    bool isEqual(const TlsCertificate& other) const { return data() == other.data(); }

    std::string description() const override;

    x509_st* x509() const { return m_x509; }

private:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    TlsCertificate(PrivateTag, x509_st* certificate)
        : m_x509(certificate) {} // through the factories only

private:
    x509_st* m_x509{nullptr};
};

using TlsCertificatePtr = std::shared_ptr<TlsCertificate>;

class TlsIdentity final : public Object {
public:
    // A certificate and its private key (PEM; an encrypted key needs its passphrase).
    static std::shared_ptr<TlsIdentity> create(TlsCertificatePtr certificate, std::string_view privateKeyPEM,
                                               std::string_view passphrase = {});
    static std::shared_ptr<TlsIdentity> createWithPEM(std::string_view certificatePEM,
                                                      std::string_view privateKeyPEM,
                                                      std::string_view passphrase = {});
    // Takes one reference to `privateKey`.
    static std::shared_ptr<TlsIdentity> createWithKey(TlsCertificatePtr certificate, evp_pkey_st* privateKey);

    struct PKCS12Contents;
    // The identity and the extra certificates of a PKCS#12 archive (the platform's import call);
    // nullopt for bytes that do not parse or a wrong passphrase.
    static std::optional<PKCS12Contents> importPKCS12(const Data& archive, std::string_view passphrase);

    ~TlsIdentity() override;

    const TlsCertificatePtr& certificate() const { return m_certificate; }
    evp_pkey_st* privateKey() const { return m_key; }

private:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    TlsIdentity(PrivateTag, TlsCertificatePtr certificate, evp_pkey_st* key) // through the factories only
        : m_certificate(std::move(certificate))
        , m_key(key) {}

private:
    TlsCertificatePtr m_certificate;
    evp_pkey_st* m_key{nullptr};
};

using TlsIdentityPtr = std::shared_ptr<TlsIdentity>;

struct TlsIdentity::PKCS12Contents {
    TlsIdentityPtr identity;
    std::vector<TlsCertificatePtr> chain;
};

} // namespace platform
