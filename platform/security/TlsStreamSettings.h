#pragma once
// Applies a TLS settings dictionary with the platform's stream keys (TlsSettingsKeys.h) to a
// TlsContext, the way a socket stream pair reads the SSL settings a caller hands it.
//
//   kCFStreamSSLIsServer                    bool    the role (read it with tlsRoleForStreamSettings)
//   kCFStreamSSLPeerName                    string  the name to send and check; the null value turns
//                                                   the name check off (the chain is still checked);
//                                                   absent: `defaultPeerName` (the host connected to)
//   kCFStreamSSLCertificates                array   a TlsIdentity, then TlsCertificates of its chain
//   kCFStreamSSLValidatesCertificateChain   bool    false: no verification at all
//   kCFStreamSSLAllowsExpiredCertificates,
//   kCFStreamSSLAllowsExpiredRoots,
//   kCFStreamSSLAllowsAnyRoot               bool    the trust allowances
//   kCFStreamSSLLevel                       string  NegotiatedSSL: the default; TLSv1 and SSLv3 are
//                                                   taken as the lowest version allowed; None and SSLv2
//                                                   are refused
// A value of the wrong type, an unknown level or a certificate array that does not start with an
// identity answers errSecParam and names the key in *problem; other keys are ignored. Settings
// applied before the failing key stay applied: the caller abandons the context then.

#include "platform/foundation/Value.h"
#include "platform/security/TlsContext.h"

#include <string>
#include <string_view>

namespace platform {

TlsRole tlsRoleForStreamSettings(const Value& settings);

OSStatus applyTlsStreamSettings(TlsContext& context, const Value& settings, std::string_view defaultPeerName,
                                std::string* problem = nullptr);

} // namespace platform
