#include "platform/security/TlsTrust.h"

#include "platform/foundation/Clock.h"
#include "platform/security/OpenSslSupport.h"

#include <arpa/inet.h>
#include <cmath>
#include <fmt/format.h>

namespace platform {

namespace {

struct VerifyState {
    TlsTrustOptions options;
    int firstError{X509_V_OK};
};

bool isRootCertificate(X509* certificate) {
    return certificate && X509_check_issued(certificate, certificate) == X509_V_OK;
}

bool isExpiryError(int error) {
    return error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID;
}

bool isUnknownRootError(int error) {
    switch (error) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return true;
    default:
        return false;
    }
}

int verifyCallback(int ok, X509_STORE_CTX* context) {
    if (ok)
        return 1;
    auto* state = static_cast<VerifyState*>(X509_STORE_CTX_get_app_data(context));
    int error = X509_STORE_CTX_get_error(context);
    if (isExpiryError(error)) {
        if (state->options.allowsExpiredCertificates)
            return 1;
        if (state->options.allowsExpiredRoots && isRootCertificate(X509_STORE_CTX_get_current_cert(context)))
            return 1;
    }
    if (state->options.allowsAnyRoot && isUnknownRootError(error))
        return 1;
    if (state->firstError == X509_V_OK)
        state->firstError = error;
    return 0;
}

SecTrustResultType resultForVerifyError(int error) {
    if (error == X509_V_OK)
        return kSecTrustResultUnspecified;
    if (isExpiryError(error) || isUnknownRootError(error))
        return kSecTrustResultRecoverableTrustFailure;
    switch (error) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
    case X509_V_ERR_INVALID_PURPOSE:
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
    case X509_V_ERR_CERT_CHAIN_TOO_LONG:
    case X509_V_ERR_EE_KEY_TOO_SMALL:
    case X509_V_ERR_CA_KEY_TOO_SMALL:
    case X509_V_ERR_CA_MD_TOO_WEAK:
        return kSecTrustResultRecoverableTrustFailure;
    default:
        return kSecTrustResultFatalTrustFailure;
    }
}

bool isIpAddress(const std::string& name) {
    unsigned char address[16];
    return inet_pton(AF_INET, name.c_str(), address) == 1 || inet_pton(AF_INET6, name.c_str(), address) == 1;
}

} // namespace

namespace detail {

OSStatus statusForVerifyError(int verifyError) {
    switch (verifyError) {
    case X509_V_OK:
        return noErr;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return errSSLHostNameMismatch;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return errSSLCertExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return errSSLCertNotYetValid;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
        return errSSLBadCert;
    default:
        return errSSLXCertChainInvalid;
    }
}

} // namespace detail

std::shared_ptr<TlsTrust> TlsTrust::create(std::vector<TlsCertificatePtr> chain,
                                           std::optional<std::string> hostName) {
    if (chain.empty())
        return nullptr;
    for (const auto& certificate : chain)
        if (!certificate)
            return nullptr;
    return std::make_shared<TlsTrust>(PrivateTag{}, std::move(chain), std::move(hostName));
}

TlsTrust::TlsTrust(PrivateTag, std::vector<TlsCertificatePtr> chain, std::optional<std::string> hostName)
    : m_chain(std::move(chain))
    , m_hostName(std::move(hostName)) {}

TlsCertificatePtr TlsTrust::certificateAtIndex(size_t index) const {
    return index < m_chain.size() ? m_chain[index] : nullptr;
}

void TlsTrust::setAnchorCertificates(std::vector<TlsCertificatePtr> anchors) {
    std::lock_guard lock(m_mutex);
    m_anchors = std::move(anchors);
}

void TlsTrust::setAnchorCertificatesOnly(bool only) {
    std::lock_guard lock(m_mutex);
    m_anchorsOnly = only;
}

void TlsTrust::setVerifyDate(Date date) {
    std::lock_guard lock(m_mutex);
    m_verifyDate = date;
}

void TlsTrust::setOptions(TlsTrustOptions options) {
    std::lock_guard lock(m_mutex);
    m_options = options;
}

SecTrustResultType TlsTrust::evaluate() {
    std::lock_guard lock(m_mutex);
    m_result = kSecTrustResultOtherError;
    m_verifyError = X509_V_ERR_UNSPECIFIED;

    detail::UniqueX509Store store;
    if (m_anchors) {
        store.reset(X509_STORE_new());
        if (!store)
            return m_result;
        for (const auto& anchor : *m_anchors)
            if (anchor)
                X509_STORE_add_cert(store.get(), anchor->x509());
        if (!m_anchorsOnly && !X509_STORE_set_default_paths(store.get()))
            ERR_clear_error();
    } else {
        store.reset(detail::systemTrustStore());
        if (!store)
            return m_result;
    }

    detail::UniqueX509Stack untrusted(sk_X509_new_null());
    if (!untrusted)
        return m_result;
    for (size_t i = 1; i < m_chain.size(); ++i) {
        if (!X509_up_ref(m_chain[i]->x509()))
            return m_result;
        sk_X509_push(untrusted.get(), m_chain[i]->x509());
    }

    detail::UniqueX509StoreCtx context(X509_STORE_CTX_new());
    if (!context ||
        !X509_STORE_CTX_init(context.get(), store.get(), m_chain.front()->x509(), untrusted.get())) {
        ERR_clear_error();
        return m_result;
    }
    X509_STORE_CTX_set_default(context.get(), "ssl_server");
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
    if (m_hostName && !m_hostName->empty()) {
        bool set = isIpAddress(*m_hostName) ? X509_VERIFY_PARAM_set1_ip_asc(param, m_hostName->c_str())
                                            : X509_VERIFY_PARAM_set1_host(param, m_hostName->c_str(), 0);
        if (!set)
            return m_result;
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    }
    double seconds = m_verifyDate ? m_verifyDate->timeIntervalSince1970() : Clock::timeIntervalSince1970();
    X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(std::floor(seconds)));

    VerifyState state{m_options};
    X509_STORE_CTX_set_app_data(context.get(), &state);
    X509_STORE_CTX_set_verify_cb(context.get(), verifyCallback);
    int verified = X509_verify_cert(context.get());
    ERR_clear_error();
    if (verified == 1) {
        m_verifyError = X509_V_OK;
    } else {
        m_verifyError =
            state.firstError != X509_V_OK ? state.firstError : X509_STORE_CTX_get_error(context.get());
        if (m_verifyError == X509_V_OK)
            m_verifyError = X509_V_ERR_UNSPECIFIED;
    }
    m_result = resultForVerifyError(m_verifyError);
    return m_result;
}

bool TlsTrust::evaluateWithError(ErrorPtr* error) {
    SecTrustResultType result = evaluate();
    if (result == kSecTrustResultUnspecified || result == kSecTrustResultProceed)
        return true;
    std::string subject = m_chain.front()->subjectSummary();
    setError(error, Error::withDescription(
                        NSOSStatusErrorDomain, failureStatus(),
                        fmt::format("“{}” certificate is not trusted: {}", subject, failureReason())));
    return false;
}

SecTrustResultType TlsTrust::result() const {
    std::lock_guard lock(m_mutex);
    return m_result;
}

OSStatus TlsTrust::failureStatus() const {
    std::lock_guard lock(m_mutex);
    if (m_result == kSecTrustResultInvalid)
        return errSecParam;
    return detail::statusForVerifyError(m_verifyError);
}

std::string TlsTrust::failureReason() const {
    std::lock_guard lock(m_mutex);
    if (m_result == kSecTrustResultInvalid || m_verifyError == X509_V_OK)
        return {};
    return X509_verify_cert_error_string(m_verifyError);
}

int TlsTrust::verifyErrorCode() const {
    std::lock_guard lock(m_mutex);
    return m_result == kSecTrustResultInvalid ? X509_V_OK : m_verifyError;
}

std::string TlsTrust::description() const {
    return fmt::format("<TlsTrust {} certificates, leaf “{}”>", m_chain.size(),
                       m_chain.front()->subjectSummary());
}

} // namespace platform
