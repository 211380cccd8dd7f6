// What the component's dialogs share on Windows: their resources in the user
// interface language, and the text of their controls.
#pragma once

#include <windows.h>

#include "runtime/kvstring.h"

namespace kv::ui {

// One of the component's resources ("MailEditor", "HTMLRBUTTONMENU") in the
// language its string table uses (FindResource alone would follow the
// thread's language), else in any language it has; nullptr when missing.
const void *UiResource(LPCSTR type, const char *name);
inline const DLGTEMPLATE *DialogTemplate(const char *name) {
    return static_cast<const DLGTEMPLATE *>(UiResource(MAKEINTRESOURCEA(5) /* RT_DIALOG */, name));
}

inline const wchar_t *Wide(const WString &text) { return reinterpret_cast<const wchar_t *>(text.c_str()); }
// The whole text of a window or control.
WString WindowText(HWND window);

} // namespace kv::ui
