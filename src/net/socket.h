// clsSocket: one blocking TCP connection to a server, directly or through a
// SOCKS 4 or SOCKS 5 proxy, with traced traffic.
#pragma once

#include <memory>
#include <mutex>

#include "pal/socket.h"
#include "pal/tls.h"
#include "runtime/kvstring.h"

namespace kv {

enum ProxyType : int32_t { kProxyNone = 0, kProxySocks4 = 1, kProxySocks5 = 2 };

// Whether the trace may show what is sent; a secret line shows as "*****".
enum class Secrecy : bool { Shown, Secret };

// The byte stream below the line protocols. The TCP socket is the bottom
// layer; a TLS layer can be stacked on it without the protocols knowing.
class clsByteLayer {
  public:
    virtual ~clsByteLayer() = default;
    // As send/recv: bytes moved, 0 from Receive when the peer closed, -1 on failure.
    virtual long Send(const void *data, size_t length) = 0;
    virtual long Receive(void *buffer, size_t capacity) = 0;
    // The Winsock-style code of the last failure.
    virtual int LastError() const = 0;
    // What the last failure means, for the error record.
    virtual std::string LastErrorText() const;
};

class clsTcpLayer;

class clsSocket {
  public:
    clsSocket();
    virtual ~clsSocket();
    clsSocket(const clsSocket &) = delete;
    clsSocket &operator=(const clsSocket &) = delete;

    void SetProxy(const String &address, int32_t port, const String &user, const String &password, int32_t type);
    // The proxy resolves the server's name (SOCKS 4a, SOCKS 5 domain name);
    // otherwise it gets an IPv4 address resolved here.
    void SetProxyResolveRemote(bool remote) { proxyResolveRemote_ = remote; }
    // Throws clsExcept on failure; does nothing while a socket exists.
    void Connect(const String &host, uint16_t port, uint32_t timeoutMs);
    int Disconnect();
    bool HasSocket() const { return socket_.Valid(); }

    // 0, or -2 without a socket. Sends everything or fails.
    virtual int SocketSend(const String &text);
    virtual int SocketSend(const void *data, size_t length);
    // Like SocketSend, but the trace shows "*****" instead of the data.
    int SocketSendSecret(const String &text);
    // While on, small sends are held back and leave with the next send that
    // is not, or before the next receive: a short mail text and the command
    // after it take one system call (and one TLS record) instead of two.
    void GatherSends(bool on) { gather_ = on; }
    virtual int ReceiveText(String &text);
    // On entry `length` is the capacity; on return the bytes received.
    virtual int SocketRecv(char *buffer, size_t &length, bool stopAtLineEnd);
    // Until EndReplyDeadline, all receives together may take no longer than
    // the timeout: a server that trickles its reply must not hold us for ever.
    void StartReplyDeadline();
    void EndReplyDeadline();

    static String GetSocketErrorText(int code);

    int SendBufferSize() const { return sendBufferSize_; }
    int ReceiveBufferSize() const { return receiveBufferSize_; }

    // Turns the live connection into TLS (implicit TLS right after Connect, or
    // after the STARTTLS reply). Throws clsExcept (kErrSocket) and closes on failure.
    virtual void StartTls(const pal::TlsOptions &options);
    bool IsTls() const { return tls_; }

  protected:
    // Reads exactly `length` bytes; false when the connection ends first.
    bool ReceiveExactly(char *buffer, size_t length);
    // After the connection is closed: what was read of it must not reach the next one.
    virtual void OnClosed() {}

  private:
    int SendTraced(const void *data, size_t length, bool secret);
    // Sends everything to the layer; throws clsExcept (kErrSocket) and closes on failure.
    void SendAll(const char *data, size_t length);
    void FlushGathered();
    void ProxyHandshake();
    // `destination`: SOCKS 5 address type and address (1: IPv4, 3: name, 4: IPv6).
    void Socks4(const String &destination);
    void Socks5(const String &destination);
    void CloseUnlocked();

    bool startedUp_ = false;
    pal::TcpSocket socket_;
    String targetHost_;
    uint16_t targetPort_ = 0;
    bool connected_ = false;
    std::recursive_mutex lock_;
    String proxyAddress_;
    int32_t proxyPort_ = 8025;
    String proxyUser_;
    String proxyPassword_;
    int32_t proxyType_ = kProxyNone;
    bool proxyResolveRemote_ = false;
    int sendBufferSize_ = 0;
    int receiveBufferSize_ = 0;
    std::unique_ptr<clsTcpLayer> tcp_;
    std::unique_ptr<clsByteLayer> layer_;
    bool tls_ = false;
    bool gather_ = false;
    String gathered_;
};

// Text for a trace line: trailing characters below 0x20 removed, at least one kept.
String TraceText(std::string_view data);

} // namespace kv
