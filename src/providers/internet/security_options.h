// The options every internet transport reads under its own prefix beyond the
// basic ones: "TLSMode", "TLSVerify", "TLSCAFile", "OAuth2Token" and
// "ProxyResolve", and the SASL messages built from the token.
#pragma once

#include "connection/connection_base.h"
#include "pal/tls.h"

namespace kv {

enum class TlsMode { None, StartTls, Implicit, Auto };

// "none" (also when unset), "starttls", "implicit", "auto". Any other value
// throws clsExcept (kErrGeneral): a mistyped mode must not mean a plain connection.
TlsMode ReadTlsMode(clsConnectionBase &connection);
// Verification stays on unless "TLSVerify" clearly says false.
pal::TlsOptions ReadTlsOptions(clsConnectionBase &connection, const String &host);

// "ProxyResolve": "remote" lets the proxy resolve the server's name; "local"
// (also when unset) resolves it here. Any other value throws clsExcept (kErrGeneral).
bool ReadProxyResolveRemote(clsConnectionBase &connection);

// The XOAUTH2 initial response (before base64).
String XOAuth2Message(const String &user, const String &token);
// The OAUTHBEARER (RFC 7628) initial response (before base64).
String OAuthBearerMessage(const String &user, const String &host, uint16_t port, const String &token);
// OAUTHBEARER's answer to an error challenge: a lone %x01, so the server can fail the exchange.
constexpr char kOAuthBearerAbort[] = "AQ==";

} // namespace kv
