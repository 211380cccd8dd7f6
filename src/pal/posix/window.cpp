#include "pal/window.h"

#include "pal/system.h"

namespace kv::pal {

uintptr_t ActiveWindow() { return 0; }
bool IsWindowHandle(uintptr_t) { return false; }
void ShowErrorBox(uintptr_t, const std::string &text, const std::string &caption) { DebugOutput(caption + ": " + text); }

} // namespace kv::pal
