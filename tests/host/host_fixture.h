// A host's view of the component: the shared library loaded at run time and
// only the public header.
#pragma once

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#endif
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../support/dll_loader.h"
#include "../support/log_sink.h"
#include "orkv14.hpp"

namespace host {

// The component as the host loads it, from KV_LIBRARY_PATH.
struct Library : testsupport::Library {
    Library() : testsupport::Library(KV_LIBRARY_PATH) {}
};

// How the log writes a failed result: the system's text for the code, as the
// platform states it (Windows and Wine differ), or the bare code without one.
inline std::string ResultText(HRESULT hr) {
    std::string text;
#ifdef _WIN32
    char *buffer = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, DWORD(hr), 0, reinterpret_cast<char *>(&buffer), 0, nullptr);
    if (n && buffer) text.assign(buffer, n);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
#else
    if (hr == E_UNEXPECTED) text = "Catastrophic failure"; // the Windows wording the library carries
#endif
    char code[32];
    if (text.empty()) {
        std::snprintf(code, sizeof code, "(error code %#08lx)", (unsigned long)(uint32_t)hr);
        return code;
    }
    std::snprintf(code, sizeof code, " (%08lx)", (unsigned long)(uint32_t)hr);
    return text + code;
}

using orkv14::Utf8;

// The host's slots: each reference the component takes on them must come back.
struct Sink : testsupport::Counted<testsupport::LogSink> {
    Sink() : Counted(IID_IKvLogSlot) {}
};
struct Events : testsupport::Counted<testsupport::Events> {
    Events() : Counted(IID_IKvMailStateNotificationSlot) {}
};

// The external viewer of the diagnostic channel: it owns the mailslot
// "\\.\mailslot\traxon" on Windows, the datagram socket
// $XDG_RUNTIME_DIR/traxon.sock elsewhere (pointed at a fresh directory here).
// Read: one record; false when none arrives in time.
#ifdef _WIN32
class ChannelViewer {
  public:
    ChannelViewer() : slot_(CreateMailslotA("\\\\.\\mailslot\\traxon", 0, 2000, nullptr)) {}
    ~ChannelViewer() {
        if (Ready()) CloseHandle(slot_);
    }
    bool Ready() const { return slot_ != INVALID_HANDLE_VALUE; }
    bool Read(std::string &record) {
        char buffer[4096];
        DWORD n = 0;
        if (!ReadFile(slot_, buffer, sizeof buffer, &n, nullptr)) return false;
        record.assign(buffer, n);
        return true;
    }

  private:
    HANDLE slot_;
};
#else
class ChannelViewer {
  public:
    ChannelViewer() {
        char dir[] = "/tmp/kvchannelXXXXXX";
        if (!mkdtemp(dir)) return;
        dir_ = dir;
        setenv("XDG_RUNTIME_DIR", dir, 1); // the channel is looked for there; nothing else in this suite uses it
        socket_ = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::string path = dir_ + "/traxon.sock";
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        timeval tv{2, 0};
        if (bind(socket_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0)
            setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        else
            close(socket_), socket_ = -1;
    }
    ~ChannelViewer() {
        if (socket_ >= 0) close(socket_);
        if (!dir_.empty()) unlink((dir_ + "/traxon.sock").c_str()), rmdir(dir_.c_str());
    }
    bool Ready() const { return socket_ >= 0; }
    bool Read(std::string &record) {
        char buffer[4096];
        ssize_t n = recv(socket_, buffer, sizeof buffer, 0);
        if (n >= 0) record.assign(buffer, size_t(n));
        return n >= 0;
    }

  private:
    int socket_ = -1;
    std::string dir_;
};
#endif

} // namespace host
