#include "platform/security/TlsCertificate.h"

#include "platform/security/OpenSslSupport.h"

#include <climits>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

namespace platform {

namespace {

detail::UniqueBio memoryBio(std::string_view text) {
    if (text.size() > INT_MAX)
        return nullptr;
    return detail::UniqueBio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

// The passphrase callback of the PEM readers: copies the passphrase given as user data.
int passphraseCallback(char* buffer, int size, int, void* userData) {
    auto* passphrase = static_cast<const std::string*>(userData);
    if (!passphrase || passphrase->size() > static_cast<size_t>(size))
        return -1;
    passphrase->copy(buffer, passphrase->size());
    return static_cast<int>(passphrase->size());
}

} // namespace

std::shared_ptr<TlsCertificate> TlsCertificate::createWithData(const Data& der) {
    if (der.empty() || der.length() > LONG_MAX)
        return nullptr;
    const unsigned char* cursor = der.bytes();
    X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(der.length()));
    // Trailing bytes after the certificate mean the data is something else that merely starts like one.
    if (!certificate || cursor != der.bytes() + der.length()) {
        X509_free(certificate);
        return nullptr;
    }
    return std::make_shared<TlsCertificate>(PrivateTag{}, certificate);
}

std::shared_ptr<TlsCertificate> TlsCertificate::createWithPEM(std::string_view pem) {
    auto bio = memoryBio(pem);
    if (!bio)
        return nullptr;
    X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
    if (!certificate)
        return nullptr;
    return std::make_shared<TlsCertificate>(PrivateTag{}, certificate);
}

std::vector<std::shared_ptr<TlsCertificate>> TlsCertificate::createAllWithPEM(std::string_view pem) {
    std::vector<std::shared_ptr<TlsCertificate>> certificates;
    auto bio = memoryBio(pem);
    if (!bio)
        return certificates;
    while (X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
        certificates.push_back(std::make_shared<TlsCertificate>(PrivateTag{}, certificate));
    ERR_clear_error(); // the end of the text reads as a "no start line" error
    return certificates;
}

std::shared_ptr<TlsCertificate> TlsCertificate::createWithX509(x509_st* certificate) {
    if (!certificate || !X509_up_ref(certificate))
        return nullptr;
    return std::make_shared<TlsCertificate>(PrivateTag{}, certificate);
}

TlsCertificate::~TlsCertificate() {
    X509_free(m_x509);
}

Data TlsCertificate::data() const {
    int length = i2d_X509(m_x509, nullptr);
    if (length <= 0)
        return {};
    std::vector<uint8_t> der(static_cast<size_t>(length));
    unsigned char* cursor = der.data();
    i2d_X509(m_x509, &cursor);
    return Data(std::move(der));
}

std::string TlsCertificate::pem() const {
    detail::UniqueBio bio(BIO_new(BIO_s_mem()));
    if (!bio || !PEM_write_bio_X509(bio.get(), m_x509))
        return {};
    return detail::bioText(bio.get());
}

std::optional<std::string> TlsCertificate::commonName() const {
    X509_NAME* subject = X509_get_subject_name(m_x509);
    int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (index < 0)
        return std::nullopt;
    ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length < 0)
        return std::nullopt;
    std::string name(reinterpret_cast<const char*>(utf8), static_cast<size_t>(length));
    OPENSSL_free(utf8);
    return name;
}

std::string TlsCertificate::subjectSummary() const {
    if (auto name = commonName())
        return *name;
    detail::UniqueBio bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), X509_get_subject_name(m_x509), 0, XN_FLAG_ONELINE) < 0)
        return {};
    return detail::bioText(bio.get());
}

std::string TlsCertificate::description() const {
    return "<TlsCertificate " + subjectSummary() + ">";
}

std::shared_ptr<TlsIdentity> TlsIdentity::create(TlsCertificatePtr certificate,
                                                 std::string_view privateKeyPEM,
                                                 std::string_view passphrase) {
    if (!certificate)
        return nullptr;
    auto bio = memoryBio(privateKeyPEM);
    if (!bio)
        return nullptr;
    std::string phrase(passphrase);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio.get(), nullptr, passphraseCallback, &phrase);
    if (!key) {
        ERR_clear_error();
        return nullptr;
    }
    auto identity = createWithKey(std::move(certificate), key);
    EVP_PKEY_free(key);
    return identity;
}

std::shared_ptr<TlsIdentity> TlsIdentity::createWithPEM(std::string_view certificatePEM,
                                                        std::string_view privateKeyPEM,
                                                        std::string_view passphrase) {
    return create(TlsCertificate::createWithPEM(certificatePEM), privateKeyPEM, passphrase);
}

std::shared_ptr<TlsIdentity> TlsIdentity::createWithKey(TlsCertificatePtr certificate,
                                                        evp_pkey_st* privateKey) {
    if (!certificate || !privateKey)
        return nullptr;
    if (X509_check_private_key(certificate->x509(), privateKey) != 1) {
        ERR_clear_error();
        return nullptr;
    }
    if (!EVP_PKEY_up_ref(privateKey))
        return nullptr;
    return std::make_shared<TlsIdentity>(PrivateTag{}, std::move(certificate), privateKey);
}

std::optional<TlsIdentity::PKCS12Contents> TlsIdentity::importPKCS12(const Data& archive,
                                                                     std::string_view passphrase) {
    if (archive.empty() || archive.length() > LONG_MAX)
        return std::nullopt;
    const unsigned char* cursor = archive.bytes();
    detail::UniquePkcs12 p12(d2i_PKCS12(nullptr, &cursor, static_cast<long>(archive.length())));
    if (!p12) {
        ERR_clear_error();
        return std::nullopt;
    }
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    STACK_OF(X509)* extra = nullptr;
    std::string phrase(passphrase);
    if (!PKCS12_parse(p12.get(), phrase.c_str(), &key, &certificate, &extra)) {
        ERR_clear_error();
        return std::nullopt;
    }
    PKCS12Contents contents;
    if (certificate && key)
        contents.identity = createWithKey(TlsCertificate::createWithX509(certificate), key);
    for (int i = 0; extra && i < sk_X509_num(extra); ++i)
        if (auto member = TlsCertificate::createWithX509(sk_X509_value(extra, i)))
            contents.chain.push_back(std::move(member));
    EVP_PKEY_free(key);
    X509_free(certificate);
    sk_X509_pop_free(extra, X509_free);
    if (!contents.identity)
        return std::nullopt;
    return contents;
}

TlsIdentity::~TlsIdentity() {
    EVP_PKEY_free(m_key);
}

} // namespace platform
