// How SMTP, POP3 and IMAP reach their server, alike: the TLS mode, the proxy,
// the server's address and port, all from the connection's options.
#pragma once

#include "connection/connection_base.h"
#include "net/socket.h"
#include "providers/internet/security_options.h"

namespace kv {

class clsServerLink {
  public:
    // SMTP gives the socket its proxy options whatever they hold; POP3 and
    // IMAP only once "ProxyAddress" holds a value, and no proxy otherwise.
    enum ProxyRule { kProxyAlways, kProxyWhenAddressSet };

    // Reads "TLSMode" and "ProxyResolve": a value neither knows throws
    // clsExcept (kErrGeneral) before anything has been sent.
    clsServerLink(clsConnectionBase &connection, uint16_t defaultPort, ProxyRule proxy);
    // The proxy, the connection to "ServerAddress" and "ServerPort", event
    // (3, 1), and TLS from the first byte when the mode is implicit.
    void Open(clsSocket &socket);

    TlsMode Mode() const { return mode_; }
    const String &Host() const { return host_; }
    uint16_t Port() const { return port_; }

  private:
    clsConnectionBase &connection_;
    const uint16_t defaultPort_;
    const ProxyRule proxy_;
    TlsMode mode_;
    bool resolveRemote_;
    String host_;
    uint16_t port_ = 0;
};

} // namespace kv
