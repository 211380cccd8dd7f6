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
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A TCP socket bound to a free loopback port, not yet listening.
inline int LoopbackSocket(uint16_t &port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    return s;
}

class ScriptServer {
  public:
    struct Step {
        enum Kind { Send, Drip, Expect, Pause, Close } kind;
        std::string data;
        int ms = 0;
    };

    ScriptServer() : listen_(LoopbackSocket(port_)) { listen(listen_, 4); }
    ~ScriptServer() {
        Stop();
        close(listen_);
    }

    ScriptServer &Send(std::string data) { return Add({Step::Send, std::move(data)}); }
    // One byte at a time, `ms` apart; the script ends when the client has gone.
    ScriptServer &Drip(std::string data, int ms) { return Add({Step::Drip, std::move(data), ms}); }
    // Waits until the client has sent exactly these bytes next (up to 5 s).
    ScriptServer &Expect(std::string data) { return Add({Step::Expect, std::move(data)}); }
    ScriptServer &Pause(int ms) { return Add({Step::Pause, {}, ms}); }
    ScriptServer &Close() { return Add({Step::Close, {}}); }

    void Start() {
        thread_ = std::thread([this] { Run(); });
    }
    // Waits for the script to end; true when every Expect matched.
    [[nodiscard]] bool Finish() {
        Stop();
        return ok_;
    }
    uint16_t Port() const { return port_; }
    const std::string &Received() const { return received_; }
    const std::string &Failure() const { return failure_; }

  private:
    ScriptServer &Add(Step s) {
        steps_.push_back(std::move(s));
        return *this;
    }
    void Stop() {
        if (thread_.joinable()) thread_.join();
    }
    bool ReadAtLeast(int fd, size_t total) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (received_.size() < total) {
            pollfd p{fd, POLLIN, 0};
            int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
            if (left <= 0 || poll(&p, 1, left) <= 0) return false;
            char buf[65536];
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return false;
            received_.append(buf, size_t(n));
        }
        return true;
    }
    void Run() {
        pollfd p{listen_, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) {
            ok_ = false;
            failure_ = "no client";
            return;
        }
        int fd = accept(listen_, nullptr, nullptr);
        size_t consumed = 0;
        for (const Step &s : steps_) {
            if (s.kind == Step::Send) {
                send(fd, s.data.data(), s.data.size(), MSG_NOSIGNAL);
            } else if (s.kind == Step::Drip) {
                size_t sent = 0;
                while (sent < s.data.size() && send(fd, &s.data[sent], 1, MSG_NOSIGNAL) == 1) {
                    ++sent;
                    std::this_thread::sleep_for(std::chrono::milliseconds(s.ms));
                }
                if (sent < s.data.size()) break;
            } else if (s.kind == Step::Pause) {
                std::this_thread::sleep_for(std::chrono::milliseconds(s.ms));
            } else if (s.kind == Step::Close) {
                break;
            } else {
                if (!ReadAtLeast(fd, consumed + s.data.size()) ||
                    received_.compare(consumed, s.data.size(), s.data) != 0) {
                    ok_ = false;
                    failure_ = "expected '" + s.data + "', got '" + received_.substr(consumed) + "'";
                    break;
                }
                consumed += s.data.size();
            }
        }
        close(fd);
    }

    uint16_t port_ = 0;
    int listen_ = -1;
    std::vector<Step> steps_;
    std::thread thread_;
    std::string received_;
    std::string failure_;
    bool ok_ = true;
};

// Queues a dialogue: what the client sends, what the server answers, in turn.
inline void Play(ScriptServer &server, const std::vector<std::string> &script) {
    for (size_t i = 0; i < script.size(); ++i) {
        if (i % 2 == 0)
            server.Expect(script[i]);
        else
            server.Send(script[i]);
    }
}

// A loopback port with nothing listening on it.
inline uint16_t ClosedPort() {
    uint16_t port = 0;
    close(LoopbackSocket(port));
    return port;
}

} // namespace testsupport
