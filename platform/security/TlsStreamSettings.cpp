#include "platform/security/TlsStreamSettings.h"

#include "platform/security/TlsSettingsKeys.h"

namespace platform {

namespace {

OSStatus refuse(std::string* problem, std::string_view key) {
    if (problem)
        *problem = "Invalid value for " + std::string(key) + ".";
    return errSecParam;
}

// nullopt when absent; a refusal through `status` when present but not a number.
std::optional<bool> readBool(const Value& settings, const char* key, OSStatus& status, std::string* problem) {
    const Value& value = settings[key];
    if (value.isNil())
        return std::nullopt;
    if (!value.isNumber()) {
        status = refuse(problem, key);
        return std::nullopt;
    }
    return value.boolOr(false);
}

OSStatus applyLevel(TlsContext& context, const std::string& level) {
    if (level == kCFStreamSocketSecurityLevelNegotiatedSSL)
        return noErr;
    if (level == kCFStreamSocketSecurityLevelTLSv1)
        return context.setProtocolVersionMin(kTLSProtocol1);
    if (level == kCFStreamSocketSecurityLevelSSLv3)
        return context.setProtocolVersionMin(kSSLProtocol3);
    return errSecParam;
}

} // namespace

TlsRole tlsRoleForStreamSettings(const Value& settings) {
    return settings[kCFStreamSSLIsServer].boolOr(false) ? TlsRole::Server : TlsRole::Client;
}

OSStatus applyTlsStreamSettings(TlsContext& context, const Value& settings, std::string_view defaultPeerName,
                                std::string* problem) {
    if (!settings.isNil() && !settings.isDictionary())
        return refuse(problem, "the SSL settings");

    OSStatus status = noErr;
    const Value& peerName = settings[kCFStreamSSLPeerName];
    if (peerName.isNil())
        status = context.setPeerName(defaultPeerName);
    else if (peerName.isNull())
        status = context.setPeerName("");
    else if (peerName.isString())
        status = context.setPeerName(*peerName.string());
    else
        return refuse(problem, kCFStreamSSLPeerName);
    if (status != noErr)
        return refuse(problem, kCFStreamSSLPeerName);

    const Value& certificates = settings[kCFStreamSSLCertificates];
    if (!certificates.isNil()) {
        const ValueArray* members = certificates.array();
        if (!members || members->empty())
            return refuse(problem, kCFStreamSSLCertificates);
        auto identity = members->front().objectAs<TlsIdentity>();
        std::vector<TlsCertificatePtr> chain;
        for (size_t i = 1; i < members->size(); ++i) {
            auto certificate = (*members)[i].objectAs<TlsCertificate>();
            if (!certificate)
                return refuse(problem, kCFStreamSSLCertificates);
            chain.push_back(std::move(certificate));
        }
        if (!identity || context.setCertificate(identity, chain) != noErr)
            return refuse(problem, kCFStreamSSLCertificates);
    }

    auto validates = readBool(settings, kCFStreamSSLValidatesCertificateChain, status, problem);
    if (status != noErr)
        return status;
    if (validates && context.setValidatesCertificateChain(*validates) != noErr)
        return refuse(problem, kCFStreamSSLValidatesCertificateChain);

    TlsTrustOptions options;
    auto expired = readBool(settings, kCFStreamSSLAllowsExpiredCertificates, status, problem);
    auto expiredRoots = readBool(settings, kCFStreamSSLAllowsExpiredRoots, status, problem);
    auto anyRoot = readBool(settings, kCFStreamSSLAllowsAnyRoot, status, problem);
    if (status != noErr)
        return status;
    options.allowsExpiredCertificates = expired.value_or(false);
    options.allowsExpiredRoots = expiredRoots.value_or(false);
    options.allowsAnyRoot = anyRoot.value_or(false);
    if (context.setTrustOptions(options) != noErr)
        return refuse(problem, kCFStreamSSLAllowsAnyRoot);

    const Value& level = settings[kCFStreamSSLLevel];
    if (!level.isNil()) {
        if (!level.isString() || applyLevel(context, *level.string()) != noErr)
            return refuse(problem, kCFStreamSSLLevel);
    }
    return noErr;
}

} // namespace platform
