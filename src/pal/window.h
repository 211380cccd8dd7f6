// The few window services the messaging providers need: the active window to
// own their dialogs, whether a kept window still exists, and a modal error box.
#pragma once

#include <cstdint>
#include <string>

namespace kv::pal {

// The active window of the calling thread (GetActiveWindow); 0 without one.
uintptr_t ActiveWindow();
// Whether the handle still names a window (IsWindow).
bool IsWindowHandle(uintptr_t window);
// A modal box with a stop icon, owned by the window (0: none); elsewhere the
// text goes to the debugger output.
void ShowErrorBox(uintptr_t owner, const std::string &text, const std::string &caption);

} // namespace kv::pal
