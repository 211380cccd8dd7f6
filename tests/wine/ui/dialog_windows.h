// How the dialog tests find and read windows of the component's dialogs, as
// a user would see them.
#pragma once

#include <commctrl.h>
#include <windows.h>

#include <chrono>
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

struct Search {
    const wchar_t *windowClass;
    bool visibleOnly;
    std::vector<HWND> found;
};

inline BOOL CALLBACK Collect(HWND window, LPARAM search) {
    auto *s = reinterpret_cast<Search *>(search);
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    if ((!s->visibleOnly || IsWindowVisible(window)) && std::wstring(name) == s->windowClass)
        s->found.push_back(window);
    return TRUE;
}

// The visible dialogs of a thread (frames, review windows, message boxes).
inline std::vector<HWND> ThreadDialogs(DWORD thread) {
    Search s{L"#32770", true, {}};
    EnumThreadWindows(thread, &Collect, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// The child windows of a class, shown or not.
inline std::vector<HWND> Children(HWND parent, const wchar_t *windowClass) {
    Search s{windowClass, false, {}};
    EnumChildWindows(parent, &Collect, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

inline std::vector<std::wstring> TabTitles(HWND tabs) {
    std::vector<std::wstring> titles;
    for (LRESULT i = 0, count = SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0); i < count; ++i) {
        wchar_t text[128] = L"";
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = 128;
        SendMessageW(tabs, TCM_GETITEMW, WPARAM(i), reinterpret_cast<LPARAM>(&item));
        titles.push_back(text);
    }
    return titles;
}

// What `find` finds within `limit`, or null.
inline HWND WaitFor(const std::function<HWND()> &find, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    do {
        if (HWND window = find()) return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < end);
    return nullptr;
}

} // namespace uitest
