#include "platform/security/SecurityStatus.h"

#include <fmt/format.h>

namespace platform {

std::string securityStatusName(OSStatus status) {
    switch (status) {
    case noErr:
        return "noErr";
    case errSecParam:
        return "errSecParam";
    case errSecAllocate:
        return "errSecAllocate";
    case errSecBadReq:
        return "errSecBadReq";
    case errSSLProtocol:
        return "errSSLProtocol";
    case errSSLNegotiation:
        return "errSSLNegotiation";
    case errSSLFatalAlert:
        return "errSSLFatalAlert";
    case errSSLWouldBlock:
        return "errSSLWouldBlock";
    case errSSLSessionNotFound:
        return "errSSLSessionNotFound";
    case errSSLClosedGraceful:
        return "errSSLClosedGraceful";
    case errSSLClosedAbort:
        return "errSSLClosedAbort";
    case errSSLXCertChainInvalid:
        return "errSSLXCertChainInvalid";
    case errSSLBadCert:
        return "errSSLBadCert";
    case errSSLCrypto:
        return "errSSLCrypto";
    case errSSLInternal:
        return "errSSLInternal";
    case errSSLUnknownRootCert:
        return "errSSLUnknownRootCert";
    case errSSLNoRootCert:
        return "errSSLNoRootCert";
    case errSSLCertExpired:
        return "errSSLCertExpired";
    case errSSLCertNotYetValid:
        return "errSSLCertNotYetValid";
    case errSSLClosedNoNotify:
        return "errSSLClosedNoNotify";
    case errSSLBufferOverflow:
        return "errSSLBufferOverflow";
    case errSSLBadCipherSuite:
        return "errSSLBadCipherSuite";
    case errSSLPeerUnexpectedMsg:
        return "errSSLPeerUnexpectedMsg";
    case errSSLPeerBadRecordMac:
        return "errSSLPeerBadRecordMac";
    case errSSLPeerDecryptionFail:
        return "errSSLPeerDecryptionFail";
    case errSSLPeerRecordOverflow:
        return "errSSLPeerRecordOverflow";
    case errSSLPeerDecompressFail:
        return "errSSLPeerDecompressFail";
    case errSSLPeerHandshakeFail:
        return "errSSLPeerHandshakeFail";
    case errSSLPeerBadCert:
        return "errSSLPeerBadCert";
    case errSSLPeerUnsupportedCert:
        return "errSSLPeerUnsupportedCert";
    case errSSLPeerCertRevoked:
        return "errSSLPeerCertRevoked";
    case errSSLPeerCertExpired:
        return "errSSLPeerCertExpired";
    case errSSLPeerCertUnknown:
        return "errSSLPeerCertUnknown";
    case errSSLIllegalParam:
        return "errSSLIllegalParam";
    case errSSLPeerUnknownCA:
        return "errSSLPeerUnknownCA";
    case errSSLPeerAccessDenied:
        return "errSSLPeerAccessDenied";
    case errSSLPeerDecodeError:
        return "errSSLPeerDecodeError";
    case errSSLPeerDecryptError:
        return "errSSLPeerDecryptError";
    case errSSLPeerExportRestriction:
        return "errSSLPeerExportRestriction";
    case errSSLPeerProtocolVersion:
        return "errSSLPeerProtocolVersion";
    case errSSLPeerInsufficientSecurity:
        return "errSSLPeerInsufficientSecurity";
    case errSSLPeerInternalError:
        return "errSSLPeerInternalError";
    case errSSLPeerUserCancelled:
        return "errSSLPeerUserCancelled";
    case errSSLPeerNoRenegotiation:
        return "errSSLPeerNoRenegotiation";
    case errSSLPeerAuthCompleted:
        return "errSSLPeerAuthCompleted";
    case errSSLClientCertRequested:
        return "errSSLClientCertRequested";
    case errSSLHostNameMismatch:
        return "errSSLHostNameMismatch";
    case errSSLConnectionRefused:
        return "errSSLConnectionRefused";
    case errSSLDecryptionFail:
        return "errSSLDecryptionFail";
    case errSSLBadRecordMac:
        return "errSSLBadRecordMac";
    case errSSLRecordOverflow:
        return "errSSLRecordOverflow";
    case errSSLBadConfiguration:
        return "errSSLBadConfiguration";
    case errSSLUnexpectedRecord:
        return "errSSLUnexpectedRecord";
    default:
        return fmt::format("OSStatus {}", status);
    }
}

} // namespace platform
