// A host's view of the component: the shared library loaded at run time and
// only the public header.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
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

#include "orkv14.h"

namespace host {

// The component loaded at run time, as a host loads it: LoadLibrary or dlopen.
struct Library {
    void *handle = nullptr;
    PFN_DllGetClassObject getClassObject = nullptr;
    PFN_DllCanUnloadNow canUnloadNow = nullptr;
    HRESULT(STDAPICALLTYPE *registerServer)(void) = nullptr;
    HRESULT(STDAPICALLTYPE *unregisterServer)(void) = nullptr;
    std::string error;

    Library() {
#ifdef _WIN32
        handle = reinterpret_cast<void *>(LoadLibraryA(KV_LIBRARY_PATH));
        if (!handle) error = "LoadLibrary failed: " + std::to_string(GetLastError());
#else
        handle = dlopen(KV_LIBRARY_PATH, RTLD_NOW);
        if (!handle) error = dlerror();
#endif
        if (!handle) return;
        getClassObject = reinterpret_cast<PFN_DllGetClassObject>(Symbol("DllGetClassObject"));
        canUnloadNow = reinterpret_cast<PFN_DllCanUnloadNow>(Symbol("DllCanUnloadNow"));
        registerServer = reinterpret_cast<decltype(registerServer)>(Symbol("DllRegisterServer"));
        unregisterServer = reinterpret_cast<decltype(unregisterServer)>(Symbol("DllUnregisterServer"));
    }
    ~Library() {
#ifdef _WIN32
        if (handle) FreeLibrary(static_cast<HMODULE>(handle));
#else
        if (handle) dlclose(handle);
#endif
    }
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;

    void *Symbol(const char *name) const {
#ifdef _WIN32
        return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle), name));
#else
        return dlsym(handle, name);
#endif
    }
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

inline std::string Utf8(const OLECHAR *s) {
    std::string r;
    if (!s) return r;
    for (; *s; ++s) r.push_back(*s < 0x80 ? char(*s) : '?');
    return r;
}

// Collects the log lines.
class Sink : public IKvLogSlot {
  public:
    std::vector<std::string> lines;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKvLogSlot)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE WriteLine(BSTR line) override {
        lines.push_back(Utf8(line));
        return S_OK;
    }
    ULONG refs = 1;
};

// Collects state events.
class Events : public IKvMailStateNotificationSlot {
  public:
    std::vector<std::pair<LONG, LONG>> seen;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKvMailStateNotificationSlot)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE NotifyConnectionState(LONG event, LONG detail) override {
        seen.emplace_back(event, detail);
        return S_OK;
    }
    ULONG refs = 1;
};

// The external viewer of the diagnostic channel: it owns the mailslot
// "\\.\mailslot\traxon" on Windows, the datagram socket
// $XDG_RUNTIME_DIR/traxon.sock elsewhere (pointed at a fresh directory here).
class ChannelViewer {
  public:
    ChannelViewer() {
#ifdef _WIN32
        slot_ = CreateMailslotA("\\\\.\\mailslot\\traxon", 0, 2000, nullptr);
#else
        char dir[] = "/tmp/kvchannelXXXXXX";
        if (!mkdtemp(dir)) return;
        dir_ = dir;
        if (const char *old = std::getenv("XDG_RUNTIME_DIR")) oldRuntimeDir_ = old, hadRuntimeDir_ = true;
        setenv("XDG_RUNTIME_DIR", dir, 1);
        socket_ = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::string path = dir_ + "/traxon.sock";
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        if (bind(socket_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
            close(socket_);
            socket_ = -1;
        }
        timeval tv{2, 0};
        if (socket_ >= 0) setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
#endif
    }
    ~ChannelViewer() {
#ifdef _WIN32
        if (slot_ != INVALID_HANDLE_VALUE) CloseHandle(slot_);
#else
        if (socket_ >= 0) close(socket_);
        if (!dir_.empty()) {
            unlink((dir_ + "/traxon.sock").c_str());
            rmdir(dir_.c_str());
        }
        if (hadRuntimeDir_) setenv("XDG_RUNTIME_DIR", oldRuntimeDir_.c_str(), 1);
        else unsetenv("XDG_RUNTIME_DIR");
#endif
    }
    ChannelViewer(const ChannelViewer &) = delete;
    ChannelViewer &operator=(const ChannelViewer &) = delete;

    bool Ready() const {
#ifdef _WIN32
        return slot_ != INVALID_HANDLE_VALUE;
#else
        return socket_ >= 0;
#endif
    }
    // One record; false when none arrives in time.
    bool Read(std::string &record) {
        char buffer[4096];
#ifdef _WIN32
        DWORD n = 0;
        if (!ReadFile(slot_, buffer, sizeof buffer, &n, nullptr)) return false;
#else
        ssize_t n = recv(socket_, buffer, sizeof buffer, 0);
        if (n < 0) return false;
#endif
        record.assign(buffer, size_t(n));
        return true;
    }

  private:
#ifdef _WIN32
    HANDLE slot_ = INVALID_HANDLE_VALUE;
#else
    int socket_ = -1;
    std::string dir_;
    std::string oldRuntimeDir_;
    bool hadRuntimeDir_ = false;
#endif
};

} // namespace host
