// A fast SMTP sink for the transport benchmark: answers every command, takes
// any data and throws it away, so that the clients, not the server, are measured.
// Usage: kv_bench_smtp_sink  (prints its port, serves until standard input closes)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

void Serve(int fd) {
    auto say = [fd](const char *text) { (void)!send(fd, text, std::strlen(text), MSG_NOSIGNAL); };
    say("220 sink ready\r\n");
    std::string pending;
    bool data = false;
    char buf[1 << 16];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
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
            std::string verb = line.substr(0, 4);
            for (char &c : verb) c = char(toupper(c));
            if (verb == "EHLO") say("250-sink\r\n250-8BITMIME\r\n250 SIZE 0\r\n");
            else if (verb == "DATA") say("354 go on\r\n"), data = true;
            else if (verb == "QUIT") {
                say("221 bye\r\n");
                close(fd);
                return;
            } else say("250 ok\r\n");
        }
    }
    close(fd);
}

} // namespace

int main() {
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
