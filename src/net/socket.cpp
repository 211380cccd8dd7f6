#include "net/socket.h"

#include <chrono>
#include <cstring>

#include "runtime/except.h"
#include "runtime/kvlog.h"
#include "net/tls_layer.h"

namespace kv {

// The plain TCP socket as the bottom byte layer. A deadline lives here, below
// TLS, so that a record read in many pieces is held to it as well.
class clsTcpLayer final : public clsByteLayer {
  public:
    explicit clsTcpLayer(pal::TcpSocket &socket) : socket_(socket) {}
    long Send(const void *data, size_t length) override { return socket_.Send(data, length); }
    long Receive(void *buffer, size_t capacity) override {
        expired_ = false;
        if (deadline_) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
            if (left <= 0) {
                expired_ = true;
                return -1;
            }
            // The remaining time, not the whole timeout, for this one wait. The
            // first wait starts with the deadline and needs no system call.
            if (!first_) {
                socket_.SetReceiveTimeout(uint32_t(left));
                narrowed_ = true;
            }
            first_ = false;
        }
        return socket_.Receive(buffer, capacity);
    }
    int LastError() const override { return expired_ ? 10060 : pal::LastSocketError(); }

    void SetTimeout(uint32_t ms) { timeoutMs_ = ms; }
    void StartDeadline() {
        // 0 is no timeout at all.
        deadline_ = timeoutMs_ > 0;
        first_ = true;
        end_ = Clock::now() + std::chrono::milliseconds(timeoutMs_);
    }
    void EndDeadline() {
        deadline_ = false;
        if (narrowed_ && socket_.Valid()) socket_.SetReceiveTimeout(timeoutMs_);
        narrowed_ = false;
    }

  private:
    using Clock = std::chrono::steady_clock;
    pal::TcpSocket &socket_;
    uint32_t timeoutMs_ = 0;
    bool deadline_ = false;
    bool first_ = false;
    bool narrowed_ = false;
    bool expired_ = false;
    Clock::time_point end_;
};

namespace {

[[noreturn]] void Fail(const String &message) { throw clsExcept(kErrSocket, message); }

// Sends gathered up to this size; larger ones go out at once, uncopied.
constexpr size_t kGatherLimit = 256 * 1024;

} // namespace

std::string clsByteLayer::LastErrorText() const { return clsSocket::GetSocketErrorText(LastError()); }

String TraceText(std::string_view data) {
    size_t n = data.size();
    while (n > 1 && (unsigned char)data[n - 1] < 0x20) --n;
    return String(data.substr(0, n));
}

clsSocket::clsSocket() {
    // A socket subsystem that cannot start is reported at Connect, never by ending the process.
    startedUp_ = pal::SocketStartup();
    tcp_ = std::make_unique<clsTcpLayer>(socket_);
}

clsSocket::~clsSocket() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    layer_.reset();
    if (socket_.Valid() && connected_) socket_.ShutdownBoth();
    socket_.Close();
    if (startedUp_) pal::SocketCleanup();
}

void clsSocket::SetProxy(const String &address, int32_t port, const String &user, const String &password,
                         int32_t type) {
    proxyAddress_ = address;
    proxyPort_ = port;
    proxyUser_ = user;
    proxyPassword_ = password;
    proxyType_ = type;
}

void clsSocket::StartTls(const pal::TlsOptions &options) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!socket_.Valid()) Fail("TLS cannot start: not connected");
    if (tls_) Fail("TLS cannot start: the connection is already protected");
    auto layer = std::make_unique<clsTlsLayer>(*tcp_, options);
    if (!layer->Handshake()) {
        String text = layer->HandshakeFailureText();
        layer.reset();
        CloseUnlocked();
        Fail(text);
    }
    LogWriteF(kLogDetails, "TLS with '%s': %s", options.host.c_str(), layer->Description().c_str());
    layer_ = std::move(layer);
    tls_ = true;
}

void clsSocket::CloseUnlocked() {
    gathered_.clear();
    layer_.reset();
    tls_ = false;
    if (socket_.Valid() && connected_) socket_.ShutdownBoth();
    socket_.Close();
    connected_ = false;
    OnClosed();
}

void clsSocket::Connect(const String &host, uint16_t port, uint32_t timeoutMs) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (socket_.Valid()) return;
    try {
        if (!startedUp_) {
            startedUp_ = pal::SocketStartup();
            if (!startedUp_) Fail("WSAStartup() failed");
        }
        connected_ = false;
        targetHost_ = host;
        targetPort_ = port;

        const String &dialHost = proxyType_ == kProxyNone ? host : proxyAddress_;
        uint16_t dialPort = proxyType_ == kProxyNone ? port : uint16_t(proxyPort_);
        std::vector<pal::SocketAddress> addresses;
        if (dialHost == "255.255.255.255" || !pal::ResolveAll(dialHost, dialPort, addresses))
            Fail(Format("gethostby[addr|name](%s) failed: %s", dialHost.c_str(),
                        GetSocketErrorText(pal::LastSocketError()).c_str()));

        // Each address in the resolver's order, IPv6 and IPv4 alike, until one answers.
        int lastError = 0;
        bool created = false;
        for (const pal::SocketAddress &address : addresses) {
            if (!socket_.Create(address)) {
                LogWriteF(kLogDetails, "socket(%s) failed: %d", pal::AddressText(address).c_str(),
                          pal::LastSocketError());
                continue;
            }
            created = true;
            if (!socket_.SetTimeouts(timeoutMs)) Fail("failed to set timeout");
            tcp_->SetTimeout(timeoutMs);
            sendBufferSize_ = socket_.SendBufferSize();
            receiveBufferSize_ = socket_.ReceiveBufferSize();
            if (socket_.Connect(address)) break;
            lastError = pal::LastSocketError();
            LogWriteF(kLogDetails, "connect(%s) failed: %d", pal::AddressText(address).c_str(), lastError);
            socket_.Close();
        }
        if (!created) Fail("invalid socket");
        if (!socket_.Valid())
            Fail(Format("connect(%s:%d) failed: %s", dialHost.c_str(), int(dialPort),
                        GetSocketErrorText(lastError).c_str()));
        connected_ = true;
        if (proxyType_ != kProxyNone) ProxyHandshake();
    } catch (clsExcept &e) {
        CloseUnlocked();
        e.Push("[Connect()]");
        throw;
    }
}

int clsSocket::Disconnect() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    CloseUnlocked();
    return 0;
}

int clsSocket::SocketSend(const String &text) { return SocketSend(text.data(), text.size()); }

int clsSocket::SocketSend(const void *data, size_t length) { return SendTraced(data, length, false); }

int clsSocket::SocketSendSecret(const String &text) { return SendTraced(text.data(), text.size(), true); }

int clsSocket::SendTraced(const void *data, size_t length, bool secret) {
    if (clsKvLog::Passes(kLogProtocol)) {
        String shown = secret ? String("*****") : TraceText(std::string_view(static_cast<const char *>(data), length));
        KvLog().Write(kLogProtocol, "->'" + shown + "'");
    }
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!socket_.Valid()) return kErrSocket;
    const char *p = static_cast<const char *>(data);
    if (gathered_.size() + length <= kGatherLimit && (gather_ || !gathered_.empty())) {
        gathered_.append(p, length);
        if (!gather_) FlushGathered();
        return 0;
    }
    FlushGathered();
    if (gather_ && length < kGatherLimit) gathered_.assign(p, length);
    else SendAll(p, length);
    return 0;
}

void clsSocket::FlushGathered() {
    if (gathered_.empty()) return;
    String out;
    out.swap(gathered_);
    SendAll(out.data(), out.size());
}

void clsSocket::SendAll(const char *p, size_t left) {
    clsByteLayer *layer = layer_ ? layer_.get() : tcp_.get();
    // Everything is written or the call fails: a short send must not drop data.
    while (left > 0) {
        long n = layer->Send(p, left);
        if (n <= 0) {
            String why = n < 0 ? layer->LastErrorText() : GetSocketErrorText(10058);
            CloseUnlocked();
            Fail("send() failed: " + why);
        }
        p += n;
        left -= size_t(n);
    }
}

int clsSocket::SocketRecv(char *buffer, size_t &length, bool stopAtLineEnd) {
    size_t capacity = length;
    length = 0;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!socket_.Valid()) return kErrSocket;
    // No reply can come to what has not left.
    FlushGathered();
    clsByteLayer *layer = layer_ ? layer_.get() : tcp_.get();
    for (;;) {
        long n = layer->Receive(buffer + length, capacity - length);
        if (n < 0) {
            String why = layer->LastErrorText();
            CloseUnlocked();
            throw clsExcept(kErrSocket, "recv() failed: " + why);
        }
        if (n == 0) {
            CloseUnlocked();
            throw clsExcept(kErrSocket, "recv() failed: socket was disconnected");
        }
        const char *chunk = buffer + length;
        length += size_t(n);
        if (length < capacity) buffer[length] = 0;
        // A full buffer ends the call too: receiving into no room reads as the peer closing.
        if (!stopAtLineEnd || length == capacity) return 0;
        if (std::memchr(chunk, '\r', size_t(n)) || std::memchr(chunk, '\n', size_t(n))) return 0;
    }
}

void clsSocket::StartReplyDeadline() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    tcp_->StartDeadline();
}

void clsSocket::EndReplyDeadline() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    tcp_->EndDeadline();
}

int clsSocket::ReceiveText(String &text) {
    size_t size = receiveBufferSize_ > 0 ? size_t(receiveBufferSize_) : 1024;
    std::unique_ptr<char[]> buffer(new char[size + 1]);
    size_t length = size;
    int rc = SocketRecv(buffer.get(), length, false);
    if (rc != 0) return rc;
    text.assign(buffer.get(), length);
    if (clsKvLog::Passes(kLogProtocol)) KvLog().Write(kLogProtocol, "<-'" + TraceText(text) + "'");
    return 0;
}

bool clsSocket::ReceiveExactly(char *buffer, size_t length) {
    size_t got = 0;
    while (got < length) {
        size_t chunk = length - got;
        try {
            if (SocketRecv(buffer + got, chunk, false) != 0) return false;
        } catch (const clsExcept &) {
            return false;
        }
        got += chunk;
    }
    return true;
}

void clsSocket::ProxyHandshake() {
    uint32_t address = 0;
    unsigned char address6[16];
    bool literal = pal::InetAddr(targetHost_, address);
    bool literal6 = !literal && pal::InetAddr6(targetHost_, address6);
    // SOCKS 5's destination: the address type, then the address.
    String destination;
    if (literal6) {
        if (proxyType_ == kProxySocks4) {
            Disconnect();
            Fail(Format("a SOCKS 4 proxy cannot reach the IPv6 address %s", targetHost_.c_str()));
        }
        destination.push_back('\x04');
        destination.append(reinterpret_cast<const char *>(address6), 16);
    } else if (!literal && proxyResolveRemote_) {
        // The proxy resolves the name (SOCKS 4a, SOCKS 5 domain name).
        if (targetHost_.empty() || targetHost_.size() > 255 || targetHost_.find('\0') != String::npos) {
            Disconnect();
            Fail(Format("the host name '%s' cannot be sent to the proxy", targetHost_.c_str()));
        }
        destination.push_back('\x03');
        destination.push_back(char(targetHost_.size()));
        destination += targetHost_;
    } else {
        // A dotted target needs no lookup; any other text is a name, even one starting with a digit.
        if (!literal && !pal::ResolveHostName(targetHost_, address)) {
            Disconnect();
            Fail(Format("gethostby[addr|name](%s) failed: %s", targetHost_.c_str(),
                        GetSocketErrorText(pal::LastSocketError()).c_str()));
        }
        destination.push_back('\x01');
        destination.append(reinterpret_cast<const char *>(&address), 4);
    }
    try {
        if (proxyType_ == kProxySocks4) Socks4(destination);
        else if (proxyType_ == kProxySocks5) Socks5(destination);
    } catch (const clsExcept &) {
        Disconnect();
        throw;
    }
}

void clsSocket::Socks4(const String &destination) {
    // SOCKS 4a marks a name by the address 0.0.0.1 and sends the name after the empty user id.
    bool name = destination[0] == '\x03';
    String request = {'\x04', '\x01', char(targetPort_ >> 8), char(targetPort_ & 0xFF)};
    if (name) request += String("\0\0\0\x01", 4);
    else request += destination.substr(1, 4);
    request.push_back('\0');
    if (name) {
        request += destination.substr(2);
        request.push_back('\0');
    }
    SocketSend(request);
    char reply[8];
    if (!ReceiveExactly(reply, sizeof reply)) Fail("proxy connection failed");
    switch ((unsigned char)reply[1]) {
    case 0x5A: return;
    case 0x5B: Fail("proxy connection request failed or rejected");
    case 0x5C: Fail("proxy connection request failed because SOCKS server cannot connect to IDENTD on the client");
    case 0x5D:
        Fail("proxy connection request failed because the client and IDENTD on the client report different values");
    default: Fail(Format("proxy connection request failed, unknown error code 0x%02x", (unsigned char)reply[1]));
    }
}

void clsSocket::Socks5(const String &destination) {
    const unsigned char greeting[3] = {0x05, 0x01, uint8_t(proxyUser_.empty() ? 0x00 : 0x02)};
    SocketSend(greeting, sizeof greeting);
    char method[2];
    if (!ReceiveExactly(method, 2)) Fail("proxy connection failed");
    switch ((unsigned char)method[1]) {
    case 0xFF: Fail("proxy authorization required, but no user was given");
    case 0x00: break;
    case 0x02: {
        if (proxyUser_.empty()) Fail("proxy authorization requested, but user name is empty");
        if (proxyUser_.size() > 255 || proxyPassword_.size() > 255)
            Fail("proxy user name or password longer than 255 bytes");
        String auth;
        auth.push_back('\x01');
        auth.push_back(char(proxyUser_.size()));
        auth += proxyUser_;
        auth.push_back(char(proxyPassword_.size()));
        auth += proxyPassword_;
        SocketSendSecret(auth);
        char status[2];
        if (!ReceiveExactly(status, 2) || status[1] != 0) Fail("proxy authorization failed");
        break;
    }
    default: Fail("proxy authorization has unknown type");
    }

    String request = {'\x05', '\x01', '\x00'};
    request += destination;
    request.push_back(char(targetPort_ >> 8));
    request.push_back(char(targetPort_ & 0xFF));
    SocketSend(request);

    // The whole reply, as long as its address type makes it, so nothing is left for the protocol.
    char head[5];
    if (!ReceiveExactly(head, sizeof head)) Fail("proxy connection failed");
    size_t rest;
    switch ((unsigned char)head[3]) {
    case 0x01: rest = 4 - 1 + 2; break;
    case 0x03: rest = size_t((unsigned char)head[4]) + 2; break;
    case 0x04: rest = 16 - 1 + 2; break;
    default: rest = 4 - 1 + 2; break;
    }
    char tail[260];
    if (!ReceiveExactly(tail, rest)) Fail("proxy connection failed");
    static const char *const kReplies[] = {
        nullptr,
        "SOCKS5 proxy: General server failure",
        "SOCKS5 proxy: Connection not allowed by ruleset",
        "SOCKS5 proxy: Network unreachable",
        "SOCKS5 proxy: Host unreachable",
        "SOCKS5 proxy: Connection refused",
        "SOCKS5 proxy: TTL expired",
        "SOCKS5 proxy: Command not supported",
        "SOCKS5 proxy: Address type not supported",
    };
    unsigned code = (unsigned char)head[1];
    if (code == 0) return;
    if (code < sizeof kReplies / sizeof kReplies[0]) Fail(kReplies[code]);
    Fail(Format("SOCKS5 proxy: request failed, unknown response code 0x%02x", code));
}

} // namespace kv
