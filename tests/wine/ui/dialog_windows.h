// How the dialog tests find and read the windows of the component's dialogs.
#pragma once

// windows.h first: commctrl.h needs its types.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace uitest {

inline std::wstring Text(HWND window) {
    wchar_t buffer[4096] = L"";
    SendMessageW(window, WM_GETTEXT, sizeof buffer / sizeof buffer[0], reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

struct Search { const wchar_t *windowClass; bool visibleOnly; std::vector<HWND> found; };

inline BOOL CALLBACK Collect(HWND window, LPARAM search) {
    auto *s = reinterpret_cast<Search *>(search);
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    if ((!s->visibleOnly || IsWindowVisible(window)) && std::wstring(name) == s->windowClass)
        s->found.push_back(window);
    return TRUE;
}

// The visible dialogs of a thread (thread != 0), or a parent's child windows of a class, shown or not.
inline std::vector<HWND> Windows(DWORD thread, HWND parent = nullptr, const wchar_t *windowClass = L"#32770") {
    Search s{windowClass, thread != 0, {}};
    if (thread) EnumThreadWindows(thread, &Collect, reinterpret_cast<LPARAM>(&s));
    else EnumChildWindows(parent, &Collect, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

inline HWND WaitFor(const std::function<HWND()> &find, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    do {
        if (HWND window = find()) return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < end);
    return nullptr;
}

inline RECT RectOf(HWND window) { RECT r{}; return GetWindowRect(window, &r), r; }

// A call that shows a modal dialog, made on a thread of its own as a host
// makes it, while the test's thread finds the dialog and drives it.
class DialogThread {
  public:
    explicit DialogThread(std::function<HRESULT()> call)
        : thread_([this, call] {
              threadId_ = GetCurrentThreadId();
              OleInitialize(nullptr);
              result_ = call();
              OleUninitialize();
              done_ = true;
          }) {}
    ~DialogThread() { Close(); }

    // The first visible dialog of the thread that `is` accepts (any without
    // it); null when none came within the limit or the call ended.
    HWND Find(const std::function<bool(HWND)> &is = nullptr,
              std::chrono::milliseconds limit = std::chrono::seconds(30)) const {
        auto first = [&]() -> HWND {
            for (HWND window : Windows(threadId_))
                if (!is || is(window)) return window;
            return done_ ? HWND(1) : nullptr;
        };
        HWND found = WaitFor(first, limit);
        return found == HWND(1) ? nullptr : found;
    }

    // The call's result once it returned; E_PENDING when it did not within a minute.
    HRESULT Finish() {
        if (!WaitFor([this] { return done_ ? HWND(1) : nullptr; }, std::chrono::seconds(60))) return E_PENDING;
        if (thread_.joinable()) thread_.join();
        return result_;
    }

    // Whatever is still open is closed: message boxes, review windows, then the dialog.
    void Close() {
        if (!thread_.joinable()) return;
        for (int i = 0; i < 300 && !done_; ++i) {
            for (HWND window : Windows(threadId_)) PostMessageW(window, WM_CLOSE, 0, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!done_) {
            ADD_FAILURE() << "the dialog did not close";
            std::fflush(nullptr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        thread_.join();
    }

  private:
    std::atomic<DWORD> threadId_{0};
    std::atomic<bool> done_{false};
    HRESULT result_ = E_PENDING;
    std::thread thread_; // last: it starts once the rest is set
};

} // namespace uitest
