#include "pal/channel.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

#include "pal/system.h"

namespace kv::pal {

namespace {

const char kDefaultSlot[] = "\\\\.\\mailslot\\traxon";
// The viewer's shared block; its layout belongs to the viewer.
const char kSharedName[] = "TRAXONGlobalData";
const DWORD kSharedSize = 4096;

// Function-local: DllMain may run before namespace-scope objects exist.
struct ChannelState {
    std::mutex lock;
    std::string path;
    std::string tag = "orkv14";
    HANDLE slot = INVALID_HANDLE_VALUE;
    HANDLE shared = nullptr;
    bool failedOnce = false;
};
ChannelState &State() {
    static ChannelState state;
    return state;
}

std::string SlotName(const ChannelState &st) { return st.path.empty() ? kDefaultSlot : st.path; }

void CloseSlot(ChannelState &st) {
    if (st.slot != INVALID_HANDLE_VALUE) CloseHandle(st.slot);
    st.slot = INVALID_HANDLE_VALUE;
}

// The viewer may start after us: a missing mailslot is looked for again on the next record.
bool OpenSlot(ChannelState &st) {
    if (st.slot != INVALID_HANDLE_VALUE) return true;
    st.slot = CreateFileA(SlotName(st).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (st.slot == INVALID_HANDLE_VALUE) {
        if (!st.failedOnce) OutputDebugStringA("DebugPipe FAIL");
        st.failedOnce = true;
        return false;
    }
    return true;
}

std::string Stamp(const ChannelState &st) {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%-8s: %02u:%02u:%02u.%03u %08lx ", st.tag.c_str(), unsigned(t.wHour),
                  unsigned(t.wMinute), unsigned(t.wSecond), unsigned(t.wMilliseconds), GetCurrentThreadId());
    return buf;
}

void SendLocked(ChannelState &st, const std::string &text) {
    if (!OpenSlot(st)) return;
    std::string record = Stamp(st) + text;
    DWORD written = 0;
    if (!WriteFile(st.slot, record.data(), DWORD(record.size()), &written, nullptr) || written != record.size()) {
        OutputDebugStringA("TRAXON: cannot write data!");
        CloseSlot(st); // the viewer may have gone; reopen next time
    }
}

} // namespace

void ChannelOpen(const std::string &moduleTag) {
    ChannelState &st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    st.tag = moduleTag;
    st.failedOnce = false;
    if (!st.shared)
        st.shared = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSharedSize, kSharedName);
    SendLocked(st, "++" + moduleTag + " [" + ModulePath() + "]");
}

void ChannelClose() {
    ChannelState &st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    if (st.slot != INVALID_HANDLE_VALUE) SendLocked(st, "--" + st.tag + " [" + ModulePath() + "]");
    CloseSlot(st);
    if (st.shared) CloseHandle(st.shared);
    st.shared = nullptr;
}

void ChannelSend(const std::string &text) {
    ChannelState &st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    SendLocked(st, text);
}

void ChannelSetPath(const std::string &path) {
    ChannelState &st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    CloseSlot(st);
    st.path = path;
    st.failedOnce = false;
}

std::string ChannelPath() {
    ChannelState &st = State();
    std::lock_guard<std::mutex> guard(st.lock);
    return SlotName(st);
}

} // namespace kv::pal
