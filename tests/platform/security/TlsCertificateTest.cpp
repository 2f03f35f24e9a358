#include "platform/security/TlsCertificate.h"

#include "TestPki.h"

#include <gtest/gtest.h>
#include <openssl/pkcs12.h>

using namespace platform;
using namespace securitytest;

TEST(TlsCertificateEncoding, DerAndPemRoundTrip) {
    const auto& original = pki().server.certificate;
    auto fromDer = TlsCertificate::createWithData(original->data());
    ASSERT_TRUE(fromDer);
    EXPECT_TRUE(fromDer->isEqual(*original));
    auto fromPem = TlsCertificate::createWithPEM(original->pem());
    ASSERT_TRUE(fromPem);
    EXPECT_TRUE(fromPem->isEqual(*original));
    EXPECT_EQ(fromPem->commonName(), "localhost");
    EXPECT_EQ(fromPem->subjectSummary(), "localhost");

    auto both = TlsCertificate::createAllWithPEM(original->pem() + pki().root.certificate->pem());
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[1]->commonName(), "Test Root CA");
}

TEST(TlsCertificateEncoding, BytesThatAreNotOneCertificateAreRefused) {
    EXPECT_FALSE(TlsCertificate::createWithData(Data()));
    EXPECT_FALSE(TlsCertificate::createWithData(Data(std::string_view("not a certificate"))));
    MutableData trailing(pki().server.certificate->data());
    trailing.appendString("x");
    EXPECT_FALSE(TlsCertificate::createWithData(trailing.data()));
    Data der = pki().server.certificate->data();
    EXPECT_FALSE(TlsCertificate::createWithData(der.subdata(0, der.length() - 1)));
    EXPECT_FALSE(
        TlsCertificate::createWithPEM("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"));
    EXPECT_TRUE(TlsCertificate::createAllWithPEM("nothing here").empty());
}

TEST(TlsIdentityMaking, AKeyMustBelongToItsCertificate) {
    EXPECT_TRUE(TlsIdentity::createWithPEM(pki().server.certificate->pem(), pki().server.keyPEM));
    EXPECT_FALSE(TlsIdentity::createWithPEM(pki().server.certificate->pem(), pki().root.keyPEM));
    EXPECT_FALSE(TlsIdentity::createWithPEM(pki().server.certificate->pem(), "garbage"));
    EXPECT_FALSE(TlsIdentity::create(nullptr, pki().server.keyPEM));
}

TEST(TlsIdentityMaking, Pkcs12ImportGivesTheIdentityAndItsChain) {
    STACK_OF(X509)* extra = sk_X509_new_null();
    sk_X509_push(extra, pki().intermediate.certificate->x509());
    PKCS12* archive = PKCS12_create("secret", "server", pki().server.identity->privateKey(),
                                    pki().server.certificate->x509(), extra, 0, 0, 0, 0, 0);
    sk_X509_free(extra);
    ASSERT_TRUE(archive);
    unsigned char* der = nullptr;
    int length = i2d_PKCS12(archive, &der);
    Data bytes(der, static_cast<size_t>(length));
    OPENSSL_free(der);
    PKCS12_free(archive);

    auto contents = TlsIdentity::importPKCS12(bytes, "secret");
    ASSERT_TRUE(contents);
    EXPECT_TRUE(contents->identity->certificate()->isEqual(*pki().server.certificate));
    ASSERT_EQ(contents->chain.size(), 1u);
    EXPECT_EQ(contents->chain[0]->commonName(), "Test Intermediate CA");

    EXPECT_FALSE(TlsIdentity::importPKCS12(bytes, "wrong"));
    EXPECT_FALSE(TlsIdentity::importPKCS12(bytes.subdata(0, bytes.length() / 2), "secret"));
}
