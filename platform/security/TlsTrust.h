#pragma once
// A trust object (the platform's server trust): a peer's certificate chain, leaf first, judged under
// the TLS server policy: the chain must lead to an anchor, every certificate must be valid at the
// verify date, and, when a host name is given, the leaf must be issued for that name (DNS name or IP
// address). Anchors are the system's CA store unless anchor certificates are set; set anchors are then
// the only ones trusted unless setAnchorCertificatesOnly(false) adds the system's back.
//
// evaluate() answers the platform's result kinds: Unspecified when the chain is trusted (no user
// setting says more), RecoverableTrustFailure for what a user could override (unknown root,
// expiry, wrong host), FatalTrustFailure for a broken chain (bad signatures, revoked, malformed).
// The verify date is the installed Clock's now unless set. Thread-safe: the socket hands a trust to a
// delegate on another queue while it may still release its own reference.

#include "platform/foundation/Date.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/security/SecurityStatus.h"
#include "platform/security/TlsCertificate.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum SecTrustResultType : uint32_t {
    kSecTrustResultInvalid = 0,
    kSecTrustResultProceed = 1,
    kSecTrustResultDeny = 3,
    kSecTrustResultUnspecified = 4,
    kSecTrustResultRecoverableTrustFailure = 5,
    kSecTrustResultFatalTrustFailure = 6,
    kSecTrustResultOtherError = 7,
};

struct TlsTrustOptions {
    bool allowsExpiredCertificates{false};
    bool allowsExpiredRoots{false};
    bool allowsAnyRoot{false};
};

class TlsTrust final : public Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    // Null for an empty chain.
    static std::shared_ptr<TlsTrust> create(std::vector<TlsCertificatePtr> chain,
                                            std::optional<std::string> hostName = std::nullopt);
    TlsTrust(PrivateTag, std::vector<TlsCertificatePtr> chain, std::optional<std::string> hostName);

    const std::vector<TlsCertificatePtr>& certificates() const { return m_chain; }
    size_t certificateCount() const { return m_chain.size(); }
    TlsCertificatePtr certificateAtIndex(size_t index) const;
    const std::optional<std::string>& hostName() const { return m_hostName; }

    void setAnchorCertificates(std::vector<TlsCertificatePtr> anchors);
    void setAnchorCertificatesOnly(bool only);
    void setVerifyDate(Date date);
    void setOptions(TlsTrustOptions options);

    SecTrustResultType evaluate();
    // True when trusted; otherwise an error in NSOSStatusErrorDomain whose code is failureStatus().
    bool evaluateWithError(ErrorPtr* error);

    // The last evaluation's result (Invalid before the first), the TLS status that names its failure
    // (noErr when trusted: errSSLHostNameMismatch, errSSLCertExpired, errSSLCertNotYetValid,
    // errSSLBadCert, errSSLXCertChainInvalid) and the verifier's reason text.
    SecTrustResultType result() const;
    OSStatus failureStatus() const;
    std::string failureReason() const;
    // The crypto library's verification code behind failureStatus() (0 when trusted).
    int verifyErrorCode() const;

    std::string description() const override;

private:
    const std::vector<TlsCertificatePtr> m_chain;
    const std::optional<std::string> m_hostName;

    mutable std::mutex m_mutex;
    std::optional<std::vector<TlsCertificatePtr>> m_anchors;
    bool m_anchorsOnly{true};
    std::optional<Date> m_verifyDate;
    TlsTrustOptions m_options;
    SecTrustResultType m_result{kSecTrustResultInvalid};
    int m_verifyError{0};
};

using TlsTrustPtr = std::shared_ptr<TlsTrust>;

namespace detail {
// The TLS status for a certificate verification error code of the crypto library (0 → noErr).
OSStatus statusForVerifyError(int verifyError);
} // namespace detail

} // namespace platform
