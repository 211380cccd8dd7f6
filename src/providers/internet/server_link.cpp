#include "providers/internet/server_link.h"

namespace kv {

clsServerLink::clsServerLink(clsConnectionBase &connection, uint16_t defaultPort, ProxyRule proxy)
    : connection_(connection), defaultPort_(defaultPort), proxy_(proxy), mode_(ReadTlsMode(connection)),
      resolveRemote_(ReadProxyResolveRemote(connection)) {}

void clsServerLink::Open(clsSocket &socket) {
    clsConnectionBase &c = connection_;
    socket.SetProxyResolveRemote(resolveRemote_);
    if (proxy_ == kProxyAlways || !c.ReadTextOption("ProxyAddress").empty())
        socket.SetProxy(c.ReadTextOptionA("ProxyAddress"), c.ReadIntOption("ProxyPort", 1080),
                        c.ReadTextOptionA("ProxyUser"), c.ReadTextOptionA("ProxyPassword"),
                        c.ReadIntOption("ProxyType", kProxyNone));
    else // the proxy of an earlier connection, cleared since, must not be used again
        socket.SetProxy(String(), 1080, String(), String(), kProxyNone);
    host_ = c.ReadTextOptionA("ServerAddress");
    port_ = uint16_t(c.ReadIntOption("ServerPort", defaultPort_));
    socket.Connect(host_, port_, uint32_t(c.ReadIntOption("SocketTimeout", 10000)));
    c.NtfyConnectionState(kEventServer, 1);
    if (mode_ == TlsMode::Implicit) socket.StartTls(ReadTlsOptions(c, host_));
}

} // namespace kv
