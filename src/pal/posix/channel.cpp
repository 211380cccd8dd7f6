#include "pal/channel.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "pal/system.h"

namespace kv::pal {

namespace {
std::mutex g_lock;
std::string g_path;
std::string g_tag = "orkv14";
int g_socket = -1;
bool g_failedOnce = false;

std::string DefaultPath() {
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = (runtime && *runtime) ? runtime : "/tmp";
    return dir + "/traxon.sock";
}

// Sends one datagram; the viewer may not be there, which is not an error of ours.
void SendRaw(const std::string &record) {
    if (g_socket < 0) {
        g_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (g_socket < 0) return;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = g_path.empty() ? DefaultPath() : g_path;
    if (path.size() >= sizeof addr.sun_path) return;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ssize_t n = sendto(g_socket, record.data(), record.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    if (n < 0) {
        if (errno == ENOENT || errno == ECONNREFUSED) {
            if (!g_failedOnce) DebugOutput("DebugPipe FAIL");
            g_failedOnce = true;
        } else {
            DebugOutput("TRAXON: cannot write data!");
        }
    }
}

std::string Stamp() {
    LocalTime t = GetLocalTime();
    char buf[96];
    std::snprintf(buf, sizeof buf, "%-8s: %02u:%02u:%02u.%03u %08x ", g_tag.c_str(), unsigned(t.hour),
                  unsigned(t.minute), unsigned(t.second), unsigned(t.millisecond), CurrentThreadId());
    return buf;
}
} // namespace

void ChannelOpen(const std::string &moduleTag) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_tag = moduleTag;
    g_failedOnce = false;
}

void ChannelClose() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_socket >= 0) close(g_socket);
    g_socket = -1;
}

void ChannelSend(const std::string &text) {
    std::lock_guard<std::mutex> guard(g_lock);
    SendRaw(Stamp() + text);
}

void ChannelSetPath(const std::string &path) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_path = path;
    g_failedOnce = false;
}

std::string ChannelPath() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_path.empty() ? DefaultPath() : g_path;
}

} // namespace kv::pal
