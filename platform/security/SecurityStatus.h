#pragma once
// The platform's security status codes (OSStatus): 0 is success, negative values name the failure.
// The TLS engine answers every call with one of these; callers compare against the named constants,
// never against raw numbers. The values are the platform's own, so logs and error codes carried in
// errors (domain NSOSStatusErrorDomain or the SSL stream domain) read the same as on the phone.

#include <cstdint>
#include <string>

namespace platform {

using OSStatus = int32_t;

inline constexpr const char* NSOSStatusErrorDomain = "NSOSStatusErrorDomain";

inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecAllocate = -108;
inline constexpr OSStatus errSecBadReq = -909; // a call not allowed in the object's current state

inline constexpr OSStatus errSSLProtocol = -9800;
inline constexpr OSStatus errSSLNegotiation = -9801;
inline constexpr OSStatus errSSLFatalAlert = -9802;
inline constexpr OSStatus errSSLWouldBlock = -9803;
inline constexpr OSStatus errSSLSessionNotFound = -9804;
inline constexpr OSStatus errSSLClosedGraceful = -9805;
inline constexpr OSStatus errSSLClosedAbort = -9806;
inline constexpr OSStatus errSSLXCertChainInvalid = -9807;
inline constexpr OSStatus errSSLBadCert = -9808;
inline constexpr OSStatus errSSLCrypto = -9809;
inline constexpr OSStatus errSSLInternal = -9810;
inline constexpr OSStatus errSSLUnknownRootCert = -9812;
inline constexpr OSStatus errSSLNoRootCert = -9813;
inline constexpr OSStatus errSSLCertExpired = -9814;
inline constexpr OSStatus errSSLCertNotYetValid = -9815;
inline constexpr OSStatus errSSLClosedNoNotify = -9816;
inline constexpr OSStatus errSSLBufferOverflow = -9817;
inline constexpr OSStatus errSSLBadCipherSuite = -9818;
inline constexpr OSStatus errSSLPeerUnexpectedMsg = -9819;
inline constexpr OSStatus errSSLPeerBadRecordMac = -9820;
inline constexpr OSStatus errSSLPeerDecryptionFail = -9821;
inline constexpr OSStatus errSSLPeerRecordOverflow = -9822;
inline constexpr OSStatus errSSLPeerDecompressFail = -9823;
inline constexpr OSStatus errSSLPeerHandshakeFail = -9824;
inline constexpr OSStatus errSSLPeerBadCert = -9825;
inline constexpr OSStatus errSSLPeerUnsupportedCert = -9826;
inline constexpr OSStatus errSSLPeerCertRevoked = -9827;
inline constexpr OSStatus errSSLPeerCertExpired = -9828;
inline constexpr OSStatus errSSLPeerCertUnknown = -9829;
inline constexpr OSStatus errSSLIllegalParam = -9830;
inline constexpr OSStatus errSSLPeerUnknownCA = -9831;
inline constexpr OSStatus errSSLPeerAccessDenied = -9832;
inline constexpr OSStatus errSSLPeerDecodeError = -9833;
inline constexpr OSStatus errSSLPeerDecryptError = -9834;
inline constexpr OSStatus errSSLPeerExportRestriction = -9835;
inline constexpr OSStatus errSSLPeerProtocolVersion = -9836;
inline constexpr OSStatus errSSLPeerInsufficientSecurity = -9837;
inline constexpr OSStatus errSSLPeerInternalError = -9838;
inline constexpr OSStatus errSSLPeerUserCancelled = -9839;
inline constexpr OSStatus errSSLPeerNoRenegotiation = -9840;
inline constexpr OSStatus errSSLPeerAuthCompleted = -9841;
inline constexpr OSStatus errSSLClientCertRequested = -9842;
inline constexpr OSStatus errSSLHostNameMismatch = -9843;
inline constexpr OSStatus errSSLConnectionRefused = -9844;
inline constexpr OSStatus errSSLDecryptionFail = -9845;
inline constexpr OSStatus errSSLBadRecordMac = -9846;
inline constexpr OSStatus errSSLRecordOverflow = -9847;
inline constexpr OSStatus errSSLBadConfiguration = -9848;
inline constexpr OSStatus errSSLUnexpectedRecord = -9849;

// The constant's name ("errSSLWouldBlock"), or "OSStatus <n>" for a value not listed above.
std::string securityStatusName(OSStatus status);

} // namespace platform
