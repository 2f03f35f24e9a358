#pragma once
// The platform's keys of a TLS settings dictionary (the SSL settings of a socket stream pair, and the
// dictionary a socket's startTLS hands on) and the values of its security level key. The texts are the
// platform's own key names, so dictionaries built by callers and logged read the same everywhere.
// TlsStreamSettings.h applies such a dictionary to a TlsContext.

namespace platform {

inline constexpr const char* kCFStreamSSLLevel = "kCFStreamSSLLevel";
inline constexpr const char* kCFStreamSSLPeerName = "kCFStreamSSLPeerName";
inline constexpr const char* kCFStreamSSLCertificates = "kCFStreamSSLCertificates";
inline constexpr const char* kCFStreamSSLIsServer = "kCFStreamSSLIsServer";
inline constexpr const char* kCFStreamSSLValidatesCertificateChain = "kCFStreamSSLValidatesCertificateChain";
inline constexpr const char* kCFStreamSSLAllowsExpiredCertificates = "kCFStreamSSLAllowsExpiredCertificates";
inline constexpr const char* kCFStreamSSLAllowsExpiredRoots = "kCFStreamSSLAllowsExpiredRoots";
inline constexpr const char* kCFStreamSSLAllowsAnyRoot = "kCFStreamSSLAllowsAnyRoot";

inline constexpr const char* kCFStreamSocketSecurityLevelNone = "kCFStreamSocketSecurityLevelNone";
inline constexpr const char* kCFStreamSocketSecurityLevelSSLv2 = "kCFStreamSocketSecurityLevelSSLv2";
inline constexpr const char* kCFStreamSocketSecurityLevelSSLv3 = "kCFStreamSocketSecurityLevelSSLv3";
inline constexpr const char* kCFStreamSocketSecurityLevelTLSv1 = "kCFStreamSocketSecurityLevelTLSv1";
inline constexpr const char* kCFStreamSocketSecurityLevelNegotiatedSSL =
    "kCFStreamSocketSecurityLevelNegotiatedSSL";

} // namespace platform
