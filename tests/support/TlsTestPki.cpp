#include "tests/support/TlsTestPki.h"

#include "platform/security/TlsSettingsKeys.h"

#include <memory>
#include <openssl/evp.h>
#include <openssl/x509v3.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace liveapp::test {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Certificate = std::unique_ptr<X509, CertificateFree>;

void require(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("test certificates: ") + what);
}

void addExtension(X509* subject, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, subject, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    require(extension != nullptr, "extension");
    X509_add_ext(subject, extension, -1);
    X509_EXTENSION_free(extension);
}

struct Made {
    TestCredential credential;
    Key key; // kept to sign what this one issues
};

Made make(const std::string& commonName, bool authority, const Made* issuer) {
    static long serial = 1000;
    Key key(EVP_EC_gen("P-256"));
    require(key != nullptr, "key");
    Certificate certificate(X509_new());
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial++);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 86400);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate.get()), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    X509* issuerCertificate = issuer ? issuer->credential.certificate->x509() : certificate.get();
    X509_set_issuer_name(certificate.get(), X509_get_subject_name(issuerCertificate));
    if (authority) {
        addExtension(certificate.get(), issuerCertificate, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(certificate.get(), issuerCertificate, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(certificate.get(), issuerCertificate, NID_basic_constraints, "CA:FALSE");
        addExtension(certificate.get(), issuerCertificate, NID_key_usage, "critical,digitalSignature");
        addExtension(certificate.get(), issuerCertificate, NID_ext_key_usage, "serverAuth");
        addExtension(certificate.get(), issuerCertificate, NID_subject_alt_name,
                     "DNS:localhost,IP:127.0.0.1,IP:::1");
    }
    addExtension(certificate.get(), issuerCertificate, NID_subject_key_identifier, "hash");
    require(X509_sign(certificate.get(), issuer ? issuer->key.get() : key.get(), EVP_sha256()) > 0, "sign");

    Made made;
    made.credential.certificate = platform::TlsCertificate::createWithX509(certificate.get());
    require(made.credential.certificate != nullptr, "certificate");
    made.credential.identity = platform::TlsIdentity::createWithKey(made.credential.certificate, key.get());
    require(made.credential.identity != nullptr, "identity");
    made.key = std::move(key);
    return made;
}

} // namespace

const TestPki& testPki() {
    static const TestPki pki = [] {
        Made root = make("Socket Test Root", true, nullptr);
        Made server = make("localhost", false, &root);
        Made selfSigned = make("localhost", false, nullptr);
        return TestPki{root.credential, server.credential, selfSigned.credential};
    }();
    return pki;
}

platform::Value serverTlsSettings(const TestCredential& credential) {
    return platform::Value::dictionary({
        {platform::kCFStreamSSLIsServer, true},
        {platform::kCFStreamSSLCertificates, platform::Value::array({platform::Value(credential.identity)})},
    });
}

} // namespace liveapp::test
