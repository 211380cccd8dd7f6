// The configuration dialog as ConfigDlg runs it: a Win32 window on Windows,
// nothing elsewhere.
#pragma once

#include <cstdint>

#include "pal/com.h"
#include "settings/option_list.h"

namespace kv::ui {

// The dialog runs modally over copies of the two lists, owned by parent. S_OK
// after OK (the fields replace entries of the same key), S_FALSE after Cancel
// (the lists unchanged), E_FAIL when the dialog could not be shown (its
// templates missing, or no window); E_NOTIMPL where there are no dialogs.
HRESULT ShowConfigDialog(HWND parent, clsOptionList &global, clsOptionList &user, uint32_t flags);

} // namespace kv::ui
