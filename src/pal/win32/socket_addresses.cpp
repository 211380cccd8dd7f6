// Resolution and connection for both address families on Winsock; beside
// socket.cpp so the IPv4 calls there stay as they are.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "pal/socket.h"

namespace kv::pal {

void SetNoDelay(intptr_t handle); // socket.cpp

bool ResolveAll(const std::string &host, uint16_t port, std::vector<SocketAddress> &addresses) {
    addresses.clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo *result = nullptr;
    std::string service = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
    if (rc == WSAHOST_NOT_FOUND) {
        // AI_ADDRCONFIG hides loopback-only families; try once more without it.
        hints.ai_flags = 0;
        rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
    }
    if (rc != 0 || !result) {
        WSASetLastError(rc != 0 ? rc : WSANO_DATA);
        return false;
    }
    for (addrinfo *ai = result; ai; ai = ai->ai_next) {
        if ((ai->ai_family != AF_INET && ai->ai_family != AF_INET6) || ai->ai_addrlen > sizeof(SocketAddress::storage))
            continue;
        SocketAddress a;
        a.family = ai->ai_family;
        a.length = uint32_t(ai->ai_addrlen);
        std::memcpy(a.storage, ai->ai_addr, ai->ai_addrlen);
        addresses.push_back(a);
    }
    freeaddrinfo(result);
    if (addresses.empty()) WSASetLastError(WSANO_DATA);
    return !addresses.empty();
}

bool InetAddr6(const std::string &text, unsigned char address[16]) {
    return inet_pton(AF_INET6, text.c_str(), address) == 1;
}

std::string AddressText(const SocketAddress &address) {
    char text[INET6_ADDRSTRLEN] = "";
    const void *raw = address.family == AF_INET6
                          ? static_cast<const void *>(&reinterpret_cast<const sockaddr_in6 *>(address.storage)->sin6_addr)
                          : static_cast<const void *>(&reinterpret_cast<const sockaddr_in *>(address.storage)->sin_addr);
    if (!inet_ntop(address.family, raw, text, sizeof text)) return std::string();
    return text;
}

bool TcpSocket::Create(const SocketAddress &forAddress) {
    Close();
    SOCKET s = socket(forAddress.family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    handle_ = intptr_t(s);
    SetNoDelay(handle_);
    return true;
}

bool TcpSocket::Connect(const SocketAddress &address) {
    return connect(SOCKET(handle_), reinterpret_cast<const sockaddr *>(address.storage), int(address.length)) == 0;
}

} // namespace kv::pal
