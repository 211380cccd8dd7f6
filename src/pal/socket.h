// Blocking IPv4 TCP sockets (Winsock 2 on Windows, BSD sockets elsewhere).
// Errors are reported as Winsock error codes on every platform, so one error
// text table serves both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

class TcpSocket {
  public:
    TcpSocket() = default;
    ~TcpSocket() { Close(); }
    TcpSocket(const TcpSocket &) = delete;
    TcpSocket &operator=(const TcpSocket &) = delete;

    bool Create();
    bool Valid() const { return handle_ >= 0; }
    bool SetTimeouts(uint32_t milliseconds); // send and receive
    // SO_SNDBUF / SO_RCVBUF, 0 when the query fails.
    int SendBufferSize() const;
    int ReceiveBufferSize() const;
    bool Connect(uint32_t address, uint16_t port);
    // Bytes accepted / received, or -1 with LastSocketError(); 0 from Receive: the peer closed.
    long Send(const void *data, size_t length);
    long Receive(void *buffer, size_t capacity);
    void ShutdownBoth();
    void Close();

  private:
    intptr_t handle_ = -1;
};

} // namespace kv::pal
