// What TLS costs the transports: bulk sending through clsSocket over loopback
// in clear and over TLS (OpenSSL's s_server as the peer), and a whole
// connection with its handshake. Certificates are made at start-up with the
// openssl command line.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "runtime/except.h"
#include "net/socket.h"

extern char **environ;

namespace {

constexpr size_t kBlock = 1 << 20;

uint16_t FreePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

bool WaitForPort(uint16_t port) {
    for (int i = 0; i < 200; ++i) {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        close(s);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

// openssl s_server discarding what it receives, for as long as the process runs.
class TlsSink {
  public:
    TlsSink() {
        char dir[] = "/tmp/kv-tlsbench-XXXXXX";
        if (!mkdtemp(dir)) return;
        dir_ = dir;
        std::string make = "/usr/bin/openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " +
                           dir_ + "/k.pem -out " + dir_ + "/c.pem -days 1 -subj /CN=localhost >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) return;
        port_ = FreePort();
        std::string accept = "127.0.0.1:" + std::to_string(port_);
        std::string cert = dir_ + "/c.pem", key = dir_ + "/k.pem";
        std::vector<std::string> argv = {"/usr/bin/openssl", "s_server", "-quiet", "-accept", accept, "-cert", cert,
                                         "-key", key};
        std::vector<char *> args;
        for (auto &a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (pid_ > 0 && !WaitForPort(port_)) port_ = 0;
    }
    ~TlsSink() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (!dir_.empty()) std::system(("rm -rf " + dir_).c_str());
    }
    uint16_t Port() const { return pid_ > 0 ? port_ : 0; }

  private:
    std::string dir_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

// A thread discarding what one client sends.
class PlainSink {
  public:
    PlainSink() {
        listen_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listen_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(listen_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
        listen(listen_, 1);
        thread_ = std::thread([this] {
            int fd = accept(listen_, nullptr, nullptr);
            std::vector<char> buffer(kBlock);
            while (recv(fd, buffer.data(), buffer.size(), 0) > 0) {
            }
            close(fd);
        });
    }
    ~PlainSink() {
        shutdown(listen_, SHUT_RDWR);
        close(listen_);
        thread_.join();
    }
    uint16_t Port() const { return port_; }

  private:
    int listen_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

kv::pal::TlsOptions Unverified() {
    kv::pal::TlsOptions options;
    options.host = "localhost";
    options.verify = false;
    return options;
}

void Send(benchmark::State &state, kv::clsSocket &socket) {
    std::string block(kBlock, 'x');
    for (auto _ : state) socket.SocketSend(block.data(), block.size());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBlock));
}

void BM_SendPlain(benchmark::State &state) {
    PlainSink sink;
    kv::clsSocket socket;
    socket.Connect("127.0.0.1", sink.Port(), 10000);
    Send(state, socket);
    socket.Disconnect();
}

void BM_SendTls(benchmark::State &state) {
    TlsSink sink;
    if (!sink.Port()) return state.SkipWithError("openssl s_server did not start");
    kv::clsSocket socket;
    socket.Connect("127.0.0.1", sink.Port(), 10000);
    try {
        socket.StartTls(Unverified());
    } catch (const kv::clsExcept &e) {
        return state.SkipWithError(e.Messages().front().c_str());
    }
    Send(state, socket);
    socket.Disconnect();
}

// Connect, handshake, close: what a short session pays for TLS.
void BM_ConnectWithHandshake(benchmark::State &state) {
    TlsSink sink;
    if (!sink.Port()) return state.SkipWithError("openssl s_server did not start");
    for (auto _ : state) {
        kv::clsSocket socket;
        socket.Connect("127.0.0.1", sink.Port(), 10000);
        socket.StartTls(Unverified());
        socket.Disconnect();
    }
}

} // namespace

BENCHMARK(BM_SendPlain)->UseRealTime();
BENCHMARK(BM_SendTls)->UseRealTime();
BENCHMARK(BM_ConnectWithHandshake)->UseRealTime()->Iterations(200);

BENCHMARK_MAIN();
