// A fast SMTP sink for the transport benchmark: answers every command, takes
// any data and throws it away, so that the clients, not the server, are measured.
// Usage: kv_bench_smtp_sink [CERT KEY]  (prints its port, serves until standard
// input closes). With a certificate and key (PEM) it offers STARTTLS (OpenSSL).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

SSL_CTX *g_tls = nullptr;

// The connection, in clear or, after STARTTLS, through OpenSSL.
class Peer {
  public:
    explicit Peer(int fd) : fd_(fd) {}
    ~Peer() {
        if (ssl_) {
            SSL_shutdown(ssl_);
            SSL_free(ssl_);
        }
        close(fd_);
    }
    long Read(char *buffer, size_t size) {
        if (!ssl_) return recv(fd_, buffer, size, 0);
        size_t got = 0;
        return SSL_read_ex(ssl_, buffer, size, &got) == 1 ? long(got) : -1;
    }
    void Say(const char *text) {
        size_t n = std::strlen(text);
        if (!ssl_) {
            (void)!send(fd_, text, n, MSG_NOSIGNAL);
            return;
        }
        size_t written = 0;
        SSL_write_ex(ssl_, text, n, &written);
    }
    bool StartTls() {
        ssl_ = SSL_new(g_tls);
        if (!ssl_) return false;
        SSL_set_fd(ssl_, fd_);
        return SSL_accept(ssl_) == 1;
    }
    bool Tls() const { return ssl_ != nullptr; }

  private:
    int fd_;
    SSL *ssl_ = nullptr;
};

void Serve(int fd) {
    Peer peer(fd);
    peer.Say("220 sink ready\r\n");
    std::string pending, replies;
    bool data = false;
    char buf[1 << 16];
    // Replies to pipelined commands leave together once the input read so far
    // is answered, as real servers do: one write each would meet Nagle's rule.
    auto say = [&](const char *text) { replies += text; };
    auto flush = [&] {
        if (!replies.empty()) peer.Say(replies.c_str());
        replies.clear();
    };
    for (;;) {
        flush();
        long n = peer.Read(buf, sizeof buf);
        if (n <= 0) break;
        pending.append(buf, size_t(n));
        for (;;) {
            if (data) {
                size_t end = pending.find("\r\n.\r\n");
                if (pending.compare(0, 3, ".\r\n") == 0) end = 0;
                else if (end != std::string::npos) end += 2;
                if (end == std::string::npos) {
                    // Keep only a tail that could still hold the terminator.
                    if (pending.size() > 4) pending.erase(0, pending.size() - 4);
                    break;
                }
                pending.erase(0, end + 3);
                data = false;
                say("250 accepted\r\n");
                continue;
            }
            size_t eol = pending.find("\r\n");
            if (eol == std::string::npos) break;
            std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 2);
            std::string verb = line.substr(0, 8);
            for (char &c : verb) c = char(toupper(c));
            if (verb.compare(0, 4, "EHLO") == 0) {
                // The extensions Postfix announces by default; a client may use them or not.
                say(g_tls && !peer.Tls()
                             ? "250-sink\r\n250-PIPELINING\r\n250-8BITMIME\r\n250-STARTTLS\r\n250 SIZE 0\r\n"
                             : "250-sink\r\n250-PIPELINING\r\n250-8BITMIME\r\n250 SIZE 0\r\n");
            } else if (verb == "STARTTLS" && g_tls && !peer.Tls()) {
                say("220 go ahead\r\n");
                flush();
                pending.clear();
                if (!peer.StartTls()) return;
            } else if (verb.compare(0, 4, "DATA") == 0) {
                say("354 go on\r\n");
                data = true;
            } else if (verb.compare(0, 4, "QUIT") == 0) {
                say("221 bye\r\n");
                flush();
                return;
            } else {
                say("250 ok\r\n");
            }
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 3) {
        g_tls = SSL_CTX_new(TLS_server_method());
        if (!g_tls || SSL_CTX_use_certificate_chain_file(g_tls, argv[1]) != 1 ||
            SSL_CTX_use_PrivateKey_file(g_tls, argv[2], SSL_FILETYPE_PEM) != 1) {
            ERR_print_errors_fp(stderr);
            return 1;
        }
    }
    int s = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(s, 16) != 0) return 1;
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    std::printf("%d\n", ntohs(a.sin_port));
    std::fflush(stdout);
    for (;;) {
        pollfd p[2] = {{s, POLLIN, 0}, {0, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) break;
        if (p[1].revents) break; // standard input closed: the benchmark is over
        if (p[0].revents) {
            int fd = accept(s, nullptr, nullptr);
            if (fd >= 0) std::thread(Serve, fd).detach();
        }
    }
    return 0;
}
