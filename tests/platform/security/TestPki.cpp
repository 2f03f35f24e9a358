#include "TestPki.h"

#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace securitytest {

namespace {

void check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("test PKI: ") + what);
}

void addExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    check(extension != nullptr, "extension");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

std::string keyToPEM(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* bytes = nullptr;
    long length = BIO_get_mem_data(bio, &bytes);
    std::string pem(bytes, static_cast<size_t>(length));
    BIO_free(bio);
    return pem;
}

} // namespace

Key makeKey() {
    Key key(EVP_EC_gen("P-256"));
    check(key != nullptr, "key");
    return key;
}

Issued issue(const CertificateTemplate& blueprint, const Issued* issuer) {
    static long serial = 1;
    Key key = makeKey();
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
    X509_gmtime_adj(X509_getm_notBefore(certificate), blueprint.notBeforeOffset);
    X509_gmtime_adj(X509_getm_notAfter(certificate), blueprint.notAfterOffset);
    X509_set_pubkey(certificate, key.get());
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(blueprint.commonName.c_str()), -1, -1,
                               0);
    X509* issuerCertificate = issuer ? issuer->certificate->x509() : certificate;
    X509_set_issuer_name(certificate, X509_get_subject_name(issuerCertificate));

    addExtension(certificate, issuerCertificate, NID_basic_constraints,
                 blueprint.isCA ? "critical,CA:TRUE" : "CA:FALSE");
    addExtension(certificate, issuerCertificate, NID_subject_key_identifier, "hash");
    if (blueprint.isCA) {
        addExtension(certificate, issuerCertificate, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(certificate, issuerCertificate, NID_key_usage, "critical,digitalSignature");
        addExtension(certificate, issuerCertificate, NID_ext_key_usage, "serverAuth,clientAuth");
    }
    std::string alternatives;
    for (const auto& dns : blueprint.dnsNames)
        alternatives += (alternatives.empty() ? "DNS:" : ",DNS:") + dns;
    for (const auto& ip : blueprint.ipAddresses)
        alternatives += (alternatives.empty() ? "IP:" : ",IP:") + ip;
    if (!alternatives.empty())
        addExtension(certificate, issuerCertificate, NID_subject_alt_name, alternatives);

    EVP_PKEY* signingKey = key.get();
    Key issuerKey;
    if (issuer) {
        BIO* bio = BIO_new_mem_buf(issuer->keyPEM.data(), static_cast<int>(issuer->keyPEM.size()));
        issuerKey.reset(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
        BIO_free(bio);
        signingKey = issuerKey.get();
    }
    check(X509_sign(certificate, signingKey, EVP_sha256()) > 0, "sign");

    Issued issued;
    issued.certificate = platform::TlsCertificate::createWithX509(certificate);
    X509_free(certificate);
    issued.keyPEM = keyToPEM(key.get());
    issued.identity = platform::TlsIdentity::createWithKey(issued.certificate, key.get());
    check(issued.certificate && issued.identity, "identity");
    return issued;
}

const Pki& pki() {
    static const Pki made = [] {
        auto authority = [](std::string name) {
            CertificateTemplate blueprint;
            blueprint.commonName = std::move(name);
            blueprint.isCA = true;
            return blueprint;
        };
        Pki p;
        p.root = issue(authority("Test Root CA"), nullptr);
        p.intermediate = issue(authority("Test Intermediate CA"), &p.root);
        CertificateTemplate server;
        server.commonName = "localhost";
        server.dnsNames = {"localhost"};
        server.ipAddresses = {"127.0.0.1", "::1"};
        p.server = issue(server, &p.intermediate);
        CertificateTemplate expired = server;
        expired.notBeforeOffset = -10 * 86400;
        expired.notAfterOffset = -86400;
        p.expiredServer = issue(expired, &p.intermediate);
        p.selfSigned = issue(server, nullptr);
        p.otherRoot = issue(authority("Unrelated Root CA"), nullptr);
        return p;
    }();
    return made;
}

} // namespace securitytest
