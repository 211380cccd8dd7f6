#include "pal/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pal/socket_addresses.inl"

namespace kv::pal {

namespace {

thread_local int t_lastError = 0;

// errno to the Winsock code of the same meaning.
int WsaFromErrno(int e) {
    switch (e) {
    case EACCES: return 10013;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case EAFNOSUPPORT: return 10047;
    case EALREADY: return 10037;
    case ECONNABORTED: return 10053;
    case ECONNREFUSED: return 10061;
    case ECONNRESET: return 10054;
    case EPIPE: return 10058;
    case EDESTADDRREQ: return 10039;
    case EFAULT: return 10014;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case EINPROGRESS: return 10036;
    case EINTR: return 10004;
    case EINVAL: return 10022;
    case EISCONN: return 10056;
    case EMFILE: return 10024;
    case EMSGSIZE: return 10040;
    case ENETDOWN: return 10050;
    case ENETRESET: return 10052;
    case ENETUNREACH: return 10051;
    case ENOBUFS: return 10055;
    case ENOPROTOOPT: return 10042;
    case ENOTCONN: return 10057;
    case ENOTSOCK: return 10038;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EPROTONOSUPPORT: return 10043;
    case EPROTOTYPE: return 10041;
    case ESHUTDOWN: return 10058;
    case ESOCKTNOSUPPORT: return 10044;
    case ETIMEDOUT: return 10060;
    case EAGAIN: return 10060; // a receive timeout reads as "timed out", as Winsock reports it
    case ENOMEM: return 8;
    default: return e;
    }
}

void SetErrorFromErrno() { t_lastError = WsaFromErrno(errno); }

// Resolver failures as the Winsock codes: host not found, try again, no recovery.
void SetResolveError(int rc) {
    t_lastError = (rc == EAI_NONAME || rc == EAI_NODATA) ? 11001 : rc == EAI_AGAIN ? 11002 : 11003;
}

} // namespace

bool SocketStartup() { return true; }
void SocketCleanup() {}

int LastSocketError() { return t_lastError; }

bool InetAddr(const std::string &dotted, uint32_t &address) {
    struct in_addr a;
    if (inet_pton(AF_INET, dotted.c_str(), &a) != 1) return false;
    address = a.s_addr;
    return true;
}

bool ResolveHostName(const std::string &host, uint32_t &address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *result = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &result);
    if (rc != 0 || !result) {
        SetResolveError(rc);
        return false;
    }
    address = reinterpret_cast<sockaddr_in *>(result->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(result);
    return true;
}

bool ResolveAll(const std::string &host, uint16_t port, std::vector<SocketAddress> &addresses) {
    addresses.clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo *result = nullptr;
    std::string service = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
    if (rc == EAI_NONAME || rc == EAI_ADDRFAMILY) {
        // AI_ADDRCONFIG hides loopback-only families; try once more without it.
        hints.ai_flags = 0;
        rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
    }
    if (rc != 0 || !result) {
        SetResolveError(rc);
        return false;
    }
    CollectAddresses(result, addresses);
    freeaddrinfo(result);
    if (addresses.empty()) t_lastError = 11004;
    return !addresses.empty();
}

bool ReverseLookup(uint32_t address) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    char host[NI_MAXHOST];
    int rc = getnameinfo(reinterpret_cast<sockaddr *>(&sa), sizeof sa, host, sizeof host, nullptr, 0, NI_NAMEREQD);
    if (rc != 0) {
        t_lastError = 11004;
        return false;
    }
    return true;
}

namespace {
// Commands and replies are small: holding a command back to coalesce it with
// the next only stalls the dialogue (40 ms a mail against a delayed ACK).
void NoDelay(int fd) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}
} // namespace

bool TcpSocket::Create() {
    Close();
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        SetErrorFromErrno();
        return false;
    }
    handle_ = fd;
    NoDelay(fd);
    return true;
}

bool TcpSocket::Create(const SocketAddress &forAddress) {
    Close();
    int fd = socket(forAddress.family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        SetErrorFromErrno();
        return false;
    }
    handle_ = fd;
    NoDelay(fd);
    return true;
}

namespace {
bool SetTimeout(intptr_t handle, int option, uint32_t milliseconds) {
    timeval tv;
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    if (setsockopt(int(handle), SOL_SOCKET, option, &tv, sizeof tv) != 0) {
        SetErrorFromErrno();
        return false;
    }
    return true;
}
} // namespace

bool TcpSocket::SetTimeouts(uint32_t milliseconds) {
    return SetTimeout(handle_, SO_SNDTIMEO, milliseconds) && SetTimeout(handle_, SO_RCVTIMEO, milliseconds);
}

bool TcpSocket::SetReceiveTimeout(uint32_t milliseconds) { return SetTimeout(handle_, SO_RCVTIMEO, milliseconds); }

namespace {
int IntOption(intptr_t handle, int option) {
    int value = 0;
    socklen_t len = sizeof value;
    if (getsockopt(int(handle), SOL_SOCKET, option, &value, &len) != 0 || len != sizeof value) return 0;
    return value;
}
} // namespace

int TcpSocket::SendBufferSize() const { return IntOption(handle_, SO_SNDBUF); }
int TcpSocket::ReceiveBufferSize() const { return IntOption(handle_, SO_RCVBUF); }

bool TcpSocket::Connect(uint32_t address, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = htons(port);
    for (;;) {
        if (connect(int(handle_), reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0) return true;
        if (errno == EINTR) continue;
        if (errno == EINPROGRESS) t_lastError = 10060; // timed out, as below
        else SetErrorFromErrno();
        return false;
    }
}

bool TcpSocket::Connect(const SocketAddress &address) {
    for (;;) {
        if (connect(int(handle_), reinterpret_cast<const sockaddr *>(address.storage), socklen_t(address.length)) == 0)
            return true;
        if (errno == EINTR) continue;
        // A blocking connect that outlasts the send timeout ends "in progress":
        // for the caller it timed out.
        if (errno == EINPROGRESS) t_lastError = 10060;
        else SetErrorFromErrno();
        return false;
    }
}

long TcpSocket::Send(const void *data, size_t length) {
    for (;;) {
        ssize_t n = send(int(handle_), data, length, MSG_NOSIGNAL);
        if (n >= 0) return long(n);
        if (errno == EINTR) continue;
        SetErrorFromErrno();
        return -1;
    }
}

long TcpSocket::Receive(void *buffer, size_t capacity) {
    for (;;) {
        ssize_t n = recv(int(handle_), buffer, capacity, 0);
        if (n >= 0) return long(n);
        if (errno == EINTR) continue;
        SetErrorFromErrno();
        return -1;
    }
}

void TcpSocket::ShutdownBoth() {
    if (handle_ >= 0) shutdown(int(handle_), SHUT_RDWR);
}

void TcpSocket::Close() {
    if (handle_ >= 0) close(int(handle_));
    handle_ = -1;
}

} // namespace kv::pal
