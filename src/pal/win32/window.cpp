#include "pal/window.h"

#include <windows.h>

namespace kv::pal {

uintptr_t ActiveWindow() { return reinterpret_cast<uintptr_t>(GetActiveWindow()); }
bool IsWindowHandle(uintptr_t window) { return window && IsWindow(reinterpret_cast<HWND>(window)); }
void ShowErrorBox(uintptr_t owner, const std::string &text, const std::string &caption) {
    MessageBoxA(reinterpret_cast<HWND>(owner), text.c_str(), caption.c_str(), MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

} // namespace kv::pal
