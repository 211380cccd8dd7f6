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

// Function-local: the library's attach may run before namespace-scope objects exist.
struct ChannelState {
    std::mutex lock;
    std::string path;
    std::string tag = "orkv14";
    int socket = -1;
    bool failedOnce = false;
};
ChannelState &State() {
    static ChannelState state;
    return state;
}

std::string DefaultPath() {
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = (runtime && *runtime) ? runtime : "/tmp";
    return dir + "/traxon.sock";
}

// Sends one datagram; the viewer may not be there, which is not an error of ours.
void SendRaw(ChannelState &st, const std::string &record) {
    if (st.socket < 0) {
        st.socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (st.socket < 0) return;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = st.path.empty() ? DefaultPath() : st.path;
    if (path.size() >= sizeof addr.sun_path) return;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ssize_t n = sendto(st.socket, record.data(), record.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    if (n < 0) {
        if (errno == ENOENT || errno == ECONNREFUSED) {
            // No viewer is the normal case here; standard error is the host's, not ours to fill.
            st.failedOnce = true;
        } else {
            DebugOutput("TRAXON: cannot write data!");
        }
    }
}

std::string Stamp(const ChannelState &st) {
    LocalTime t = GetLocalTime();
    char buf[96];
    std::snprintf(buf, sizeof buf, "%-8s: %02u:%02u:%02u.%03u %08x ", st.tag.c_str(), unsigned(t.hour),
                  unsigned(t.minute), unsigned(t.second), unsigned(t.millisecond), CurrentThreadId());
    return buf;
}
} // namespace

void ChannelOpen(const std::string &moduleTag) {
    ChannelState &st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    st.tag = moduleTag;
    st.failedOnce = false;
}

void ChannelClose() {
    ChannelState &st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    if (st.socket >= 0) close(st.socket);
    st.socket = -1;
}

void ChannelSend(const std::string &text) {
    ChannelState &st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    SendRaw(st, Stamp(st) + text);
}

void ChannelSetPath(const std::string &path) {
    ChannelState &st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    st.path = path;
    st.failedOnce = false;
}

std::string ChannelPath() {
    ChannelState &st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    return st.path.empty() ? DefaultPath() : st.path;
}

} // namespace kv::pal
