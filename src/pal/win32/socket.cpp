#include "pal/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace kv::pal {

namespace {
SOCKET S(intptr_t handle) { return SOCKET(handle); }
} // namespace

// Small commands and replies: no coalescing delay (as on POSIX).
void SetNoDelay(intptr_t handle) {
    BOOL one = TRUE;
    setsockopt(S(handle), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
}

bool SocketStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void SocketCleanup() { WSACleanup(); }

int LastSocketError() { return WSAGetLastError(); }

bool InetAddr(const std::string &dotted, uint32_t &address) {
    IN_ADDR a;
    if (inet_pton(AF_INET, dotted.c_str(), &a) != 1) return false;
    address = a.s_addr;
    return true;
}

bool ResolveHostName(const std::string &host, uint32_t &address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *result = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) return false;
    address = reinterpret_cast<sockaddr_in *>(result->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(result);
    return true;
}

bool ReverseLookup(uint32_t address) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    char host[NI_MAXHOST];
    return getnameinfo(reinterpret_cast<sockaddr *>(&sa), sizeof sa, host, sizeof host, nullptr, 0, NI_NAMEREQD) == 0;
}

bool TcpSocket::Create() {
    Close();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    handle_ = intptr_t(s);
    SetNoDelay(handle_);
    return true;
}

bool TcpSocket::SetTimeouts(uint32_t milliseconds) {
    DWORD ms = milliseconds;
    const char *v = reinterpret_cast<const char *>(&ms);
    return setsockopt(S(handle_), SOL_SOCKET, SO_SNDTIMEO, v, sizeof ms) == 0 &&
           setsockopt(S(handle_), SOL_SOCKET, SO_RCVTIMEO, v, sizeof ms) == 0;
}

bool TcpSocket::SetReceiveTimeout(uint32_t milliseconds) {
    DWORD ms = milliseconds;
    return setsockopt(S(handle_), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&ms), sizeof ms) == 0;
}

namespace {
int IntOption(intptr_t handle, int option) {
    int value = 0;
    int len = sizeof value;
    if (getsockopt(S(handle), SOL_SOCKET, option, reinterpret_cast<char *>(&value), &len) != 0 ||
        len != sizeof value)
        return 0;
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
    return connect(S(handle_), reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
}

long TcpSocket::Send(const void *data, size_t length) {
    int chunk = length > 0x7FFFFFFF ? 0x7FFFFFFF : int(length);
    int n = send(S(handle_), static_cast<const char *>(data), chunk, 0);
    return n == SOCKET_ERROR ? -1 : long(n);
}

long TcpSocket::Receive(void *buffer, size_t capacity) {
    int chunk = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : int(capacity);
    int n = recv(S(handle_), static_cast<char *>(buffer), chunk, 0);
    return n == SOCKET_ERROR ? -1 : long(n);
}

void TcpSocket::ShutdownBoth() {
    if (handle_ >= 0) shutdown(S(handle_), SD_BOTH);
}

void TcpSocket::Close() {
    if (handle_ >= 0) closesocket(S(handle_));
    handle_ = -1;
}

} // namespace kv::pal
