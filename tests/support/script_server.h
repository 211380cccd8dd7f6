// A scripted server on loopback for dialogue tests: it accepts one client and
// plays its steps in order (send bytes, drip them, expect bytes, pause, close),
// recording everything it received.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A TCP socket bound to a free loopback port, not yet listening.
inline int LoopbackSocket(uint16_t &port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    return s;
}

class ScriptServer {
  public:
    ScriptServer() : listen_(LoopbackSocket(port_)) { listen(listen_, 4); }
    ~ScriptServer() { Stop(), close(listen_); }

    ScriptServer &Send(std::string data) { return Add({kSend, std::move(data)}); }
    // One byte at a time, `ms` apart; the script ends when the client has gone.
    ScriptServer &Drip(std::string data, int ms) { return Add({kDrip, std::move(data), ms}); }
    // Waits until the client has sent exactly these bytes next (up to 5 s).
    ScriptServer &Expect(std::string data) { return Add({kExpect, std::move(data)}); }
    ScriptServer &Pause(int ms) { return Add({kPause, {}, ms}); }
    ScriptServer &Close() { return Add({kClose, {}}); }
    // A dialogue in turns: what the client sends, then the answer; `greet`: the server begins.
    ScriptServer &Play(const std::vector<std::string> &script, bool greet = false) {
        for (size_t i = 0; i < script.size(); ++i) (i % 2 == size_t(greet) ? Expect(script[i]) : Send(script[i]));
        return *this;
    }
    // Plays the dialogue, lingers for the client's last reads, and starts.
    void Serve(const std::vector<std::string> &script, bool greet = false) { Play(script, greet).Pause(50).Start(); }

    void Start() {
        thread_ = std::thread([this] { Run(); });
    }
    // Waits for the script to end; true when every Expect matched.
    [[nodiscard]] bool Finish() { return Stop(), failure_.empty(); }
    uint16_t Port() const { return port_; }
    const std::string &Received() const { return received_; }
    const std::string &Failure() const { return failure_; }

  private:
    enum Kind { kSend, kDrip, kExpect, kPause, kClose };
    struct Step {
        Kind kind;
        std::string data;
        int ms = 0;
    };
    ScriptServer &Add(Step s) { return steps_.push_back(std::move(s)), *this; }
    void Stop() { thread_.joinable() ? thread_.join() : void(); }
    bool ReadAtLeast(int fd, size_t total) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (received_.size() < total) {
            pollfd p{fd, POLLIN, 0};
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            char buf[65536];
            ssize_t n = left.count() > 0 && poll(&p, 1, int(left.count())) > 0 ? recv(fd, buf, sizeof buf, 0) : 0;
            if (n <= 0) return false;
            received_.append(buf, size_t(n));
        }
        return true;
    }
    void Run() {
        pollfd p{listen_, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) return void(failure_ = "no client");
        int fd = accept(listen_, nullptr, nullptr);
        size_t consumed = 0, sent = 0;
        for (const Step &s : steps_) {
            if (s.kind == kSend) send(fd, s.data.data(), s.data.size(), MSG_NOSIGNAL);
            if (s.kind == kPause) std::this_thread::sleep_for(std::chrono::milliseconds(s.ms));
            for (sent = 0; s.kind == kDrip && sent < s.data.size() && send(fd, &s.data[sent], 1, MSG_NOSIGNAL) == 1;
                 ++sent)
                std::this_thread::sleep_for(std::chrono::milliseconds(s.ms));
            if (s.kind == kClose || (s.kind == kDrip && sent < s.data.size())) break;
            if (s.kind != kExpect) continue;
            if (!ReadAtLeast(fd, consumed + s.data.size()) || received_.compare(consumed, s.data.size(), s.data) != 0) {
                failure_ = "expected '" + s.data + "', got '" + received_.substr(consumed) + "'";
                break;
            }
            consumed += s.data.size();
        }
        close(fd);
    }

    uint16_t port_ = 0;
    int listen_ = -1;
    std::vector<Step> steps_;
    std::thread thread_;
    std::string received_;
    std::string failure_;
};

// A loopback port with nothing listening on it.
inline uint16_t ClosedPort() {
    uint16_t port = 0;
    close(LoopbackSocket(port));
    return port;
}

} // namespace testsupport
