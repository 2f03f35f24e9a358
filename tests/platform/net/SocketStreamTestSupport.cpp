#include "SocketStreamTestSupport.h"

#include "platform/runloop/RunLoop.h"
#include "platform/security/TlsSettingsKeys.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

namespace streamtest {

using namespace platform;

SocketPair::SocketPair() {
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
}

SocketPair::~SocketPair() {
    closeEnd(0);
    closeEnd(1);
}

void SocketPair::closeEnd(int end) {
    if (fds[end] >= 0)
        ::close(fds[end]);
    fds[end] = -1;
}

std::string SocketPair::drain(int end) {
    std::string result;
    char buffer[4096];
    ssize_t got;
    while ((got = ::recv(fds[end], buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
        result.append(buffer, size_t(got));
    return result;
}

namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

uint16_t boundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

} // namespace

Listener::Listener() {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    auto address = loopback(0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd, 8), 0);
    port = boundPort(fd);
}

Listener::~Listener() {
    if (fd >= 0)
        ::close(fd);
}

int Listener::acceptOne() {
    return ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
}

uint16_t refusedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto address = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    uint16_t port = boundPort(fd);
    ::close(fd);
    return port;
}

// ---- Events ----
ReadStream::ClientCallback EventLog::readClient(std::function<void(ReadStream&, StreamEventType)> also) {
    return [this, also](ReadStream& stream, StreamEventType event) {
        record('r', event);
        if (also)
            also(stream, event);
    };
}

WriteStream::ClientCallback EventLog::writeClient(std::function<void(WriteStream&, StreamEventType)> also) {
    return [this, also](WriteStream& stream, StreamEventType event) {
        record('w', event);
        if (also)
            also(stream, event);
    };
}

void EventLog::record(char side, StreamEventType event) {
    if (m_inside || (mainThreadOnly && !RunLoop::main()->isCurrent()))
        ++m_misplaced;
    std::lock_guard lock(m_mutex);
    m_entries.push_back({side, event});
}

int EventLog::count(char side, StreamEventType event) const {
    std::lock_guard lock(m_mutex);
    int total = 0;
    for (auto& entry : m_entries)
        total += entry.side == side && entry.event == event;
    return total;
}

std::vector<EventLog::Entry> EventLog::entries() const {
    std::lock_guard lock(m_mutex);
    return m_entries;
}

// ---- TLS ----
namespace {

void addExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    ASSERT_NE(extension, nullptr);
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

TlsIdentityPtr makeIdentity() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    EXPECT_NE(key, nullptr);
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 86400);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("localhost"),
                               -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    addExtension(certificate, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(certificate, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
    X509_sign(certificate, key, EVP_sha256());
    auto wrapped = TlsCertificate::createWithX509(certificate);
    X509_free(certificate);
    auto identity = TlsIdentity::createWithKey(wrapped, key); // takes a reference of its own
    EVP_PKEY_free(key);
    return identity;
}

} // namespace

TlsIdentityPtr localhostIdentity() {
    static TlsIdentityPtr identity = makeIdentity();
    return identity;
}

Value serverSettings() {
    return Value::dictionary({{kCFStreamSSLIsServer, true},
                              {kCFStreamSSLCertificates, Value::array({Value(localhostIdentity())})}});
}

Value clientSettings(bool allowsAnyRoot) {
    if (!allowsAnyRoot)
        return Value::dictionary({{kCFStreamSSLPeerName, "localhost"}});
    return Value::dictionary({{kCFStreamSSLPeerName, "localhost"}, {kCFStreamSSLAllowsAnyRoot, true}});
}

} // namespace streamtest
