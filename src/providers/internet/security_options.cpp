#include "providers/internet/security_options.h"

namespace kv {

TlsMode ReadTlsMode(clsConnectionBase &connection) {
    String mode(TrimView(connection.ReadTextOptionA("TLSMode")));
    if (mode.empty() || EqualsNoCase(mode, "none")) return TlsMode::None;
    if (EqualsNoCase(mode, "starttls")) return TlsMode::StartTls;
    if (EqualsNoCase(mode, "implicit")) return TlsMode::Implicit;
    if (EqualsNoCase(mode, "auto")) return TlsMode::Auto;
    throw clsExcept(kErrGeneral,
                    Format("option TLSMode: unknown value '%s' (none, starttls, implicit or auto)", mode.c_str()));
}

pal::TlsOptions ReadTlsOptions(clsConnectionBase &connection, const String &host) {
    pal::TlsOptions options;
    options.host = host;
    options.caFile = connection.ReadTextOptionA("TLSCAFile");
    options.verify = true;
    if (const clsVariant *v = connection.Options().Find(connection.OptionKey("TLSVerify"))) {
        bool on = true;
        if (v->ToBool(on)) options.verify = on;
    }
    return options;
}

bool ReadProxyResolveRemote(clsConnectionBase &connection) {
    String value(TrimView(connection.ReadTextOptionA("ProxyResolve")));
    if (value.empty() || EqualsNoCase(value, "local")) return false;
    if (EqualsNoCase(value, "remote")) return true;
    throw clsExcept(kErrGeneral, Format("option ProxyResolve: unknown value '%s' (local or remote)", value.c_str()));
}

String XOAuth2Message(const String &user, const String &token) {
    return "user=" + user + "\x01" + "auth=Bearer " + token + "\x01\x01";
}

String OAuthBearerMessage(const String &user, const String &host, uint16_t port, const String &token) {
    // The authorization identity is a saslname: ',' and '=' are escaped.
    String name;
    for (char c : user) {
        if (c == ',') name += "=2C";
        else if (c == '=') name += "=3D";
        else name.push_back(c);
    }
    return "n,a=" + name + ",\x01" + "host=" + host + "\x01" + "port=" + std::to_string(port) + "\x01" +
           "auth=Bearer " + token + "\x01\x01";
}

} // namespace kv
