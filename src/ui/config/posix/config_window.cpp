#include "ui/config/config_window.h"

namespace kv::ui {

HRESULT ShowConfigDialog(HWND, clsOptionList &, clsOptionList &, uint32_t) { return E_NOTIMPL; }

} // namespace kv::ui
