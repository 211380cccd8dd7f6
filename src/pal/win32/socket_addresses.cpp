// Resolution and connection for both address families on Winsock; beside
// socket.cpp so the IPv4 calls there stay as they are.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "pal/socket.h"
#include "pal/socket_addresses.inl"

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
    CollectAddresses(result, addresses);
    freeaddrinfo(result);
    if (addresses.empty()) WSASetLastError(WSANO_DATA);
    return !addresses.empty();
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
