// Blocking TCP sockets over IPv4 and IPv6 (Winsock 2 on Windows, BSD sockets elsewhere).
// Errors are reported as Winsock error codes on every platform, so one error
// text table serves both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::pal {

// Starts the socket subsystem (WSAStartup); false when it cannot start.
bool SocketStartup();
void SocketCleanup();

// Resolution. Addresses are IPv4 in network byte order.
bool InetAddr(const std::string &dotted, uint32_t &address); // false: not a dotted address
bool ResolveHostName(const std::string &host, uint32_t &address);
bool ReverseLookup(uint32_t address);
// The Winsock code of the last failure of this thread's socket call.
int LastSocketError();

// One address of either family, as the resolver gives it (a sockaddr inside).
struct SocketAddress {
    int family = 0;
    uint32_t length = 0;
    alignas(8) unsigned char storage[128] = {};
};
// Every address of a host name or literal (IPv4 or IPv6) for a TCP port, in
// the resolver's order of preference (getaddrinfo); false with LastSocketError().
bool ResolveAll(const std::string &host, uint16_t port, std::vector<SocketAddress> &addresses);
// The 16 bytes of an IPv6 literal; false: not one.
bool InetAddr6(const std::string &text, unsigned char address[16]);
// "127.0.0.1" or "::1", for messages.
std::string AddressText(const SocketAddress &address);

class TcpSocket {
  public:
    TcpSocket() = default;
    ~TcpSocket() { Close(); }
    TcpSocket(const TcpSocket &) = delete;
    TcpSocket &operator=(const TcpSocket &) = delete;

    bool Create(); // IPv4
    bool Create(const SocketAddress &forAddress);
    bool Valid() const { return handle_ >= 0; }
    bool SetTimeouts(uint32_t milliseconds); // send and receive
    bool SetReceiveTimeout(uint32_t milliseconds);
    // SO_SNDBUF / SO_RCVBUF, 0 when the query fails.
    int SendBufferSize() const;
    int ReceiveBufferSize() const;
    bool Connect(uint32_t address, uint16_t port);
    bool Connect(const SocketAddress &address);
    // Bytes accepted / received, or -1 with LastSocketError(); 0 from Receive: the peer closed.
    long Send(const void *data, size_t length);
    long Receive(void *buffer, size_t capacity);
    void ShutdownBoth();
    void Close();

  private:
    intptr_t handle_ = -1;
};

} // namespace kv::pal
